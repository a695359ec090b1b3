// The text conversion of KTFile2LOB: the exact bytes it produces, that a
// character cut by a read is carried into the next one, and the offset and
// kind of every fault, for files that span several reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "lob/lob.h"

namespace {

using ktdb::TextFault;

struct Converted {
  bool whole;
  std::string bytes;
  TextFault fault;
};

bool Collect(const BYTE* data, std::size_t size, void* context) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(data), size);
  return true;
}

Converted Convert(const std::string& content, const char* to) {
  std::FILE* file = std::tmpfile();
  std::fwrite(content.data(), 1, content.size(), file);
  std::rewind(file);
  Converted result;
  result.whole = ktdb::ConvertText(file, "UTF-8", to, Collect, &result.bytes, result.fault);
  std::fclose(file);
  return result;
}

const std::string kEuro = "\xE2\x82\xAC";
const std::string kHan = "\xE4\xB8\xAD";
const std::string kSmile = "\xF0\x9F\x98\x80";

TEST(TextConvert, ExactBytes) {
  struct Case {
    std::string in;
    const char* to;
    std::string out;
  };
  const Case cases[] = {
      {"", "CP1252", ""},
      {"caf\xC3\xA9 " + kEuro, "CP1252", "caf\xE9 \x80"},
      {std::string("a\0b\r\n", 5), "CP1252", std::string("a\0b\r\n", 5)},
      {"a" + kHan, "UTF-16LE", std::string("a\0\x2D\x4E", 4)},
      // Beyond U+FFFF: a surrogate pair, low unit first in each.
      {kSmile, "UTF-16LE", std::string("\x3D\xD8\x00\xDE", 4)},
  };
  for (const Case& c : cases) {
    const Converted result = Convert(c.in, c.to);
    EXPECT_TRUE(result.whole) << c.in;
    EXPECT_EQ(result.bytes, c.out) << c.in;
  }
}

TEST(TextConvert, CharactersCutByReadsAndPieces) {
  // Every alignment of a multi-byte character against the end of a read,
  // and output that fills several pieces.
  const std::string unit("\xAC\x20\x3D\xD8\x00\xDE\x78\x00", 8);
  for (std::size_t shift = 0; shift < 4; ++shift) {
    const std::size_t lead = ktdb::kConvertInputSize - 2 - shift;
    std::string in(lead, 'a');
    std::string expected;
    for (std::size_t i = 0; i < lead; ++i) expected += std::string("a\0", 2);
    for (int i = 0; i < 50000; ++i) {
      in += kEuro + kSmile + "x";
      expected += unit;
    }
    const Converted result = Convert(in, "UTF-16LE");
    ASSERT_TRUE(result.whole) << shift;
    EXPECT_TRUE(result.bytes == expected) << shift;
  }
}

TEST(TextConvert, FaultsNameTheirOffset) {
  struct Case {
    std::string in;
    const char* to;
    long long offset;
    TextFault::Kind kind;
    std::uint32_t character;
  };
  const std::string far(70000, 'a');
  const Case cases[] = {
      {"ab\xC3x", "CP1252", 2, TextFault::Kind::kInvalid, 0},
      {"abc" + kHan, "CP1252", 3, TextFault::Kind::kUnrepresentable, 0x4E2D},
      {"\xC2\x81", "CP1252", 0, TextFault::Kind::kUnrepresentable, 0x81},
      {"x\xE2\x82", "CP1252", 1, TextFault::Kind::kInvalid, 0},
      {far + "\xFF", "UTF-16LE", 70000, TextFault::Kind::kInvalid, 0},
      {far + kSmile, "CP1252", 70000, TextFault::Kind::kUnrepresentable, 0x1F600},
      {"ok\xED\xA0\x80", "UTF-16LE", 2, TextFault::Kind::kInvalid, 0},
      {"\xC0\xAF", "UTF-16LE", 0, TextFault::Kind::kInvalid, 0},  // overlong '/'
      {far + "\xF0\x9F\x98", "UTF-16LE", 70000, TextFault::Kind::kInvalid, 0},
  };
  for (const Case& c : cases) {
    const Converted result = Convert(c.in, c.to);
    EXPECT_FALSE(result.whole) << c.offset;
    EXPECT_EQ(result.fault.offset, c.offset);
    EXPECT_EQ(result.fault.kind, c.kind) << c.offset;
    EXPECT_EQ(result.fault.character, c.character) << c.offset;
  }
}

TEST(TextConvert, FaultTextPointsElsewhere) {
  std::array<char, ktdb::kErrorTextSize> text;
  TextFault fault;
  fault.offset = 123456;
  fault.kind = TextFault::Kind::kUnrepresentable;
  fault.character = 0x4E2D;
  ktdb::DescribeTextFault(fault, "UTF-8", "CP1252", text);
  const std::string unrepresentable = text.data();
  EXPECT_NE(unrepresentable.find("byte offset 123456 "), std::string::npos);
  EXPECT_NE(unrepresentable.find("U+4E2D"), std::string::npos);
  EXPECT_NE(unrepresentable.find("ntext"), std::string::npos);
  fault.kind = TextFault::Kind::kInvalid;
  ktdb::DescribeTextFault(fault, "UTF-8", "UTF-16LE", text);
  EXPECT_NE(std::string(text.data()).find("image"), std::string::npos);
}

TEST(TextConvert, NoSuchConversionAndAStoppingSink) {
  Converted unknown = Convert("abc", "NO-SUCH-CHARSET");
  EXPECT_FALSE(unknown.whole);
  EXPECT_EQ(unknown.fault.kind, TextFault::Kind::kNone);

  std::FILE* file = std::tmpfile();
  const std::string in(3 * ktdb::kPieceSize, 'a');
  std::fwrite(in.data(), 1, in.size(), file);
  std::rewind(file);
  int pieces = 0;
  TextFault fault;
  const bool whole = ktdb::ConvertText(
      file, "UTF-8", "CP1252",
      [](const BYTE*, std::size_t, void* context) { return ++*static_cast<int*>(context) < 2; },
      &pieces, fault);
  std::fclose(file);
  EXPECT_FALSE(whole);
  EXPECT_EQ(pieces, 2);
  EXPECT_EQ(fault.kind, TextFault::Kind::kNone);
}

TEST(TextConvert, ServerCharsetWithoutAConnection) {
  EXPECT_STREQ(ktdb::ServerTextCharset(nullptr), "CP1252");
}

}  // namespace
