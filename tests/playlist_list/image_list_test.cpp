// The folder scan: which entries are kept, their order, and the play order
// dealt over them.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "playlist/image_list.h"
#include "sys/temp_env.h"
#include "sys/test_random.h"

namespace quelltrine {
namespace {

// Scans dir with a seeded source; the kept names, after checking that each
// URL is dir + "/" + name and that the order is a fresh permutation.
std::vector<std::string> scan(Playlist& p, const std::string& dir) {
  qtest::SeededRandom rng(7);
  loadImageList(p, dir, rng);
  std::vector<std::string> names;
  for (const std::string& url : p.imageURLs) names.push_back(url.substr(dir.size() + 1));
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(p.imageURLs[i], dir + "/" + names[i]);
  std::vector<std::int64_t> order = p.order;
  std::sort(order.begin(), order.end());
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], static_cast<std::int64_t>(i));
  EXPECT_EQ(order.size(), names.size());
  EXPECT_EQ(p.orderPos, 0);
  return names;
}

TEST(AcceptedExtension, SixTypesInAnyCaseAfterTheLastDot) {
  for (const char* ok : {"beach.JPG", "b.Jpeg", "x.png", "x.HEIC", "x.tiff", "x.bmp", "archive.tar.png"})
    EXPECT_TRUE(hasAcceptedExtension(ok)) << ok;
  for (const char* no : {"x.tif", "x.gif", "x.heif", "jpg", "trailing.", "x.jpg.", "x.jpg ", "x.jpgx", "", "x.J\xC3\x9F"})
    EXPECT_FALSE(hasAcceptedExtension(no)) << no;
}

TEST(LoadImageList, KeepsPictureNamesOfFilesAndFoldersButNothingHiddenOrNested) {
  qtest::TempDir dir;
  for (const char* f : {"beach.JPG", "notes.txt", "anim.gif", ".hidden.jpg", "b.jpeg", "noext", "dot."})
    std::ofstream(dir / f) << "";
  std::filesystem::create_directories(dir / "holiday.png");
  std::filesystem::create_directories(dir / "nested");
  std::ofstream(dir / "nested/inside.jpg") << "";
  Playlist p;
  EXPECT_EQ(scan(p, dir.path()), (std::vector<std::string>{"b.jpeg", "beach.JPG", "holiday.png"}));
}

TEST(LoadImageList, SortsByPathAsUnicodeText) {
  qtest::TempDir dir;
  const std::string composed = "caf\xC3\xA9.jpg", decomposed = "cafe\xCC\x81x.jpg", latin1 = "caf\xE9.jpg";
  for (const std::string& f : {std::string("b.jpg"), std::string("B.jpg"), std::string("A.jpg"), std::string("img2.png"),
                               std::string("img10.png"), decomposed, composed, std::string("cafz.jpg"), latin1})
    std::ofstream(dir / f) << "";
  // Case-sensitive, not numeric; é after 'z'; the decomposed name as if
  // composed ('x' > '.'); the Latin-1 byte 0xE9 after the UTF-8 lead 0xC3.
  Playlist p;
  EXPECT_EQ(scan(p, dir.path()), (std::vector<std::string>{"A.jpg", "B.jpg", "b.jpg", "cafz.jpg", composed, decomposed,
                                                            latin1, "img10.png", "img2.png"}));
}

TEST(LoadImageList, RescanReplacesEverythingAndAFolderThatCannotBeListedEmptiesTheList) {
  qtest::TempDir dir;
  std::ofstream(dir / "only.png") << "";
  Playlist p{{"/old/a.jpg", "/old/b.jpg", "/old/c.jpg"}, {2, 0, 1}, 2};
  EXPECT_EQ(scan(p, dir.path()), std::vector<std::string>{"only.png"});
  // The play order comes from the source: below 3 -> 1, below 2 -> 1.
  for (const char* f : {"a.png", "b.png"}) std::ofstream(dir / f) << "";
  qtest::ScriptedRandom rng({(std::uint64_t{1} << 63) + 1, ~std::uint64_t{0}});
  loadImageList(p, dir.path() + "/", rng);  // a trailing slash adds no empty component
  EXPECT_EQ(p.imageURLs.back(), dir / "only.png");
  EXPECT_EQ(p.order, (std::vector<std::int64_t>{1, 2, 0}));
  std::filesystem::create_directory(dir / "empty");
  for (const std::string& folder : {dir / "missing", dir / "only.png", dir / "empty"}) {
    p = Playlist{{"/old/a.jpg", "/old/b.jpg"}, {1, 0}, 1};
    EXPECT_TRUE(scan(p, folder).empty()) << folder;
  }
}

}  // namespace
}  // namespace quelltrine
