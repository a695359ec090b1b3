// The wide date and time calendar: the literal forms it reads, the keys it
// stores datetimeoffset under, and the text it writes.
#include "tdslite/sql/temporal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tdslite::sql {
namespace {

TEST(Temporal, ParsesTheLiteralForms) {
  const struct {
    const char* text;
    DateOrder order;
    DateParse result;
    int y, m, d;
    int64_t units;
    int offset;  // minutes; 9999: none
  } cases[] = {
      {"2024-03-05", DateOrder::kMdy, DateParse::kOk, 2024, 3, 5, 0, 9999},
      {"20240305 13:45", DateOrder::kMdy, DateParse::kOk, 2024, 3, 5, 495000000000, 9999},
      {"2024-03-05T13:45:30.1234567Z", DateOrder::kMdy, DateParse::kOk, 2024, 3, 5, 495301234567,
       0},
      {"03/05/2024 1:45:30 PM", DateOrder::kMdy, DateParse::kOk, 2024, 3, 5, 495300000000, 9999},
      {"05.03.24", DateOrder::kDmy, DateParse::kOk, 2024, 3, 5, 0, 9999},
      {"Mar 5, 2024 12AM -05:30", DateOrder::kMdy, DateParse::kOk, 2024, 3, 5, 0, -330},
      {"5 March 1999 +0100", DateOrder::kMdy, DateParse::kOk, 1999, 3, 5, 0, 60},
      {"13:45:30:500", DateOrder::kMdy, DateParse::kOk, 1900, 1, 1, 495305000000, 9999},
      {"0001-01-01", DateOrder::kMdy, DateParse::kOk, 1, 1, 1, 0, 9999},
      {"", DateOrder::kMdy, DateParse::kOk, 1900, 1, 1, 0, 9999},
      {"2023-02-29", DateOrder::kMdy, DateParse::kRange, 0, 0, 0, 0, 0},
      {"2024-03-05 +14:01", DateOrder::kMdy, DateParse::kRange, 0, 0, 0, 0, 0},
      {"2024-03-05 24:00", DateOrder::kMdy, DateParse::kSyntax, 0, 0, 0, 0, 0},
      {"10:00:00.12345678", DateOrder::kMdy, DateParse::kSyntax, 0, 0, 0, 0, 0},
      {"2024-03-05 junk", DateOrder::kMdy, DateParse::kSyntax, 0, 0, 0, 0, 0},
      {"13 PM", DateOrder::kMdy, DateParse::kSyntax, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    DateText t;
    ASSERT_EQ(ParseDateText(c.text, c.order, &t), c.result) << c.text;
    if (c.result != DateParse::kOk) continue;
    EXPECT_EQ(t.y * 10000 + t.m * 100 + t.d, c.y * 10000 + c.m * 100 + c.d) << c.text;
    EXPECT_EQ(t.units, c.units) << c.text;
    EXPECT_EQ(t.has_offset ? t.offset : 9999, c.offset) << c.text;
  }
}

// Keys sort as the instants do, whatever the offsets, and give back the
// local time and offset they were made from.
TEST(Temporal, OffsetKeysSortByInstantAndRoundTrip) {
  const int64_t day = DaysFromCivil(2024, 3, 5) + kDays0001To1900;
  const std::vector<WideTime> instants = {
      {0, 0, 840},                                   // 0001-01-01 00:00 +14:00
      {day, 10 * 3600 * kUnitsPerSecond, 300},       // 05:00 UTC
      {day, 6 * 3600 * kUnitsPerSecond, 0},          // 06:00 UTC
      {day - 1, 23 * 3600 * kUnitsPerSecond, -480},  // 07:00 UTC
      {kMaxWideDays, kUnitsPerDay - 1, -840},        // the last instant there is
  };
  std::vector<std::string> keys;
  for (const WideTime& w : instants) {
    keys.push_back(OffsetKey(w));
    auto back = FromOffsetKey(keys.back());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->days, w.days);
    EXPECT_EQ(back->units, w.units);
    EXPECT_EQ(back->offset, w.offset);
  }
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  EXPECT_FALSE(FromOffsetKey("not a key").has_value());
}

TEST(Temporal, WritesEachTypesText) {
  const WideTime w = Normalize(DaysFromCivil(2024, 3, 5) + kDays0001To1900,
                               (13 * 3600 + 5 * 60 + 9) * kUnitsPerSecond + 1200000, -90);
  const struct {
    TypeId id;
    int scale;
    int style;
    const char* text;
  } cases[] = {
      {TypeId::kDate, 0, -1, "2024-03-05"},
      {TypeId::kTime, 0, -1, "13:05:09"},
      {TypeId::kTime, 7, -1, "13:05:09.1200000"},
      {TypeId::kDateTime2, 3, 121, "2024-03-05 13:05:09.120"},
      {TypeId::kDateTimeOffset, 2, -1, "2024-03-05 13:05:09.12 -01:30"},
      {TypeId::kDateTime2, 4, 109, "Mar  5 2024  1:05:09:1200PM"},
      {TypeId::kDateTime2, 0, 126, "2024-03-05T13:05:09"},
      {TypeId::kDate, 0, 101, "03/05/2024"},
      {TypeId::kDate, 0, 100, "Mar  5 2024"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatWide(c.id, c.scale, w, c.style).value_or("?"), c.text) << c.text;
    if (c.style < 0) {
      EXPECT_EQ(WideTextLength(c.id, c.scale), static_cast<int>(strlen(c.text)));
    }
  }
  EXPECT_FALSE(FormatWide(TypeId::kDate, 0, w, 108).has_value());
  EXPECT_FALSE(FormatWide(TypeId::kDateTime2, 7, w, 99).has_value());
  // Rounding to the scale carries into the next second and, through
  // Normalize, the next day.
  EXPECT_EQ(RoundUnits(kUnitsPerDay - 1, 6), kUnitsPerDay);
  EXPECT_EQ(Normalize(5, kUnitsPerDay).days, 6);
  EXPECT_EQ(Normalize(5, -1).units, kUnitsPerDay - 1);
}

}  // namespace
}  // namespace tdslite::sql
