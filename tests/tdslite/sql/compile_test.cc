// The compiler on its own, without a session: the SQLite SQL it writes and
// the SQL Server types it infers for representative statements, and that
// SQLite accepts every statement it writes.
#include "tdslite/sql/compile.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "tdslite/sql/catalog.h"
#include "tdslite/sql/functions.h"
#include "tdslite/sql/parser.h"
#include "tdslite/sql/types.h"

namespace tdslite::sql {
namespace {

class CompilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    ASSERT_TRUE(RegisterFunctions(db_, &context_));
    std::string error;
    ASSERT_TRUE(EnsureCatalog(db_, &error)) << error;
    vars_.login = "sa";
    vars_.database = "master";
    CreateTable(
        "create table item (id int identity primary key, name varchar(10) not null, "
        "price money null, qty decimal(7,2) null, note text null, code char(3) null unique)");
  }
  void TearDown() override { sqlite3_close(db_); }

  ParseResult Parse(const std::string& sql) {
    ParseResult p = ParseBatch(sql);
    EXPECT_TRUE(p.ok()) << sql;
    EXPECT_EQ(p.statements.size(), 1u) << sql;
    return p;
  }

  void CreateTable(const std::string& sql) {
    ParseResult p = Parse(sql);
    ASSERT_EQ(p.statements.size(), 1u);
    Compiler c(db_, vars_);
    std::string ddl, error;
    CatalogTable table;
    CompileError e;
    ASSERT_TRUE(c.CompileCreateTable(p.statements[0], &ddl, &table, &e)) << e.message.text;
    ASSERT_EQ(sqlite3_exec(db_, ddl.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << ddl;
    ASSERT_TRUE(AddTable(db_, table, &error)) << error;
    tables_.push_back(table);
    ddl_.push_back(ddl);
  }

  // Parses `sql` (one select) and compiles it; false when the compiler
  // refuses it (its message in *e) or it did not parse as a select.
  bool CompileOne(const std::string& sql, CompiledSelect* out, CompileError* e) {
    ParseResult p = Parse(sql);
    if (p.statements.empty() || !p.statements[0].select) return false;
    Compiler compiler(db_, vars_);
    return compiler.CompileSelect(*p.statements[0].select, out, e);
  }

  // SQLite accepts the statement (its tables and tdslite's functions exist).
  bool Prepares(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr);
    sqlite3_finalize(st);
    EXPECT_EQ(rc, SQLITE_OK) << sql << ": " << sqlite3_errmsg(db_);
    return rc == SQLITE_OK;
  }

  // The result columns of a select as "name:type" words, "!" marking NOT NULL.
  std::string Columns(const CompiledSelect& s) {
    std::string out;
    for (const ColumnDesc& c : s.columns) {
      if (!out.empty()) out += " ";
      out += c.name + ":" + TypeDeclaration(c.type) + (c.nullable ? "" : "!");
    }
    return out;
  }

  sqlite3* db_ = nullptr;
  FunctionContext context_;
  SessionVars vars_;
  std::vector<CatalogTable> tables_;
  std::vector<std::string> ddl_;
};

// What create table records and the DDL it hands SQLite.
TEST_F(CompilerTest, CreateTable) {
  ASSERT_EQ(tables_.size(), 1u);
  const CatalogTable& t = tables_[0];
  EXPECT_EQ(t.identity_column, 0);
  ASSERT_EQ(t.columns.size(), 6u);
  EXPECT_FALSE(t.columns[1].nullable);
  EXPECT_EQ(TypeDeclaration(t.columns[3].type), "decimal(7,2)");
  ASSERT_EQ(t.keys.size(), 2u);
  EXPECT_EQ(t.keys[0].kind, 'P');
  EXPECT_EQ(t.keys[1].kind, 'U');
  EXPECT_EQ(ddl_[0],
            "CREATE TABLE main.\"item\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"name\" TEXT "
            "COLLATE TDSCI NOT NULL, \"price\" INT, \"qty\" TEXT COLLATE TDSDEC, \"note\" TEXT "
            "COLLATE TDSCI, \"code\" TEXT COLLATE TDSCI, UNIQUE (\"code\"))");
}

// Result types of representative queries, and SQLite takes each.
TEST_F(CompilerTest, SelectTypes) {
  struct Case {
    const char* sql;
    const char* columns;
  } cases[] = {
      {"select id, name from item", "id:int! name:varchar(10)!"},
      {"select * from item",
       "id:int! name:varchar(10)! price:money qty:decimal(7,2) note:text code:char(3)"},
      {"select count(*), sum(qty), avg(price), max(name) from item",
       ":int! :decimal(38,2) :money :varchar(10)"},
      {"select name + '!', len(name), upper(code) from item", ":varchar(11)! :int! :char(3)"},
      {"select price * 2, qty + 1, qty * qty, id / 2.0 from item",
       ":money :decimal(8,2) :decimal(15,4) :numeric(17,6)!"},
      {"select isnull(price, 0), coalesce(qty, 1), nullif(id, 0) from item",
       ":money! :decimal(12,2)! :int"},
      {"select case when id > 1 then 'big' else 'small' end as size from item", "size:varchar(5)!"},
      {"select cast(id as varchar(5)), convert(decimal(5,1), qty) from item",
       ":varchar(5)! :decimal(5,1)"},
      {"select name, count(*) as n from item group by name having count(*) > 1 order by 2 desc",
       "name:varchar(10)! n:int!"},
      {"select i.name, j.id from item i join item j on i.id = j.id where i.qty is not null",
       "name:varchar(10)! id:int!"},
      {"select top 2 name from item order by name", "name:varchar(10)!"},
      {"select id from item union select 1", "id:int!"},
      {"select (select max(id) from item), textptr(note) from item", ":int :varbinary(16)"},
      {"select getdate(), suser_name(), @@rowcount", ":datetime! :nvarchar(128) :int!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    CompiledSelect out;
    CompileError e;
    ASSERT_TRUE(CompileOne(c.sql, &out, &e)) << c.sql << ": " << e.message.text;
    EXPECT_EQ(Columns(out), c.columns) << c.sql;
    Prepares(out.sql);
  }
}

// Data-changing statements: each statement the compiler writes is SQL that
// SQLite takes; the simplest are pinned whole.
TEST_F(CompilerTest, DataChangingStatements) {
  struct Case {
    const char* sql;
    const char* first_statement;  // nullptr: only checked to prepare
  } cases[] = {
      {"insert into item (name, price) values ('a', 1.5)",
       "INSERT INTO \"item\"(\"name\",\"price\",\"qty\",\"note\",\"code\") VALUES "
       "('a',tds_cvt('1.5',66060,8,NULL,1),NULL,NULL,NULL)"},
      {"insert into item (name) values ('a'), ('b')", nullptr},
      {"insert into item (name, qty) select name, qty from item where id > 1", nullptr},
      {"update item set price = price * 2 where name = 'a'", nullptr},
      {"update top (1) item set qty = null", nullptr},
      {"update item set name = j.name from item join item j on item.id = j.id + 1", nullptr},
      {"delete from item where id = 3", "DELETE FROM \"item\" AS t0 WHERE (t0.\"id\" = 3)"},
      {"delete item from item join item j on item.id = j.id where j.qty > 1", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    ParseResult p = Parse(c.sql);
    if (p.statements.empty()) continue;
    const Stmt& stmt = p.statements[0];
    Compiler compiler(db_, vars_);
    CompiledDml out;
    CompileError e;
    const bool ok = stmt.kind == StmtKind::kInsert   ? compiler.CompileInsert(stmt, &out, &e)
                    : stmt.kind == StmtKind::kUpdate ? compiler.CompileUpdate(stmt, 0, &out, &e)
                                                     : compiler.CompileDelete(stmt, 0, &out, &e);
    ASSERT_TRUE(ok) << e.message.text;
    ASSERT_FALSE(out.statements.empty());
    if (c.first_statement != nullptr) {
      EXPECT_EQ(out.statements[0], c.first_statement);
    }
    if (!out.insert_source.empty()) Prepares(out.insert_source);
    for (const std::string& sql : out.statements) Prepares(sql);
  }
}

// Statements the compiler refuses, with SQL Server's message.
TEST_F(CompilerTest, Refusals) {
  struct Case {
    const char* sql;
    const char* message;
  } cases[] = {
      {"select nosuch from item", "207 Invalid column name 'nosuch'."},
      {"select name from nosuch", "208 Invalid object name 'nosuch'."},
      {"select name, count(*) from item",
       "8120 Column 'item.name' is invalid in the select list because it is not contained in "
       "either an aggregate function or the GROUP BY clause."},
      {"select 'a' + 1",
       "compiled: SELECT tds_ops(tds_cvt('a',16777230,2,NULL,0),'+',1,2) AS \"_c1\""},
      {"select sum(name) from item", "8117 Operand data type varchar is invalid for sum operator."},
      {"select len()", "174 The len function requires 1 argument(s)."},
      {"select id from item i join item j on i.id = j.id", "209 Ambiguous column name 'id'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    CompiledSelect out;
    CompileError e;
    if (CompileOne(c.sql, &out, &e)) {
      // Some errors only come when SQLite runs the statement.
      EXPECT_EQ(std::string("compiled: ") + out.sql, c.message);
    } else {
      EXPECT_EQ(std::to_string(e.message.number) + " " + e.message.text, c.message);
    }
  }
}

// Chains of one operator compile flat: SQLite's parser has a fixed stack,
// and SQL nested as deep as the chain is long stops it at about twenty
// terms. Generated SQL easily has hundreds.
TEST_F(CompilerTest, OperatorChainsCompileFlat) {
  CompiledSelect out;
  CompileError e;
  ASSERT_TRUE(CompileOne(
      "select 1 + 2 - 3, 'a' + 'b' + 'c' from item where id = 1 or id = 2 or id = 3", &out, &e))
      << e.message.text;
  EXPECT_EQ(out.sql.substr(0, out.sql.find(" FROM ")),
            "SELECT tds_ops(1,'+',2,2,'-',3,2) AS \"_c1\", (('a' || 'b' || 'c') COLLATE TDSCI) AS "
            "\"_c2\"");
  EXPECT_NE(out.sql.find("WHERE ((t0.\"id\" = 1) OR (t0.\"id\" = 2) OR (t0.\"id\" = 3))"),
            std::string::npos)
      << out.sql;
  auto chain = [](const char* first, const char* step, int n) {
    std::string s = first;
    for (int i = 0; i < n; ++i) s += step;
    return s;
  };
  for (const std::string& sql : {
           "select " + chain("id", " + 1", 100) + " from item",
           "select " + chain("qty", " * 1.5", 100) + " from item",
           "select " + chain("name", " + 'x'", 100) + " from item",
           "select id from item where " + chain("id = 0", " or id = 1", 100),
       }) {
    SCOPED_TRACE(sql.substr(0, 40));
    ASSERT_TRUE(CompileOne(sql, &out, &e)) << e.message.text;
    Prepares(out.sql);
  }
}

}  // namespace
}  // namespace tdslite::sql
