// The parameter block's byte image, the slot draw and envelope, and the
// per-frame steps against worked values.
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "effects/frame_params.h"
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

TEST(Uniforms, NewBlockIsFourteenDefaultsAtFixedOffsetsAndZeroBytes) {
  // The shader library reads these 196 bytes as they are.
  const std::map<std::size_t, float> defaults{
      {4, 0.5f}, {8, 0.9f}, {12, 0.02f}, {16, 1.01f}, {24, 3.0f}, {28, 0.06f}, {48, 1.1f},
      {60, 1.0f}, {68, 1.0f}, {84, 1.0f}, {136, 2.0f}, {144, 0.6f}, {152, 0.6f}, {180, 1.0f}};
  Uniforms u;
  ASSERT_EQ(sizeof(Uniforms), 196u);
  std::array<unsigned char, 196> want{};
  for (const auto& [off, v] : defaults) std::memcpy(want.data() + off, &v, sizeof v);
  EXPECT_EQ(std::memcmp(u.bytes(), want.data(), want.size()), 0);
}

TEST(SlotEnvelope, RisesHoldsFallsAndIsZeroOutsideTheSlot) {
  for (const auto& [p, e] : std::vector<std::pair<double, float>>{
           {0.0, 0.0f}, {0.1, 0.5f}, {0.2, 1.0f}, {0.78, 1.0f}, {0.88, 0.5f}, {0.98, 0.0f}, {40.0, 0.0f},
           {-0.5, 0.0f}, {std::numeric_limits<double>::quiet_NaN(), 0.0f}, {std::numeric_limits<double>::infinity(), 0.0f}})
    EXPECT_NEAR(slotEnvelope(p), e, 1e-6) << p;
  for (double p : {0.01, 0.19, 0.79, 0.97}) EXPECT_TRUE(slotEnvelope(p) > 0.0f && slotEnvelope(p) < 1.0f) << p;
}

TEST(SlotStep, EachEffectDrivesOnlyItsOwnFieldWithWorkedValues) {
  const std::array<float, 10> factor{0.55f, 0.5f, 0.45f, 0.4f, 0.4f, 0.45f, 0.6f, 0.55f, 0.35f, 0.4f};
  for (std::int64_t effect : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12}) {
    Uniforms u;
    for (float* f : slotFields(u)) *f = 99.0f;  // a previous slot's leftovers
    applySlotStep(u, SlotState{effect, effect % 2 == 0, 0.0}, 0.5 * kInterval, kInterval);
    const auto fields = slotFields(u);
    for (std::size_t i = 0; i < fields.size(); ++i)
      EXPECT_EQ(*fields[i], static_cast<std::int64_t>(i) + 1 == effect ? factor[i] : 0.0f) << effect << " " << i + 1;
    EXPECT_EQ(u.mirrorOn, effect % 2 == 0 ? 1.0f : 0.0f);
  }
  Uniforms u;  // liquid follows the envelope over a slot that starts at 100
  for (const auto& [p, liquid] : std::map<double, float>{{0.1, 0.275f}, {0.88, 0.275f}, {0.999, 0.0f}}) {
    applySlotStep(u, SlotState{1, false, 100.0}, 100.0 + p * kInterval, kInterval);
    EXPECT_NEAR(u.liquid, liquid, 1e-6) << p;
  }
  u.time = 10.0f;  // the lens swings with the clock and goes negative
  applySlotStep(u, SlotState{11, false, 0.0}, 0.5 * kInterval, kInterval);
  EXPECT_NEAR(u.lensAmt, 0.04234f, 0.000005f);
  u.time = 15.0f;
  applySlotStep(u, SlotState{11, false, 0.0}, 0.1 * kInterval, kInterval);
  EXPECT_NEAR(u.lensAmt, -0.2933f / 2, 0.00005f);
  applySlotStep(u, SlotState{2, false, 0.0}, 0.25, 2.5);  // a 2.5 s slot rises over 0.5 s
  EXPECT_NEAR(u.kaleido, 0.25f, 1e-6);
}

TEST(PickSlotEffect, TakesEffectThenMirrorFromFreshWords) {
  // 12 * 2^62 has a low half of 0, below the threshold 4: rejected; ~0
  // gives 11; bit 17 set means no mirror.
  qtest::ScriptedRandom rng({std::uint64_t{1} << 62, ~std::uint64_t{0}, 0x20000u});
  SlotState s;
  pickSlotEffect(s, 42.5, rng);
  EXPECT_EQ(s.slotEffect, 11);
  EXPECT_FALSE(s.slotMirror);
  EXPECT_EQ(s.slotStart, 42.5);
  EXPECT_EQ(rng.taken(), 3u);
  qtest::ScriptedRandom rng2({(std::uint64_t{1} << 63) + 1, ~std::uint64_t{0x20000}});
  pickSlotEffect(s, 7.0, rng2);
  EXPECT_EQ(s.slotEffect, 6);
  EXPECT_TRUE(s.slotMirror);  // only bit 17 clear
}

TEST(SlotIndependent, WorkedValuesInSinglePrecision) {
  Uniforms u;
  writeSlotIndependent(u, 10.0f);
  const std::map<const char*, std::pair<float, double>> want{
      {"rotate", {u.rotate, 0.001417}}, {"displaceAmt", {u.displaceAmt, 0.01592}}, {"zoom", {u.zoom, 1.014}},
      {"glow", {u.glow, 0.2732}}, {"hueShift", {u.hueShift, 0.04537}}, {"sway", {u.sway, 0.007833}},
      {"swayY", {u.swayY, 0.0008467}}, {"spin", {u.spin, 0.02980}}, {"pump", {u.pump, 0.04045}}};
  for (const auto& [name, gw] : want) EXPECT_NEAR(gw.first, gw.second, gw.second * 5e-4) << name;  // 4 digits
  // The float expression in table order, exactly: a double one differs in
  // the last bits for most clock values.
  for (float time : {0.0f, 777.25f, 524288.0f}) {
    writeSlotIndependent(u, time);
    EXPECT_EQ(u.displaceAmt, (0.5f * std::sin(0.05f * time) + 0.5f) * 0.008f + 0.01f) << time;
    EXPECT_EQ(u.swayY, 0.006f * std::sin(0.13f * time + 1.7f)) << time;
  }
}

TEST(CrossFade, RampsOverTheLastTwoAndAHalfSecondsAndSlotEndsOnTime) {
  for (const auto& [at, opac] : std::map<double, float>{{0.0, 0.0f}, {11.5, 0.0f}, {12.75, 0.5f}, {14.0, 1.0f}, {16.0, 1.0f}}) {
    Uniforms u;
    u.blendB = 3.0f;
    applyCrossFade(u, 50.0 + at, 50.0, kInterval);
    EXPECT_FLOAT_EQ(u.opacB, opac) << at;
    EXPECT_EQ(u.blendB, at > 11.5 ? 0.0f : 3.0f) << at;  // zeroed inside the fade only
  }
  Uniforms u;
  applyCrossFade(u, 0.0, 0.0, 2.2);  // shorter than the fade: already under way
  EXPECT_NEAR(u.opacB, 0.3 / 2.5, 1e-6);
  EXPECT_FALSE(slotHasEnded(13.99, 0.0, kInterval));
  EXPECT_TRUE(slotHasEnded(14.0, 0.0, kInterval));
  EXPECT_TRUE(slotHasEnded(10.0, 0.0, 5.0));  // a shortened interval ends it at once
  // The frame that ends a slot still runs the old slot: its envelope is zero.
  double t = 0.0;
  while (!slotHasEnded(t, 0.0, kInterval)) t += 1.0 / 30.0;
  applySlotStep(u, SlotState{1, true, 0.0}, t, kInterval);
  EXPECT_EQ(u.liquid, 0.0f);
}

}  // namespace
}  // namespace quelltrine
