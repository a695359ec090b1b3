// The ODBC catalog procedures: sp_tables, sp_columns, sp_pkeys, sp_helpindex, ...
#include "catalog_procs_internal.h"

namespace tdslite::procs::catalog_detail {

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
    return call.Fail(NoSuchObject(call.Arg(0).value_or(""), db), 1);
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

}  // namespace tdslite::procs::catalog_detail
