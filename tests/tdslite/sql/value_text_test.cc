#include "tdslite/sql/value_text.h"

#include <gtest/gtest.h>

#include "tdslite/sql/types.h"

namespace tdslite::sql {
namespace {

Value Int(int64_t i) {
  Value v;
  v.is_null = false;
  v.i = i;
  return v;
}

Value Bytes(std::string b) {
  Value v;
  v.is_null = false;
  v.bytes = std::move(b);
  return v;
}

Value Ticks(int32_t days, uint32_t ticks) {
  Value v;
  v.is_null = false;
  v.dt = {days, ticks};
  return v;
}

ColumnDesc Column(ColumnType type) {
  ColumnDesc c;
  c.name = "c";
  c.type = type;
  return c;
}

TEST(ValueTextTest, EachStorageAsAClientReadsIt) {
  Value real;
  real.is_null = false;
  real.f = 0.1;
  Value dec;
  dec.is_null = false;
  dec.dec = -12345;
  const uint32_t ten_oclock = 10 * 3600 * 300 + 150;  // and half a second
  std::string wire;
  for (int b = 0; b < 16; ++b) wire += static_cast<char>(b);
  struct Case {
    ColumnType type;
    Value value;
    const char* expected;
  } cases[] = {
      {IntType(TypeId::kBigInt), Int(-9007199254740993), "-9007199254740993"},
      {IntType(TypeId::kMoney), Int(-12345), "-1.2345"},
      {IntType(TypeId::kFloat), real, "0.1"},
      {DecimalType(10, 3), dec, "-12.345"},
      // smalldatetime to the second, datetime to the millisecond.
      {IntType(TypeId::kSmallDateTime), Ticks(1, ten_oclock), "1900-01-02 10:00:00"},
      {IntType(TypeId::kDateTime), Ticks(1, ten_oclock), "1900-01-02 10:00:00.500"},
      {VarCharType(10, false), Bytes("a'b"), "a'b"},
      {IntType(TypeId::kVarBinary), Bytes("\x01\xab"), "01AB"},
      {IntType(TypeId::kUniqueIdentifier), Bytes(wire), "03020100-0504-0706-0809-0A0B0C0D0E0F"},
      {IntType(TypeId::kInt), Value{}, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ValueAsText(Column(c.type), c.value), c.expected) << c.expected;
  }
}

}  // namespace
}  // namespace tdslite::sql
