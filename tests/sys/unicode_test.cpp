// Path order: NFC, then scalar value; raw bytes for names that are not UTF-8.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sys/unicode.h"

namespace plat::sys {
namespace {

std::vector<std::string> sortedByNFC(std::vector<std::string> v) {
  std::stable_sort(v.begin(), v.end(),
                   [](const std::string& a, const std::string& b) { return comparePathsNFC(a, b) < 0; });
  return v;
}

TEST(ComparePathsNFC, CaseSensitiveAndNotNumeric) {
  EXPECT_EQ(sortedByNFC({"/p/b.jpg", "/p/B.jpg", "/p/A.jpg"}),
            (std::vector<std::string>{"/p/A.jpg", "/p/B.jpg", "/p/b.jpg"}));
  EXPECT_LT(comparePathsNFC("/p/img10.png", "/p/img2.png"), 0);
  EXPECT_LT(comparePathsNFC("/p/a", "/p/a.jpg"), 0);  // a prefix comes first
  EXPECT_EQ(comparePathsNFC("/p/x", "/p/x"), 0);
}

TEST(ComparePathsNFC, ComposedAndDecomposedAreEqual) {
  const std::string composed = "/p/caf\xC3\xA9.jpg";     // U+00E9
  const std::string decomposed = "/p/cafe\xCC\x81.jpg";  // e + U+0301
  EXPECT_EQ(comparePathsNFC(composed, decomposed), 0);
  EXPECT_EQ(comparePathsNFC(decomposed, composed), 0);
  // As NFC, é (U+00E9) sorts after every ASCII letter, so after "cafz".
  EXPECT_GT(comparePathsNFC(decomposed, "/p/cafz.jpg"), 0);
  EXPECT_EQ(nfcSortKey(decomposed), composed);
}

TEST(ComparePathsNFC, ScalarOrderBeyondTheBasicPlane) {
  // UTF-16 code-unit order would put U+1F600 (surrogates D83D...) before
  // U+FF21; scalar order puts it after.
  EXPECT_LT(comparePathsNFC("\xEF\xBC\xA1", "\xF0\x9F\x98\x80"), 0);
}

TEST(ComparePathsNFC, InvalidUtf8ComparesAsBytesWithoutCrashing) {
  const std::string latin1 = "/p/caf\xE9.jpg";  // ISO-8859-1 é
  const std::string broken = "/p/\xFF\xFE.png";
  EXPECT_NE(comparePathsNFC(latin1, "/p/caf\xC3\xA9.jpg"), 0);
  EXPECT_EQ(nfcSortKey(latin1), latin1);
  // Byte order: 0xE9 > 'a' and 0xFF > 0xE9... with the folder prefix first.
  EXPECT_EQ(sortedByNFC({broken, latin1, "/p/a.jpg"}),
            (std::vector<std::string>{"/p/a.jpg", latin1, broken}));
  EXPECT_EQ(comparePathsNFC(broken, broken), 0);
}

}  // namespace
}  // namespace plat::sys
