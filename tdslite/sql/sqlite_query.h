// One prepared SQLite statement over tdslite's own tables: bind, step, read.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tdslite::sql {

// A statement prepared on construction and finalized on destruction. A
// statement that failed to prepare is null: Step and Done then answer
// false.
class SqliteQuery {
 public:
  SqliteQuery(sqlite3* db, const std::string& sql) {
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
  }
  ~SqliteQuery() { sqlite3_finalize(stmt_); }
  SqliteQuery(const SqliteQuery&) = delete;
  SqliteQuery& operator=(const SqliteQuery&) = delete;

  bool prepared() const { return stmt_ != nullptr; }
  SqliteQuery& Bind(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  SqliteQuery& Bind(int i, int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  // Steps to the next row; false at the end or on an error (see Finished).
  bool Step() {
    last_ = stmt_ != nullptr ? sqlite3_step(stmt_) : SQLITE_MISUSE;
    return last_ == SQLITE_ROW;
  }
  // Runs a statement that returns no rows; answers true when it succeeded.
  bool Done() { return stmt_ != nullptr && sqlite3_step(stmt_) == SQLITE_DONE; }
  // After Step answered false: true when the rows ended rather than failed.
  bool Finished() const { return last_ == SQLITE_DONE; }

  int ColumnCount() { return sqlite3_column_count(stmt_); }
  int64_t Int(int i) { return sqlite3_column_int64(stmt_, i); }
  // A column as text; NULL as the empty string (Text) or nullopt.
  std::string Text(int i) { return OptionalText(i).value_or(std::string()); }
  std::optional<std::string> OptionalText(int i) {
    const unsigned char* p = sqlite3_column_text(stmt_, i);
    if (p == nullptr) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(p),
                       static_cast<size_t>(sqlite3_column_bytes(stmt_, i)));
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int last_ = SQLITE_OK;
};

}  // namespace tdslite::sql
