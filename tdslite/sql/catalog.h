// The catalog: what tdslite knows about each table beyond SQLite's own
// schema, above all each column's SQL Server type. It lives in two tables of
// the database itself, so every connection sees every change once committed.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tdslite/common/result_sink.h"
#include "tdslite/common/text.h"
#include "tdslite/common/types.h"

namespace tdslite::sql {

struct CatalogColumn {
  std::string name;
  ColumnType type;
  bool nullable = true;
  bool identity = false;
  std::string default_sql;  // SQLite expression already in the column's storage form
};

// A primary key, unique constraint or unique index.
struct CatalogKey {
  std::string name;
  char kind = 'P';  // 'P' primary key, 'U' unique constraint, 'I' unique index
  std::vector<std::string> columns;
};

// A check or foreign key constraint (constraints.cc): kept beside the keys,
// read where an error must name it.
struct CatalogConstraint {
  std::string name;
  char kind = 'C';                   // 'C' check, 'F' foreign key
  std::vector<std::string> columns;  // check: its column, if it has one
  std::string ref_table;             // foreign key: the referenced table and columns
  std::vector<std::string> ref_columns;
  std::string table;  // the table it belongs to
};

struct CatalogTable {
  std::string name;  // as created
  std::vector<CatalogColumn> columns;
  std::vector<CatalogKey> keys;
  int identity_column = -1;
  int64_t identity_seed = 1;
  // Recorded by AddTable; LookupTable leaves it empty (see TableConstraints).
  std::vector<CatalogConstraint> constraints;

  int FindColumn(std::string_view name) const;  // -1 when absent
};

// Creates the catalog tables when missing. Answers false with *error set.
bool EnsureCatalog(sqlite3* db, std::string* error);

// A table of one connection (#name, or @name for a table variable): kept in
// SQLite's temp schema, gone with the connection. ##name tables are global.
bool IsTemporaryName(std::string_view name);

// The SQLite schema that holds a table: "temp" or "main".
inline const char* SchemaOf(std::string_view table) {
  return IsTemporaryName(table) ? "temp" : "main";
}

// Looks a table up by name (case-insensitive). nullopt: no such table.
// A failing SQLite read is reported as a missing table.
std::optional<CatalogTable> LookupTable(sqlite3* db, std::string_view name);

// Records a new table (the SQLite table must be created by the caller in
// the same transaction). Answers false with *error set.
bool AddTable(sqlite3* db, const CatalogTable& table, std::string* error);
bool AddKey(sqlite3* db, std::string_view table, const CatalogKey& key, std::string* error);
bool RemoveTable(sqlite3* db, std::string_view name, std::string* error);
// Records the table's columns anew (alter table).
bool ReplaceColumns(sqlite3* db, const CatalogTable& table, std::string* error);
// Check and foreign key constraints (constraints.cc): those of a table, the
// foreign keys that reference a table, and their bookkeeping.
std::vector<CatalogConstraint> TableConstraints(sqlite3* db, std::string_view table);
std::vector<CatalogConstraint> ReferencingConstraints(sqlite3* db, std::string_view table);
bool AddConstraint(sqlite3* db, std::string_view table, const CatalogConstraint& c,
                   std::string* error);
bool RemoveConstraints(sqlite3* db, std::string_view table, std::string* error);

// True when an index or key of that name exists on the table.
bool KeyExists(sqlite3* db, std::string_view table, std::string_view name);

// The SQLite name of a tdslite index on a table (SQLite index names are
// global, SQL Server's are per table).
std::string SqliteIndexName(std::string_view table, std::string_view index);

// A key's column names as the catalog stores them in one text, split apart.
std::vector<std::string> SplitKeyColumns(const std::string& stored);

// Quotes an identifier for SQLite.
std::string QuoteIdent(std::string_view name);

}  // namespace tdslite::sql
