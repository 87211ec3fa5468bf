#include "effects/slots.h"

#include <cmath>

#include "effects/slot_amounts.h"

namespace quelltrine {

static_assert(kSlotAmounts.size() == kSlotEffectCount - 1, "effects 1 .. 11 each drive one field");

namespace {

// s = (x - a) / (b - a) clamped to [0, 1]; a NaN or negative quotient is 0.
double smoothstep(double a, double b, double x) {
  double s = (x - a) / (b - a);
  if (!(s > 0.0)) s = 0.0;
  if (s > 1.0) s = 1.0;
  return s * s * (3.0 - 2.0 * s);
}

}  // namespace

void pickSlotEffect(SlotState& s, double t, plat::sys::RandomSource& rng) {
  s.slotEffect = static_cast<std::int64_t>(plat::sys::uniformBelow(rng, kSlotEffectCount));
  s.slotMirror = (rng.next64() & 0x20000u) == 0;
  s.slotStart = t;
}

double slotPhase(double t, double slotStart, double interval) {
  return (t - slotStart) / interval;
}

float slotEnvelope(double p) {
  // The fall's divisor is 0.98 - 0.78 as computed in double
  // (0.19999999999999996), which smoothstep forms from its bounds.
  const double e = smoothstep(0.0, 0.2, p) * (1.0 - smoothstep(0.78, 0.98, p));
  return static_cast<float>(e);
}

void applySlotStep(Uniforms& u, const SlotState& s, double t, double interval) {
  u.mirrorOn = s.slotMirror ? 1.0f : 0.0f;
  const float e = slotEnvelope(slotPhase(t, s.slotStart, interval));

  // Every frame clears all eleven, so a change of effect never leaves the
  // previous slot's field behind.
  for (const SlotAmount& a : kSlotAmounts) u.*a.member = 0.0f;
  if (s.slotEffect < 1 || s.slotEffect > static_cast<std::int64_t>(kSlotAmounts.size())) return;

  const SlotAmount& a = kSlotAmounts[static_cast<std::size_t>(s.slotEffect - 1)];
  float amount = a.full * e;
  // The lens swings with the clock, not with the slot; the amount times the
  // envelope is formed first.
  if (a.member == &Uniforms::lensAmt) amount = std::sin(0.3f * u.time) * amount;
  u.*a.member = amount;
}

}  // namespace quelltrine
