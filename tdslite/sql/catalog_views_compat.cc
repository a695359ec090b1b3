// The older catalog views: sysobjects, syscolumns, systypes.
#include "catalog.h"
#include "catalog_views_internal.h"
#include "functions_internal.h"
#include "lexer.h"
#include "modules.h"

namespace tdslite::sql::catalog_detail {

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

}  // namespace tdslite::sql::catalog_detail
