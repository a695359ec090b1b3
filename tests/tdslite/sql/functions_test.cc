// The SQL functions and collations on a bare SQLite connection.
#include "tdslite/sql/functions.h"

#include <gtest/gtest.h>

#include "tdslite/sql/types.h"

namespace tdslite::sql {
namespace {

class FunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    ASSERT_TRUE(RegisterFunctions(db_, &context_));
  }
  void TearDown() override { sqlite3_close(db_); }

  // The first column of the first row as text; "NULL", or "error N: text".
  std::string Eval(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      return std::string("prepare: ") + sqlite3_errmsg(db_);
    }
    std::string out;
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      if (sqlite3_column_type(st, 0) == SQLITE_NULL) {
        out = "NULL";
      } else if (sqlite3_column_type(st, 0) == SQLITE_BLOB) {
        const unsigned char* p = static_cast<const unsigned char*>(sqlite3_column_blob(st, 0));
        int n = sqlite3_column_bytes(st, 0);
        static constexpr char kHex[] = "0123456789ABCDEF";
        out = "0x";
        for (int i = 0; i < n; ++i) {
          out += kHex[p[i] >> 4];
          out += kHex[p[i] & 15];
        }
      } else {
        out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      }
    } else {
      Message m;
      if (DecodeError(sqlite3_errmsg(db_), &m)) {
        out = "error " + std::to_string(m.number) + ": " + m.text;
      } else {
        out = std::string("sqlite: ") + sqlite3_errmsg(db_);
      }
    }
    sqlite3_finalize(st);
    return out;
  }

  static std::string PackedType(const ColumnType& t) { return std::to_string(PackType(t)); }

  sqlite3* db_ = nullptr;
  FunctionContext context_;
};

TEST_F(FunctionsTest, Conversions) {
  const std::string vc = PackedType(VarCharType(30, false));
  const std::string i = PackedType(IntType(TypeId::kInt));
  const std::string ti = PackedType(IntType(TypeId::kTinyInt));
  const std::string money = PackedType(IntType(TypeId::kMoney));
  const std::string dec = PackedType(DecimalType(10, 2));
  const std::string dt = PackedType(IntType(TypeId::kDateTime));
  const std::string fl = PackedType(IntType(TypeId::kFloat));
  ColumnType c5;
  c5.id = TypeId::kChar;
  c5.length = 5;
  ColumnType vb;
  vb.id = TypeId::kVarBinary;
  vb.length = 4;
  struct Case {
    std::string sql;
    std::string expected;
  } cases[] = {
      {"SELECT tds_cvt(' 42 '," + vc + "," + i + ",NULL,0)", "42"},
      {"SELECT tds_cvt('4.2'," + vc + "," + i + ",NULL,0)",
       "error 245: Conversion failed when converting the varchar value '4.2' to data type int."},
      {"SELECT tds_cvt('99999999999'," + vc + "," + i + ",NULL,0)",
       "error 8115: Arithmetic overflow error converting expression to data type int."},
      {"SELECT tds_cvt(256," + i + "," + ti + ",NULL,0)",
       "error 220: Arithmetic overflow error for data type tinyint, value = 256."},
      {"SELECT tds_cvt('$1,234.5'," + vc + "," + money + ",NULL,0)", "12345000"},
      {"SELECT tds_cvt('x'," + vc + "," + money + ",NULL,0)",
       "error 235: Cannot convert a char value to money. The char value has incorrect syntax."},
      {"SELECT tds_cvt('1.005'," + vc + "," + dec + ",NULL,0)", "1.01"},
      {"SELECT tds_cvt('-1.005'," + vc + "," + dec + ",NULL,0)", "-1.01"},
      {"SELECT tds_cvt('12345678901'," + vc + "," + dec + ",NULL,0)",
       "error 8115: Arithmetic overflow error converting varchar to data type numeric."},
      {"SELECT tds_cvt('1e2'," + vc + "," + dec + ",NULL,0)",
       "error 8114: Error converting data type varchar to numeric."},
      {"SELECT tds_cvt('1e2'," + vc + "," + fl + ",NULL,0)", "100.0"},
      {"SELECT tds_cvt('abc'," + vc + "," + fl + ",NULL,0)",
       "error 8114: Error converting data type varchar to float."},
      {"SELECT tds_cvt(12345," + money + "," + vc + ",NULL,0)", "1.23"},
      {"SELECT tds_cvt(1.5," + fl + "," + i + ",NULL,0)", "1"},
      {"SELECT tds_cvt('1.99'," + dec + "," + i + ",NULL,0)", "1"},
      {"SELECT tds_cvt('ab'," + vc + "," + PackedType(c5) + ",NULL,0)", "ab   "},
      {"SELECT tds_cvt('abcdefg'," + vc + "," + PackedType(c5) + ",NULL,1)",
       "error 8152: String or binary data would be truncated."},
      {"SELECT tds_cvt('abcdefg'," + vc + "," + PackedType(c5) + ",NULL,0)", "abcde"},
      {"SELECT tds_cvt('abc   '," + vc + "," + PackedType(VarCharType(3, false)) + ",NULL,1)",
       "abc"},
      {"SELECT tds_cvt(258," + i + "," + PackedType(vb) + ",NULL,0)", "0x00000102"},
      {"SELECT tds_cvt('ab'," + PackedType(VarCharType(2, true)) + "," + PackedType(vb) +
           ",NULL,0)",
       "0x61006200"},
      {"SELECT tds_cvt(X'0102030405'," + PackedType(vb) + "," + PackedType(vb) + ",NULL,1)",
       "error 8152: String or binary data would be truncated."},
      {"SELECT tds_cvt('2024-01-05'," + vc + "," + dt + ",NULL,0)",
       std::to_string(45294LL * 25920000)},
      {"SELECT tds_cvt(0," + dt + "," + vc + ",120,0)", "1900-01-01 00:00:00"},
      {"SELECT tds_cvt(0," + dt + "," + vc + ",17,0)",
       "error 281: 17 is not a valid style number when converting from datetime to a character "
       "string."},
      {"SELECT tds_cvt(1," + i + "," + PackedType(IntType(TypeId::kBit)) + ",NULL,0)", "1"},
      {"SELECT tds_cvt('false'," + vc + "," + PackedType(IntType(TypeId::kBit)) + ",NULL,0)", "0"},
      {"SELECT tds_cvt(NULL," + vc + "," + i + ",NULL,0)", "NULL"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.sql), c.expected) << c.sql;
}

TEST_F(FunctionsTest, Arithmetic) {
  const std::string d38 = PackedType(DecimalType(38, 10));
  const std::string d6 = PackedType(DecimalType(10, 6));
  struct Case {
    std::string sql;
    std::string expected;
  } cases[] = {
      {"SELECT tds_op('+', '0.1', '0.2', " + PackedType(DecimalType(3, 1)) + ")", "0.3"},
      {"SELECT tds_op('*', '1234567890123456789012345678.0123456789', '1', " + d38 + ")",
       "1234567890123456789012345678.0123456789"},
      {"SELECT tds_op('/', '1', '3', " + d6 + ")", "0.333333"},
      {"SELECT tds_op('/', '2', '3', " + d6 + ")", "0.666667"},
      {"SELECT tds_op('/', '1', '0', " + d6 + ")", "error 8134: Divide by zero error encountered."},
      {"SELECT tds_op('-', '0.5', '1.25', " + PackedType(DecimalType(4, 2)) + ")", "-0.75"},
      {"SELECT tds_op('+', 2147483647, 1, " + PackedType(IntType(TypeId::kInt)) + ")",
       "error 8115: Arithmetic overflow error converting expression to data type int."},
      {"SELECT tds_op('*', 9223372036854775807, 2, " + PackedType(IntType(TypeId::kBigInt)) + ")",
       "error 8115: Arithmetic overflow error converting expression to data type bigint."},
      {"SELECT tds_op('%', -7, 2, " + PackedType(IntType(TypeId::kInt)) + ")", "-1"},
      {"SELECT tds_op('/', -7, 2, " + PackedType(IntType(TypeId::kInt)) + ")", "-3"},
      {"SELECT tds_op('^', 6, 3, " + PackedType(IntType(TypeId::kInt)) + ")", "5"},
      {"SELECT tds_op('*', 25000, 30000, " + PackedType(IntType(TypeId::kMoney)) + ")", "75000"},
      {"SELECT tds_op('/', 10000, 30000, " + PackedType(IntType(TypeId::kMoney)) + ")", "3333"},
      {"SELECT tds_op('/', 1.0, 0.0, " + PackedType(IntType(TypeId::kFloat)) + ")",
       "error 8134: Divide by zero error encountered."},
      {"SELECT tds_op('+', NULL, 1, " + PackedType(IntType(TypeId::kInt)) + ")", "NULL"},
      // A chain overflows where SQL Server's step by step evaluation would,
      // even when its end would fit; each step has its own type.
      {"SELECT tds_ops(2147483647, '+', 1, " + PackedType(IntType(TypeId::kInt)) + ", '-', 1, " +
           PackedType(IntType(TypeId::kInt)) + ")",
       "error 8115: Arithmetic overflow error converting expression to data type int."},
      {"SELECT tds_ops('0.1', '+', '0.2', " + PackedType(DecimalType(3, 1)) + ", '*', '3', " +
           PackedType(DecimalType(6, 1)) + ", '/', '7', " + d6 + ")",
       "0.128571"},
      {"SELECT tds_ops(1, '+', NULL, " + PackedType(IntType(TypeId::kInt)) + ", '/', 0, " +
           PackedType(IntType(TypeId::kInt)) + ")",
       "NULL"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.sql), c.expected) << c.sql;
}

TEST_F(FunctionsTest, LikePatterns) {
  struct Case {
    const char* value;
    const char* pattern;
    const char* escape;
    const char* expected;
  } cases[] = {
      {"abc", "a%", nullptr, "1"},   {"ABC", "a_c", nullptr, "1"}, {"abc", "a_", nullptr, "0"},
      {"abc", "%", nullptr, "1"},    {"", "%", nullptr, "1"},      {"", "_", nullptr, "0"},
      {"b", "[abc]", nullptr, "1"},  {"d", "[abc]", nullptr, "0"}, {"d", "[^abc]", nullptr, "1"},
      {"5", "[0-9]", nullptr, "1"},  {"[", "[[]", nullptr, "1"},   {"a]", "a]", nullptr, "1"},
      {"10%", "10!%", "!", "1"},     {"100", "10!%", "!", "0"},    {"é", "É", nullptr, "1"},
      {"日本", "_本", nullptr, "1"}, {"abc", "%b%", nullptr, "1"}, {"abc", "%d%", nullptr, "0"},
      {"a[b", "a[b", nullptr, "1"},
  };
  for (const Case& c : cases) {
    std::string sql = std::string("SELECT tds_like('") + c.value + "', '" + c.pattern + "'" +
                      (c.escape ? std::string(", '") + c.escape + "'" : std::string()) + ")";
    EXPECT_EQ(Eval(sql), c.expected) << sql;
  }
  EXPECT_EQ(Eval("SELECT tds_like('a', 'a', 'xy')"),
            "error 506: The invalid escape character \"xy\" was specified in a LIKE predicate.");
  // A pathological pattern ends rather than running away.
  std::string s(3000, 'a');
  EXPECT_EQ(Eval("SELECT tds_like('" + s + "', '%a%a%a%a%a%a%a%a%b')"), "0");
}

// Long values and patterns with many `%`: answered (rightly) without deep
// recursion, in time near the product of their lengths at worst.
TEST_F(FunctionsTest, LikeOnLongValuesAndPatterns) {
  auto repeat = [](std::string_view unit, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += unit;
    return out;
  };
  const std::string a160k(160000, 'a');
  struct Case {
    std::string value, pattern;
    const char* expected;
  } cases[] = {
      {a160k, repeat("%a", 160000), "1"},  // a recursion per '%' overflowed the stack here
      {a160k, repeat("%a", 160001), "0"},
      {a160k, repeat("%", 100000) + "b", "0"},
      {a160k + "b", repeat("%a", 50000) + "%b", "1"},
      {a160k, repeat("%a", 1000) + "%[^a]%", "0"},
      {repeat("ab", 50000), repeat("%a_", 50000), "1"},
      {repeat("ab", 50000), repeat("%a_", 50000) + "_", "0"},
      {"xaybzc", "%a%b%c", "1"},
      {"xaybzc", "%a%c%b", "0"},
      {"abcabd", "%abd", "1"},
      {"aab", "%ab", "1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Eval("SELECT tds_like('" + c.value + "', '" + c.pattern + "')"), c.expected)
        << c.value.substr(0, 20) << " / " << c.pattern.substr(0, 20) << " (" << c.pattern.size()
        << ")";
  }
}

// A value the functions would build beyond the connection's limit fails as
// too big before it is allocated; starts and lengths never overflow.
TEST_F(FunctionsTest, ValueLimitsAndExtremeArguments) {
  sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, 100000);
  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"SELECT length(tds_replace(tds_space(8000), ' ', 'ab'))", "16000"},
      {"SELECT length(tds_replace(tds_replace(tds_space(8000), ' ', tds_space(8000)), ' ', "
       "tds_space(100)))",
       "sqlite: string or blob too big"},
      {"SELECT tds_substring('abc', 2, 9223372036854775807)", "bc"},
      {"SELECT tds_substring('abc', 0, 9223372036854775807)", "abc"},
      {"SELECT tds_substring('abc', -9223372036854775807, 9223372036854775807)", ""},
      {"SELECT tds_substring('abc', 9223372036854775807, 9223372036854775807)", ""},
      {"SELECT tds_substring(X'010203', 3, 9223372036854775807)", "0x03"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.sql), c.expected) << c.sql;
}

TEST_F(FunctionsTest, Collations) {
  ASSERT_EQ(sqlite3_exec(db_,
                         "CREATE TABLE c (s TEXT COLLATE TDSCI, d TEXT COLLATE TDSDEC);"
                         "INSERT INTO c VALUES ('b', '10.5'), ('A', '-2'), ('a  ', '9.99'),"
                         " ('É', '100'), ('e', '-2.50');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(Eval("SELECT group_concat(d, ' ') FROM (SELECT d FROM c ORDER BY d)"),
            "-2.50 -2 9.99 10.5 100");
  // Case-insensitive but accent-sensitive: a = A, e <> É.
  EXPECT_EQ(Eval("SELECT count(DISTINCT s) FROM c"), "4");
  EXPECT_EQ(Eval("SELECT count(*) FROM c WHERE s = 'A'"), "2");
  EXPECT_EQ(Eval("SELECT count(*) FROM c WHERE s = 'é'"), "1");
  EXPECT_EQ(Eval("SELECT max(d) FROM c"), "100");
  EXPECT_EQ(Eval("SELECT tds_dsum(d) FROM c"), "115.99");
  EXPECT_EQ(Eval("SELECT tds_davg(d) FROM c"), "23.198000");
}

TEST_F(FunctionsTest, StringFunctions) {
  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"SELECT tds_substring('héllo', 2, 3)", "éll"},
      {"SELECT tds_substring('hello', -1, 3)", "h"},
      {"SELECT tds_substring('hello', 10, 3)", ""},
      {"SELECT tds_substring(X'010203', 2, 5)", "0x0203"},
      {"SELECT tds_left('日本語', 2)", "日本"},
      {"SELECT tds_right('日本語', 1)", "語"},
      {"SELECT tds_right('abc', -1)",
       "error 536: Invalid length parameter passed to the right function."},
      {"SELECT tds_replace('aXbxc', 'x', '-')", "a-b-c"},
      {"SELECT tds_charindex('', 'abc')", "0"},
      {"SELECT tds_charindex('語', '日本語')", "3"},
      {"SELECT tds_upper('straße é')", "STRAßE É"},
      {"SELECT tds_reverse('abé')", "éba"},
      {"SELECT length(tds_space(3))", "3"},
      {"SELECT tds_ascii('A')", "65"},
      // ascii() is the code page 1252 byte; unicode() the first UTF-16 unit.
      {"SELECT tds_ascii('€')", "128"},
      {"SELECT tds_ascii('中')", "63"},
      {"SELECT tds_unicode('€')", "8364"},
      {"SELECT tds_unicode('😀x')", "55357"},
      {"SELECT tds_ulen('a' || char(0) || 'b')", "3"},
      {"SELECT tds_ulen('😀')", "2"},
      {"SELECT tds_char(233)", "é"},
      {"SELECT tds_char(300)", "NULL"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.sql), c.expected) << c.sql;
}

TEST_F(FunctionsTest, MoreStringFunctions) {
  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"SELECT tds_replicate('ab', 3, 0)", "ababab"},
      {"SELECT tds_replicate('ab', -1, 0)", "NULL"},
      {"SELECT tds_replicate('ab', 0, 0)", ""},
      {"SELECT length(tds_replicate('abc', 5000, 0))", "8000"},
      {"SELECT length(tds_replicate('é', 5000, 1))", "4000"},
      {"SELECT length(tds_replicate('', 100000000, 0))", "0"},
      {"SELECT tds_stuff('abcdef', 2, 3, 'ijklmn')", "aijklmnef"},
      {"SELECT tds_stuff('abcdef', 2, 99, NULL)", "a"},
      {"SELECT tds_stuff('héllo', 2, 1, 'e')", "hello"},
      {"SELECT tds_stuff('abc', 4, 1, 'x')", "NULL"},
      {"SELECT tds_stuff('abc', 0, 1, 'x')", "NULL"},
      {"SELECT tds_stuff('abc', 1, -1, 'x')", "NULL"},
      {"SELECT tds_concat_ws('-', 'a', NULL, 'c')", "a-c"},
      {"SELECT tds_concat_ws(NULL, 'a', 'b')", "ab"},
      {"SELECT tds_concat_ws(',', NULL, NULL)", ""},
      {"SELECT tds_quotename('my table', '[')", "[my table]"},
      {"SELECT tds_quotename('abc[]def', ']')", "[abc[]]def]"},
      {"SELECT tds_quotename('it''s', '''')", "'it''s'"},
      {"SELECT tds_quotename('x', '(')", "(x)"},
      {"SELECT tds_quotename('x', 'a')", "NULL"},
      {"SELECT tds_quotename(printf('%.129c', 'a'), '[')", "NULL"},
      {"SELECT tds_str(123.45, 6, 1)", " 123.5"},
      {"SELECT tds_str(123.45, 2, 2)", "**"},
      {"SELECT tds_str(123.456, 5, 2)", "123.5"},
      {"SELECT tds_str(-2.5, 10, 0)", "        -3"},
      {"SELECT tds_str(1, 0, 0)", "NULL"},
      {"SELECT tds_ulen('a😀b')", "4"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.sql), c.expected) << c.sql;
}

TEST_F(FunctionsTest, FloatMathAndBinaryCasts) {
  const std::string i = PackedType(IntType(TypeId::kInt));
  const std::string b2 = PackedType(ColumnType{TypeId::kBinary, 2, 0, 0});
  const std::string b8 = PackedType(ColumnType{TypeId::kBinary, 8, 0, 0});
  const std::string vb1 = PackedType(ColumnType{TypeId::kVarBinary, 1, 0, 0});
  const std::string vc = PackedType(VarCharType(10, false));
  const std::string vb = PackedType(ColumnType{TypeId::kVarBinary, 10, 0, 0});
  const std::string nv = PackedType(VarCharType(4, true));
  struct Case {
    std::string sql;
    const char* expected;
  } cases[] = {
      {"SELECT tds_fmath('power', 2, 10)", "1024.0"},
      {"SELECT tds_fmath('sqrt', 16)", "4.0"},
      {"SELECT tds_fmath('sqrt', -1)", "error 3623: An invalid floating point operation occurred."},
      {"SELECT tds_fmath('log', 0)", "error 3623: An invalid floating point operation occurred."},
      {"SELECT tds_fmath('log', 8, 2)", "3.0"},
      {"SELECT tds_fmath('log10', 1000)", "3.0"},
      {"SELECT tds_fmath('exp', NULL)", "NULL"},
      // Numbers keep their low-order bytes; binary(n) pads on the left.
      {"SELECT tds_cvt(258, " + i + "," + b2 + ",NULL,0)", "0x0102"},
      {"SELECT tds_cvt(65, " + i + "," + vb1 + ",NULL,0)", "0x41"},
      {"SELECT tds_cvt(1, " + i + "," + b8 + ",NULL,0)", "0x0000000000000001"},
      {"SELECT tds_cvt(258, " + i + "," + vb1 + ",NULL,1)",
       "error 8152: String or binary data would be truncated."},
      // Single-byte text is code page 1252 as bytes.
      {"SELECT tds_cvt('é€', " + vc + "," + vb + ",NULL,0)", "0xE980"},
      {"SELECT tds_cvt(X'E980', " + vb + "," + vc + ",NULL,0)", "é€"},
      // nvarchar lengths are UTF-16 units: two emoji fill nvarchar(4).
      {"SELECT tds_cvt('😀😀😀', " + PackedType(VarCharType(6, true)) + "," + nv + ",NULL,1)",
       "error 8152: String or binary data would be truncated."},
      {"SELECT tds_cvt('😀😀😀', " + PackedType(VarCharType(6, true)) + "," + nv + ",NULL,0)", "😀😀"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.sql), c.expected) << c.sql;
}

TEST_F(FunctionsTest, ErrorEncoding) {
  Message m;
  ASSERT_TRUE(DecodeError(EncodeError(8134, 1, 16, "a|b"), &m));
  EXPECT_EQ(m.number, 8134);
  EXPECT_EQ(m.state, 1);
  EXPECT_EQ(m.severity, 16);
  EXPECT_EQ(m.text, "a|b");
  EXPECT_FALSE(DecodeError("no such table: x", &m));
  EXPECT_FALSE(DecodeError("\x01tds|1", &m));
}

}  // namespace
}  // namespace tdslite::sql
