// The preferences store on disk, the two preferences with their fallbacks, and the `defaults` command.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
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
  bool asOtherProcess(const std::function<bool()>& fn) const { return succeeded(startOtherProcess(fn)); }
  // Forked from the test's one thread: a fork while another thread holds a
  // lock (of malloc, of a sanitizer) can leave the child waiting forever.
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

TEST_F(StoreTest, ValuesRoundTripThroughTheFileExactlyAndKeepTheirType) {
  using L = std::numeric_limits<double>;
  const std::vector<double> doubles{0.1, 1.0 / 3.0, -0.0, L::max(), L::denorm_min(), -1e-300, HUGE_VAL, std::nan("")};
  const std::vector<std::string> texts{std::string("/m\xFCll/caf\xE9", 11), std::string("a\0b", 3),
                                       "  lead\nnew line\ttab\\back [x] = #", "", "14"};
  auto s = open();
  for (std::size_t i = 0; i < doubles.size(); ++i) s->setDouble(doubles[i], "d" + std::to_string(i));
  for (std::size_t i = 0; i < texts.size(); ++i) s->setObject(texts[i], "s" + std::to_string(i));
  s->setObject("was text", "retyped");
  s->setDouble(3.5, "retyped");  // a new type replaces the key
  ASSERT_TRUE(s->synchronize());
  EXPECT_TRUE(asOtherProcess([&] {
    auto o = open();
    bool ok = o->dictionaryRepresentation().size() == doubles.size() + texts.size() + 1;
    for (std::size_t i = 0; ok && i < doubles.size(); ++i) {
      const double d = o->doubleForKey("d" + std::to_string(i));
      ok = std::memcmp(&d, &doubles[i], sizeof d) == 0 && !o->stringForKey("d" + std::to_string(i));
    }
    for (std::size_t i = 0; ok && i < texts.size(); ++i) ok = o->stringForKey("s" + std::to_string(i)) == texts[i];
    return ok && o->doubleForKey("s4") == 0.0 && o->doubleForKey("retyped") == 3.5 && !o->stringForKey("retyped");
  }));
}

// GLib takes a key "Encoding" in a file's first group for the file's encoding; as a plain key of the store it
// must not make the written file unreadable (found by the fuzzer).
TEST_F(StoreTest, AKeyNamedEncodingIsAPlainKey) {
  const std::vector<std::pair<std::string, Value>> cases{
      {"only text", Value(std::string("latin1"))}, {"only a number", Value(4.0)}, {"not UTF-8", Value(std::string("\xff"))}};
  for (const auto& [name, value] : cases) {
    SCOPED_TRACE(name);
    auto s = open("enc-" + std::string(1, name[0]) + std::to_string(name.size()));
    std::holds_alternative<double>(value) ? s->setDouble(std::get<double>(value), "Encoding")
                                          : s->setObject(std::get<std::string>(value), "Encoding");
    ASSERT_TRUE(s->synchronize());
    s->discardCachedFile();
    EXPECT_EQ(s->fileDamage(), std::nullopt);
    const auto all = s->dictionaryRepresentation();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all.at("Encoding"), value);
  }
}

TEST_F(StoreTest, ChangesArePendingUntilSynchronizeAndOtherProcessesChangesAreSeen) {
  auto s = open();
  s->setDouble(5.0, "interval");
  EXPECT_EQ(open()->doubleForKey("interval"), 5.0);  // the same object in this process
  EXPECT_TRUE(asOtherProcess([] { return open()->doubleForKey("interval") == 0.0; }));
  ASSERT_TRUE(s->synchronize());
  s->removeObjectForKey("interval");
  EXPECT_TRUE(asOtherProcess([] { return open()->doubleForKey("interval") == 5.0; }));
  ASSERT_TRUE(s->synchronize());
  for (double v : {11.0, 22.0, -1.0}) {  // 11 and 22 give files of equal size; -1 removes
    ASSERT_TRUE(asOtherProcess([v] {
      auto o = open();
      v < 0 ? o->removeObjectForKey("interval") : o->setDouble(v, "interval");
      return o->synchronize();
    }));
    EXPECT_EQ(s->doubleForKey("interval"), v < 0 ? 0.0 : v);
  }
  for (const char* key : {"", "a=b", "[g]", " lead", "trail ", "#c", "line\nbreak", "\xFF"})
    s->setObject("v", key), s->setDouble(1.0, key);
  EXPECT_TRUE(s->dictionaryRepresentation().empty());
  s->setObject("v", "fine.key-ä");
  EXPECT_EQ(s->stringForKey("fine.key-ä"), "v");
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "../escape", "a/b", std::string("a\0b", 3)})
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
        o->setObject(tag, "last-writer");
        if (!o->synchronize()) return false;
      }
      return true;
    }));
  for (pid_t writer : writers) EXPECT_TRUE(succeeded(writer)) << "writer process " << writer;
  EXPECT_TRUE(asOtherProcess([] {
    auto o = open();
    bool ok = o->dictionaryRepresentation().size() == 2 * kKeys + 2 && o->stringForKey("kept") == "before";
    for (int i = 0; ok && i < kKeys; ++i)
      ok = o->doubleForKey("a" + std::to_string(i)) == i && o->doubleForKey("b" + std::to_string(i)) == i;
    return ok && o->stringForKey("last-writer").value_or("").size() == 1;
  }));
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
  const struct { std::string contents; double interval; bool folderKept; } cases[] = {
      {std::string("\x7f" "ELF\x02\x01\x00\x00\xff\xfe[[[", 13), 0.0, false},
      {"[double]\ninterval=", 0.0, false},
      {"[double]\ninterval=9\n[string]\nimageFolder=/caf\xE9\n", 9.0, false},
      {"[double]\ninterval=14abc\n[string]\nimageFolder=/ok\n", 0.0, true},
      {overOneMiB() + "interval=9\n", 0.0, false},
      {"", 0.0, false}};  // "" stands for a folder in place of the file
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const std::string module = "m" + std::to_string(i);
    auto s = open(module);
    if (c.contents.empty()) ASSERT_EQ(::mkdir(s->path().c_str(), 0700), 0);
    else std::ofstream(s->path(), std::ios::binary) << c.contents;
    EXPECT_EQ(s->doubleForKey("interval"), c.interval) << i;
    EXPECT_EQ(s->stringForKey("imageFolder"), c.folderKept ? std::optional<std::string>("/ok") : std::nullopt) << i;
    s->setDouble(7.0, "interval");
    ASSERT_TRUE(s->synchronize()) << i;
    ASSERT_EQ(count(".damaged-"), i + 1) << i;
    std::stringstream kept;  // the damaged file as it was (a folder reads as nothing)
    for (const auto& e : std::filesystem::directory_iterator(storeFolder()))
      if (const auto n = e.path().filename().string(); !n.rfind(module + ".", 0) && n.find(".damaged-") != n.npos)
        kept << std::ifstream(e.path()).rdbuf();
    EXPECT_EQ(kept.str(), c.contents) << i;
    EXPECT_TRUE(asOtherProcess([&] {
      auto o = open(module);
      return o->doubleForKey("interval") == 7.0 && o->stringForKey("imageFolder").has_value() == c.folderKept;
    })) << i;
  }
}

// People keep dotfiles in a repository and link them into place: writes go through every kind of link to the
// file at its end, atomically as always, and the links stay.
TEST_F(StoreTest, ALinkedFileIsWrittenThroughToItsTargetAndTheLinkStays) {
  const std::string repo = tmp_ / "dotfiles", other = tmp_ / "elsewhere";
  ASSERT_TRUE(std::filesystem::create_directories(repo + "/sub"));
  ASSERT_TRUE(std::filesystem::create_directories(other));
  struct Case {
    const char* module;
    std::vector<std::pair<std::string, std::string>> links;  // link path (relative to tmp_) and what it holds
    std::string target;                                      // the file at the end (relative to tmp_)
    bool targetExists;
  };
  const Case cases[] = {
      {"absolute", {{"config/screensaver-defaults/absolute.conf", repo + "/a.conf"}}, "dotfiles/a.conf", true},
      {"relative", {{"config/screensaver-defaults/relative.conf", "../../dotfiles/sub/b.conf"}}, "dotfiles/sub/b.conf", true},
      {"chain",
       {{"config/screensaver-defaults/chain.conf", "../../elsewhere/c-link"}, {"elsewhere/c-link", "../dotfiles/c.conf"}},
       "dotfiles/c.conf", true},
      {"dangling", {{"config/screensaver-defaults/dangling.conf", repo + "/d.conf"}}, "dotfiles/d.conf", false},
  };
  ASSERT_TRUE(open());  // the store folder exists
  for (const Case& c : cases) {
    SCOPED_TRACE(c.module);
    const std::string module = c.module;
    if (c.targetExists) std::ofstream(tmp_ / c.target) << "[string]\nkept=from the repository\n";
    for (const auto& [link, holds] : c.links) ASSERT_EQ(::symlink(holds.c_str(), (tmp_ / link).c_str()), 0) << link;
    auto s = open(module);
    s->setDouble(21.0, "interval");
    ASSERT_TRUE(s->synchronize());
    for (const auto& [link, holds] : c.links) {
      std::error_code ec;
      EXPECT_TRUE(std::filesystem::is_symlink(tmp_ / link)) << link;
      EXPECT_EQ(std::filesystem::read_symlink(tmp_ / link, ec), holds) << link;
    }
    const std::string written = qtest::readFile(tmp_ / c.target);
    EXPECT_NE(written.find("interval=21"), std::string::npos) << written;
    EXPECT_EQ(written.find("kept=from the repository") != std::string::npos, c.targetExists) << written;
    EXPECT_TRUE(asOtherProcess([&] { return open(module)->doubleForKey("interval") == 21.0; }));
  }
  // No temporary file stays behind, beside the links or the targets.
  for (const std::string& folder : {storeFolder(), repo, repo + "/sub", other}) {
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
      EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
    }
  }
}

TEST_F(StoreTest, ALinkThatCannotBeWrittenThroughFailsAndLeavesEverythingAsItWas) {
  const std::string folder = storeFolder();
  ASSERT_TRUE(open("loop"));
  const std::string precious = tmp_ / "precious";
  ASSERT_TRUE(std::filesystem::create_directories(precious));
  std::ofstream(precious + "/photo.txt") << "mine";
  struct Case {
    const char* module;
    std::string holds;
    const char* damage;  // what a reader is told, or nullptr
  };
  ASSERT_EQ(::symlink((folder + "/loop-b").c_str(), (folder + "/loop-a").c_str()), 0);
  ASSERT_EQ(::symlink((folder + "/loop-a").c_str(), (folder + "/loop-b").c_str()), 0);
  for (const Case& c : {Case{"loop", folder + "/loop-a", "Too many levels of symbolic links"},
                        Case{"folder", precious, "a folder, not a file"},
                        Case{"nowhere", tmp_ / "no-such-folder/file.conf", nullptr}}) {
    SCOPED_TRACE(c.module);
    auto s = open(c.module);
    ASSERT_EQ(::symlink(c.holds.c_str(), s->path().c_str()), 0);
    EXPECT_EQ(s->doubleForKey("interval"), 0.0);
    if (c.damage) {
      EXPECT_THAT(s->fileDamage(), ::testing::Optional(::testing::HasSubstr(c.damage)));
    } else {
      EXPECT_EQ(s->fileDamage(), std::nullopt) << "a dangling link reads as no file";
    }
    s->setDouble(9.0, "interval");
    EXPECT_FALSE(s->synchronize());
    EXPECT_TRUE(std::filesystem::is_symlink(s->path())) << "the link is not replaced";
    EXPECT_EQ(s->doubleForKey("interval"), 9.0) << "still pending for the next attempt";
  }
  EXPECT_EQ(qtest::readFile(precious + "/photo.txt"), "mine") << "a linked folder is never moved aside";
  EXPECT_EQ(count(".damaged-") + count(".tmp-"), 0u);
  // Once the link's folder exists, the pending change goes through.
  ASSERT_TRUE(std::filesystem::create_directories(tmp_ / "no-such-folder"));
  EXPECT_TRUE(open("nowhere")->synchronize());
  EXPECT_NE(qtest::readFile(tmp_ / "no-such-folder/file.conf").find("interval=9"), std::string::npos);
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
  const std::string written = qtest::readFile(repo + "/q.conf");
  EXPECT_NE(written.find("interval=9"), std::string::npos) << "the good keys carry over";
  EXPECT_NE(written.find("imageFolder=/srv"), std::string::npos);
  std::size_t kept = 0;
  for (const auto& e : std::filesystem::directory_iterator(repo)) {
    kept += e.path().filename().string().starts_with("q.conf.damaged-");
  }
  EXPECT_EQ(kept, 1u) << "beside the target";
  EXPECT_EQ(count(".damaged-"), 0u) << "nothing beside the link";
}

// What is wrong with a damaged file is said in words, one line, with what a person can act on.
TEST_F(StoreTest, DamageIsNamedInOneLine) {
  const std::pair<std::string, const char*> cases[] = {
      {std::string("\x7f" "ELF\x02\x01\x00\x00\xff\xfe[[[", 13), "not a key file"},
      {"[colours]\nsky=blue\n", "unknown group [colours]"},
      {"[a\x01\x1b[31mb]\nk=v\n", "not a key file: Invalid group name: a??[31mb"},  // control bytes made visible
      {"[double]\ninterval=14abc\n", "'interval' in [double] is not a number"},
      {"[bytes]\nimageFolder=***\n", "'imageFolder' in [bytes] is not base64"},
      {"[string]\nimageFolder=/caf\xE9\n", "'imageFolder' in [string] is not UTF-8 text"},
      {"[string]\ninterval=a\n[double]\ninterval=2\n", "the key 'interval' in two groups"},
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
    EXPECT_LE(damage->size(), 200u) << *damage;
  }
  auto fifo = open("fifo");  // read without hanging
  ASSERT_EQ(::mkfifo(fifo->path().c_str(), 0600), 0);
  EXPECT_THAT(fifo->fileDamage(), ::testing::Optional(std::string("not a regular file")));
  EXPECT_EQ(fifo->doubleForKey("interval"), 0.0);
  EXPECT_EQ(open("missing")->fileDamage(), std::nullopt);
}

// A damaged file is heard by the error sink (a host shows it with --verbose): once per version of the file, and
// not at all for a good one.
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
  EXPECT_EQ(s->dictionaryRepresentation().size(), 1u);
  ASSERT_EQ(heard->errors.size(), 1u) << "read three times, told once";
  EXPECT_EQ(heard->errors[0].kind, plat::ErrorKind::Preferences);
  EXPECT_EQ(heard->errors[0].path, s->path());
  EXPECT_THAT(heard->errors[0].message, ::testing::HasSubstr("damaged (unknown group [colours])"));

  std::ofstream(s->path()) << "[double]\ninterval=7abc\n";  // another damage, another version
  EXPECT_EQ(s->doubleForKey("interval"), 0.0);
  ASSERT_EQ(heard->errors.size(), 2u);
  EXPECT_THAT(heard->errors[1].message, ::testing::HasSubstr("'interval' in [double] is not a number"));

  std::ofstream(s->path()) << "[double]\ninterval=8\n";
  EXPECT_EQ(s->doubleForKey("interval"), 8.0);
  EXPECT_EQ(heard->errors.size(), 2u) << "a good file is not reported";
}

using SettingsTest = StoreTest;
TEST_F(SettingsTest, IntervalAndImageFolderFallBackUnlessValidAndAreFlushedAtOnce) {
  const std::string fallback = tmp_ / "home/Pictures/Quelltrine Screensaver";
  EXPECT_EQ(effectiveInterval(), 14.0) << "nothing stored";
  EXPECT_EQ(imageFolderPath(), fallback) << "nothing stored";
  for (const auto& [stored, effective] : std::vector<std::pair<double, double>>{
           {2.0, 14.0}, {2.0000001, 2.0000001}, {-5.0, 14.0}, {std::nan(""), 14.0}, {HUGE_VAL, 14.0}, {3.5, 3.5}}) {
    storeInterval(stored);
    EXPECT_EQ(effectiveInterval(), effective) << stored;
  }
  EXPECT_TRUE(asOtherProcess([] { return effectiveInterval() == 3.5; }));  // flushed at once
  open(kModuleName)->setObject("30", kIntervalKey);
  EXPECT_EQ(effectiveInterval(), 14.0);  // text is no number
  for (const auto& [stored, path] : std::vector<std::pair<std::string, std::string>>{
           {"", fallback}, {"   ", "   "}, {"/srv/", "/srv/"}, {"~/Fotos/Urlaub", tmp_ / "home/Fotos/Urlaub"}}) {
    storeImageFolder(stored);
    EXPECT_EQ(imageFolderPath(), path) << stored;
  }
  EXPECT_TRUE(asOtherProcess([&] { return imageFolderPath() == tmp_ / "home/Fotos/Urlaub"; }));
  open(kModuleName)->setDouble(1.0, kImageFolderKey);
  EXPECT_EQ(imageFolderPath(), fallback);  // wrong type: as if absent
  storeInterval(33.0);  // a store that cannot be opened gives the fallbacks, and writes are skipped
  env_.set("XDG_CONFIG_HOME", "/proc/self/nonexistent-config");
  storeInterval(50.0), storeImageFolder("/x");
  EXPECT_EQ(effectiveInterval(), 14.0) << "the store cannot be opened";
  EXPECT_EQ(imageFolderPath(), fallback) << "the store cannot be opened";
}

using DefaultsCommandTest = StoreTest;

TEST_F(DefaultsCommandTest, RoundTripPrintsNumbersAsWrittenAndBadInputExitsTwoWithOneLine) {
  EXPECT_EQ(run({"write", "imageFolder", "/srv/Bilder mit Leerzeichen"}), 0) << err_.str();
  for (const char* number : {"0.1", "14", "22.5"}) {
    EXPECT_EQ(run({"write", "interval", number}), 0) << err_.str();
    EXPECT_EQ(run({"read", "interval"}), 0) << number;
    EXPECT_EQ(out_.str(), std::string(number) + "\n");
  }
  EXPECT_EQ(run({"read"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "imageFolder = /srv/Bilder mit Leerzeichen\ninterval = 22.5\n");
  EXPECT_EQ(run({"delete", "interval"}), 0) << err_.str();
  EXPECT_EQ(run({"read", "interval"}), 1) << "a deleted key";
  EXPECT_EQ(out_.str(), "") << "a deleted key";
  EXPECT_THAT(err_.str(), ::testing::HasSubstr("interval"));
  EXPECT_TRUE(asOtherProcess([] { return effectiveInterval() == 14.0; }));
  ASSERT_EQ(run({"write", "interval", "3e1"}), 0);
  EXPECT_EQ(effectiveInterval(), 30.0);
  for (const char* bad : {"abc", "12abc", " 12", "", "nan", "inf", "0x10", "1e999"}) {
    EXPECT_EQ(run({"write", "interval", bad}), 2) << bad;
    EXPECT_EQ(std::ranges::count(err_.str(), '\n'), 1) << bad;
  }
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"read", "colour"}, {"read", "interval", "x"}, {"write", "interval"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(run(args), 2);
    EXPECT_NE(err_.str(), "");
    EXPECT_EQ(out_.str(), "");
  }
  EXPECT_EQ(effectiveInterval(), 30.0);  // nothing was written
  env_.set("XDG_CONFIG_HOME", "/proc/self/nonexistent-config");  // the store fails: exit 1
  EXPECT_EQ(run({"write", "interval", "20"}), 1);
  EXPECT_THAT(err_.str(), ::testing::HasSubstr("cannot open"));
}

TEST_F(DefaultsCommandTest, AnIntervalTheSaverDoesNotUseIsStoredAsAskedWithANote) {
  const std::string note = "defaults: note: the saver shows each picture for 14 seconds while interval is 2 or less\n";
  for (const auto& [written, readBack] : std::vector<std::pair<std::string, std::string>>{
           {"1", "1"}, {"-5", "-5"}, {"0", "0"}, {"2", "2"}, {"2.0", "2"}}) {
    SCOPED_TRACE(written);
    EXPECT_EQ(run({"write", "interval", written}), 0);
    EXPECT_EQ(err_.str(), note);
    EXPECT_EQ(run({"read", "interval"}), 0);
    EXPECT_EQ(out_.str(), readBack + "\n") << "stored as asked";
    EXPECT_EQ(effectiveInterval(), 14.0);
  }
  for (const char* used : {"2.5", "14", "600"}) {
    SCOPED_TRACE(used);
    EXPECT_EQ(run({"write", "interval", used}), 0);
    EXPECT_EQ(err_.str(), "") << "no note for a value the saver uses";
  }
}

TEST_F(DefaultsCommandTest, ReadingADamagedFileNamesItAndShowsWhatCouldBeRead) {
  const std::string path = open(kModuleName)->path();
  std::ofstream(path) << "[double]\ninterval=9\n[colours]\nsky=blue\n";
  const std::string named = "defaults: " + path +
                            " is damaged (unknown group [colours]); what could be read is shown, and the next write"
                            " keeps the file aside\n";
  EXPECT_EQ(run({"read"}), 0);
  EXPECT_EQ(out_.str(), "interval = 9\n");
  EXPECT_EQ(err_.str(), named);
  EXPECT_EQ(run({"read", "imageFolder"}), 1);
  EXPECT_EQ(err_.str(), named + "defaults: the key 'imageFolder' is not set\n");
  EXPECT_EQ(run({"write", "imageFolder", "/srv"}), 0);
  EXPECT_EQ(run({"read"}), 0);
  EXPECT_EQ(out_.str(), "imageFolder = /srv\ninterval = 9\n");
  EXPECT_EQ(err_.str(), "") << "the damaged file was kept aside at the write";
}

}  // namespace
}  // namespace quelltrine
