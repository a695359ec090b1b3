// The INFORMATION_SCHEMA views.
#include "catalog.h"
#include "catalog_views_internal.h"
#include "functions_internal.h"
#include "lexer.h"
#include "modules.h"

namespace tdslite::sql::catalog_detail {
namespace {

// The three columns that name an object in an INFORMATION_SCHEMA view:
// PREFIX_CATALOG (the database), PREFIX_SCHEMA (always dbo) and PREFIX_NAME,
// read from the column `name` of the view's query.
std::vector<Col> Qualified(const std::string& prefix, std::string_view database, const char* name) {
  const ColumnType n = VarCharType(128, true);
  return {
      {prefix + "_CATALOG", n, true, Quoted(database)},
      {prefix + "_SCHEMA", n, true, "'dbo'"},
      {prefix + "_NAME", kSysname, false, name},
  };
}

std::vector<Col> Concat(std::initializer_list<std::vector<Col>> parts) {
  std::vector<Col> all;
  for (const std::vector<Col>& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace

CatalogView IsTables(std::string_view database) {
  const std::string from = std::string("(SELECT name, 'BASE TABLE' AS table_type FROM ") +
                           kTablesSql + " UNION ALL SELECT name, 'VIEW' FROM (" +
                           StoredModulesSql() + ") WHERE type = 'V')";
  return Make(Concat({Qualified("TABLE", database, "name"),
                      {{"TABLE_TYPE", VarCharType(10, false), true, "table_type"}}}),
              from);
}

CatalogView IsColumns(std::string_view database) {
  return Make(
      Concat({Qualified("TABLE", database, "table_name"),
              {
                  {"COLUMN_NAME", kSysname, true, "name"},
                  {"ORDINAL_POSITION", kInt, true, "column_id"},
                  {"COLUMN_DEFAULT", VarCharType(4000, true), true,
                   "tds_default_text(default_sql, type)"},
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
              }}),
      ColumnsSql());
}

CatalogView IsRoutines(std::string_view database) {
  const ColumnType sysname_n = VarCharType(128, true);
  return Make(
      Concat(
          {Qualified("SPECIFIC", database, "name"),
           Qualified("ROUTINE", database, "name"),
           {
               {"ROUTINE_TYPE", VarCharType(20, true), true,
                "CASE type WHEN 'P' THEN 'PROCEDURE' ELSE 'FUNCTION' END"},
               {"DATA_TYPE", sysname_n, true, "CASE type WHEN 'P' THEN NULL ELSE 'TABLE' END"},
               {"ROUTINE_BODY", VarCharType(30, true), true, "'SQL'"},
               {"ROUTINE_DEFINITION", VarCharType(4000, true), true, "substr(definition, 1, 4000)"},
               {"IS_DETERMINISTIC", VarCharType(10, true), true, "'NO'"},
               {"SQL_DATA_ACCESS", VarCharType(30, true), true, "'MODIFIES'"},
               {"SCHEMA_LEVEL_ROUTINE", VarCharType(10, true), true, "'YES'"},
               {"MAX_DYNAMIC_RESULT_SETS", kSmallInt, true,
                "CASE type WHEN 'P' THEN -1 ELSE 0 END"},
           }}),
      "(" + StoredModulesSql() + ") WHERE type IN ('P', 'FN', 'IF', 'TF')");
}

CatalogView IsViews(std::string_view database) {
  return Make(
      Concat({Qualified("TABLE", database, "name"),
              {
                  {"VIEW_DEFINITION", VarCharType(4000, true), true, "substr(definition, 1, 4000)"},
                  {"CHECK_OPTION", VarCharType(7, false), true, "'NONE'"},
                  {"IS_UPDATABLE", VarCharType(2, false), true, "'NO'"},
              }}),
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

CatalogView IsTableConstraints(std::string_view database) {
  return Make(Concat({Qualified("CONSTRAINT", database, "name"),
                      Qualified("TABLE", database, "table_name"),
                      {
                          {"CONSTRAINT_TYPE", VarCharType(11, false), true,
                           "CASE kind WHEN 'P' THEN 'PRIMARY KEY' ELSE 'UNIQUE' END"},
                          {"IS_DEFERRABLE", VarCharType(2, false), true, "'NO'"},
                          {"INITIALLY_DEFERRED", VarCharType(2, false), true, "'NO'"},
                      }}),
              KeysSql());
}

CatalogView IsKeyColumnUsage(std::string_view database) {
  return Make(
      Concat({Qualified("CONSTRAINT", database, "name"),
              Qualified("TABLE", database, "table_name"),
              {
                  {"COLUMN_NAME", kSysname, true, "column_name"},
                  {"ORDINAL_POSITION", kInt, false, "n"},
              }}),
      "(SELECT k.name, k.table_name, tds_key_column(k.columns, x.n) AS column_name, x.n FROM " +
          KeysSql() + " AS k JOIN " + KeyOrdinalsSql() +
          " AS x WHERE tds_key_column(k.columns, x.n) IS NOT NULL)");
}

}  // namespace tdslite::sql::catalog_detail
