// The play order, home and tilde, the memory figure.
#include <cstdint>
#include <map>

#include <gtest/gtest.h>

#include "platform/sys/fs.h"
#include "platform/sys/memory.h"
#include "platform/sys/random.h"
#include "sys/temp_env.h"
#include "sys/test_random.h"

namespace plat::sys {
namespace {

TEST(FreshPlayOrder, EveryPermutationIsEquallyLikelyAndNoneOrOnePictureDrawsNothing) {
  qtest::ScriptedRandom none(std::vector<std::uint64_t>{});  // a draw fails the test
  EXPECT_EQ(freshPlayOrder(0, none), std::vector<std::int64_t>{});
  EXPECT_EQ(freshPlayOrder(1, none), std::vector<std::int64_t>{0});
  // Chi-square over the 24 orders of 4 (23 d.o.f.): a fair shuffle exceeds 70.55 with probability 1e-6.
  constexpr double kExpected = 10000;
  qtest::SeededRandom seeded(20261206);
  std::map<std::vector<std::int64_t>, int> counts;
  for (int i = 0; i < 24 * kExpected; ++i) ++counts[freshPlayOrder(4, seeded)];
  ASSERT_EQ(counts.size(), 24u);
  double chi2 = 0.0;
  for (const auto& [order, c] : counts) chi2 += (c - kExpected) * (c - kExpected) / kExpected;
  EXPECT_LT(chi2, 70.55);
}

TEST(Folders, HomeFallsBackAndOnlyALeadingTildeExpands) {
  qtest::EnvGuard env;
  env.set("HOME", "");
  EXPECT_EQ(homeDirectory().substr(0, 1), "/");  // from the password database
  env.set("HOME", "/home/ada");
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"~", "/home/ada"}, {"~/Fotos", "/home/ada/Fotos"}, {"/abs/~/x", "/abs/~/x"},
           {"~no-such-user-q7/x", "~no-such-user-q7/x"}})
    EXPECT_EQ(expandTilde(in), out) << in;
  env.set("HOME", "/");
  EXPECT_EQ(expandTilde("~/x"), "/x");
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
