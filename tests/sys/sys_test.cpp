// The play order, the folder listing, home and tilde, path order as Unicode text.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "platform/sys/fs.h"
#include "platform/sys/memory.h"
#include "platform/sys/random.h"
#include "platform/sys/unicode.h"
#include "sys/temp_env.h"
#include "sys/test_random.h"

namespace plat::sys {
namespace {

TEST(FreshPlayOrder, EveryPermutationIsEquallyLikelyAndNoneOrOnePictureDrawsNothing) {
  qtest::ScriptedRandom none(std::vector<std::uint64_t>{});  // a draw fails the test
  EXPECT_EQ(freshPlayOrder(0, none), std::vector<std::int64_t>{});
  EXPECT_EQ(freshPlayOrder(1, none), std::vector<std::int64_t>{0});
  EXPECT_EQ(uniformBelow(none, 0), 0u) << "an empty range";
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

TEST(Folders, ListingSkipsHiddenNamesOnlyHomeFallsBackAndOnlyALeadingTildeExpands) {
  qtest::TempDir dir;
  for (const char* f : {"a.jpg", ".hidden.jpg"}) std::ofstream(dir / f) << "";
  std::filesystem::create_directories(dir / "sub.png/inner");
  std::filesystem::create_directory(dir / ".git");
  std::filesystem::create_symlink("/nonexistent/target", dir / "dangling.png");
  auto names = listDirectoryNames(dir.path()).valueOr(std::vector<std::string>{});
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "dangling.png", "sub.png"}));
  EXPECT_EQ(listDirectoryNames(dir / "sub.png/inner").valueOr(std::vector<std::string>{"failed"}),
            std::vector<std::string>{});
  // A folder that cannot be listed is an Error of kind Folder naming it, with the system's reason.
  const std::pair<std::string, int> unlistable[] = {{dir / "missing", ENOENT}, {dir / "a.jpg", ENOTDIR}, {"", ENOENT}};
  for (const auto& [bad, code] : unlistable) {
    SCOPED_TRACE(bad);
    auto listing = listDirectoryNames(bad);
    ASSERT_FALSE(listing);
    EXPECT_EQ(listing.error().kind, plat::ErrorKind::Folder);
    EXPECT_EQ(listing.error().path, bad);
    EXPECT_EQ(listing.error().code, code);
  }
  qtest::EnvGuard env;
  env.set("HOME", "");
  EXPECT_EQ(homeDirectory().substr(0, 1), "/");  // from the password database
  env.set("HOME", "/home/ada");
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"~", "/home/ada"}, {"~/", "/home/ada"}, {"~/Fotos", "/home/ada/Fotos"}, {"/abs/~/x", "/abs/~/x"},
           {"", ""}, {"~no-such-user-q7/x", "~no-such-user-q7/x"}, {"~root/x", "/root/x"}})
    EXPECT_EQ(expandTilde(in), out) << in;
  env.set("HOME", "/");
  EXPECT_EQ(expandTilde("~/x"), "/x");
  EXPECT_EQ(joinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(joinPath("", "b"), "b");
}

TEST(ComparePathsNFC, ComposedEqualsDecomposedAndOrderIsByScalarThenBytes) {
  const std::string composed = "/p/caf\xC3\xA9.jpg", decomposed = "/p/cafe\xCC\x81.jpg";
  EXPECT_EQ(comparePathsNFC(composed, decomposed), 0);
  EXPECT_EQ(nfcSortKey(decomposed), composed);
  EXPECT_GT(comparePathsNFC(decomposed, "/p/cafz.jpg"), 0);  // as U+00E9, not as 'e'
  EXPECT_LT(comparePathsNFC("\xEF\xBC\xA1", "\xF0\x9F\x98\x80"), 0);  // UTF-16 order would differ
  // Not UTF-8: compared by its bytes, no crash, not equal to the UTF-8 name.
  const std::string latin1 = "/p/caf\xE9.jpg", broken = "/p/\xFF\xFE.png";
  EXPECT_EQ(nfcSortKey(latin1), latin1);
  EXPECT_EQ(comparePathsNFC(broken, broken), 0);
  EXPECT_NE(comparePathsNFC(latin1, composed), 0);
  EXPECT_LT(comparePathsNFC(latin1, broken), 0);
}

}  // namespace

// The figure in bytes from the kernel's kB, wherever the line stands; none
// for a missing line, another unit, a number that is not one or that
// overflows when made bytes; the live file has a figure.
TEST(MemoryAvailable, ReadFromItsLineInKilobytesOrNone) {
  const std::string real = "MemTotal:       24684544 kB\nMemFree:        20963328 kB\n"
                           "MemAvailable:   24142336 kB\nBuffers:          102400 kB\n";
  EXPECT_EQ(parseMemoryAvailable(real), std::uint64_t{24142336} * 1024);
  EXPECT_EQ(parseMemoryAvailable("MemAvailable: 7 kB"), 7u * 1024);
  EXPECT_EQ(parseMemoryAvailable("MemAvailable:\t0 kB\r\n"), 0u);
  for (const char* text : {"", "MemTotal: 100 kB\n", "MemAvailable: 100 MB\n", "MemAvailable: kB\n",
                           "MemAvailable: -5 kB\n", "MemAvailable: 99999999999999999999 kB\n",
                           "MemAvailable: 18014398509481984 kB\n", "XMemAvailable: 5 kB\n"}) {
    EXPECT_EQ(parseMemoryAvailable(text), std::nullopt) << text;
  }
  const auto live = memoryAvailable();
  ASSERT_TRUE(live) << "/proc/meminfo has MemAvailable on every kernel since 3.14";
  EXPECT_GT(*live, 0u);
}

}  // namespace plat::sys
