// The preferences store: typed round trips through the file, pending changes,
// several processes writing at once, writers killed mid-write, damaged files,
// and the cache that keeps reads cheap.
#include <cfloat>
#include <fcntl.h>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/store/screen_saver_defaults.h"
#include "platform/sys/fs.h"
#include "store/store_fixture.h"

namespace plat::store {
namespace {

using qtest::StoreTest;
constexpr const char* kModule = "com.example.test";

std::shared_ptr<ScreenSaverDefaults> open(const char* module = kModule) {
  return ScreenSaverDefaults::defaultsForModuleWithName(module);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

std::vector<std::string> namesWith(const std::string& folder, const std::string& part) {
  std::vector<std::string> found;
  for (const std::string& n : plat::sys::listDirectoryNames(folder).value_or(std::vector<std::string>{})) {
    if (n.find(part) != std::string::npos) found.push_back(n);
  }
  return found;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(StoreTest, DoublesRoundTripBitForBitThroughTheFile) {
  const std::vector<double> values{0.1, 1.0 / 3.0, -0.0, 14.0, 2.5, DBL_MAX, DBL_MIN,
                                   std::numeric_limits<double>::denorm_min(), -1e-300,
                                   std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN()};
  ASSERT_TRUE(asOtherProcess([&] {
    auto s = open();
    if (!s) return false;
    for (std::size_t i = 0; i < values.size(); ++i) s->setDouble(values[i], "d" + std::to_string(i));
    return s->synchronize();
  }));
  auto s = open();
  ASSERT_TRUE(s);
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_TRUE(sameBits(s->doubleForKey("d" + std::to_string(i)), values[i])) << i;
  }
}

TEST_F(StoreTest, StringsAndDoublesStayApart) {
  auto s = open();
  ASSERT_TRUE(s);
  s->setObject("14", "text");
  s->setDouble(14.0, "number");
  ASSERT_TRUE(s->synchronize());
  EXPECT_TRUE(asOtherProcess([] {
    auto o = open();
    return o && o->stringForKey("text") == "14" && o->doubleForKey("text") == 0.0 &&
           o->doubleForKey("number") == 14.0 && !o->stringForKey("number") &&
           !o->stringForKey("absent") && o->doubleForKey("absent") == 0.0;
  }));
  // Changing a key's type replaces it.
  s->setDouble(3.5, "text");
  ASSERT_TRUE(s->synchronize());
  EXPECT_TRUE(asOtherProcess([] {
    auto o = open();
    return o && !o->stringForKey("text") && o->doubleForKey("text") == 3.5 && o->dictionaryRepresentation().size() == 2;
  }));
}

TEST_F(StoreTest, TextThatIsNotUtf8OrHoldsControlsRoundTrips) {
  const std::string latin1("/m\xFCll/caf\xE9", 11);
  const std::string withNul("a\0b", 3);
  const std::string tricky = "  leading blanks\nnew line\ttab\\back [x] = #";
  auto s = open();
  ASSERT_TRUE(s);
  s->setObject(latin1, "a");
  s->setObject(withNul, "b");
  s->setObject(tricky, "c");
  s->setObject("", "d");
  ASSERT_TRUE(s->synchronize());
  EXPECT_TRUE(asOtherProcess([&] {
    auto o = open();
    return o && o->stringForKey("a") == latin1 && o->stringForKey("b") == withNul &&
           o->stringForKey("c") == tricky && o->stringForKey("d") == "";
  }));
  // The file is a good one: synchronizing again sets nothing aside.
  s->setDouble(1.0, "e");
  ASSERT_TRUE(s->synchronize());
  EXPECT_TRUE(namesWith(storeFolder(), "damaged").empty());
}

TEST_F(StoreTest, ChangesArePendingUntilSynchronizeButSeenInThisProcessAtOnce) {
  auto s = open();
  ASSERT_TRUE(s);
  s->setDouble(5.0, "interval");
  auto again = open();
  EXPECT_EQ(again.get(), s.get());
  EXPECT_EQ(again->doubleForKey("interval"), 5.0);
  EXPECT_TRUE(asOtherProcess([] { return open()->doubleForKey("interval") == 0.0; }));
  ASSERT_TRUE(again->synchronize());
  EXPECT_TRUE(asOtherProcess([] { return open()->doubleForKey("interval") == 5.0; }));

  s->removeObjectForKey("interval");
  EXPECT_EQ(s->doubleForKey("interval"), 0.0);
  EXPECT_TRUE(s->dictionaryRepresentation().empty());
  EXPECT_TRUE(asOtherProcess([] { return open()->doubleForKey("interval") == 5.0; }));
  ASSERT_TRUE(s->synchronize());
  EXPECT_TRUE(asOtherProcess([] { return open()->dictionaryRepresentation().empty(); }));
}

TEST_F(StoreTest, KeysAFileCannotHoldAreRefused) {
  auto s = open();
  ASSERT_TRUE(s);
  for (const std::string& key : std::vector<std::string>{"", "a=b", "[g]", " lead", "trail ", "#c", "line\nbreak", std::string("\xFF", 1)}) {
    s->setObject("v", key);
    s->setDouble(1.0, key);
    EXPECT_FALSE(ScreenSaverDefaults::isValidKey(key)) << key;
  }
  EXPECT_TRUE(s->dictionaryRepresentation().empty());
  s->setObject("v", "fine.key-ä");
  EXPECT_EQ(s->stringForKey("fine.key-ä"), "v");
}

TEST_F(StoreTest, ChangeByAnotherProcessIsSeenAtTheNextRead) {
  auto s = open();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->doubleForKey("interval"), 0.0);
  // 11 and 22 give files of equal size: the cache must notice anyway.
  for (double v : {11.0, 22.0, 33.0}) {
    ASSERT_TRUE(asOtherProcess([v] {
      auto o = open();
      o->setDouble(v, "interval");
      return o->synchronize();
    }));
    EXPECT_EQ(s->doubleForKey("interval"), v);
  }
  ASSERT_TRUE(asOtherProcess([] {
    auto o = open();
    o->removeObjectForKey("interval");
    return o->synchronize();
  }));
  EXPECT_EQ(s->doubleForKey("interval"), 0.0);
}

TEST_F(StoreTest, FailedSynchronizeKeepsTheChangesPending) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  auto s = open();
  ASSERT_TRUE(s);
  ASSERT_EQ(::chmod(storeFolder().c_str(), 0500), 0);
  s->setDouble(6.0, "interval");
  EXPECT_FALSE(s->synchronize());
  EXPECT_EQ(s->doubleForKey("interval"), 6.0);
  ASSERT_EQ(::chmod(storeFolder().c_str(), 0700), 0);
  EXPECT_TRUE(s->synchronize());
  EXPECT_TRUE(asOtherProcess([] { return open()->doubleForKey("interval") == 6.0; }));
}

TEST_F(StoreTest, UnchangedFileIsNotParsedAgain) {
  auto s = open();
  ASSERT_TRUE(s);
  s->setDouble(11.0, "interval");
  ASSERT_TRUE(s->synchronize());
  EXPECT_EQ(s->doubleForKey("interval"), 11.0);
  // Rewrite in place with the same size and put the old mtime back: the
  // identity is unchanged, so the cached value stands...
  struct stat before {};
  ASSERT_EQ(::stat(s->path().c_str(), &before), 0);
  std::string data = readFile(s->path());
  const auto at = data.find("=11");
  ASSERT_NE(at, std::string::npos);
  data.replace(at, 3, "=77");
  {
    std::fstream f(s->path(), std::ios::in | std::ios::out | std::ios::binary);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
  }
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, s->path().c_str(), times, 0), 0);
  EXPECT_EQ(s->doubleForKey("interval"), 11.0);
  // ...until the cache is dropped.
  s->discardCachedFile();
  EXPECT_EQ(s->doubleForKey("interval"), 77.0);
}

TEST_F(StoreTest, ConcurrentWritersLoseNoKeys) {
  constexpr int kKeys = 200;
  // Prime the file so the writers merge over existing content.
  {
    auto s = open();
    s->setObject("before", "kept");
    ASSERT_TRUE(s->synchronize());
  }
  auto writer = [this](char tag) {
    return std::thread([this, tag] {
      EXPECT_TRUE(asOtherProcess([tag] {
        for (int i = 0; i < kKeys; ++i) {
          auto o = open();
          if (!o) return false;
          o->setDouble(i, std::string(1, tag) + std::to_string(i));
          o->setObject(std::string(1, tag), "last-writer");
          if (!o->synchronize()) return false;
        }
        return true;
      }));
    });
  };
  // Each child is forked from its own thread so that both run at once.
  std::thread a = writer('a');
  std::thread b = writer('b');
  a.join();
  b.join();
  EXPECT_TRUE(asOtherProcess([] {
    auto o = open();
    const auto all = o->dictionaryRepresentation();
    if (all.size() != 2 * kKeys + 2) return false;
    for (int i = 0; i < kKeys; ++i) {
      for (char tag : {'a', 'b'}) {
        const std::string key = std::string(1, tag) + std::to_string(i);
        auto it = all.find(key);
        if (it == all.end() || std::get<double>(it->second) != i) return false;
      }
    }
    const auto last = o->stringForKey("last-writer");
    return o->stringForKey("kept") == "before" && (last == "a" || last == "b");
  }));
  EXPECT_TRUE(namesWith(storeFolder(), "damaged").empty());
  EXPECT_TRUE(namesWith(storeFolder(), ".tmp-").empty());
}

TEST_F(StoreTest, WriterKilledAtRandomMomentsNeverLeavesATornFile) {
  {
    auto s = open();
    s->setObject(std::string(64 * 1024, '@'), "blob");
    s->setObject("@", "tag");
    ASSERT_TRUE(s->synchronize());
  }
  std::mt19937 jitter(12345);
  auto reader = open();
  int interrupted = 0;  // rounds killed while a temporary file was out
  for (int round = 0; round < 25; ++round) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("XDG_CONFIG_HOME", (tmp_ / "alias").c_str(), 1);
      for (unsigned n = 0;; ++n) {
        auto o = open();
        const char c = static_cast<char>('A' + (n + static_cast<unsigned>(round)) % 26);
        o->setObject(std::string(64 * 1024 + n % 7, c), "blob");
        o->setObject(std::string(1, c), "tag");
        o->synchronize();
      }
    }
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(500 + jitter() % 30000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);

    if (!namesWith(storeFolder(), ".tmp-").empty()) ++interrupted;
    // Whatever the moment, the file is one complete version.
    const auto tag = reader->stringForKey("tag");
    const auto blob = reader->stringForKey("blob");
    ASSERT_TRUE(tag && blob) << "round " << round;
    ASSERT_EQ(tag->size(), 1u);
    ASSERT_GE(blob->size(), 64u * 1024);
    EXPECT_EQ(blob->find_first_not_of((*tag)[0]), std::string::npos) << "round " << round;
  }
  EXPECT_TRUE(namesWith(storeFolder(), "damaged").empty());
  RecordProperty("interrupted_mid_write", interrupted);
  // Temporary files of killed writers are cleared by the next writer.
  reader->setDouble(1.0, "after");
  ASSERT_TRUE(reader->synchronize());
  EXPECT_TRUE(namesWith(storeFolder(), ".tmp-").empty());
}

struct DamagedCase {
  const char* name;
  std::string contents;
  double readable = 0.0;  // what readers still get for "interval"
};

class DamagedFileTest : public StoreTest, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedFileTest, ReadersFallBackAndTheFileIsKeptAside) {
  const DamagedCase& c = GetParam();
  auto s = open();
  ASSERT_TRUE(s);
  writeFile(s->path(), c.contents);

  EXPECT_EQ(s->doubleForKey("interval"), c.readable);
  EXPECT_FALSE(s->stringForKey("interval"));
  EXPECT_FALSE(s->stringForKey("imageFolder"));

  s->setDouble(7.0, "interval");
  ASSERT_TRUE(s->synchronize());
  const auto aside = namesWith(storeFolder(), ".damaged-");
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(readFile(storeFolder() + "/" + aside[0]), c.contents);
  EXPECT_TRUE(asOtherProcess([] { return open()->doubleForKey("interval") == 7.0; }));
  // The new file is good: nothing more is set aside.
  s->setDouble(8.0, "interval");
  ASSERT_TRUE(s->synchronize());
  EXPECT_EQ(namesWith(storeFolder(), ".damaged-").size(), 1u);
}

std::string hugeFile() {
  std::string s = "[double]\n";
  while (s.size() < 2u * 1024 * 1024) s += "# padding padding padding padding padding padding\n";
  return s + "interval=9\n";
}

INSTANTIATE_TEST_SUITE_P(
    Store, DamagedFileTest,
    ::testing::Values(DamagedCase{"garbage", std::string("\x7f" "ELF\x02\x01\x00\x00\xff\xfe[[[", 13)},
                      DamagedCase{"truncated_value", "[double]\ninterval="},
                      DamagedCase{"cut_group", "[doub"},
                      DamagedCase{"not_utf8", "[double]\ninterval=9\n[string]\nimageFolder=/caf\xE9\n", 9.0},
                      DamagedCase{"wrong_type", "[double]\ninterval=fourteen\n"},
                      DamagedCase{"junk_after_number", "[double]\ninterval=14abc\n"},
                      DamagedCase{"unknown_group", "[color]\ninterval=9\n"},
                      DamagedCase{"bad_base64", "[bytes]\ninterval=@@@\n"},
                      DamagedCase{"huge", hugeFile()}),
    [](const ::testing::TestParamInfo<DamagedCase>& p) { return std::string(p.param.name); });

TEST_F(StoreTest, GoodKeysOfADamagedFileAreKept) {
  auto s = open();
  ASSERT_TRUE(s);
  writeFile(s->path(), "[double]\ninterval=fourteen\n[string]\nimageFolder=/ok\n");
  EXPECT_EQ(s->stringForKey("imageFolder"), "/ok");
  EXPECT_EQ(s->doubleForKey("interval"), 0.0);
  s->setDouble(9.0, "other");
  ASSERT_TRUE(s->synchronize());
  EXPECT_EQ(namesWith(storeFolder(), ".damaged-").size(), 1u);
  EXPECT_TRUE(asOtherProcess([] {
    auto o = open();
    return o->stringForKey("imageFolder") == "/ok" && o->doubleForKey("other") == 9.0 &&
           o->dictionaryRepresentation().count("interval") == 0;
  }));
}

TEST_F(StoreTest, AFolderInPlaceOfTheFileIsMovedAside) {
  auto s = open();
  ASSERT_TRUE(s);
  ASSERT_EQ(::mkdir(s->path().c_str(), 0700), 0);
  EXPECT_EQ(s->doubleForKey("interval"), 0.0);
  s->setDouble(7.0, "interval");
  ASSERT_TRUE(s->synchronize());
  EXPECT_EQ(namesWith(storeFolder(), ".damaged-").size(), 1u);
  EXPECT_TRUE(asOtherProcess([] { return open()->doubleForKey("interval") == 7.0; }));
}

TEST_F(StoreTest, FifoInPlaceOfTheFileDoesNotHangAReader) {
  auto s = open();
  ASSERT_TRUE(s);
  ASSERT_EQ(::mkfifo(s->path().c_str(), 0600), 0);
  EXPECT_EQ(s->doubleForKey("interval"), 0.0);
}

TEST_F(StoreTest, FolderComesFromTheEnvironmentAtEachOpen) {
  env_.unset("XDG_CONFIG_HOME");
  auto s = open();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->path(), tmp_ / "home/.config/screensaver-defaults/com.example.test.conf");
  // A relative XDG_CONFIG_HOME is ignored.
  env_.set("XDG_CONFIG_HOME", "relative/dir");
  EXPECT_EQ(open()->path(), s->path());
  env_.set("XDG_CONFIG_HOME", tmp_ / "config");
  EXPECT_EQ(open()->path(), storeFile(kModule));
}

TEST_F(StoreTest, StoreThatCannotBeOpened) {
  writeFile(tmp_ / "plainfile", "x");
  env_.set("XDG_CONFIG_HOME", tmp_ / "plainfile/sub");
  EXPECT_FALSE(open());
  env_.set("XDG_CONFIG_HOME", tmp_ / "config");
  for (const char* bad : {"", ".", "..", "../escape", "a/b"}) {
    EXPECT_FALSE(ScreenSaverDefaults::defaultsForModuleWithName(bad)) << bad;
  }
  EXPECT_FALSE(ScreenSaverDefaults::defaultsForModuleWithName(std::string("a\0b", 3)));
  if (::geteuid() != 0) {
    ASSERT_EQ(::mkdir((tmp_ / "locked").c_str(), 0), 0);
    env_.set("XDG_CONFIG_HOME", tmp_ / "locked");
    EXPECT_FALSE(open());
  }
}

}  // namespace
}  // namespace plat::store
