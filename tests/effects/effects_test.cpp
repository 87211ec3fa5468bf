// The slot envelope and the fields each slot effect drives, the cross-fade and the end of a slot.
#include <array>
#include <cmath>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "effects/frame_params.h"
#include "effects/slot_amounts.h"
#include "effects/slots.h"

namespace quelltrine {
namespace {

constexpr double kInterval = 14.0;

std::array<float*, 11> slotFields(Uniforms& u) {  // in effect-index order 1..11
  return {&u.liquid, &u.kaleido, &u.tunnel, &u.wave, &u.boxinator, &u.checker,
          &u.heat, &u.emboss, &u.pixelate, &u.edgeAmt, &u.lensAmt};
}

TEST(SlotStep, EnvelopeRisesHoldsFallsAndEachEffectDrivesOnlyItsOwnField) {
  for (const auto& [p, e] : std::vector<std::pair<double, float>>{
           {0.0, 0.0f}, {0.1, 0.5f}, {0.5, 1.0f}, {0.88, 0.5f}, {0.98, 0.0f}, {-0.5, 0.0f}, {std::nan(""), 0.0f}})
    EXPECT_NEAR(slotEnvelope(p), e, 1e-6) << p;
  for (std::int64_t effect : {-1, 0, 1, 6, 10, 12}) {  // at full envelope
    Uniforms u;
    for (float* f : slotFields(u)) *f = 99.0f;  // a previous slot's leftovers
    applySlotStep(u, SlotState{effect, effect % 2 == 0, 0.0}, 0.5 * kInterval, kInterval);
    const auto fields = slotFields(u);
    for (std::size_t i = 0; i < fields.size(); ++i)
      EXPECT_EQ(*fields[i], static_cast<std::int64_t>(i) + 1 == effect ? kSlotAmounts[i].full : 0.0f) << effect << " " << i + 1;
    EXPECT_EQ(u.mirrorOn, effect % 2 == 0 ? 1.0f : 0.0f);
  }
  Uniforms u;
  applySlotStep(u, SlotState{2, false, 0.0}, 0.25, 2.5);  // a 2.5 s slot rises over 0.5 s
  EXPECT_NEAR(u.kaleido, 0.25f, 1e-6);
}

TEST(CrossFade, RampsOverTheLastTwoAndAHalfSecondsAndSlotEndsOnTime) {
  for (const auto& [at, opac] : std::map<double, float>{{11.5, 0}, {12.75, 0.5f}, {16, 1}}) {
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
  EXPECT_TRUE(slotHasEnded(10, 0, 5)) << "a slot of 14 s shortened to 5 s ends at 10 s";
  // The frame that ends a slot still runs the old slot: its envelope is zero.
  double t = 0.0;
  while (!slotHasEnded(t, 0.0, kInterval)) t += 1.0 / 30.0;
  applySlotStep(u, SlotState{1, true, 0.0}, t, kInterval);
  EXPECT_EQ(u.liquid, 0.0f);
}

}  // namespace
}  // namespace quelltrine
