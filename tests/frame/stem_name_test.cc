#include <gtest/gtest.h>

#include <string>

#include "frame/frame.h"

namespace {

TEST(StemName, UpperCasesTheStemAndWritesEachSuffixBehindIt) {
  std::array<char, ktdb::kStemBufferSize> buffer;
  ktdb::StemName name(buffer);
  ASSERT_TRUE(name.SetStem("rows."));
  ASSERT_TRUE(name.SetSuffix("1.2"));
  EXPECT_EQ(name.Name(), "ROWS.1.2");
  EXPECT_EQ(name.Name().size(), 8u);
  EXPECT_EQ(buffer[8], '\0');
  // A later suffix replaces the earlier one, including a longer one.
  ASSERT_TRUE(name.SetSuffix("0"));
  EXPECT_EQ(name.Name(), "ROWS.0");
  EXPECT_EQ(buffer[6], '\0');
}

TEST(StemName, ChangesOnlyTheLettersAToZAndAddsNoPeriod) {
  std::array<char, ktdb::kStemBufferSize> buffer;
  ktdb::StemName name(buffer);
  ASSERT_TRUE(name.SetStem("my_Stem!\xe4z"));
  ASSERT_TRUE(name.SetSuffix("3"));
  EXPECT_EQ(name.Name(), "MY_STEM!\xe4Z3");
}

TEST(StemName, TakesTheStemByItsLengthNotByATerminator) {
  std::array<char, ktdb::kStemBufferSize> buffer;
  ktdb::StemName name(buffer);
  ASSERT_TRUE(name.SetStem(std::string_view("ab\0c.", 5)));
  ASSERT_TRUE(name.SetSuffix("1"));
  EXPECT_EQ(name.Name(), std::string_view("AB\0C.1", 6));
}

TEST(StemName, KeepsStemAndSuffixWithinTheBuffer) {
  std::array<char, ktdb::kStemBufferSize> buffer;
  ktdb::StemName name(buffer);
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
