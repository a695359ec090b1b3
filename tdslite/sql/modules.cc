#include "modules.h"

namespace tdslite::sql {
namespace {

constexpr const char* kColumns =
    "id, name, type, definition, create_date, modify_date FROM main.__tdslite_modules";

class Query {
 public:
  Query(sqlite3* db, const std::string& sql) {
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
  }
  ~Query() { sqlite3_finalize(stmt_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  void Text(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  std::string Column(int i) {
    const unsigned char* p = sqlite3_column_text(stmt_, i);
    return p == nullptr ? std::string()
                        : std::string(reinterpret_cast<const char*>(p),
                                      static_cast<size_t>(sqlite3_column_bytes(stmt_, i)));
  }
  ModuleInfo Row() {
    ModuleInfo m;
    m.id = sqlite3_column_int64(stmt_, 0);
    m.name = Column(1);
    m.type = Column(2);
    m.definition = Column(3);
    m.create_date = Column(4);
    m.modify_date = Column(5);
    return m;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

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
  Query q(db, std::string("SELECT ") + kColumns + " ORDER BY name");
  if (q.get() == nullptr) return false;
  int rc;
  while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) out->push_back(q.Row());
  return rc == SQLITE_DONE;
}

std::optional<ModuleInfo> LookupModule(sqlite3* db, std::string_view name) {
  Query q(db, std::string("SELECT ") + kColumns + " WHERE name = ?1");
  if (q.get() == nullptr) return std::nullopt;
  q.Text(1, name);
  if (sqlite3_step(q.get()) != SQLITE_ROW) return std::nullopt;
  return q.Row();
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
  Query q(db, sql);
  if (q.get() == nullptr) return Fail(db, error);
  q.Text(1, name);
  q.Text(2, type);
  q.Text(3, definition);
  if (sqlite3_step(q.get()) != SQLITE_DONE) return Fail(db, error);
  return true;
}

bool RemoveModule(sqlite3* db, std::string_view name, std::string* error) {
  Query q(db, "DELETE FROM main.__tdslite_modules WHERE name = ?1");
  if (q.get() == nullptr) return Fail(db, error);
  q.Text(1, name);
  if (sqlite3_step(q.get()) != SQLITE_DONE) return Fail(db, error);
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
