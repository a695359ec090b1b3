// What the catalog views share (their columns, the queries they read), and
// which view a name written in a FROM clause names.
#include "catalog_views.h"

#include "catalog.h"
#include "catalog_views_internal.h"
#include "functions_internal.h"
#include "lexer.h"
#include "modules.h"
#include "types.h"

namespace tdslite::sql {
namespace catalog_detail {

const char* const kTablesSql =
    "(SELECT rowid AS rid, display AS name FROM main.__tdslite_tables"
    " WHERE substr(name, 1, 1) <> '#')";

ColumnType Type(TypeId id, int length) {
  ColumnType t = IntType(id);
  t.length = length;
  return t;
}

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

std::string Attr(const char* packed, enum Attr a) {
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

// The columns of the user database's tables.
std::string ColumnsSql() {
  return std::string(
             "(SELECT t.rid AS rid, t.name AS table_name, c.ordinal + 1 AS column_id,"
             " c.name AS name, c.type AS type, c.nullable AS nullable, c.identity AS is_identity,"
             " c.default_sql AS default_sql FROM ") +
         kTablesSql + " AS t JOIN main.__tdslite_columns AS c ON c.table_name = t.name)";
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

const char* const kSchemasSql =
    "(SELECT 'dbo' AS name, 1 AS schema_id UNION ALL SELECT 'guest', 2"
    " UNION ALL SELECT 'INFORMATION_SCHEMA', 3 UNION ALL SELECT 'sys', 4)";

std::string KeysSql() {
  return std::string(
             "(SELECT k.name AS name, k.kind AS kind, k.columns AS columns,"
             " t.name AS table_name FROM main.__tdslite_keys AS k JOIN ") +
         kTablesSql + " AS t ON t.name = k.table_name WHERE k.kind IN ('P', 'U'))";
}

std::string KeyOrdinalsSql() {
  std::string numbers = "(SELECT 1 AS n";
  for (int i = 2; i <= 32; ++i) numbers += " UNION ALL SELECT " + std::to_string(i);
  return numbers + ")";
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

}  // namespace catalog_detail

namespace {

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

using namespace catalog_detail;

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

}  // namespace tdslite::sql
