#include "effects/slots.h"

#include <cmath>

namespace quelltrine {

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
  u.lensAmt = 0.0f;
  u.edgeAmt = 0.0f;
  u.kaleido = 0.0f;
  u.tunnel = 0.0f;
  u.pixelate = 0.0f;
  u.liquid = 0.0f;
  u.heat = 0.0f;
  u.wave = 0.0f;
  u.boxinator = 0.0f;
  u.emboss = 0.0f;
  u.checker = 0.0f;

  switch (s.slotEffect) {
    case 1: u.liquid = 0.55f * e; break;
    case 2: u.kaleido = 0.5f * e; break;
    case 3: u.tunnel = 0.45f * e; break;
    case 4: u.wave = 0.4f * e; break;
    case 5: u.boxinator = 0.4f * e; break;
    case 6: u.checker = 0.45f * e; break;
    case 7: u.heat = 0.6f * e; break;
    case 8: u.emboss = 0.55f * e; break;
    case 9: u.pixelate = 0.35f * e; break;
    case 10: u.edgeAmt = 0.4f * e; break;
    // Swings with the clock, not with the slot; 0.3 * e is formed first.
    case 11: u.lensAmt = std::sin(0.3f * u.time) * (0.3f * e); break;
    default: break;
  }
}

}  // namespace quelltrine
