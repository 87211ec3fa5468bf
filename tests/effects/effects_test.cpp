// The parameter block's byte image, the slot draw and envelope, the per-frame steps.
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "effects/frame_params.h"
#include "effects/slot_amounts.h"
#include "effects/slots.h"
#include "sys/test_random.h"

namespace quelltrine {
namespace {

constexpr double kInterval = 14.0;

std::array<float*, 11> slotFields(Uniforms& u) {  // in effect-index order 1..11
  return {&u.liquid, &u.kaleido, &u.tunnel, &u.wave, &u.boxinator, &u.checker,
          &u.heat, &u.emboss, &u.pixelate, &u.edgeAmt, &u.lensAmt};
}

TEST(Uniforms, NewBlockIsFourteenDefaultsAtFixedOffsetsAndZeroBytes) {  // the shader library reads these bytes
  const std::map<std::size_t, float> defaults{{4, 0.5f}, {8, 0.9f}, {12, 0.02f}, {16, 1.01f}, {24, 3.0f}, {28, 0.06f},
      {48, 1.1f}, {60, 1.0f}, {68, 1.0f}, {84, 1.0f}, {136, 2.0f}, {144, 0.6f}, {152, 0.6f}, {180, 1.0f}};
  Uniforms u;
  std::array<unsigned char, 196> want{};
  ASSERT_EQ(sizeof(Uniforms), want.size());
  for (const auto& [off, v] : defaults) std::memcpy(want.data() + off, &v, sizeof v);
  EXPECT_EQ(std::memcmp(u.bytes(), want.data(), want.size()), 0);
}

TEST(SlotStep, EnvelopeRisesHoldsFallsAndEachEffectDrivesOnlyItsOwnField) {
  for (const auto& [p, e] : std::vector<std::pair<double, float>>{
           {0.0, 0.0f}, {0.1, 0.5f}, {0.2, 1.0f}, {0.78, 1.0f}, {0.88, 0.5f}, {0.98, 0.0f}, {40.0, 0.0f},
           {-0.5, 0.0f}, {std::nan(""), 0.0f}, {HUGE_VAL, 0.0f}})
    EXPECT_NEAR(slotEnvelope(p), e, 1e-6) << p;
  // The table's amount at full envelope (p = 0.5), half of it at p = 0.1.
  for (std::int64_t effect : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12})
    for (const auto& [p, e] : {std::pair{0.5, 1.0f}, {0.1, 0.5f}}) {
      Uniforms u;
      for (float* f : slotFields(u)) *f = 99.0f;  // a previous slot's leftovers
      applySlotStep(u, SlotState{effect, effect % 2 == 0, 0.0}, p * kInterval, kInterval);
      const auto fields = slotFields(u);
      for (std::size_t i = 0; i < fields.size(); ++i)
        EXPECT_EQ(*fields[i], static_cast<std::int64_t>(i) + 1 == effect ? kSlotAmounts[i].full * e : 0.0f)
            << effect << " " << i + 1 << " at " << p;
      EXPECT_EQ(u.mirrorOn, effect % 2 == 0 ? 1.0f : 0.0f);
    }
  Uniforms u;  // liquid follows the envelope over a slot that starts at 100
  applySlotStep(u, SlotState{1, false, 100.0}, 100.0 + 0.88 * kInterval, kInterval);
  EXPECT_NEAR(u.liquid, 0.275f, 1e-6);
  for (const auto& [time, p, lens] : {std::tuple{10.0f, 0.5, 0.04234f}, {15.0f, 0.1, -0.2933f / 2}}) {
    u.time = time;  // the lens swings with the clock and goes negative
    applySlotStep(u, SlotState{11, false, 0.0}, p * kInterval, kInterval);
    EXPECT_NEAR(u.lensAmt, lens, 0.00005f) << time;
  }
  applySlotStep(u, SlotState{2, false, 0.0}, 0.25, 2.5);  // a 2.5 s slot rises over 0.5 s
  EXPECT_NEAR(u.kaleido, 0.25f, 1e-6);
}

TEST(PickSlotEffect, TakesEffectThenMirrorFromFreshWords) {
  // 12 * 2^62 has a low half of 0, below the threshold 4: rejected; ~0 gives 11; bit 17 set means no mirror.
  qtest::ScriptedRandom rng({std::uint64_t{1} << 62, ~std::uint64_t{0}, 0x20000u});
  SlotState s;
  pickSlotEffect(s, 42.5, rng);
  EXPECT_TRUE(s.slotEffect == 11 && !s.slotMirror && s.slotStart == 42.5 && rng.taken() == 3u);
  qtest::ScriptedRandom rng2({(std::uint64_t{1} << 63) + 1, ~std::uint64_t{0x20000}});
  pickSlotEffect(s, 7.0, rng2);
  EXPECT_TRUE(s.slotEffect == 6 && s.slotMirror);  // only bit 17 clear
}

TEST(SlotIndependent, WorkedValuesInSinglePrecision) {
  Uniforms u;
  writeSlotIndependent(u, 10.0f);
  const float got[] = {u.rotate, u.displaceAmt, u.zoom, u.glow, u.hueShift, u.sway, u.swayY, u.spin, u.pump};
  const double want[] = {0.001417, 0.01592, 1.014, 0.2732, 0.04537, 0.007833, 0.0008467, 0.02980, 0.04045};
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(got[i], want[i], want[i] * 5e-4) << i;  // 4 digits
  // The float expression in table order, exactly: a double one differs in the last bits for most clock values.
  for (float time : {0.0f, 777.25f, 524288.0f}) {
    writeSlotIndependent(u, time);
    EXPECT_EQ(u.displaceAmt, (0.5f * std::sin(0.05f * time) + 0.5f) * 0.008f + 0.01f) << time;
    EXPECT_EQ(u.swayY, 0.006f * std::sin(0.13f * time + 1.7f)) << time;
  }
}

TEST(CrossFade, RampsOverTheLastTwoAndAHalfSecondsAndSlotEndsOnTime) {
  for (const auto& [at, opac] : std::map<double, float>{{0, 0}, {11.5, 0}, {12.75, 0.5f}, {14, 1}, {16, 1}}) {
    Uniforms u;
    u.blendB = 3.0f;
    applyCrossFade(u, 50.0 + at, 50.0, kInterval);
    EXPECT_FLOAT_EQ(u.opacB, opac) << at;
    EXPECT_EQ(u.blendB, at > 11.5 ? 0.0f : 3.0f) << at;  // zeroed inside the fade only
  }
  Uniforms u;
  applyCrossFade(u, 0.0, 0.0, 2.2);  // shorter than the fade: already under way
  EXPECT_NEAR(u.opacB, 0.3 / 2.5, 1e-6);
  // Ends on time, and at once when the interval was shortened.
  EXPECT_TRUE(!slotHasEnded(13.99, 0.0, kInterval) && slotHasEnded(14.0, 0.0, kInterval) && slotHasEnded(10, 0, 5));
  // The frame that ends a slot still runs the old slot: its envelope is zero.
  double t = 0.0;
  while (!slotHasEnded(t, 0.0, kInterval)) t += 1.0 / 30.0;
  applySlotStep(u, SlotState{1, true, 0.0}, t, kInterval);
  EXPECT_EQ(u.liquid, 0.0f);
}

}  // namespace
}  // namespace quelltrine
