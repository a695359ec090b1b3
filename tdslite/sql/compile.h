// Binds a parsed statement to the catalog, infers SQL Server's types for
// every expression and emits the SQLite SQL that evaluates it.
#pragma once

#include <sqlite3.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ast.h"
#include "catalog.h"
#include "tdslite/common/result_sink.h"
#include "tdslite/common/types.h"
#include "types.h"

namespace tdslite::sql {

// A local variable of a batch: its declared type and current value, kept as
// the SQLite value a compiled expression of that type yields.
struct LocalVariable {
  ColumnType type;
  int kind = SQLITE_NULL;  // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB
  int64_t integer = 0;
  double real = 0;
  std::string bytes;  // text (UTF-8) or blob
};
using LocalVariables = std::map<std::string, LocalVariable>;  // by lower-cased @name

// The error a CATCH block handles.
struct CaughtError {
  int number = 0;
  int severity = 0;
  int state = 0;
  int line = 0;
  std::string message;
};

// The SQL literal of a variable's value.
std::string VariableLiteral(const LocalVariable& v);

// Session state that expressions can read (@@variables and friends). Fixed
// for the duration of one statement's compilation.
struct SessionVars {
  const LocalVariables* locals = nullptr;
  const CaughtError* caught = nullptr;  // inside a CATCH block
  int xact_state = 0;
  int64_t rowcount = 0;
  int64_t trancount = 0;
  int64_t error = 0;
  int32_t spid = 0;
  int32_t textsize = 4096;
  int datefirst = 7;
  std::optional<int64_t> identity;  // scope_identity(), @@identity
  std::string identity_insert;      // the table SET IDENTITY_INSERT is ON for
  std::string database;
  std::string server;
  std::string login;
  std::string app;
  std::string host;
  std::string version;
  int nestlevel = 0;  // @@nestlevel: procedures and functions around the statement
};

// A compile-time error: the message and whether it ends the batch (name
// resolution and conversions do, SQL Server's statement-level errors do not).
struct CompileError {
  Message message;
  bool abort_batch = true;
};

struct OutputColumn {
  ColumnDesc desc;
};

struct CompiledSelect {
  std::string sql;
  std::vector<ColumnDesc> columns;
  // For each column, the index of the hidden result column that holds the
  // row's rowid (text/ntext/image columns of base tables), or -1.
  std::vector<int> rowid_columns;
  // Per column with a rowid: the base table's column name (text pointers
  // name it), else empty.
  std::vector<std::string> source_columns;
  // Per column: true when the statement yields only the length of an image
  // value, which the executor then reads from the row in pieces.
  std::vector<bool> streamed;
};

// One row-producing or row-changing SQLite statement plus what the executor
// needs to report its outcome.
struct CompiledDml {
  std::vector<std::string> statements;  // executed in order (insert: one per VALUES row)
  // For each statement: the key column values it inserts, as a SELECT that
  // the executor runs to word a duplicate-key message (may be empty).
  std::vector<std::string> key_probes;
  // insert ... values: per statement, the SQL of each table column's value
  // (empty for an identity column), to word a duplicate-key message.
  std::vector<std::vector<std::string>> row_values;
  // insert ... select: the inserted rows, each column named "_v<position>".
  std::string insert_source;
  // update: the rows of insert_source replace rows of the table (by "_rowid").
  bool updated_rows = false;
  CatalogTable table;
  bool has_identity = false;
};

// alter table: the SQLite statements, run in order, and the table as the
// catalog then records it (its columns; new keys in new_keys).
struct AlterPlan {
  std::vector<std::string> statements;
  CatalogTable table;
  std::vector<CatalogKey> new_keys;
  bool columns_changed = false;
  // A unique index being made: a duplicate found is error 1505 for it.
  std::string index_name;
};

class Compiler {
 public:
  Compiler(sqlite3* db, const SessionVars& vars) : db_(db), vars_(vars) {}

  bool CompileSelect(const Select& select, CompiledSelect* out, CompileError* error);
  // create view: the query as a view's, and the columns it makes.
  bool CompileView(const Select& select, std::vector<ColumnDesc>* columns, CompileError* error);
  bool CompileInsert(const Stmt& stmt, CompiledDml* out, CompileError* error);
  bool CompileUpdate(const Stmt& stmt, int64_t rowcount_limit, CompiledDml* out,
                     CompileError* error);
  bool CompileDelete(const Stmt& stmt, int64_t rowcount_limit, CompiledDml* out,
                     CompileError* error);
  // A value outside any table (print, raiserror, defaults), as the SQL of a
  // single-column SELECT returning it converted to `to` when given.
  bool CompileValue(const Expr& expr, std::optional<ColumnType> to, std::string* sql,
                    ExprType* type, CompileError* error);
  // An IF condition, as the SQL of a SELECT answering 1 or 0.
  bool CompileCondition(const Expr& expr, std::string* sql, CompileError* error);
  bool CompileAlterTable(const Stmt& stmt, AlterPlan* plan, CompileError* error);
  // create table: the SQLite DDL and the catalog entry.
  bool CompileCreateTable(const Stmt& stmt, std::string* ddl, CatalogTable* table,
                          CompileError* error);

 private:
  sqlite3* db_;
  const SessionVars& vars_;
};

// A literal in SQLite syntax.
std::string QuoteText(std::string_view text);
std::string QuoteBlob(std::string_view bytes);

}  // namespace tdslite::sql
