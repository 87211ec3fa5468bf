// The slot-independent parameters against worked values, and the cross-fade
// ramp over the end of a slot.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "effects/frame_params.h"
#include "effects/slots.h"

namespace quelltrine {
namespace {

// Four significant digits.
void expectSig4(float got, double want, const char* name) {
  const double tol = want == 0.0 ? 1e-9 : std::fabs(want) * 5e-4;
  EXPECT_NEAR(got, want, tol) << name;
}

TEST(SlotIndependent, WorkedValuesAtTimeZero) {
  Uniforms u;
  writeSlotIndependent(u, 0.0f);
  expectSig4(u.displaceAmt, 0.014, "displaceAmt");
  expectSig4(u.zoom, 1.01, "zoom");
  expectSig4(u.glow, 0.23, "glow");
  expectSig4(u.swayY, 0.00595, "swayY");
  expectSig4(u.pump, 0.06, "pump");
  EXPECT_EQ(u.rotate, 0.0f);
  EXPECT_EQ(u.hueShift, 0.0f);
  EXPECT_EQ(u.sway, 0.0f);
  EXPECT_EQ(u.spin, 0.0f);
}

TEST(SlotIndependent, WorkedValuesAtTimeTen) {
  Uniforms u;
  writeSlotIndependent(u, 10.0f);
  EXPECT_EQ(u.time, 10.0f);
  expectSig4(u.rotate, 0.001417, "rotate");
  expectSig4(u.displaceAmt, 0.01592, "displaceAmt");
  expectSig4(u.zoom, 1.014, "zoom");
  expectSig4(u.glow, 0.2732, "glow");
  expectSig4(u.hueShift, 0.04537, "hueShift");
  expectSig4(u.sway, 0.007833, "sway");
  expectSig4(u.swayY, 0.0008467, "swayY");
  expectSig4(u.spin, 0.02980, "spin");
  expectSig4(u.pump, 0.04045, "pump");
}

TEST(SlotIndependent, ReplacesDefaultsWithFrameConstantsAndLeavesTheRest) {
  Uniforms u;
  writeSlotIndependent(u, 123.0f);
  EXPECT_EQ(u.feedbackAmt, 0.86f);
  EXPECT_EQ(u.contrast, 1.12f);
  EXPECT_EQ(u.echo, 0.35f);
  EXPECT_EQ(u.noiseScale, 3.0f);
  EXPECT_EQ(u.noiseSpeed, 0.06f);
  EXPECT_EQ(u.layers, 1.0f);
  // Fields with no writer keep their defaults.
  EXPECT_EQ(u.mixAB, 0.5f);
  EXPECT_EQ(u.opacC, 0.6f);
  EXPECT_EQ(u.layerCount, 2.0f);
  EXPECT_EQ(u.implodeZoom, 1.0f);
  EXPECT_EQ(u.liquid, 0.0f);
  EXPECT_EQ(u.opacB, 0.0f);
}

TEST(SlotIndependent, UsesSinglePrecisionInTableOrder) {
  // Recomputed in double, displaceAmt would differ in the last bits for
  // most clock values; the float expression must match exactly.
  for (float time : {0.0f, 1.0f, 10.0f, 777.25f, 524288.0f}) {
    Uniforms u;
    writeSlotIndependent(u, time);
    const float want = (0.5f * std::sin(0.05f * time) + 0.5f) * 0.008f + 0.01f;
    EXPECT_EQ(u.displaceAmt, want) << time;
    EXPECT_EQ(u.swayY, 0.006f * std::sin(0.13f * time + 1.7f)) << time;
  }
}

TEST(CrossFade, RampsOverTheLastTwoAndAHalfSeconds) {
  const double start = 50.0;
  const struct { double at; float opac; } cases[] = {
      {0.0, 0.0f}, {11.0, 0.0f}, {11.5, 0.0f}, {12.75, 0.5f}, {14.0, 1.0f}, {16.0, 1.0f}};
  for (const auto& c : cases) {
    Uniforms u;
    u.blendB = 3.0f;
    applyCrossFade(u, start + c.at, start, 14.0);
    EXPECT_FLOAT_EQ(u.opacB, c.opac) << c.at;
    // blendB is zeroed inside the fade window only.
    EXPECT_EQ(u.blendB, c.at > 11.5 ? 0.0f : 3.0f) << c.at;
  }
}

TEST(CrossFade, ShortIntervalStartsAboveZeroAtTheSlotStart) {
  Uniforms u;
  applyCrossFade(u, 0.0, 0.0, 2.2);
  EXPECT_GT(u.opacB, 0.0f);
  EXPECT_NEAR(u.opacB, 0.3 / 2.5, 1e-6);
  applyCrossFade(u, 2.2, 0.0, 2.2);
  EXPECT_EQ(u.opacB, 1.0f);
}

TEST(SlotEnd, AtOrAfterStartPlusInterval) {
  EXPECT_FALSE(slotHasEnded(13.99, 0.0, 14.0));
  EXPECT_TRUE(slotHasEnded(14.0, 0.0, 14.0));
  EXPECT_TRUE(slotHasEnded(14.02, 0.0, 14.0));
  // A shortened interval ends a running slot at once.
  EXPECT_TRUE(slotHasEnded(10.0, 0.0, 5.0));
}

TEST(SlotEnd, TheEndingFrameCarriesAZeroEnvelope) {
  // The frame that ends a slot still runs the slot step with the old slot:
  // its envelope is already zero, so the picture change shows no effect.
  for (double t = 0.0; t < 20.0; t += 1.0 / 30.0) {
    if (slotHasEnded(t, 0.0, 14.0)) {
      Uniforms u;
      applySlotStep(u, SlotState{1, true, 0.0}, t, 14.0);
      EXPECT_EQ(u.liquid, 0.0f);
      EXPECT_EQ(u.mirrorOn, 1.0f);
      return;
    }
  }
  FAIL() << "the slot never ended";
}

}  // namespace
}  // namespace quelltrine
