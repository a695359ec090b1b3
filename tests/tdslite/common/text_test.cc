// The text helpers every tdslite layer shares.
#include "tdslite/common/text.h"

#include <gtest/gtest.h>

namespace tdslite {
namespace {

TEST(Text, CaseFoldingIsAsciiOnly) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"Select", "sELECT", true},
      {"", "", true},
      {"abc", "abcd", false},
      {"a_b", "A_B", true},
      {"[", "{", false},                // 0x5B vs 0x7B: not letters
      {"\xC3\x89", "\xC3\xA9", false},  // É and é: not ASCII
      {"@P1", "@p1", true},
  };
  for (const Case& c : cases) EXPECT_EQ(EqualsIgnoreCase(c.a, c.b), c.equal) << c.a << " " << c.b;
  EXPECT_EQ(AsciiLower("MiXeD_\xC3\x89"), "mixed_\xC3\x89");
}

TEST(Text, Utf8EncodingAtEachLengthBoundary) {
  struct Case {
    uint32_t code_point;
    const char* utf8;
  } cases[] = {
      {0x41, "A"},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
      // What UTF-8 cannot carry becomes U+FFFD instead of invalid bytes.
      {0xD800, "\xEF\xBF\xBD"},
      {0xDFFF, "\xEF\xBF\xBD"},
      {0x110000, "\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    std::string out = "<";
    AppendUtf8(&out, c.code_point);
    EXPECT_EQ(out, std::string("<") + c.utf8) << std::hex << c.code_point;
  }
  std::string nul;
  AppendUtf8(&nul, 0);
  EXPECT_EQ(nul, std::string(1, '\0'));
}

TEST(Text, HexDigitsAndMessages) {
  EXPECT_EQ(HexDigits(std::string("\x00\x0F\xA5\xFF", 4), true), "000FA5FF");
  EXPECT_EQ(HexDigits(std::string("\x00\x0F\xA5\xFF", 4), false), "000fa5ff");
  EXPECT_EQ(HexDigits("", true), "");
  const Message m = MakeMessage(2627, 1, 14, "Violation");
  EXPECT_EQ(m.number, 2627);
  EXPECT_EQ(m.state, 1);
  EXPECT_EQ(m.severity, 14);
  EXPECT_EQ(m.text, "Violation");
  EXPECT_EQ(m.line, 1);
  EXPECT_TRUE(m.procedure.empty());
}

}  // namespace
}  // namespace tdslite
