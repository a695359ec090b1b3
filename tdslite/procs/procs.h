// tdslite's system procedures: the catalog procedures (catalog_procs.h) and
// the web task procedures sp_makewebtask, sp_runwebtask and sp_dropwebtask
// (web_task.h). A session hands a procedure call here
// once it has evaluated the arguments; the procedures report their messages,
// RETURNSTATUS and DONEPROC through the session's ResultSink.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tdslite/common/config.h"
#include "tdslite/common/result_sink.h"
#include "tdslite/common/types.h"

namespace tdslite::procs {

// SQL Server's limit on nested procedure calls (@@nestlevel); a web task
// whose query runs a web task counts as one level deeper.
constexpr int kMaxNestingLevel = 32;

// The informational message that tells the client a scheduled web task was
// stored but will only run through sp_runwebtask. tdslite's own number, in
// the user message range like its other tdslite-only messages.
constexpr int kWebTaskNotScheduledNumber = 50110;
// The error for a web task on a server started without --file-root.
constexpr int kNoFileRootNumber = 50111;

// One argument of a procedure call, as the session evaluated it.
struct ProcArgument {
  std::string name;                  // "@name" lower-cased; empty when passed by position
  std::optional<std::string> value;  // the value as text (UTF-8); nullopt for NULL
};

// What a system procedure may use of the session that calls it.
class ProcedureHost {
 public:
  virtual ~ProcedureHost() = default;
  // The session's own SQLite connection (same transaction as its batches).
  virtual sqlite3* Database() = 0;
  virtual const ServerConfig& Config() const = 0;
  virtual int32_t Spid() const = 0;
  virtual const std::string& DatabaseName() const = 0;
  // The connection's login and client host (sp_who).
  virtual std::string LoginName() const { return {}; }
  virtual std::string HostName() const { return {}; }
  // How many procedure-run batches enclose the current one (0 at top level).
  virtual int NestingLevel() const = 0;
  // Runs a batch exactly as the session runs a client's, one nesting level
  // deeper, reporting into `sink` instead of the client.
  virtual void RunBatch(std::string_view sql, ResultSink& sink) = 0;
};

// True for the names RunSystemProcedure knows (case-insensitive, with or
// without a "dbo." or "master.dbo." qualifier already removed by the parser).
bool IsSystemProcedure(std::string_view name);

// Runs a system procedure. Everything the client sees goes to `sink`, ending
// with a DONEPROC (or, for a call refused before the procedure ran, a DONE
// with the error bit). Answers the number of the last error sent, 0 if none,
// for @@error.
int RunSystemProcedure(std::string_view name, std::span<const ProcArgument> args, int line,
                       ProcedureHost& host, ResultSink& sink);

}  // namespace tdslite::procs
