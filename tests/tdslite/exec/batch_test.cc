// Variables, loops, TRY/CATCH and temporary tables: what a batch keeps
// between its statements, and what it must not keep or hide.
#include "session_fixture.h"

namespace tdslite {
namespace {

TEST_F(SessionTest, VariablesLiveForTheirBatch) {
  Check({
      // A declaration run again in a loop keeps the value it had.
      {"declare @n int = 0; while @n < 3 begin declare @k int; set @k = isnull(@k, 0) + 1;"
       " set @n += 1 end select @k, @n",
       "cols :int :int\nrow 3|3\ndone C1 count=1"},
      // The next batch knows nothing of them.
      {"select @k", "msg 137/15/2: Must declare the scalar variable \"@k\".\ndone C1 error"},
      // Declared twice anywhere in the batch: nothing runs.
      {"select 1 if 1 = 0 begin declare @a int end declare @a int",
       "msg 134/15/1: The variable name '@a' has already been declared. Variable names must be "
       "unique within a query batch or stored procedure.\ndone 0 error"},
      // A failed assignment leaves the old value.
      {"declare @v int = 4; set @v = 'x'",
       "msg 245/16/1: Conversion failed when converting the "
       "varchar value 'x' to data type int.\ndone B9 error"},
      {"declare @v int = 4; select @v = a from (select 1 as a union all select 1 / 0) t;"
       " select @v",
       "msg 8134/16/1: Divide by zero error encountered.\ndone C1 error\ncols :int\nrow 4\n"
       "done C1 count=1"},
      // Assignment and retrieval do not mix.
      {"declare @v int; select @v = 1, 2",
       "msg 141/15/1: A SELECT statement that assigns a value to a variable must not be combined "
       "with data-retrieval operations.\ndone C1 error"},
      {"break",
       "msg 135/15/1: Cannot use a BREAK statement outside the scope of a WHILE "
       "statement.\ndone 0 error"},
      {"declare @s varchar(20) = ''; declare @i int = 0; while @i < 4 begin set @i += 1;"
       " if @i % 2 = 0 continue; set @s += cast(@i as varchar(2)) end select @s",
       "cols :varchar(20)\nrow '13'\ndone C1 count=1"},
      {"declare @n int = 1; select top (@n) 'x'", "cols :varchar(1)!\nrow 'x'\ndone C1 count=1"},
  });
}

TEST_F(SessionTest, CatchBlocksGetOnlyTheErrorsTheyMayHandle) {
  ASSERT_EQ(Run("create table k (n int primary key)"), "done C6");
  Check({
      {"begin try insert into k values (1); insert into k values (1) end try"
       " begin catch select error_number(), error_state(), @@error end catch",
       "done C3 count=1\ncols :int :int :int!\nrow 2627|1|2627\ndone C1 count=1"},
      // A refusal is never caught: the client must see it.
      {"begin try select 1 from k cross apply k x end try begin catch select 'caught' end catch",
       "msg 50100/16/1: CROSS APPLY is not supported by tdslite.\ndone 0 error"},
      {"begin try select nosuch from k end try begin catch select 'caught' end catch",
       "msg 207/16/1: Invalid column name 'nosuch'.\ndone C1 error"},
      // Informational messages pass through; outside a catch block there is no error.
      {"begin try print 'hi' end try begin catch select 'caught' end catch select error_number()",
       "msg 0/0/1: hi\ndone A9\ncols :int\nrow NULL\ndone C1 count=1"},
      // An error in a catch block goes to the client (or the outer catch).
      {"begin try throw 50001, 'a', 1 end try begin catch throw 50002, 'b', 2 end catch select 1",
       "msg 50002/16/2: b\ndone AC error"},
      {"throw 50001, 'x', 300",
       "msg 35100/16/11: The THROW statement's state 300 is outside the valid range of 0 to "
       "255.\ndone AC error"},
  });
}

TEST_F(SessionTest, TemporaryTablesBelongToTheirConnection) {
  ASSERT_EQ(
      Run("create table #t (id int identity(5,1), v char(1)) insert into #t (v) values ('a')"),
      "done C6\ndone C3 count=1");
  // A main table with an identity is seeded apart from the temporary one.
  EXPECT_EQ(Run("create table m (id int identity(100,1), v char(1)) insert into m (v) values ('b')"
                " select id from m select id from #t"),
            "done C6\ndone C3 count=1\ncols id:int!\nrow 100\ndone C1 count=1\n"
            "cols id:int!\nrow 5\ndone C1 count=1");
  auto other = NewSession(52);
  ASSERT_TRUE(other);
  EXPECT_EQ(RunBatch(*other, "select count(*) from #t"),
            "msg 208/16/1: Invalid object name '#t'.\ndone C1 error");
  EXPECT_EQ(RunBatch(*other, "create table ##g (n int) insert into ##g values (1)"),
            "done C6\ndone C3 count=1");
  EXPECT_EQ(Run("select n from ##g"), "cols n:int\nrow 1\ndone C1 count=1");
  other.reset();
  EXPECT_EQ(Run("select n from ##g"), "msg 208/16/1: Invalid object name '##g'.\ndone C1 error");
  // A table variable goes at the end of its batch; a new one may take its name.
  EXPECT_EQ(Run("declare @t table (n int primary key) insert into @t values (1) select n from @t"),
            "done C3 count=1\ncols n:int!\nrow 1\ndone C1 count=1");
  EXPECT_EQ(Run("declare @t table (s varchar(3)) select count(*) from @t"),
            "cols :int!\nrow 0\ndone C1 count=1");
}

TEST_F(SessionTest, SelectIntoMakesATableOfTheResult) {
  ASSERT_EQ(Run("create table s (id int identity(1,1), v varchar(5)) insert into s (v) values "
                "('a'), ('b')"),
            "done C6\ndone C3 count=2");
  Check({
      {"select id, v, len(v) as n into #c from s select @@rowcount",
       "done C1 count=2\ncols :int!\nrow 2\ndone C1 count=1"},
      // The identity comes along and goes on counting.
      {"insert into #c (v, n) values ('c', 1) select id, v, n from #c order by id",
       "done C3 count=1\ncols id:int! v:varchar(5) n:int\nrow 1|'a'|1\nrow 2|'b'|1\n"
       "row 3|'c'|1\ndone C1 count=3"},
      {"select * into s from #c",
       "msg 2714/16/6: There is already an object named 's' in the database.\ndone C1 error"},
      {"select 1 into nameless",
       "msg 1038/15/5: An object or column name is missing or empty. "
       "For SELECT INTO statements, verify each column has a name. For "
       "other statements, look for empty alias names. Aliases defined "
       "as \"\" or [] are not allowed. Change the alias to a valid "
       "name.\ndone C1 error"},
  });
}

TEST_F(SessionTest, XactAbortEndsTheBatchAndTheTransaction) {
  ASSERT_EQ(Run("create table x (n int constraint pk_x primary key)"), "done C6");
  EXPECT_EQ(Run("set xact_abort on begin tran insert into x values (1) insert into x values (1) "
                "insert into x values (2)"),
            "done B9\nxact begin nonzero\ndone D4\ndone C3 count=1\n"
            "msg 2627/14/1: Violation of PRIMARY KEY constraint 'pk_x'. Cannot insert duplicate "
            "key in object 'dbo.x'. The duplicate key value is (1).\nxact rollback zero\n"
            "done C3 error");
  EXPECT_EQ(Run("select @@trancount, count(*) from x"),
            "cols :int! :int!\nrow 0|0\ndone C1 count=1");
  // Inside a try block the transaction is doomed: the catch block rolls it back.
  EXPECT_EQ(Run("begin try begin tran insert into x values (1) insert into x values (1) end try "
                "begin catch select xact_state() rollback end catch select @@trancount"),
            "xact begin nonzero\ndone D4\ndone C3 count=1\ncols :smallint!\n"
            "row -1\ndone C1 count=1\nxact rollback zero\ndone D2\ncols :int!\nrow 0\n"
            "done C1 count=1");
  EXPECT_EQ(Run("set xact_abort off select count(*) from x"),
            "done B9\ncols :int!\nrow 0\n"
            "done C1 count=1");
}

}  // namespace
}  // namespace tdslite
