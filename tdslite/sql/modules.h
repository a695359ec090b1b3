// Stored procedures and scalar functions ("modules"): kept with their
// definition text in a table of the database itself, so that they outlive
// the server and every connection sees them once committed.
//
// The table, for readers of the catalog views (see ModulesQuery):
//   main.__tdslite_modules(id INTEGER PRIMARY KEY AUTOINCREMENT (1, 2, ...;
//     never reused), name TEXT UNIQUE COLLATE NOCASE, type TEXT ('P' or
//     'FN'), definition TEXT, create_date TEXT, modify_date TEXT
//     ('YYYY-MM-DD hh:mm:ss.fff', local time))
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tdslite::sql {

struct ModuleInfo {
  int64_t id = 0;          // 1, 2, ...: unique among modules, never reused
  std::string name;        // as created, without a schema
  std::string type;        // "P" procedure, "FN" scalar function
  std::string definition;  // the text of the batch that created or last altered it
  std::string create_date;
  std::string modify_date;
};

// Creates the module table when missing. Answers false with *error set.
bool EnsureModules(sqlite3* db, std::string* error);

// The modules as a SQLite query with the columns rid (the id), name, type,
// definition, create_date and modify_date: what the catalog views read.
std::string ModulesQuery();

// Every procedure and function, by name.
bool ListModules(sqlite3* db, std::vector<ModuleInfo>* out);

// One module by name (case-insensitive); nullopt when there is none.
std::optional<ModuleInfo> LookupModule(sqlite3* db, std::string_view name);

// Stores a new module (create) or replaces the definition of an existing
// one, keeping its object id and create date (alter).
bool SaveModule(sqlite3* db, std::string_view name, std::string_view type,
                std::string_view definition, bool replace, std::string* error);

bool RemoveModule(sqlite3* db, std::string_view name, std::string* error);

}  // namespace tdslite::sql

#include <memory>

#include "parser.h"

namespace tdslite::sql {

// A module with its definition parsed back into its CREATE statement.
struct LoadedModule {
  ModuleInfo info;
  ParseResult parsed;
  // The create statement; null when the stored text no longer parses.
  const Stmt* definition() const {
    return parsed.ok() && parsed.statements.size() == 1 &&
                   parsed.statements[0].kind == StmtKind::kCreateModule
               ? &parsed.statements[0]
               : nullptr;
  }
};

// Looks a module up and parses its definition; null when there is none.
std::shared_ptr<const LoadedModule> LoadModule(sqlite3* db, std::string_view name,
                                               std::string_view database);

}  // namespace tdslite::sql
