#include "catalog_views.h"

#include <algorithm>
#include <array>

#include "catalog.h"
#include "functions_internal.h"
#include "lexer.h"
#include "modules.h"
#include "types.h"

namespace tdslite::sql {
namespace {

// ---- types as the catalog describes them ------------------------------------

struct SystemType {
  const char* name;
  int system_type_id;
  int user_type_id;
  int max_length;  // bytes; -1 for xml
  int precision;
  int scale;
  bool collated;  // a character type: has a collation
};

// Every system type of the server, as sys.types lists it.
constexpr std::array<SystemType, 31> kSystemTypes = {{
    {"image", 34, 34, 16, 0, 0, false},
    {"text", 35, 35, 16, 0, 0, true},
    {"uniqueidentifier", 36, 36, 16, 0, 0, false},
    {"date", 40, 40, 3, 10, 0, false},
    {"time", 41, 41, 5, 16, 7, false},
    {"datetime2", 42, 42, 8, 27, 7, false},
    {"datetimeoffset", 43, 43, 10, 34, 7, false},
    {"tinyint", 48, 48, 1, 3, 0, false},
    {"smallint", 52, 52, 2, 5, 0, false},
    {"int", 56, 56, 4, 10, 0, false},
    {"smalldatetime", 58, 58, 4, 16, 0, false},
    {"real", 59, 59, 4, 24, 0, false},
    {"money", 60, 60, 8, 19, 4, false},
    {"datetime", 61, 61, 8, 23, 3, false},
    {"float", 62, 62, 8, 53, 0, false},
    {"sql_variant", 98, 98, 8016, 0, 0, false},
    {"ntext", 99, 99, 16, 0, 0, true},
    {"bit", 104, 104, 1, 1, 0, false},
    {"decimal", 106, 106, 17, 38, 38, false},
    {"numeric", 108, 108, 17, 38, 38, false},
    {"smallmoney", 122, 122, 4, 10, 4, false},
    {"bigint", 127, 127, 8, 19, 0, false},
    {"varbinary", 165, 165, 8000, 0, 0, false},
    {"varchar", 167, 167, 8000, 0, 0, true},
    {"binary", 173, 173, 8000, 0, 0, false},
    {"char", 175, 175, 8000, 0, 0, true},
    {"timestamp", 189, 189, 8, 0, 0, false},
    {"nvarchar", 231, 231, 8000, 0, 0, true},
    {"nchar", 239, 239, 8000, 0, 0, true},
    {"xml", 241, 241, -1, 0, 0, false},
    {"sysname", 231, 256, 256, 0, 0, true},
}};

constexpr const char* kCollation = "SQL_Latin1_General_CP1_CI_AS";

const SystemType* FindSystemType(std::string_view name) {
  for (const SystemType& t : kSystemTypes) {
    if (EqualsIgnoreCase(t.name, name)) return &t;
  }
  return nullptr;
}

const SystemType* FindSystemTypeId(int64_t user_type_id) {
  for (const SystemType& t : kSystemTypes) {
    if (t.user_type_id == user_type_id) return &t;
  }
  return nullptr;
}

bool Named(const ColumnType& t, std::string_view name) {
  return TypeName(t.id) == name;
}

// The fractional-second types (time, datetime2, datetimeoffset) keep their
// scale in `scale`.
bool IsFractionalTime(const ColumnType& t) {
  return Named(t, "time") || Named(t, "datetime2") || Named(t, "datetimeoffset");
}

// A (max) type or one without a stored length.
bool IsMaxLength(const ColumnType& t) {
  if (IsLobType(t.id) || !(IsCharType(t.id) || IsBinaryType(t.id))) return false;
  return t.length <= 0 || t.length > (IsUnicodeType(t.id) ? 4000 : 8000);
}

int DecimalBytes(int precision) {
  return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

// sys.columns.max_length: the column's size in bytes.
int64_t MaxLength(const ColumnType& t) {
  if (IsMaxLength(t)) return -1;
  if (IsLobType(t.id)) return 16;
  if (IsCharType(t.id) || IsBinaryType(t.id)) return IsUnicodeType(t.id) ? 2 * t.length : t.length;
  if (IsDecimalType(t.id)) return DecimalBytes(t.precision);
  if (IsFractionalTime(t)) {
    const int base = t.scale <= 2 ? 3 : t.scale <= 4 ? 4 : 5;
    return Named(t, "time") ? base : Named(t, "datetime2") ? base + 3 : base + 5;
  }
  const SystemType* s = FindSystemType(TypeName(t.id));
  return s != nullptr ? s->max_length : 0;
}

int64_t Precision(const ColumnType& t) {
  if (IsDecimalType(t.id)) return t.precision;
  if (IsFractionalTime(t)) {
    const int extra = t.scale == 0 ? 0 : t.scale + 1;
    return (Named(t, "time") ? 8 : Named(t, "datetime2") ? 19 : 26) + extra;
  }
  const SystemType* s = FindSystemType(TypeName(t.id));
  return s != nullptr && !s->collated ? s->precision : 0;
}

int64_t Scale(const ColumnType& t) {
  if (IsDecimalType(t.id) || IsFractionalTime(t)) return t.scale;
  const SystemType* s = FindSystemType(TypeName(t.id));
  return s != nullptr && !s->collated ? s->scale : 0;
}

// What tds_type_attr answers, by number.
enum Attr : int {
  kAttrName = 0,
  kAttrSystemTypeId,
  kAttrMaxLength,
  kAttrPrecision,
  kAttrScale,
  kAttrCharMaxLength,  // INFORMATION_SCHEMA.COLUMNS from here on
  kAttrOctetLength,
  kAttrNumericPrecision,
  kAttrRadix,
  kAttrNumericScale,
  kAttrDatetimePrecision,
  kAttrCharacterSet,
  kAttrCollation,
};

void TypeAttr(sqlite3_context* ctx, const ColumnType& t, int attr) {
  const bool chars = IsCharType(t.id);
  const bool sized = chars || IsBinaryType(t.id);
  const bool integer = IsIntegerType(t.id) && t.id != TypeId::kBit;
  switch (attr) {
    case kAttrName:
      return function_detail::ResultText(ctx, TypeName(t.id));
    case kAttrSystemTypeId: {
      const SystemType* s = FindSystemType(TypeName(t.id));
      return sqlite3_result_int(ctx, s != nullptr ? s->system_type_id : 0);
    }
    case kAttrMaxLength:
      return sqlite3_result_int64(ctx, MaxLength(t));
    case kAttrPrecision:
      return sqlite3_result_int64(ctx, Precision(t));
    case kAttrScale:
      return sqlite3_result_int64(ctx, Scale(t));
    case kAttrCharMaxLength:
    case kAttrOctetLength: {
      if (!sized) return sqlite3_result_null(ctx);
      if (IsMaxLength(t)) return sqlite3_result_int(ctx, -1);
      const bool octets = attr == kAttrOctetLength;
      if (t.id == TypeId::kNText)
        return sqlite3_result_int64(ctx, octets ? 2147483646 : 1073741823);
      if (IsLobType(t.id)) return sqlite3_result_int64(ctx, 2147483647);
      return sqlite3_result_int64(ctx, octets && IsUnicodeType(t.id) ? 2 * t.length : t.length);
    }
    case kAttrNumericPrecision:
    case kAttrRadix:
    case kAttrNumericScale: {
      const bool floating = IsFloatType(t.id);
      if (!(integer || floating || IsDecimalType(t.id) || IsMoneyType(t.id))) {
        return sqlite3_result_null(ctx);
      }
      if (attr == kAttrNumericPrecision) return sqlite3_result_int64(ctx, Precision(t));
      if (attr == kAttrRadix) return sqlite3_result_int(ctx, floating ? 2 : 10);
      if (floating) return sqlite3_result_null(ctx);
      return sqlite3_result_int64(ctx, Scale(t));
    }
    case kAttrDatetimePrecision:
      if (t.id == TypeId::kDateTime) return sqlite3_result_int(ctx, 3);
      if (t.id == TypeId::kSmallDateTime || Named(t, "date")) return sqlite3_result_int(ctx, 0);
      if (IsFractionalTime(t)) return sqlite3_result_int(ctx, t.scale);
      return sqlite3_result_null(ctx);
    case kAttrCharacterSet:
      if (!chars) return sqlite3_result_null(ctx);
      return function_detail::ResultText(ctx, IsUnicodeType(t.id) ? "UNICODE" : "iso_1");
    case kAttrCollation:
      if (!chars) return sqlite3_result_null(ctx);
      return function_detail::ResultText(ctx, kCollation);
    default:
      return sqlite3_result_null(ctx);
  }
}

// ---- reading the catalog ------------------------------------------------------

class Query {
 public:
  Query(sqlite3* db, const std::string& sql) {
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
  }
  ~Query() { sqlite3_finalize(stmt_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  Query& Bind(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Query& Bind(int i, int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  bool Step() { return stmt_ != nullptr && sqlite3_step(stmt_) == SQLITE_ROW; }
  // Runs a statement that returns no rows; answers true when it succeeded.
  bool Done() { return stmt_ != nullptr && sqlite3_step(stmt_) == SQLITE_DONE; }
  int64_t Int(int i) { return sqlite3_column_int64(stmt_, i); }
  std::string Text(int i) {
    const unsigned char* p = sqlite3_column_text(stmt_, i);
    return p == nullptr ? std::string()
                        : std::string(reinterpret_cast<const char*>(p),
                                      static_cast<size_t>(sqlite3_column_bytes(stmt_, i)));
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// The user database's tables, without the global temporary ones (tempdb's).
const char* kTablesSql =
    "(SELECT rowid AS rid, display AS name FROM main.__tdslite_tables"
    " WHERE substr(name, 1, 1) <> '#')";

struct FoundObject {
  int64_t id = 0;
  std::string type;  // trimmed: U, PK, UQ, P, V, FN, ...
  std::string name;  // as created
  bool temporary = false;
};

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::optional<FoundObject> FindTable(sqlite3* db, std::string_view name, bool temporary) {
  const char* sql = temporary && IsTemporaryName(name)
                        ? "SELECT rowid, display FROM temp.__tdslite_ttables WHERE name = ?1"
                        : "SELECT rowid, display FROM main.__tdslite_tables WHERE name = ?1";
  Query q(db, sql);
  q.Bind(1, name);
  if (!q.Step()) return std::nullopt;
  FoundObject o;
  const int64_t rid = q.Int(0);
  if (rid <= 0 || rid >= kIdRange) return std::nullopt;
  o.temporary = temporary && IsTemporaryName(name);
  o.id = o.temporary ? -(kTableIdBase + rid) : kTableIdBase + rid;
  o.type = "U";
  o.name = q.Text(1);
  return o;
}

// An object of the user database (or, for '#' names, of tempdb) by the name
// object_id() is given.
std::optional<FoundObject> ResolveObject(sqlite3* db, std::string_view text,
                                         std::string_view database) {
  auto parts = SplitObjectName(text);
  if (!parts || parts->empty()) return std::nullopt;
  const size_t n = parts->size();
  const std::string& name = parts->back();
  const std::string schema = n >= 2 ? ToLower((*parts)[n - 2]) : std::string();
  const std::string db_part = n == 3 ? ToLower((*parts)[0]) : std::string();
  if (!schema.empty() && schema != "dbo") return std::nullopt;
  const std::string own = ToLower(database);
  const bool in_tempdb = db_part == "tempdb" || (db_part.empty() && own == "tempdb");
  if (!db_part.empty() && db_part != own && db_part != "tempdb") return std::nullopt;
  if (!name.empty() && name[0] == '#') {
    if (!in_tempdb) return std::nullopt;
    return FindTable(db, name, true);
  }
  if (in_tempdb && own != "tempdb") return std::nullopt;
  if (auto t = FindTable(db, name, false)) return t;
  {
    Query q(db,
            "SELECT rowid, kind, name FROM main.__tdslite_keys WHERE name = ?1"
            " AND kind IN ('P', 'U')");
    q.Bind(1, name);
    if (q.Step()) {
      FoundObject o;
      const int64_t rid = q.Int(0);
      if (rid > 0 && rid < kIdRange) {
        o.id = kKeyIdBase + rid;
        o.type = q.Text(1) == "P" ? "PK" : "UQ";
        o.name = q.Text(2);
        return o;
      }
    }
  }
  Query q(db, "SELECT rid, type, name FROM (" + StoredModulesSql() + ") WHERE name = ?1");
  q.Bind(1, name);
  if (!q.Step()) return std::nullopt;
  FoundObject o;
  const int64_t rid = q.Int(0);
  if (rid <= 0 || rid >= kIdRange) return std::nullopt;
  o.id = kModuleIdBase + rid;
  o.type = q.Text(1);
  o.name = q.Text(2);
  return o;
}

// The object an id names, in the user database or the connection's tempdb.
std::optional<FoundObject> ObjectById(sqlite3* db, int64_t id) {
  FoundObject o;
  o.id = id;
  int64_t rid = 0;
  std::string sql;
  if (id < 0 && -id > kTableIdBase && -id < kTableIdBase + kIdRange) {
    rid = -id - kTableIdBase;
    sql = "SELECT display, 'U' FROM temp.__tdslite_ttables WHERE rowid = ?1";
    o.temporary = true;
  } else if (id > kTableIdBase && id < kTableIdBase + kIdRange) {
    rid = id - kTableIdBase;
    sql = "SELECT display, 'U' FROM main.__tdslite_tables WHERE rowid = ?1";
  } else if (id > kKeyIdBase && id < kKeyIdBase + kIdRange) {
    rid = id - kKeyIdBase;
    sql =
        "SELECT name, CASE kind WHEN 'P' THEN 'PK' ELSE 'UQ' END FROM main.__tdslite_keys"
        " WHERE rowid = ?1 AND kind IN ('P', 'U')";
  } else if (id > kModuleIdBase && id < kModuleIdBase + kIdRange) {
    rid = id - kModuleIdBase;
    sql = "SELECT name, type FROM (" + StoredModulesSql() + ") WHERE rid = ?1";
  } else {
    return std::nullopt;
  }
  Query q(db, sql);
  q.Bind(1, rid);
  if (!q.Step()) return std::nullopt;
  o.name = q.Text(0);
  o.type = q.Text(1);
  return o;
}

std::string Arg(sqlite3_value* v) {
  return function_detail::ValueText(v);
}

bool IsNull(sqlite3_value* v) {
  return sqlite3_value_type(v) == SQLITE_NULL;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// tds_object_id(name, type or NULL, database)
void ObjectIdFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  sqlite3* db = sqlite3_context_db_handle(ctx);
  auto o = ResolveObject(db, Arg(argv[0]), Arg(argv[2]));
  if (!o) return sqlite3_result_null(ctx);
  if (!IsNull(argv[1]) && Upper(TrimRight(Arg(argv[1]))) != o->type) {
    return sqlite3_result_null(ctx);
  }
  sqlite3_result_int64(ctx, o->id);
}

// tds_object_name(id)
void ObjectNameFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  auto o = ObjectById(sqlite3_context_db_handle(ctx), sqlite3_value_int64(argv[0]));
  if (!o) return sqlite3_result_null(ctx);
  function_detail::ResultText(ctx, o->name);
}

std::optional<CatalogTable> TableOf(sqlite3* db, sqlite3_value* name, std::string_view database) {
  auto o = ResolveObject(db, Arg(name), database);
  if (!o || o->type != "U") return std::nullopt;
  return LookupTable(db, o->name);
}

// tds_col_length(table, column, database)
void ColLengthFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  auto table = TableOf(sqlite3_context_db_handle(ctx), argv[0], Arg(argv[2]));
  if (!table) return sqlite3_result_null(ctx);
  const int i = table->FindColumn(Arg(argv[1]));
  if (i < 0) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, MaxLength(table->columns[static_cast<size_t>(i)].type));
}

// tds_col_name(object id, column id)
void ColNameFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  sqlite3* db = sqlite3_context_db_handle(ctx);
  auto o = ObjectById(db, sqlite3_value_int64(argv[0]));
  if (!o || o->type != "U") return sqlite3_result_null(ctx);
  auto table = LookupTable(db, o->name);
  const int64_t column = sqlite3_value_int64(argv[1]);
  if (!table || column < 1 || column > static_cast<int64_t>(table->columns.size())) {
    return sqlite3_result_null(ctx);
  }
  function_detail::ResultText(ctx, table->columns[static_cast<size_t>(column - 1)].name);
}

// tds_objectproperty(id, property)
void ObjectPropertyFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  auto o = ObjectById(sqlite3_context_db_handle(ctx), sqlite3_value_int64(argv[0]));
  if (!o) return sqlite3_result_null(ctx);
  const std::string p = ToLower(Arg(argv[1]));
  const std::string& t = o->type;
  auto answer = [&](bool b) { sqlite3_result_int(ctx, b ? 1 : 0); };
  if (p == "isusertable" || p == "istable") return answer(t == "U");
  if (p == "isprocedure") return answer(t == "P");
  if (p == "isview") return answer(t == "V");
  if (p == "isscalarfunction") return answer(t == "FN");
  if (p == "istablefunction") return answer(t == "IF" || t == "TF");
  if (p == "isinlinefunction") return answer(t == "IF");
  if (p == "isprimarykey") return answer(t == "PK");
  if (p == "isuniquecnst") return answer(t == "UQ");
  if (p == "isconstraint") return answer(t == "PK" || t == "UQ");
  if (p == "ismsshipped" || p == "issystemtable") return answer(false);
  if (p == "ownerid" || p == "schemaid") return sqlite3_result_int(ctx, 1);
  if (p == "tablehasidentity" || p == "tablehasprimarykey") {
    if (t != "U") return sqlite3_result_null(ctx);
    auto table = LookupTable(sqlite3_context_db_handle(ctx), o->name);
    if (!table) return sqlite3_result_null(ctx);
    if (p == "tablehasidentity") return answer(table->identity_column >= 0);
    return answer(std::any_of(table->keys.begin(), table->keys.end(),
                              [](const CatalogKey& k) { return k.kind == 'P'; }));
  }
  sqlite3_result_null(ctx);
}

// tds_default_text(stored default, packed type): a column default as the
// server shows its definition: ((0)), ('abc'), (N'abc'), (getdate()).
void DefaultTextFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  std::string sql = Arg(argv[0]);
  const ColumnType type = UnpackType(sqlite3_value_int64(argv[1]));
  if (sql == "tds_getdate()") return function_detail::ResultText(ctx, "(getdate())");
  // A constant converted to the column's type: the constant as written.
  if (sql.rfind("tds_cvt(", 0) == 0) {
    const size_t start = 8;
    size_t end = start;
    if (end < sql.size() && sql[end] == '\'') {
      for (++end; end < sql.size(); ++end) {
        if (sql[end] == '\'' && (end + 1 >= sql.size() || sql[end + 1] != '\'')) break;
        if (sql[end] == '\'') ++end;
      }
      ++end;
    } else {
      end = sql.find(',', start);
    }
    if (end != std::string::npos && end < sql.size() && sql[end] == ',') {
      sql = sql.substr(start, end - start);
      if (sql.size() > 1 && sql.front() == '\'' && IsNumericType(type.id)) {
        sql = sql.substr(1, sql.size() - 2);
      }
    }
  }
  const bool number = !sql.empty() && sql.find_first_not_of("0123456789.-+eE") == std::string::npos;
  if (number) return function_detail::ResultText(ctx, "((" + sql + "))");
  if (!sql.empty() && sql.front() == '\'' && IsUnicodeType(type.id)) sql = "N" + sql;
  function_detail::ResultText(ctx, "(" + sql + ")");
}

// tds_type_attr(packed type, attribute)
void TypeAttrFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  TypeAttr(ctx, UnpackType(sqlite3_value_int64(argv[0])),
           static_cast<int>(sqlite3_value_int64(argv[1])));
}

// tds_type_name(id)
void TypeNameFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  const SystemType* t = FindSystemTypeId(sqlite3_value_int64(argv[0]));
  if (t == nullptr) return sqlite3_result_null(ctx);
  function_detail::ResultText(ctx, t->name);
}

// tds_type_id(name)
void TypeIdFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  auto parts = SplitObjectName(Arg(argv[0]));
  if (!parts || parts->empty() || parts->size() > 2) return sqlite3_result_null(ctx);
  if (parts->size() == 2 && ToLower((*parts)[0]) != "sys" && ToLower((*parts)[0]) != "dbo") {
    return sqlite3_result_null(ctx);
  }
  const SystemType* t = FindSystemType(parts->back());
  if (t == nullptr) return sqlite3_result_null(ctx);
  sqlite3_result_int(ctx, t->user_type_id);
}

// tds_key_column(stored key columns, n): the n-th column (1-based) or NULL.
void KeyColumnFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  const std::vector<std::string> columns = SplitKeyColumns(Arg(argv[0]));
  const int64_t n = sqlite3_value_int64(argv[1]);
  if (n < 1 || n > static_cast<int64_t>(columns.size())) return sqlite3_result_null(ctx);
  function_detail::ResultText(ctx, columns[static_cast<size_t>(n - 1)]);
}

// ---- the views -------------------------------------------------------------------

ColumnType Type(TypeId id, int length = 0) {
  ColumnType t = IntType(id);
  t.length = length;
  return t;
}

const ColumnType kSysname = VarCharType(128, true);

struct Col {
  const char* name;
  ColumnType type;
  bool nullable;
  std::string sql;
};

CatalogView Make(const std::vector<Col>& cols, const std::string& from) {
  CatalogView v;
  v.sql = "SELECT ";
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i > 0) v.sql += ", ";
    v.sql += cols[i].sql + " AS " + QuoteIdent(cols[i].name);
    v.columns.push_back({cols[i].name, cols[i].type, cols[i].nullable});
  }
  v.sql += " FROM " + from;
  return v;
}

std::string Quoted(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

const ColumnType kInt = Type(TypeId::kInt);
const ColumnType kSmallInt = Type(TypeId::kSmallInt);
const ColumnType kTinyInt = Type(TypeId::kTinyInt);
const ColumnType kBit = Type(TypeId::kBit);
const ColumnType kChar2 = Type(TypeId::kChar, 2);
const ColumnType kDesc = VarCharType(60, true);

std::string Attr(const char* packed, Attr a) {
  return std::string("tds_type_attr(") + packed + ", " + std::to_string(static_cast<int>(a)) + ")";
}

// Every object of the user database: tables, key constraints, modules, with
// the columns sys.objects shows.
std::string ObjectsSql() {
  const std::string t = kTablesSql;
  return "(SELECT name, " + std::to_string(kTableIdBase) +
         " + rid AS object_id, 0 AS parent_object_id, 'U ' AS type, 'USER_TABLE' AS type_desc"
         " FROM " +
         t + " UNION ALL SELECT k.name, " + std::to_string(kKeyIdBase) + " + k.rowid, " +
         std::to_string(kTableIdBase) +
         " + t.rid, CASE k.kind WHEN 'P' THEN 'PK' ELSE 'UQ' END,"
         " CASE k.kind WHEN 'P' THEN 'PRIMARY_KEY_CONSTRAINT' ELSE 'UNIQUE_CONSTRAINT' END"
         " FROM main.__tdslite_keys AS k JOIN " +
         t +
         " AS t ON t.name = k.table_name WHERE k.kind IN ('P', 'U')"
         " UNION ALL SELECT name, " +
         std::to_string(kModuleIdBase) +
         " + rid, 0, substr(type || ' ', 1, 2),"
         " CASE type WHEN 'P' THEN 'SQL_STORED_PROCEDURE' WHEN 'V' THEN 'VIEW'"
         " WHEN 'FN' THEN 'SQL_SCALAR_FUNCTION' WHEN 'IF' THEN"
         " 'SQL_INLINE_TABLE_VALUED_FUNCTION' ELSE 'SQL_TABLE_VALUED_FUNCTION' END FROM (" +
         StoredModulesSql() + "))";
}

std::vector<Col> ObjectColumns() {
  return {
      {"name", kSysname, false, "name"},
      {"object_id", kInt, false, "object_id"},
      {"principal_id", kInt, true, "NULL"},
      {"schema_id", kInt, false, "1"},
      {"parent_object_id", kInt, false, "parent_object_id"},
      {"type", kChar2, true, "type"},
      {"type_desc", kDesc, true, "type_desc"},
      {"is_ms_shipped", kBit, false, "0"},
      {"is_published", kBit, false, "0"},
      {"is_schema_published", kBit, false, "0"},
  };
}

CatalogView SysObjects(const char* type) {
  std::string from = ObjectsSql();
  if (type != nullptr) from += " WHERE type = " + Quoted(type);
  std::vector<Col> cols = ObjectColumns();
  if (type != nullptr && std::string_view(type) == "U ") {
    for (Col c : std::vector<Col>{
             {"lob_data_space_id", kInt, false, "0"},
             {"max_column_id_used", kInt, false,
              "(SELECT count(*) FROM main.__tdslite_columns WHERE table_name = name)"},
             {"lock_on_bulk_load", kBit, false, "0"},
             {"uses_ansi_nulls", kBit, true, "1"},
             {"is_replicated", kBit, true, "0"},
             {"has_replication_filter", kBit, true, "0"},
             {"is_merge_published", kBit, true, "0"},
             {"is_sync_tran_subscribed", kBit, true, "0"},
             {"has_unchecked_assembly_data", kBit, false, "0"},
             {"text_in_row_limit", kInt, true, "0"},
             {"large_value_types_out_of_row", kBit, true, "0"},
             {"is_tracked_by_cdc", kBit, true, "0"},
             {"lock_escalation", kTinyInt, true, "0"},
             {"lock_escalation_desc", kDesc, true, "'TABLE'"},
             {"is_filetable", kBit, true, "0"},
             {"is_memory_optimized", kBit, true, "0"},
             {"temporal_type", kTinyInt, true, "0"},
             {"temporal_type_desc", kDesc, true, "'NON_TEMPORAL_TABLE'"},
         }) {
      cols.push_back(std::move(c));
    }
  }
  if (type != nullptr && std::string_view(type) == "P ") {
    cols.push_back({"is_auto_executed", kBit, false, "0"});
    cols.push_back({"is_execution_replicated", kBit, true, "0"});
    cols.push_back({"is_repl_serializable_only", kBit, true, "0"});
    cols.push_back({"skips_repl_constraints", kBit, true, "0"});
  }
  if (type != nullptr && std::string_view(type) == "V ") {
    cols.push_back({"is_replicated", kBit, true, "0"});
    cols.push_back({"has_replication_filter", kBit, true, "0"});
    cols.push_back({"has_opaque_metadata", kBit, false, "0"});
    cols.push_back({"has_unchecked_assembly_data", kBit, false, "0"});
    cols.push_back({"with_check_option", kBit, false, "0"});
    cols.push_back({"is_date_correlation_view", kBit, false, "0"});
  }
  return Make(cols, from);
}

// The columns of the user database's tables.
std::string ColumnsSql() {
  return std::string(
             "(SELECT t.rid AS rid, t.name AS table_name, c.ordinal + 1 AS column_id,"
             " c.name AS name, c.type AS type, c.nullable AS nullable, c.identity AS is_identity,"
             " c.default_sql AS default_sql FROM ") +
         kTablesSql + " AS t JOIN main.__tdslite_columns AS c ON c.table_name = t.name)";
}

CatalogView SysColumns() {
  const std::string id = std::to_string(kTableIdBase) + " + rid";
  return Make(
      {
          {"object_id", kInt, false, id},
          {"name", kSysname, true, "name"},
          {"column_id", kInt, false, "column_id"},
          {"system_type_id", kTinyInt, false, Attr("type", kAttrSystemTypeId)},
          {"user_type_id", kInt, false, Attr("type", kAttrSystemTypeId)},
          {"max_length", kSmallInt, false, Attr("type", kAttrMaxLength)},
          {"precision", kTinyInt, false, Attr("type", kAttrPrecision)},
          {"scale", kTinyInt, false, Attr("type", kAttrScale)},
          {"collation_name", kSysname, true, Attr("type", kAttrCollation)},
          {"is_nullable", kBit, true, "nullable"},
          {"is_ansi_padded", kBit, false,
           "CASE WHEN " + Attr("type", kAttrOctetLength) + " IS NULL THEN 0 ELSE 1 END"},
          {"is_rowguidcol", kBit, false, "0"},
          {"is_identity", kBit, false, "is_identity"},
          {"is_computed", kBit, false, "0"},
          {"is_filestream", kBit, false, "0"},
          {"is_replicated", kBit, true, "0"},
          {"is_non_sql_subscribed", kBit, true, "0"},
          {"is_merge_published", kBit, true, "0"},
          {"is_dts_replicated", kBit, true, "0"},
          {"is_xml_document", kBit, false, "0"},
          {"xml_collection_id", kInt, false, "0"},
          {"default_object_id", kInt, false, "0"},
          {"rule_object_id", kInt, false, "0"},
          {"is_sparse", kBit, true, "0"},
          {"is_column_set", kBit, true, "0"},
      },
      ColumnsSql());
}

std::string SystemTypesSql() {
  std::string sql = "(";
  for (size_t i = 0; i < kSystemTypes.size(); ++i) {
    const SystemType& t = kSystemTypes[i];
    if (i > 0) sql += " UNION ALL ";
    sql += "SELECT " + Quoted(t.name) + " AS name, " + std::to_string(t.system_type_id) +
           " AS system_type_id, " + std::to_string(t.user_type_id) + " AS user_type_id, " +
           std::to_string(t.max_length) + " AS max_length, " + std::to_string(t.precision) +
           " AS precision, " + std::to_string(t.scale) + " AS scale, " +
           (t.collated ? Quoted(kCollation) : std::string("NULL")) + " AS collation_name, " +
           (t.user_type_id == 256 ? "0" : "1") + " AS is_nullable";
  }
  return sql + ")";
}

CatalogView SysTypes() {
  return Make(
      {
          {"name", kSysname, false, "name"},
          {"system_type_id", kTinyInt, false, "system_type_id"},
          {"user_type_id", kInt, false, "user_type_id"},
          {"schema_id", kInt, false, "4"},
          {"principal_id", kInt, true, "NULL"},
          {"max_length", kSmallInt, false, "max_length"},
          {"precision", kTinyInt, false, "precision"},
          {"scale", kTinyInt, false, "scale"},
          {"collation_name", kSysname, true, "collation_name"},
          {"is_nullable", kBit, true, "is_nullable"},
          {"is_user_defined", kBit, false, "0"},
          {"is_assembly_type", kBit, false, "0"},
          {"default_object_id", kInt, false, "0"},
          {"rule_object_id", kInt, false, "0"},
          {"is_table_type", kBit, false, "0"},
      },
      SystemTypesSql());
}

std::string DatabasesSql(std::string_view database) {
  std::string sql = "(SELECT " + Quoted(database) + " AS name, " +
                    std::to_string(DatabaseId(database, database)) + " AS database_id";
  if (ToLower(database) != "tempdb") sql += " UNION ALL SELECT 'tempdb', 2";
  return sql + ")";
}

CatalogView SysDatabases(std::string_view database) {
  return Make(
      {
          {"name", kSysname, false, "name"},
          {"database_id", kInt, false, "database_id"},
          {"source_database_id", kInt, true, "NULL"},
          {"compatibility_level", kTinyInt, false, "100"},
          {"collation_name", kSysname, true, Quoted(kCollation)},
          {"user_access", kTinyInt, true, "0"},
          {"user_access_desc", kDesc, true, "'MULTI_USER'"},
          {"is_read_only", kBit, true, "0"},
          {"state", kTinyInt, true, "0"},
          {"state_desc", kDesc, true, "'ONLINE'"},
          {"recovery_model", kTinyInt, true, "3"},
          {"recovery_model_desc", kDesc, true, "'SIMPLE'"},
      },
      DatabasesSql(database));
}

const char* kSchemasSql =
    "(SELECT 'dbo' AS name, 1 AS schema_id UNION ALL SELECT 'guest', 2"
    " UNION ALL SELECT 'INFORMATION_SCHEMA', 3 UNION ALL SELECT 'sys', 4)";

CatalogView SysSchemas() {
  return Make(
      {
          {"name", kSysname, false, "name"},
          {"schema_id", kInt, false, "schema_id"},
          {"principal_id", kInt, true, "schema_id"},
      },
      kSchemasSql);
}

// sysobjects: the older form of sys.objects.
CatalogView CompatObjects() {
  return Make(
      {
          {"name", kSysname, false, "name"},
          {"id", kInt, false, "object_id"},
          {"xtype", kChar2, false, "type"},
          {"uid", kSmallInt, true, "1"},
          {"info", kSmallInt, true, "0"},
          {"status", kInt, true, "0"},
          {"base_schema_ver", kInt, true, "0"},
          {"replinfo", kInt, true, "0"},
          {"parent_obj", kInt, false, "parent_object_id"},
          {"ftcatid", kSmallInt, true, "0"},
          {"schema_ver", kInt, true, "0"},
          {"stats_schema_ver", kInt, true, "0"},
          {"type", kChar2, true, "CASE WHEN type IN ('PK', 'UQ') THEN 'K ' ELSE type END"},
          {"userstat", kSmallInt, true, "0"},
          {"sysstat", kSmallInt, true, "0"},
          {"indexdel", kSmallInt, true, "0"},
          {"version", kInt, true, "0"},
          {"deltrig", kInt, true, "0"},
          {"instrig", kInt, true, "0"},
          {"updtrig", kInt, true, "0"},
          {"seltrig", kInt, true, "0"},
          {"category", kInt, true, "0"},
          {"cache", kSmallInt, true, "0"},
      },
      ObjectsSql());
}

CatalogView CompatColumns() {
  return Make(
      {
          {"name", kSysname, true, "name"},
          {"id", kInt, false, std::to_string(kTableIdBase) + " + rid"},
          {"xtype", kTinyInt, false, Attr("type", kAttrSystemTypeId)},
          {"typestat", kTinyInt, true, "0"},
          {"xusertype", kSmallInt, true, Attr("type", kAttrSystemTypeId)},
          {"length", kSmallInt, false, Attr("type", kAttrMaxLength)},
          {"xprec", kTinyInt, false, Attr("type", kAttrPrecision)},
          {"xscale", kTinyInt, false, Attr("type", kAttrScale)},
          {"colid", kSmallInt, true, "column_id"},
          {"cdefault", kInt, false, "0"},
          {"domain", kInt, false, "0"},
          {"number", kSmallInt, true, "0"},
          {"colorder", kSmallInt, true, "column_id"},
          {"prec", kSmallInt, true, Attr("type", kAttrPrecision)},
          {"scale", kInt, true, Attr("type", kAttrScale)},
          {"iscomputed", kInt, true, "0"},
          {"isoutparam", kInt, true, "0"},
          {"isnullable", kInt, true, "nullable"},
          {"collation", kSysname, true, Attr("type", kAttrCollation)},
      },
      ColumnsSql());
}

CatalogView CompatTypes() {
  return Make(
      {
          {"name", kSysname, false, "name"},
          {"xtype", kTinyInt, false, "system_type_id"},
          {"status", kTinyInt, true, "0"},
          {"xusertype", kSmallInt, true, "user_type_id"},
          {"length", kSmallInt, false, "max_length"},
          {"xprec", kTinyInt, false, "precision"},
          {"xscale", kTinyInt, false, "scale"},
          {"tdefault", kInt, false, "0"},
          {"domain", kInt, false, "0"},
          {"uid", kSmallInt, true, "4"},
          {"variable", kBit, true,
           "CASE WHEN name IN ('varchar', 'nvarchar', 'varbinary', 'sysname') THEN 1 ELSE 0 END"},
          {"allownulls", kBit, true, "is_nullable"},
          {"prec", kSmallInt, true, "precision"},
          {"scale", kTinyInt, true, "scale"},
          {"collation", kSysname, true, "collation_name"},
      },
      SystemTypesSql());
}

// ---- INFORMATION_SCHEMA -----------------------------------------------------------

CatalogView IsTables(std::string_view database) {
  const std::string from = std::string("(SELECT name, 'BASE TABLE' AS table_type FROM ") +
                           kTablesSql + " UNION ALL SELECT name, 'VIEW' FROM (" +
                           StoredModulesSql() + ") WHERE type = 'V')";
  return Make(
      {
          {"TABLE_CATALOG", VarCharType(128, true), true, Quoted(database)},
          {"TABLE_SCHEMA", VarCharType(128, true), true, "'dbo'"},
          {"TABLE_NAME", kSysname, false, "name"},
          {"TABLE_TYPE", VarCharType(10, false), true, "table_type"},
      },
      from);
}

CatalogView IsColumns(std::string_view database) {
  return Make(
      {
          {"TABLE_CATALOG", VarCharType(128, true), true, Quoted(database)},
          {"TABLE_SCHEMA", VarCharType(128, true), true, "'dbo'"},
          {"TABLE_NAME", kSysname, false, "table_name"},
          {"COLUMN_NAME", kSysname, true, "name"},
          {"ORDINAL_POSITION", kInt, true, "column_id"},
          {"COLUMN_DEFAULT", VarCharType(4000, true), true, "tds_default_text(default_sql, type)"},
          {"IS_NULLABLE", VarCharType(3, false), true,
           "CASE WHEN nullable THEN 'YES' ELSE 'NO' END"},
          {"DATA_TYPE", VarCharType(128, true), true, Attr("type", kAttrName)},
          {"CHARACTER_MAXIMUM_LENGTH", kInt, true, Attr("type", kAttrCharMaxLength)},
          {"CHARACTER_OCTET_LENGTH", kInt, true, Attr("type", kAttrOctetLength)},
          {"NUMERIC_PRECISION", kTinyInt, true, Attr("type", kAttrNumericPrecision)},
          {"NUMERIC_PRECISION_RADIX", kSmallInt, true, Attr("type", kAttrRadix)},
          {"NUMERIC_SCALE", kInt, true, Attr("type", kAttrNumericScale)},
          {"DATETIME_PRECISION", kSmallInt, true, Attr("type", kAttrDatetimePrecision)},
          {"CHARACTER_SET_CATALOG", kSysname, true, "NULL"},
          {"CHARACTER_SET_SCHEMA", kSysname, true, "NULL"},
          {"CHARACTER_SET_NAME", kSysname, true, Attr("type", kAttrCharacterSet)},
          {"COLLATION_CATALOG", kSysname, true, "NULL"},
          {"COLLATION_SCHEMA", kSysname, true, "NULL"},
          {"COLLATION_NAME", kSysname, true, Attr("type", kAttrCollation)},
          {"DOMAIN_CATALOG", kSysname, true, "NULL"},
          {"DOMAIN_SCHEMA", kSysname, true, "NULL"},
          {"DOMAIN_NAME", kSysname, true, "NULL"},
      },
      ColumnsSql());
}

CatalogView IsRoutines(std::string_view database) {
  const ColumnType sysname_n = VarCharType(128, true);
  return Make(
      {
          {"SPECIFIC_CATALOG", sysname_n, true, Quoted(database)},
          {"SPECIFIC_SCHEMA", sysname_n, true, "'dbo'"},
          {"SPECIFIC_NAME", kSysname, false, "name"},
          {"ROUTINE_CATALOG", sysname_n, true, Quoted(database)},
          {"ROUTINE_SCHEMA", sysname_n, true, "'dbo'"},
          {"ROUTINE_NAME", kSysname, false, "name"},
          {"ROUTINE_TYPE", VarCharType(20, true), true,
           "CASE type WHEN 'P' THEN 'PROCEDURE' ELSE 'FUNCTION' END"},
          {"DATA_TYPE", sysname_n, true, "CASE type WHEN 'P' THEN NULL ELSE 'TABLE' END"},
          {"ROUTINE_BODY", VarCharType(30, true), true, "'SQL'"},
          {"ROUTINE_DEFINITION", VarCharType(4000, true), true, "substr(definition, 1, 4000)"},
          {"IS_DETERMINISTIC", VarCharType(10, true), true, "'NO'"},
          {"SQL_DATA_ACCESS", VarCharType(30, true), true, "'MODIFIES'"},
          {"SCHEMA_LEVEL_ROUTINE", VarCharType(10, true), true, "'YES'"},
          {"MAX_DYNAMIC_RESULT_SETS", kSmallInt, true, "CASE type WHEN 'P' THEN -1 ELSE 0 END"},
      },
      "(" + StoredModulesSql() + ") WHERE type IN ('P', 'FN', 'IF', 'TF')");
}

CatalogView IsViews(std::string_view database) {
  return Make(
      {
          {"TABLE_CATALOG", VarCharType(128, true), true, Quoted(database)},
          {"TABLE_SCHEMA", VarCharType(128, true), true, "'dbo'"},
          {"TABLE_NAME", kSysname, false, "name"},
          {"VIEW_DEFINITION", VarCharType(4000, true), true, "substr(definition, 1, 4000)"},
          {"CHECK_OPTION", VarCharType(7, false), true, "'NONE'"},
          {"IS_UPDATABLE", VarCharType(2, false), true, "'NO'"},
      },
      "(" + StoredModulesSql() + ") WHERE type = 'V'");
}

CatalogView IsSchemata(std::string_view database) {
  return Make(
      {
          {"CATALOG_NAME", kSysname, true, Quoted(database)},
          {"SCHEMA_NAME", kSysname, false, "name"},
          {"SCHEMA_OWNER", kSysname, true, "name"},
          {"DEFAULT_CHARACTER_SET_CATALOG", VarCharType(6, false), true, "NULL"},
          {"DEFAULT_CHARACTER_SET_SCHEMA", VarCharType(3, false), true, "NULL"},
          {"DEFAULT_CHARACTER_SET_NAME", kSysname, true, "'iso_1'"},
      },
      kSchemasSql);
}

std::string KeysSql() {
  return std::string(
             "(SELECT k.name AS name, k.kind AS kind, k.columns AS columns,"
             " t.name AS table_name FROM main.__tdslite_keys AS k JOIN ") +
         kTablesSql + " AS t ON t.name = k.table_name WHERE k.kind IN ('P', 'U'))";
}

CatalogView IsTableConstraints(std::string_view database) {
  const ColumnType n = VarCharType(128, true);
  return Make(
      {
          {"CONSTRAINT_CATALOG", n, true, Quoted(database)},
          {"CONSTRAINT_SCHEMA", n, true, "'dbo'"},
          {"CONSTRAINT_NAME", kSysname, false, "name"},
          {"TABLE_CATALOG", n, true, Quoted(database)},
          {"TABLE_SCHEMA", n, true, "'dbo'"},
          {"TABLE_NAME", kSysname, false, "table_name"},
          {"CONSTRAINT_TYPE", VarCharType(11, false), true,
           "CASE kind WHEN 'P' THEN 'PRIMARY KEY' ELSE 'UNIQUE' END"},
          {"IS_DEFERRABLE", VarCharType(2, false), true, "'NO'"},
          {"INITIALLY_DEFERRED", VarCharType(2, false), true, "'NO'"},
      },
      KeysSql());
}

CatalogView IsKeyColumnUsage(std::string_view database) {
  const ColumnType n = VarCharType(128, true);
  // SQL Server allows 32 columns in a key.
  std::string numbers = "(SELECT 1 AS n";
  for (int i = 2; i <= 32; ++i) numbers += " UNION ALL SELECT " + std::to_string(i);
  numbers += ")";
  return Make(
      {
          {"CONSTRAINT_CATALOG", n, true, Quoted(database)},
          {"CONSTRAINT_SCHEMA", n, true, "'dbo'"},
          {"CONSTRAINT_NAME", kSysname, false, "name"},
          {"TABLE_CATALOG", n, true, Quoted(database)},
          {"TABLE_SCHEMA", n, true, "'dbo'"},
          {"TABLE_NAME", kSysname, false, "table_name"},
          {"COLUMN_NAME", kSysname, true, "column_name"},
          {"ORDINAL_POSITION", kInt, false, "n"},
      },
      "(SELECT k.name, k.table_name, tds_key_column(k.columns, x.n) AS column_name, x.n FROM " +
          KeysSql() + " AS k JOIN " + numbers +
          " AS x WHERE tds_key_column(k.columns, x.n) IS NOT NULL)");
}

// Every index of the user database's tables with its index_id: the
// primary key is the clustered index 1, a table without one is a heap (0),
// the other keys and indexes follow from 2 in the order they were made.
std::string IndexesSql() {
  return std::string(
             "(SELECT t.rid AS rid, k.name AS name, k.kind AS kind, k.columns AS columns,"
             " CASE k.kind WHEN 'P' THEN 1 ELSE 1 + row_number() OVER (PARTITION BY t.rid,"
             " k.kind = 'P' ORDER BY k.rowid) END AS index_id, ") +
         std::to_string(kKeyIdBase) + " + k.rowid AS key_id FROM main.__tdslite_keys AS k JOIN " +
         kTablesSql +
         " AS t ON t.name = k.table_name WHERE k.kind IN ('P', 'U', 'I', 'X')"
         " UNION ALL SELECT rid, NULL, 'H', NULL, 0, NULL FROM " +
         kTablesSql +
         " AS h WHERE NOT EXISTS (SELECT 1 FROM main.__tdslite_keys WHERE table_name = h.name"
         " AND kind = 'P'))";
}

CatalogView SysIndexes() {
  return Make(
      {
          {"object_id", kInt, false, std::to_string(kTableIdBase) + " + rid"},
          {"name", kSysname, true, "name"},
          {"index_id", kInt, false, "index_id"},
          {"type", kTinyInt, false, "CASE kind WHEN 'H' THEN 0 WHEN 'P' THEN 1 ELSE 2 END"},
          {"type_desc", kDesc, true,
           "CASE kind WHEN 'H' THEN 'HEAP' WHEN 'P' THEN 'CLUSTERED' ELSE 'NONCLUSTERED' END"},
          {"is_unique", kBit, true, "CASE WHEN kind IN ('P', 'U', 'I') THEN 1 ELSE 0 END"},
          {"data_space_id", kInt, true, "1"},
          {"ignore_dup_key", kBit, true, "0"},
          {"is_primary_key", kBit, true, "CASE kind WHEN 'P' THEN 1 ELSE 0 END"},
          {"is_unique_constraint", kBit, true, "CASE kind WHEN 'U' THEN 1 ELSE 0 END"},
          {"fill_factor", kTinyInt, false, "0"},
          {"is_padded", kBit, true, "0"},
          {"is_disabled", kBit, true, "0"},
          {"is_hypothetical", kBit, true, "0"},
          {"allow_row_locks", kBit, true, "1"},
          {"allow_page_locks", kBit, true, "1"},
          {"has_filter", kBit, true, "0"},
      },
      IndexesSql());
}

CatalogView SysIndexColumns() {
  std::string numbers = "(SELECT 1 AS n";
  for (int i = 2; i <= 32; ++i) numbers += " UNION ALL SELECT " + std::to_string(i);
  numbers += ")";
  return Make(
      {
          {"object_id", kInt, false, std::to_string(kTableIdBase) + " + i.rid"},
          {"index_id", kInt, false, "i.index_id"},
          {"index_column_id", kInt, false, "x.n"},
          {"column_id", kInt, false, "c.column_id"},
          {"key_ordinal", kTinyInt, false, "x.n"},
          {"partition_ordinal", kTinyInt, false, "0"},
          {"is_descending_key", kBit, true, "0"},
          {"is_included_column", kBit, true, "0"},
      },
      IndexesSql() + " AS i JOIN " + numbers + " AS x JOIN " + ColumnsSql() +
          " AS c ON c.rid = i.rid AND c.name = tds_key_column(i.columns, x.n) COLLATE NOCASE");
}

CatalogView SysKeyConstraints() {
  std::vector<Col> cols = ObjectColumns();
  cols.push_back({"unique_index_id", kInt, true, "index_id"});
  cols.push_back({"is_system_named", kBit, false, "0"});
  cols.push_back({"is_enforced", kBit, true, "1"});
  return Make(cols, "(SELECT o.*, i.index_id FROM " + ObjectsSql() + " AS o JOIN " + IndexesSql() +
                        " AS i ON i.key_id = o.object_id WHERE o.type IN ('PK', "
                        "'UQ'))");
}

std::vector<std::string> Split(std::string_view written) {
  std::vector<std::string> parts(1);
  for (char c : written) {
    if (c == '.') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

}  // namespace

CatalogViewStatus ClassifyCatalogView(std::string_view schema, std::string_view name) {
  static constexpr const char* kBuiltSys[] = {
      "tables",          "columns",    "objects",    "procedures", "types",
      "databases",       "schemas",    "views",      "indexes",    "index_columns",
      "key_constraints", "sysobjects", "syscolumns", "systypes"};
  static constexpr const char* kBuiltInfo[] = {"tables",          "columns",  "routines",
                                               "views",           "schemata", "table_constraints",
                                               "key_column_usage"};
  static constexpr const char* kNotBuiltSys[] = {"all_objects",
                                                 "all_columns",
                                                 "foreign_keys",
                                                 "foreign_key_columns",
                                                 "check_constraints",
                                                 "default_constraints",
                                                 "identity_columns",
                                                 "computed_columns",
                                                 "parameters",
                                                 "sql_modules",
                                                 "triggers",
                                                 "synonyms",
                                                 "sequences",
                                                 "stats",
                                                 "partitions",
                                                 "allocation_units",
                                                 "dm_exec_sessions",
                                                 "dm_exec_requests",
                                                 "dm_exec_connections",
                                                 "dm_db_partition_stats",
                                                 "sysindexes",
                                                 "sysprocesses",
                                                 "sysdatabases",
                                                 "syslogins",
                                                 "sysusers",
                                                 "sysmessages",
                                                 "syscomments",
                                                 "server_principals",
                                                 "database_principals",
                                                 "messages",
                                                 "configurations",
                                                 "servers",
                                                 "system_objects",
                                                 "system_columns",
                                                 "table_types",
                                                 "assemblies",
                                                 "extended_properties"};
  auto in = [&](auto& list) {
    for (const char* v : list) {
      if (name == v) return true;
    }
    return false;
  };
  if (schema == "information_schema") {
    return in(kBuiltInfo) ? CatalogViewStatus::kBuilt : CatalogViewStatus::kNotBuilt;
  }
  if (schema == "sys") {
    if (in(kBuiltSys)) return CatalogViewStatus::kBuilt;
    return in(kNotBuiltSys) ? CatalogViewStatus::kNotBuilt : CatalogViewStatus::kUnknown;
  }
  // The older views answer in every schema-less or dbo-qualified form.
  if (schema.empty() || schema == "dbo") {
    if (name == "sysobjects" || name == "syscolumns" || name == "systypes") {
      return CatalogViewStatus::kBuilt;
    }
    if (name == "sysindexes" || name == "sysprocesses" || name == "sysdatabases" ||
        name == "syscomments" || name == "sysusers" || name == "syslogins" ||
        name == "sysmessages") {
      return CatalogViewStatus::kNotBuilt;
    }
  }
  return CatalogViewStatus::kUnknown;
}

std::optional<CatalogView> FindCatalogView(std::string_view written, std::string_view database) {
  std::vector<std::string> parts = Split(written);
  if (parts.size() > 3) return std::nullopt;
  if (parts.size() == 3) {
    if (ToLower(parts[0]) != ToLower(database)) return std::nullopt;
    parts.erase(parts.begin());
  }
  const std::string name = ToLower(parts.back());
  const std::string schema = parts.size() == 2 ? ToLower(parts[0]) : std::string();
  if (ClassifyCatalogView(schema, name) != CatalogViewStatus::kBuilt) return std::nullopt;
  if (schema == "information_schema") {
    if (name == "tables") return IsTables(database);
    if (name == "columns") return IsColumns(database);
    if (name == "routines") return IsRoutines(database);
    if (name == "views") return IsViews(database);
    if (name == "schemata") return IsSchemata(database);
    if (name == "table_constraints") return IsTableConstraints(database);
    if (name == "key_column_usage") return IsKeyColumnUsage(database);
    return std::nullopt;
  }
  if (name == "sysobjects") return CompatObjects();
  if (name == "syscolumns") return CompatColumns();
  if (name == "systypes") return CompatTypes();
  if (name == "objects") return SysObjects(nullptr);
  if (name == "tables") return SysObjects("U ");
  if (name == "procedures") return SysObjects("P ");
  if (name == "views") return SysObjects("V ");
  if (name == "columns") return SysColumns();
  if (name == "types") return SysTypes();
  if (name == "databases") return SysDatabases(database);
  if (name == "indexes") return SysIndexes();
  if (name == "index_columns") return SysIndexColumns();
  if (name == "key_constraints") return SysKeyConstraints();
  if (name == "schemas") return SysSchemas();
  return std::nullopt;
}

std::optional<std::vector<std::string>> SplitObjectName(std::string_view text) {
  std::vector<std::string> parts(1);
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '[' || c == '"') {
      const char close = c == '[' ? ']' : '"';
      if (!parts.back().empty()) return std::nullopt;
      ++i;
      for (;; ++i) {
        if (i >= text.size()) return std::nullopt;
        if (text[i] == close) {
          if (i + 1 < text.size() && text[i + 1] == close) {
            parts.back() += close;
            ++i;
            continue;
          }
          break;
        }
        parts.back() += text[i];
      }
      ++i;
      if (i < text.size() && text[i] != '.') return std::nullopt;
      continue;
    }
    if (c == '.') {
      if (parts.size() == 3) return std::nullopt;
      parts.emplace_back();
      ++i;
      continue;
    }
    parts.back() += c;
    ++i;
  }
  for (std::string& p : parts) {
    while (!p.empty() && p.back() == ' ') p.pop_back();
    while (!p.empty() && p.front() == ' ') p.erase(p.begin());
  }
  if (parts.back().empty()) return std::nullopt;
  return parts;
}

int DatabaseId(std::string_view name, std::string_view own_database) {
  if (EqualsIgnoreCase(name, "tempdb")) return 2;
  if (EqualsIgnoreCase(name, own_database)) return EqualsIgnoreCase(name, "master") ? 1 : 5;
  return 0;
}

std::string StoredModulesSql() {
  // The procedures and functions (modules.h), and the views (views.cc),
  // whose row ids are kept apart by an offset of half of kIdRange. A view's definition is given
  // as its create statement.
  return "SELECT rid, name, type, definition FROM (" + ModulesQuery() +
         ") UNION ALL SELECT rowid + 100000000 AS rid, name, 'V' AS type,"
         " 'create view ' || name || ' as ' || body AS definition FROM main.__tdslite_views";
}

std::optional<UserMessage> FindUserMessage(sqlite3* db, int64_t number) {
  Query q(db, "SELECT severity, text FROM main.__tdslite_messages WHERE number = ?1");
  q.Bind(1, number);
  if (!q.Step()) return std::nullopt;
  UserMessage m;
  m.severity = static_cast<int>(q.Int(0));
  m.text = q.Text(1);
  return m;
}

bool StoreUserMessage(sqlite3* db, int64_t number, const UserMessage& message, std::string* error) {
  char* failure = nullptr;
  if (sqlite3_exec(db,
                   "CREATE TABLE IF NOT EXISTS main.__tdslite_messages(number INTEGER PRIMARY KEY,"
                   " severity INTEGER NOT NULL, text TEXT NOT NULL)",
                   nullptr, nullptr, &failure) != SQLITE_OK) {
    *error = failure != nullptr ? failure : "cannot create the message table";
    sqlite3_free(failure);
    return false;
  }
  Query q(db, "INSERT OR REPLACE INTO main.__tdslite_messages VALUES (?1, ?2, ?3)");
  q.Bind(1, number).Bind(2, static_cast<int64_t>(message.severity)).Bind(3, message.text);
  if (!q.Done()) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  return true;
}

bool DropUserMessage(sqlite3* db, int64_t number, std::string* error) {
  Query q(db, "DELETE FROM main.__tdslite_messages WHERE number = ?1");
  q.Bind(1, number);
  if (!q.Done()) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  return true;
}

bool RegisterCatalogFunctions(sqlite3* db) {
  // The views' table (as views.cc makes it), so that the catalog can read it
  // before the first view is made. Another connection may hold the lock:
  // then it exists or will be made by the first create view.
  sqlite3_exec(db,
               "CREATE TABLE IF NOT EXISTS main.__tdslite_views(name TEXT PRIMARY KEY COLLATE "
               "NOCASE, columns TEXT NOT NULL, body TEXT NOT NULL)",
               nullptr, nullptr, nullptr);
  using function_detail::Guarded;
  struct Fn {
    const char* name;
    int args;
    void (*f)(sqlite3_context*, int, sqlite3_value**);
  };
  const Fn fns[] = {
      {"tds_object_id", 3, Guarded<ObjectIdFunc>},
      {"tds_object_name", 1, Guarded<ObjectNameFunc>},
      {"tds_col_length", 3, Guarded<ColLengthFunc>},
      {"tds_col_name", 2, Guarded<ColNameFunc>},
      {"tds_objectproperty", 2, Guarded<ObjectPropertyFunc>},
      {"tds_type_attr", 2, Guarded<TypeAttrFunc>},
      {"tds_default_text", 2, Guarded<DefaultTextFunc>},
      {"tds_type_name", 1, Guarded<TypeNameFunc>},
      {"tds_type_id", 1, Guarded<TypeIdFunc>},
      {"tds_key_column", 2, Guarded<KeyColumnFunc>},
  };
  for (const Fn& f : fns) {
    if (sqlite3_create_function(db, f.name, f.args, SQLITE_UTF8, nullptr, f.f, nullptr, nullptr) !=
        SQLITE_OK) {
      return false;
    }
  }
  return true;
}

}  // namespace tdslite::sql
