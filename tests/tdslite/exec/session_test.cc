// Batches run against a real engine over a temporary SQLite file; each test
// compares the whole recorded response (metadata, rows, messages, DONEs).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "session_fixture.h"
#include "tdslite/common/text_pointer.h"

namespace tdslite {
namespace {

TEST_F(SessionTest, BasicStatements) {
  Check({
      {"select 1", "cols :int!\nrow 1\ndone C1 count=1"},
      {"select 'abc'", "cols :varchar(3)!\nrow 'abc'\ndone C1 count=1"},
      {"create table t (a int, b varchar(10))", "done C6"},
      {"insert into t values (1, 'x')", "done C3 count=1"},
      {"select * from t", "cols a:int b:varchar(10)\nrow 1|'x'\ndone C1 count=1"},
      {"", "done 0"},
      {"  -- only a comment\n /* and /* nested */ one */", "done 0"},
  });
}

// Statement boundaries: no semicolons needed, each statement its own DONE.
TEST_F(SessionTest, BatchSplitting) {
  Check({
      {"select 1 select 2",
       "cols :int!\nrow 1\ndone C1 count=1\ncols :int!\nrow 2\ndone C1 count=1"},
      {"select 1; select 2;",
       "cols :int!\nrow 1\ndone C1 count=1\ncols :int!\nrow 2\ndone C1 count=1"},
      {"select 1 as a\nselect 2 b",
       "cols a:int!\nrow 1\ndone C1 count=1\ncols b:int!\nrow 2\ndone C1 count=1"},
      {"print 'a' print 'b'", "msg 0/0/1: a\ndone A9\nmsg 0/0/1: b\ndone A9"},
  });
}

// The type SQL Server gives each expression column.
TEST_F(SessionTest, ExpressionTypes) {
  Check({
      {"select 1.50", "cols :numeric(3,2)!\nrow 1.50\ndone C1 count=1"},
      {"select 0.5", "cols :numeric(1,1)!\nrow 0.5\ndone C1 count=1"},
      {"select null", "cols :int\nrow NULL\ndone C1 count=1"},
      {"select 12345678901", "cols :numeric(11,0)!\nrow 12345678901\ndone C1 count=1"},
      {"select N'xy'", "cols :nvarchar(2)!\nrow 'xy'\ndone C1 count=1"},
      {"select 0x0001", "cols :varbinary(2)!\nrow 0x0001\ndone C1 count=1"},
      {"select 'a' + 'bc'", "cols :varchar(3)!\nrow 'abc'\ndone C1 count=1"},
      {"select 'a' + N'b'", "cols :nvarchar(2)!\nrow 'ab'\ndone C1 count=1"},
      {"select '1' + 1", "cols :int!\nrow 2\ndone C1 count=1"},
      {"select 1 + 2.5", "cols :numeric(3,1)!\nrow 3.5\ndone C1 count=1"},
      {"select 7 / 2, 7 % 3", "cols :int! :int!\nrow 3|1\ndone C1 count=1"},
      {"select 7.0 / 2", "cols :numeric(7,6)!\nrow 3.500000\ndone C1 count=1"},
      {"select 1.25 * 2.5", "cols :numeric(6,3)!\nrow 3.125\ndone C1 count=1"},
      {"select 1.5e0 * 2", "cols :float!\nrow 3\ndone C1 count=1"},
      {"select cast(2 as tinyint) + cast(3 as smallint)",
       "cols :smallint!\nrow 5\ndone C1 count=1"},
      {"select cast(1 as bigint) * 3", "cols :bigint!\nrow 3\ndone C1 count=1"},
      {"select cast(1 as money) * 2", "cols :money!\nrow 2.0000\ndone C1 count=1"},
      {"select cast(1.5 as decimal(10,2))", "cols :decimal(10,2)!\nrow 1.50\ndone C1 count=1"},
      {"select convert(char(4), 'ab') + '|'", "cols :varchar(5)!\nrow 'ab  |'\ndone C1 count=1"},
      {"select cast('x' as varchar)", "cols :varchar(30)!\nrow 'x'\ndone C1 count=1"},
      {"select count(*) from (select 1 as a) d", "cols :int!\nrow 1\ndone C1 count=1"},
      {"select case when 1 = 1 then 'one' end", "cols :varchar(3)\nrow 'one'\ndone C1 count=1"},
      {"select case 1 when 3 then 3.5 else 1 end",
       "cols :numeric(11,1)!\nrow 1.0\ndone C1 count=1"},
      {"select isnull(null, 'none')", "cols :varchar(4)!\nrow 'none'\ndone C1 count=1"},
      {"select len('ab  '), datalength('ab  '), datalength(N'ab')",
       "cols :int! :int! :int!\nrow 2|4|4\ndone C1 count=1"},
      {"select suser_name(), user_name(), system_user, user, host_name(), app_name()",
       "cols :nvarchar(128) :nvarchar(128) :nvarchar(128) :nvarchar(128) :nvarchar(128) "
       ":nvarchar(128)\nrow 'sa'|'dbo'|'sa'|'dbo'|''|''\ndone C1 count=1"},
      {"select @@spid, db_name(), suser_sname(), @@servername",
       "cols :smallint! :nvarchar(128) :nvarchar(128) :nvarchar(128)\nrow "
       "51|'master'|'sa'|'TESTSRV'\n"
       "done C1 count=1"},
  });
  RecordingSink sink;
  session_->ExecuteBatch("select getdate(), current_timestamp", sink);
  ASSERT_EQ(sink.metadata.size(), 1u);
  EXPECT_EQ(sink.metadata[0][0].type.id, TypeId::kDateTime);
  EXPECT_FALSE(sink.metadata[0][0].nullable);
  // getdate() is fixed for the statement and has datetime's 1/300 s precision.
  EXPECT_EQ(sink.rows[0][0].dt.days, sink.rows[0][1].dt.days);
  EXPECT_EQ(sink.rows[0][0].dt.ticks, sink.rows[0][1].dt.ticks);
}

TEST_F(SessionTest, Functions) {
  Check({
      {"select substring('hello', 2, 3), left('hello', 2), right('hello', 3)",
       "cols :varchar(5)! :varchar(5)! :varchar(5)!\nrow 'ell'|'he'|'llo'\ndone C1 count=1"},
      {"select substring('hello', 0, 2), substring('hello', 4, 10)",
       "cols :varchar(5)! :varchar(5)!\nrow 'h'|'lo'\ndone C1 count=1"},
      {"select replace('Hello', 'L', 'x'), charindex('L', 'hello'), charindex('l', 'hello', 4)",
       "cols :varchar(8000)! :int! :int!\nrow 'Hexxo'|3|4\ndone C1 count=1"},
      {"select ltrim('  a  ') + '|', rtrim('  a  ') + '|', upper('aB'), lower('aB')",
       "cols :varchar(6)! :varchar(6)! :varchar(2)! :varchar(2)!\nrow 'a  |'|'  a|'|'AB'|'ab'\n"
       "done C1 count=1"},
      {"select abs(-5), abs(-1.25), round(123.456, 1), round(123.456, -1), round(2.5, 0)",
       "cols :int! :numeric(3,2)! :numeric(6,3)! :numeric(6,3)! :numeric(2,1)!\n"
       "row 5|1.25|123.500|120.000|3.0\ndone C1 count=1"},
      {"select floor(-1.5), ceiling(1.2), floor(7)",
       "cols :numeric(2,0)! :numeric(2,0)! :int!\nrow -2|2|7\ndone C1 count=1"},
      {"select year('2024-02-29'), month('2024-02-29'), day('2024-02-29')",
       "cols :int! :int! :int!\nrow 2024|2|29\ndone C1 count=1"},
      {"select coalesce(null, null, 3), nullif(1, 1), nullif(1, 2)",
       "cols :int! :int :int\nrow 3|NULL|1\ndone C1 count=1"},
      {"select convert(varchar, cast('2024-01-31 13:45' as datetime))",
       "cols :varchar(30)!\nrow 'Jan 31 2024  1:45PM'\ndone C1 count=1"},
      {"select convert(char(26), cast('2024-02-29 13:45:07.123' as datetime), 109)",
       "cols :char(26)!\nrow 'Feb 29 2024  1:45:07:123PM'\ndone C1 count=1"},
      {"select convert(varchar(10), cast('2024-01-05 09:05' as datetime), 120)",
       "cols :varchar(10)!\nrow '2024-01-05'\ndone C1 count=1"},
      {"select cast(123456 as varchar(3)), cast('abcdef' as varchar(3)), cast(-1.5 as int)",
       "cols :varchar(3)! :varchar(3)! :int!\nrow '*'|'abc'|-1\ndone C1 count=1"},
      {"select $12.50, -$1, upper(N'é'), lower('ÀB')",
       "cols :money! :money! :nvarchar(1)! :varchar(2)!\nrow 12.5000|-1.0000|'É'|'àb'\n"
       "done C1 count=1"},
      {"select 'x' where N'É' = N'é'", "cols :varchar(1)!\nrow 'x'\ndone C1 count=1"},
      {"select * from (select 1 a order by 1) d",
       "msg 1033/15/1: The ORDER BY clause is invalid in views, inline functions, derived "
       "tables, subqueries, and common table expressions, unless TOP, OFFSET or FOR XML is also "
       "specified.\ndone C1 error"},
      {"select cast(1e3 as decimal(10,2)), cast(2.5 as money), cast('12.5' as float)",
       "cols :decimal(10,2)! :money! :float!\nrow 1000.00|2.5000|12.5\ndone C1 count=1"},
  });
}

TEST_F(SessionTest, Predicates) {
  Check({
      {"select 'x' where 1 between 0 and 2 and 'abc' like 'a_c' and 'b' not in ('a', 'c')",
       "cols :varchar(1)!\nrow 'x'\ndone C1 count=1"},
      // Comparison ignores case and trailing blanks; LIKE knows character classes.
      {"select 'x' where 'abc' = 'ABC  ' and 'b1' like '[a-c][0-9]' and 'd' like '[^abc]'",
       "cols :varchar(1)!\nrow 'x'\ndone C1 count=1"},
      {"select 'x' where null = null", "cols :varchar(1)!\ndone C1 count=0"},
      {"select 'x' where null is null and 1 is not null",
       "cols :varchar(1)!\nrow 'x'\ndone C1 count=1"},
      {"select 'x' where '10%' like '10!%' escape '!'",
       "cols :varchar(1)!\nrow 'x'\ndone C1 count=1"},
  });
}

// Every type stored and read back unchanged, including its extremes and NULL.
TEST_F(SessionTest, ValuesRoundTrip) {
  ASSERT_EQ(Run("create table v (id int primary key, ti tinyint, si smallint, i int, bi bigint, "
                "bt bit, r real, f float, sm smallmoney, m money, sdt smalldatetime, dt datetime, "
                "d decimal(38,10), n numeric(5,2), c char(5), vc varchar(10), nc nchar(3), "
                "nvc nvarchar(10), b binary(4), vb varbinary(10), tx text, ntx ntext, im image)"),
            "done C6");
  ASSERT_EQ(Run("insert into v values (1, 255, -32768, -2147483648, 9223372036854775807, 1, 1.5, "
                "-2.25, 214748.3647, -922337203685477.5808, '2079-06-06 23:59', "
                "'2024-02-29 23:59:59.997', 1234567890123456789012345678.0123456789, -999.99, "
                "'ab', 'x  ', N'é', N'日本語', 0x0102, 0x000100, 'text', N'ntëxt', 0x00ff)"),
            "done C3 count=1");
  ASSERT_EQ(
      Run("insert into v values (2, 0, 32767, 2147483647, -9223372036854775808, 0, -1.5, "
          "2.25, -214748.3648, 922337203685477.5807, '1900-01-01', '1753-01-01', "
          "-9999999999999999999999999999.9999999999, 0, '', '', N'', N'', 0x, 0x, '', N'', 0x)"),
      "done C3 count=1");
  ASSERT_EQ(Run("insert into v (id) values (3)"), "done C3 count=1");
  EXPECT_EQ(
      Run("select * from v order by id"),
      "cols id:int! ti:tinyint si:smallint i:int bi:bigint bt:bit r:real f:float "
      "sm:smallmoney m:money sdt:smalldatetime dt:datetime d:decimal(38,10) n:numeric(5,2) "
      "c:char(5) vc:varchar(10) nc:nchar(3) nvc:nvarchar(10) b:binary(4) vb:varbinary(10) "
      "tx:text ntx:ntext im:image\n"
      "row 1|255|-32768|-2147483648|9223372036854775807|1|1.5|-2.25|214748.3647|"
      "-922337203685477.5808|2079-06-06 23:59:00.000|2024-02-29 23:59:59.997|"
      "1234567890123456789012345678.0123456789|-999.99|'ab   '|'x  '|'é  '|'日本語'|"
      "0x01020000|0x000100|'text'|'ntëxt'|0x00FF\n"
      "row 2|0|32767|2147483647|-9223372036854775808|0|-1.5|2.25|-214748.3648|"
      "922337203685477.5807|1900-01-01 00:00:00.000|1753-01-01 00:00:00.000|"
      "-9999999999999999999999999999.9999999999|0.00|'     '|''|'   '|''|0x00000000|0x|''|''|0x\n"
      "row 3|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|"
      "NULL|NULL|NULL|NULL|NULL|NULL\n"
      "done C1 count=3");
  // Exact values, not approximations: the decimal's unscaled integer and datetime ticks.
  RecordingSink sink;
  session_->ExecuteBatch("select d, dt, tx from v where id = 1", sink);
  ASSERT_EQ(sink.rows.size(), 1u);
  __int128 expected = 0;
  for (char c : std::string("12345678901234567890123456780123456789"))
    expected = expected * 10 + (c - '0');
  EXPECT_TRUE(sink.rows[0][0].dec == expected);
  EXPECT_EQ(sink.rows[0][1].dt.ticks, 25919999u);
  EXPECT_EQ(sink.rows[0][2].text_pointer.size(), 16u);
  // The text pointer names the row, table and column the value came from.
  TextPointer ptr;
  ASSERT_TRUE(ParseTextPointer(sink.rows[0][2].text_pointer, &ptr));
  EXPECT_EQ(ptr.rowid, 1);
  EXPECT_EQ(ptr.table_hash, NameHash("V"));
  EXPECT_EQ(ptr.column_hash, NameHash("tx"));
  RecordingSink second;
  session_->ExecuteBatch("select im, id from v where id = 2", second);
  ASSERT_TRUE(ParseTextPointer(second.rows[0][0].text_pointer, &ptr));
  EXPECT_EQ(ptr.rowid, 2);
  EXPECT_EQ(second.rows[0][1].i, 2);
  EXPECT_EQ(sink.rows[0][2].text_timestamp.size(), 8u);
  EXPECT_EQ(sink.metadata[0][2].table, "v");
  // Decimals compare and sort by value, not as text.
  EXPECT_EQ(Run("select id from v where d > 0 order by d"), "cols id:int!\nrow 1\ndone C1 count=1");
  EXPECT_EQ(Run("select tx from v order by tx"),
            "msg 306/16/2: The text, ntext, and image data types cannot be compared or sorted, "
            "except when using IS NULL or LIKE operator.\ndone C1 error");
  EXPECT_EQ(Run("select distinct ntx from v"),
            "msg 421/16/1: The ntext data type cannot be selected as DISTINCT because it is not "
            "comparable.\ndone C1 error");
  EXPECT_EQ(Run("select id from v where tx like 'te%' and datalength(ntx) = 10"),
            "cols id:int!\nrow 1\ndone C1 count=1");
  EXPECT_EQ(Run("select id from v where n < -1 or n = 0 order by n desc"),
            "cols id:int!\nrow 2\nrow 1\ndone C1 count=2");
}

TEST_F(SessionTest, IdentityAndDefaults) {
  Check({
      {"create table t (id int identity(10,1) primary key, name varchar(10) default 'none', "
       "at datetime default getdate())",
       "done C6"},
      {"insert into t (name) values ('a') insert into t default values select scope_identity()",
       "done C3 count=1\ndone C3 count=1\ncols :numeric(38,0)\nrow 11\ndone C1 count=1"},
      {"select id, name, case when at is null then 0 else 1 end from t",
       "cols id:int! name:varchar(10) :int!\nrow 10|'a'|1\nrow 11|'none'|1\ndone C1 count=2"},
      {"insert into t (id) values (5)",
       "msg 544/16/1: Cannot insert explicit value for identity column in table 't' when "
       "IDENTITY_INSERT is set to OFF.\ndone C3 error"},
      {"update t set id = 3", "msg 8102/16/1: Cannot update identity column 'id'.\ndone C5 error"},
      {"truncate table t insert into t (name) values ('b') select id from t",
       "done 118\ndone C3 count=1\ncols id:int!\nrow 10\ndone C1 count=1"},
  });
}

// The server's rules for names, collation and result types, where a
// script would see them differ.
TEST_F(SessionTest, ServerRules) {
  Check({
      {"create table t (id int, name varchar(10)) insert into t values (1, 'a'), (2, 'B')",
       "done C6\ndone C3 count=2"},
      {"select count(*) from master.dbo.t select count(*) from master..t",
       "cols :int!\nrow 2\ndone C1 count=1\ncols :int!\nrow 2\ndone C1 count=1"},
      {"select count(*) from other.dbo.t",
       "msg 208/16/1: Invalid object name 'other.dbo.t'.\ndone C1 error"},
      {"select count(*) from (select 'a' as x union select 'A  ') u",
       "cols :int!\nrow 1\ndone C1 count=1"},
      {"select count(distinct x) from (select upper(name) as x from t union all select name "
       "from t) u",
       "cols :int!\nrow 2\ndone C1 count=1"},
      {"select cast(10 as decimal(5,2)) * cast(3 as decimal(5,2)), "
       "cast(10 as decimal(5,2)) / cast(3 as decimal(5,2))",
       "cols :decimal(11,4)! :decimal(13,8)!\nrow 30.0000|3.33333333\ndone C1 count=1"},
      {"select round(748.58, -3)",
       "cols :numeric(5,2)!\nmsg 8115/16/2: Arithmetic overflow error converting expression to "
       "data type "
       "numeric.\ndone C1 error"},
      {"update x set name = 'c' from t x where x.id = 1 delete y from t y where y.id = 2 "
       "select id, name from t",
       "done C5 count=1\ndone C4 count=1\ncols id:int name:varchar(10)\nrow 1|'c'\n"
       "done C1 count=1"},
      {"set datefirst 1 select @@datefirst", "done B9\ncols :tinyint!\nrow 1\ndone C1 count=1"},
      {"select iif(1 > 0, 'yes', 'no'), choose(2, 'a', 'b'), choose(3, 'a', 'b')",
       "cols :varchar(3)! :varchar(1) :varchar(1)\nrow 'yes'|'b'|NULL\ndone C1 count=1"},
      {"select convert(datetime, '15/03/2024', 103), convert(varchar(20), $1234567.891, 1)",
       "cols :datetime! :varchar(20)!\nrow 2024-03-15 00:00:00.000|'1,234,567.89'\n"
       "done C1 count=1"},
      {"select cast('2024-02-30' as datetime)",
       "cols :datetime!\nmsg 242/16/3: The conversion of a varchar data type to a datetime data "
       "type "
       "resulted in an out-of-range value.\ndone C1 error"},
  });
}

}  // namespace
}  // namespace tdslite
