// Formatted lines without a server: the bounded line writer, value and
// heading fields counted in characters (UTF-8), the worked example of a
// name and an id column, column labels, column descriptions, and the type
// names FreeTDS gives for the descriptions.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "statements/statements.h"

namespace {

using ktdb::LineWriter;

TEST(LineWriter, NeverWritesPastItsLimit) {
  struct Case {
    const char* what;
    std::size_t limit;
    std::vector<std::string> pieces;
    std::string expected;
    bool overflowed;
  };
  const Case cases[] = {
      {"fits", 8, {"abc", "defgh"}, "abcdefgh", false},
      {"one byte too many", 8, {"abc", "defghi"}, "abc", true},
      {"nothing after an overflow", 8, {"abcdefghi", "x"}, "", true},
      {"empty pieces", 0, {"", ""}, "", false},
  };
  for (const Case& c : cases) {
    // A guard byte behind the buffer shows any write past it.
    std::array<char, 16> memory;
    memory.fill('#');
    LineWriter line(std::span<char>(memory.data(), c.limit + 1), c.limit);
    for (const std::string& piece : c.pieces) line.Append(piece);
    EXPECT_EQ(line.Overflowed(), c.overflowed) << c.what;
    EXPECT_EQ(std::string(line.Finish()), c.expected) << c.what;
    EXPECT_EQ(memory[c.limit + 1], '#') << c.what;
  }

  std::array<char, 8> memory{};
  LineWriter repeated(memory, 7);
  repeated.AppendRepeated("é", 3);  // 6 bytes
  EXPECT_FALSE(repeated.Overflowed());
  repeated.AppendRepeated("é", 1);  // 2 more: past 7
  EXPECT_TRUE(repeated.Overflowed());
  EXPECT_EQ(std::string(repeated.Finish()), "ééé");
  repeated.Clear();
  repeated.AppendBlanks(7);
  EXPECT_FALSE(repeated.Overflowed());
  EXPECT_EQ(std::string(repeated.Finish()), "       ");
}

TEST(FormLine, ValueFieldsCountCharactersNotBytes) {
  struct Case {
    const char* what;
    std::string value;
    std::int32_t width;
    bool right;
    std::string expected;
    bool fits;
  };
  const Case cases[] = {
      {"left", "abc", 6, false, "abc     ", true},
      {"right", "42", 6, true, "    42  ", true},
      {"exactly the width", "abcdef", 6, false, "abcdef  ", true},
      {"empty", "", 3, true, "     ", true},
      {"UTF-8, left: 3 characters in 4 bytes", "für", 6, false, "für     ", true},
      {"UTF-8, right", "€5", 6, true, "    €5  ", true},
      {"4-byte character", "a😀", 4, false, "a😀    ", true},
      // Wider than its field: cut on a character, never inside one.
      {"too wide", "abcdefg", 4, false, "abcd  ", false},
      {"too wide, UTF-8", "ééééé", 3, true, "ééé  ", false},
  };
  for (const Case& c : cases) {
    std::array<char, 64> memory{};
    LineWriter line(memory, memory.size() - 1);
    EXPECT_EQ(ktdb::AppendValueField(line, c.value, c.width, c.right), c.fits) << c.what;
    EXPECT_EQ(std::string(line.Finish()), c.expected) << c.what;
  }
}

TEST(FormLine, HeadingFieldsFillBehindTheLabel) {
  struct Case {
    const char* what;
    std::string label;
    std::int32_t width;
    std::string fill;
    std::string expected;
  };
  const Case cases[] = {
      {"filled", "ID", 5, "_", "ID___  "},
      {"label as wide as the field", "PRICE", 5, "_", "PRICE  "},
      {"a number label wider than its field is written whole", "123", 2, "_", "123  "},
      {"multi-byte fill", "A", 3, "é", "Aéé  "},
      {"multi-byte label", "GRÖßE", 7, "-", "GRÖßE--  "},
  };
  for (const Case& c : cases) {
    std::array<char, 64> memory{};
    LineWriter line(memory, memory.size() - 1);
    ktdb::AppendHeadingField(line, c.label, c.width, c.fill);
    EXPECT_EQ(std::string(line.Finish()), c.expected) << c.what;
  }
}

// A character column "name" declared with 10 characters (FreeTDS reports 40
// bytes under UTF-8) and an int column "id": fields of 11 and 12 characters.
TEST(FormLine, NameAndIdLinesComeOutCharacterForCharacter) {
  const ktdb::ColumnShape name{SYBCHAR, 40, 4, 0, 0, 4};
  const ktdb::ColumnShape id{SYBINT4, 4, 4, 0, 0, 2};
  const std::int32_t nameWidth = ktdb::DescribeWidth(name);
  const std::int32_t idWidth = ktdb::DescribeWidth(id);
  ASSERT_EQ(nameWidth, 11);
  ASSERT_EQ(idWidth, 12);

  std::array<char, 128> memory{};
  LineWriter line(memory, memory.size() - 1);
  ktdb::AppendHeadingField(line, "NAME", nameWidth, "_");
  ktdb::AppendHeadingField(line, "ID", idWidth, "_");
  EXPECT_EQ(std::string(line.Finish()), "NAME_______  ID__________  ");

  line.Clear();
  ktdb::AppendValueField(line, "abc", nameWidth, ktdb::IsRightAligned(SYBCHAR));
  ktdb::AppendValueField(line, "42", idWidth, ktdb::IsRightAligned(SYBINT4));
  EXPECT_EQ(std::string(line.Finish()), "abc" + std::string(8 + 2 + 10, ' ') + "42  ");
}

TEST(FormLine, NumbersButNotMoneyStandRight) {
  const int right[] = {SYBNUMERIC, SYBDECIMAL, SYBINT1, SYBINT2,
                       SYBINT4,    SYBINT8,    SYBFLT8, SYBREAL};
  const int left[] = {SYBMONEY,    SYBMONEY4,    SYBBIT,
                      SYBDATETIME, SYBDATETIME4, SYBCHAR,
                      SYBTEXT,     SYBBINARY,    ktdb::kTokenUniqueIdentifier};
  for (int token : right) EXPECT_TRUE(ktdb::IsRightAligned(token)) << token;
  for (int token : left) EXPECT_FALSE(ktdb::IsRightAligned(token)) << token;
}

TEST(FormLine, FirstCharacterIsAWholeUtf8Sequence) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"-x", "-"},
      {"é!", "é"},
      {"€", "€"},
      {"😀z", "😀"},
      {"\xC3", "\xC3"},       // cut sequence: its first byte alone
      {"\xE2\x82Z", "\xE2"},  // broken sequence likewise
  };
  for (const auto& [argument, expected] : cases) {
    EXPECT_EQ(std::string(ktdb::FirstCharacter(argument)), expected) << argument;
  }
}

TEST(ColumnLabel, NameOrPosition) {
  struct Case {
    const char* name;
    std::int32_t column;
    bool upper;
    std::string expected;
  };
  const std::string longName(512, 'n');
  const Case cases[] = {
      {"price", 1, false, "price"},
      {"price", 1, true, "PRICE"},
      {"größe", 2, true, "GRößE"},  // a to z only
      {"", 3, true, "3"},
      {nullptr, 4096, false, "4096"},
      {longName.c_str(), 1, false, longName},  // never cut
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::string(ktdb::FormColumnLabel(c.name, c.column, c.upper)), c.expected)
        << c.expected;
  }
}

TEST(ColumnDescription, LabelTypeAndWidthUpperCased) {
  struct Case {
    std::string label;
    std::string type;
    ktdb::ReportedWidth width;
    bool withScale;
    std::string expected;
  };
  const Case cases[] = {
      {"name", "char", {20, 0}, false, "NAME CHAR 20"},
      {"price", "decimal", {8, 2}, true, "PRICE DECIMAL 8.2"},
      {"n", "numeric", {5, 0}, true, "N NUMERIC 5.0"},
      {"3", "datetime", {27, 0}, false, "3 DATETIME 27"},
      {"größe", "UCS-2 varchar", {4, 0}, false, "GRößE UCS-2 VARCHAR 4"},
      {"x", "", {11, 0}, false, "X  11"},  // a type FreeTDS does not name
  };
  for (const Case& c : cases) {
    std::array<char, 64> memory{};
    LineWriter line(memory, memory.size() - 1);
    ASSERT_TRUE(ktdb::DescribeColumn(line, c.label, c.type, c.width, c.withScale));
    EXPECT_EQ(std::string(line.Finish()), c.expected);
  }
  std::array<char, 8> small{};
  LineWriter line(small, small.size() - 1);
  EXPECT_FALSE(ktdb::DescribeColumn(line, "name", "char", {20, 0}, false));
}

// The type names of the descriptions are the linked library's: these are
// FreeTDS's for every token its dbcoltype answers.
TEST(ColumnDescription, TypeNamesAreFreeTdsOwn) {
  const std::pair<int, const char*> names[] = {
      {SYBINT1, "tinyint"},
      {SYBINT2, "smallint"},
      {SYBINT4, "int"},
      {SYBINT8, "bigint"},
      {SYBBIT, "bit"},
      {SYBREAL, "real"},
      {SYBFLT8, "float"},
      {SYBMONEY4, "smallmoney"},
      {SYBMONEY, "money"},
      {SYBDATETIME4, "smalldatetime"},
      {SYBDATETIME, "datetime"},
      {SYBDECIMAL, "decimal"},
      {SYBNUMERIC, "numeric"},
      {SYBCHAR, "char"},
      {SYBTEXT, "text"},
      {SYBBINARY, "binary"},
      {SYBIMAGE, "image"},
      {ktdb::kTokenUniqueIdentifier, "uniqueidentifier"},
      {SYBMSDATE, "date"},
      {SYBMSTIME, "time"},
      {SYBMSDATETIME2, "datetime2"},
      {SYBMSDATETIMEOFFSET, "datetimeoffset"},
      {0, ""},
  };
  for (const auto& [token, name] : names) {
    const char* answer = dbprtype(token);
    ASSERT_NE(answer, nullptr) << token;
    EXPECT_STREQ(answer, name) << token;
  }
}

}  // namespace
