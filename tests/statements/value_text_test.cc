// Value text without a server: the longest value of every fixed type
// converts whole and within its value width, NULL and empty values, character
// data byte for byte, the cut at the value buffer, variable tails and the
// NULL substitute.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <string>
#include <vector>

#include "fake_rexx.h"
#include "statements/statements.h"

namespace {

using ktdb::ColumnShape;

class ValueText : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ktdb::EnsureLibrary());
    ktdb::ResetErrors();
  }

  // The text ConvertValue makes of one value of a column of this shape.
  static std::string Convert(const ColumnShape& shape, const void* data, DBINT length,
                             std::string_view nullText = "?") {
    const std::string_view text = ktdb::ConvertValue(
        nullptr, 1, ktdb::FormatOf(shape), static_cast<const BYTE*>(data), length, nullText);
    // Always terminated right behind the text.
    EXPECT_EQ(text.data()[text.size()], '\0');
    return std::string(text);
  }
};

template <typename T>
std::vector<BYTE> Bytes(const T& value) {
  std::vector<BYTE> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

TEST_F(ValueText, TheLongestValueOfEveryFixedTypeFitsItsWidths) {
  DBMONEY money{};
  money.mnyhigh = static_cast<DBINT>(0x80000000u);
  money.mnylow = 0;
  DBMONEY4 smallMoney{};
  smallMoney.mny4 = static_cast<DBINT>(0x80000000u);
  DBDATETIME lastDateTime{};
  lastDateTime.dtdays = 2958463;   // 9999-12-31
  lastDateTime.dttime = 25919999;  // 23:59:59.997
  DBDATETIME4 lastSmallDateTime{};
  lastSmallDateTime.days = 65535;  // 2079-06-06
  lastSmallDateTime.minutes = 1439;
  DBNUMERIC tiny{};  // -0.000...01, decimal(38,38)
  tiny.precision = 38;
  tiny.scale = 38;
  tiny.array[0] = 1;
  tiny.array[16] = 1;

  struct Case {
    const char* what;
    ColumnShape shape;
    std::vector<BYTE> data;
    std::string expected;
  };
  const Case cases[] = {
      {"tinyint", {SYBINT1, 1, 4, 0, 0, 0}, Bytes(DBTINYINT{255}), "255"},
      {"smallint", {SYBINT2, 2, 4, 0, 0, 0}, Bytes(DBSMALLINT{-32768}), "-32768"},
      {"int", {SYBINT4, 4, 4, 0, 0, 0}, Bytes(DBINT{INT32_MIN}), "-2147483648"},
      {"bigint", {SYBINT8, 8, 4, 0, 0, 0}, Bytes(DBBIGINT{INT64_MIN}), "-9223372036854775808"},
      {"bit", {SYBBIT, 1, 4, 0, 0, 0}, Bytes(DBBIT{1}), "1"},
      {"float", {SYBFLT8, 8, 4, 0, 0, 0}, Bytes(DBFLT8{-DBL_MAX}), "-1.7976931348623157e+308"},
      {"float, smallest",
       {SYBFLT8, 8, 4, 0, 0, 0},
       Bytes(DBFLT8{-DBL_MIN}),
       "-2.2250738585072014e-308"},
      {"real", {SYBREAL, 4, 4, 0, 0, 0}, Bytes(DBREAL{-FLT_MAX}), "-3.40282347e+38"},
      {"money", {SYBMONEY, 8, 4, 0, 0, 0}, Bytes(money), "-922337203685477.5808"},
      {"smallmoney", {SYBMONEY4, 4, 4, 0, 0, 0}, Bytes(smallMoney), "-214748.3648"},
      {"datetime", {SYBDATETIME, 8, 4, 0, 0, 0}, Bytes(lastDateTime), "Dec 31 9999 11:59:59:997PM"},
      {"smalldatetime",
       {SYBDATETIME4, 4, 4, 0, 0, 0},
       Bytes(lastSmallDateTime),
       "Jun  6 2079 11:59:00:000PM"},
      {"decimal(38,38)",
       {SYBDECIMAL, 17, 4, 38, 38, 0},
       Bytes(tiny),
       "-0.00000000000000000000000000000000000001"},
  };
  for (const Case& c : cases) {
    const std::string text = Convert(c.shape, c.data.data(), static_cast<DBINT>(c.data.size()));
    EXPECT_EQ(text, c.expected) << c.what;
    // The widths a script sees hold the whole text: value width with its
    // terminator, describe width without.
    EXPECT_LT(static_cast<std::int32_t>(text.size()), ktdb::ValueWidth(c.shape)) << c.what;
    EXPECT_LT(static_cast<std::int32_t>(text.size()), ktdb::DescribeWidth(c.shape)) << c.what;
    EXPECT_EQ(ktdb::CapturedErrors.dbErr, 0) << c.what;
  }
}

TEST_F(ValueText, NullEmptyAndCharacterData) {
  const ColumnShape varchar{SYBCHAR, 80, 4, 0, 0, 0};
  const ColumnShape binary{SYBVARBINARY, 10, 4, 0, 0, 0};
  const ColumnShape guid{ktdb::kTokenUniqueIdentifier, 16, 4, 0, 0, 0};
  const char empty[1] = {};
  // NULL: no address. The NULL text is written as it stands.
  EXPECT_EQ(Convert(varchar, nullptr, 0, ""), "");
  EXPECT_EQ(Convert(varchar, nullptr, 0, "N"), "N");
  EXPECT_EQ(Convert(binary, nullptr, 0, ktdb::kBatchNullText), "(null)");
  // Empty: an address and length 0 is the empty text, never the NULL text
  // (and never reaches dbconvert, which aborts on an empty uniqueidentifier).
  EXPECT_EQ(Convert(varchar, empty, 0), "");
  EXPECT_EQ(Convert(binary, empty, 0), "");
  EXPECT_EQ(Convert(guid, empty, 0), "");
  // Character data byte for byte, blanks and UTF-8 included.
  const std::string utf8 =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xE2\x82\xAC   ";
  EXPECT_EQ(Convert(varchar, utf8.data(), static_cast<DBINT>(utf8.size())), utf8);
  const BYTE hex[] = {0x00, 0xAB, 0x10, 0xFF};
  EXPECT_EQ(Convert(binary, hex, 4), "00ab10ff");
  EXPECT_EQ(ktdb::CapturedErrors.dbErr, 0);
}

TEST_F(ValueText, ALongerValueIsCutAtTheBufferAndTheCallSaysSo) {
  const ColumnShape text{SYBTEXT, 2147483647, 4, 0, 0, 0};
  // A two-byte character straddles the cap: the cut falls before it.
  std::string value(ktdb::kWidthCap - 1, 'a');
  value += "\xC3\xA9";
  value += std::string(100, 'b');
  const std::int32_t before = ktdb::ErrorCount;
  const std::string cut = Convert(text, value.data(), static_cast<DBINT>(value.size()));
  EXPECT_EQ(cut, std::string(ktdb::kWidthCap - 1, 'a'));
  EXPECT_EQ(ktdb::CapturedErrors.dbErr, ktdb::kValueCutError);
  EXPECT_NE(std::string(ktdb::CapturedErrors.dbErrStr.data()).find("cut"), std::string::npos);
  EXPECT_EQ(ktdb::ErrorCount, before + 1);

  // Exactly at the cap: whole, nothing said.
  ktdb::ResetErrors();
  const std::string whole(ktdb::kWidthCap, 'w');
  EXPECT_EQ(Convert(text, whole.data(), static_cast<DBINT>(whole.size())), whole);
  EXPECT_EQ(ktdb::CapturedErrors.dbErr, 0);

  // Image: two hex digits a byte, as many bytes as fit.
  const ColumnShape image{SYBIMAGE, 2147483647, 4, 0, 0, 0};
  const std::vector<BYTE> bytes(20000, 0x5A);
  const std::string hex = Convert(image, bytes.data(), static_cast<DBINT>(bytes.size()));
  EXPECT_EQ(hex.size(), static_cast<std::size_t>(ktdb::kWidthCap / 2 * 2));
  EXPECT_EQ(hex.substr(0, 4), "5a5a");
  EXPECT_EQ(ktdb::CapturedErrors.dbErr, ktdb::kValueCutError);
}

TEST(Tails, NumbersJoinedByPeriods) {
  EXPECT_EQ(ktdb::MakeTail(0).View(), "0");
  EXPECT_EQ(ktdb::MakeTail(0, 0).View(), "0.0");
  EXPECT_EQ(ktdb::MakeTail(12, 3).View(), "12.3");
  EXPECT_EQ(ktdb::MakeTail(1, 2, 3).View(), "1.2.3");
  EXPECT_EQ(ktdb::MakeTail(INT32_MIN, INT32_MAX, -1).View(), "-2147483648.2147483647.-1");
}

TEST(Tails, StemVariablesAreSetUnderTheUpperCasedStem) {
  fake_rexx::Reset();
  ktdb::StemName names(ktdb::RowStemBuffer);
  ASSERT_TRUE(names.SetStem("rows."));
  EXPECT_TRUE(ktdb::SetStemNumber(names, ktdb::MakeTail(0, 0), 3));
  EXPECT_TRUE(ktdb::SetStemText(names, ktdb::MakeTail(1, 2), "value"));
  ASSERT_EQ(fake_rexx::sets.size(), 2u);
  EXPECT_EQ(fake_rexx::sets[0], std::make_pair(std::string("ROWS.0.0"), std::string("3")));
  EXPECT_EQ(fake_rexx::sets[1], std::make_pair(std::string("ROWS.1.2"), std::string("value")));
}

TEST(NullSubstitute, TheFirstCharacterOfTheArgument) {
  const struct {
    std::string argument;
    std::string expected;
  } cases[] = {
      {"", ""},
      {"NULL", "N"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9"},          // a two-byte character whole
      {"\xF0\x9D\x84\x9Ex", "\xF0\x9D\x84\x9E"},  // a four-byte character whole
      {"\xE2\x82", "\xE2"},                       // a broken sequence: one byte
      {"\xE2\x82Z", "\xE2"},                      // a lead byte whose sequence breaks
      {"\xF0\x9F\x98Z", "\xF0"},
      {"\x82\xAC", "\x82"},  // a continuation byte first: itself
  };
  for (const auto& c : cases) {
    ktdb::SetNullSubstitute(c.argument);
    EXPECT_EQ(std::string(ktdb::NullSubstitute.data()), c.expected) << c.argument;
  }
}

}  // namespace
