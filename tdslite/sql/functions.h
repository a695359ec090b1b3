// The SQL functions and collations tdslite adds to each SQLite connection:
// the parts of SQL Server's expression semantics that SQLite lacks (type
// conversion, exact decimal and money arithmetic, case-insensitive
// comparison, LIKE with character classes, errors with SQL Server's numbers).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tdslite/common/result_sink.h"
#include "tdslite/common/types.h"

namespace tdslite::sql {

// What functions evaluated during a statement need from the session.
struct FunctionContext {
  int64_t statement_time = 0;  // getdate() for the running statement (datetime ticks)
};

// Registers everything on a connection. `context` must outlive it.
bool RegisterFunctions(sqlite3* db, FunctionContext* context);

// The window aggregates and the helpers of recursive queries and FOR XML
// (function_window.cc); RegisterFunctions calls it.
bool RegisterWindowFunctions(sqlite3* db);

// string_agg's aggregate and try_cast's conversion (function_misc.cc).
bool RegisterMiscFunctions(sqlite3* db);

// Errors raised inside SQL functions travel through SQLite as an error
// message of this form; the executor turns them back into a Message.
std::string EncodeError(int number, int state, int severity, std::string_view text);
bool DecodeError(std::string_view sqlite_message, Message* out);

}  // namespace tdslite::sql
