// Parses a T-SQL batch into statements.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ast.h"

namespace tdslite::sql {

// Message number tdslite uses for constructs SQL Server accepts but tdslite
// does not implement.
constexpr int kNotSupportedNumber = 50100;

struct ParseError {
  int number = 102;
  int severity = 15;
  int state = 1;
  std::string text;
  int line = 1;
};

struct ParseResult {
  std::vector<Stmt> statements;
  // Errors stop the whole batch before anything runs; usually one, two for an
  // unclosed quotation mark (105 then 102), as SQL Server sends them.
  std::vector<ParseError> errors;
  bool ok() const { return errors.empty(); }
};

// `database`: the server's database, the one prefix that names a table of
// its own.
ParseResult ParseBatch(std::string_view sql, std::string_view database = "master");

}  // namespace tdslite::sql
