// The preferences store on disk, the two preferences with their fallbacks, and the `defaults` command.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/defaults_command.h"
#include "host/settings.h"
#include "platform/error_sink.h"
#include "platform/store/screen_saver_defaults.h"
#include "platform/sys/fs.h"
#include "sys/temp_env.h"

namespace quelltrine {
namespace {

using namespace settings;
using plat::store::ScreenSaverDefaults;
using plat::store::Value;

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
  int run(const std::vector<std::string>& args) {  // the defaults command
    out_.str(""), err_.str("");
    return runDefaultsCommand(args, out_, err_);
  }
  std::size_t count(const std::string& part) const {  // store-folder entries whose names contain part
    const auto names = plat::sys::listDirectoryNames(storeFolder()).valueOr(std::vector<std::string>{});
    return std::size_t(std::ranges::count_if(names, [&](const std::string& n) { return n.find(part) != n.npos; }));
  }
  qtest::TempDir tmp_;
  qtest::EnvGuard env_;
  std::ostringstream out_, err_;
};

auto open(const std::string& m = "com.example.test") { return ScreenSaverDefaults::defaultsForModuleWithName(m); }

std::string overOneMiB() {  // a key file larger than the store reads
  std::string huge = "[double]\n";
  while (huge.size() < 2u * 1024 * 1024) huge += "# padding padding padding padding padding padding\n";
  return huge;
}

TEST_F(StoreTest, ValuesRoundTripThroughTheFileExactly) {
  const std::vector<double> doubles{0.1, -0.0, std::numeric_limits<double>::denorm_min(), std::nan("")};
  const std::vector<std::string> texts{std::string("a\0b", 3), "  lead\nnew line\\back [x] = #", "14"};
  auto s = open();
  for (std::size_t i = 0; i < doubles.size(); ++i) s->setDouble(doubles[i], "d" + std::to_string(i));
  for (std::size_t i = 0; i < texts.size(); ++i) s->setObject(texts[i], "s" + std::to_string(i));
  ASSERT_TRUE(s->synchronize());
  s->discardCachedFile();  // read back from the file
  for (std::size_t i = 0; i < doubles.size(); ++i) {
    const double d = s->doubleForKey("d" + std::to_string(i));
    EXPECT_EQ(std::memcmp(&d, &doubles[i], sizeof d), 0) << doubles[i];
  }
  for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(s->stringForKey("s" + std::to_string(i)), texts[i]);
  EXPECT_EQ(s->doubleForKey("s2"), 0.0) << "text is no number";
}

// GLib takes a key "Encoding" in a file's first group for the file's encoding (found by the fuzzer).
TEST_F(StoreTest, AKeyNamedEncodingIsAPlainKey) {
  for (const Value& value : {Value(std::string("latin1")), Value(4.0)}) {
    SCOPED_TRACE(::testing::PrintToString(value));
    auto s = open(std::holds_alternative<double>(value) ? "enc-number" : "enc-text");
    std::holds_alternative<double>(value) ? s->setDouble(std::get<double>(value), "Encoding")
                                          : s->setObject(std::get<std::string>(value), "Encoding");
    ASSERT_TRUE(s->synchronize());
    s->discardCachedFile();
    EXPECT_EQ(s->fileDamage(), std::nullopt);
    EXPECT_EQ(s->dictionaryRepresentation(), (std::map<std::string, Value>{{"Encoding", value}}));
  }
}

TEST_F(StoreTest, ChangesArePendingUntilSynchronizeAndOtherProcessesChangesAreSeen) {
  auto s = open();
  s->setDouble(5.0, "interval");
  EXPECT_TRUE(asOtherProcess([] { return open()->doubleForKey("interval") == 0.0; }));
  ASSERT_TRUE(s->synchronize());
  for (double v : {11.0, 22.0}) {  // files of equal size
    ASSERT_TRUE(asOtherProcess([v] {
      auto o = open();
      o->setDouble(v, "interval");
      return o->synchronize();
    }));
    EXPECT_EQ(s->doubleForKey("interval"), v);
  }
}

TEST_F(StoreTest, NamesThatWouldBreakTheFileOrLeaveTheFolderAreRefused) {
  auto s = open();
  for (const char* key : {"", "a=b", "[g]", "line\nbreak", "\xFF"}) s->setObject("v", key);
  EXPECT_TRUE(s->dictionaryRepresentation().empty());
  for (const std::string& bad : std::vector<std::string>{"", "..", "../escape", "a/b", std::string("a\0b", 3)})
    EXPECT_FALSE(open(bad)) << bad;
  env_.set("XDG_CONFIG_HOME", "relative/dir");  // ignored, as if unset
  EXPECT_EQ(open()->path(), tmp_ / "home/.config/screensaver-defaults/com.example.test.conf");
}

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

TEST_F(StoreTest, ALinkThatCannotBeWrittenThroughFailsAndLeavesEverythingAsItWas) {
  const std::string precious = tmp_ / "precious";
  ASSERT_TRUE(std::filesystem::create_directories(precious));
  std::ofstream(precious + "/photo.txt") << "mine";
  for (const auto& [module, holds] : {std::pair<std::string, std::string>{"folder", precious},
                                      {"nowhere", tmp_ / "no-such-folder/file.conf"}}) {
    SCOPED_TRACE(module);
    auto s = open(module);
    ASSERT_EQ(::symlink(holds.c_str(), s->path().c_str()), 0);
    s->setDouble(9.0, "interval");
    EXPECT_FALSE(s->synchronize());
    EXPECT_TRUE(std::filesystem::is_symlink(s->path())) << "the link is not replaced";
    EXPECT_EQ(s->doubleForKey("interval"), 9.0) << "still pending for the next attempt";
  }
  EXPECT_EQ(qtest::readFile(precious + "/photo.txt"), "mine") << "a linked folder is never moved aside";
  EXPECT_EQ(count(".damaged-") + count(".tmp-"), 0u);
  ASSERT_TRUE(std::filesystem::create_directories(tmp_ / "no-such-folder"));
  EXPECT_TRUE(open("nowhere")->synchronize()) << "once the link's folder exists";
  EXPECT_THAT(qtest::readFile(tmp_ / "no-such-folder/file.conf"), ::testing::HasSubstr("interval=9"));
}

TEST_F(StoreTest, ADamagedLinkedFileIsKeptAsideBesideItself) {
  const std::string repo = tmp_ / "dotfiles";
  ASSERT_TRUE(std::filesystem::create_directories(repo));
  std::ofstream(repo + "/q.conf") << "[double]\ninterval=9\n[colours]\nsky=blue\n";
  auto s = open("q");
  ASSERT_EQ(::symlink((repo + "/q.conf").c_str(), s->path().c_str()), 0);
  s->setObject("/srv", "imageFolder");
  ASSERT_TRUE(s->synchronize());
  EXPECT_TRUE(std::filesystem::is_symlink(s->path()));
  EXPECT_THAT(qtest::readFile(repo + "/q.conf"), ::testing::HasSubstr("imageFolder=/srv"));
  std::size_t kept = 0;
  for (const auto& e : std::filesystem::directory_iterator(repo))
    kept += e.path().filename().string().starts_with("q.conf.damaged-");
  EXPECT_EQ(kept, 1u) << "beside the target";
  EXPECT_EQ(count(".damaged-"), 0u) << "nothing beside the link";
}

// What is wrong is said in one line a terminal shows safely; a pipe or a huge file is not read.
TEST_F(StoreTest, DamageIsNamedInOneLine) {
  const std::pair<std::string, const char*> cases[] = {
      {"[a\x01\x1b[31mb]\nk=v\n", "Invalid group name: a??[31mb"},
      {overOneMiB(), "larger than 1 MiB"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    auto s = open("damage" + std::to_string(i));
    std::ofstream(s->path(), std::ios::binary) << cases[i].first;
    const auto damage = s->fileDamage();
    ASSERT_TRUE(damage);
    EXPECT_THAT(*damage, ::testing::HasSubstr(cases[i].second));
    EXPECT_EQ(damage->find('\n'), std::string::npos) << *damage;
  }
  auto fifo = open("fifo");
  ASSERT_EQ(::mkfifo(fifo->path().c_str(), 0600), 0);
  EXPECT_THAT(fifo->fileDamage(), ::testing::Optional(std::string("not a regular file")));
}

TEST_F(StoreTest, ADamagedFileIsReportedOncePerVersion) {
  struct Heard : plat::ErrorSink {
    void failed(const plat::Error& e) override { errors.push_back(e); }
    std::vector<plat::Error> errors;
  };
  auto heard = std::make_shared<Heard>();
  plat::ScopedErrorSink scope(heard);
  auto s = open("told");
  std::ofstream(s->path()) << "[double]\ninterval=9\n[colours]\nsky=blue\n";
  EXPECT_EQ(s->doubleForKey("interval"), 9.0);
  EXPECT_EQ(s->stringForKey("imageFolder"), std::nullopt);
  EXPECT_EQ(heard->errors.size(), 1u) << "read twice, told once";
  std::ofstream(s->path()) << "[double]\ninterval=7abc\n";  // another version
  EXPECT_EQ(s->doubleForKey("interval"), 0.0);
  EXPECT_EQ(heard->errors.size(), 2u);
  std::ofstream(s->path()) << "[double]\ninterval=8\n";
  EXPECT_EQ(s->doubleForKey("interval"), 8.0);
  EXPECT_EQ(heard->errors.size(), 2u) << "a good file is not reported";
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

using DefaultsCommandTest = StoreTest;
TEST_F(DefaultsCommandTest, NumbersPrintAsWrittenAndBadInputExitsTwoWithOneLine) {
  for (const char* number : {"0.1", "22.5"}) {
    EXPECT_EQ(run({"write", "interval", number}), 0) << err_.str();
    EXPECT_EQ(run({"read", "interval"}), 0) << number;
    EXPECT_EQ(out_.str(), std::string(number) + "\n");
  }
  EXPECT_EQ(run({"delete", "interval"}), 0) << err_.str();
  EXPECT_EQ(run({"read", "interval"}), 1) << "a deleted key";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"write", "interval", "12abc"}, {"write", "interval", "nan"}, {"write", "interval", "1e999"}, {}, {"frobnicate"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(run(args), 2);
    EXPECT_EQ(std::ranges::count(err_.str(), '\n'), 1);
  }
  env_.set("XDG_CONFIG_HOME", "/proc/self/nonexistent-config");  // the store fails: exit 1
  EXPECT_EQ(run({"write", "interval", "20"}), 1);
}

TEST_F(DefaultsCommandTest, AnIntervalTheSaverDoesNotUseIsStoredAsAskedWithANote) {
  EXPECT_EQ(run({"write", "interval", "2"}), 0);
  EXPECT_THAT(err_.str(), ::testing::HasSubstr("note"));
  EXPECT_EQ(run({"read", "interval"}), 0);
  EXPECT_EQ(out_.str(), "2\n") << "stored as asked";
  EXPECT_EQ(run({"write", "interval", "2.5"}), 0);
  EXPECT_EQ(err_.str(), "") << "no note for a value the saver uses";
}

}  // namespace
}  // namespace quelltrine
