#include "catalog.h"

#include "types.h"

namespace tdslite::sql {
namespace {

// RAII for a prepared statement.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  bool ok() const { return stmt_ != nullptr; }
  void Text(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void Int(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  std::string ColumnText(int i) {
    const unsigned char* p = sqlite3_column_text(stmt_, i);
    int n = sqlite3_column_bytes(stmt_, i);
    return p == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(p), n);
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += '\x1f';
    out += parts[i];
  }
  return out;
}

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t at = s.find('\x1f', start);
    out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return out;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

int CatalogTable::FindColumn(std::string_view n) const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (EqualsNoCase(columns[i].name, n)) return static_cast<int>(i);
  }
  return -1;
}

std::string QuoteIdent(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string SqliteIndexName(std::string_view table, std::string_view index) {
  return "__tdslite_ix_" + std::string(table) + "__" + std::string(index);
}

bool EnsureCatalog(sqlite3* db, std::string* error) {
  const char* sql =
      "CREATE TABLE IF NOT EXISTS __tdslite_tables("
      " name TEXT PRIMARY KEY COLLATE NOCASE, display TEXT NOT NULL,"
      " identity_seed INTEGER NOT NULL DEFAULT 1);"
      "CREATE TABLE IF NOT EXISTS __tdslite_columns("
      " table_name TEXT NOT NULL COLLATE NOCASE, ordinal INTEGER NOT NULL, name TEXT NOT NULL,"
      " type INTEGER NOT NULL, nullable INTEGER NOT NULL, identity INTEGER NOT NULL,"
      " default_sql TEXT, PRIMARY KEY(table_name, ordinal));"
      "CREATE TABLE IF NOT EXISTS __tdslite_keys("
      " table_name TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
      " kind TEXT NOT NULL, columns TEXT NOT NULL, PRIMARY KEY(table_name, name));";
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    *error = message != nullptr ? message : "cannot create the catalog";
    sqlite3_free(message);
    return false;
  }
  return true;
}

std::optional<CatalogTable> LookupTable(sqlite3* db, std::string_view name) {
  CatalogTable table;
  {
    Stmt q(db, "SELECT display, identity_seed FROM __tdslite_tables WHERE name = ?1");
    if (!q.ok()) return std::nullopt;
    q.Text(1, name);
    if (sqlite3_step(q.get()) != SQLITE_ROW) return std::nullopt;
    table.name = q.ColumnText(0);
    table.identity_seed = sqlite3_column_int64(q.get(), 1);
  }
  {
    Stmt q(db,
           "SELECT name, type, nullable, identity, default_sql FROM __tdslite_columns"
           " WHERE table_name = ?1 ORDER BY ordinal");
    if (!q.ok()) return std::nullopt;
    q.Text(1, name);
    while (sqlite3_step(q.get()) == SQLITE_ROW) {
      CatalogColumn c;
      c.name = q.ColumnText(0);
      c.type = UnpackType(sqlite3_column_int64(q.get(), 1));
      c.nullable = sqlite3_column_int(q.get(), 2) != 0;
      c.identity = sqlite3_column_int(q.get(), 3) != 0;
      c.default_sql = q.ColumnText(4);
      if (c.identity) table.identity_column = static_cast<int>(table.columns.size());
      table.columns.push_back(std::move(c));
    }
  }
  {
    Stmt q(db, "SELECT name, kind, columns FROM __tdslite_keys WHERE table_name = ?1");
    if (!q.ok()) return std::nullopt;
    q.Text(1, name);
    while (sqlite3_step(q.get()) == SQLITE_ROW) {
      CatalogKey k;
      k.name = q.ColumnText(0);
      std::string kind = q.ColumnText(1);
      k.kind = kind.empty() ? 'P' : kind[0];
      k.columns = Split(q.ColumnText(2));
      table.keys.push_back(std::move(k));
    }
  }
  if (table.columns.empty()) return std::nullopt;
  return table;
}

bool AddTable(sqlite3* db, const CatalogTable& table, std::string* error) {
  {
    Stmt q(db, "INSERT INTO __tdslite_tables(name, display, identity_seed) VALUES (?1, ?1, ?2)");
    q.Text(1, table.name);
    q.Int(2, table.identity_seed);
    if (!q.ok() || sqlite3_step(q.get()) != SQLITE_DONE) {
      *error = sqlite3_errmsg(db);
      return false;
    }
  }
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const CatalogColumn& c = table.columns[i];
    Stmt q(db,
           "INSERT INTO __tdslite_columns(table_name, ordinal, name, type, nullable, identity,"
           " default_sql) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    q.Text(1, table.name);
    q.Int(2, static_cast<int64_t>(i));
    q.Text(3, c.name);
    q.Int(4, PackType(c.type));
    q.Int(5, c.nullable ? 1 : 0);
    q.Int(6, c.identity ? 1 : 0);
    if (!c.default_sql.empty()) q.Text(7, c.default_sql);
    if (!q.ok() || sqlite3_step(q.get()) != SQLITE_DONE) {
      *error = sqlite3_errmsg(db);
      return false;
    }
  }
  for (const CatalogKey& k : table.keys) {
    if (!AddKey(db, table.name, k, error)) return false;
  }
  return true;
}

bool AddKey(sqlite3* db, std::string_view table, const CatalogKey& key, std::string* error) {
  Stmt q(db, "INSERT INTO __tdslite_keys(table_name, name, kind, columns) VALUES (?1, ?2, ?3, ?4)");
  q.Text(1, table);
  q.Text(2, key.name);
  q.Text(3, std::string(1, key.kind));
  q.Text(4, Join(key.columns));
  if (!q.ok() || sqlite3_step(q.get()) != SQLITE_DONE) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  return true;
}

bool RemoveTable(sqlite3* db, std::string_view name, std::string* error) {
  for (const char* sql : {"DELETE FROM __tdslite_tables WHERE name = ?1",
                          "DELETE FROM __tdslite_columns WHERE table_name = ?1",
                          "DELETE FROM __tdslite_keys WHERE table_name = ?1"}) {
    Stmt q(db, sql);
    q.Text(1, name);
    if (!q.ok() || sqlite3_step(q.get()) != SQLITE_DONE) {
      *error = sqlite3_errmsg(db);
      return false;
    }
  }
  return true;
}

bool KeyExists(sqlite3* db, std::string_view table, std::string_view name) {
  Stmt q(db, "SELECT 1 FROM __tdslite_keys WHERE table_name = ?1 AND name = ?2");
  q.Text(1, table);
  q.Text(2, name);
  return q.ok() && sqlite3_step(q.get()) == SQLITE_ROW;
}

}  // namespace tdslite::sql
