// The slot amounts as the shader library gets them from the build.
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "shaders/amount_constants.h"
#include "sys/temp_env.h"

namespace quelltrine {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(AmountConstants, TheBundledLibraryDeclaresEveryAmountOfTheTableOnce) {
  const std::string library = qtest::readFile(QUELLTRINE_BUNDLE_DIR "/Contents/Resources/default.glsllib");
  ASSERT_THAT(library, HasSubstr("//@common"));
  std::map<std::string, std::vector<std::string>> declared;
  const std::regex declaration(R"(const float (\w+)Full = ([^;\n]*);)");
  for (auto m = std::sregex_iterator(library.begin(), library.end(), declaration); m != std::sregex_iterator(); ++m)
    declared[(*m)[1]].push_back((*m)[2]);
  EXPECT_EQ(declared.size(), kSlotAmounts.size());
  for (const SlotAmount& a : kSlotAmounts) {
    SCOPED_TRACE(a.field);
    const std::vector<std::string>& values = declared[std::string(a.field)];
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(std::strtof(values[0].c_str(), nullptr), a.full);
  }
  EXPECT_THAT(library, Not(HasSubstr(kAmountsMarker)));
}

}  // namespace
}  // namespace quelltrine
