// The folder scan: which entries are kept, their order, and the play order
// dealt over them.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <numeric>

#include <gtest/gtest.h>

#include "playlist/image_list.h"
#include "sys/temp_env.h"
#include "sys/test_random.h"

namespace quelltrine {
namespace {

// Scans dir with a seeded source; the names kept (URL less "dir/"), after
// checking that the play order is a fresh permutation.
std::vector<std::string> scan(Playlist& p, const std::string& dir) {
  qtest::SeededRandom rng(7);
  loadImageList(p, dir, rng);
  std::vector<std::string> names;
  for (const std::string& url : p.imageURLs) names.push_back(url.rfind(dir + "/", 0) == 0 ? url.substr(dir.size() + 1) : url);
  std::vector<std::int64_t> order = p.order, identity(names.size());
  std::iota(identity.begin(), identity.end(), 0);
  std::sort(order.begin(), order.end());
  EXPECT_EQ(order, identity);
  EXPECT_EQ(p.orderPos, 0);
  return names;
}

TEST(AcceptedExtension, SixTypesInAnyCaseAfterTheLastDot) {
  for (const char* ok : {"beach.JPG", "b.Jpeg", "x.png", "x.HEIC", "x.tiff", "x.bmp", "archive.tar.png"})
    EXPECT_TRUE(hasAcceptedExtension(ok)) << ok;
  for (const char* no : {"x.tif", "x.gif", "x.heif", "jpg", "trailing.", "x.jpg.", "x.jpg ", "x.jpgx", "", "x.J\xC3\x9F"})
    EXPECT_FALSE(hasAcceptedExtension(no)) << no;
}

TEST(LoadImageList, KeepsPictureNamesOfFilesAndFoldersButNothingHiddenOrNestedSortedAsUnicodeText) {
  qtest::TempDir dir;
  const std::string composed = "caf\xC3\xA9.jpg", decomposed = "cafe\xCC\x81x.jpg", latin1 = "caf\xE9.jpg";
  for (const char* f : {"b.jpg", "B.JPG", "A.jpeg", "img2.png", "img10.png", "notes.txt", "anim.gif",
                       ".hidden.jpg", "noext", "dot.", "cafz.jpg"})
    std::ofstream(dir / f) << "";
  for (const std::string& f : {decomposed, composed, latin1}) std::ofstream(dir / f) << "";
  std::filesystem::create_directories(dir / "holiday.png");
  std::filesystem::create_directories(dir / "nested");
  std::ofstream(dir / "nested/inside.jpg") << "";
  // Case-sensitive, not numeric; é after 'z'; the decomposed name as if
  // composed ('x' > '.'); the Latin-1 byte 0xE9 after the UTF-8 lead 0xC3.
  Playlist p;
  EXPECT_EQ(scan(p, dir.path()), (std::vector<std::string>{"A.jpeg", "B.JPG", "b.jpg", "cafz.jpg", composed, decomposed,
                                                            latin1, "holiday.png", "img10.png", "img2.png"}));
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
