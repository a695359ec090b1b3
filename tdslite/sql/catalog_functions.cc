// The SQLite functions behind object_id() and its kin, and sp_addmessage's messages.
#include <algorithm>

#include "catalog.h"
#include "catalog_views_internal.h"
#include "functions_internal.h"
#include "lexer.h"
#include "modules.h"
#include "sqlite_query.h"

namespace tdslite::sql {
namespace catalog_detail {
namespace {

// ---- reading the catalog ------------------------------------------------------

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
  SqliteQuery q(db, sql);
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
    SqliteQuery q(db,
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
  SqliteQuery q(db, "SELECT rid, type, name FROM (" + StoredModulesSql() + ") WHERE name = ?1");
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
  SqliteQuery q(db, sql);
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

}  // namespace
}  // namespace catalog_detail

using namespace catalog_detail;

std::optional<UserMessage> FindUserMessage(sqlite3* db, int64_t number) {
  SqliteQuery q(db, "SELECT severity, text FROM main.__tdslite_messages WHERE number = ?1");
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
  SqliteQuery q(db, "INSERT OR REPLACE INTO main.__tdslite_messages VALUES (?1, ?2, ?3)");
  q.Bind(1, number).Bind(2, static_cast<int64_t>(message.severity)).Bind(3, message.text);
  if (!q.Done()) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  return true;
}

bool DropUserMessage(sqlite3* db, int64_t number, std::string* error) {
  SqliteQuery q(db, "DELETE FROM main.__tdslite_messages WHERE number = ?1");
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
