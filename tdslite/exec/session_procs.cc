// Procedures and scalar functions: create, alter and drop them.
#include <set>

#include "session_impl.h"
#include "tdslite/sql/modules.h"

namespace tdslite::session_detail {

namespace {

constexpr uint16_t kCmdCreateProc = 0xDE;
constexpr uint16_t kCmdDropProc = 0xDF;

}  // namespace

// ---- create, alter, drop ------------------------------------------------------

SessionImpl::Flow SessionImpl::RunCreateModule(const Stmt& stmt, ResultSink& sink) {
  const std::string type = stmt.module_type == 'F' ? "FN" : "P";
  if (!stmt.name.empty() && stmt.name[0] == '#') {
    return Failed(sink, stmt,
                  MakeMessage(sql::kNotSupportedNumber, 1, 16,
                              "Temporary procedures are not supported by tdslite."),
                  kCmdCreateProc, false);
  }
  // A parameter declared again in the body.
  std::set<std::string> seen;
  for (const sql::ColumnDef& p : stmt.column_defs) seen.insert(p.name);
  if (!CheckDeclarations(stmt.body, sink, &seen)) return Flow::kNext;
  std::optional<sql::ModuleInfo> existing = sql::LookupModule(db_, stmt.name);
  const bool table = sql::LookupTable(db_, stmt.name).has_value();
  const bool alter = stmt.create_mode == Stmt::CreateMode::kAlter ||
                     (stmt.create_mode == Stmt::CreateMode::kCreateOrAlter && existing);
  if (!alter && (existing || table)) {
    return Failed(
        sink, stmt,
        MakeMessage(2714, 3, 16,
                    "There is already an object named '" + stmt.name + "' in the database."),
        kCmdCreateProc, false);
  }
  if (alter && (!existing || existing->type != type)) {
    if (existing || table) {
      return Failed(
          sink, stmt,
          MakeMessage(2714, 3, 16,
                      "There is already an object named '" + stmt.name + "' in the database."),
          kCmdCreateProc, false);
    }
    return Failed(sink, stmt, MakeMessage(208, 1, 16, "Invalid object name '" + stmt.name + "'."),
                  kCmdCreateProc, false);
  }
  // Stored as the batch's text, as created; an altered module keeps its
  // name as first created.
  std::string why;
  if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), kCmdCreateProc, false);
  if (!sql::SaveModule(db_, alter ? existing->name : stmt.name, type, stmt.definition, alter,
                       &why)) {
    Message m = SqliteError(SQLITE_ERROR);
    Undo();
    return Failed(sink, stmt, m, kCmdCreateProc, false);
  }
  Release();
  return Ok(sink, kCmdCreateProc);
}

SessionImpl::Flow SessionImpl::RunDropModule(const Stmt& stmt, ResultSink& sink) {
  const char* what = stmt.module_type == 'F' ? "function" : "procedure";
  const std::string type = stmt.module_type == 'F' ? "FN" : "P";
  bool failed = false;
  for (const std::string& name : stmt.names) {
    std::optional<sql::ModuleInfo> m = sql::LookupModule(db_, name);
    if (!m || m->type != type) {
      if (stmt.if_exists) continue;
      Message e = MakeMessage(3701, 11, 11,
                              std::string("Cannot drop the ") + what + " '" + name +
                                  "', because it does not exist or you do not have permission.");
      e.line = stmt.line;
      sink.Send(e);
      last_error_ = e.number;
      failed = true;
      continue;
    }
    std::string why;
    if (!sql::RemoveModule(db_, m->name, &why)) {
      return Failed(sink, stmt, SqliteError(SQLITE_ERROR), kCmdDropProc, false);
    }
  }
  if (failed) {
    last_rowcount_ = 0;
    Finish(sink, kDoneError, kCmdDropProc, 0);
    return Flow::kNext;
  }
  return Ok(sink, kCmdDropProc);
}

}  // namespace tdslite::session_detail
