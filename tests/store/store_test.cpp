// The preferences store: round trips through the file, pending changes,
// several processes writing at once, writers killed mid-write, damaged files.
#include <cfloat>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/store/screen_saver_defaults.h"
#include "platform/sys/fs.h"
#include "store/store_fixture.h"

namespace plat::store {
namespace {

using qtest::StoreTest;

std::shared_ptr<ScreenSaverDefaults> open(const std::string& module = "com.example.test") {
  return ScreenSaverDefaults::defaultsForModuleWithName(module);
}

// The entries of folder that start with prefix and contain part.
std::vector<std::string> names(const std::string& folder, const std::string& part, const std::string& prefix = "") {
  std::vector<std::string> found;
  for (const std::string& name : plat::sys::listDirectoryNames(folder).value_or(std::vector<std::string>{}))
    if (name.rfind(prefix, 0) == 0 && name.find(part) != std::string::npos) found.push_back(name);
  return found;
}
std::size_t count(const std::string& folder, const std::string& part, const std::string& prefix = "") {
  return names(folder, part, prefix).size();
}

TEST_F(StoreTest, ValuesRoundTripThroughTheFileExactlyAndKeepTheirType) {
  const std::vector<double> doubles{0.1, 1.0 / 3.0, -0.0, DBL_MAX, std::numeric_limits<double>::denorm_min(),
                                    -1e-300, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
  const std::vector<std::string> texts{std::string("/m\xFCll/caf\xE9", 11), std::string("a\0b", 3),
                                       "  lead\nnew line\ttab\\back [x] = #", "", "14"};
  auto s = open();
  ASSERT_TRUE(s);
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
  s->setDouble(1.0, "e");  // the file was a good one: nothing is set aside
  ASSERT_TRUE(s->synchronize());
  EXPECT_EQ(count(storeFolder(), "damaged"), 0u);
}

TEST_F(StoreTest, ChangesArePendingUntilSynchronizeAndBadKeysAreRefused) {
  auto s = open();
  s->setDouble(5.0, "interval");
  EXPECT_EQ(open()->doubleForKey("interval"), 5.0);  // the same object in this process
  EXPECT_TRUE(asOtherProcess([] { return open()->doubleForKey("interval") == 0.0; }));
  ASSERT_TRUE(s->synchronize());
  s->removeObjectForKey("interval");
  EXPECT_TRUE(asOtherProcess([] { return open()->doubleForKey("interval") == 5.0; }));
  ASSERT_TRUE(s->synchronize());
  EXPECT_TRUE(asOtherProcess([] { return open()->dictionaryRepresentation().empty(); }));
  for (const char* key : {"", "a=b", "[g]", " lead", "trail ", "#c", "line\nbreak", "\xFF"}) {
    s->setObject("v", key);
    s->setDouble(1.0, key);
  }
  EXPECT_TRUE(s->dictionaryRepresentation().empty());
  s->setObject("v", "fine.key-ä");
  EXPECT_EQ(s->stringForKey("fine.key-ä"), "v");
}

TEST_F(StoreTest, ChangeByAnotherProcessIsSeenAtTheNextRead) {
  auto s = open();
  EXPECT_EQ(s->doubleForKey("interval"), 0.0);
  for (double v : {11.0, 22.0, -1.0}) {  // 11 and 22 give files of equal size; -1 removes
    ASSERT_TRUE(asOtherProcess([v] {
      auto o = open();
      v < 0 ? o->removeObjectForKey("interval") : o->setDouble(v, "interval");
      return o->synchronize();
    }));
    EXPECT_EQ(s->doubleForKey("interval"), v < 0 ? 0.0 : v);
  }
}

TEST_F(StoreTest, ConcurrentWritersLoseNoKeys) {
  constexpr int kKeys = 200;
  open()->setObject("before", "kept");  // the writers merge over existing content
  ASSERT_TRUE(open()->synchronize());
  auto writer = [this](std::string tag) {  // each child forked from its own thread: both run at once
    return std::thread([this, tag] {
      EXPECT_TRUE(asOtherProcess([tag] {
        bool ok = true;
        for (int i = 0; ok && i < kKeys; ++i) {
          auto o = open();
          o->setDouble(i, tag + std::to_string(i));
          o->setObject(tag, "last-writer");
          ok = o->synchronize();
        }
        return ok;
      }));
    });
  };
  std::thread a = writer("a"), b = writer("b");
  a.join();
  b.join();
  EXPECT_TRUE(asOtherProcess([] {
    auto o = open();
    bool ok = o->dictionaryRepresentation().size() == 2 * kKeys + 2 && o->stringForKey("kept") == "before";
    for (int i = 0; ok && i < kKeys; ++i)
      ok = o->doubleForKey("a" + std::to_string(i)) == i && o->doubleForKey("b" + std::to_string(i)) == i;
    return ok && (o->stringForKey("last-writer") == "a" || o->stringForKey("last-writer") == "b");
  }));
  EXPECT_EQ(count(storeFolder(), "damaged") + count(storeFolder(), ".tmp-"), 0u);
}

TEST_F(StoreTest, WriterKilledAtRandomMomentsNeverLeavesATornFile) {
  auto reader = open();
  reader->setObject(std::string(64 * 1024, '@'), "blob");
  reader->setObject("@", "tag");
  ASSERT_TRUE(reader->synchronize());
  std::mt19937 jitter(12345);
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
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(500 + jitter() % 30000));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    // Whatever the moment, the file is one complete version.
    const auto tag = reader->stringForKey("tag");
    const auto blob = reader->stringForKey("blob");
    ASSERT_TRUE(tag && blob && tag->size() == 1 && blob->size() >= 64u * 1024) << "round " << round;
    EXPECT_EQ(blob->find_first_not_of((*tag)[0]), std::string::npos) << "round " << round;
  }
  EXPECT_EQ(count(storeFolder(), "damaged"), 0u);
  reader->setDouble(1.0, "after");  // the next writer clears killed writers' temporaries
  ASSERT_TRUE(reader->synchronize());
  EXPECT_EQ(count(storeFolder(), ".tmp-"), 0u);
}

TEST_F(StoreTest, DamagedFileIsReadAsFarAsGoodAndKeptAsideAtTheNextWrite) {
  std::string huge = "[double]\n";
  while (huge.size() < 2u * 1024 * 1024) huge += "# padding padding padding padding padding padding\n";
  const struct { std::string contents; double interval; bool folderKept; } cases[] = {
      {std::string("\x7f" "ELF\x02\x01\x00\x00\xff\xfe[[[", 13), 0.0, false},
      {"[double]\ninterval=", 0.0, false},
      {"[double]\ninterval=9\n[string]\nimageFolder=/caf\xE9\n", 9.0, false},
      {"[double]\ninterval=14abc\n[string]\nimageFolder=/ok\n", 0.0, true},
      {"[bytes]\ninterval=@@@\n", 0.0, false},
      {huge + "interval=9\n", 0.0, false},
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
    const auto aside = names(storeFolder(), ".damaged-", module + ".");
    ASSERT_EQ(aside.size(), 1u) << i;
    std::stringstream kept;  // the damaged file as it was (a folder reads as nothing)
    kept << std::ifstream(storeFolder() + "/" + aside[0], std::ios::binary).rdbuf();
    EXPECT_EQ(kept.str(), c.contents) << i;
    EXPECT_TRUE(asOtherProcess([&] {
      auto o = open(module);
      return o->doubleForKey("interval") == 7.0 && o->stringForKey("imageFolder").has_value() == c.folderKept;
    })) << i;
    s->setDouble(8.0, "interval");  // the new file is good: nothing more is set aside
    ASSERT_TRUE(s->synchronize());
    EXPECT_EQ(count(storeFolder(), ".damaged-", module + "."), 1u) << i;
  }
  auto fifo = open("fifo");  // a reader does not hang on a FIFO
  ASSERT_EQ(::mkfifo(fifo->path().c_str(), 0600), 0);
  EXPECT_EQ(fifo->doubleForKey("interval"), 0.0);
}

TEST_F(StoreTest, FolderComesFromTheEnvironmentAndBadPlacesOrNamesGiveNoStore) {
  const std::string inHome = tmp_ / "home/.config/screensaver-defaults/com.example.test.conf";
  env_.set("XDG_CONFIG_HOME", "relative/dir");  // ignored, as if unset
  EXPECT_EQ(open()->path(), inHome);
  env_.set("XDG_CONFIG_HOME", tmp_ / "config");
  EXPECT_EQ(open()->path(), storeFolder() + "/com.example.test.conf");
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "../escape", "a/b", std::string("a\0b", 3)})
    EXPECT_FALSE(open(bad)) << bad;
  std::ofstream(tmp_ / "plainfile") << "x";
  env_.set("XDG_CONFIG_HOME", tmp_ / "plainfile/sub");
  EXPECT_FALSE(open());
}

}  // namespace
}  // namespace plat::store
