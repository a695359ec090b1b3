#include "modules.h"

#include "sqlite_query.h"

namespace tdslite::sql {
namespace {

constexpr const char* kColumns =
    "id, name, type, definition, create_date, modify_date FROM main.__tdslite_modules";

// A row of the module table read with kColumns.
ModuleInfo RowOf(SqliteQuery& q) {
  ModuleInfo m;
  m.id = q.Int(0);
  m.name = q.Text(1);
  m.type = q.Text(2);
  m.definition = q.Text(3);
  m.create_date = q.Text(4);
  m.modify_date = q.Text(5);
  return m;
}

bool Fail(sqlite3* db, std::string* error) {
  *error = sqlite3_errmsg(db);
  return false;
}

}  // namespace

bool EnsureModules(sqlite3* db, std::string* error) {
  char* message = nullptr;
  const char* ddl =
      "CREATE TABLE IF NOT EXISTS main.__tdslite_modules("
      " id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
      " type TEXT NOT NULL, definition TEXT NOT NULL, create_date TEXT NOT NULL,"
      " modify_date TEXT NOT NULL)";
  if (sqlite3_exec(db, ddl, nullptr, nullptr, &message) != SQLITE_OK) {
    *error = message != nullptr ? message : "cannot create the module table";
    sqlite3_free(message);
    return false;
  }
  return true;
}

std::string ModulesQuery() {
  return "SELECT id AS rid, name, type, definition, create_date, modify_date FROM "
         "main.__tdslite_modules";
}

bool ListModules(sqlite3* db, std::vector<ModuleInfo>* out) {
  out->clear();
  SqliteQuery q(db, std::string("SELECT ") + kColumns + " ORDER BY name");
  if (!q.prepared()) return false;
  while (q.Step()) out->push_back(RowOf(q));
  return q.Finished();
}

std::optional<ModuleInfo> LookupModule(sqlite3* db, std::string_view name) {
  SqliteQuery q(db, std::string("SELECT ") + kColumns + " WHERE name = ?1");
  if (!q.prepared()) return std::nullopt;
  q.Bind(1, name);
  if (!q.Step()) return std::nullopt;
  return RowOf(q);
}

bool SaveModule(sqlite3* db, std::string_view name, std::string_view type,
                std::string_view definition, bool replace, std::string* error) {
  const char* now = "strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')";
  std::string sql;
  if (replace) {
    sql = std::string("UPDATE main.__tdslite_modules SET type = ?2, definition = ?3, ") +
          "modify_date = " + now + " WHERE name = ?1";
  } else {
    sql = std::string("INSERT INTO main.__tdslite_modules(name, type, definition, ") +
          "create_date, modify_date) VALUES (?1, ?2, ?3, " + now + ", " + now + ")";
  }
  SqliteQuery q(db, sql);
  if (!q.prepared()) return Fail(db, error);
  q.Bind(1, name).Bind(2, type).Bind(3, definition);
  if (!q.Done()) return Fail(db, error);
  return true;
}

bool RemoveModule(sqlite3* db, std::string_view name, std::string* error) {
  SqliteQuery q(db, "DELETE FROM main.__tdslite_modules WHERE name = ?1");
  if (!q.prepared()) return Fail(db, error);
  q.Bind(1, name);
  if (!q.Done()) return Fail(db, error);
  return true;
}

}  // namespace tdslite::sql

namespace tdslite::sql {

std::shared_ptr<const LoadedModule> LoadModule(sqlite3* db, std::string_view name,
                                               std::string_view database) {
  std::optional<ModuleInfo> info = LookupModule(db, name);
  if (!info) return nullptr;
  auto m = std::make_shared<LoadedModule>();
  m->info = std::move(*info);
  m->parsed = ParseBatch(m->info.definition, database);
  return m;
}

}  // namespace tdslite::sql
