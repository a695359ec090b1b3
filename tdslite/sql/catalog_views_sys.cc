// The sys views: objects, tables, columns, types, databases, indexes, ...
#include "catalog.h"
#include "catalog_views_internal.h"
#include "functions_internal.h"
#include "lexer.h"
#include "modules.h"

namespace tdslite::sql::catalog_detail {

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

CatalogView SysSchemas() {
  return Make(
      {
          {"name", kSysname, false, "name"},
          {"schema_id", kInt, false, "schema_id"},
          {"principal_id", kInt, true, "schema_id"},
      },
      kSchemasSql);
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
      IndexesSql() + " AS i JOIN " + KeyOrdinalsSql() + " AS x JOIN " + ColumnsSql() +
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

}  // namespace tdslite::sql::catalog_detail
