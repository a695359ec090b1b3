#include "tdslite/sql/parser.h"
#include "tdslite/sql/builtins.h"

#include <gtest/gtest.h>

namespace tdslite::sql {
namespace {

std::string Kinds(std::string_view sql) {
  ParseResult r = ParseBatch(sql);
  if (!r.ok()) {
    std::string out;
    for (const ParseError& e : r.errors) {
      if (!out.empty()) out += " ";
      out += std::to_string(e.number) + ":" + e.text;
    }
    return out;
  }
  static constexpr const char* kNames[] = {
      "select", "insert",   "update", "delete", "truncate", "create",    "drop", "index", "begin",
      "commit", "rollback", "save",   "set",    "print",    "raiserror", "use",  "exec",  "empty"};
  std::string out;
  for (const Stmt& s : r.statements) {
    if (!out.empty()) out += " ";
    out += kNames[static_cast<int>(s.kind)];
  }
  return out;
}

TEST(ParserTest, StatementSplitting) {
  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"select 1 select 2", "select select"},
      {"select 1;select 2;;", "select select"},
      {"", ""},
      {"insert t values (1) update t set a = 1 delete t", "insert update delete"},
      {"insert into t select * from u select 1", "insert select"},
      {"begin tran commit tran begin transaction rollback", "begin commit begin rollback"},
      {"create table t (a int) create index ix on t (a) drop table t", "create index drop"},
      {"set nocount on print 'x' raiserror('m', 1, 1) use master", "set print raiserror use"},
      {"sp_who", "exec"},
      {"sp_help 't', 2", "exec"},
      {"exec sp_who select 1", "exec select"},
      {"exec sp_makewebtask @outputfile = 'a.html', @query = 'select 1'", "exec"},
      {"exec p @a = 1, 2",
       "119:Must pass parameter number 2 and subsequent parameters as '@name = value'. After the "
       "form '@name = value' has been used, all subsequent parameters must be passed in the form "
       "'@name = value'."},
      {"select a from t union all select b from u order by 1", "select"},
      {"truncate table t", "truncate"},
      {"select 1 as x, y = 2, 3 z, 'w' = 4", "select"},
      {"select * from a join b on a.x = b.x left outer join c on c.y = a.y cross join d", "select"},
      {"select case when a is null then 1 else 2 end from t where a not between 1 and 2", "select"},
      {"select count(distinct a) from t with (nolock)", "select"},
  };
  for (const Case& c : cases) EXPECT_EQ(Kinds(c.sql), c.expected) << c.sql;
}

TEST(ParserTest, SyntaxErrors) {
  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"select", "156:Incorrect syntax near the keyword 'select'."},
      {"select 1 +", "102:Incorrect syntax near '+'."},
      {"select * from", "156:Incorrect syntax near the keyword 'from'."},
      {"select * FROM t WHERE", "156:Incorrect syntax near the keyword 'WHERE'."},
      {"select 1 2", "102:Incorrect syntax near '2'."},
      {"select 1 select", "156:Incorrect syntax near the keyword 'select'."},
      {"foo bar baz", "102:Incorrect syntax near 'baz'."},
      {"select 1 foo(", "102:Incorrect syntax near '('."},
      {"select (1", "102:Incorrect syntax near '1'."},
      {"insert into t values (1", "102:Incorrect syntax near '1'."},
      {"select 1 < 2", "102:Incorrect syntax near '<'."},
      {"select 'abc",
       "105:Unclosed quotation mark after the character string 'abc'. "
       "102:Incorrect syntax near 'abc'."},
      {"/* open", "113:Missing end comment mark '*/'."},
      {"select nosuchfn(1)", "195:'nosuchfn' is not a recognized built-in function name."},
      {"select difference(1, 2)", "50100:The function difference() is not supported by tdslite."},
      {"declare c cursor for select 1", "50100:DECLARE CURSOR is not supported by tdslite."},
      {"declare @x int; select @x += 1",
       "50100:A compound assignment in a SELECT is not supported by tdslite."},
      {"continue", "136:Cannot use a CONTINUE statement outside the scope of a WHILE statement."},
      {"begin try select 1 end try select 2", "156:Incorrect syntax near the keyword 'select'."},
      {"throw",
       "10704:To rethrow an error, a THROW statement must be used inside a CATCH block. "
       "Insert the THROW statement inside a CATCH block, or add error parameters to the "
       "THROW statement."},
      {"create table t (a xml)", "50100:The data type xml is not supported by tdslite."},
      {"create table t (a varchar(9000))",
       "2750:The size (9000) given to the type 'varchar' exceeds the maximum allowed for any data "
       "type (8000)."},
      {"select * from (select 1 as a into x) t", "156:Incorrect syntax near the keyword 'into'."},
      {"insert into y select 1 into x", "156:Incorrect syntax near the keyword 'into'."},
      {"select 1 union select 2 intersect select 3",
       "50100:INTERSECT after UNION or EXCEPT is not supported by tdslite."},
      {"return 1", "178:A RETURN statement with a return value cannot be used in this context."},
  };
  for (const Case& c : cases) EXPECT_EQ(Kinds(c.sql), c.expected) << c.sql;
}

// The parser, the compiler and the runtime read one table of built-in
// functions: every function it lists as evaluated must get past the parser,
// every refused one must be refused as not supported.
TEST(ParserTest, EveryBuiltinOfTheTableParses) {
  for (const Builtin& b : Builtins()) {
    std::string sql = "select " + std::string(b.name) + "(";
    for (int i = 0; i < b.min_args; ++i) sql += i ? ", 1" : "1";
    sql += ")";
    const std::string kinds = Kinds(sql);
    if (b.name == "cast") continue;  // a syntax of its own: cast(x as type)
    if (b.kind == BuiltinKind::kRefused) {
      EXPECT_EQ(kinds.rfind("50100:", 0), 0u) << sql << ": " << kinds;
    } else if (b.kind == BuiltinKind::kWindow) {
      EXPECT_EQ(kinds.rfind("10753:", 0), 0u) << sql << ": " << kinds;
      EXPECT_EQ(Kinds(sql + " over (order by 1)"), "select") << sql;
    } else if (b.name != "user" && b.name != "current_user" && b.name != "session_user" &&
               b.name != "system_user") {  // keywords, called without parentheses
      EXPECT_EQ(kinds, "select") << sql;
    }
  }
}

TEST(ParserTest, SelectStructure) {
  ParseResult r = ParseBatch(
      "select top 5 a as x, y = b + 1, c z from t1 a join t2 on a.k = t2.k "
      "where a > 1 group by a having count(*) > 1 order by 1 desc");
  ASSERT_TRUE(r.ok());
  const Select& s = *r.statements[0].select;
  ASSERT_EQ(s.items.size(), 3u);
  EXPECT_EQ(s.items[0].alias, "x");
  EXPECT_EQ(s.items[1].alias, "y");
  EXPECT_EQ(s.items[1].expr->kind, ExprKind::kBinaryOp);
  EXPECT_EQ(s.items[2].alias, "z");
  ASSERT_EQ(s.from.size(), 1u);
  EXPECT_EQ(s.from[0]->join, JoinKind::kInner);
  EXPECT_EQ(s.from[0]->left->alias, "a");
  EXPECT_TRUE(s.where);
  EXPECT_EQ(s.group_by.size(), 1u);
  EXPECT_TRUE(s.having);
  ASSERT_EQ(s.order_by.size(), 1u);
  EXPECT_TRUE(s.order_by[0].descending);
  ASSERT_TRUE(s.top);
  EXPECT_EQ(s.top->text, "5");
}

TEST(ParserTest, ProcedureArguments) {
  ParseResult r = ParseBatch("EXEC sp_runwebtask 'x', @OutputFile = N'a.htm'");
  ASSERT_TRUE(r.ok());
  const Stmt& s = r.statements[0];
  EXPECT_EQ(s.name, "sp_runwebtask");
  ASSERT_EQ(s.args.size(), 2u);
  EXPECT_EQ(s.arg_names, (std::vector<std::string>{"", "@outputfile"}));
  EXPECT_EQ(s.args[1]->kind, ExprKind::kNString);
}

// Precedence: * over +, comparisons over NOT over AND over OR.
TEST(ParserTest, Precedence) {
  ParseResult r = ParseBatch("select 1 where 1 + 2 * 3 = 7 or not 1 = 2 and 3 = 3");
  ASSERT_TRUE(r.ok());
  const Expr& w = *r.statements[0].select->where;
  ASSERT_EQ(w.text, "or");
  const Expr& eq = *w.args[0];
  ASSERT_EQ(eq.text, "=");
  ASSERT_EQ(eq.args[0]->text, "+");
  EXPECT_EQ(eq.args[0]->args[1]->text, "*");
  EXPECT_EQ(w.args[1]->text, "and");
  EXPECT_EQ(w.args[1]->args[0]->text, "not");
}

// Deep nesting and random input are refused, never a crash.
TEST(ParserTest, HostileInput) {
  std::string deep = "select " + std::string(5000, '(') + "1" + std::string(5000, ')');
  ParseResult r = ParseBatch(deep);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.errors[0].number, 191);
  static constexpr const char* kPieces[] = {
      "select", "from", "(",    ")",     ",",       "'x'",    "1",         "a",      "where",
      "=",      "and",  "case", "when",  "end",     "insert", "into",      "values", "*",
      "+",      "join", "on",   "order", "by",      "group",  "union",     "create", "table",
      "int",    "not",  "null", "in",    "between", ".",      "@@rowcount"};
  uint32_t seed = 7;
  for (int round = 0; round < 3000; ++round) {
    std::string sql;
    for (int i = 0; i < 12; ++i) {
      seed = seed * 1103515245 + 12345;
      sql += kPieces[(seed >> 16) % (sizeof kPieces / sizeof kPieces[0])];
      sql += ' ';
    }
    ParseResult p = ParseBatch(sql);
    EXPECT_TRUE(p.ok() || !p.errors.empty());
  }
}

// A prefix names the table only for the server's own database and dbo;
// any other keeps the name as written, so that no table answers to it.
TEST(ParserTest, TablePrefixes) {
  struct Case {
    const char* sql;
    const char* table;  // "" = refused
  } cases[] = {
      {"select * from emp", "emp"},
      {"select * from dbo.emp", "emp"},
      {"select * from master.dbo.emp", "emp"},
      {"select * from MASTER..emp", "emp"},
      {"select * from [master].[DBO].[emp]", "emp"},
      {"select * from otherdb.dbo.emp", "otherdb.dbo.emp"},
      {"select * from tempdb..emp", "tempdb..emp"},
      {"select * from nosuch.emp", "nosuch.emp"},
      {"select * from srv.master.dbo.emp", ""},
      {"select * from sys.tables", "sys.tables"},
      {"select * from master.information_schema.columns", "master.information_schema.columns"},
      {"select * from information_schema.nosuch", ""},
      {"select * from sys.foreign_keys", ""},
      {"select * from tempdb.sys.tables", ""},
      {"select * from other.sys.tables", "other.sys.tables"},
      {"select * from sys.nosuch", "sys.nosuch"},
  };
  for (const Case& c : cases) {
    ParseResult r = ParseBatch(c.sql, "master");
    if (*c.table == '\0') {
      ASSERT_FALSE(r.ok()) << c.sql;
      EXPECT_EQ(r.errors[0].number, kNotSupportedNumber) << c.sql;
      continue;
    }
    ASSERT_TRUE(r.ok()) << c.sql << ": " << r.errors[0].text;
    EXPECT_EQ(r.statements[0].select->from[0]->name, c.table) << c.sql;
  }
  // Statements name their target the same way; a table is never created
  // under a prefix it would not be found by.
  ParseResult u =
      ParseBatch("update other.dbo.t set a = 1 delete dbo.t insert master..t values (1)");
  ASSERT_TRUE(u.ok());
  EXPECT_EQ(u.statements[0].table, "other.dbo.t");
  EXPECT_EQ(u.statements[1].table, "t");
  EXPECT_EQ(u.statements[2].table, "t");
  EXPECT_EQ(ParseBatch("create table other.t (a int)").errors.at(0).number, kNotSupportedNumber);
  ParseResult ok = ParseBatch("create table dbo.t (a int) exec sys.sp_who");
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok.statements[0].table, "t");
  EXPECT_EQ(ok.statements[1].name, "sp_who");
}

}  // namespace
}  // namespace tdslite::sql

namespace tdslite::sql {
namespace {

// What the parser keeps of a procedure or function: its parameters with
// their defaults and OUTPUT marks, its body, the batch's text.
TEST(ParserModules, DefinitionsKeepParametersBodyAndText) {
  const char* text =
      "/* header */\ncreate or alter proc dbo.p (@a int = -1, @b varchar(9) out, @c bit = null "
      "output) with recompile as\nbegin select @a; return 2 end\nselect 3";
  ParseResult r = ParseBatch(text);
  ASSERT_TRUE(r.ok()) << r.errors[0].text;
  ASSERT_EQ(r.statements.size(), 1u);
  const Stmt& p = r.statements[0];
  EXPECT_EQ(p.kind, StmtKind::kCreateModule);
  EXPECT_EQ(p.module_type, 'P');
  EXPECT_EQ(p.create_mode, Stmt::CreateMode::kCreateOrAlter);
  EXPECT_EQ(p.name, "p");
  EXPECT_EQ(p.definition, text);
  ASSERT_EQ(p.column_defs.size(), 3u);
  EXPECT_TRUE(p.column_defs[0].default_value != nullptr);
  EXPECT_FALSE(p.column_defs[0].output);
  EXPECT_EQ(p.column_defs[1].type.length, 9);
  EXPECT_TRUE(p.column_defs[1].default_value == nullptr);
  EXPECT_TRUE(p.column_defs[1].output);
  EXPECT_TRUE(p.column_defs[2].output);
  // Everything after AS is the body, up to the end of the batch.
  ASSERT_EQ(p.body.size(), 2u);
  EXPECT_EQ(p.body[0].kind, StmtKind::kBlock);
  EXPECT_EQ(p.body[1].kind, StmtKind::kSelect);
  EXPECT_EQ(p.body[1].line, 4);

  ParseResult f = ParseBatch(
      "create function f (@x decimal(5,2)) returns numeric(7, 3) as begin return @x end;");
  ASSERT_TRUE(f.ok()) << f.errors[0].text;
  EXPECT_EQ(f.statements[0].module_type, 'F');
  EXPECT_EQ(f.statements[0].returns.precision, 7);
  EXPECT_EQ(f.statements[0].returns.scale, 3);
  EXPECT_EQ(f.statements[0].body.back().args.size(), 1u);
}

TEST(ParserModules, CallsKeepNamesOutputsDefaultsAndTheStatusVariable) {
  ParseResult r = ParseBatch(
      "exec @rc = dbo.p 1, default, @v output, @w = @x out; exec ('select ' + @s); "
      "insert into t (a) exec q 5; select dbo.f(1, 2) + master.dbo.g()");
  ASSERT_TRUE(r.ok()) << r.errors[0].text;
  ASSERT_EQ(r.statements.size(), 4u);
  const Stmt& e = r.statements[0];
  EXPECT_EQ(e.return_variable, "@rc");
  EXPECT_EQ(e.name, "p");
  ASSERT_EQ(e.args.size(), 4u);
  EXPECT_TRUE(e.args[1] == nullptr);
  EXPECT_EQ(e.arg_output, (std::vector<bool>{false, false, true, true}));
  EXPECT_EQ(e.arg_names[3], "@w");
  EXPECT_EQ(r.statements[1].kind, StmtKind::kExecString);
  ASSERT_TRUE(r.statements[2].exec != nullptr);
  EXPECT_EQ(r.statements[2].exec->name, "q");
  const Expr& sum = *r.statements[3].select->items[0].expr;
  EXPECT_EQ(sum.args[0]->kind, ExprKind::kFunction);
  EXPECT_EQ(sum.args[0]->text, "f");
  EXPECT_EQ(sum.args[0]->names, std::vector<std::string>{"dbo"});
  EXPECT_EQ(sum.args[1]->names, (std::vector<std::string>{"master", "dbo"}));
  EXPECT_TRUE(sum.args[1]->args.empty());
}

TEST(ParserModules, MisplacedOrMalformedDefinitionsAreRefused) {
  struct Case {
    const char* sql;
    int number;
  } cases[] = {
      {"select 1 create procedure p as select 1", 111},
      {"if 1 = 1 create function f () returns int as begin return 1 end", 111},
      {"create procedure p @a int = 1 output output as select 1", 102},
      {"create function f (@a int output) returns int as begin return 1 end", 102},
      {"create function f () returns int as begin return 1 end select 1", 156},
      {"create function f () returns table as return select 1", kNotSupportedNumber},
      {"create function f () returns int as return 1", kNotSupportedNumber},
      {"create procedure #p as select 1", 0},  // refused when it runs
      {"create procedure p with execute as owner as select 1", kNotSupportedNumber},
      {"create procedure p @t dbo.tt readonly as select 1", 2715},
      {"create procedure p @t int readonly as select 1", kNotSupportedNumber},
      {"exec @name", kNotSupportedNumber},
      {"exec p 1 output", 179},
      {"return 1", 178},
      {"create procedure p as return 'x'", 0},
      {"drop procedure if exists a, dbo.b", 0},
      {"drop function f", 0},
      {"alter function f () returns int as begin return 2 end", 0},
  };
  for (const Case& c : cases) {
    ParseResult r = ParseBatch(c.sql);
    EXPECT_EQ(r.ok() ? 0 : r.errors[0].number, c.number) << c.sql;
  }
}

}  // namespace
}  // namespace tdslite::sql
