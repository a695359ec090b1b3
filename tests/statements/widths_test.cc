// The width rules: every type's widths, the decimal rule, the declared
// length of character columns under a multi-byte client charset, the name
// rule and the cap at the value buffer.
#include <gtest/gtest.h>

#include "statements/statements.h"

namespace {

using ktdb::ColumnShape;

struct WidthCase {
  const char* what;
  ColumnShape shape;
  std::int32_t describe;
  std::int32_t value;
  std::int32_t reported;
  std::int32_t reportedScale;
};

// {token, dbcollen, client bytes per character, precision, scale, name length}
const WidthCase kCases[] = {
    {"tinyint", {SYBINT1, 1, 4, 0, 0, 0}, 4, 4, 3, 0},
    {"bit", {SYBBIT, 1, 4, 0, 0, 0}, 4, 4, 3, 0},
    {"smallint", {SYBINT2, 2, 4, 0, 0, 0}, 7, 7, 6, 0},
    {"int", {SYBINT4, 4, 4, 0, 0, 0}, 12, 12, 11, 0},
    {"bigint", {SYBINT8, 8, 4, 0, 0, 0}, 21, 21, 20, 0},
    {"money", {SYBMONEY, 8, 4, 0, 0, 0}, 27, 27, 26, 0},
    {"smallmoney as money", {SYBMONEY4, 4, 4, 0, 0, 0}, 27, 27, 26, 0},
    {"datetime", {SYBDATETIME, 8, 4, 0, 0, 0}, 27, 27, 27, 0},
    {"smalldatetime as datetime", {SYBDATETIME4, 4, 4, 0, 0, 0}, 27, 27, 27, 0},
    {"float", {SYBFLT8, 8, 4, 0, 0, 0}, 25, 25, 24, 0},
    {"real as float", {SYBREAL, 4, 4, 0, 0, 0}, 25, 25, 24, 0},
    {"uniqueidentifier", {ktdb::kTokenUniqueIdentifier, 16, 4, 0, 0, 0}, 37, 37, 36, 0},
    // dbcollen of decimal(10,2) is its wire size, 9: the width comes from
    // the precision.
    {"decimal(10,2)", {SYBDECIMAL, 9, 4, 10, 2, 0}, 13, 13, 8, 2},
    {"numeric(38,0)", {SYBNUMERIC, 17, 4, 38, 0, 0}, 41, 41, 38, 0},
    // All digits behind the point: FreeTDS writes "-0.", one more.
    {"decimal(38,38)", {SYBDECIMAL, 17, 4, 38, 38, 0}, 42, 42, 0, 38},
    // FreeTDS reports varchar(20) as 80 bytes under UTF-8.
    {"varchar(20), UTF-8", {SYBCHAR, 80, 4, 0, 0, 0}, 21, 21, 20, 0},
    {"varchar(20), single-byte charset", {SYBCHAR, 20, 1, 0, 0, 0}, 21, 21, 20, 0},
    {"binary(4)", {SYBBINARY, 4, 4, 0, 0, 0}, 9, 9, 8, 0},
    {"varbinary(10)", {SYBVARBINARY, 10, 4, 0, 0, 0}, 21, 21, 20, 0},
    // 2 GiB as DB-Library reports text and image: capped, no overflow.
    {"text", {SYBTEXT, 2147483647, 4, 0, 0, 0}, 32767, 32768, 32767, 0},
    {"image", {SYBIMAGE, 2147483647, 4, 0, 0, 0}, 32767, 32768, 32767, 0},
    // A name longer than base + 1 gives the describe width alone.
    {"int named with 30 characters", {SYBINT4, 4, 4, 0, 0, 30}, 30, 12, 11, 0},
    {"int named with 12 characters", {SYBINT4, 4, 4, 0, 0, 12}, 12, 12, 11, 0},
    // A type without a rule of its own: its length.
    {"other type", {SYBVOID, 7, 4, 0, 0, 0}, 8, 8, 7, 0},
    {"bad column (dbcollen -1)", {-1, -1, 4, 0, 0, 0}, 1, 1, 0, 0},
};

TEST(Widths, EveryTypeHasItsThreeWidths) {
  for (const WidthCase& c : kCases) {
    EXPECT_EQ(ktdb::DescribeWidth(c.shape), c.describe) << c.what;
    EXPECT_EQ(ktdb::ValueWidth(c.shape), c.value) << c.what;
    const ktdb::ReportedWidth reported = ktdb::ReportWidth(c.shape);
    EXPECT_EQ(reported.width, c.reported) << c.what;
    EXPECT_EQ(reported.scale, c.reportedScale) << c.what;
  }
}

TEST(Widths, ConversionRoomNeverFallsBelowTheValueWidth) {
  for (const WidthCase& c : kCases) {
    const ktdb::ColumnFormat format = ktdb::FormatOf(c.shape);
    EXPECT_EQ(format.token, c.shape.token) << c.what;
    EXPECT_EQ(format.valueWidth, c.value) << c.what;
    // The room holds the longest text; text and binary data are sized by
    // their own length up to the cap.
    EXPECT_GE(format.room, c.value - 1) << c.what;
    EXPECT_LE(format.room, ktdb::kWidthCap) << c.what;
  }
}

}  // namespace
