// The catalog views' inside, shared by the catalog_*.cc files of sql/:
//   catalog_views.cc         what the views share, which view a name is
//   catalog_views_sys.cc     the sys views
//   catalog_views_compat.cc  the older sysobjects, syscolumns, systypes
//   catalog_views_info.cc    the INFORMATION_SCHEMA views
//   catalog_types.cc         the types as the catalog describes them
//   catalog_functions.cc     the SQLite functions behind object_id() and its
//                            kin, and the messages of sp_addmessage
#pragma once

#include <sqlite3.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "catalog_views.h"
#include "types.h"

namespace tdslite::sql::catalog_detail {

// ---- types as the catalog describes them (catalog_types.cc) -----------------

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
inline constexpr std::array<SystemType, 31> kSystemTypes = {{
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

inline constexpr const char* kCollation = "SQL_Latin1_General_CP1_CI_AS";

const SystemType* FindSystemType(std::string_view name);
const SystemType* FindSystemTypeId(int64_t user_type_id);
// sys.columns.max_length: the column's size in bytes.
int64_t MaxLength(const ColumnType& t);

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

void TypeAttr(sqlite3_context* ctx, const ColumnType& t, int attr);

// ---- what the views share (catalog_views.cc) --------------------------------

// The user database's tables, without the global temporary ones (tempdb's).
extern const char* const kTablesSql;
extern const char* const kSchemasSql;

ColumnType Type(TypeId id, int length = 0);

inline const ColumnType kSysname = VarCharType(128, true);

struct Col {
  std::string name;
  ColumnType type;
  bool nullable;
  std::string sql;
};

CatalogView Make(const std::vector<Col>& cols, const std::string& from);
// A string as a SQL literal.
std::string Quoted(std::string_view s);

inline const ColumnType kInt = Type(TypeId::kInt);
inline const ColumnType kSmallInt = Type(TypeId::kSmallInt);
inline const ColumnType kTinyInt = Type(TypeId::kTinyInt);
inline const ColumnType kBit = Type(TypeId::kBit);
inline const ColumnType kChar2 = Type(TypeId::kChar, 2);
inline const ColumnType kDesc = VarCharType(60, true);

// A tds_type_attr() call on a packed type column.
std::string Attr(const char* packed, Attr a);

// Every object of the user database: tables, key constraints, modules, with
// the columns sys.objects shows.
std::string ObjectsSql();
std::vector<Col> ObjectColumns();
// The columns of the user database's tables.
std::string ColumnsSql();
std::string SystemTypesSql();
std::string KeysSql();
// Every index of the user database's tables with its index_id.
std::string IndexesSql();
// The ordinals of a key's columns, 1 to 32 (SQL Server allows 32 columns in
// a key), as a query of one column n.
std::string KeyOrdinalsSql();

// ---- the views ----------------------------------------------------------------

// catalog_views_sys.cc
CatalogView SysObjects(const char* type);
CatalogView SysColumns();
CatalogView SysTypes();
CatalogView SysDatabases(std::string_view database);
CatalogView SysSchemas();
CatalogView SysIndexes();
CatalogView SysIndexColumns();
CatalogView SysKeyConstraints();
// catalog_views_compat.cc
CatalogView CompatObjects();
CatalogView CompatColumns();
CatalogView CompatTypes();
// catalog_views_info.cc
CatalogView IsTables(std::string_view database);
CatalogView IsColumns(std::string_view database);
CatalogView IsRoutines(std::string_view database);
CatalogView IsViews(std::string_view database);
CatalogView IsSchemata(std::string_view database);
CatalogView IsTableConstraints(std::string_view database);
CatalogView IsKeyColumnUsage(std::string_view database);

}  // namespace tdslite::sql::catalog_detail
