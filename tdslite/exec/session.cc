// A client's session: runs batches statement by statement over its own
// SQLite connection and reports results, messages and DONEs as SQL Server
// would.
#include <algorithm>

#include "session_impl.h"

namespace tdslite::session_detail {

void SessionImpl::ExecuteBatch(std::string_view text, ResultSink& sink) {
  text_write_.reset();
  if (IsWriteTextBulk(text)) return StartWriteText(text, sink);
  if (IsReadText(text)) {
    return RunReadText(db_, text, textsize_, state_->commits.load(), &read_text_, sink);
  }
  // The value READTEXT kept open holds a read transaction: every other
  // statement starts without it.
  read_text_.source.reset();
  sql::ParseResult parsed = sql::ParseBatch(text, state_->config.database_name);
  if (!parsed.ok()) {
    for (const sql::ParseError& e : parsed.errors) {
      Message m = MakeMessage(e.number, e.state, e.severity, e.text);
      m.line = e.line;
      sink.Send(m);
    }
    last_error_ = parsed.errors.back().number;
    Done d;
    d.status = kDoneError;
    sink.Finish(d);
    return;
  }
  if (parsed.statements.empty()) {
    sink.Finish(Done{});
    return;
  }
  // Each batch has its own variables and error context; a batch run by a
  // procedure gets fresh ones and gives the caller's back at its end.
  sql::LocalVariables saved_locals = std::move(locals_);
  std::optional<sql::CaughtError> saved_caught = std::move(caught_);
  const int saved_try_depth = try_depth_;
  std::vector<std::string> saved_tables = std::move(table_variables_);
  table_variables_.clear();
  locals_.clear();
  caught_.reset();
  try_depth_ = 0;
  CountingSink counting(sink);
  Flow flow = Flow::kNext;
  if (CheckDeclarations(parsed.statements, counting)) {
    flow = RunStatements(parsed.statements, counting);
  }
  DropTables(&table_variables_);
  table_variables_ = std::move(saved_tables);
  locals_ = std::move(saved_locals);
  caught_ = std::move(saved_caught);
  try_depth_ = saved_try_depth;
  // An IF whose branch did not run leaves nothing to report: the batch
  // still ends with a DONE.
  if (flow != Flow::kStop && counting.finishes == 0) sink.Finish(Done{});
}

void SessionImpl::Transaction(TransactionEvent event, ResultSink& sink) {
  read_text_.source.reset();
  Stmt s;
  s.kind = event == TransactionEvent::kBegin    ? StmtKind::kBeginTran
           : event == TransactionEvent::kCommit ? StmtKind::kCommit
                                                : StmtKind::kRollback;
  Execute(s, sink);
}

// `writetext bulk ...`: checks the target and waits for the BULK message.
void SessionImpl::StartWriteText(std::string_view text, ResultSink& sink) {
  Message error;
  text_write_ = tdslite::StartWriteText(
      db_, text, &error, static_cast<uint64_t>(sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, -1)));
  Done d;
  if (!text_write_) {
    sink.Send(error);
    last_error_ = error.number;
    d.status = kDoneError;
  }
  sink.Finish(d);
}

SessionImpl::Flow SessionImpl::RunStatements(const std::vector<Stmt>& statements,
                                             ResultSink& sink) {
  for (const Stmt& stmt : statements) {
    if (sink.Cancelled()) return Flow::kStop;
    functions_.statement_time = sql::CurrentDateTime();
    Flow flow = Execute(stmt, sink);
    functions_.statement_time = 0;
    if (flow != Flow::kNext) return flow;
  }
  return Flow::kNext;
}

SessionImpl::Flow SessionImpl::RunIf(const Stmt& stmt, ResultSink& sink) {
  sql::SessionVars vars = Vars();
  sql::Compiler compiler(db_, vars);
  std::string q;
  CompileError err;
  if (!compiler.CompileCondition(*stmt.where, &q, &err)) {
    return CompileFailed(sink, stmt, err, kCmdIf);
  }
  Prepared st;
  int rc = st.Prepare(db_, q);
  if (rc == SQLITE_OK) rc = sqlite3_step(st.get());
  if (rc != SQLITE_ROW) {
    Message m = SqliteError(rc);
    return Failed(sink, stmt, m, kCmdIf, AbortsBatch(m.number));
  }
  const bool condition = sqlite3_column_int(st.get(), 0) != 0;
  st.Reset();
  return RunStatements(condition ? stmt.body : stmt.else_body, sink);
}

// An IF or WHILE condition. False with *failed set when it could not be
// evaluated.
bool SessionImpl::Condition(const Stmt& stmt, bool* value, ResultSink& sink, Flow* failed,
                            uint16_t cmd) {
  sql::SessionVars vars = Vars();
  sql::Compiler compiler(db_, vars);
  std::string q;
  CompileError err;
  if (!compiler.CompileCondition(*stmt.where, &q, &err)) {
    *failed = CompileFailed(sink, stmt, err, cmd);
    return false;
  }
  Prepared st;
  int rc = st.Prepare(db_, q);
  if (rc == SQLITE_OK) rc = sqlite3_step(st.get());
  if (rc != SQLITE_ROW) {
    Message m = SqliteError(rc);
    *failed = Failed(sink, stmt, m, cmd, AbortsBatch(m.number));
    return false;
  }
  *value = sqlite3_column_int(st.get(), 0) != 0;
  return true;
}

sql::SessionVars SessionImpl::Vars() const {
  sql::SessionVars v;
  v.rowcount = last_rowcount_;
  v.trancount = trancount_;
  v.error = last_error_;
  v.spid = info_.spid;
  v.textsize = textsize_;
  v.datefirst = datefirst_;
  v.identity = identity_;
  v.identity_insert = identity_insert_;
  v.database = database_;
  v.server = state_->config.server_name;
  v.login = info_.login;
  v.app = info_.app_name;
  v.host = info_.host_name;
  // Scripts test the product name and version (those of the login
  // acknowledgement); the second line says what answers.
  v.version = std::string(
                  "Microsoft SQL Server 2008 R2 (RTM) - 10.50.1600.1 (X64)\n"
                  "\ttdslite 0.1.0 - a TDS server over SQLite ") +
              sqlite3_libversion();
  v.locals = &locals_;
  v.caught = caught_ ? &*caught_ : nullptr;
  v.xact_state = trancount_ == 0 ? 0 : doomed_ ? -1 : 1;
  v.nestlevel = procedure_nesting_;
  return v;
}

void SessionImpl::Finish(ResultSink& sink, uint16_t status, uint16_t cmd, uint64_t count) {
  Done d;
  d.status = status;
  d.current_command = cmd;
  d.row_count = count;
  sink.Finish(d);
}

// A statement without a row count ended well.
SessionImpl::Flow SessionImpl::Ok(ResultSink& sink, uint16_t cmd) {
  last_error_ = 0;
  // SET, USE, PRINT, RAISERROR, transactions and DDL leave @@rowcount 0.
  last_rowcount_ = 0;
  Finish(sink, kDoneFinal, cmd, 0);
  return Flow::kNext;
}

// A statement that affected or returned `count` rows ended well.
SessionImpl::Flow SessionImpl::Counted(ResultSink& sink, uint16_t cmd, uint64_t count) {
  last_error_ = 0;
  last_rowcount_ = static_cast<int64_t>(count);
  Finish(sink, nocount_ ? kDoneFinal : kDoneCount, cmd, count);
  return Flow::kNext;
}

// A statement failed: its error (and 3621 when a data-changing statement
// was terminated), then its DONE with the error bit.
SessionImpl::Flow SessionImpl::Failed(ResultSink& sink, const Stmt& stmt, Message m, uint16_t cmd,
                                      bool abort_batch, bool terminated) {
  m.line = stmt.line;
  const bool refusal = m.number == sql::kNotSupportedNumber;
  if (try_depth_ > 0 && Catchable(m, false)) {
    pending_ = sql::CaughtError{m.number, m.severity, m.state, m.line, m.text};
    last_error_ = m.number;
    last_rowcount_ = 0;
    if (xact_abort_ && trancount_ > 0) doomed_ = true;
    return Flow::kThrow;
  }
  if (xact_abort_ && m.severity > 10 && !refusal) {
    sink.Send(m);
    last_error_ = m.number;
    last_rowcount_ = 0;
    if (trancount_ > 0) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      trancount_ = 0;
      descriptor_ = 0;
      doomed_ = false;
      sink.TransactionChanged(TransactionEvent::kRollback, 0);
    }
    Finish(sink, kDoneError, cmd, 0);
    return Flow::kAbort;
  }
  sink.Send(m);
  if (terminated) {
    Message info = MakeMessage(3621, 0, 0, "The statement has been terminated.");
    info.line = stmt.line;
    sink.Send(info);
  }
  last_error_ = m.number;
  last_rowcount_ = 0;
  Finish(sink, kDoneError, cmd, 0);
  return abort_batch ? Flow::kAbort : Flow::kNext;
}

SessionImpl::Flow SessionImpl::CompileFailed(ResultSink& sink, const Stmt& stmt,
                                             const CompileError& e, uint16_t cmd) {
  if (try_depth_ > 0 && !Catchable(e.message, true)) {
    // Not for the CATCH block: reported, and the batch ends.
    const int depth = try_depth_;
    try_depth_ = 0;
    Failed(sink, stmt, e.message, cmd, true);
    try_depth_ = depth;
    return Flow::kAbort;
  }
  return Failed(sink, stmt, e.message, cmd, e.abort_batch);
}

// The message for a failed SQLite call.
Message SessionImpl::SqliteError(int rc) {
  Message m;
  const char* text = sqlite3_errmsg(db_);
  if (sql::DecodeError(text, &m)) return m;
  int primary = rc & 0xFF;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    return MakeMessage(1222, 56, 16, "Lock request time out period exceeded.");
  }
  if (primary == SQLITE_INTERRUPT) {
    return MakeMessage(3980, 1, 16, "The request failed to run because the batch is aborted.");
  }
  if (primary == SQLITE_TOOBIG) {
    // A value (a function's result, a concatenation, a converted text)
    // would pass the server's limit on a value's size.
    return MakeMessage(7119, 1, 16,
                       "Attempting to grow LOB beyond maximum allowed size of " +
                           std::to_string(sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, -1)) + " bytes.");
  }
  if (primary == SQLITE_NOMEM) {
    return MakeMessage(701, 1, 17,
                       "There is insufficient system memory in resource pool 'default' to run "
                       "this query.");
  }
  if (primary == SQLITE_FULL) {
    return MakeMessage(1105, 2, 17,
                       "Could not allocate space for object in database '" + database_ +
                           "' because the filegroup is full.");
  }
  // What SQLite's own limits on nesting say: the statement is too deep for
  // the server, as SQL Server says it.
  const std::string_view why(text);
  if (why.find("parser stack overflow") != std::string_view::npos ||
      why.find("Expression tree is too large") != std::string_view::npos) {
    return MakeMessage(191, 1, 15,
                       "Some part of your SQL statement is nested too deeply. Rewrite the query "
                       "or break it up into smaller queries.");
  }
  return MakeMessage(sql::kNotSupportedNumber + 1, 1, 16,
                     std::string("tdslite could not run the statement: ") + text);
}

SessionImpl::Flow SessionImpl::Execute(const Stmt& stmt, ResultSink& sink) {
  if (Writes(stmt)) PrepareToWrite();
  switch (stmt.kind) {
    case StmtKind::kSelect:
      return RunSelect(stmt, sink);
    case StmtKind::kInsert:
      if (stmt.exec) return RunInsertExec(stmt, sink);
      [[fallthrough]];
    case StmtKind::kUpdate:
    case StmtKind::kDelete:
      return RunDml(stmt, sink);
    case StmtKind::kTruncate:
      return RunTruncate(stmt, sink);
    case StmtKind::kCreateTable:
      return RunCreateTable(stmt, sink);
    case StmtKind::kDropTable:
      return RunDropTable(stmt, sink);
    case StmtKind::kCreateIndex:
      return RunCreateIndex(stmt, sink);
    case StmtKind::kBeginTran:
    case StmtKind::kCommit:
    case StmtKind::kRollback:
      return RunTransaction(stmt, sink);
    case StmtKind::kSet:
      if (stmt.name == "identity_insert") return RunIdentityInsert(stmt, sink);
      return RunSet(stmt, sink);
    case StmtKind::kPrint:
      return RunPrint(stmt, sink);
    case StmtKind::kRaiserror:
      return RunRaiserror(stmt, sink);
    case StmtKind::kUse:
      return RunUse(stmt, sink);
    case StmtKind::kExec:
      return RunExec(stmt, sink, nullptr);
    case StmtKind::kExecString:
      return RunExecString(stmt, sink);
    case StmtKind::kCreateModule:
      return RunCreateModule(stmt, sink);
    case StmtKind::kDropModule:
      return RunDropModule(stmt, sink);
    case StmtKind::kIf:
      return RunIf(stmt, sink);
    case StmtKind::kBlock:
      return RunStatements(stmt.body, sink);
    case StmtKind::kDeclare:
      return RunDeclare(stmt, sink);
    case StmtKind::kSetVariable:
      return RunSetVariable(stmt, sink);
    case StmtKind::kWhile:
      return RunWhile(stmt, sink);
    case StmtKind::kBreak:
      return Flow::kBreak;
    case StmtKind::kContinue:
      return Flow::kContinue;
    case StmtKind::kReturn:
      return RunReturn(stmt, sink);
    case StmtKind::kTry:
      return RunTry(stmt, sink);
    case StmtKind::kThrow:
      return RunThrow(stmt, sink);
    case StmtKind::kCreateView:
    case StmtKind::kAlterView:
      return RunCreateView(stmt, sink);
    case StmtKind::kDropView:
      return RunDropView(stmt, sink);
    case StmtKind::kAlterTable:
      return RunAlterTable(stmt, sink);
    case StmtKind::kWaitFor:
      return RunWaitFor(stmt, sink);
    case StmtKind::kSaveTran:
      return RunSaveTran(stmt, sink);
    case StmtKind::kEmpty:
      return Ok(sink, 0);
  }
  return Ok(sink, 0);
}

// Evaluates the arguments and hands the call to tdslite/procs, which
// reports everything up to the DONEPROC itself.
SessionImpl::Flow SessionImpl::RunSystemProcedure(const Stmt& stmt, ResultSink& sink) {
  std::vector<procs::ProcArgument> args(stmt.args.size());
  for (size_t i = 0; i < stmt.args.size(); ++i) {
    if (i < stmt.arg_names.size()) args[i].name = stmt.arg_names[i];
    const sql::Expr& e = *stmt.args[i];
    // A bare word passed to a procedure is a character string in T-SQL.
    if (e.kind == sql::ExprKind::kColumn && e.names.size() == 1) {
      args[i].value = e.names[0];
      continue;
    }
    ColumnType type;
    int64_t integer = 0;
    Message error;
    bool abort = false;
    if (!Evaluate(stmt, e, std::nullopt, &args[i].value, &type, &integer, &error, &abort)) {
      return Failed(sink, stmt, error, kCmdExec, abort);
    }
  }
  ProcedureHostImpl host(*this);
  const int error = procs::RunSystemProcedure(stmt.name, args, stmt.line, host, sink);
  last_error_ = error;
  last_rowcount_ = 0;
  return Flow::kNext;
}

}  // namespace tdslite::session_detail

namespace tdslite {

using session_detail::SessionImpl;

std::unique_ptr<Session> OpenSession(std::shared_ptr<EngineState> state, const SessionInfo& info,
                                     std::string* error) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(state->path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    *error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 10000);
  sqlite3_commit_hook(
      db,
      [](void* counter) {
        static_cast<std::atomic<uint64_t>*>(counter)->fetch_add(1);
        return 0;
      },
      &state->commits);
  // Every value the connection builds (strings, blobs, function results) is
  // kept within the server's limit; SQLite lowers it further to its own.
  const uint64_t max_value = state->config.max_value_bytes;
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH,
                static_cast<int>(std::min<uint64_t>(max_value, 0x7FFFFFFF)));
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON",
               nullptr, nullptr, nullptr);
  auto session = std::make_unique<SessionImpl>(std::move(state), info, db);
  // Every few thousand SQLite instructions: has the client cancelled?
  constexpr int kInstructionsBetweenCancelLooks = 4096;
  sqlite3_progress_handler(
      db, kInstructionsBetweenCancelLooks,
      [](void* s) { return static_cast<SessionImpl*>(s)->CancelRequested() ? 1 : 0; },
      session.get());
  if (!sql::RegisterFunctions(db, session->function_context()) ||
      sqlite3_create_function_v2(
          db, "tdslite_udf", -1, SQLITE_UTF8, session.get(),
          [](sqlite3_context* ctx, int argc, sqlite3_value** argv) {
            static_cast<SessionImpl*>(sqlite3_user_data(ctx))->CallFunction(ctx, argc, argv);
          },
          nullptr, nullptr, nullptr) != SQLITE_OK) {
    *error = "cannot register the SQL functions";
    return nullptr;
  }
  return session;
}

}  // namespace tdslite
