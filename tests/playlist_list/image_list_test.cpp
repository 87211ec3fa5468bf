// The folder scan: which entries are kept, their order, and the play order dealt over them.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <ranges>

#include <gtest/gtest.h>

#include "playlist/image_list.h"
#include "sys/temp_env.h"
#include "sys/test_random.h"

namespace quelltrine {
namespace {

// Scans dir with a seeded source; the names kept (less "dir/"), after checking the play order is fresh.
std::vector<std::string> scan(Playlist& p, const std::string& dir) {
  qtest::SeededRandom rng(7);
  loadImageList(p, dir, rng);
  std::vector<std::string> names;
  for (const std::string& url : p.imageURLs) names.push_back(url.substr(url.rfind(dir + "/", 0) ? 0 : dir.size() + 1));
  std::vector<std::int64_t> order = p.order;
  std::ranges::sort(order);
  std::vector<std::int64_t> everyIndex(names.size());
  std::iota(everyIndex.begin(), everyIndex.end(), std::int64_t{0});
  EXPECT_EQ(order, everyIndex) << "a permutation of the pictures";
  EXPECT_EQ(p.orderPos, 0);
  return names;
}

TEST(LoadImageList, KeepsSixTypesOfFilesAndFoldersButNothingHiddenOrNestedSortedAsUnicodeText) {
  qtest::TempDir dir;
  const std::string composed = "caf\xC3\xA9.jpg", decomposed = "cafe\xCC\x81x.jpg", latin1 = "caf\xE9.jpg";
  for (const std::string& f : std::vector<std::string>{"b.jpg", "B.JPG", "A.jpeg", "img2.png", "img10.png", "notes.txt",
                                                      ".hidden.jpg", "cafz.jpg", "noext", decomposed, composed, latin1})
    std::ofstream(dir / f) << "";
  for (const char* sub : {"holiday.png", "nested"}) std::filesystem::create_directories(dir / sub);
  std::ofstream(dir / "nested/inside.jpg") << "";
  // Case-sensitive, not numeric; é after 'z'; the decomposed name as if
  // composed ('x' > '.'); the Latin-1 byte 0xE9 after the UTF-8 lead 0xC3.
  Playlist p;
  EXPECT_EQ(scan(p, dir.path()), (std::vector<std::string>{"A.jpeg", "B.JPG", "b.jpg", "cafz.jpg", composed, decomposed,
                                                            latin1, "holiday.png", "img10.png", "img2.png"}));
}

TEST(LoadImageList, RescanReplacesEverythingAndAFolderThatCannotBeListedEmptiesTheList) {
  qtest::TempDir dir;
  for (const char* f : {"only.png", "a.png", "b.png"}) std::ofstream(dir / f) << "";
  Playlist p{{"/old/a.jpg", "/old/b.jpg", "/old/c.jpg", "/old/d.jpg"}, {2, 0, 3, 1}, 2};
  // A trailing slash adds no empty component.
  EXPECT_EQ(scan(p, dir.path() + "/"), (std::vector<std::string>{dir / "a.png", dir / "b.png", dir / "only.png"}));
  std::filesystem::create_directory(dir / "empty");
  for (const std::string& folder : {dir / "missing", dir / "only.png", dir / "empty"}) {
    p = Playlist{{"/old/a.jpg", "/old/b.jpg"}, {1, 0}, 1};
    EXPECT_TRUE(scan(p, folder).empty()) << folder;
  }
}

}  // namespace
}  // namespace quelltrine
