// Stored procedures, scalar functions and dynamic SQL: what a call reports
// (DONEINPROC, RETURNSTATUS, DONEPROC, output values), how arguments bind,
// the errors of bad calls and definitions, scopes, nesting and storage.
#include <unistd.h>

#include <sqlite3.h>

#include "session_fixture.h"
#include "tdslite/sql/modules.h"

namespace tdslite {
namespace {

// Records DONE kinds, the procedure a message names, and RETURNVALUEs.
class ProcedureSink : public RecordingSink {
 public:
  void Finish(const Done& d) override {
    RecordingSink::Finish(d);
    if (d.kind == DoneKind::kDoneInProc) lines.back().replace(0, 4, "doneinproc");
    if (d.kind == DoneKind::kDoneProc) lines.back().replace(0, 4, "doneproc");
  }
  void Send(const Message& m) override {
    RecordingSink::Send(m);
    if (!m.procedure.empty()) {
      lines.back() += " [" + m.procedure + " line " + std::to_string(m.line) + "]";
    }
  }
  void ReturnValue(const ReturnedValue& v) override {
    lines.push_back("retval " + std::to_string(v.ordinal) + " " + v.name + " " +
                    test_support::TypeText(v.column.type) + " " +
                    test_support::ValueText(v.column, v.value));
  }
  std::string Text() const {
    std::string out;
    for (const std::string& l : lines) out += (out.empty() ? "" : "\n") + l;
    return out;
  }
};

class ProcedureTest : public SessionTest {
 protected:
  // A database file of the test's own, to read back and to reopen.
  void SetUp() override {
    char name[] = "/tmp/tdslite_procedures_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = name;
    Open();
  }
  void TearDown() override {
    session_.reset();
    engine_.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) unlink((path_ + suffix).c_str());
  }
  void Open() {
    session_.reset();
    engine_.reset();
    ServerConfig config;
    config.server_name = "TESTSRV";
    config.database_path = path_;
    std::string error;
    engine_ = Engine::Open(config, &error);
    ASSERT_TRUE(engine_) << error;
    session_ = NewSession(51);
    ASSERT_TRUE(session_);
  }
  std::string path_;

  std::string Call(std::string_view sql) {
    ProcedureSink sink;
    session_->ExecuteBatch(sql, sink);
    return sink.Text();
  }
  void Define(std::initializer_list<const char*> batches) {
    for (const char* b : batches) ASSERT_EQ(Call(b), "done DE") << b;
  }
  void CheckCalls(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(Call(c.sql), c.expected) << c.sql;
  }
};

TEST_F(ProcedureTest, ACallReportsItsStatementsInsideTheProcedure) {
  Define({"create procedure p_one as select 1 as one",
          "create procedure p_two as begin select 1 as a; select 'x' as b end",
          "create procedure p_outer as begin exec p_one; return 4 end",
          "create proc p_quiet as set nocount on; declare @n int = 2"});
  CheckCalls({
      {"exec p_one", "cols one:int!\nrow 1\ndoneinproc C1 count=1\nstatus 0\ndoneproc E0"},
      // A batch that begins with the name calls it too.
      {"p_one", "cols one:int!\nrow 1\ndoneinproc C1 count=1\nstatus 0\ndoneproc E0"},
      {"exec p_two",
       "cols a:int!\nrow 1\ndoneinproc C1 count=1\ncols b:varchar(1)!\nrow 'x'\n"
       "doneinproc C1 count=1\nstatus 0\ndoneproc E0"},
      // Each level ends with its own status and DONEPROC.
      {"exec p_outer",
       "cols one:int!\nrow 1\ndoneinproc C1 count=1\nstatus 0\ndoneproc E0\nstatus 4\n"
       "doneproc E0"},
      // SET NOCOUNT inside a procedure ends with it.
      {"exec p_quiet; select 5",
       "doneinproc B9\nstatus 0\ndoneproc E0\ncols :int!\nrow 5\n"
       "done C1 count=1"},
  });
}

TEST_F(ProcedureTest, ArgumentsBindByPositionNameAndDefault) {
  Define(
      {"create procedure p_args @a int, @b varchar(10) = 'dflt', @c int = null output as "
       "select @a as a, @b as b, @c as c; set @c = @a * 10; return @a + 1"});
  CheckCalls({
      {"exec p_args 1",
       "cols a:int b:varchar(10) c:int\nrow 1|'dflt'|NULL\n"
       "doneinproc C1 count=1\nstatus 2\ndoneproc E0"},
      {"exec p_args @b = 'x', @a = 2",
       "cols a:int b:varchar(10) c:int\nrow 2|'x'|NULL\ndoneinproc C1 count=1\nstatus 3\n"
       "doneproc E0"},
      {"exec p_args 3, default, 7",
       "cols a:int b:varchar(10) c:int\nrow 3|'dflt'|7\ndoneinproc C1 count=1\nstatus 4\n"
       "doneproc E0"},
      // Arguments are converted to the parameters' types.
      {"exec p_args '4', 12345",
       "cols a:int b:varchar(10) c:int\nrow 4|'12345'|NULL\n"
       "doneinproc C1 count=1\nstatus 5\ndoneproc E0"},
      // Output: the caller's variable gets the value, converted to its type;
      // without OUTPUT it keeps its own.
      {"declare @v varchar(5) = '7', @rc int; exec @rc = p_args 5, 'b', @v output; "
       "select @v as v, @rc as rc",
       "cols a:int b:varchar(10) c:int\nrow 5|'b'|7\ndoneinproc C1 count=1\nstatus 6\n"
       "doneproc E0\ncols v:varchar(5) rc:int\nrow '50'|6\ndone C1 count=1"},
      {"declare @v int = 9; exec p_args 6, 'b', @v; select @v as v",
       "cols a:int b:varchar(10) c:int\nrow 6|'b'|9\ndoneinproc C1 count=1\nstatus 7\n"
       "doneproc E0\ncols v:int\nrow 9\ndone C1 count=1"},
  });
}

TEST_F(ProcedureTest, BadCallsAreRefusedWithTheServersErrors) {
  Define({"create procedure p_two_args @a int, @b int as select @a + @b as s",
          "create function dbo.f_one () returns int as begin return 1 end"});
  CheckCalls({
      {"exec p_two_args 1; select 'next'",
       "msg 201/16/4: Procedure or function 'p_two_args' expects parameter '@b', which was not "
       "supplied.\ndone E0 error\ncols :varchar(4)!\nrow 'next'\ndone C1 count=1"},
      {"exec p_two_args 1, 2, 3",
       "msg 8144/16/2: Procedure or function p_two_args has too many arguments specified.\n"
       "done E0 error"},
      {"exec p_two_args @a = 1, @z = 2",
       "msg 8145/16/2: @z is not a parameter for procedure p_two_args.\ndone E0 error"},
      {"declare @x int; exec p_two_args 1, @x output",
       "msg 8162/16/2: The formal parameter \"@b\" was not declared as an OUTPUT parameter, but "
       "the actual parameter passed in requested output.\ndone E0 error"},
      {"exec p_two_args 1, 2 output",
       "msg 179/15/1: Cannot use the OUTPUT option when passing a constant to a stored "
       "procedure.\ndone 0 error"},
      {"exec p_two_args @a = 1, 2",
       "msg 119/15/1: Must pass parameter number 2 and subsequent parameters as '@name = "
       "value'. After the form '@name = value' has been used, all subsequent parameters must be "
       "passed in the form '@name = value'.\ndone 0 error"},
      {"exec @nosuch = p_two_args 1, 2",
       "msg 137/15/1: Must declare the scalar variable \"@nosuch\".\ndone E0 error"},
      {"exec p_nosuch",
       "msg 2812/16/62: Could not find stored procedure 'p_nosuch'.\ndone E0 error"},
      // A function is not a procedure.
      {"exec f_one", "msg 2812/16/62: Could not find stored procedure 'f_one'.\ndone E0 error"},
      {"exec p_two_args 'x', 1; select 'no'",
       "msg 245/16/1: Conversion failed when converting the varchar value 'x' to data type int.\n"
       "done E0 error"},
  });
}

TEST_F(ProcedureTest, DefinitionsAreCheckedAndStoredAsWritten) {
  ASSERT_EQ(Run("create table t_taken (n int)"), "done C6");
  Define({"-- leading comment\ncreate procedure p_def @n int as select @n as n"});
  CheckCalls({
      {"create procedure p_def as select 1",
       "msg 2714/16/3: There is already an object named 'p_def' in the database.\ndone DE error"},
      {"create procedure t_taken as select 1",
       "msg 2714/16/3: There is already an object named 't_taken' in the database.\n"
       "done DE error"},
      {"alter procedure p_missing as select 1",
       "msg 208/16/1: Invalid object name 'p_missing'.\ndone DE error"},
      {"select 1 create procedure p_late as select 1",
       "msg 111/15/1: 'CREATE/ALTER PROCEDURE' must be the first statement in a query batch.\n"
       "done 0 error"},
      {"create procedure p_dup @a int, @a int as select 1",
       "msg 134/15/1: The variable name '@a' has already been declared. Variable names must be "
       "unique within a query batch or stored procedure.\ndone 0 error"},
      {"create procedure p_redeclare @a int as declare @a int",
       "msg 134/15/1: The variable name '@a' has already been declared. Variable names must be "
       "unique within a query batch or stored procedure.\ndone 0 error"},
      {"create procedure other.p as select 1",
       "msg 2760/16/1: The specified schema name \"other\" either does not exist or you do not "
       "have permission to use it.\ndone 0 error"},
      {"create function dbo.f_norets (@a int) returns int as begin set @a = 1 end",
       "msg 455/16/1: The last statement included within a function must be a return "
       "statement.\ndone 0 error"},
      {"create function dbo.f_rows () returns int as begin select 1; return 1 end",
       "msg 444/16/1: Select statements included within a function cannot return data to a "
       "client.\ndone 0 error"},
      {"create function dbo.f_writes () returns int as begin delete from t_taken; return 1 end",
       "msg 443/16/1: Invalid use of a side-effecting operator 'DELETE' within a function.\n"
       "done 0 error"},
      {"drop procedure p_never; select 'next'",
       "msg 3701/11/11: Cannot drop the procedure 'p_never', because it does not exist or you "
       "do not have permission.\ndone DF error\ncols :varchar(4)!\nrow 'next'\ndone C1 count=1"},
      {"drop procedure if exists p_never", "done DF"},
      {"drop function p_def",
       "msg 3701/11/11: Cannot drop the function 'p_def', because it does not exist or you do "
       "not have permission.\ndone DF error"},
      {"create or alter procedure p_def @n int as select @n * 2 as n", "done DE"},
      {"exec p_def 4", "cols n:int\nrow 8\ndoneinproc C1 count=1\nstatus 0\ndoneproc E0"},
      // The catalog views see it.
      {"select count(*) from sys.procedures where name = 'P_DEF' and object_id('dbo.p_def') "
       "is not null",
       "cols :int!\nrow 1\ndone C1 count=1"},
  });
  // The catalog keeps the text of the batch, comments included, and the
  // create date of the first definition; the server restarted finds it.
  Open();
  EXPECT_EQ(Call("exec p_def 5"),
            "cols n:int\nrow 10\ndoneinproc C1 count=1\nstatus 0\ndoneproc E0");
  std::vector<sql::ModuleInfo> modules;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  ASSERT_TRUE(sql::ListModules(db, &modules));
  sqlite3_close(db);
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(modules[0].name, "p_def");
  EXPECT_EQ(modules[0].type, "P");
  EXPECT_EQ(modules[0].definition, "create or alter procedure p_def @n int as select @n * 2 as n");
  EXPECT_EQ(modules[0].create_date.size(), 23u);
  EXPECT_LE(modules[0].create_date, modules[0].modify_date);
}

TEST_F(ProcedureTest, ErrorsInsideNameTheProcedureAndItsLine) {
  Define({"create procedure p_fails as\nselect 1 as a\nselect 1 / 0 as b\nselect 2 as c",
          "create procedure p_calls as\n\nexec p_fails",
          "create procedure p_raises as raiserror('boom %d', 16, 1, 7)",
          "create procedure p_null as return null", "create procedure p_opens as begin tran"});
  CheckCalls({
      // A statement-level error ends the statement; the procedure goes on.
      {"exec p_calls",
       "cols a:int!\nrow 1\ndoneinproc C1 count=1\ncols b:int!\n"
       "msg 8134/16/1: Divide by zero error encountered. [p_fails line 3]\n"
       "doneinproc C1 error\ncols c:int!\nrow 2\ndoneinproc C1 count=1\nstatus 0\ndoneproc E0\n"
       "status 0\ndoneproc E0"},
      {"exec p_raises",
       "msg 50000/16/1: boom 7 [p_raises line 1]\ndoneinproc AC error\n"
       "status 0\ndoneproc E0"},
      {"exec p_null",
       "msg 0/0/1: The 'p_null' procedure attempted to return a status of NULL, which is not "
       "allowed. A status of 0 will be returned instead. [p_null line 1]\nstatus 0\n"
       "doneproc E0"},
      // A procedure that leaves the transaction count changed is reported;
      // the transaction stays open.
      {"exec p_opens select @@trancount as n rollback",
       "xact begin nonzero\ndoneinproc D4\nmsg 266/16/2: Transaction count after EXECUTE "
       "indicates a mismatching number of BEGIN and COMMIT statements. Previous count = 0, "
       "current count = 1. [p_opens line 1]\nstatus 0\ndoneproc E0\ncols n:int!\nrow 1\n"
       "done C1 count=1\nxact rollback zero\ndone D2"},
      // An error inside is caught by the caller's TRY block.
      {"begin try exec p_raises end try begin catch select error_number() as n, "
       "error_message() as m end catch",
       "cols n:int m:nvarchar(4000)\nrow 50000|'boom 7'\ndone C1 count=1"},
  });
}

TEST_F(ProcedureTest, NestingStopsAt32Levels) {
  Define(
      {"create procedure p_deep @n int as begin if @n >= 40 return @n; declare @r int; "
       "exec @r = p_deep @n + 1; return @r end",
       "create procedure p_level as select @@nestlevel as level",
       "create function dbo.f_deep (@n int) returns int as begin return dbo.f_deep(@n + 1) "
       "end"});
  CheckCalls({
      {"select @@nestlevel as level; exec p_level",
       "cols level:int!\nrow 0\ndone C1 count=1\ncols level:int!\nrow 1\n"
       "doneinproc C1 count=1\nstatus 0\ndoneproc E0"},
      {"exec p_deep 1; select 'not reached'",
       "msg 217/16/1: Maximum stored procedure, function, trigger, or view nesting level "
       "exceeded (limit 32). [p_deep line 1]\ndoneinproc E0 error"},
      {"select dbo.f_deep(1) as v; select 'not reached'",
       "cols v:int\nmsg 217/16/1: Maximum stored procedure, function, trigger, or view nesting "
       "level exceeded (limit 32).\ndone C1 error"},
  });
}

TEST_F(ProcedureTest, ScalarFunctionsInExpressions) {
  ASSERT_EQ(Run("create table f_src (id int, amount decimal(10,2))"), "done C6");
  ASSERT_EQ(Run("insert into f_src values (1, 10.50), (2, 3.25), (3, null)"), "done C3 count=3");
  Define(
      {"create function dbo.f_twice (@d decimal(10,2)) returns decimal(12,2) as begin "
       "return @d * 2 end",
       "create function dbo.f_label (@id int) returns varchar(20) as begin declare @a "
       "decimal(10,2); select @a = amount from f_src where id = @id; if @a is null return "
       "'none'; return 'amount ' + cast(dbo.f_twice(@a) as varchar(12)) end",
       "create function dbo.f_div (@a int, @b int) returns int as begin return @a / @b end"});
  CheckCalls({
      {"select id, dbo.f_twice(amount) as t from f_src where dbo.f_twice(amount) > 7 order by id",
       "cols id:int t:decimal(12,2)\nrow 1|21.00\ndone C1 count=1"},
      {"select dbo.f_label(2) as a, dbo.f_label(3) as b, master.dbo.f_label(1) as c",
       "cols a:varchar(20) b:varchar(20) c:varchar(20)\nrow 'amount 6.50'|'none'|'amount 21.00'\n"
       "done C1 count=1"},
      // An error inside is the calling statement's error.
      {"select dbo.f_div(1, 0) as v; select 'next'",
       "cols v:int\nmsg 8134/16/1: Divide by zero error encountered.\ndone C1 error\n"
       "cols :varchar(4)!\nrow 'next'\ndone C1 count=1"},
      {"select dbo.f_div(1) as v",
       "msg 313/16/3: An insufficient number of arguments were supplied for the procedure or "
       "function dbo.f_div.\ndone C1 error"},
      {"select dbo.f_div(1, 2, 3) as v",
       "msg 8144/16/2: Procedure or function dbo.f_div has too many arguments specified.\n"
       "done C1 error"},
      {"select other.f_div(1, 2) as v",
       "msg 4121/16/1: Cannot find either column \"other\" or the user-defined function or "
       "aggregate \"other.f_div\", or the name is ambiguous.\ndone C1 error"},
      {"select f_div(1, 2)",
       "msg 195/15/10: 'f_div' is not a recognized built-in function name.\ndone 0 error"},
      {"drop function dbo.f_div", "done DF"},
      {"select dbo.f_div(4, 2) as v",
       "msg 4121/16/1: Cannot find either column \"dbo\" or the user-defined function or "
       "aggregate \"dbo.f_div\", or the name is ambiguous.\ndone C1 error"},
  });
}

TEST_F(ProcedureTest, DynamicSqlRunsInAScopeOfItsOwn) {
  CheckCalls({
      {"declare @t varchar(20) = 'select 2 as two'; exec (@t); exec ('select ' + '3 as three')",
       "cols two:int!\nrow 2\ndone C1 count=1\ncols three:int!\nrow 3\ndone C1 count=1"},
      // The caller's variables are not the text's.
      {"declare @x int = 1; exec ('select @x')",
       "msg 137/15/2: Must declare the scalar variable \"@x\".\ndone C1 error"},
      // A syntax error in the text ends only the EXEC.
      {"exec ('select from'); select 'next'",
       "msg 156/15/1: Incorrect syntax near the keyword 'from'.\ndone E0 error\n"
       "cols :varchar(4)!\nrow 'next'\ndone C1 count=1"},
      // A procedure created from a string.
      {"exec ('create procedure p_dyn as select 7 as seven'); exec p_dyn",
       "done DE\ncols seven:int!\nrow 7\ndoneinproc C1 count=1\nstatus 0\ndoneproc E0"},
      {"declare @n int; exec sp_executesql N'set @o = @i * 3', N'@i int, @o int output', "
       "@i = 5, @o = @n output; select @n as n",
       "status 0\ndoneproc E0\ncols n:int\nrow 15\ndone C1 count=1"},
      {"exec sp_executesql N'select @a as a', N'@a varchar(3)', 'abcdef'",
       "cols a:varchar(3)\nrow 'abc'\ndoneinproc C1 count=1\nstatus 0\ndoneproc E0"},
      {"exec sp_executesql 5",
       "msg 214/16/2: Procedure expects parameter '@statement' of type "
       "'ntext/nchar/nvarchar'.\ndone E0 error"},
  });
}

TEST_F(ProcedureTest, InsertExecTakesEveryResultSet) {
  ASSERT_EQ(Run("create table ie (id int identity, n int, s varchar(3))"), "done C6");
  Define({"create procedure p_rows as begin select 1, 'abc'; select 2, 'de' end",
          "create procedure p_wide as select 1, 2, 3",
          "create procedure p_none as declare @x int"});
  CheckCalls({
      {"insert into ie (n, s) exec p_rows; select id, n, s from ie order by id",
       "done C3 count=2\ncols id:int! n:int s:varchar(3)\nrow 1|1|'abc'\nrow 2|2|'de'\n"
       "done C1 count=2"},
      {"insert into ie (n, s) exec p_wide; select 'next'",
       "msg 213/16/7: Column name or number of supplied values does not match table definition.\n"
       "done C3 error\ncols :varchar(4)!\nrow 'next'\ndone C1 count=1"},
      {"insert into ie exec p_wide",
       "msg 213/16/7: Column name or number of supplied values does not match table definition.\n"
       "done C3 error"},
      {"insert into ie (n, s) exec p_none", "done C3 count=0"},
      {"declare @t table (a int, b varchar(5)); insert into @t exec p_rows; select count(*) "
       "from @t",
       "done C3 count=2\ncols :int!\nrow 2\ndone C1 count=1"},
  });
}

TEST_F(ProcedureTest, RpcCallsReturnStatusAndOutputValues) {
  Define(
      {"create procedure p_rpc @a int, @r varchar(10) output, @s int = 3 output as begin "
       "set @r = 'got ' + cast(@a as varchar(5)); set @s = @s + 1; return 9 end"});
  struct RpcCase {
    std::vector<ProcedureArgument> args;
    const char* expected;
  } cases[] = {
      {{{"", "21", false}, {"", "NULL", true}},
       "status 9\nretval 1 @r varchar(10) 'got 21'\ndoneproc E0"},
      {{{"@s", "40", true}, {"@a", "1", false}, {"@r", "N'x'", true}},
       // In the order the procedure declares them.
       "status 9\nretval 2 @r varchar(10) 'got 1'\nretval 0 @s int 41\ndoneproc E0"},
      {{{"", "1", false}},
       "msg 201/16/4: Procedure or function 'p_rpc' expects parameter '@r', which was not "
       "supplied.\ndoneproc E0 error"},
  };
  for (const RpcCase& c : cases) {
    ProcedureSink sink;
    session_->CallProcedure("dbo.p_rpc", c.args, sink);
    EXPECT_EQ(sink.Text(), c.expected);
  }
  ProcedureSink missing;
  session_->CallProcedure("p_gone", {}, missing);
  EXPECT_EQ(missing.Text(),
            "msg 2812/16/62: Could not find stored procedure 'p_gone'.\ndoneproc E0 error");
}

}  // namespace
}  // namespace tdslite
