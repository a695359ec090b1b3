// The server's catalog as clients read it: the sys and INFORMATION_SCHEMA
// views, the older sysobjects family, and the object ids, type ids and
// names that object_id(), type_name() and their kin answer. Every view is
// a read-only SQLite query over tdslite's own catalog tables (catalog.h), so
// it always shows what the database holds at that moment. The connection's
// own tables (#name) live in tempdb and are not listed in the user database.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tdslite/common/types.h"

namespace tdslite::sql {

// What a catalog-schema name (sys.x, INFORMATION_SCHEMA.x) is to tdslite.
enum class CatalogViewStatus : uint8_t {
  kUnknown,   // not a catalog view of the server: 208
  kBuilt,     // FindCatalogView answers it
  kNotBuilt,  // the server has it, tdslite does not: refused with 50100
};

// `schema` and `name` lower case; `schema` is "sys" or "information_schema"
// (or empty/"dbo" for the sysobjects family).
CatalogViewStatus ClassifyCatalogView(std::string_view schema, std::string_view name);

struct CatalogViewColumn {
  std::string name;
  ColumnType type;
  bool nullable = true;
};

struct CatalogView {
  std::string sql;  // a SQLite query whose result columns are named as `columns`
  std::vector<CatalogViewColumn> columns;
};

// The view a name written in a FROM clause names: "sys.tables",
// "master.INFORMATION_SCHEMA.COLUMNS", "sysobjects", ... (the parts joined
// by dots, as the parser keeps a qualified name). nullopt for anything else.
// `database` is the connection's database, whose name a three-part name must
// carry.
std::optional<CatalogView> FindCatalogView(std::string_view written, std::string_view database);

// The parts of an object name as object_id() takes it ("db.schema.name",
// "[a b].name", "db..name"), at most three; nullopt when it is malformed.
std::optional<std::vector<std::string>> SplitObjectName(std::string_view text);

// Object ids: tables, key constraints and stored modules each have a range
// of their own; the connection's temporary tables have negative ids.
constexpr int64_t kTableIdBase = 1000000000;
constexpr int64_t kKeyIdBase = 1200000000;
constexpr int64_t kModuleIdBase = 1400000000;
constexpr int64_t kIdRange = 200000000;

// The database ids the server reports: its own database is 1 when it is
// named master, else 5; tempdb is 2.
int DatabaseId(std::string_view name, std::string_view own_database);

// The messages sp_addmessage adds, which raiserror raises by number. They
// live in the database, seen by every connection.
struct UserMessage {
  int severity = 16;
  std::string text;
};
std::optional<UserMessage> FindUserMessage(sqlite3* db, int64_t number);
// Answers false with *error set when SQLite fails.
bool StoreUserMessage(sqlite3* db, int64_t number, const UserMessage& message, std::string* error);
bool DropUserMessage(sqlite3* db, int64_t number, std::string* error);

// The SQLite functions the catalog views and functions call.
bool RegisterCatalogFunctions(sqlite3* db);

// The stored modules (procedures, views, functions) as a SQLite query with
// the columns rid (a positive integer unique among modules), name, type
// ('P', 'V', 'FN', 'IF' or 'TF') and definition (the text as created).
std::string StoredModulesSql();

}  // namespace tdslite::sql
