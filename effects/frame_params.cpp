#include "effects/frame_params.h"

#include <algorithm>
#include <cmath>

namespace quelltrine {

void writeSlotIndependent(Uniforms& u, float time) {
  // std::sin(float) is the single-precision sine. Keep each expression as
  // written: reassociating changes the last bits the shaders see.
  u.time = time;
  u.feedbackAmt = 0.86f;
  u.rotate = 0.0022f * std::sin(0.07f * time);
  u.displaceAmt = (0.5f * std::sin(0.05f * time) + 0.5f) * 0.008f + 0.01f;
  u.zoom = 0.004f * std::sin(0.11f * time) + 1.01f;
  u.noiseScale = 3.0f;
  u.noiseSpeed = 0.06f;
  u.echo = 0.35f;
  u.glow = (0.5f * std::sin(0.21f * time) + 0.5f) * 0.1f + 0.18f;
  u.contrast = 1.12f;
  u.hueShift = 0.35f * std::sin(0.013f * time);
  u.sway = 0.01f * std::sin(0.09f * time);
  u.swayY = 0.006f * std::sin(0.13f * time + 1.7f);
  u.spin = 0.15f * std::sin(0.02f * time);
  u.pump = (0.5f * std::sin(0.45f * time) + 0.5f) * 0.04f + 0.04f;
  u.layers = 1.0f;
}

void applyCrossFade(Uniforms& u, double t, double slotStart, double interval) {
  const double fadeStart = slotStart + interval - kCrossFadeSeconds;
  if (t > fadeStart) {
    u.blendB = 0.0f;
    u.opacB = static_cast<float>(std::min((t - fadeStart) / kCrossFadeSeconds, 1.0));
  } else {
    u.opacB = 0.0f;
  }
}

bool slotHasEnded(double t, double slotStart, double interval) {
  return t >= slotStart + interval;
}

}  // namespace quelltrine
