// Folder listing, home folder, tilde expansion, and path order as Unicode
// text (NFC, scalar value, raw bytes for names that are not UTF-8).
#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/sys/fs.h"
#include "platform/sys/unicode.h"
#include "sys/temp_env.h"

namespace plat::sys {
namespace {

TEST(ListDirectoryNames, SkipsHiddenNamesOnlyAndFailsOnNonFolders) {
  qtest::TempDir dir;
  for (const char* f : {"a.jpg", ".hidden.jpg"}) std::ofstream(dir / f) << "";
  std::filesystem::create_directories(dir / "sub.png/inner");
  std::filesystem::create_directory(dir / ".git");
  std::filesystem::create_symlink("/nonexistent/target", dir / "dangling.png");
  auto names = listDirectoryNames(dir.path()).value_or(std::vector<std::string>{"failed"});
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "dangling.png", "sub.png"}));
  EXPECT_EQ(listDirectoryNames(dir / "sub.png/inner"), std::vector<std::string>{});
  for (const std::string& bad : {dir / "missing", dir / "a.jpg", std::string()})
    EXPECT_FALSE(listDirectoryNames(bad).has_value()) << bad;
}

TEST(HomeAndTilde, HomeFallsBackToThePasswordDatabaseAndOnlyALeadingTildeExpands) {
  qtest::EnvGuard env;
  env.set("HOME", "");
  const std::string fromDatabase = homeDirectory();
  ASSERT_FALSE(fromDatabase.empty());
  EXPECT_EQ(fromDatabase.front(), '/');
  env.set("HOME", "/home/ada");
  EXPECT_EQ(homeDirectory(), "/home/ada");
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"~", "/home/ada"}, {"~/", "/home/ada"}, {"~/Fotos/Urlaub", "/home/ada/Fotos/Urlaub"},
           {"/abs/~/x", "/abs/~/x"}, {"rel/~", "rel/~"}, {"", ""},
           {"~no-such-user-q7/x", "~no-such-user-q7/x"}, {"~root/x", "/root/x"}})
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
  // UTF-16 order would put U+1F600 (surrogates) before U+FF21.
  EXPECT_LT(comparePathsNFC("\xEF\xBC\xA1", "\xF0\x9F\x98\x80"), 0);
  // Not UTF-8: compared by its bytes, no crash, not equal to the UTF-8 name.
  const std::string latin1 = "/p/caf\xE9.jpg", broken = "/p/\xFF\xFE.png";
  EXPECT_EQ(nfcSortKey(latin1), latin1);
  EXPECT_NE(comparePathsNFC(latin1, composed), 0);
  EXPECT_LT(comparePathsNFC(latin1, broken), 0);
  EXPECT_EQ(comparePathsNFC(broken, broken), 0);
}

}  // namespace
}  // namespace plat::sys
