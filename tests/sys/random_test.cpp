// The bounded draw against scripted words (which ones must be rejected), and
// the play order's uniformity over all permutations of small n.
#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sys/random.h"
#include "sys/test_random.h"

namespace plat::sys {
namespace {

constexpr std::uint64_t kTop = std::uint64_t{1} << 63;

TEST(UniformBelow, RejectsExactlyTheWordsBelowTheThreshold) {
  // For k = 12 the threshold is 2^64 mod 12 = 4; the words whose product
  // with 12 has a low half below 4 are 0, 2^62, 2^63 and 3 * 2^62.
  const std::uint64_t q = std::uint64_t{1} << 62;
  qtest::ScriptedRandom rng({0, q, 2 * q, 3 * q, q + 1});
  EXPECT_EQ(uniformBelow(rng, 12), 3u);  // high half of 12 * (2^62 + 1)
  EXPECT_EQ(rng.taken(), 5u);
}

TEST(UniformBelow, AcceptsALowHalfAtTheThreshold) {
  // k = 3: threshold 2^64 mod 3 = 1. 3 * w ≡ 1 (mod 2^64) for
  // w = 0xAAAAAAAAAAAAAAAB, whose low half equals the threshold: accepted.
  qtest::ScriptedRandom rng({0xAAAAAAAAAAAAAAABull});
  EXPECT_EQ(uniformBelow(rng, 3), 2u);
  EXPECT_EQ(rng.taken(), 1u);
}

TEST(UniformBelow, LargeBoundRejectsNearlyHalfTheWords) {
  // k = 2^63 + 1: threshold (2^64 - k) mod k = 2^63 - 1.
  const std::uint64_t k = kTop + 1;
  // 2k wraps to a low half of 2 (rejected); 3k to 2^63 + 3 (accepted, 1).
  qtest::ScriptedRandom rng({2, 3});
  EXPECT_EQ(uniformBelow(rng, k), 1u);
  EXPECT_EQ(rng.taken(), 2u);
  // (2^63 - 2) * k has a low half of 2^63 - 2, one below the threshold:
  // rejected; then 1 * k is accepted with a high half of 0.
  qtest::ScriptedRandom rng2({kTop - 2, 1});
  EXPECT_EQ(uniformBelow(rng2, k), 0u);
  EXPECT_EQ(rng2.taken(), 2u);
  // (2^63 - 1) * k = 2^126 - 1: low half all ones, accepted, high 2^62 - 1.
  qtest::ScriptedRandom rng3({kTop - 1});
  EXPECT_EQ(uniformBelow(rng3, k), (std::uint64_t{1} << 62) - 1);
  EXPECT_EQ(rng3.taken(), 1u);
}

TEST(UniformBelow, BoundOneAndZeroNeverExceedTheRange) {
  qtest::ScriptedRandom rng({~std::uint64_t{0}, 12345});
  EXPECT_EQ(uniformBelow(rng, 1), 0u);
  EXPECT_EQ(uniformBelow(rng, 0), 0u);
}

// Pearson's chi-square over the n! permutations of n, counted by the order
// each draw deals.
double permutationChiSquare(std::int64_t n, int draws, RandomSource& rng, std::size_t& distinct) {
  std::map<std::vector<std::int64_t>, int> counts;
  for (int i = 0; i < draws; ++i) {
    std::vector<std::int64_t> order = freshPlayOrder(n, rng);
    std::vector<std::int64_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::int64_t> identity(static_cast<std::size_t>(n));
    std::iota(identity.begin(), identity.end(), 0);
    EXPECT_EQ(sorted, identity) << "not a permutation";
    ++counts[order];
  }
  double perms = 1;
  for (std::int64_t i = 2; i <= n; ++i) perms *= static_cast<double>(i);
  distinct = counts.size();
  const double expected = draws / perms;
  double chi2 = 0.0;
  for (const auto& [order, c] : counts) chi2 += (c - expected) * (c - expected) / expected;
  chi2 += (perms - static_cast<double>(counts.size())) * expected;  // permutations never seen
  return chi2;
}

TEST(FreshPlayOrder, EveryPermutationOfFourIsEquallyLikely) {
  // 23 degrees of freedom: a correct shuffle exceeds 70.55 with
  // probability 1e-6. A biased swap (r drawn from 0..n-1 every step, or
  // an off-by-one bound) lands in the thousands.
  qtest::SeededRandom rng(20261206);
  std::size_t distinct = 0;
  const double chi2 = permutationChiSquare(4, 240000, rng, distinct);
  EXPECT_EQ(distinct, 24u);
  EXPECT_LT(chi2, 70.55);
}

TEST(FreshPlayOrder, EveryPermutationOfFiveIsEquallyLikely) {
  // 119 degrees of freedom: 207.2 at probability 1e-6.
  qtest::SeededRandom rng(0xC0FFEE);
  std::size_t distinct = 0;
  const double chi2 = permutationChiSquare(5, 240000, rng, distinct);
  EXPECT_EQ(distinct, 120u);
  EXPECT_LT(chi2, 207.2);
}

TEST(FreshPlayOrder, SystemSourceSmokeRun) {
  // Unseeded, so only a loose bound: 5 degrees of freedom, 35.89 at 1e-6.
  std::size_t distinct = 0;
  const double chi2 = permutationChiSquare(3, 60000, systemRandom(), distinct);
  EXPECT_EQ(distinct, 6u);
  EXPECT_LT(chi2, 35.89);
}

TEST(FreshPlayOrder, SmallCountsNeedNoDraw) {
  qtest::ScriptedRandom rng({});
  EXPECT_TRUE(freshPlayOrder(0, rng).empty());
  EXPECT_EQ(freshPlayOrder(1, rng), std::vector<std::int64_t>{0});
  EXPECT_EQ(rng.taken(), 0u);
}

TEST(FreshPlayOrder, ForwardSwapsFollowTheDraws) {
  // n = 3: draws below 3 then below 2. Word 2^63 + 1 gives 1 for k = 3
  // (swap 0 and 1), then word ~0 gives 1 for k = 2 (swap 1 and 2).
  qtest::ScriptedRandom rng({kTop + 1, ~std::uint64_t{0}});
  EXPECT_EQ(freshPlayOrder(3, rng), (std::vector<std::int64_t>{1, 2, 0}));
  EXPECT_EQ(rng.taken(), 2u);
}

}  // namespace
}  // namespace plat::sys
