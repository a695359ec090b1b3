#include "catalog.h"

#include "types.h"

namespace tdslite::sql {
namespace {

// RAII for a prepared statement.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  bool ok() const { return stmt_ != nullptr; }
  void Text(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void Int(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  // Runs a statement that returns no rows; on failure sets *error.
  bool Run(std::string* error) {
    if (ok() && sqlite3_step(stmt_) == SQLITE_DONE) return true;
    *error = sqlite3_errmsg(db_);
    return false;
  }
  std::string ColumnText(int i) {
    const unsigned char* p = sqlite3_column_text(stmt_, i);
    int n = sqlite3_column_bytes(stmt_, i);
    return p == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(p), n);
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// A key's column names in one text: separated by \x1f; a \x1e or \x1f
// inside a name is preceded by \x1e, so any name comes back whole.
constexpr char kSeparator = '\x1f';
constexpr char kEscape = '\x1e';

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += kSeparator;
    for (char c : parts[i]) {
      if (c == kSeparator || c == kEscape) out += kEscape;
      out += c;
    }
  }
  return out;
}

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> out(1);
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == kEscape && i + 1 < s.size()) {
      out.back() += s[++i];
    } else if (s[i] == kSeparator) {
      out.emplace_back();
    } else {
      out.back() += s[i];
    }
  }
  return out;
}

// Where a table's catalog entry lives: a connection's own tables (#name,
// and @name for table variables) in SQLite's per-connection temp schema,
// every other table in the database itself.
struct Names {
  std::string tables, columns, keys;
};

bool IsConnectionTable(std::string_view name) {
  return (!name.empty() && name[0] == '@') || (name.size() > 1 && name[0] == '#' && name[1] != '#');
}

const Names& CatalogFor(std::string_view table) {
  static const Names kMain{"main.__tdslite_tables", "main.__tdslite_columns",
                           "main.__tdslite_keys"};
  static const Names kTemp{"temp.__tdslite_ttables", "temp.__tdslite_tcolumns",
                           "temp.__tdslite_tkeys"};
  return IsConnectionTable(table) ? kTemp : kMain;
}

const char* kCatalogDdl =
    "CREATE TABLE IF NOT EXISTS %s("
    " name TEXT PRIMARY KEY COLLATE NOCASE, display TEXT NOT NULL,"
    " identity_seed INTEGER NOT NULL DEFAULT 1);"
    "CREATE TABLE IF NOT EXISTS %s("
    " table_name TEXT NOT NULL COLLATE NOCASE, ordinal INTEGER NOT NULL, name TEXT NOT NULL,"
    " type INTEGER NOT NULL, nullable INTEGER NOT NULL, identity INTEGER NOT NULL,"
    " default_sql TEXT, PRIMARY KEY(table_name, ordinal));"
    "CREATE TABLE IF NOT EXISTS %s("
    " table_name TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
    " kind TEXT NOT NULL, columns TEXT NOT NULL, PRIMARY KEY(table_name, name));";

// Writes the rows of the column catalog for every column of `table`, in order.
bool InsertColumns(sqlite3* db, const Names& n, const CatalogTable& table, std::string* error) {
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const CatalogColumn& c = table.columns[i];
    Stmt q(db, ("INSERT INTO " + n.columns +
                "(table_name, ordinal, name, type, nullable, identity,"
                " default_sql) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)")
                   .c_str());
    q.Text(1, table.name);
    q.Int(2, static_cast<int64_t>(i));
    q.Text(3, c.name);
    q.Int(4, PackType(c.type));
    q.Int(5, c.nullable ? 1 : 0);
    q.Int(6, c.identity ? 1 : 0);
    if (!c.default_sql.empty()) q.Text(7, c.default_sql);
    if (!q.Run(error)) return false;
  }
  return true;
}

bool CreateCatalogTables(sqlite3* db, const Names& n, std::string* error) {
  std::string sql = kCatalogDdl;
  for (const std::string* name : {&n.tables, &n.columns, &n.keys}) {
    sql.replace(sql.find("%s"), 2, *name);
  }
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    *error = message != nullptr ? message : "cannot create the catalog";
    sqlite3_free(message);
    return false;
  }
  return true;
}

}  // namespace

int CatalogTable::FindColumn(std::string_view n) const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (EqualsIgnoreCase(columns[i].name, n)) return static_cast<int>(i);
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

std::vector<std::string> SplitKeyColumns(const std::string& stored) {
  return Split(stored);
}

std::string SqliteIndexName(std::string_view table, std::string_view index) {
  return "__tdslite_ix_" + std::string(table) + "__" + std::string(index);
}

bool EnsureCatalog(sqlite3* db, std::string* error) {
  return CreateCatalogTables(db, CatalogFor(""), error);
}

bool IsTemporaryName(std::string_view name) {
  return IsConnectionTable(name);
}

std::optional<CatalogTable> LookupTable(sqlite3* db, std::string_view name) {
  const Names& n = CatalogFor(name);
  CatalogTable table;
  {
    Stmt q(db, ("SELECT display, identity_seed FROM " + n.tables + " WHERE name = ?1").c_str());
    if (!q.ok()) return std::nullopt;
    q.Text(1, name);
    if (sqlite3_step(q.get()) != SQLITE_ROW) return std::nullopt;
    table.name = q.ColumnText(0);
    table.identity_seed = sqlite3_column_int64(q.get(), 1);
  }
  {
    Stmt q(db, ("SELECT name, type, nullable, identity, default_sql FROM " + n.columns +
                " WHERE table_name = ?1 ORDER BY ordinal")
                   .c_str());
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
    Stmt q(db, ("SELECT name, kind, columns FROM " + n.keys + " WHERE table_name = ?1").c_str());
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
  const Names& n = CatalogFor(table.name);
  if (IsConnectionTable(table.name) && !CreateCatalogTables(db, n, error)) return false;
  {
    Stmt q(
        db,
        ("INSERT INTO " + n.tables + "(name, display, identity_seed) VALUES (?1, ?1, ?2)").c_str());
    q.Text(1, table.name);
    q.Int(2, table.identity_seed);
    if (!q.Run(error)) return false;
  }
  if (!InsertColumns(db, n, table, error)) return false;
  for (const CatalogKey& k : table.keys) {
    if (!AddKey(db, table.name, k, error)) return false;
  }
  for (const CatalogConstraint& c : table.constraints) {
    if (!AddConstraint(db, table.name, c, error)) return false;
  }
  return true;
}

bool AddKey(sqlite3* db, std::string_view table, const CatalogKey& key, std::string* error) {
  Stmt q(db, ("INSERT INTO " + CatalogFor(table).keys +
              "(table_name, name, kind, columns) VALUES (?1, ?2, ?3, ?4)")
                 .c_str());
  q.Text(1, table);
  q.Text(2, key.name);
  q.Text(3, std::string(1, key.kind));
  q.Text(4, Join(key.columns));
  if (!q.Run(error)) return false;
  return true;
}

bool ReplaceColumns(sqlite3* db, const CatalogTable& table, std::string* error) {
  const Names& n = CatalogFor(table.name);
  {
    Stmt q(db, ("DELETE FROM " + n.columns + " WHERE table_name = ?1").c_str());
    q.Text(1, table.name);
    if (!q.Run(error)) return false;
  }
  if (!InsertColumns(db, n, table, error)) return false;
  return true;
}

bool RemoveTable(sqlite3* db, std::string_view name, std::string* error) {
  const Names& n = CatalogFor(name);
  for (const std::string& sql : {"DELETE FROM " + n.tables + " WHERE name = ?1",
                                 "DELETE FROM " + n.columns + " WHERE table_name = ?1",
                                 "DELETE FROM " + n.keys + " WHERE table_name = ?1"}) {
    Stmt q(db, sql.c_str());
    q.Text(1, name);
    if (!q.Run(error)) return false;
  }
  return RemoveConstraints(db, name, error);
}

bool KeyExists(sqlite3* db, std::string_view table, std::string_view name) {
  Stmt q(
      db,
      ("SELECT 1 FROM " + CatalogFor(table).keys + " WHERE table_name = ?1 AND name = ?2").c_str());
  q.Text(1, table);
  q.Text(2, name);
  return q.ok() && sqlite3_step(q.get()) == SQLITE_ROW;
}

}  // namespace tdslite::sql
