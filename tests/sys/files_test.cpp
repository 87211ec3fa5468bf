// Whole files: the bounded read that refuses what is not a regular file, the
// write in place with what it keeps and how it fails, and the atomic replace.
// Some cases need root (a device node, a tmpfs, acting as another user) and
// are skipped with a message where the system does not allow them.
#include <fcntl.h>
#include <signal.h>
#include <sys/fsuid.h>
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
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

constexpr uid_t kNobody = 65534;

void put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::span<const std::uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string contentsOf(const FileContents& file) { return {reinterpret_cast<const char*>(file.data.get()), file.size}; }

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

// Permission checks as another user for as long as it lives: as root, this
// thread's file-system ids become nobody's (which drops root's override of
// file permissions); as anyone else, permissions apply already.
class AsOtherUser {
 public:
  // Gives `paths` to that user first, while root may still do so.
  explicit AsOtherUser(std::initializer_list<std::string> paths) : root_(::geteuid() == 0) {
    if (!root_) return;
    for (const std::string& path : paths) EXPECT_EQ(::chown(path.c_str(), kNobody, kNobody), 0) << path;
    ::setfsgid(kNobody);
    ::setfsuid(kNobody);
  }
  ~AsOtherUser() {
    if (!root_) return;
    ::setfsuid(0);
    ::setfsgid(0);
  }
  AsOtherUser(const AsOtherUser&) = delete;
  AsOtherUser& operator=(const AsOtherUser&) = delete;

 private:
  bool root_;
};

TEST(ReadRegularFile, GivesTheWholeFileUpToTheCap) {
  qtest::TempDir dir;
  put(dir / "exact", std::string(64, 'x'));
  put(dir / "empty", "");
  auto exact = readRegularFile(dir / "exact", 64, ErrorKind::Picture, "source");
  ASSERT_TRUE(exact) << exact.error().text();
  EXPECT_EQ(contentsOf(*exact), std::string(64, 'x'));
  EXPECT_EQ(exact->status.st_ino, statOf(dir / "exact").st_ino);
  auto empty = readRegularFile(dir / "empty", 64, ErrorKind::Picture, "source");
  ASSERT_TRUE(empty) << empty.error().text();
  EXPECT_EQ(empty->size, 0u);
  EXPECT_NE(empty->data, nullptr);
}

TEST(ReadRegularFile, RefusesAnythingElseWithoutOpeningIt) {
  qtest::TempDir dir;
  put(dir / "big", std::string(65, 'x'));
  fs::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // opening it for reading would block
  fs::create_symlink("nowhere", dir / "dangling");
  const struct {
    std::string path;
    std::string says;
    int code;
  } cases[] = {{dir / "missing", "cannot be read: No such file or directory", ENOENT},
               {dir / "dangling", "cannot be read: No such file or directory", ENOENT},
               {dir / "folder", "a folder, not a file", EISDIR},
               {dir / "fifo", "not a regular file", 0},
               {"/dev/null", "not a regular file", 0},
               {dir / "big", "larger than 64 bytes", EFBIG}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto file = readRegularFile(c.path, 64, ErrorKind::Preferences, "store");
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error().message, c.says);
    EXPECT_EQ(file.error().code, c.code);
    EXPECT_EQ(file.error().path, c.path);
    EXPECT_EQ(file.error().kind, ErrorKind::Preferences);
    EXPECT_EQ(file.error().origin, "store");
  }
  auto capped = readRegularFile(dir / "big", std::size_t{1} << 20, ErrorKind::Picture, "source");
  EXPECT_TRUE(capped) << "a cap in MiB is named so: see the next case";
  put(dir / "big", std::string((1 << 20) + 1, 'x'));
  capped = readRegularFile(dir / "big", std::size_t{1} << 20, ErrorKind::Picture, "source");
  ASSERT_FALSE(capped);
  EXPECT_EQ(capped.error().message, "larger than 1 MiB");
}

TEST(WriteFileInPlace, ANewFileGetsTheUsualModeLessTheUmask) {
  qtest::TempDir dir;
  const mode_t saved = ::umask(027);
  const auto written = writeFileInPlace(dir / "new", bytesOf("fresh"));
  ::umask(saved);
  ASSERT_TRUE(written) << written.error().text();
  EXPECT_EQ(qtest::readFile(dir / "new"), "fresh");
  EXPECT_EQ(statOf(dir / "new").st_mode & 07777, 0640u);
  EXPECT_THAT(namesIn(dir.path()), UnorderedElementsAre("new")) << "no temporary file beside it";
}

TEST(WriteFileInPlace, AnExistingFileKeepsItsInodeOwnerModeAndLinks) {
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
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_nlink, 2u);
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

TEST(WriteFileInPlace, AWritableFileInAFolderTheUserCannotWriteIsWritten) {
  qtest::TempDir dir;
  const std::string folder = dir / "read-only";
  fs::create_directory(folder);
  put(folder + "/frame.png", "old");
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  const AsOtherUser other{folder + "/frame.png"};
  const auto written = writeFileInPlace(folder + "/frame.png", bytesOf("new"));
  const auto elsewhere = writeFileInPlace(folder + "/another.png", bytesOf("new"));
  EXPECT_TRUE(written) << written.error().text();
  EXPECT_EQ(qtest::readFile(folder + "/frame.png"), "new");
  ASSERT_FALSE(elsewhere) << "a new file needs a folder the user may write";
  EXPECT_EQ(elsewhere.error().message, "cannot write: Permission denied");
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
  const std::string full = deviceNode(dir, "full", 7);
  if (null.empty() || full.empty()) GTEST_SKIP() << "making and opening a device node is not permitted here";
  const auto written = writeFileInPlace(null, bytesOf("a PNG"));
  EXPECT_TRUE(written) << written.error().text();
  const auto refused = writeFileInPlace(full, bytesOf("a PNG"));
  ASSERT_FALSE(refused);
  EXPECT_THAT(refused.error().message, HasSubstr("no room on the disk"));
  for (const std::string& node : {null, full}) {
    SCOPED_TRACE(node);
    const struct stat st = statOf(node);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
  }
  EXPECT_EQ(statOf(null).st_rdev, ::makedev(1, 3));
}

// A tmpfs of 64 KiB mounted for the test, unmounted (lazily) at its end.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& folder) : folder_(folder) {
    fs::create_directory(folder);
    mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

TEST(WriteFileInPlace, AFullDiskKeepsTheOldContentsWholeAndMakesNoNewFile) {
  qtest::TempDir dir;
  SmallDisk disk(dir / "disk");
  if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  put(dir / "disk/frame.png", "old");
  const std::string tooBig(128 << 10, 'p');
  for (const std::string name : {"frame.png", "new.png"}) {
    SCOPED_TRACE(name);
    const auto result = writeFileInPlace(dir / ("disk/" + name), bytesOf(tooBig));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, ENOSPC);
    EXPECT_EQ(result.error().message, "no room on the disk: No space left on device");
  }
  EXPECT_EQ(qtest::readFile(dir / "disk/frame.png").substr(0, 32), "old");
  EXPECT_THAT(namesIn(dir / "disk"), UnorderedElementsAre("frame.png"));
}

// A size limit on the files this process writes makes a write fail part-way
// after the space was reserved, as an I/O error would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    savedSignal_ = ::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, savedSignal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t savedSignal_ = SIG_DFL;
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

TEST(WriteFileInPlace, APathThatCannotTakeTheFileFailsAndSaysWhy) {
  qtest::TempDir dir;
  fs::create_directories(dir / "folder.png/inside");
  put(dir / "plain", "x");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const struct {
    std::string path;
    std::string says;
  } cases[] = {{dir / "no/such/out.png", "the folder " + dir / "no/such" + " does not exist"},
               {dir / "plain/out.png", dir / "plain" + " is not a folder"},
               {dir / "folder.png", "the path is a folder"},
               {dir / "fifo", "nothing reads from it (a pipe with no reader, or a device that is not there)"},
               {dir / std::string(256, 'n'), "cannot write: File name too long"},
               {"", "no file name"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto result = writeFileInPlace(c.path, bytesOf("png"));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message, c.says);
    EXPECT_EQ(result.error().kind, ErrorKind::FileWrite);
    EXPECT_EQ(result.error().path, c.path);
  }
  EXPECT_TRUE(fs::is_directory(dir / "folder.png/inside"));
  EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
  const std::string longest = dir / std::string(255, 'n');
  const auto written = writeFileInPlace(longest, bytesOf("png"));
  EXPECT_TRUE(written) << "the longest name a folder holds: " << written.error().text();
}

TEST(FileReplacement, CommitSwapsInTheNewFileAndADroppedOneLeavesNothing) {
  qtest::TempDir dir;
  const std::string target = dir / "prefs.conf";
  put(target, "old");
  const ino_t before = statOf(target).st_ino;
  {
    auto dropped = FileReplacement::prepare(target, "never", 0600);
    ASSERT_TRUE(dropped) << dropped.error().text();
    EXPECT_EQ(namesIn(dir.path()).size(), 2u) << "the prepared file waits beside the target";
  }
  EXPECT_THAT(namesIn(dir.path()), UnorderedElementsAre("prefs.conf"));
  EXPECT_EQ(qtest::readFile(target), "old");

  auto replacement = FileReplacement::prepare(target, "new", 0600);
  ASSERT_TRUE(replacement) << replacement.error().text();
  ASSERT_TRUE(replacement->commit());
  EXPECT_EQ(qtest::readFile(target), "new");
  EXPECT_NE(statOf(target).st_ino, before);
  EXPECT_EQ(statOf(target).st_mode & 07777, 0600u);
  EXPECT_THAT(namesIn(dir.path()), UnorderedElementsAre("prefs.conf"));
  EXPECT_FALSE(replacement->commit()) << "a second commit has nothing to move";

  const auto nowhere = FileReplacement::prepare(dir / "missing/prefs.conf", "new", 0600);
  ASSERT_FALSE(nowhere);
  EXPECT_THAT(nowhere.error().message, HasSubstr("cannot create a file in " + dir / "missing"));
}

TEST(FileReplacement, OnlyTemporaryNamesOfTheTargetCountAsAbandoned) {
  qtest::TempDir dir;
  for (const char* name : {"prefs.conf", "prefs.conf.tmp-Ab12Cd", "prefs.conf.tmp-notmine", "prefs.conf.tmp-",
                           "other.conf.tmp-Ab12Cd", "prefs.conf.damaged-20240101T000000Z"}) {
    put(dir / name, "x");
  }
  removeAbandonedReplacements(dir / "prefs.conf");
  EXPECT_THAT(namesIn(dir.path()),
              UnorderedElementsAre("prefs.conf", "prefs.conf.tmp-notmine", "prefs.conf.tmp-", "other.conf.tmp-Ab12Cd",
                                   "prefs.conf.damaged-20240101T000000Z"));
}

}  // namespace
}  // namespace plat::sys
