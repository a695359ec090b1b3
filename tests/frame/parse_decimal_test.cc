#include <gtest/gtest.h>

#include "frame/frame.h"

namespace {

TEST(ParseDecimal, AcceptsAnOptionalMinusAndOneToNineDigits) {
  const struct {
    std::string_view text;
    std::int32_t expected;
  } cases[] = {
      {"15", 15},
      {"-15", -15},
      {"-0", 0},
      {"007", 7},
      {"0", 0},
      {"999999999", 999999999},
      {"-999999999", -999999999},
      {"000000001", 1},
  };
  for (const auto& c : cases) {
    std::int32_t out = 12345;
    EXPECT_TRUE(ktdb::ParseDecimal(c.text, out)) << c.text;
    EXPECT_EQ(out, c.expected) << c.text;
  }
}

TEST(ParseDecimal, RejectsEverythingElseAndLeavesTheNumber) {
  const std::string_view cases[] = {
      "1000000000",  "9999999999", "0000000000",
      "-1234567890",  // ten digits
      "-",           "",           "+5",
      " 5",          "5 ",         "1.5",
      "1e3",         "--5",        "5-",
      "0x10",        "abc",        std::string_view("5\0", 2),  // a NUL byte is not a digit either
  };
  for (const auto& text : cases) {
    std::int32_t out = 12345;
    EXPECT_FALSE(ktdb::ParseDecimal(text, out)) << text;
    EXPECT_EQ(out, 12345) << text;
  }
}

}  // namespace
