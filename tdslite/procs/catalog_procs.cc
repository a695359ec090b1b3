// The catalog procedures' dispatch table, and the object names they are given.
#include "catalog_procs.h"

#include "catalog_procs_internal.h"

namespace tdslite::procs {
namespace catalog_detail {

int64_t ToInt(const std::optional<std::string>& s, int64_t fallback) {
  if (!s) return fallback;
  try {
    return std::stoll(*s);
  } catch (...) {
    return fallback;
  }
}

std::optional<std::string> LocalName(const std::string& text, const std::string& database) {
  auto parts = sql::SplitObjectName(text);
  if (!parts) return std::nullopt;
  const size_t n = parts->size();
  if (n >= 2 && !(*parts)[n - 2].empty() && !EqualsIgnoreCase((*parts)[n - 2], "dbo")) {
    return std::nullopt;
  }
  if (n == 3 && !EqualsIgnoreCase((*parts)[0], database)) return std::nullopt;
  return parts->back();
}

Message NoSuchObject(const std::string& name, const std::string& database) {
  return MakeMessage(15009, 1, 16,
                     "The object '" + name + "' does not exist in database '" + database +
                         "' or is invalid for this operation.");
}

}  // namespace catalog_detail

namespace {

using namespace catalog_detail;

struct Procedure {
  const char* name;
  int (*run)(std::span<const ProcArgument>, Call&);
};

constexpr Procedure kProcedures[] = {
    {"sp_help", SpHelp},
    {"sp_columns", SpColumns},
    {"sp_tables", SpTables},
    {"sp_pkeys", SpPkeys},
    {"sp_helpindex", SpHelpIndex},
    {"sp_helptext", SpHelpText},
    {"sp_stored_procedures", SpStoredProcedures},
    {"sp_databases", SpDatabases},
    {"sp_spaceused", SpSpaceUsed},
    {"sp_who", SpWho},
    {"sp_server_info", SpServerInfo},
    {"sp_addmessage", SpAddMessage},
    {"sp_dropmessage", SpDropMessage},
};

}  // namespace

bool IsCatalogProcedure(std::string_view name) {
  for (const Procedure& p : kProcedures) {
    if (name == p.name) return true;
  }
  return false;
}

int RunCatalogProcedure(std::string_view name, std::span<const ProcArgument> args, int line,
                        ProcedureHost& host, ResultSink& sink) {
  Call call(name, line, host, sink);
  for (const Procedure& p : kProcedures) {
    if (name == p.name) return p.run(args, call);
  }
  return 0;
}

}  // namespace tdslite::procs
