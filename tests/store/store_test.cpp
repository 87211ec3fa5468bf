// The preferences store on disk and the two preferences with their fallbacks.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/settings.h"
#include "platform/store/screen_saver_defaults.h"
#include "platform/sys/fs.h"
#include "sys/temp_env.h"

namespace quelltrine {
namespace {

using namespace settings;
using plat::store::ScreenSaverDefaults;

struct StoreTest : ::testing::Test {  // a private preferences folder per test
  void SetUp() override {
    env_.set("XDG_CONFIG_HOME", tmp_ / "config");
    env_.set("HOME", tmp_ / "home");
    ASSERT_EQ(::mkdir((tmp_ / "config").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((tmp_ / "config").c_str(), (tmp_ / "alias").c_str()), 0);
  }
  // fn in a forked child that reaches the folder through another path: it sees only what is on disk.
  // Forked from the test's one thread: a fork while another thread holds a lock can hang the child.
  bool asOtherProcess(const std::function<bool()>& fn) const { return succeeded(startOtherProcess(fn)); }
  pid_t startOtherProcess(const std::function<bool()>& fn) const {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit((::setenv("XDG_CONFIG_HOME", (tmp_ / "alias").c_str(), 1), fn()) ? 0 : 1);
    return pid;
  }
  static bool succeeded(pid_t pid) {
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  std::string storeFolder() const { return tmp_ / "config/screensaver-defaults"; }
  std::size_t count(const std::string& part) const {  // store-folder entries whose names contain part
    const auto names = plat::sys::listDirectoryNames(storeFolder()).valueOr(std::vector<std::string>{});
    return std::size_t(std::ranges::count_if(names, [&](const std::string& n) { return n.find(part) != n.npos; }));
  }
  qtest::TempDir tmp_;
  qtest::EnvGuard env_;
};

auto open(const std::string& m = "com.example.test") { return ScreenSaverDefaults::defaultsForModuleWithName(m); }

TEST_F(StoreTest, ConcurrentWritersLoseNoKeys) {
  constexpr int kKeys = 200;
  open()->setObject("before", "kept");  // the writers merge over existing content
  ASSERT_TRUE(open()->synchronize());
  std::vector<pid_t> writers;
  for (std::string tag : {"a", "b"})  // both started before either is waited for: they run at once
    writers.push_back(startOtherProcess([tag] {
      for (int i = 0; i < kKeys; ++i) {
        auto o = open();
        o->setDouble(i, tag + std::to_string(i));
        if (!o->synchronize()) return false;
      }
      return true;
    }));
  for (pid_t writer : writers) EXPECT_TRUE(succeeded(writer)) << "writer process " << writer;
  auto s = open();
  s->discardCachedFile();
  EXPECT_EQ(s->dictionaryRepresentation().size(), 2u * kKeys + 1);
  EXPECT_EQ(s->stringForKey("kept"), "before");
  EXPECT_EQ(s->doubleForKey("a199"), 199.0);
  EXPECT_EQ(s->doubleForKey("b199"), 199.0);
  EXPECT_EQ(count("damaged") + count(".tmp-"), 0u);
}

TEST_F(StoreTest, WriterKilledAtRandomMomentsNeverLeavesATornFile) {
  auto reader = open();
  reader->setObject(std::string(64 * 1024, '@'), "blob");
  reader->setObject("@", "tag");
  ASSERT_TRUE(reader->synchronize());
  for (unsigned round = 0; round < 25; ++round) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("XDG_CONFIG_HOME", (tmp_ / "alias").c_str(), 1);
      for (unsigned n = round;; ++n) {
        auto o = open();
        o->setObject(std::string(64 * 1024 + n % 7, static_cast<char>('A' + n % 26)), "blob");
        o->setObject(std::string(1, static_cast<char>('A' + n % 26)), "tag");
        o->synchronize();
      }
    }
    ::usleep(500 + (round * 7919) % 30000);  // kill at scattered moments
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    const auto tag = reader->stringForKey("tag"), blob = reader->stringForKey("blob");
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(tag);
    ASSERT_TRUE(blob);
    ASSERT_EQ(tag->size(), 1u);
    ASSERT_GE(blob->size(), 64u * 1024);
    EXPECT_EQ(blob->find_first_not_of((*tag)[0]), std::string::npos) << "the blob and the tag of one write";
  }
  reader->setDouble(1.0, "after");  // the next writer clears killed writers' temporaries
  ASSERT_TRUE(reader->synchronize());
  EXPECT_EQ(count("damaged") + count(".tmp-"), 0u);
}

TEST_F(StoreTest, DamagedFileIsReadAsFarAsGoodAndKeptAsideAtTheNextWrite) {
  const std::pair<std::string, double> cases[] = {
      {std::string("\x7f" "ELF\x02\x01\x00\x00\xff\xfe[[[", 13), 0.0},
      {"[double]\ninterval=9\n[string]\nimageFolder=/caf\xE9\n", 9.0},
      {"", 0.0}};  // "" stands for a folder in place of the file
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const auto& [contents, interval] = cases[i];
    const std::string module = "m" + std::to_string(i);
    auto s = open(module);
    if (contents.empty()) ASSERT_EQ(::mkdir(s->path().c_str(), 0700), 0);
    else std::ofstream(s->path(), std::ios::binary) << contents;
    EXPECT_EQ(s->doubleForKey("interval"), interval);
    EXPECT_EQ(s->stringForKey("imageFolder"), std::nullopt);
    s->setObject("/ok", "imageFolder");
    ASSERT_TRUE(s->synchronize());
    ASSERT_EQ(count(".damaged-"), i + 1);
    std::stringstream kept;  // the damaged file as it was (a folder reads as nothing)
    for (const auto& e : std::filesystem::directory_iterator(storeFolder()))
      if (const auto n = e.path().filename().string(); !n.rfind(module + ".", 0) && n.find(".damaged-") != n.npos)
        kept << std::ifstream(e.path()).rdbuf();
    EXPECT_EQ(kept.str(), contents);
    s->discardCachedFile();
    EXPECT_EQ(s->doubleForKey("interval"), interval) << "the good keys carry over";
    EXPECT_EQ(s->stringForKey("imageFolder"), "/ok");
  }
}

// Dotfiles kept in a repository and linked into place: writes go through the link, which stays.
TEST_F(StoreTest, ALinkedFileIsWrittenThroughToItsTargetAndTheLinkStays) {
  const std::string repo = tmp_ / "dotfiles";
  ASSERT_TRUE(std::filesystem::create_directories(repo));
  std::ofstream(repo + "/a.conf") << "[string]\nkept=from the repository\n";
  ASSERT_TRUE(open());  // the store folder exists
  for (const char* module : {"a", "dangling"}) {
    SCOPED_TRACE(module);
    const std::string link = storeFolder() + "/" + module + ".conf", holds = "../../dotfiles/" + std::string(module) + ".conf";
    ASSERT_EQ(::symlink(holds.c_str(), link.c_str()), 0);
    auto s = open(module);
    s->setDouble(21.0, "interval");
    ASSERT_TRUE(s->synchronize());
    EXPECT_EQ(std::filesystem::read_symlink(link), holds);
    EXPECT_THAT(qtest::readFile(repo + "/" + module + ".conf"), ::testing::HasSubstr("interval=21"));
  }
  EXPECT_THAT(qtest::readFile(repo + "/a.conf"), ::testing::HasSubstr("kept=from the repository"));
  for (const std::string& folder : {storeFolder(), repo})
    for (const auto& e : std::filesystem::directory_iterator(folder))
      EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

using SettingsTest = StoreTest;
TEST_F(SettingsTest, IntervalAndImageFolderFallBackUnlessValid) {
  const std::string fallback = tmp_ / "home/Pictures/Quelltrine Screensaver";
  EXPECT_EQ(effectiveInterval(), 14.0) << "nothing stored";
  EXPECT_EQ(imageFolderPath(), fallback) << "nothing stored";
  for (const auto& [stored, effective] : std::vector<std::pair<double, double>>{
           {2.0, 14.0}, {2.0000001, 2.0000001}, {std::nan(""), 14.0}, {HUGE_VAL, 14.0}, {3.5, 3.5}}) {
    storeInterval(stored);
    EXPECT_EQ(effectiveInterval(), effective) << stored;
  }
  EXPECT_TRUE(asOtherProcess([] { return effectiveInterval() == 3.5; }));  // flushed at once
  for (const auto& [stored, path] : std::vector<std::pair<std::string, std::string>>{
           {"", fallback}, {"~/Fotos", tmp_ / "home/Fotos"}}) {
    storeImageFolder(stored);
    EXPECT_EQ(imageFolderPath(), path) << stored;
  }
  open(kModuleName)->setDouble(1.0, kImageFolderKey);
  EXPECT_EQ(imageFolderPath(), fallback) << "wrong type: as if absent";
  env_.set("XDG_CONFIG_HOME", "/proc/self/nonexistent-config");
  EXPECT_EQ(effectiveInterval(), 14.0) << "the store cannot be opened";
}

}  // namespace
}  // namespace quelltrine
