#include "catalog_procs.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "tdslite/common/text.h"
#include "tdslite/sql/catalog.h"
#include "tdslite/sql/catalog_views.h"
#include "tdslite/sql/types.h"
#include "tdslite/sql/values.h"

namespace tdslite::procs {
namespace {

constexpr uint16_t kCmdSelect = 0xC1;
constexpr uint16_t kCmdExec = 0xE0;
constexpr const char* kCollation = "SQL_Latin1_General_CP1_CI_AS";

const ColumnType kSysname = sql::VarCharType(128, true);

ColumnType Fixed(TypeId id, int length = 0) {
  ColumnType t = sql::IntType(id);
  t.length = length;
  return t;
}

const ColumnType kInt = Fixed(TypeId::kInt);
const ColumnType kSmallInt = Fixed(TypeId::kSmallInt);

Value Null() {
  return Value{};
}

Value Str(std::string s) {
  Value v;
  v.is_null = false;
  v.bytes = std::move(s);
  return v;
}

Value OptStr(const std::optional<std::string>& s) {
  return s ? Str(*s) : Null();
}

// char(n): padded with blanks to n characters.
Value Padded(std::string s, size_t n) {
  if (s.size() < n) s.append(n - s.size(), ' ');
  return Str(std::move(s));
}

Value Num(int64_t i) {
  Value v;
  v.is_null = false;
  v.i = i;
  return v;
}

Value OptNum(std::optional<int64_t> i) {
  return i ? Num(*i) : Null();
}

struct Out {
  const char* name;
  ColumnType type;
  bool nullable;
};

using Row = std::vector<Value>;

// A row read from SQLite: each column as text, NULL as nullopt.
using TextRow = std::vector<std::optional<std::string>>;

// One call of a procedure: its arguments by parameter, and what it sends.
class Call {
 public:
  Call(std::string_view name, int line, ProcedureHost& host, ResultSink& sink)
      : name_(name), line_(line), host_(host), sink_(sink) {}

  sqlite3* db() { return host_.Database(); }
  ProcedureHost& host() { return host_; }
  int last_error() const { return last_error_; }

  // Matches the arguments to the parameters (positional in order, named by
  // name). Answers false after reporting a call that does not fit.
  bool Bind(std::span<const ProcArgument> args, std::initializer_list<const char*> params) {
    params_.assign(params.begin(), params.end());
    values_.assign(params_.size(), std::nullopt);
    size_t position = 0;
    for (const ProcArgument& a : args) {
      size_t index = params_.size();
      if (a.name.empty()) {
        index = position++;
      } else {
        for (size_t i = 0; i < params_.size(); ++i) {
          if (EqualsIgnoreCase(a.name, params_[i])) index = i;
        }
        if (index == params_.size()) {
          Refuse(MakeMessage(8145, 2, 16,
                             a.name + " is not a parameter for procedure " + name_ + "."));
          return false;
        }
      }
      if (index >= params_.size()) {
        Refuse(MakeMessage(
            8144, 2, 16, "Procedure or function " + name_ + " has too many arguments specified."));
        return false;
      }
      values_[index] = a.value;
    }
    return true;
  }

  const std::optional<std::string>& Arg(size_t i) const { return values_[i]; }

  void Result(const std::vector<Out>& columns, const std::vector<Row>& rows) {
    std::vector<ColumnDesc> descs;
    for (const Out& o : columns) {
      ColumnDesc d;
      d.name = o.name;
      d.type = o.type;
      d.nullable = o.nullable;
      descs.push_back(std::move(d));
    }
    sink_.Columns(descs);
    uint64_t sent = 0;
    for (const Row& r : rows) {
      if (!sink_.Row(r)) break;
      ++sent;
    }
    Done d;
    d.kind = DoneKind::kDoneInProc;
    d.status = kDoneCount;
    d.current_command = kCmdSelect;
    d.row_count = sent;
    sink_.Finish(d);
  }

  void Info(int number, std::string text) {
    Message m = MakeMessage(number, 1, 10, std::move(text));
    m.procedure = name_;
    m.line = 1;
    sink_.Send(m);
  }

  // An error raised inside the procedure, which then returns `status`.
  int Fail(Message m, int status) {
    m.procedure = name_;
    m.line = 1;
    last_error_ = m.number;
    sink_.Send(m);
    Done d;
    d.kind = DoneKind::kDoneInProc;
    d.status = kDoneError;
    sink_.Finish(d);
    return Return(status);
  }

  int Return(int status) {
    sink_.ReturnStatus(status);
    Done d;
    d.kind = DoneKind::kDoneProc;
    d.current_command = kCmdExec;
    sink_.Finish(d);
    return last_error_;
  }

  // The call was refused before the procedure ran.
  void Refuse(Message m) {
    m.line = line_;
    last_error_ = m.number;
    sink_.Send(m);
    Done d;
    d.status = kDoneError;
    d.current_command = kCmdExec;
    sink_.Finish(d);
  }

  // Rows of a SQLite query over the catalog, with text parameters.
  std::vector<TextRow> Query(const std::string& sql, std::initializer_list<std::string> params) {
    std::vector<TextRow> rows;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db(), sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return rows;
    int i = 1;
    for (const std::string& p : params) {
      sqlite3_bind_text(st, i++, p.data(), static_cast<int>(p.size()), SQLITE_TRANSIENT);
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
      TextRow r;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const unsigned char* t = sqlite3_column_text(st, c);
        if (t == nullptr) {
          r.emplace_back(std::nullopt);
        } else {
          r.emplace_back(std::string(reinterpret_cast<const char*>(t),
                                     static_cast<size_t>(sqlite3_column_bytes(st, c))));
        }
      }
      rows.push_back(std::move(r));
    }
    sqlite3_finalize(st);
    return rows;
  }

  // The SQLite query of a catalog view of the connection's database.
  std::string View(const char* name) {
    auto v = sql::FindCatalogView(name, host_.DatabaseName());
    return v ? "(" + v->sql + ")" : "(SELECT NULL WHERE 0)";
  }

  const std::string& name() const { return name_; }

 private:
  std::string name_;
  int line_;
  ProcedureHost& host_;
  ResultSink& sink_;
  std::vector<std::string> params_;
  std::vector<std::optional<std::string>> values_;
  int last_error_ = 0;
};

int64_t ToInt(const std::optional<std::string>& s, int64_t fallback = 0) {
  if (!s) return fallback;
  try {
    return std::stoll(*s);
  } catch (...) {
    return fallback;
  }
}

// The object part of a name given to a procedure ("dbo.emp", "[emp]"), or
// nullopt when it names another schema or database.
std::optional<std::string> LocalName(const std::string& text, const std::string& database) {
  auto parts = sql::SplitObjectName(text);
  if (!parts) return std::nullopt;
  const size_t n = parts->size();
  if (n >= 2 && !(*parts)[n - 2].empty() && !EqualsIgnoreCase((*parts)[n - 2], "dbo")) {
    return std::nullopt;
  }
  if (n == 3 && !EqualsIgnoreCase((*parts)[0], database)) return std::nullopt;
  return parts->back();
}

Message NoSuchObject(const std::string& name, const std::string& database) {
  return MakeMessage(15009, 1, 16,
                     "The object '" + name + "' does not exist in database '" + database +
                         "' or is invalid for this operation.");
}

// ---- type descriptions ---------------------------------------------------------

bool IsNamed(const ColumnType& t, const char* name) {
  return sql::TypeName(t.id) == name;
}

// The size in bytes sp_help and col_length report.
int64_t StorageLength(const ColumnType& t) {
  if (sql::IsLobType(t.id)) return 16;
  if (sql::IsCharType(t.id) || sql::IsBinaryType(t.id)) {
    if (t.length <= 0) return -1;
    return sql::IsUnicodeType(t.id) ? 2 * t.length : t.length;
  }
  if (sql::IsDecimalType(t.id)) {
    return t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17;
  }
  switch (t.id) {
    case TypeId::kTinyInt:
    case TypeId::kBit:
      return 1;
    case TypeId::kSmallInt:
      return 2;
    case TypeId::kInt:
    case TypeId::kReal:
    case TypeId::kSmallMoney:
    case TypeId::kSmallDateTime:
      return 4;
    default:
      return 8;
  }
}

// How the ODBC catalog procedures describe a type.
struct OdbcType {
  int data_type = 0;
  std::optional<int64_t> precision;
  std::optional<int64_t> length;
  std::optional<int64_t> scale;
  std::optional<int64_t> radix;
  int sql_data_type = 0;
  std::optional<int64_t> datetime_sub;
  std::optional<int64_t> octets;
  int ss_data_type = 0;
};

OdbcType Odbc(const ColumnType& t, bool nullable) {
  OdbcType o;
  const int64_t n = t.length;
  auto exact = [&](int code, int64_t precision, int64_t length, int ss, int ss_null) {
    o.data_type = code;
    o.precision = precision;
    o.length = length;
    o.scale = 0;
    o.radix = 10;
    o.ss_data_type = nullable ? ss_null : ss;
  };
  switch (t.id) {
    case TypeId::kTinyInt:
      exact(-6, 3, 1, 48, 38);
      break;
    case TypeId::kSmallInt:
      exact(5, 5, 2, 52, 38);
      break;
    case TypeId::kInt:
      exact(4, 10, 4, 56, 38);
      break;
    case TypeId::kBigInt:
      exact(-5, 19, 8, 127, 38);
      break;
    case TypeId::kBit:
      exact(-7, 1, 1, 50, 50);
      o.scale = std::nullopt;
      o.radix = std::nullopt;
      break;
    case TypeId::kDecimal:
    case TypeId::kNumeric:
      exact(t.id == TypeId::kDecimal ? 3 : 2, t.precision, t.precision + 2,
            t.id == TypeId::kDecimal ? 55 : 63, t.id == TypeId::kDecimal ? 106 : 108);
      o.scale = t.scale;
      break;
    case TypeId::kMoney:
      exact(3, 19, 21, 60, 110);
      o.scale = 4;
      break;
    case TypeId::kSmallMoney:
      exact(3, 10, 12, 122, 110);
      o.scale = 4;
      break;
    case TypeId::kFloat:
      exact(6, 15, 8, 62, 109);
      o.scale = std::nullopt;
      break;
    case TypeId::kReal:
      exact(7, 7, 4, 59, 109);
      o.scale = std::nullopt;
      break;
    case TypeId::kDateTime:
    case TypeId::kSmallDateTime:
      o.data_type = 11;
      o.precision = t.id == TypeId::kDateTime ? 23 : 16;
      o.length = 16;
      o.scale = t.id == TypeId::kDateTime ? 3 : 0;
      o.datetime_sub = 3;
      o.sql_data_type = 9;
      o.ss_data_type = nullable ? 111 : (t.id == TypeId::kDateTime ? 61 : 58);
      return o;
    default: {
      const bool unicode = sql::IsUnicodeType(t.id);
      const bool binary = sql::IsBinaryType(t.id);
      if (sql::IsLobType(t.id)) {
        o.data_type = t.id == TypeId::kText ? -1 : t.id == TypeId::kNText ? -10 : -4;
        o.precision = t.id == TypeId::kNText ? 1073741823 : 2147483647;
        o.length = 2147483647;
        if (!binary) o.octets = 2147483647;
        o.ss_data_type = t.id == TypeId::kText ? 35 : t.id == TypeId::kNText ? 99 : 34;
      } else if (sql::IsCharType(t.id) || binary) {
        const bool fixed =
            t.id == TypeId::kChar || t.id == TypeId::kNChar || t.id == TypeId::kBinary;
        o.data_type = binary ? (fixed ? -2 : -3) : unicode ? (fixed ? -8 : -9) : (fixed ? 1 : 12);
        o.precision = n;
        o.length = unicode ? 2 * n : n;
        if (!binary) o.octets = unicode ? 2 * n : n;
        o.ss_data_type = binary ? (fixed ? 45 : 37) : (fixed ? 47 : 39);
      } else {
        // The types SQL Server added later, described as ODBC 2 does:
        // as character strings.
        o.data_type = -9;
        o.precision = IsNamed(t, "date") ? 10 : 27;
        o.length = 2 * *o.precision;
        o.ss_data_type = 39;
      }
      o.sql_data_type = o.data_type;
      return o;
    }
  }
  o.sql_data_type = o.data_type;
  return o;
}

// ---- the procedures --------------------------------------------------------------

// Tables (and views) of the user database whose names match a LIKE pattern.
std::vector<TextRow> MatchingTables(Call& call, const std::string& pattern) {
  return call.Query("SELECT name, 'TABLE' FROM " + call.View("sys.tables") +
                        " WHERE tds_like(name, ?1) UNION ALL SELECT name, 'VIEW' FROM " +
                        call.View("sys.views") + " WHERE tds_like(name, ?1) ORDER BY 2, 1",
                    {pattern});
}

int SpTables(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@table_name", "@table_owner", "@table_qualifier", "@table_type",
                        "@fusepattern"})) {
    return call.last_error();
  }
  const std::string& db = call.host().DatabaseName();
  std::vector<Row> rows;
  const bool owner_ok = !call.Arg(1) || call.Arg(1)->empty() ||
                        call.Query("SELECT tds_like('dbo', ?1)", {*call.Arg(1)})[0][0] == "1";
  const bool qualifier_ok =
      !call.Arg(2) || call.Arg(2)->empty() || EqualsIgnoreCase(*call.Arg(2), db);
  const std::string types = call.Arg(3).value_or("");
  auto wanted = [&](const std::string& type) {
    return types.empty() || types.find("'" + type + "'") != std::string::npos ||
           types.find(type) != std::string::npos;
  };
  if (owner_ok && qualifier_ok) {
    for (const TextRow& r : MatchingTables(call, call.Arg(0).value_or("%"))) {
      if (!wanted(*r[1])) continue;
      rows.push_back({Str(db), Str("dbo"), Str(*r[0]), Str(*r[1]), Null()});
    }
  }
  call.Result({{"TABLE_QUALIFIER", kSysname, true},
               {"TABLE_OWNER", kSysname, true},
               {"TABLE_NAME", kSysname, true},
               {"TABLE_TYPE", sql::VarCharType(32, false), true},
               {"REMARKS", sql::VarCharType(254, false), true}},
              rows);
  return call.Return(0);
}

int SpColumns(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args,
                 {"@table_name", "@table_owner", "@table_qualifier", "@column_name", "@odbcver"})) {
    return call.last_error();
  }
  if (!call.Arg(0)) {
    return call.Fail(MakeMessage(201, 4, 16,
                                 "Procedure or function 'sp_columns' expects parameter "
                                 "'@table_name', which was not supplied."),
                     1);
  }
  const std::string& db = call.host().DatabaseName();
  std::vector<Row> rows;
  const bool owner_ok = !call.Arg(1) || EqualsIgnoreCase(*call.Arg(1), "dbo");
  const bool qualifier_ok = !call.Arg(2) || EqualsIgnoreCase(*call.Arg(2), db);
  const std::string column_pattern = call.Arg(3).value_or("%");
  if (owner_ok && qualifier_ok) {
    for (const TextRow& t : MatchingTables(call, *call.Arg(0))) {
      if (*t[1] != "TABLE") continue;
      auto table = sql::LookupTable(call.db(), *t[0]);
      if (!table) continue;
      for (size_t i = 0; i < table->columns.size(); ++i) {
        const sql::CatalogColumn& c = table->columns[i];
        if (call.Query("SELECT tds_like(?1, ?2)", {c.name, column_pattern})[0][0] != "1") {
          continue;
        }
        const OdbcType o = Odbc(c.type, c.nullable);
        std::string type_name = sql::TypeName(c.type.id);
        if (c.identity) type_name += " identity";
        rows.push_back({Str(db), Str("dbo"), Str(table->name), Str(c.name), Num(o.data_type),
                        Str(type_name), OptNum(o.precision), OptNum(o.length), OptNum(o.scale),
                        OptNum(o.radix), Num(c.nullable ? 1 : 0), Null(), Null(),
                        Num(o.sql_data_type), OptNum(o.datetime_sub), OptNum(o.octets),
                        Num(static_cast<int64_t>(i) + 1), Str(c.nullable ? "YES" : "NO"),
                        Num(o.ss_data_type)});
      }
    }
  }
  call.Result({{"TABLE_QUALIFIER", kSysname, true},
               {"TABLE_OWNER", kSysname, true},
               {"TABLE_NAME", kSysname, true},
               {"COLUMN_NAME", kSysname, true},
               {"DATA_TYPE", kSmallInt, true},
               {"TYPE_NAME", kSysname, true},
               {"PRECISION", kInt, true},
               {"LENGTH", kInt, true},
               {"SCALE", kSmallInt, true},
               {"RADIX", kSmallInt, true},
               {"NULLABLE", kSmallInt, true},
               {"REMARKS", sql::VarCharType(254, false), true},
               {"COLUMN_DEF", sql::VarCharType(4000, true), true},
               {"SQL_DATA_TYPE", kSmallInt, true},
               {"SQL_DATETIME_SUB", kSmallInt, true},
               {"CHAR_OCTET_LENGTH", kInt, true},
               {"ORDINAL_POSITION", kInt, true},
               {"IS_NULLABLE", sql::VarCharType(254, false), true},
               {"SS_DATA_TYPE", Fixed(TypeId::kTinyInt), true}},
              rows);
  return call.Return(0);
}

std::string KeyList(const std::vector<std::string>& columns) {
  std::string out;
  for (const std::string& c : columns) out += (out.empty() ? "" : ", ") + c;
  return out;
}

std::string IndexDescription(const sql::CatalogKey& k) {
  switch (k.kind) {
    case 'P':
      return "clustered, unique, primary key located on PRIMARY";
    case 'U':
      return "nonclustered, unique, unique key located on PRIMARY";
    case 'I':
      return "nonclustered, unique located on PRIMARY";
    default:
      return "nonclustered located on PRIMARY";
  }
}

const std::vector<Out> kIndexColumns = {{"index_name", kSysname, false},
                                        {"index_description", sql::VarCharType(210, false), true},
                                        {"index_keys", sql::VarCharType(2078, true), true}};

// The indexes of a table, or the message that it has none.
void IndexResult(const sql::CatalogTable& table, Call& call) {
  std::vector<Row> rows;
  for (const sql::CatalogKey& k : table.keys) {
    rows.push_back({Str(k.name), Str(IndexDescription(k)), Str(KeyList(k.columns))});
  }
  if (rows.empty()) {
    call.Info(15472, "The object '" + table.name +
                         "' does not have any indexes, or you do not have permissions.");
    return;
  }
  call.Result(kIndexColumns, rows);
}

int SpHelpIndex(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@objname"})) return call.last_error();
  const std::string& db = call.host().DatabaseName();
  auto name = LocalName(call.Arg(0).value_or(""), db);
  auto table = name ? sql::LookupTable(call.db(), *name) : std::nullopt;
  if (!table) {
    return call.Fail(
        MakeMessage(15009, 1, 16,
                    "The object '" + call.Arg(0).value_or("") + "' does not exist in database '" +
                        db + "' or is invalid for this operation."),
        1);
  }
  IndexResult(*table, call);
  return call.Return(0);
}

int SpPkeys(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@table_name", "@table_owner", "@table_qualifier"})) {
    return call.last_error();
  }
  const std::string& db = call.host().DatabaseName();
  std::vector<Row> rows;
  auto table = sql::LookupTable(call.db(), call.Arg(0).value_or(""));
  const bool owner_ok = !call.Arg(1) || EqualsIgnoreCase(*call.Arg(1), "dbo");
  const bool qualifier_ok = !call.Arg(2) || EqualsIgnoreCase(*call.Arg(2), db);
  if (table && owner_ok && qualifier_ok && !sql::IsTemporaryName(table->name)) {
    for (const sql::CatalogKey& k : table->keys) {
      if (k.kind != 'P') continue;
      for (size_t i = 0; i < k.columns.size(); ++i) {
        rows.push_back({Str(db), Str("dbo"), Str(table->name), Str(k.columns[i]),
                        Num(static_cast<int64_t>(i) + 1), Str(k.name)});
      }
    }
  }
  call.Result({{"TABLE_QUALIFIER", kSysname, true},
               {"TABLE_OWNER", kSysname, true},
               {"TABLE_NAME", kSysname, true},
               {"COLUMN_NAME", kSysname, true},
               {"KEY_SEQ", kSmallInt, true},
               {"PK_NAME", kSysname, true}},
              rows);
  return call.Return(0);
}

// sp_help 'type'
void HelpType(const TextRow& t, Call& call) {
  const bool collated = t[5].has_value();
  call.Result({{"Type_name", kSysname, false},
               {"Storage_type", kSysname, false},
               {"Length", kSmallInt, false},
               {"Prec", kInt, false},
               {"Scale", kInt, true},
               {"Nullable", sql::VarCharType(35, false), false},
               {"Default_name", kSysname, true},
               {"Rule_name", kSysname, true},
               {"Collation", kSysname, true}},
              {{Str(*t[0]), Str(*t[0]), Num(ToInt(t[1])), Num(ToInt(t[2])),
                collated ? Null() : Num(ToInt(t[3])), Str(*t[4] == "1" ? "yes" : "no"), Str("none"),
                Str("none"), OptStr(t[5])}});
}

std::string ObjectTypeName(const std::string& type) {
  if (type == "U ") return "user table";
  if (type == "V ") return "view";
  if (type == "P ") return "stored procedure";
  if (type == "PK") return "primary key cns";
  if (type == "UQ") return "unique key cns";
  if (type == "FN") return "scalar function";
  if (type == "IF") return "inline function";
  return "table function";
}

const std::vector<Out> kUserTypeColumns = {{"User_type", kSysname, false},
                                           {"Storage_type", kSysname, true},
                                           {"Length", kSmallInt, true},
                                           {"Prec", kInt, true},
                                           {"Scale", kInt, true},
                                           {"Nullable", sql::VarCharType(35, false), true},
                                           {"Default_name", kSysname, true},
                                           {"Rule_name", kSysname, true},
                                           {"Collation", kSysname, true}};

// sp_help 'table': what SQL Server's shows, in its order.
void HelpTable(const sql::CatalogTable& table, Call& call) {
  std::vector<Row> columns;
  for (const sql::CatalogColumn& c : table.columns) {
    const ColumnType& t = c.type;
    const bool numeric = sql::IsNumericType(t.id) && t.id != TypeId::kBit;
    const bool chars = sql::IsCharType(t.id);
    const bool sized = (chars || sql::IsBinaryType(t.id)) && !sql::IsLobType(t.id);
    const OdbcType o = Odbc(t, c.nullable);
    const std::string prec = numeric ? std::to_string(*o.precision) : "";
    std::string scale;
    if (numeric) scale = std::to_string(o.scale.value_or(0));
    columns.push_back(
        {Str(c.name), Str(sql::TypeName(t.id)), Str("no"), Num(StorageLength(t)), Padded(prec, 5),
         Padded(scale, 5), Str(c.nullable ? "yes" : "no"), Str(sized ? "no" : "(n/a)"),
         Str(sized ? (c.nullable ? "yes" : "no") : "(n/a)"), chars ? Str(kCollation) : Null()});
  }
  call.Result({{"Column_name", kSysname, true},
               {"Type", kSysname, true},
               {"Computed", sql::VarCharType(35, false), true},
               {"Length", kInt, true},
               {"Prec", Fixed(TypeId::kChar, 5), true},
               {"Scale", Fixed(TypeId::kChar, 5), true},
               {"Nullable", sql::VarCharType(35, false), true},
               {"TrimTrailingBlanks", sql::VarCharType(35, false), true},
               {"FixedLenNullInSource", sql::VarCharType(35, false), true},
               {"Collation", kSysname, true}},
              columns);
  Row identity{Str("No identity column defined."), Null(), Null(), Null()};
  if (table.identity_column >= 0) {
    Value seed;
    seed.is_null = false;
    seed.dec = table.identity_seed;
    Value one;
    one.is_null = false;
    one.dec = 1;
    identity = {Str(table.columns[static_cast<size_t>(table.identity_column)].name), seed, one,
                Num(0)};
  }
  call.Result({{"Identity", kSysname, true},
               {"Seed", sql::DecimalType(38, 0), true},
               {"Increment", sql::DecimalType(38, 0), true},
               {"Not For Replication", kInt, true}},
              {identity});
  call.Result({{"RowGuidCol", kSysname, false}}, {{Str("No rowguidcol column defined.")}});
  call.Result({{"Data_located_on_filegroup", kSysname, true}}, {{Str("PRIMARY")}});
  IndexResult(table, call);
  std::vector<Row> constraints;
  for (const sql::CatalogKey& k : table.keys) {
    if (k.kind != 'P' && k.kind != 'U') continue;
    constraints.push_back(
        {Str(k.kind == 'P' ? "PRIMARY KEY (clustered)" : "UNIQUE (non-clustered)"), Str(k.name),
         Str("(n/a)"), Str("(n/a)"), Str("(n/a)"), Str("(n/a)"), Str(KeyList(k.columns))});
  }
  if (constraints.empty()) {
    call.Info(15469, "No constraints are defined on object '" + table.name +
                         "', or you do not have permissions.");
  } else {
    call.Result({{"constraint_type", sql::VarCharType(146, true), true},
                 {"constraint_name", kSysname, true},
                 {"delete_action", sql::VarCharType(9, true), true},
                 {"update_action", sql::VarCharType(9, true), true},
                 {"status_enabled", sql::VarCharType(8, false), true},
                 {"status_for_replication", sql::VarCharType(19, false), true},
                 {"constraint_keys", sql::VarCharType(2126, true), true}},
                constraints);
  }
  call.Info(15470, "No foreign keys reference table '" + table.name +
                       "', or you do not have permissions.");
}

int SpHelp(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@objname"})) return call.last_error();
  const std::string& db = call.host().DatabaseName();
  if (!call.Arg(0)) {
    std::vector<Row> rows;
    for (const TextRow& r :
         call.Query("SELECT name, type FROM " + call.View("sys.objects") + " ORDER BY name", {})) {
      rows.push_back({Str(*r[0]), Str("dbo"), Str(ObjectTypeName(*r[1]))});
    }
    call.Result({{"Name", kSysname, true},
                 {"Owner", kSysname, true},
                 {"Object_type", sql::VarCharType(31, true), true}},
                rows);
    call.Result(kUserTypeColumns, {});
    return call.Return(0);
  }
  const std::string& text = *call.Arg(0);
  auto name = LocalName(text, db);
  auto object =
      name ? call.Query("SELECT name, type FROM " + call.View("sys.objects") + " WHERE name = ?1",
                        {*name})
           : std::vector<TextRow>{};
  if (object.empty()) {
    auto type =
        call.Query("SELECT name, max_length, precision, scale, is_nullable, collation_name FROM " +
                       call.View("sys.types") + " WHERE name = ?1",
                   {text});
    if (type.empty()) return call.Fail(NoSuchObject(text, db), 1);
    HelpType(type[0], call);
    return call.Return(0);
  }
  const std::string type = *object[0][1];
  call.Result({{"Name", kSysname, false},
               {"Owner", kSysname, true},
               {"Type", sql::VarCharType(31, true), true}},
              {{Str(*object[0][0]), Str("dbo"), Str(ObjectTypeName(type))}});
  if (type == "U ") {
    if (auto table = sql::LookupTable(call.db(), *object[0][0])) HelpTable(*table, call);
  }
  return call.Return(0);
}

int SpHelpText(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@objname", "@columnname"})) return call.last_error();
  const std::string& db = call.host().DatabaseName();
  const std::string text = call.Arg(0).value_or("");
  auto name = LocalName(text, db);
  if (name) {
    auto module = call.Query(
        "SELECT definition FROM (" + sql::StoredModulesSql() + ") WHERE name = ?1", {*name});
    if (!module.empty()) {
      // The definition line by line (each with its line end), in pieces of
      // at most 255 characters.
      std::vector<Row> rows;
      const std::string& def = module[0][0].value_or("");
      size_t start = 0;
      while (start < def.size()) {
        size_t end = def.find('\n', start);
        end = end == std::string::npos ? def.size() : end + 1;
        std::string line = def.substr(start, end - start);
        while (!line.empty()) {
          size_t cut = 0;
          int64_t chars = 0;
          while (cut < line.size() && chars < 255) {
            const unsigned char c = static_cast<unsigned char>(line[cut]);
            cut += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            ++chars;
          }
          cut = std::min(cut, line.size());
          rows.push_back({Str(line.substr(0, cut))});
          line.erase(0, cut);
        }
        start = end;
      }
      call.Result({{"Text", sql::VarCharType(255, true), true}}, rows);
      return call.Return(0);
    }
    if (!call.Query("SELECT 1 FROM " + call.View("sys.objects") + " WHERE name = ?1", {*name})
             .empty()) {
      return call.Fail(MakeMessage(15197, 1, 16, "There is no text for object '" + text + "'."), 1);
    }
  }
  return call.Fail(NoSuchObject(text, db), 1);
}

int SpStoredProcedures(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@sp_name", "@sp_owner", "@sp_qualifier", "@fusepattern"})) {
    return call.last_error();
  }
  const std::string& db = call.host().DatabaseName();
  std::vector<Row> rows;
  const bool owner_ok = !call.Arg(1) || EqualsIgnoreCase(*call.Arg(1), "dbo");
  const bool qualifier_ok = !call.Arg(2) || EqualsIgnoreCase(*call.Arg(2), db);
  if (owner_ok && qualifier_ok) {
    for (const TextRow& r :
         call.Query("SELECT name, type FROM (" + sql::StoredModulesSql() +
                        ") WHERE type IN ('P', 'FN', 'IF', 'TF') AND tds_like(name, ?1)"
                        " ORDER BY name",
                    {call.Arg(0).value_or("%")})) {
      const bool procedure = *r[1] == "P";
      rows.push_back({Str(db), Str("dbo"), Str(*r[0] + (procedure ? ";1" : ";0")), Num(-1), Num(-1),
                      Num(-1), Null(), Num(procedure ? 2 : 3)});
    }
  }
  call.Result({{"PROCEDURE_QUALIFIER", kSysname, true},
               {"PROCEDURE_OWNER", kSysname, true},
               {"PROCEDURE_NAME", sql::VarCharType(134, true), true},
               {"NUM_INPUT_PARAMS", kInt, true},
               {"NUM_OUTPUT_PARAMS", kInt, true},
               {"NUM_RESULT_SETS", kInt, true},
               {"REMARKS", sql::VarCharType(254, false), true},
               {"PROCEDURE_TYPE", kSmallInt, true}},
              rows);
  return call.Return(0);
}

// The size of a database schema in KB.
int64_t SchemaKb(Call& call, const char* schema) {
  auto pages = call.Query(std::string("PRAGMA ") + schema + ".page_count", {});
  auto size = call.Query(std::string("PRAGMA ") + schema + ".page_size", {});
  if (pages.empty() || size.empty()) return 0;
  return ToInt(pages[0][0]) * ToInt(size[0][0]) / 1024;
}

int SpDatabases(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {})) return call.last_error();
  std::vector<Row> rows{{Str(call.host().DatabaseName()), Num(SchemaKb(call, "main")), Null()}};
  if (!EqualsIgnoreCase(call.host().DatabaseName(), "tempdb")) {
    rows.push_back({Str("tempdb"), Num(SchemaKb(call, "temp")), Null()});
  }
  call.Result({{"DATABASE_NAME", kSysname, true},
               {"DATABASE_SIZE", kInt, true},
               {"REMARKS", sql::VarCharType(254, false), true}},
              rows);
  return call.Return(0);
}

std::string Kb(int64_t kb) {
  return std::to_string(kb) + " KB";
}

int SpSpaceUsed(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@objname", "@updateusage"})) return call.last_error();
  const std::string& db = call.host().DatabaseName();
  const int64_t total = SchemaKb(call, "main");
  if (!call.Arg(0)) {
    call.Result(
        {{"database_name", kSysname, true},
         {"database_size", sql::VarCharType(18, false), true},
         {"unallocated space", sql::VarCharType(18, false), true}},
        {{Str(db),
          Str(std::to_string(total / 1024) + "." + std::to_string(total % 1024 * 100 / 1024 / 10) +
              std::to_string(total % 1024 * 100 / 1024 % 10) + " MB"),
          Str("0.00 MB")}});
    call.Result({{"reserved", sql::VarCharType(18, false), true},
                 {"data", sql::VarCharType(18, false), true},
                 {"index_size", sql::VarCharType(18, false), true},
                 {"unused", sql::VarCharType(18, false), true}},
                {{Str(Kb(total)), Str(Kb(total)), Str("0 KB"), Str("0 KB")}});
    return call.Return(0);
  }
  auto name = LocalName(*call.Arg(0), db);
  auto table = name ? sql::LookupTable(call.db(), *name) : std::nullopt;
  if (!table || sql::IsTemporaryName(table->name)) {
    return call.Fail(MakeMessage(15009, 1, 16,
                                 "The object '" + *call.Arg(0) + "' does not exist in database '" +
                                     db + "' or is invalid for this operation."),
                     1);
  }
  auto count = call.Query("SELECT count(*) FROM " + sql::QuoteIdent(table->name), {});
  const std::string rows = count.empty() ? "0" : count[0][0].value_or("0");
  // Pages are not counted per table: the sizes are those of the rows' pages
  // as SQLite's statistics give them where it has them, else 0.
  auto pages = call.Query("SELECT sum(pgsize) / 1024 FROM dbstat WHERE name = ?1 OR name LIKE ?2",
                          {table->name, "__tdslite_ix_" + table->name + "__%"});
  const int64_t kb = pages.empty() ? 0 : ToInt(pages[0][0]);
  call.Result(
      {{"name", sql::VarCharType(128, true), true},
       {"rows", Fixed(TypeId::kChar, 20), true},
       {"reserved", sql::VarCharType(18, false), true},
       {"data", sql::VarCharType(18, false), true},
       {"index_size", sql::VarCharType(18, false), true},
       {"unused", sql::VarCharType(18, false), true}},
      {{Str(table->name), Padded(rows, 20), Str(Kb(kb)), Str(Kb(kb)), Str("0 KB"), Str("0 KB")}});
  return call.Return(0);
}

int SpWho(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@loginame"})) return call.last_error();
  ProcedureHost& host = call.host();
  std::vector<Row> rows;
  const std::string spid = std::to_string(host.Spid());
  if (!call.Arg(0) || *call.Arg(0) == spid || EqualsIgnoreCase(*call.Arg(0), host.LoginName())) {
    rows.push_back({Num(host.Spid()), Num(0), Padded("runnable", 30), Str(host.LoginName()),
                    Padded(host.HostName(), 128), Padded("0", 5), Str(host.DatabaseName()),
                    Padded("SELECT", 16), Num(0)});
  }
  call.Result({{"spid", kSmallInt, false},
               {"ecid", kSmallInt, false},
               {"status", Fixed(TypeId::kNChar, 30), false},
               {"loginame", sql::VarCharType(128, true), true},
               {"hostname", Fixed(TypeId::kNChar, 128), false},
               {"blk", Fixed(TypeId::kChar, 5), true},
               {"dbname", sql::VarCharType(128, true), true},
               {"cmd", Fixed(TypeId::kNChar, 16), false},
               {"request_id", kInt, false}},
              rows);
  return call.Return(0);
}

int SpServerInfo(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@attribute_id"})) return call.last_error();
  static const std::pair<int, const char*> kInfo[] = {{1, "DBMS_NAME"},
                                                      {2, "DBMS_VER"},
                                                      {10, "OWNER_TERM"},
                                                      {11, "TABLE_TERM"},
                                                      {12, "MAX_OWNER_NAME_LENGTH"},
                                                      {16, "IDENTIFIER_CASE"},
                                                      {15, "COLUMN_LENGTH"},
                                                      {13, "TABLE_LENGTH"},
                                                      {100, "USERID_LENGTH"},
                                                      {17, "TX_ISOLATION"},
                                                      {18, "COLLATION_SEQ"},
                                                      {19, "SAVEPOINT_SUPPORT"},
                                                      {20, "MULTI_RESULT_SETS"},
                                                      {22, "ACCESSIBLE_TABLES"},
                                                      {500, "SYS_SPROC_VERSION"}};
  auto value = [&](int id) -> std::string {
    switch (id) {
      case 1:
        return "Microsoft SQL Server";
      case 2:
        return "Microsoft SQL Server 2008 R2 - 10.50.1600.1";
      case 10:
        return "owner";
      case 11:
        return "table";
      case 12:
      case 13:
      case 15:
      case 100:
        return "128";
      case 16:
        return "MIXED";
      case 17:
        return "2";
      case 18:
        return "charset=iso_1 sort_order=nocase_iso charset_num=1 sort_order_num=52";
      case 19:
      case 20:
      case 22:
        return "Y";
      default:
        return "10.50.1600";
    }
  };
  const int64_t only = ToInt(call.Arg(0), -1);
  std::vector<Row> rows;
  for (const auto& [id, name] : kInfo) {
    if (call.Arg(0) && id != only) continue;
    rows.push_back({Num(id), Str(name), Str(value(id))});
  }
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a[0].i < b[0].i; });
  call.Result({{"attribute_id", kInt, false},
               {"attribute_name", kSysname, false},
               {"attribute_value", sql::VarCharType(255, true), true}},
              rows);
  return call.Return(0);
}

int SpAddMessage(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@msgnum", "@severity", "@msgtext", "@lang", "@with_log", "@replace"})) {
    return call.last_error();
  }
  const int64_t number = ToInt(call.Arg(0));
  const int64_t severity = ToInt(call.Arg(1), -1);
  if (number <= 50000 || number > 2147483647) {
    return call.Fail(MakeMessage(15040, 1, 16,
                                 "User-defined error messages must have an ID greater than "
                                 "50000."),
                     1);
  }
  if (severity < 1 || severity > 25) {
    return call.Fail(MakeMessage(15041, 1, 16,
                                 "User-defined error messages must have a severity level between "
                                 "1 and 25."),
                     1);
  }
  const std::string text = call.Arg(2).value_or("");
  if (sql::Utf16Length(text) > 255) {
    return call.Fail(MakeMessage(8152, 2, 16, "String or binary data would be truncated."), 1);
  }
  const bool replace = call.Arg(5) && EqualsIgnoreCase(*call.Arg(5), "replace");
  if (!replace && sql::FindUserMessage(call.db(), number)) {
    return call.Fail(
        MakeMessage(15043, 1, 16, "You must specify 'REPLACE' to overwrite an existing message."),
        1);
  }
  std::string error;
  if (!sql::StoreUserMessage(call.db(), number, {static_cast<int>(severity), text}, &error)) {
    return call.Fail(MakeMessage(50100, 1, 16, "sp_addmessage failed: " + error), 1);
  }
  return call.Return(0);
}

int SpDropMessage(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@msgnum", "@lang"})) return call.last_error();
  const int64_t number = ToInt(call.Arg(0));
  if (!sql::FindUserMessage(call.db(), number)) {
    return call.Fail(
        MakeMessage(15179, 1, 16, "Message number " + std::to_string(number) + " does not exist."),
        1);
  }
  std::string error;
  if (!sql::DropUserMessage(call.db(), number, &error)) {
    return call.Fail(MakeMessage(50100, 1, 16, "sp_dropmessage failed: " + error), 1);
  }
  return call.Return(0);
}

struct Procedure {
  const char* name;
  int (*run)(std::span<const ProcArgument>, Call&);
};

constexpr Procedure kProcedures[] = {
    {"sp_help", SpHelp},
    {"sp_columns", SpColumns},
    {"sp_tables", SpTables},
    {"sp_pkeys", SpPkeys},
    {"sp_helpindex", SpHelpIndex},
    {"sp_helptext", SpHelpText},
    {"sp_stored_procedures", SpStoredProcedures},
    {"sp_databases", SpDatabases},
    {"sp_spaceused", SpSpaceUsed},
    {"sp_who", SpWho},
    {"sp_server_info", SpServerInfo},
    {"sp_addmessage", SpAddMessage},
    {"sp_dropmessage", SpDropMessage},
};

}  // namespace

bool IsCatalogProcedure(std::string_view name) {
  for (const Procedure& p : kProcedures) {
    if (name == p.name) return true;
  }
  return false;
}

int RunCatalogProcedure(std::string_view name, std::span<const ProcArgument> args, int line,
                        ProcedureHost& host, ResultSink& sink) {
  Call call(name, line, host, sink);
  for (const Procedure& p : kProcedures) {
    if (name == p.name) return p.run(args, call);
  }
  return 0;
}

}  // namespace tdslite::procs
