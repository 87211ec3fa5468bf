// Folder listing, home folder and tilde expansion.
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/sys/fs.h"
#include "sys/temp_env.h"

namespace plat::sys {
namespace {

void touch(const std::string& path) {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ::close(fd);
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(ListDirectoryNames, SkipsHiddenNamesButKeepsEveryOtherKind) {
  qtest::TempDir dir;
  touch(dir / "a.jpg");
  touch(dir / ".hidden.jpg");
  ASSERT_EQ(::mkdir((dir / "sub.png").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir / ".git").c_str(), 0755), 0);
  touch(dir / "sub.png/inner.jpg");
  ASSERT_EQ(::symlink("/nonexistent/target", (dir / "dangling.png").c_str()), 0);
  auto names = listDirectoryNames(dir.path());
  ASSERT_TRUE(names.has_value());
  EXPECT_EQ(sorted(*names), (std::vector<std::string>{"a.jpg", "dangling.png", "sub.png"}));
}

TEST(ListDirectoryNames, EmptyMissingAndNonFolders) {
  qtest::TempDir dir;
  auto empty = listDirectoryNames(dir.path());
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
  EXPECT_FALSE(listDirectoryNames(dir / "missing").has_value());
  touch(dir / "file");
  EXPECT_FALSE(listDirectoryNames(dir / "file").has_value());
  EXPECT_FALSE(listDirectoryNames("").has_value());
}

TEST(ListDirectoryNames, UnreadableFolderCannotBeListed) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  qtest::TempDir dir;
  ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0), 0);
  EXPECT_FALSE(listDirectoryNames(dir / "locked").has_value());
}

TEST(HomeDirectory, PrefersHomeAndFallsBackToThePasswordDatabase) {
  qtest::EnvGuard env;
  env.set("HOME", "/some/where");
  EXPECT_EQ(homeDirectory(), "/some/where");
  env.set("HOME", "");
  const std::string fromDatabase = homeDirectory();
  EXPECT_FALSE(fromDatabase.empty());
  EXPECT_EQ(fromDatabase.front(), '/');
  env.unset("HOME");
  EXPECT_EQ(homeDirectory(), fromDatabase);
}

TEST(ExpandTilde, ExpandsOnlyALeadingTilde) {
  qtest::EnvGuard env;
  env.set("HOME", "/home/ada");
  EXPECT_EQ(expandTilde("~"), "/home/ada");
  EXPECT_EQ(expandTilde("~/"), "/home/ada");
  EXPECT_EQ(expandTilde("~/Fotos/Urlaub"), "/home/ada/Fotos/Urlaub");
  EXPECT_EQ(expandTilde("/abs/~/x"), "/abs/~/x");
  EXPECT_EQ(expandTilde("rel/~"), "rel/~");
  EXPECT_EQ(expandTilde(""), "");
  EXPECT_EQ(expandTilde("~no-such-user-q7/x"), "~no-such-user-q7/x");
  // root exists in every password database.
  EXPECT_EQ(expandTilde("~root/x"), "/root/x");
  env.set("HOME", "/");
  EXPECT_EQ(expandTilde("~/x"), "/x");
}

TEST(JoinPath, DoesNotDoubleSlashes) {
  EXPECT_EQ(joinPath("/a", "b"), "/a/b");
  EXPECT_EQ(joinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(joinPath("/", "b c"), "/b c");
  EXPECT_EQ(joinPath("", "b"), "b");
}

}  // namespace
}  // namespace plat::sys
