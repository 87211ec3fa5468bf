// The parameter block's byte image, the slot draw and envelope, the per-frame steps.
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>

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
  const auto* bytes = static_cast<const unsigned char*>(u.bytes());
  EXPECT_THAT(std::vector<unsigned char>(bytes, bytes + want.size()), ::testing::ElementsAreArray(want));
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
  EXPECT_EQ(s.slotEffect, 11);
  EXPECT_FALSE(s.slotMirror);
  EXPECT_EQ(s.slotStart, 42.5);
  EXPECT_EQ(rng.taken(), 3u);
  qtest::ScriptedRandom rng2({(std::uint64_t{1} << 63) + 1, ~std::uint64_t{0x20000}});
  pickSlotEffect(s, 7.0, rng2);
  EXPECT_EQ(s.slotEffect, 6);
  EXPECT_TRUE(s.slotMirror) << "only bit 17 clear";
}

// Worked out apart from the code, with every operation rounded to single
// precision: the shaders' look was tuned against these roundings, and the
// same expressions in double precision differ in the last bits for most of
// these values.
TEST(SlotIndependent, WorkedValuesInSinglePrecision) {
  const char* names[] = {"rotate", "displaceAmt", "zoom", "glow", "hueShift", "sway", "swayY", "spin", "pump"};
  const struct {
    float time;
    float want[9];
  } cases[] = {
      {10.0f,
       {0x1.7387fap-10f, 0x1.04cbaep-6f, 0x1.0378fcp+0f, 0x1.17b762p-2f, 0x1.73afep-5f, 0x1.00ae3ap-7f, 0x1.bbecd6p-11f,
        0x1.e83feep-6f, 0x1.4b5c88p-5f}},
      {777.25f,
       {-0x1.e56c56p-10f, 0x1.218c44p-6f, 0x1.01eba6p+0f, 0x1.c8b7a6p-3f, -0x1.c26cacp-3f, 0x1.e6e5a8p-8f,
        0x1.3b399cp-8f, 0x1.8eba6p-6f, 0x1.5dc0e2p-5f}},
      {524288.0f,
       {0x1.58ae0ap-13f, 0x1.1abbacp-6f, 0x1.018abap+0f, 0x1.ed6ddep-3f, -0x1.65c76ap-2f, -0x1.d606e4p-8f,
        -0x1.285832p-8f, -0x1.d82c76p-4f, 0x1.34876ap-4f}},
  };
  for (const auto& c : cases) {
    Uniforms u;
    writeSlotIndependent(u, c.time);
    const float got[] = {u.rotate, u.displaceAmt, u.zoom, u.glow, u.hueShift, u.sway, u.swayY, u.spin, u.pump};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(got[i], c.want[i]) << names[i] << " at time " << c.time;
    EXPECT_EQ(u.time, c.time);
  }
  Uniforms u;
  writeSlotIndependent(u, 10.0f);
  const float fixed[] = {u.feedbackAmt, u.noiseScale, u.noiseSpeed, u.echo, u.contrast, u.layers};
  EXPECT_THAT(fixed, ::testing::ElementsAre(0.86f, 3.0f, 0.06f, 0.35f, 1.12f, 1.0f))
      << "feedbackAmt, noiseScale, noiseSpeed, echo, contrast, layers";
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
  EXPECT_FALSE(slotHasEnded(13.99, 0.0, kInterval));
  EXPECT_TRUE(slotHasEnded(14.0, 0.0, kInterval));
  EXPECT_TRUE(slotHasEnded(10, 0, 5)) << "a slot of 14 s shortened to 5 s ends at 10 s";
  // The frame that ends a slot still runs the old slot: its envelope is zero.
  double t = 0.0;
  while (!slotHasEnded(t, 0.0, kInterval)) t += 1.0 / 30.0;
  applySlotStep(u, SlotState{1, true, 0.0}, t, kInterval);
  EXPECT_EQ(u.liquid, 0.0f);
}

}  // namespace
}  // namespace quelltrine
