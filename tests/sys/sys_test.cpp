// The play order and the memory figure.
#include <cstdint>
#include <map>

#include <gtest/gtest.h>

#include "platform/sys/memory.h"
#include "platform/sys/random.h"
#include "sys/test_random.h"

namespace plat::sys {
namespace {

TEST(FreshPlayOrder, EveryPermutationIsEquallyLikely) {
  qtest::SeededRandom seeded(20261206);
  EXPECT_EQ(freshPlayOrder(0, seeded), std::vector<std::int64_t>{});
  EXPECT_EQ(freshPlayOrder(1, seeded), std::vector<std::int64_t>{0});
  // Chi-square over the 24 orders of 4 (23 d.o.f.): a fair shuffle exceeds 70.55 with probability 1e-6.
  constexpr double kExpected = 10000;
  std::map<std::vector<std::int64_t>, int> counts;
  for (int i = 0; i < 24 * kExpected; ++i) ++counts[freshPlayOrder(4, seeded)];
  ASSERT_EQ(counts.size(), 24u);
  double chi2 = 0.0;
  for (const auto& [order, c] : counts) chi2 += (c - kExpected) * (c - kExpected) / kExpected;
  EXPECT_LT(chi2, 70.55);
}

}  // namespace

// None for a missing line, another unit, or a number that overflows when made bytes.
TEST(MemoryAvailable, ReadFromItsLineInKilobytesOrNone) {
  const std::string real = "MemTotal:       24684544 kB\nMemFree:        20963328 kB\n"
                           "MemAvailable:   24142336 kB\nBuffers:          102400 kB\n";
  EXPECT_EQ(parseMemoryAvailable(real), std::uint64_t{24142336} * 1024);
  for (const char* text : {"MemTotal: 100 kB\n", "MemAvailable: 100 MB\n", "MemAvailable: -5 kB\n",
                           "MemAvailable: 18014398509481984 kB\n", "XMemAvailable: 5 kB\n"})
    EXPECT_EQ(parseMemoryAvailable(text), std::nullopt) << text;
  const auto live = memoryAvailable();
  ASSERT_TRUE(live) << "/proc/meminfo has MemAvailable on every kernel since 3.14";
  EXPECT_GT(*live, 0u);
}

}  // namespace plat::sys
