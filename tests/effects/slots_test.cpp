// Effect slots: the draw, the envelope's shape and the table from effect
// index to shader field, checked against worked values.
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "effects/slots.h"
#include "sys/test_random.h"

namespace quelltrine {
namespace {

constexpr double kInterval = 14.0;

// The eleven slot fields, in effect-index order 1..11.
std::array<float*, 11> slotFields(Uniforms& u) {
  return {&u.liquid, &u.kaleido, &u.tunnel, &u.wave, &u.boxinator, &u.checker,
          &u.heat, &u.emboss, &u.pixelate, &u.edgeAmt, &u.lensAmt};
}

void fillSlotFields(Uniforms& u, float v) {
  for (float* f : slotFields(u)) *f = v;
}

TEST(SlotEnvelope, RisesHoldsAndFalls) {
  EXPECT_EQ(slotEnvelope(0.0), 0.0f);
  EXPECT_FLOAT_EQ(slotEnvelope(0.1), 0.5f);
  EXPECT_EQ(slotEnvelope(0.2), 1.0f);
  EXPECT_EQ(slotEnvelope(0.5), 1.0f);
  EXPECT_EQ(slotEnvelope(0.78), 1.0f);
  EXPECT_FLOAT_EQ(slotEnvelope(0.88), 0.5f);
  EXPECT_EQ(slotEnvelope(0.98), 0.0f);
  EXPECT_EQ(slotEnvelope(1.0), 0.0f);
  EXPECT_EQ(slotEnvelope(40.0), 0.0f);
  // Strictly inside the ramps it is neither 0 nor 1.
  EXPECT_GT(slotEnvelope(0.01), 0.0f);
  EXPECT_LT(slotEnvelope(0.19), 1.0f);
  EXPECT_GT(slotEnvelope(0.97), 0.0f);
  EXPECT_LT(slotEnvelope(0.79), 1.0f);
}

TEST(SlotEnvelope, NegativeAndNaNPhasesGiveZero) {
  EXPECT_EQ(slotEnvelope(-0.5), 0.0f);
  EXPECT_EQ(slotEnvelope(std::numeric_limits<double>::quiet_NaN()), 0.0f);
  EXPECT_EQ(slotEnvelope(-std::numeric_limits<double>::infinity()), 0.0f);
  EXPECT_EQ(slotEnvelope(std::numeric_limits<double>::infinity()), 0.0f);
}

TEST(SlotStep, LiquidFollowsTheEnvelopeOverTheDefaultSlot) {
  SlotState s{1, false, 100.0};
  const struct { double p; float liquid; } cases[] = {
      {0.0, 0.0f}, {0.1, 0.275f}, {0.2, 0.55f}, {0.5, 0.55f}, {0.78, 0.55f},
      {0.88, 0.275f}, {0.98, 0.0f}, {0.999, 0.0f}};
  for (const auto& c : cases) {
    Uniforms u;
    applySlotStep(u, s, 100.0 + c.p * kInterval, kInterval);
    EXPECT_NEAR(u.liquid, c.liquid, 1e-6) << "p " << c.p;
  }
}

TEST(SlotStep, EachEffectDrivesExactlyItsOwnField) {
  const std::array<float, 10> factor{0.55f, 0.5f, 0.45f, 0.4f, 0.4f, 0.45f, 0.6f, 0.55f, 0.35f, 0.4f};
  for (std::int64_t effect = 1; effect <= 10; ++effect) {
    Uniforms u;
    fillSlotFields(u, 99.0f);  // a previous slot's leftovers
    applySlotStep(u, SlotState{effect, false, 0.0}, 0.5 * kInterval, kInterval);
    auto fields = slotFields(u);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const float want = (static_cast<std::int64_t>(i) + 1 == effect) ? factor[i] : 0.0f;
      EXPECT_EQ(*fields[i], want) << "effect " << effect << " field " << i + 1;
    }
  }
}

TEST(SlotStep, NoEffectOrOutOfRangeClearsAllAndStillMirrors) {
  for (std::int64_t effect : {std::int64_t{0}, std::int64_t{12}, std::int64_t{-1}}) {
    for (bool mirror : {false, true}) {
      Uniforms u;
      fillSlotFields(u, 5.0f);
      applySlotStep(u, SlotState{effect, mirror, 0.0}, 0.5 * kInterval, kInterval);
      for (float* f : slotFields(u)) EXPECT_EQ(*f, 0.0f) << "effect " << effect;
      EXPECT_EQ(u.mirrorOn, mirror ? 1.0f : 0.0f);
    }
  }
}

TEST(SlotStep, LensSwingsWithTheClockAndGoesNegative) {
  Uniforms u;
  u.time = 10.0f;
  applySlotStep(u, SlotState{11, false, 0.0}, 0.5 * kInterval, kInterval);
  EXPECT_NEAR(u.lensAmt, 0.04234f, 0.000005f);
  u.time = 15.0f;
  applySlotStep(u, SlotState{11, false, 0.0}, 0.5 * kInterval, kInterval);
  EXPECT_NEAR(u.lensAmt, -0.2933f, 0.00005f);
  // Half envelope halves it.
  applySlotStep(u, SlotState{11, false, 0.0}, 0.1 * kInterval, kInterval);
  EXPECT_NEAR(u.lensAmt, -0.2933f / 2, 0.00005f);
}

TEST(SlotStep, ShortIntervalRisesOverItsFirstFifth) {
  Uniforms u;
  applySlotStep(u, SlotState{2, false, 0.0}, 0.25, 2.5);
  EXPECT_NEAR(u.kaleido, 0.25f, 1e-6);
  applySlotStep(u, SlotState{2, false, 0.0}, 0.5, 2.5);
  EXPECT_EQ(u.kaleido, 0.5f);
  EXPECT_DOUBLE_EQ(slotPhase(1.25, 0.0, 2.5), 0.5);
}

TEST(PickSlotEffect, TakesEffectThenMirrorFromFreshWords) {
  // 12 * 2^62 = 3 * 2^64: high word 2 with a low half of 0, which is below
  // the rejection threshold (2^64 mod 12 = 4), so the first word is
  // rejected; the second gives effect 11.
  qtest::ScriptedRandom rng({std::uint64_t{1} << 62, ~std::uint64_t{0}, 0x20000u});
  SlotState s;
  pickSlotEffect(s, 42.5, rng);
  EXPECT_EQ(s.slotEffect, 11);
  EXPECT_FALSE(s.slotMirror);  // bit 17 set
  EXPECT_EQ(s.slotStart, 42.5);
  EXPECT_EQ(rng.taken(), 3u);

  qtest::ScriptedRandom rng2({(std::uint64_t{1} << 63) + 1, ~std::uint64_t{0x20000}});
  pickSlotEffect(s, 7.0, rng2);
  EXPECT_EQ(s.slotEffect, 6);
  EXPECT_TRUE(s.slotMirror);  // only bit 17 clear
  EXPECT_EQ(s.slotStart, 7.0);
}

TEST(PickSlotEffect, EffectsAreUniformAndMirrorIsFair) {
  // Chi-square with 11 degrees of freedom: 48.87 is exceeded with
  // probability 1e-6 by a correct draw.
  constexpr int kDraws = 120000;
  qtest::SeededRandom rng(0x51075107ull);
  std::array<int, 12> counts{};
  int mirrored = 0;
  SlotState s;
  for (int i = 0; i < kDraws; ++i) {
    pickSlotEffect(s, 0.0, rng);
    ASSERT_GE(s.slotEffect, 0);
    ASSERT_LT(s.slotEffect, 12);
    ++counts[static_cast<std::size_t>(s.slotEffect)];
    mirrored += s.slotMirror ? 1 : 0;
  }
  const double expected = kDraws / 12.0;
  double chi2 = 0.0;
  for (int c : counts) chi2 += (c - expected) * (c - expected) / expected;
  EXPECT_LT(chi2, 48.87);
  // Binomial(120000, 1/2): sd 173; 5 sd is far below a one-in-a-million miss.
  EXPECT_NEAR(mirrored, kDraws / 2, 5 * 173);
}

}  // namespace
}  // namespace quelltrine
