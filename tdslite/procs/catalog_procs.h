// The system procedures client tools call to look at the catalog and the
// server: sp_help, sp_columns, sp_tables, sp_pkeys, sp_helpindex,
// sp_helptext, sp_stored_procedures, sp_databases, sp_spaceused, sp_who,
// sp_server_info, and sp_addmessage/sp_dropmessage for raiserror's
// numbered messages.
#pragma once

#include <span>
#include <string_view>

#include "procs.h"

namespace tdslite::procs {

// `name` lower case.
bool IsCatalogProcedure(std::string_view name);

int RunCatalogProcedure(std::string_view name, std::span<const ProcArgument> args, int line,
                        ProcedureHost& host, ResultSink& sink);

}  // namespace tdslite::procs
