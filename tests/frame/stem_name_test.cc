#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>

#include "frame/frame.h"

namespace {

class StemName : public ::testing::Test {
 protected:
  std::array<char, ktdb::kStemBufferSize> buffer;
  ktdb::StemName name{buffer};
};

// The stem is taken by its length (not up to a terminator), only its letters
// a to z are upper-cased, and no period is added between stem and suffix.
TEST_F(StemName, UpperCasesTheStemAndWritesTheSuffixBehindIt) {
  using namespace std::string_view_literals;
  const struct {
    std::string_view stem, suffix, name;
  } cases[] = {
      {"rows.", "1.2", "ROWS.1.2"},
      {"my_Stem!\xe4z", "3", "MY_STEM!\xe4Z3"},
      {"ab\0c."sv, "1", "AB\0C.1"sv},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(name.SetStem(c.stem)) << c.name;
    ASSERT_TRUE(name.SetSuffix(c.suffix)) << c.name;
    EXPECT_EQ(name.Name(), c.name);
    EXPECT_EQ(buffer[c.name.size()], '\0') << c.name;
  }
}

TEST_F(StemName, ALaterSuffixReplacesTheEarlierOne) {
  ASSERT_TRUE(name.SetStem("rows."));
  ASSERT_TRUE(name.SetSuffix("1.2"));
  ASSERT_TRUE(name.SetSuffix("0"));
  EXPECT_EQ(name.Name(), "ROWS.0");
  EXPECT_EQ(buffer[6], '\0');
}

TEST_F(StemName, KeepsStemAndSuffixWithinTheBuffer) {
  // 255 characters and the terminator fill the 256 bytes exactly.
  EXPECT_FALSE(name.SetStem(std::string(256, 'a')));
  ASSERT_TRUE(name.SetStem(std::string(255, 'a')));
  EXPECT_TRUE(name.SetSuffix(""));
  EXPECT_FALSE(name.SetSuffix("1"));

  ASSERT_TRUE(name.SetStem(std::string(250, 's')));
  ASSERT_TRUE(name.SetSuffix("1.2"));
  // Too long a suffix is refused and the previous name stays whole.
  EXPECT_FALSE(name.SetSuffix("1234.6"));
  EXPECT_EQ(name.Name(), std::string(250, 'S') + "1.2");
  EXPECT_EQ(buffer[253], '\0');
  // 250 + 5 characters and the terminator fill the buffer exactly.
  EXPECT_TRUE(name.SetSuffix("123.6"));
}

}  // namespace
