#include "builtins.h"

#include "functions_internal.h"

namespace tdslite::sql {
namespace {

using namespace function_detail;

using K = BuiltinKind;
using R = BuiltinRule;

// Each function runs inside Guarded: no exception reaches SQLite.
template <void (*F)(sqlite3_context*, int, sqlite3_value**)>
SqliteFunction Scalar(const char* name, int args) {
  SqliteFunction f;
  f.name = name;
  f.args = args;
  f.scalar = Guarded<F>;
  return f;
}

template <void (*Final)(sqlite3_context*)>
SqliteFunction Aggregate(const char* name) {
  SqliteFunction f;
  f.name = name;
  f.args = 1;
  f.step = Guarded<DecimalStep>;
  f.final = GuardedFinal<Final>;
  return f;
}

Builtin Fn(std::string_view name, R rule, int min_args, int max_args, SqliteFunction a = {},
           SqliteFunction b = {}) {
  Builtin f;
  f.name = name;
  f.rule = rule;
  f.min_args = min_args;
  f.max_args = max_args;
  f.runtime = {a, b};
  return f;
}

Builtin Agg(std::string_view name, R rule, SqliteFunction a = {}) {
  Builtin f = Fn(name, rule, 1, 1, a);
  f.kind = K::kAggregate;
  return f;
}

Builtin Win(std::string_view name, int min_args, int max_args) {
  Builtin f = Fn(name, R::kWindow, min_args, max_args);
  f.kind = K::kWindow;
  return f;
}

Builtin Refused(std::string_view name) {
  Builtin f;
  f.name = name;
  f.kind = K::kRefused;
  return f;
}

SqliteFunction GetDate() {
  SqliteFunction f = Scalar<GetDateFunc>("tds_getdate", 0);
  f.per_statement = true;
  return f;
}

// A function whose every call may answer differently (a clock, newid()).
template <void (*F)(sqlite3_context*, int, sqlite3_value**)>
SqliteFunction Volatile(const char* name, int args) {
  SqliteFunction f = Scalar<F>(name, args);
  f.per_statement = true;
  return f;
}

const std::vector<Builtin>& Table() {
  static const std::vector<Builtin> table = {
      // Session and server values.
      Fn("getdate", R::kGetDate, 0, 0, GetDate()),
      Fn("db_name", R::kDbName, 0, 1),
      Fn("error_number", R::kErrorInfo, 0, 0),
      Fn("error_severity", R::kErrorInfo, 0, 0),
      Fn("error_state", R::kErrorInfo, 0, 0),
      Fn("error_line", R::kErrorInfo, 0, 0),
      Fn("error_message", R::kErrorInfo, 0, 0),
      Fn("error_procedure", R::kErrorInfo, 0, 0),
      Fn("xact_state", R::kXactState, 0, 0),
      Fn("suser_sname", R::kLogin, 0, 0),
      Fn("suser_name", R::kLogin, 0, 0),
      Fn("system_user", R::kLogin, 0, 0),
      Fn("user_name", R::kUserName, 0, 0),
      Fn("user", R::kUserName, 0, 0),
      Fn("current_user", R::kUserName, 0, 0),
      Fn("session_user", R::kUserName, 0, 0),
      Fn("host_name", R::kHostName, 0, 0),
      Fn("app_name", R::kAppName, 0, 0),
      Fn("scope_identity", R::kScopeIdentity, 0, 0),
      // The catalog and the server.
      Fn("object_id", R::kCatalog, 1, 2),
      Fn("object_name", R::kCatalog, 1, 2),
      Fn("col_length", R::kCatalog, 2, 2),
      Fn("col_name", R::kCatalog, 2, 2),
      Fn("objectproperty", R::kCatalog, 2, 2),
      Fn("type_name", R::kCatalog, 1, 1),
      Fn("type_id", R::kCatalog, 1, 1),
      Fn("schema_name", R::kCatalog, 0, 1),
      Fn("schema_id", R::kCatalog, 0, 1),
      Fn("db_id", R::kCatalog, 0, 1),
      Fn("serverproperty", R::kCatalog, 1, 1),
      // NULL handling.
      Fn("isnull", R::kIsNull, 2, 2),
      Fn("coalesce", R::kCoalesce, 2, -1),
      Fn("nullif", R::kNullIf, 2, 2),
      // Strings and binary values.
      Fn("len", R::kLen, 1, 1, Scalar<Utf16LengthFunc>("tds_ulen", 1)),
      Fn("datalength", R::kDataLength, 1, 1, Scalar<DataLengthFunc>("tds_datalength", 2)),
      Fn("textptr", R::kTextPtr, 1, 1, Scalar<TextPtrFunc>("tds_textptr", 4)),
      Fn("upper", R::kUpperLower, 1, 1, Scalar<UpperFunc>("tds_upper", 1)),
      Fn("lower", R::kUpperLower, 1, 1, Scalar<LowerFunc>("tds_lower", 1)),
      Fn("ltrim", R::kTrim, 1, 1),
      Fn("rtrim", R::kTrim, 1, 1),
      Fn("substring", R::kSubstring, 3, 3, Scalar<SubstringFunc>("tds_substring", 3)),
      Fn("left", R::kLeftRight, 2, 2, Scalar<LeftFunc>("tds_left", 2)),
      Fn("right", R::kLeftRight, 2, 2, Scalar<RightFunc>("tds_right", 2)),
      Fn("replace", R::kReplace, 3, 3, Scalar<ReplaceFunc>("tds_replace", 3)),
      Fn("charindex", R::kCharIndex, 2, 3, Scalar<CharIndexFunc>("tds_charindex", 2),
         Scalar<CharIndexFunc>("tds_charindex", 3)),
      Fn("space", R::kSpace, 1, 1, Scalar<SpaceFunc>("tds_space", 1)),
      Fn("reverse", R::kReverse, 1, 1, Scalar<ReverseFunc>("tds_reverse", 1)),
      Fn("ascii", R::kAscii, 1, 1, Scalar<AsciiFunc>("tds_ascii", 1)),
      Fn("unicode", R::kAscii, 1, 1, Scalar<UnicodeFunc>("tds_unicode", 1)),
      Fn("char", R::kChar, 1, 1, Scalar<CharFunc>("tds_char", 1)),
      Fn("nchar", R::kChar, 1, 1, Scalar<NCharFunc>("tds_nchar", 1)),
      Fn("trim", R::kTrim, 1, 1),
      Fn("replicate", R::kReplicate, 2, 2, Scalar<ReplicateFunc>("tds_replicate", 3)),
      Fn("stuff", R::kStuff, 4, 4, Scalar<StuffFunc>("tds_stuff", 4)),
      Fn("concat", R::kConcat, 2, 254),
      Fn("concat_ws", R::kConcatWs, 3, 254, Scalar<ConcatWsFunc>("tds_concat_ws", -1)),
      Fn("quotename", R::kQuoteName, 1, 2, Scalar<QuoteNameFunc>("tds_quotename", 2)),
      Fn("str", R::kStr, 1, 3, Scalar<StrFunc>("tds_str", 3)),
      Fn("isnumeric", R::kMisc, 1, 1, Scalar<IsNumericFunc>("tds_isnumeric", 1)),
      Fn("patindex", R::kMisc, 2, 2, Scalar<PatIndexFunc>("tds_patindex", 2)),
      Fn("soundex", R::kMisc, 1, 1, Scalar<SoundexFunc>("tds_soundex", 1)),
      Fn("translate", R::kMisc, 3, 3, Scalar<TranslateFunc>("tds_translate", 3)),
      Fn("checksum", R::kMisc, 1, -1, Scalar<ChecksumFunc>("tds_checksum", -1)),
      Fn("binary_checksum", R::kMisc, 1, -1),
      Fn("ident_current", R::kMisc, 1, 1),
      Fn("format", R::kMisc, 2, 3, Scalar<FormatFunc>("tds_format", 3)),
      // Choices.
      Fn("iif", R::kIif, 3, 3),
      Fn("choose", R::kChoose, 2, 254),
      // Numbers.
      Fn("abs", R::kMath, 1, 1, Scalar<AbsFunc>("tds_abs", 2)),
      Fn("sign", R::kMath, 1, 1, Scalar<SignFunc>("tds_sign", 2)),
      Fn("floor", R::kMath, 1, 1, Scalar<FloorFunc>("tds_floor", 2)),
      Fn("ceiling", R::kMath, 1, 1, Scalar<CeilingFunc>("tds_ceiling", 2)),
      Fn("round", R::kMath, 2, 3, Scalar<RoundFunc>("tds_round", 4)),
      Fn("power", R::kFloatMath, 2, 2, Scalar<FloatMathFunc>("tds_fmath", -1)),
      Fn("sqrt", R::kFloatMath, 1, 1),
      Fn("square", R::kFloatMath, 1, 1),
      Fn("exp", R::kFloatMath, 1, 1),
      Fn("log", R::kFloatMath, 1, 2),
      Fn("log10", R::kFloatMath, 1, 1),
      Fn("pi", R::kFloatMath, 0, 0),
      // Dates.
      Fn("year", R::kDatePart, 1, 1),
      Fn("month", R::kDatePart, 1, 1),
      Fn("day", R::kDatePart, 1, 1),
      Fn("datepart", R::kDateName, 2, 2, Scalar<DatePart2Func>("tds_datepart", 4)),
      Fn("datename", R::kDateName, 2, 2, Scalar<DateNameFunc>("tds_datename", 4)),
      Fn("dateadd", R::kDateAdd, 3, 3, Scalar<DateAddFunc>("tds_dateadd", 4)),
      Fn("datediff", R::kDateDiff, 3, 3, Scalar<DateDiffFunc>("tds_datediff", 6)),
      Fn("datediff_big", R::kDateDiff, 3, 3),
      Fn("eomonth", R::kEoMonth, 1, 2, Scalar<EoMonthFunc>("tds_eomonth", 3)),
      Fn("datefromparts", R::kFromParts, 3, 3, Scalar<FromPartsFunc>("tds_fromparts", -1)),
      Fn("datetimefromparts", R::kFromParts, 7, 7),
      Fn("datetime2fromparts", R::kFromParts, 8, 8),
      Fn("smalldatetimefromparts", R::kFromParts, 5, 5),
      Fn("timefromparts", R::kFromParts, 5, 5),
      Fn("isdate", R::kIsDate, 1, 1, Scalar<IsDateFunc>("tds_isdate", 1)),
      Fn("getutcdate", R::kClock, 0, 0, Volatile<NowFunc>("tds_now", 2)),
      Fn("sysdatetime", R::kClock, 0, 0),
      Fn("sysutcdatetime", R::kClock, 0, 0),
      Fn("sysdatetimeoffset", R::kClock, 0, 0),
      Fn("switchoffset", R::kSwitchOffset, 2, 2, Scalar<OffsetFunc>("tds_offset", 4)),
      Fn("todatetimeoffset", R::kSwitchOffset, 2, 2),
      Fn("newid", R::kNewId, 0, 0, Volatile<NewIdFunc>("tds_newid", 0)),
      // Aggregates.
      Agg("count", R::kCount),
      Agg("min", R::kMinMax),
      Agg("max", R::kMinMax),
      Agg("sum", R::kSum, Aggregate<DecimalSumFinal>("tds_dsum")),
      Agg("avg", R::kAvg, Aggregate<DecimalAvgFinal>("tds_davg")),
      Agg("count_big", R::kCount),
      Fn("string_agg", R::kMisc, 2, 2),
      // Ranking and offset functions, with OVER only.
      Win("row_number", 0, 0),
      Win("rank", 0, 0),
      Win("dense_rank", 0, 0),
      Win("ntile", 1, 1),
      Win("percent_rank", 0, 0),
      Win("cume_dist", 0, 0),
      Win("lag", 1, 3),
      Win("lead", 1, 3),
      Win("first_value", 1, 1),
      Win("last_value", 1, 1),
      // SQL Server's, not evaluated by tdslite.
      Refused("difference"),
      Refused("rand"),
      Refused("sin"),
      Refused("cos"),
      Refused("tan"),
      Refused("asin"),
      Refused("acos"),
      Refused("atan"),
      Refused("atn2"),
      Refused("degrees"),
      Refused("radians"),
      Refused("user_id"),
      Refused("suser_id"),
      Refused("host_id"),
      Refused("datalength_big"),
      Refused("stdev"),
      Refused("stdevp"),
      Refused("var"),
      Refused("varp"),
      Refused("grouping"),
      Refused("parse"),
      Refused("textvalid"),
      Refused("sql_variant_property"),
      Refused("collationproperty"),
      Refused("objectpropertyex"),
      Refused("indexproperty"),
      Refused("ident_seed"),
      Refused("ident_incr"),
      Refused("databaseproperty"),
      Refused("databasepropertyex"),
      Refused("columnproperty"),
      Refused("typeproperty"),
      Refused("is_member"),
      Refused("is_srvrolemember"),
      Refused("permissions"),
      Refused("has_dbaccess"),
      Refused("fulltextcatalogproperty"),
      Refused("isjson"),
      Refused("json_value"),
      Refused("cast"),
      Refused("datetimeoffsetfromparts"),
      Refused("dateadd_big"),
      Refused("try_parse"),
      Refused("compress"),
      Refused("decompress"),
      Refused("string_escape"),
      Refused("unistr"),
      Refused("greatest"),
      Refused("least"),
      Refused("cot"),
      Refused("hashbytes"),
      Refused("newsequentialid"),
      Refused("checksum_agg"),
      Refused("approx_count_distinct"),
  };
  return table;
}

}  // namespace

const Builtin* FindBuiltin(std::string_view name) {
  for (const Builtin& b : Table()) {
    if (b.name == name) return &b;
  }
  return nullptr;
}

std::span<const Builtin> Builtins() {
  return Table();
}

}  // namespace tdslite::sql
