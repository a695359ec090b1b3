// The functions that read the catalog or describe the server: object_id(),
// object_name(), col_length(), type_name(), db_id(), serverproperty(), ...
#include "compile_internal.h"

namespace tdslite::sql::compiler_detail {

namespace {

const ColumnType kSysname = VarCharType(128, true);

// What serverproperty() answers; the version matches the one the login
// acknowledgement reports.
std::string ServerPropertySql(const std::string& arg, const SessionVars& vars) {
  const std::pair<const char*, std::string> kProperties[] = {
      {"productversion", "'10.50.1600.1'"},
      {"productlevel", "'RTM'"},
      {"productmajorversion", "'10'"},
      {"productminorversion", "'50'"},
      {"productbuild", "'1600'"},
      {"edition", "'Developer Edition (64-bit)'"},
      {"editionid", "'-2117995310'"},
      {"engineedition", "'3'"},
      {"servername", QuoteText(vars.server)},
      {"machinename", QuoteText(vars.server)},
      {"instancename", "NULL"},
      {"collation", "'SQL_Latin1_General_CP1_CI_AS'"},
      {"sqlcharsetname", "'iso_1'"},
      {"sqlsortordername", "'nocase_iso'"},
      {"isintegratedsecurityonly", "'0'"},
      {"issingleuser", "'0'"},
      {"isclustered", "'0'"},
      {"isfulltextinstalled", "'0'"},
      {"ishadrenabled", "'0'"},
      {"lcid", "'1033'"},
      {"processid", "NULL"},
  };
  std::string sql = "(CASE lower(" + arg + ")";
  for (const auto& [name, value] : kProperties) {
    sql += std::string(" WHEN '") + name + "' THEN " + value;
  }
  return sql + " ELSE NULL END)";
}

}  // namespace

Typed ExprCompiler::CatalogFunction(const Expr& e, const Builtin& b, const Scope* scope,
                                    bool allow_aggregate) {
  ArgCount(e, b);
  const std::string& f = e.text;
  Typed out;
  const std::vector<Typed> args = Arguments(e, scope, allow_aggregate, &out);
  auto text = [&](size_t i) { return Convert(args[i], VarCharType(4000, true)).sql; };
  auto integer = [&](size_t i) { return Convert(args[i], IntType(TypeId::kBigInt)).sql; };
  const std::string database = QuoteText(vars_.database);
  const std::string own_id = std::to_string(DatabaseId(vars_.database, vars_.database));
  out.t = Make(IntType(TypeId::kInt), true);
  if (f == "object_id") {
    out.sql = "tds_object_id(" + text(0) + ", " + (args.size() > 1 ? text(1) : "NULL") + ", " +
              database + ")";
  } else if (f == "object_name") {
    out.t = Make(kSysname, true);
    out.sql = "tds_object_name(" + integer(0) + ")";
    if (args.size() > 1) {
      out.sql = "(CASE WHEN " + integer(1) + " = " + own_id + " THEN " + out.sql + " END)";
    }
  } else if (f == "col_length") {
    out.t = Make(IntType(TypeId::kSmallInt), true);
    out.sql = "tds_col_length(" + text(0) + ", " + text(1) + ", " + database + ")";
  } else if (f == "col_name") {
    out.t = Make(kSysname, true);
    out.sql = "tds_col_name(" + integer(0) + ", " + integer(1) + ")";
  } else if (f == "objectproperty") {
    out.sql = "tds_objectproperty(" + integer(0) + ", " + text(1) + ")";
  } else if (f == "type_name") {
    out.t = Make(kSysname, true);
    out.sql = "tds_type_name(" + integer(0) + ")";
  } else if (f == "type_id") {
    out.sql = "tds_type_id(" + text(0) + ")";
  } else if (f == "schema_name") {
    out.t = Make(kSysname, true);
    out.sql = args.empty() ? "'dbo'"
                           : "(CASE " + integer(0) +
                                 " WHEN 1 THEN 'dbo' WHEN 2 THEN 'guest' WHEN 3 THEN"
                                 " 'INFORMATION_SCHEMA' WHEN 4 THEN 'sys' END)";
  } else if (f == "schema_id") {
    out.sql = args.empty() ? "1"
                           : "(CASE lower(" + text(0) +
                                 ") WHEN 'dbo' THEN 1 WHEN 'guest' THEN 2 WHEN"
                                 " 'information_schema' THEN 3 WHEN 'sys' THEN 4 END)";
  } else if (f == "db_id") {
    out.sql = args.empty() ? own_id
                           : "(CASE lower(" + text(0) + ") WHEN lower(" + database + ") THEN " +
                                 own_id + " WHEN 'tempdb' THEN 2 END)";
  } else if (f == "db_name") {
    out.t = Make(kSysname, true);
    out.sql = "(CASE " + integer(0) + " WHEN " + own_id + " THEN " + database +
              " WHEN 2 THEN 'tempdb' END)";
  } else if (f == "serverproperty") {
    out.t = Make(kSysname, true);
    out.sql = ServerPropertySql(text(0), vars_);
  } else {
    NotSupported("The function " + f + "()");
  }
  if (args.empty()) out.t.nullable = f != "db_id" && f != "schema_id" && f != "schema_name";
  return out;
}

}  // namespace tdslite::sql::compiler_detail
