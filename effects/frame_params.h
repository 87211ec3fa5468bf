// The slot-independent part of the per-frame parameter step: the slow sine
// drifts and fixed values written from the clock, the cross-fade of the next
// picture over the last 2.5 s of a slot, and the end-of-slot test. The slot
// step itself is in slots.h; advancing the pictures and drawing a new slot at
// the end is the caller's.
#pragma once

#include "effects/uniforms.h"

namespace quelltrine {

// Length of the cross-fade at the end of each slot, in seconds.
inline constexpr double kCrossFadeSeconds = 2.5;

// Writes `time` and the fifteen slot-independent fields, all in single
// precision with single-precision sines, in the exact operation order of the
// parameter table (the shaders' look was tuned against these roundings).
void writeSlotIndependent(Uniforms& u, float time);

// fadeStart = slotStart + interval - 2.5. After it: blendB = 0 and opacB
// rises linearly to 1 (held at 1 if the slot overruns). Before it: opacB = 0
// and blendB is left as it is.
void applyCrossFade(Uniforms& u, double t, double slotStart, double interval);

// True in the first frame with t >= slotStart + interval.
bool slotHasEnded(double t, double slotStart, double interval);

}  // namespace quelltrine
