// The task table: one row per web task, in the database itself, so that
// tasks outlast the server process. Its name starts with "__tdslite_" like
// the catalog's tables, which clients cannot see.
#include "tdslite/sql/catalog.h"
#include "web_task.h"

namespace tdslite::procs {
namespace {

constexpr char kTaskTable[] = "__tdslite_web_tasks";

// RAII for one prepared statement.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  bool ok() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::string ColumnName(const ParamDecl& decl) {
  return sql::QuoteIdent(decl.name + 1);
}

}  // namespace

bool EnsureTaskTable(sqlite3* db) {
  std::string ddl = std::string("CREATE TABLE IF NOT EXISTS ") + kTaskTable +
                    "(procname TEXT NOT NULL PRIMARY KEY COLLATE NOCASE";
  for (const ParamDecl& decl : kMakeParams) {
    if (std::string_view(decl.name) != "@procname") ddl += ", " + ColumnName(decl) + " TEXT";
  }
  ddl += ")";
  return sqlite3_exec(db, ddl.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool TaskExists(sqlite3* db, const std::string& procname) {
  Statement q(db, std::string("SELECT 1 FROM ") + kTaskTable + " WHERE procname = ?1");
  if (!q.ok()) return false;
  sqlite3_bind_text(q.get(), 1, procname.data(), static_cast<int>(procname.size()),
                    SQLITE_TRANSIENT);
  return sqlite3_step(q.get()) == SQLITE_ROW;
}

bool StoreTask(sqlite3* db, const Values& values) {
  std::string columns, marks;
  for (size_t i = 0; i < kMakeParamCount; ++i) {
    columns += (i ? ", " : "") + ColumnName(kMakeParams[i]);
    marks += (i ? ", ?" : "?") + std::to_string(i + 1);
  }
  Statement q(
      db, std::string("INSERT INTO ") + kTaskTable + "(" + columns + ") VALUES (" + marks + ")");
  if (!q.ok()) return false;
  for (size_t i = 0; i < kMakeParamCount; ++i) {
    const int slot = static_cast<int>(i + 1);
    if (values[i]) {
      sqlite3_bind_text(q.get(), slot, values[i]->data(), static_cast<int>(values[i]->size()),
                        SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_null(q.get(), slot);
    }
  }
  return sqlite3_step(q.get()) == SQLITE_DONE;
}

bool FindTasks(sqlite3* db, const std::optional<std::string>& procname,
               const std::optional<std::string>& outputfile, std::vector<Values>* tasks) {
  std::string columns;
  for (size_t i = 0; i < kMakeParamCount; ++i)
    columns += (i ? ", " : "") + ColumnName(kMakeParams[i]);
  std::string sql = "SELECT " + columns + " FROM " + kTaskTable + " WHERE 1";
  if (procname) sql += " AND procname = ?1";
  if (outputfile) sql += " AND outputfile = ?2";
  sql += " ORDER BY rowid";
  Statement q(db, sql);
  if (!q.ok()) return false;
  if (procname) {
    sqlite3_bind_text(q.get(), 1, procname->data(), static_cast<int>(procname->size()),
                      SQLITE_TRANSIENT);
  }
  if (outputfile) {
    sqlite3_bind_text(q.get(), 2, outputfile->data(), static_cast<int>(outputfile->size()),
                      SQLITE_TRANSIENT);
  }
  int rc;
  while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
    Values v(kMakeParamCount);
    for (size_t i = 0; i < kMakeParamCount; ++i) {
      const int c = static_cast<int>(i);
      if (sqlite3_column_type(q.get(), c) == SQLITE_NULL) continue;
      const unsigned char* p = sqlite3_column_text(q.get(), c);
      v[i] = std::string(p != nullptr ? reinterpret_cast<const char*>(p) : "",
                         static_cast<size_t>(sqlite3_column_bytes(q.get(), c)));
    }
    tasks->push_back(std::move(v));
  }
  return rc == SQLITE_DONE;
}

bool DeleteTask(sqlite3* db, const std::string& procname) {
  Statement q(db, std::string("DELETE FROM ") + kTaskTable + " WHERE procname = ?1");
  if (!q.ok()) return false;
  sqlite3_bind_text(q.get(), 1, procname.data(), static_cast<int>(procname.size()),
                    SQLITE_TRANSIENT);
  return sqlite3_step(q.get()) == SQLITE_DONE;
}

}  // namespace tdslite::procs
