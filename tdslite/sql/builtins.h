// The built-in functions of T-SQL, in one table: the parser asks it whether a
// name is a function, the compiler takes each function's argument count and
// rule (result type and SQL) from it, and every connection registers the
// SQLite functions the table names. To add a function: one row in
// builtins.cc (taken out of the Refused rows if it is there), its rule in
// the file ExprCompiler::Function (compile_functions.cc) sends its
// BuiltinRule to: compile_functions.cc, compile_misc.cc, compile_dates.cc,
// compile_catalog.cc or compile_window.cc; and, when its SQL calls a helper
// of tdslite's own, that helper in a function_*.cc file.
#pragma once

#include <sqlite3.h>

#include <array>
#include <span>
#include <string_view>

namespace tdslite::sql {

enum class BuiltinKind : uint8_t {
  kScalar,
  kAggregate,
  // A function of SQL Server that tdslite does not evaluate: refused with a
  // "not supported" message instead of "not a recognized function".
  kRefused,
  // A ranking or offset function: only with OVER (row_number, lag, ...).
  kWindow,
};

// How the compiler types a call and writes its SQL; one rule may serve
// several functions (ltrim and rtrim), telling them apart by name.
enum class BuiltinRule : uint8_t {
  kNone,  // refused functions
  kGetDate,
  kDbName,
  kErrorInfo,  // error_number() and friends: the error a CATCH block handles
  kXactState,
  kLogin,
  kUserName,
  kHostName,
  kAppName,
  kScopeIdentity,
  kIsNull,
  kCoalesce,
  kNullIf,
  kLen,
  kTextPtr,
  kDataLength,
  kUpperLower,
  kTrim,
  kSubstring,
  kLeftRight,
  kReplace,
  kCharIndex,
  kMath,  // abs, sign, floor, ceiling, round
  kDatePart,
  kSpace,
  kReverse,
  kAscii,
  kChar,
  kCount,
  kMinMax,
  kSum,
  kAvg,
  kIif,
  kChoose,
  kConcat,
  kConcatWs,
  kReplicate,
  kStuff,
  kQuoteName,
  kStr,
  kFloatMath,  // power, sqrt, square, exp, log, log10, pi
  kWindow,     // row_number, rank, lag, ...: see compile_window.cc
  kCatalog,    // object_id, type_name, db_id, serverproperty, ... (compile_catalog.cc)
  kMisc,       // isnumeric, patindex, string_agg, ...: see compile_misc.cc
  // Dates and uniqueidentifier (compile_dates.cc).
  kDateAdd,
  kDateDiff,
  kDateName,  // datepart, datename
  kEoMonth,
  kFromParts,  // datefromparts and its kin
  kIsDate,
  kClock,         // getutcdate, sysdatetime, sysutcdatetime, sysdatetimeoffset
  kSwitchOffset,  // switchoffset, todatetimeoffset
  kNewId,
};

// A function tdslite adds to SQLite for a built-in's SQL to call: a scalar
// function (`scalar`) or an aggregate (`step` and `final`).
struct SqliteFunction {
  const char* name = nullptr;  // null: an unused slot
  int args = 0;
  void (*scalar)(sqlite3_context*, int, sqlite3_value**) = nullptr;
  void (*step)(sqlite3_context*, int, sqlite3_value**) = nullptr;
  void (*final)(sqlite3_context*) = nullptr;
  // Reads the statement's clock (FunctionContext): not deterministic.
  bool per_statement = false;
};

struct Builtin {
  std::string_view name;  // lower case
  BuiltinKind kind = BuiltinKind::kScalar;
  BuiltinRule rule = BuiltinRule::kNone;
  int min_args = 0;
  int max_args = 0;  // -1: any number
  std::array<SqliteFunction, 2> runtime{};
};

// The row for `name` (lower case), or null for a name SQL Server does not know.
const Builtin* FindBuiltin(std::string_view name);

// Every row, for registering the SQLite functions.
std::span<const Builtin> Builtins();

}  // namespace tdslite::sql
