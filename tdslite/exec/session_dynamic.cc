// Dynamic SQL (EXEC of a string, sp_executesql) and procedure calls by RPC.
#include "session_impl.h"
#include "tdslite/sql/modules.h"

namespace tdslite::session_detail {

// ---- dynamic SQL --------------------------------------------------------------------

bool SessionImpl::EvaluateText(const Stmt& stmt, const sql::Expr& expr, std::string* text,
                               ResultSink& sink, Flow* failed) {
  std::optional<std::string> value;
  ColumnType type;
  int64_t ignored = 0;
  Message error;
  bool abort = false;
  if (!Evaluate(stmt, expr, std::nullopt, &value, &type, &ignored, &error, &abort)) {
    *failed = Failed(sink, stmt, error, kCmdExec, abort);
    return false;
  }
  if (!sql::IsCharType(type.id)) {
    *failed = Failed(sink, stmt,
                     MakeMessage(214, 2, 16,
                                 "Procedure expects parameter '@statement' of type "
                                 "'ntext/nchar/nvarchar'."),
                     kCmdExec, false);
    return false;
  }
  *text = value.value_or("");
  return true;
}

bool SessionImpl::ParseDynamic(const Stmt& stmt, const std::string& text, sql::ParseResult* parsed,
                               ResultSink& sink) {
  *parsed = sql::ParseBatch(text, state_->config.database_name);
  if (parsed->ok()) return true;
  for (const sql::ParseError& e : parsed->errors) {
    Message m = MakeMessage(e.number, e.state, e.severity, e.text);
    m.line = e.line;
    sink.Send(m);
  }
  last_error_ = parsed->errors.back().number;
  last_rowcount_ = 0;
  (void)stmt;
  Finish(sink, kDoneError, kCmdExec, 0);
  return false;
}

SessionImpl::Flow SessionImpl::RunExecString(const Stmt& stmt, ResultSink& sink) {
  std::string text;
  Flow failed = Flow::kNext;
  if (!EvaluateText(stmt, *stmt.args[0], &text, sink, &failed)) return failed;
  sql::ParseResult parsed;
  if (!ParseDynamic(stmt, text, &parsed, sink)) return Flow::kNext;
  if (!CheckDeclarations(parsed.statements, sink, nullptr)) return Flow::kNext;
  static const std::vector<sql::ColumnDef> kNone;
  static const std::string kNoName;
  Stmt call;
  call.line = stmt.line;
  Module module{kNoName, kNone, parsed.statements, ModuleKind::kString};
  return RunModule(module, call, 0, sink, nullptr);
}

SessionImpl::Flow SessionImpl::RunExecuteSql(const Stmt& stmt, ResultSink& sink,
                                             std::vector<ReturnedValue>* outputs) {
  if (stmt.args.empty() || stmt.args[0] == nullptr ||
      (!stmt.arg_names.empty() && !stmt.arg_names[0].empty() && stmt.arg_names[0] != "@stmt")) {
    return Failed(sink, stmt,
                  MakeMessage(201, 4, 16,
                              "Procedure or function 'sp_executesql' expects parameter "
                              "'@statement', which was not supplied."),
                  kCmdExec, false);
  }
  std::string text;
  Flow failed = Flow::kNext;
  if (!EvaluateText(stmt, *stmt.args[0], &text, sink, &failed)) return failed;
  // The parameter declarations, read as a procedure's.
  std::string declarations;
  if (stmt.args.size() > 1 && stmt.args[1] != nullptr) {
    if (!EvaluateText(stmt, *stmt.args[1], &declarations, sink, &failed)) return failed;
  }
  sql::ParseResult header;
  if (!ParseDynamic(stmt, "create procedure sp_executesql " + declarations + " as return", &header,
                    sink)) {
    return Flow::kNext;
  }
  sql::ParseResult parsed;
  if (!ParseDynamic(stmt, text, &parsed, sink)) return Flow::kNext;
  const std::vector<sql::ColumnDef>& params = header.statements[0].column_defs;
  std::set<std::string> seen;
  for (const sql::ColumnDef& p : params) seen.insert(p.name);
  if (!CheckDeclarations(parsed.statements, sink, &seen)) return Flow::kNext;
  static const std::string kName = "sp_executesql";
  Module module{kName, params, parsed.statements, ModuleKind::kExecuteSql};
  return RunModule(module, stmt, std::min<size_t>(stmt.args.size(), 2), sink, outputs);
}

// ---- RPC ------------------------------------------------------------------------------

void SessionImpl::CallProcedure(std::string_view name, std::span<const ProcedureArgument> args,
                                ResultSink& sink) {
  read_text_.source.reset();
  // The call as the statement `exec name args`, the values as literals.
  std::string text = "exec " + QuoteName(name);
  for (size_t i = 0; i < args.size(); ++i) {
    text += i == 0 ? " " : ", ";
    if (!args[i].name.empty()) text += args[i].name + " = ";
    text += args[i].literal;
  }
  sql::ParseResult parsed = sql::ParseBatch(text, state_->config.database_name);
  Stmt* call =
      parsed.ok() && parsed.statements.size() == 1 && parsed.statements[0].kind == StmtKind::kExec
          ? &parsed.statements[0]
          : nullptr;
  // A call that fails before its procedure runs ends with the DONEPROC
  // that would have closed it.
  class RpcSink : public ForwardingSink {
   public:
    explicit RpcSink(ResultSink& inner) : ForwardingSink(inner) {}
    void Finish(const Done& done) override {
      Done d = done;
      if (d.kind == DoneKind::kDone) d.kind = DoneKind::kDoneProc;
      finished = true;
      ForwardingSink::Finish(d);
    }
    bool finished = false;
  } rpc(sink);
  if (call == nullptr) {
    Message m = MakeMessage(8009, 1, 16,
                            "The incoming tabular data stream (TDS) remote procedure call (RPC) "
                            "protocol stream is incorrect.");
    if (!parsed.errors.empty()) {
      m = MakeMessage(parsed.errors[0].number, parsed.errors[0].state, parsed.errors[0].severity,
                      parsed.errors[0].text);
    }
    rpc.Send(m);
    last_error_ = m.number;
    Finish(rpc, kDoneError, 0, 0);
    return;
  }
  for (size_t i = 0; i < args.size() && i < call->arg_output.size(); ++i) {
    call->arg_output[i] = args[i].output;
  }
  sql::LocalVariables saved_locals = std::move(locals_);
  locals_.clear();
  std::vector<ReturnedValue> outputs;
  functions_.statement_time = sql::CurrentDateTime();
  RunExec(*call, rpc, &outputs);
  functions_.statement_time = 0;
  locals_ = std::move(saved_locals);
  if (!rpc.finished && !sink.Cancelled()) Finish(rpc, kDoneFinal, 0, 0);
}

}  // namespace tdslite::session_detail
