#include "tdslite/sql/values.h"

#include <gtest/gtest.h>

namespace tdslite::sql {
namespace {

TEST(ValuesTest, ScaledDecimals) {
  struct Case {
    const char* text;
    int scale;
    const char* expected;  // "" = rejected
  } cases[] = {
      {"1.5", 2, "1.50"},
      {"-0.005", 2, "-0.01"},
      {"0.004", 2, "0.00"},
      {" 12 ", 0, "12"},
      {"+.5", 1, "0.5"},
      {"2.5", 0, "3"},
      {"-2.5", 0, "-3"},
      {"abc", 0, ""},
      {"1.2.3", 0, ""},
      {"", 0, ""},
      {"1e3", 0, ""},
      {"99999999999999999999999999999999999999", 0, "99999999999999999999999999999999999999"},
      {"999999999999999999999999999999999999999", 0, ""},
  };
  for (const Case& c : cases) {
    auto v = ParseScaled(c.text, c.scale, false);
    EXPECT_EQ(v ? FormatScaled(*v, c.scale) : std::string(), c.expected) << c.text;
  }
  auto e = ParseScaled("1.5e3", 1, true);
  ASSERT_TRUE(e);
  EXPECT_EQ(FormatScaled(*e, 1), "1500.0");
}

TEST(ValuesTest, DateTimeParsing) {
  struct Case {
    const char* text;
    const char* expected;  // style 121, "" = rejected
  } cases[] = {
      {"2024-01-31", "2024-01-31 00:00:00.000"},
      {"20240131", "2024-01-31 00:00:00.000"},
      {"2024-02-29 23:59:59.997", "2024-02-29 23:59:59.997"},
      {"2024-02-29 23:59:59.998", "2024-02-29 23:59:59.997"},
      {"2024-02-29T13:45:07.123", "2024-02-29 13:45:07.123"},
      {"Jan 5 2024 9:05AM", "2024-01-05 09:05:00.000"},
      {"Jan  5 2024 12:00AM", "2024-01-05 00:00:00.000"},
      {"01/05/2024", "2024-01-05 00:00:00.000"},
      {"5 January 2024", "2024-01-05 00:00:00.000"},
      {"1753-01-01", "1753-01-01 00:00:00.000"},
      {"13:45", "1900-01-01 13:45:00.000"},
      {"2023-02-29", ""},
      {"1752-12-31", ""},
      {"2024-13-01", ""},
      {"garbage", ""},
      {"2024-01-01 25:00", ""},
  };
  for (const Case& c : cases) {
    auto v = ParseDateTime(c.text);
    EXPECT_EQ(v ? FormatDateTime(*v, 121, false).value_or("?") : std::string(), c.expected)
        << c.text;
  }
}

TEST(ValuesTest, DateTimeOrderAndRange) {
  struct Case {
    const char* text;
    DateOrder order;
    const char* expected;  // style 121, "" = not a date, "range" = out of range
  } cases[] = {
      {"05/03/2024", DateOrder::kMdy, "2024-05-03 00:00:00.000"},
      {"05/03/2024", DateOrder::kDmy, "2024-03-05 00:00:00.000"},
      {"15/03/2024", DateOrder::kDmy, "2024-03-15 00:00:00.000"},
      {"15.03.2024 10:30", DateOrder::kDmy, "2024-03-15 10:30:00.000"},
      {"15/03/2024", DateOrder::kMdy, "range"},
      {"24.03.05", DateOrder::kYmd, "2024-03-05 00:00:00.000"},
      {"03/05/24", DateOrder::kMdy, "2024-03-05 00:00:00.000"},
      {"2024-13-01", DateOrder::kMdy, "range"},
      {"2024-02-30", DateOrder::kDmy, "range"},
      {"1752-12-31", DateOrder::kMdy, "range"},
      {"2024-02-29", DateOrder::kDmy, "2024-02-29 00:00:00.000"},
      {"31/x/2024", DateOrder::kDmy, ""},
  };
  for (const Case& c : cases) {
    bool out_of_range = false;
    auto v = ParseDateTime(c.text, c.order, &out_of_range);
    std::string got = v              ? FormatDateTime(*v, 121, false).value_or("?")
                      : out_of_range ? "range"
                                     : "";
    EXPECT_EQ(got, c.expected) << c.text;
  }
  EXPECT_EQ(StyleDateOrder(103), DateOrder::kDmy);
  EXPECT_EQ(StyleDateOrder(4), DateOrder::kDmy);
  EXPECT_EQ(StyleDateOrder(105), DateOrder::kDmy);
  EXPECT_EQ(StyleDateOrder(101), DateOrder::kMdy);
  EXPECT_EQ(StyleDateOrder(2), DateOrder::kYmd);
  EXPECT_EQ(StyleDateOrder(120), DateOrder::kMdy);
}

TEST(ValuesTest, MoneyStyles) {
  struct Case {
    int64_t units;
    int style;
    const char* expected;
  } cases[] = {
      {12345678910, 0, "1234567.89"},
      {12345678910, 1, "1,234,567.89"},
      {12345678910, 2, "1234567.8910"},
      {-12345678910, 1, "-1,234,567.89"},
      {9999900, 1, "999.99"},
      {10000000, 1, "1,000.00"},
      {-10000000, 1, "-1,000.00"},
      {12345000, 2, "1234.5000"},
      {0, 1, "0.00"},
      {-50, 0, "-0.01"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatMoney(c.units, c.style), c.expected) << c.units << " style " << c.style;
  }
}

TEST(ValuesTest, CodePageAndUtf16Units) {
  // Single-byte text is code page 1252, both ways.
  EXPECT_EQ(ToCodePage("caf\u00e9"), "caf\xe9");
  EXPECT_EQ(ToCodePage("\u20ac\u2122\u0178"), "\x80\x99\x9f");
  EXPECT_EQ(ToCodePage("\u4e2d\U0001F600"), "??");
  EXPECT_EQ(FromCodePage("caf\xe9"), "caf\u00e9");
  EXPECT_EQ(FromCodePage("\x80\x81\x9f"), "\u20ac\u0081\u0178");
  for (int c = 1; c < 256; ++c) {
    const std::string byte(1, static_cast<char>(c));
    EXPECT_EQ(ToCodePage(FromCodePage(byte)), byte) << c;
  }
  // nvarchar lengths count UTF-16 code units; a character is never split.
  EXPECT_EQ(Utf16Length("a\U0001F600b"), 4);
  EXPECT_EQ(Utf16Length("\u00e9\u4e2d"), 2);
  EXPECT_EQ(Utf16Offset("a\U0001F600b", 1), 1u);
  EXPECT_EQ(Utf16Offset("a\U0001F600b", 2), 1u);
  EXPECT_EQ(Utf16Offset("a\U0001F600b", 3), 5u);
  EXPECT_EQ(Utf16Offset("ab", 5), 2u);
}

TEST(ValuesTest, DateTimeStyles) {
  int64_t a = *ParseDateTime("2024-02-29 13:45:07.123");
  int64_t b = *ParseDateTime("2024-01-05 09:05:00");
  struct Case {
    int style;
    const char* a;
    const char* b;
  } cases[] = {
      {0, "Feb 29 2024  1:45PM", "Jan  5 2024  9:05AM"},
      {101, "02/29/2024", "01/05/2024"},
      {1, "02/29/24", "01/05/24"},
      {102, "2024.02.29", "2024.01.05"},
      {103, "29/02/2024", "05/01/2024"},
      {104, "29.02.2024", "05.01.2024"},
      {105, "29-02-2024", "05-01-2024"},
      {106, "29 Feb 2024", "05 Jan 2024"},
      {107, "Feb 29, 2024", "Jan 05, 2024"},
      {108, "13:45:07", "09:05:00"},
      {109, "Feb 29 2024  1:45:07:123PM", "Jan  5 2024  9:05:00:000AM"},
      {110, "02-29-2024", "01-05-2024"},
      {111, "2024/02/29", "2024/01/05"},
      {112, "20240229", "20240105"},
      {113, "29 Feb 2024 13:45:07:123", "05 Jan 2024 09:05:00:000"},
      {114, "13:45:07:123", "09:05:00:000"},
      {120, "2024-02-29 13:45:07", "2024-01-05 09:05:00"},
      {121, "2024-02-29 13:45:07.123", "2024-01-05 09:05:00.000"},
      {23, "2024-02-29", "2024-01-05"},
      {126, "2024-02-29T13:45:07.123", "2024-01-05T09:05:00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatDateTime(a, c.style, false).value_or("?"), c.a) << c.style;
    EXPECT_EQ(FormatDateTime(b, c.style, false).value_or("?"), c.b) << c.style;
  }
  for (int bad : {15, 19, 99, 115, 128, 200, -1})
    EXPECT_FALSE(FormatDateTime(a, bad, false)) << bad;
  int64_t noon = *ParseDateTime("2024-01-01 12:00");
  EXPECT_EQ(FormatDateTime(noon, 0, false).value_or("?"), "Jan  1 2024 12:00PM");
  // smalldatetime rounds to the minute.
  EXPECT_EQ(FormatDateTime(*ToSmallDateTime(*ParseDateTime("2024-01-01 10:20:30")), 120, true)
                .value_or("?"),
            "2024-01-01 10:21:00");
  EXPECT_FALSE(ToSmallDateTime(*ParseDateTime("2079-06-07")));
}

TEST(ValuesTest, CivilDays) {
  EXPECT_EQ(DaysFromCivil(1900, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(1753, 1, 1), kMinDateTimeDays);
  EXPECT_EQ(DaysFromCivil(9999, 12, 31), kMaxDateTimeDays);
  for (int32_t d : {-53690, -1, 0, 1, 45000, 2958463}) {
    int y, m, day;
    CivilFromDays(d, &y, &m, &day);
    EXPECT_EQ(DaysFromCivil(y, m, day), d);
  }
}

TEST(ValuesTest, FloatAndMoneyText) {
  EXPECT_EQ(FormatFloat(1234567.0, false), "1.23457e+006");
  EXPECT_EQ(FormatFloat(0.5, false), "0.5");
  EXPECT_EQ(FormatFloat(123456.0, false), "123456");
  EXPECT_EQ(FormatMoney(123456), "12.35");
  EXPECT_EQ(FormatMoney(-5), "0.00");
}

}  // namespace
}  // namespace tdslite::sql
