// create table, insert column lists and the errors SQL Server gives for them.
#include "session_fixture.h"

namespace tdslite {
namespace {

TEST_F(SessionTest, CreateTableErrors) {
  Check({
      {"create table t (a int, A int)",
       "msg 2705/16/3: Column names in each table must be unique. Column name 'A' in table 't' "
       "is specified more than once.\ndone C6 error"},
      {"create table t (a int identity, b int identity)",
       "msg 2744/16/2: Multiple identity columns specified for table 't'. Only one identity "
       "column per table is allowed.\ndone C6 error"},
      {"create table t (a varchar(5) identity)",
       "msg 2749/16/2: Identity column 'a' must be of data type int, bigint, smallint, tinyint, "
       "or decimal or numeric with a scale of 0, and constrained to be nonnullable.\n"
       "done C6 error"},
      {"create table t (a int primary key, b int primary key)",
       "msg 8110/16/0: Cannot add multiple PRIMARY KEY constraints to table 't'.\ndone C6 error"},
      {"create table t (a int, primary key (b))",
       "msg 1911/16/1: Column name 'b' does not exist in the target table or view.\ndone C6 error"},
      {"create table t (a int null primary key)",
       "msg 8111/16/1: Cannot define PRIMARY KEY constraint on nullable column in table 't'.\n"
       "done C6 error"},
      {"create table t (a int, b int, constraint pk_ab primary key (a, b), c text)", "done C6"},
      {"insert into t (a, b) values (1, 2) insert into t (a, b, c) values (1, 2, 'x')",
       "done C3 count=1\nmsg 2627/14/1: Violation of PRIMARY KEY constraint 'pk_ab'. Cannot "
       "insert duplicate key in object 'dbo.t'. The duplicate key value is (1, 2).\n"
       "msg 3621/0/0: The statement has been terminated.\ndone C3 error"},
      {"insert into t (a) values (null)",
       "msg 515/16/2: Cannot insert the value NULL into column 'a', table 'master.dbo.t'; column "
       "does not allow nulls. INSERT fails.\nmsg 3621/0/0: The statement has been terminated.\n"
       "done C3 error"},
      {"create table u (a int unique, b varchar(3) default 'zz', c datetime default '2024-01-01')",
       "done C6"},
  });
  // Unnamed constraints get generated names (UQ__table__hex), as in SQL Server.
  std::string dup = Run("insert into u (a) values (1) insert into u (a) values (1)");
  EXPECT_EQ(
      dup.rfind("done C3 count=1\nmsg 2627/14/1: Violation of UNIQUE KEY constraint 'UQ__u__", 0),
      0u);
  EXPECT_NE(
      dup.find("'. Cannot insert duplicate key in object 'dbo.u'. The duplicate key value is (1)."),
      std::string::npos);
}

// Generated constraint names: one per key of a table, and the same each time
// the table is created.
TEST_F(SessionTest, GeneratedConstraintNamesAreDistinctAndStable) {
  auto violated = [&](const char* insert) {
    const std::string out = Run(insert);
    const size_t at = out.find("constraint '");
    return at == std::string::npos ? out : out.substr(at + 12, out.find('\'', at + 12) - at - 12);
  };
  const char* create = "create table k (a int unique, b int unique, c int)";
  ASSERT_EQ(Run(create), "done C6");
  ASSERT_EQ(Run("insert into k values (1, 1, 0)"), "done C3 count=1");
  const std::string on_a = violated("insert into k values (1, 2, 0)");
  const std::string on_b = violated("insert into k values (2, 1, 0)");
  EXPECT_EQ(on_a.rfind("UQ__k__", 0), 0u) << on_a;
  EXPECT_EQ(on_b.rfind("UQ__k__", 0), 0u) << on_b;
  EXPECT_NE(on_a, on_b);
  ASSERT_EQ(Run("drop table k"), "done C7");
  ASSERT_EQ(Run(create), "done C6");
  ASSERT_EQ(Run("insert into k values (1, 1, 0)"), "done C3 count=1");
  EXPECT_EQ(violated("insert into k values (1, 2, 0)"), on_a);
}

TEST_F(SessionTest, InsertColumnLists) {
  ASSERT_EQ(Run("create table t (a int, b varchar(3) default 'zz', c int)"), "done C6");
  Check({
      {"insert into t values (1, 'x')",
       "msg 213/16/1: Column name or number of supplied values does not match table "
       "definition.\ndone C3 error"},
      {"insert into t (a, b) values (1)",
       "msg 109/15/1: There are more columns in the INSERT statement than values specified in "
       "the VALUES clause. The number of values in the VALUES clause must match the number of "
       "columns specified in the INSERT statement.\ndone C3 error"},
      {"insert into t (a) values (1, 2)",
       "msg 110/15/1: There are fewer columns in the INSERT statement than values specified in "
       "the VALUES clause. The number of values in the VALUES clause must match the number of "
       "columns specified in the INSERT statement.\ndone C3 error"},
      {"insert into t (a, a) values (1, 2)",
       "msg 264/16/1: The column name 'a' is specified more than once in the SET clause or "
       "column list of an INSERT. A column cannot be assigned more than one value in the same "
       "clause.\ndone C3 error"},
      {"insert into t (a, nope) values (1, 2)",
       "msg 207/16/1: Invalid column name 'nope'.\ndone C3 error"},
      {"insert into t (a, b) select 1",
       "msg 120/15/1: The select list for the INSERT statement contains fewer items than the "
       "insert list. The number of SELECT values must match the number of INSERT columns.\n"
       "done C3 error"},
      {"insert into nope values (1)", "msg 208/16/1: Invalid object name 'nope'.\ndone C3 error"},
      {"insert into t (c, a) values (3, 1) insert t default values insert into t (a) select 7",
       "done C3 count=1\ndone C3 count=1\ndone C3 count=1"},
      {"select a, b, c from t order by a",
       "cols a:int b:varchar(3) c:int\nrow NULL|'zz'|NULL\nrow 1|'zz'|3\nrow 7|'zz'|NULL\n"
       "done C1 count=3"},
      {"update t set b = 'toolong' where a = 1",
       "msg 8152/16/14: String or binary data would be truncated.\nmsg 3621/0/0: The statement "
       "has been terminated.\ndone C5 error"},
      {"update t set nope = 1", "msg 207/16/1: Invalid column name 'nope'.\ndone C5 error"},
  });
}

// Values keep their type's exact representation through expressions.
TEST_F(SessionTest, ExactArithmetic) {
  ASSERT_EQ(Run("create table m (p money, d decimal(38,10), f float, dt datetime)"), "done C6");
  ASSERT_EQ(
      Run("insert into m values (922337203685477.5807, 0.0000000001, 0.1, '2024-02-28 12:00')"),
      "done C3 count=1");
  Check({
      // Beyond 38 digits SQL Server keeps the integral part and gives up scale.
      {"select p - 0.0001, d * 10, d + 1, d * d, f + 0.2 from m",
       "cols :numeric(20,4) :decimal(38,7) :decimal(38,9) :decimal(38,6) :float\n"
       "row 922337203685477.5806|0.0000000|1.000000000|0.000000|0.3\ndone C1 count=1"},
      {"select d + d, d - 0.00000000005 from m",
       "cols :decimal(38,9) :decimal(38,9)\nrow 0.000000000|0.000000000\ndone C1 count=1"},
      {"select p * 2 from m",
       "cols :money\nmsg 8115/16/2: Arithmetic overflow error converting expression to data type "
       "money.\ndone C1 error"},
      {"select dt + 1, dt - 1.5, dt + '12:00' from m",
       "cols :datetime :datetime :datetime\n"
       "row 2024-02-29 12:00:00.000|2024-02-27 00:00:00.000|2024-02-29 00:00:00.000\n"
       "done C1 count=1"},
      {"select sum(d), avg(d), sum(p) from m",
       "cols :decimal(38,10) :decimal(38,10) :money\n"
       "row 0.0000000001|0.0000000001|922337203685477.5807\ndone C1 count=1"},
      {"select cast(d as varchar(20)), cast(p as varchar(30)), cast(f as varchar(10)) from m",
       "cols :varchar(20) :varchar(30) :varchar(10)\n"
       "row '0.0000000001'|'922337203685477.58'|'0.1'\ndone C1 count=1"},
  });
}

}  // namespace
}  // namespace tdslite
