#include "tdslite/sql/types.h"

#include <gtest/gtest.h>

namespace tdslite::sql {
namespace {

ColumnType Dec(int p, int s) {
  return DecimalType(p, s);
}

TEST(TypesTest, ArithmeticResultTypes) {
  struct Case {
    char op;
    ColumnType a, b;
    const char* expected;
  } cases[] = {
      {'+', IntType(TypeId::kInt), IntType(TypeId::kInt), "int"},
      {'+', IntType(TypeId::kTinyInt), IntType(TypeId::kSmallInt), "smallint"},
      {'*', IntType(TypeId::kInt), IntType(TypeId::kBigInt), "bigint"},
      {'+', IntType(TypeId::kBit), IntType(TypeId::kBit), "int"},
      {'+', IntType(TypeId::kInt), Dec(2, 1), "numeric(12,1)"},
      {'+', Dec(5, 2), Dec(7, 4), "numeric(8,4)"},
      {'*', Dec(5, 2), Dec(7, 4), "numeric(13,6)"},
      {'/', Dec(2, 1), IntType(TypeId::kInt), "numeric(13,12)"},
      {'/', Dec(38, 10), Dec(38, 10), "numeric(38,6)"},
      {'*', Dec(38, 10), Dec(38, 10), "numeric(38,6)"},
      {'+', IntType(TypeId::kMoney), IntType(TypeId::kInt), "money"},
      {'+', IntType(TypeId::kMoney), Dec(5, 2), "numeric(20,4)"},
      {'+', IntType(TypeId::kFloat), Dec(5, 2), "float"},
      {'+', IntType(TypeId::kReal), IntType(TypeId::kInt), "real"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TypeDeclaration(ArithmeticType(c.op, c.a, c.b)), c.expected)
        << TypeDeclaration(c.a) << " " << c.op << " " << TypeDeclaration(c.b);
  }
}

TEST(TypesTest, Unify) {
  EXPECT_EQ(TypeDeclaration(UnifyTypes(VarCharType(3, false), VarCharType(10, false))),
            "varchar(10)");
  EXPECT_EQ(TypeDeclaration(UnifyTypes(VarCharType(3, false), VarCharType(2, true))),
            "nvarchar(3)");
  EXPECT_EQ(TypeDeclaration(UnifyTypes(IntType(TypeId::kInt), VarCharType(2, false))), "int");
  EXPECT_EQ(TypeDeclaration(UnifyTypes(IntType(TypeId::kInt), Dec(2, 1))), "numeric(11,1)");
  EXPECT_EQ(TypeDeclaration(UnifyTypes(IntType(TypeId::kDateTime), VarCharType(20, false))),
            "datetime");
}

TEST(TypesTest, MakeType) {
  struct Case {
    const char* name;
    int argc;
    int64_t a, b;
    bool in_cast;
    const char* expected;  // or the start of the error
  } cases[] = {
      {"varchar", 0, 0, 0, false, "varchar(1)"},
      {"varchar", 0, 0, 0, true, "varchar(30)"},
      {"nchar", 1, 4000, 0, false, "nchar(4000)"},
      {"nchar", 1, 4001, 0, false, "The size (4001)"},
      {"decimal", 0, 0, 0, false, "decimal(18,0)"},
      {"numeric", 2, 10, 2, false, "numeric(10,2)"},
      {"decimal", 2, 5, 6, false, "The scale 6"},
      {"decimal", 1, 39, 0, false, "Specified column precision 39"},
      {"float", 1, 24, 0, false, "real"},
      {"int", 1, 4, 0, false, "Type int does not take arguments."},
      {"text", 0, 0, 0, false, "text"},
      {"bogus", 0, 0, 0, false, "Column, parameter, or variable #1: Cannot find data type bogus."},
  };
  for (const Case& c : cases) {
    int64_t args[2] = {c.a, c.b};
    std::string error;
    auto t = MakeType(c.name, c.argc, args, c.in_cast, &error);
    std::string got = t ? TypeDeclaration(*t) : error;
    EXPECT_EQ(got.substr(0, std::string(c.expected).size()), c.expected) << c.name;
  }
}

TEST(TypesTest, PackRoundTrip) {
  ColumnType t = Dec(38, 10);
  ColumnType u = UnpackType(PackType(t));
  EXPECT_EQ(u.id, t.id);
  EXPECT_EQ(u.precision, 38);
  EXPECT_EQ(u.scale, 10);
  ColumnType v = VarCharType(8000, false);
  EXPECT_EQ(UnpackType(PackType(v)).length, 8000);
  EXPECT_EQ(UnpackType(-1).id, TypeId::kInt);  // garbage never yields an invalid id
}

}  // namespace
}  // namespace tdslite::sql
