#include "views.h"

#include "catalog.h"

namespace tdslite::sql {
namespace {

constexpr char kSeparator = '\x1f';

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) out += (i ? std::string(1, kSeparator) : "") + names[i];
  return out;
}

std::vector<std::string> SplitNames(const std::string& s) {
  std::vector<std::string> out;
  if (s.empty()) return out;
  size_t start = 0;
  for (;;) {
    size_t at = s.find(kSeparator, start);
    out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return out;
}

bool Exec(sqlite3* db, const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message != nullptr ? message : "cannot change the views";
  sqlite3_free(message);
  return false;
}

}  // namespace

std::optional<UserView> LookupUserView(sqlite3* db, std::string_view name) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name, columns, body FROM main.__tdslite_views WHERE name = ?",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return std::nullopt;  // no view was ever made
  }
  sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  std::optional<UserView> out;
  if (sqlite3_step(stmt) == SQLITE_ROW) {
    auto text = [&](int i) {
      const unsigned char* p = sqlite3_column_text(stmt, i);
      return p == nullptr ? std::string()
                          : std::string(reinterpret_cast<const char*>(p),
                                        static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
    };
    out = UserView{text(0), SplitNames(text(1)), text(2)};
  }
  sqlite3_finalize(stmt);
  return out;
}

bool SaveUserView(sqlite3* db, const UserView& view, std::string* error) {
  if (!Exec(db,
            "CREATE TABLE IF NOT EXISTS main.__tdslite_views(name TEXT PRIMARY KEY COLLATE "
            "NOCASE, columns TEXT NOT NULL, body TEXT NOT NULL)",
            error)) {
    return false;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db,
                         "INSERT OR REPLACE INTO main.__tdslite_views(name, columns, body) "
                         "VALUES (?, ?, ?)",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    return false;
  }
  const std::string columns = JoinNames(view.columns);
  sqlite3_bind_text(stmt, 1, view.name.data(), static_cast<int>(view.name.size()),
                    SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 2, columns.data(), static_cast<int>(columns.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 3, view.body.data(), static_cast<int>(view.body.size()),
                    SQLITE_TRANSIENT);
  const bool ok = sqlite3_step(stmt) == SQLITE_DONE;
  if (!ok) *error = sqlite3_errmsg(db);
  sqlite3_finalize(stmt);
  return ok;
}

bool RemoveUserView(sqlite3* db, std::string_view name, std::string* error) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "DELETE FROM main.__tdslite_views WHERE name = ?", -1, &stmt,
                         nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    return false;
  }
  sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  const bool ok = sqlite3_step(stmt) == SQLITE_DONE;
  if (!ok) *error = sqlite3_errmsg(db);
  sqlite3_finalize(stmt);
  return ok;
}

}  // namespace tdslite::sql
