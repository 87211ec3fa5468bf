// The folder scan: which entries are kept, their order, and the play order
// dealt over them.
#include <algorithm>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "playlist/image_list.h"
#include "sys/temp_env.h"
#include "sys/test_random.h"

namespace quelltrine {
namespace {

void touch(const std::string& path) {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ::close(fd);
}

std::vector<std::string> names(const Playlist& p, const std::string& folder) {
  std::vector<std::string> out;
  for (const std::string& url : p.imageURLs) {
    EXPECT_EQ(url.compare(0, folder.size() + 1, folder + "/"), 0) << url;
    out.push_back(url.substr(folder.size() + 1));
  }
  return out;
}

void expectPermutation(const Playlist& p) {
  std::vector<std::int64_t> sorted = p.order;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::int64_t> identity(p.imageURLs.size());
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(sorted, identity);
  EXPECT_EQ(p.orderPos, 0);
}

TEST(AcceptedExtension, SixTypesInAnyCase) {
  for (const char* ok : {"beach.JPG", "beach.Jpeg", "a.jpg", "x.png", "x.HEIC", "x.tiff", "x.bmp",
                         "two.dots.jpg", "archive.tar.png"}) {
    EXPECT_TRUE(hasAcceptedExtension(ok)) << ok;
  }
  for (const char* no : {"x.tif", "x.gif", "x.heif", "x.webp", "jpg", "noext", "trailing.", "x.jpg.",
                         "x.jpg ", "x. jpg", "x.jpgx", "x.pngs", "", "x.J\xC3\x9F"}) {
    EXPECT_FALSE(hasAcceptedExtension(no)) << no;
  }
}

TEST(LoadImageList, KeepsPicturesAndFolderNamesButNotHiddenOrNested) {
  qtest::TempDir dir;
  for (const char* f : {"beach.JPG", "notes.txt", "anim.gif", "scan.tif", ".hidden.jpg", "b.jpeg", "noext", "dot."}) {
    touch(dir / f);
  }
  ASSERT_EQ(::mkdir((dir / "holiday.png").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir / "nested").c_str(), 0755), 0);
  touch(dir / "nested/inside.jpg");
  Playlist p;
  qtest::SeededRandom rng(1);
  loadImageList(p, dir.path(), rng);
  EXPECT_EQ(names(p, dir.path()), (std::vector<std::string>{"b.jpeg", "beach.JPG", "holiday.png"}));
  expectPermutation(p);
}

TEST(LoadImageList, SortsByPathAsUnicodeText) {
  qtest::TempDir dir;
  const std::string decomposedE = "e\xCC\x81";   // e + combining acute
  const std::string composedE = "\xC3\xA9";      // é
  const std::string notUtf8 = "caf\xE9.jpg";     // ISO-8859-1
  for (const std::string& f : {std::string("b.jpg"), std::string("B.jpg"), std::string("A.jpg"),
                               std::string("img2.png"), std::string("img10.png"), "caf" + decomposedE + "x.jpg",
                               "caf" + composedE + ".jpg", std::string("cafz.jpg"), notUtf8}) {
    touch(dir / f);
  }
  Playlist p;
  qtest::SeededRandom rng(2);
  loadImageList(p, dir.path(), rng);
  // é (U+00E9) sorts after 'z'. The decomposed name sorts as if composed
  // (after "café." since 'x' > '.'), not by its 'e' (which would put it
  // before "cafz"). The Latin-1 name sorts by its bytes: 0xE9 comes after
  // the UTF-8 lead byte 0xC3 of é.
  EXPECT_EQ(names(p, dir.path()),
            (std::vector<std::string>{"A.jpg", "B.jpg", "b.jpg", "cafz.jpg", "caf" + composedE + ".jpg",
                                      "caf" + decomposedE + "x.jpg", notUtf8, "img10.png", "img2.png"}));
  expectPermutation(p);
}

TEST(LoadImageList, UnreadableMissingOrEmptyFolderGivesAnEmptyList) {
  qtest::TempDir dir;
  touch(dir / "file.jpg");
  for (const std::string& folder : {dir / "missing", dir / "file.jpg", dir.path() + "/empty"}) {
    ::mkdir((dir / "empty").c_str(), 0755);
    Playlist p{{"/old/a.jpg", "/old/b.jpg"}, {1, 0}, 1};
    qtest::SeededRandom rng(3);
    loadImageList(p, folder, rng);
    EXPECT_TRUE(p.imageURLs.empty()) << folder;
    EXPECT_TRUE(p.order.empty());
    EXPECT_EQ(p.orderPos, 0);
  }
}

TEST(LoadImageList, RescanReplacesTheListAndResetsThePosition) {
  qtest::TempDir dir;
  touch(dir / "only.png");
  Playlist p{{"/old/a.jpg", "/old/b.jpg", "/old/c.jpg"}, {2, 0, 1}, 2};
  qtest::SeededRandom rng(4);
  loadImageList(p, dir.path(), rng);
  EXPECT_EQ(p.imageURLs, std::vector<std::string>{dir / "only.png"});
  EXPECT_EQ(p.order, std::vector<std::int64_t>{0});
  EXPECT_EQ(p.orderPos, 0);

  touch(dir / "two.png");
  touch(dir / "three.png");
  p.orderPos = 2;
  loadImageList(p, dir.path() + "/", rng);  // a trailing slash adds no empty component
  EXPECT_EQ(p.imageURLs.size(), 3u);
  EXPECT_EQ(p.imageURLs[0], dir / "only.png");
  expectPermutation(p);
}

TEST(LoadImageList, PlayOrderComesFromTheRandomSource) {
  qtest::TempDir dir;
  for (const char* f : {"a.png", "b.png", "c.png"}) touch(dir / f);
  // Draws: below 3 -> 1 (swap 0,1), below 2 -> 1 (swap 1,2).
  qtest::ScriptedRandom rng({(std::uint64_t{1} << 63) + 1, ~std::uint64_t{0}});
  Playlist p;
  loadImageList(p, dir.path(), rng);
  EXPECT_EQ(p.order, (std::vector<std::int64_t>{1, 2, 0}));
  EXPECT_EQ(rng.taken(), 2u);
}

TEST(LoadImageList, UnreadableFolderAsAnOrdinaryUser) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  qtest::TempDir dir;
  ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0), 0);
  Playlist p;
  qtest::SeededRandom rng(5);
  loadImageList(p, dir / "locked", rng);
  EXPECT_TRUE(p.imageURLs.empty());
}

}  // namespace
}  // namespace quelltrine
