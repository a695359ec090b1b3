// Check and foreign key constraints in the catalog: one table of the
// database (the connection's temp schema for its own tables), created with
// the first constraint.
#include "catalog.h"

namespace tdslite::sql {
namespace {

constexpr char kSeparator = '\x1f';

std::string Join(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += kSeparator;
    out += names[i];
  }
  return out;
}

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> out;
  if (s.empty()) return out;
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(kSeparator, start);
    out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return out;
    start = at + 1;
  }
}

std::string TableOf(std::string_view table) {
  return IsTemporaryName(table) && table.rfind("##", 0) != 0 ? "temp.__tdslite_tconstraints"
                                                             : "main.__tdslite_constraints";
}

std::vector<CatalogConstraint> Query(sqlite3* db, const std::string& sql, std::string_view key) {
  std::vector<CatalogConstraint> out;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return out;  // no constraint was ever made
  }
  sqlite3_bind_text(st, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
  auto text = [&](int i) {
    const unsigned char* p = sqlite3_column_text(st, i);
    return p == nullptr ? std::string()
                        : std::string(reinterpret_cast<const char*>(p),
                                      static_cast<size_t>(sqlite3_column_bytes(st, i)));
  };
  while (sqlite3_step(st) == SQLITE_ROW) {
    CatalogConstraint c;
    c.table = text(0);
    c.name = text(1);
    const std::string kind = text(2);
    c.kind = kind.empty() ? 'C' : kind[0];
    c.columns = Split(text(3));
    c.ref_table = text(4);
    c.ref_columns = Split(text(5));
    out.push_back(std::move(c));
  }
  sqlite3_finalize(st);
  return out;
}

}  // namespace

std::vector<CatalogConstraint> TableConstraints(sqlite3* db, std::string_view table) {
  return Query(db,
               "SELECT table_name, name, kind, columns, ref_table, ref_columns FROM " +
                   TableOf(table) + " WHERE table_name = ?1 ORDER BY rowid",
               table);
}

std::vector<CatalogConstraint> ReferencingConstraints(sqlite3* db, std::string_view table) {
  return Query(db,
               "SELECT table_name, name, kind, columns, ref_table, ref_columns FROM "
               "main.__tdslite_constraints WHERE kind = 'F' AND ref_table = ?1 ORDER BY rowid",
               table);
}

bool AddConstraint(sqlite3* db, std::string_view table, const CatalogConstraint& c,
                   std::string* error) {
  const std::string where = TableOf(table);
  const std::string create = "CREATE TABLE IF NOT EXISTS " + where +
                             "(table_name TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL "
                             "COLLATE NOCASE, kind TEXT NOT NULL, columns TEXT NOT NULL, "
                             "ref_table TEXT COLLATE NOCASE, ref_columns TEXT)";
  char* message = nullptr;
  if (sqlite3_exec(db, create.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    *error = message != nullptr ? message : "cannot record the constraint";
    sqlite3_free(message);
    return false;
  }
  sqlite3_stmt* st = nullptr;
  const std::string insert = "INSERT INTO " + where +
                             "(table_name, name, kind, columns, ref_table, ref_columns) VALUES "
                             "(?1, ?2, ?3, ?4, ?5, ?6)";
  if (sqlite3_prepare_v2(db, insert.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    return false;
  }
  const std::string kind(1, c.kind), columns = Join(c.columns), refs = Join(c.ref_columns);
  sqlite3_bind_text(st, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, c.name.data(), static_cast<int>(c.name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 3, kind.data(), 1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 4, columns.data(), static_cast<int>(columns.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 5, c.ref_table.data(), static_cast<int>(c.ref_table.size()),
                    SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 6, refs.data(), static_cast<int>(refs.size()), SQLITE_TRANSIENT);
  const bool ok = sqlite3_step(st) == SQLITE_DONE;
  if (!ok) *error = sqlite3_errmsg(db);
  sqlite3_finalize(st);
  return ok;
}

bool RemoveConstraints(sqlite3* db, std::string_view table, std::string* error) {
  sqlite3_stmt* st = nullptr;
  const std::string sql = "DELETE FROM " + TableOf(table) + " WHERE table_name = ?1";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return true;  // no constraint was ever made
  }
  sqlite3_bind_text(st, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  const bool ok = sqlite3_step(st) == SQLITE_DONE;
  if (!ok) *error = sqlite3_errmsg(db);
  sqlite3_finalize(st);
  return ok;
}

}  // namespace tdslite::sql
