// Which errors end the statement and which the batch, with SQL Server's
// numbers, states, severities and texts, and the DONE each statement gets.
#include "session_fixture.h"

namespace tdslite {
namespace {

TEST_F(SessionTest, ErrorsAndBatchContinuation) {
  ASSERT_EQ(Run("create table t (id int constraint pk_t primary key, name varchar(5) not null)"),
            "done C6");
  Check({
      // Syntax errors: nothing in the batch runs.
      {"insert into t values (1, 'a') select 1 +",
       "msg 102/15/1: Incorrect syntax near '+'.\ndone 0 error"},
      {"select * from t where",
       "msg 156/15/1: Incorrect syntax near the keyword 'where'.\ndone 0 error"},
      {"select 1 2", "msg 102/15/1: Incorrect syntax near '2'.\ndone 0 error"},
      {"select 'abc",
       "msg 105/15/1: Unclosed quotation mark after the character string 'abc'.\n"
       "msg 102/15/1: Incorrect syntax near 'abc'.\ndone 0 error"},
      {"select count(*) from t", "cols :int!\nrow 0\ndone C1 count=1"},
      // Name resolution ends the batch at that statement.
      {"select 1 select * from nosuch select 2",
       "cols :int!\nrow 1\ndone C1 count=1\nmsg 208/16/1: Invalid object name 'nosuch'.\n"
       "done C1 error"},
      {"select nosuch from t select 2",
       "msg 207/16/1: Invalid column name 'nosuch'.\ndone C1 error"},
      // Constraint, NULL, truncation and divide by zero end the statement only.
      {"insert into t values (1, 'a') insert into t values (1, 'b') select 'go'",
       "done C3 count=1\nmsg 2627/14/1: Violation of PRIMARY KEY constraint 'pk_t'. Cannot insert "
       "duplicate key in object 'dbo.t'. The duplicate key value is (1).\n"
       "msg 3621/0/0: The statement has been terminated.\ndone C3 error\n"
       "cols :varchar(2)!\nrow 'go'\ndone C1 count=1"},
      {"insert into t values (2, null) select 'go'",
       "msg 515/16/2: Cannot insert the value NULL into column 'name', table 'master.dbo.t'; "
       "column does not allow nulls. INSERT fails.\nmsg 3621/0/0: The statement has been "
       "terminated.\ndone C3 error\ncols :varchar(2)!\nrow 'go'\ndone C1 count=1"},
      {"insert into t values (3, 'toolong') select 'go'",
       "msg 8152/16/14: String or binary data would be truncated.\nmsg 3621/0/0: The statement "
       "has been terminated.\ndone C3 error\ncols :varchar(2)!\nrow 'go'\ndone C1 count=1"},
      // Trailing blanks beyond the length are dropped silently.
      {"insert into t values (4, 'abc    ') select '[' + name + ']' from t where id = 4",
       "done C3 count=1\ncols :varchar(7)!\nrow '[abc  ]'\ndone C1 count=1"},
      {"select id / 0 from t select 'go'",
       "cols :int!\nmsg 8134/16/1: Divide by zero error encountered.\ndone C1 error\n"
       "cols :varchar(2)!\nrow 'go'\ndone C1 count=1"},
      // Conversion failures end the batch.
      {"select cast('abc' as int) select 'no'",
       "cols :int!\nmsg 245/16/1: Conversion failed when converting the varchar value 'abc' to "
       "data type int.\ndone C1 error"},
      {"select name + 1 from t select 'no'",
       "cols :int!\nmsg 245/16/1: Conversion failed when converting the varchar value 'a' to "
       "data type int.\ndone C1 error"},
      {"select cast('2024-02-x' as datetime) select 'no'",
       "cols :datetime!\nmsg 241/16/1: Conversion failed when converting date and/or time from "
       "character string.\ndone C1 error"},
      // A date that does not exist only ends its statement.
      {"select cast('2024-02-30' as datetime) select 'go'",
       "cols :datetime!\nmsg 242/16/3: The conversion of a varchar data type to a datetime data "
       "type resulted in an out-of-range value.\ndone C1 error\ncols :varchar(2)!\nrow 'go'\n"
       "done C1 count=1"},
      // A failed multi-row insert leaves nothing behind.
      {"insert into t values (5, 'x'), (1, 'dup') select count(*) from t",
       "msg 2627/14/1: Violation of PRIMARY KEY constraint 'pk_t'. Cannot insert duplicate key "
       "in object 'dbo.t'. The duplicate key value is (1).\nmsg 3621/0/0: The statement has been "
       "terminated.\ndone C3 error\ncols :int!\nrow 2\ndone C1 count=1"},
      {"insert into t select id + 3, name from t",
       "msg 2627/14/1: Violation of PRIMARY KEY constraint 'pk_t'. Cannot insert duplicate key "
       "in object 'dbo.t'. The duplicate key value is (4).\nmsg 3621/0/0: The statement has been "
       "terminated.\ndone C3 error"},
      {"update t set id = 1 where id = 4",
       "msg 2627/14/1: Violation of PRIMARY KEY constraint 'pk_t'. Cannot insert duplicate key "
       "in object 'dbo.t'. The duplicate key value is (1).\nmsg 3621/0/0: The statement has been "
       "terminated.\ndone C5 error"},
      {"drop table nosuch select 1",
       "msg 3701/11/5: Cannot drop the table 'nosuch', because it does not exist or you do not "
       "have permission.\ndone C7 error\ncols :int!\nrow 1\ndone C1 count=1"},
      {"create table t (a int)",
       "msg 2714/16/6: There is already an object named 't' in the database.\ndone C6 error"},
      {"exec sp_nothing select 1",
       "msg 2812/16/62: Could not find stored procedure 'sp_nothing'.\ndone E0 error\n"
       "cols :int!\nrow 1\ndone C1 count=1"},
      {"sp_nothing 1, 'a'",
       "msg 2812/16/62: Could not find stored procedure 'sp_nothing'.\ndone E0 error"},
      {"declare c cursor for select 1",
       "msg 50100/16/1: DECLARE CURSOR is not supported by tdslite.\ndone 0 error"},
      {"select difference(getdate(), 1)",
       "msg 50100/16/1: The function difference() is not supported by tdslite.\ndone 0 error"},
      {"select foo(1)",
       "msg 195/15/10: 'foo' is not a recognized built-in function name.\ndone 0 error"},
      {"raiserror('bad %d in %s', 16, 2, 42, 'x') raiserror('note', 5, 1) select 1",
       "msg 50000/16/2: bad 42 in x\ndone AC error\nmsg 50000/5/1: note\ndone AC\n"
       "cols :int!\nrow 1\ndone C1 count=1"},
      {"raiserror('x', 19, 1)",
       "msg 2754/16/1: Error severity levels greater than 18 can only be specified by members of "
       "the sysadmin role, using the WITH LOG option.\ndone AC error"},
      {"raiserror('fatal', 20, 1) with log select 1", "msg 50000/20/1: fatal\ndone AC error"},
      {"set ansi_nulls off",
       "msg 50100/16/1: SET ansi_nulls OFF is not supported by tdslite.\ndone B9 error"},
      {"set ansi_nulls on set quoted_identifier, ansi_warnings on", "done B9\ndone B9"},
      {"select @@error", "cols :int!\nrow 0\ndone C1 count=1"},
      // A scalar subquery with a second row ends its statement; none is NULL.
      {"select id from t where id = (select id from t) select 'go'",
       "cols id:int!\nmsg 512/16/1: Subquery returned more than 1 value. This is not permitted "
       "when the subquery follows =, !=, <, <= , >, >= or when the subquery is used as an "
       "expression.\ndone C1 error\ncols :varchar(2)!\nrow 'go'\ndone C1 count=1"},
      {"select (select name from t where id = 99), (select name from t where id = 4)",
       "cols :varchar(5) :varchar(5)\nrow NULL|'abc  '\ndone C1 count=1"},
  });
}

// Expressions as long as generated SQL makes them: answered, or refused as
// too deep (191); a chain of 200,000 operators once ended the process.
TEST_F(SessionTest, LongAndDeepExpressions) {
  auto chain = [](const char* first, const char* step, int n) {
    std::string s = first;
    for (int i = 0; i < n; ++i) s += step;
    return s;
  };
  const std::string too_deep =
      "msg 191/15/1: Some part of your SQL statement is nested too deeply. Rewrite the query or "
      "break it up into smaller queries.\n";
  const std::pair<std::string, std::string> answered[] = {
      {"select " + chain("1", " + 1", 100) + ", " + chain("'a'", " + 'b'", 100) + " as s",
       "cols :int! s:varchar(101)!\nrow 101|'a" + std::string(100, 'b') + "'\ndone C1 count=1"},
      // A chain past 8,000 bytes is cut once, not nested at each step.
      {"select len(" + chain("replicate('x', 1000)", " + replicate('x', 1000)", 100) + ")",
       "cols :int!\nrow 8000\ndone C1 count=1"},
      {"select 1 where " + chain("1 = 0", " or 1 = 0", 100) + " or 2 = 2",
       "cols :int!\nrow 1\ndone C1 count=1"},
      {"select " + chain("(select ", "(select ", 13) + "1" + std::string(14, ')'),
       "cols :int\nrow 1\ndone C1 count=1"},
  };
  for (const auto& [sql, expected] : answered) EXPECT_EQ(Run(sql), expected) << sql.substr(0, 40);
  for (const std::string& sql :
       {"select " + chain("1", "+1", 200000), "select " + chain("1", "*1", 5000),
        "select 1 where " + chain("1=1", " and 1=1", 200000)}) {
    const std::string answer = Run(sql);
    EXPECT_EQ(answer.substr(0, too_deep.size()), too_deep) << answer.substr(0, 200);
  }
  EXPECT_EQ(Run("select 1"), "cols :int!\nrow 1\ndone C1 count=1");
  // Names are at most 128 characters; 128 is fine.
  const std::string name(128, 'n');
  EXPECT_EQ(Run("select 1 as " + name + "x"),
            "msg 103/15/4: The identifier that starts with '" + name +
                "' is too long. Maximum length is 128.\ndone 0 error");
  EXPECT_EQ(Run("declare @" + name + " int"),
            "msg 103/15/4: The identifier that starts with '@" + name.substr(1) +
                "' is too long. Maximum length is 128.\ndone 0 error");
  EXPECT_EQ(Run("select 1 as [" + name + "]"), "cols " + name + ":int!\nrow 1\ndone C1 count=1");
  // A local temporary table's name: at most 116.
  const std::string temp = "#" + std::string(115, 't');
  EXPECT_EQ(Run("create table " + temp + "x (a int)"),
            "msg 193/15/1: The object or column name starting with '" + temp +
                "' is too long. The maximum length is 116 characters.\ndone 0 error");
  EXPECT_EQ(Run("create table " + temp + " (a int) drop table " + temp), "done C6\ndone C7");
}

// Error messages carry the line of the statement within the batch.
TEST_F(SessionTest, ErrorLines) {
  RecordingSink sink;
  session_->ExecuteBatch("select 1\n\nselect * from nosuch", sink);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0].line, 3);
  RecordingSink syntax;
  session_->ExecuteBatch("select 1\nselect 1 +\n", syntax);
  ASSERT_EQ(syntax.messages.size(), 1u);
  EXPECT_EQ(syntax.messages[0].line, 2);
}

// IF with a single statement or a BEGIN ... END block, as clients send it
// (python3-tds ends transactions this way below TDS 7.2).
TEST_F(SessionTest, IfStatements) {
  ASSERT_EQ(Run("create table t (a int)"), "done C6");
  Check({
      {"IF @@TRANCOUNT > 0 COMMIT", "done 0"},
      {"BEGIN TRANSACTION", "xact begin nonzero\ndone D4"},
      {"insert into t values (1) IF @@TRANCOUNT > 0 COMMIT BEGIN TRANSACTION",
       "done C3 count=1\nxact commit zero\ndone D5\nxact begin nonzero\ndone D4"},
      {"IF @@TRANCOUNT > 0 ROLLBACK", "xact rollback zero\ndone D2"},
      {"if exists (select * from t where a = 1) print 'yes' else print 'no'",
       "msg 0/0/1: yes\ndone A9"},
      {"if not exists (select * from t) begin print 'a' print 'b' end else begin select 1 end "
       "select 2",
       "cols :int!\nrow 1\ndone C1 count=1\ncols :int!\nrow 2\ndone C1 count=1"},
      {"if 1 = 1 drop table t select count(*) from t",
       "done C7\nmsg 208/16/1: Invalid object name 't'.\ndone C1 error"},
      {"if 1 print 'x'",
       "msg 4145/15/1: An expression of non-boolean type specified in a context where a condition "
       "is expected, near '1'.\ndone C2 error"},
      {"if 1 = 1", "msg 102/15/1: Incorrect syntax near '1'.\ndone 0 error"},
      {"begin select 1", "msg 102/15/1: Incorrect syntax near '1'.\ndone 0 error"},
  });
}

TEST_F(SessionTest, Transactions) {
  ASSERT_EQ(Run("create table t (a int)"), "done C6");
  Check({
      {"begin tran insert into t values (1) rollback select count(*) from t",
       "xact begin nonzero\ndone D4\ndone C3 count=1\nxact rollback zero\ndone D2\n"
       "cols :int!\nrow 0\ndone C1 count=1"},
      {"begin transaction insert into t values (1) begin tran select @@trancount commit "
       "select @@trancount commit tran",
       "xact begin nonzero\ndone D4\ndone C3 count=1\ndone D4\ncols :int!\nrow 2\n"
       "done C1 count=1\ndone D5\ncols :int!\nrow 1\ndone C1 count=1\nxact commit zero\ndone D5"},
      {"commit",
       "msg 3902/16/1: The COMMIT TRANSACTION request has no corresponding BEGIN "
       "TRANSACTION.\ndone D5 error"},
      {"rollback",
       "msg 3903/16/1: The ROLLBACK TRANSACTION request has no corresponding BEGIN "
       "TRANSACTION.\ndone D2 error"},
      // A failing statement inside a transaction is undone alone; the transaction stays.
      {"begin tran insert into t values (2) insert into t values (1 / 0) select @@trancount",
       "xact begin nonzero\ndone D4\ndone C3 count=1\nmsg 8134/16/1: Divide by zero error "
       "encountered.\nmsg 3621/0/0: The statement has been terminated.\ndone C3 error\n"
       "cols :int!\nrow 1\ndone C1 count=1"},
      {"commit select a from t order by a",
       "xact commit zero\ndone D5\ncols a:int\nrow 1\nrow 2\ndone C1 count=2"},
  });
  // Transaction manager requests behave like the statements.
  RecordingSink begin;
  session_->Transaction(TransactionEvent::kBegin, begin);
  EXPECT_EQ(begin.lines, (std::vector<std::string>{"xact begin nonzero", "done D4"}));
  EXPECT_EQ(Run("delete from t select @@trancount"),
            "done C4 count=2\ncols :int!\nrow 1\ndone C1 count=1");
  RecordingSink rollback;
  session_->Transaction(TransactionEvent::kRollback, rollback);
  EXPECT_EQ(rollback.lines, (std::vector<std::string>{"xact rollback zero", "done D2"}));
  EXPECT_EQ(Run("select count(*) from t"), "cols :int!\nrow 2\ndone C1 count=1");
  RecordingSink commit;
  session_->Transaction(TransactionEvent::kCommit, commit);
  EXPECT_EQ(commit.dones.size(), 1u);
  EXPECT_TRUE(commit.dones[0].status & kDoneError);
}

}  // namespace
}  // namespace tdslite
