// The server: sp_databases, sp_spaceused, sp_who, sp_server_info.
#include "catalog_procs_internal.h"

namespace tdslite::procs::catalog_detail {

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
    return call.Fail(NoSuchObject(*call.Arg(0), db), 1);
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

}  // namespace tdslite::procs::catalog_detail
