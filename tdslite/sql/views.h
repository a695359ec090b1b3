// Views: kept as their T-SQL text in a table of the database, read again
// (parsed and compiled as a derived table) wherever a query names them.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tdslite::sql {

struct UserView {
  std::string name;                  // as created
  std::vector<std::string> columns;  // create view v (a, b): the names given
  std::string body;                  // the select, as T-SQL
};

// nullopt: no such view (or no view made yet).
std::optional<UserView> LookupUserView(sqlite3* db, std::string_view name);

// Records a view (replacing one of that name). Answers false with *error set.
bool SaveUserView(sqlite3* db, const UserView& view, std::string* error);
bool RemoveUserView(sqlite3* db, std::string_view name, std::string* error);

}  // namespace tdslite::sql
