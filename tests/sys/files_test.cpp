// The write in place: what it keeps and how it fails.
// A device node and a tmpfs need root; those cases are skipped where the system does not allow them.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include <gmock/gmock.h>

#include "platform/sys/files.h"
#include "sys/temp_env.h"

namespace plat::sys {
namespace {

namespace fs = std::filesystem;
using ::testing::UnorderedElementsAre;

void put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::span<const std::uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct stat statOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  return names;
}

TEST(WriteFileInPlace, AnExistingFileKeepsItsInodeModeAndLinks) {
  qtest::TempDir dir;
  const std::string file = dir / "frame.png";
  put(file, "old contents, longer than the new ones");
  ASSERT_EQ(::chmod(file.c_str(), 0604), 0);
  ASSERT_EQ(::link(file.c_str(), (dir / "hard-link").c_str()), 0);
  const struct stat before = statOf(file);
  const auto written = writeFileInPlace(file, bytesOf("new"));
  ASSERT_TRUE(written) << written.error().text();
  const struct stat after = statOf(file);
  EXPECT_EQ(qtest::readFile(file), "new") << "the old tail is cut off";
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(qtest::readFile(dir / "hard-link"), "new");
}

TEST(WriteFileInPlace, ALinkIsWrittenThroughAndStays) {
  qtest::TempDir dir;
  fs::create_directories(dir / "dotfiles");
  put(dir / "dotfiles/frame.png", "old");
  fs::create_symlink("dotfiles/frame.png", dir / "link.png");
  fs::create_symlink("dotfiles/made-by-the-write.png", dir / "dangling.png");
  ASSERT_TRUE(writeFileInPlace(dir / "link.png", bytesOf("new")));
  EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
  EXPECT_EQ(qtest::readFile(dir / "dotfiles/frame.png"), "new");
  ASSERT_TRUE(writeFileInPlace(dir / "dangling.png", bytesOf("made")));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.png"));
  EXPECT_EQ(qtest::readFile(dir / "dotfiles/made-by-the-write.png"), "made");
}

// A device node of our own, so that the test never writes to the system's.
std::string deviceNode(const qtest::TempDir& dir, const char* name, unsigned minor) {
  const std::string path = dir / name;
  if (::mknod(path.c_str(), S_IFCHR | 0600, ::makedev(1, minor)) != 0) return {};
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return {};  // a file system mounted nodev
  ::close(fd);
  return path;
}

TEST(WriteFileInPlace, ADeviceIsWrittenIntoAndStaysADevice) {
  qtest::TempDir dir;
  const std::string null = deviceNode(dir, "null", 3);
  if (null.empty()) GTEST_SKIP() << "making and opening a device node is not permitted here";
  const auto written = writeFileInPlace(null, bytesOf("a PNG"));
  EXPECT_TRUE(written) << written.error().text();
  EXPECT_TRUE(S_ISCHR(statOf(null).st_mode));
}

// A tmpfs of 64 KiB mounted for the test, unmounted (lazily) at its end.
struct SmallDisk {
  explicit SmallDisk(const std::string& folder) : folder(folder) {
    fs::create_directory(folder);
    mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") == 0;
  }
  ~SmallDisk() {
    if (mounted) ::umount2(folder.c_str(), MNT_DETACH);
  }
  std::string folder;
  bool mounted = false;
};

TEST(WriteFileInPlace, AFullDiskKeepsTheOldContentsWholeAndMakesNoNewFile) {
  qtest::TempDir dir;
  SmallDisk disk(dir / "disk");
  if (!disk.mounted) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  put(dir / "disk/frame.png", "old");
  const std::string tooBig(128 << 10, 'p');
  for (const std::string name : {"frame.png", "new.png"}) {
    SCOPED_TRACE(name);
    const auto result = writeFileInPlace(dir / ("disk/" + name), bytesOf(tooBig));
    ASSERT_FALSE(result);
  }
  EXPECT_EQ(qtest::readFile(dir / "disk/frame.png").substr(0, 32), "old");
  EXPECT_THAT(namesIn(dir / "disk"), UnorderedElementsAre("frame.png"));
}

// A size limit on the files this process writes makes a write fail part-way, as an I/O error would.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    savedSignal = ::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, savedSignal);
  }
  rlimit saved{};
  sighandler_t savedSignal = SIG_DFL;
};

TEST(WriteFileInPlace, AWriteThatFailsPartWayLeavesNoPartialData) {
  qtest::TempDir dir;
  put(dir / "frame.png", "old");
  const ino_t inode = statOf(dir / "frame.png").st_ino;
  const std::string large(256 << 10, 'p');
  ErrorOr<void> existing, fresh;
  {
    FileSizeLimit limit(64 << 10);
    existing = writeFileInPlace(dir / "frame.png", bytesOf(large));
    fresh = writeFileInPlace(dir / "new.png", bytesOf(large));
  }
  ASSERT_FALSE(existing);
  EXPECT_EQ(existing.error().code, EFBIG);
  EXPECT_EQ(statOf(dir / "frame.png").st_size, 0) << "cut back to empty, not left with the first 64 KiB";
  EXPECT_EQ(statOf(dir / "frame.png").st_ino, inode);
  ASSERT_FALSE(fresh);
  EXPECT_FALSE(fs::exists(dir / "new.png")) << "a file the call made is removed again";
}

TEST(WriteFileInPlace, APathThatCannotTakeTheFileFailsAndTheLongestNameWorks) {
  qtest::TempDir dir;
  fs::create_directories(dir / "folder.png/inside");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // with no reader: fails, does not hang
  for (const std::string& path : {dir / "no/such/out.png", dir / "folder.png", dir / "fifo", dir / std::string(256, 'n')}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(writeFileInPlace(path, bytesOf("png")));
  }
  EXPECT_TRUE(fs::is_directory(dir / "folder.png/inside"));
  const auto written = writeFileInPlace(dir / std::string(255, 'n'), bytesOf("png"));
  EXPECT_TRUE(written) << "the longest name a folder holds: " << written.error().text();
}

}  // namespace
}  // namespace plat::sys
