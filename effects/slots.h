// Effect slots: the time of each picture is one slot, for which one of twelve
// effects (0 = none, 1..11 = one shader field each) and a mirror flag are
// drawn at random. The effect's strength follows an envelope over the slot
// phase. This file owns the draw, the phase and the envelope; the table from
// effect index to field and amount is slot_amounts.h. The frame step decides
// when a slot ends and where the slot length comes from.
#pragma once

#include <cstdint>

#include "effects/uniforms.h"
#include "platform/sys/random.h"

namespace quelltrine {

inline constexpr std::int64_t kSlotEffectCount = 12;

struct SlotState {
  std::int64_t slotEffect = 0;  // 0 .. 11; anything else drives no field
  bool slotMirror = false;
  double slotStart = 0.0;       // clock value at which the slot began
};

// Draws a new slot starting at clock value t: an unbiased effect index below
// 12, then a mirror flag from a fresh word (set when bit 17 is clear).
void pickSlotEffect(SlotState& s, double t, plat::sys::RandomSource& rng);

// (t - slotStart) / interval: 0 at the slot's start, 1 when it is due to end.
double slotPhase(double t, double slotStart, double interval);

// smoothstep(0, 0.2, p) * (1 - smoothstep(0.78, 0.98, p)) in double, then
// rounded to float. Rises over the first fifth of the slot, holds at 1 up to
// p = 0.78 and is gone at p = 0.98. A NaN phase gives 0.
float slotEnvelope(double p);

// The per-frame slot step: mirrorOn from the slot, all eleven slot fields
// cleared, then the active one written from the envelope. Effect 11 reads
// u.time, so the caller writes time before this step.
void applySlotStep(Uniforms& u, const SlotState& s, double t, double interval);

}  // namespace quelltrine
