// The bounded draw against scripted words (which ones must be rejected), and
// the play order: its swaps, and its uniformity over all permutations of 4.
#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sys/random.h"
#include "sys/test_random.h"

namespace plat::sys {
namespace {

constexpr std::uint64_t kTop = std::uint64_t{1} << 63;
using Words = std::vector<std::uint64_t>;

// uniformBelow(k) over the scripted words: the value and the words taken.
std::pair<std::uint64_t, std::size_t> draw(std::uint64_t k, Words words) {
  qtest::ScriptedRandom rng(std::move(words));
  const std::uint64_t v = uniformBelow(rng, k);
  return {v, rng.taken()};
}

TEST(UniformBelow, RejectsExactlyTheWordsBelowTheThreshold) {
  // k = 12: threshold 2^64 mod 12 = 4; 0, 2^62, 2^63 and 3 * 2^62 give a
  // low half below it; 2^62 + 1 is accepted with a high half of 3.
  const std::uint64_t q = std::uint64_t{1} << 62;
  EXPECT_EQ(draw(12, {0, q, 2 * q, 3 * q, q + 1}), std::make_pair(std::uint64_t{3}, std::size_t{5}));
  // k = 3: threshold 1; 3 * 0xAA..AB has a low half of exactly 1: accepted.
  EXPECT_EQ(draw(3, {0xAAAAAAAAAAAAAAABull}), std::make_pair(std::uint64_t{2}, std::size_t{1}));
  // k = 2^63 + 1: threshold 2^63 - 1. 2k wraps to a low half of 2 (rejected),
  // 3k is accepted; (2^63 - 2) k is one below the threshold; (2^63 - 1) k is
  // 2^126 - 1.
  EXPECT_EQ(draw(kTop + 1, {2, 3}), std::make_pair(std::uint64_t{1}, std::size_t{2}));
  EXPECT_EQ(draw(kTop + 1, {kTop - 2, 1}), std::make_pair(std::uint64_t{0}, std::size_t{2}));
  EXPECT_EQ(draw(kTop + 1, {kTop - 1}).first, (std::uint64_t{1} << 62) - 1);
  EXPECT_EQ(draw(1, {~std::uint64_t{0}}).first, 0u);
  EXPECT_EQ(draw(0, {12345}).first, 0u);
}

TEST(FreshPlayOrder, ForwardSwapsFollowTheDraws) {
  // Below 3 -> 1 (swap 0 and 1), below 2 -> 1 (swap 1 and 2).
  qtest::ScriptedRandom rng({kTop + 1, ~std::uint64_t{0}});
  EXPECT_EQ(freshPlayOrder(3, rng), (std::vector<std::int64_t>{1, 2, 0}));
  EXPECT_EQ(rng.taken(), 2u);
  qtest::ScriptedRandom none({});
  EXPECT_TRUE(freshPlayOrder(0, none).empty());
  EXPECT_EQ(freshPlayOrder(1, none), std::vector<std::int64_t>{0});
  EXPECT_NE(systemRandom().next64(), systemRandom().next64());
}

TEST(FreshPlayOrder, EveryPermutationOfFourIsEquallyLikely) {
  // Pearson's chi-square, 23 degrees of freedom: a correct shuffle exceeds
  // 70.55 with probability 1e-6; a biased swap lands in the thousands.
  constexpr int kDraws = 240000;
  qtest::SeededRandom rng(20261206);
  std::map<std::vector<std::int64_t>, int> counts;
  for (int i = 0; i < kDraws; ++i) ++counts[freshPlayOrder(4, rng)];
  ASSERT_EQ(counts.size(), 24u);
  double chi2 = 0.0;
  for (const auto& [order, c] : counts) {
    EXPECT_TRUE(std::is_permutation(order.begin(), order.end(), std::vector<std::int64_t>{0, 1, 2, 3}.begin()));
    chi2 += (c - kDraws / 24.0) * (c - kDraws / 24.0) / (kDraws / 24.0);
  }
  EXPECT_LT(chi2, 70.55);
}

}  // namespace
}  // namespace plat::sys
