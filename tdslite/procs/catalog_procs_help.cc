// sp_help (tables, views, types, other objects) and sp_helptext.
#include "catalog_procs_internal.h"

namespace tdslite::procs::catalog_detail {

// sp_help 'type'
void HelpType(const TextRow& t, Call& call) {
  const bool collated = t[5].has_value();
  call.Result({{"Type_name", kSysname, false},
               {"Storage_type", kSysname, false},
               {"Length", kSmallInt, false},
               {"Prec", kInt, false},
               {"Scale", kInt, true},
               {"Nullable", sql::VarCharType(35, false), false},
               {"Default_name", kSysname, true},
               {"Rule_name", kSysname, true},
               {"Collation", kSysname, true}},
              {{Str(*t[0]), Str(*t[0]), Num(ToInt(t[1])), Num(ToInt(t[2])),
                collated ? Null() : Num(ToInt(t[3])), Str(*t[4] == "1" ? "yes" : "no"), Str("none"),
                Str("none"), OptStr(t[5])}});
}

std::string ObjectTypeName(const std::string& type) {
  if (type == "U ") return "user table";
  if (type == "V ") return "view";
  if (type == "P ") return "stored procedure";
  if (type == "PK") return "primary key cns";
  if (type == "UQ") return "unique key cns";
  if (type == "FN") return "scalar function";
  if (type == "IF") return "inline function";
  return "table function";
}

const std::vector<Out> kUserTypeColumns = {{"User_type", kSysname, false},
                                           {"Storage_type", kSysname, true},
                                           {"Length", kSmallInt, true},
                                           {"Prec", kInt, true},
                                           {"Scale", kInt, true},
                                           {"Nullable", sql::VarCharType(35, false), true},
                                           {"Default_name", kSysname, true},
                                           {"Rule_name", kSysname, true},
                                           {"Collation", kSysname, true}};

// sp_help 'table': what SQL Server's shows, in its order.
void HelpTable(const sql::CatalogTable& table, Call& call) {
  std::vector<Row> columns;
  for (const sql::CatalogColumn& c : table.columns) {
    const ColumnType& t = c.type;
    const bool numeric = sql::IsNumericType(t.id) && t.id != TypeId::kBit;
    const bool chars = sql::IsCharType(t.id);
    const bool sized = (chars || sql::IsBinaryType(t.id)) && !sql::IsLobType(t.id);
    const OdbcType o = Odbc(t, c.nullable);
    const std::string prec = numeric ? std::to_string(*o.precision) : "";
    std::string scale;
    if (numeric) scale = std::to_string(o.scale.value_or(0));
    columns.push_back(
        {Str(c.name), Str(sql::TypeName(t.id)), Str("no"), Num(StorageLength(t)), Padded(prec, 5),
         Padded(scale, 5), Str(c.nullable ? "yes" : "no"), Str(sized ? "no" : "(n/a)"),
         Str(sized ? (c.nullable ? "yes" : "no") : "(n/a)"), chars ? Str(kCollation) : Null()});
  }
  call.Result({{"Column_name", kSysname, true},
               {"Type", kSysname, true},
               {"Computed", sql::VarCharType(35, false), true},
               {"Length", kInt, true},
               {"Prec", Fixed(TypeId::kChar, 5), true},
               {"Scale", Fixed(TypeId::kChar, 5), true},
               {"Nullable", sql::VarCharType(35, false), true},
               {"TrimTrailingBlanks", sql::VarCharType(35, false), true},
               {"FixedLenNullInSource", sql::VarCharType(35, false), true},
               {"Collation", kSysname, true}},
              columns);
  Row identity{Str("No identity column defined."), Null(), Null(), Null()};
  if (table.identity_column >= 0) {
    Value seed;
    seed.is_null = false;
    seed.dec = table.identity_seed;
    Value one;
    one.is_null = false;
    one.dec = 1;
    identity = {Str(table.columns[static_cast<size_t>(table.identity_column)].name), seed, one,
                Num(0)};
  }
  call.Result({{"Identity", kSysname, true},
               {"Seed", sql::DecimalType(38, 0), true},
               {"Increment", sql::DecimalType(38, 0), true},
               {"Not For Replication", kInt, true}},
              {identity});
  call.Result({{"RowGuidCol", kSysname, false}}, {{Str("No rowguidcol column defined.")}});
  call.Result({{"Data_located_on_filegroup", kSysname, true}}, {{Str("PRIMARY")}});
  IndexResult(table, call);
  std::vector<Row> constraints;
  for (const sql::CatalogKey& k : table.keys) {
    if (k.kind != 'P' && k.kind != 'U') continue;
    constraints.push_back(
        {Str(k.kind == 'P' ? "PRIMARY KEY (clustered)" : "UNIQUE (non-clustered)"), Str(k.name),
         Str("(n/a)"), Str("(n/a)"), Str("(n/a)"), Str("(n/a)"), Str(KeyList(k.columns))});
  }
  if (constraints.empty()) {
    call.Info(15469, "No constraints are defined on object '" + table.name +
                         "', or you do not have permissions.");
  } else {
    call.Result({{"constraint_type", sql::VarCharType(146, true), true},
                 {"constraint_name", kSysname, true},
                 {"delete_action", sql::VarCharType(9, true), true},
                 {"update_action", sql::VarCharType(9, true), true},
                 {"status_enabled", sql::VarCharType(8, false), true},
                 {"status_for_replication", sql::VarCharType(19, false), true},
                 {"constraint_keys", sql::VarCharType(2126, true), true}},
                constraints);
  }
  call.Info(15470, "No foreign keys reference table '" + table.name +
                       "', or you do not have permissions.");
}

int SpHelp(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@objname"})) return call.last_error();
  const std::string& db = call.host().DatabaseName();
  if (!call.Arg(0)) {
    std::vector<Row> rows;
    for (const TextRow& r :
         call.Query("SELECT name, type FROM " + call.View("sys.objects") + " ORDER BY name", {})) {
      rows.push_back({Str(*r[0]), Str("dbo"), Str(ObjectTypeName(*r[1]))});
    }
    call.Result({{"Name", kSysname, true},
                 {"Owner", kSysname, true},
                 {"Object_type", sql::VarCharType(31, true), true}},
                rows);
    call.Result(kUserTypeColumns, {});
    return call.Return(0);
  }
  const std::string& text = *call.Arg(0);
  auto name = LocalName(text, db);
  auto object =
      name ? call.Query("SELECT name, type FROM " + call.View("sys.objects") + " WHERE name = ?1",
                        {*name})
           : std::vector<TextRow>{};
  if (object.empty()) {
    auto type =
        call.Query("SELECT name, max_length, precision, scale, is_nullable, collation_name FROM " +
                       call.View("sys.types") + " WHERE name = ?1",
                   {text});
    if (type.empty()) return call.Fail(NoSuchObject(text, db), 1);
    HelpType(type[0], call);
    return call.Return(0);
  }
  const std::string type = *object[0][1];
  call.Result({{"Name", kSysname, false},
               {"Owner", kSysname, true},
               {"Type", sql::VarCharType(31, true), true}},
              {{Str(*object[0][0]), Str("dbo"), Str(ObjectTypeName(type))}});
  if (type == "U ") {
    if (auto table = sql::LookupTable(call.db(), *object[0][0])) HelpTable(*table, call);
  }
  return call.Return(0);
}

int SpHelpText(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@objname", "@columnname"})) return call.last_error();
  const std::string& db = call.host().DatabaseName();
  const std::string text = call.Arg(0).value_or("");
  auto name = LocalName(text, db);
  if (name) {
    auto module = call.Query(
        "SELECT definition FROM (" + sql::StoredModulesSql() + ") WHERE name = ?1", {*name});
    if (!module.empty()) {
      // The definition line by line (each with its line end), in pieces of
      // at most 255 characters.
      std::vector<Row> rows;
      const std::string& def = module[0][0].value_or("");
      size_t start = 0;
      while (start < def.size()) {
        size_t end = def.find('\n', start);
        end = end == std::string::npos ? def.size() : end + 1;
        std::string line = def.substr(start, end - start);
        while (!line.empty()) {
          size_t cut = 0;
          int64_t chars = 0;
          while (cut < line.size() && chars < 255) {
            const unsigned char c = static_cast<unsigned char>(line[cut]);
            cut += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            ++chars;
          }
          cut = std::min(cut, line.size());
          rows.push_back({Str(line.substr(0, cut))});
          line.erase(0, cut);
        }
        start = end;
      }
      call.Result({{"Text", sql::VarCharType(255, true), true}}, rows);
      return call.Return(0);
    }
    if (!call.Query("SELECT 1 FROM " + call.View("sys.objects") + " WHERE name = ?1", {*name})
             .empty()) {
      return call.Fail(MakeMessage(15197, 1, 16, "There is no text for object '" + text + "'."), 1);
    }
  }
  return call.Fail(NoSuchObject(text, db), 1);
}

}  // namespace tdslite::procs::catalog_detail
