// Procedures, scalar functions and dynamic SQL: create, alter and drop them,
// EXEC with its arguments (from a batch and by RPC), RETURN, EXEC (string)
// and sp_executesql.
#include <set>

#include "session_impl.h"
#include "tdslite/sql/modules.h"

namespace tdslite::session_detail {

namespace {

constexpr uint16_t kCmdCreateProc = 0xDE;
constexpr uint16_t kCmdDropProc = 0xDF;

// What a procedure's statements report: DONEINPROC instead of DONE, and
// every message names the procedure.
class ModuleSink : public ForwardingSink {
 public:
  ModuleSink(ResultSink& inner, const std::string& name) : ForwardingSink(inner), name_(name) {}
  void Finish(const Done& done) override {
    Done d = done;
    if (d.kind == DoneKind::kDone) d.kind = DoneKind::kDoneInProc;
    ForwardingSink::Finish(d);
  }
  void Send(const Message& message) override {
    if (!message.procedure.empty() || name_.empty()) return ForwardingSink::Send(message);
    Message named = message;
    named.procedure = name_;
    ForwardingSink::Send(named);
  }

 private:
  const std::string& name_;
};

// A function body's statements report nothing to the client; the first
// error is kept to become the calling statement's error.
class FunctionSink : public ResultSink {
 public:
  void Columns(std::span<const ColumnDesc>) override {}
  bool Row(std::span<const Value>) override { return true; }
  void Send(const Message& m) override {
    if (m.severity > 10 && !error) error = m;
  }
  void Finish(const Done&) override {}
  void ReturnStatus(int32_t) override {}
  void DatabaseChanged(std::string_view, std::string_view) override {}
  void TransactionChanged(TransactionEvent, uint64_t) override {}
  bool Cancelled() override { return false; }
  std::optional<Message> error;
};

bool IsExecuteSql(const std::string& name) {
  return EqualsIgnoreCase(name, "sp_executesql") || EqualsIgnoreCase(name, "sys.sp_executesql");
}

void StoreValue(sqlite3_value* v, sql::LocalVariable* out) {
  out->kind = sqlite3_value_type(v);
  out->integer = 0;
  out->real = 0;
  out->bytes.clear();
  switch (out->kind) {
    case SQLITE_INTEGER:
      out->integer = sqlite3_value_int64(v);
      break;
    case SQLITE_FLOAT:
      out->real = sqlite3_value_double(v);
      break;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* p = out->kind == SQLITE_TEXT ? static_cast<const void*>(sqlite3_value_text(v))
                                               : sqlite3_value_blob(v);
      const int n = sqlite3_value_bytes(v);
      if (p != nullptr && n > 0) out->bytes.assign(static_cast<const char*>(p), size_t(n));
      break;
    }
    default:
      out->kind = SQLITE_NULL;
  }
}

void ResultOf(sqlite3_context* ctx, const sql::LocalVariable& v) {
  switch (v.kind) {
    case SQLITE_INTEGER:
      sqlite3_result_int64(ctx, v.integer);
      break;
    case SQLITE_FLOAT:
      sqlite3_result_double(ctx, v.real);
      break;
    case SQLITE_TEXT:
      sqlite3_result_text(ctx, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
      break;
    case SQLITE_BLOB:
      sqlite3_result_blob(ctx, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
      break;
    default:
      sqlite3_result_null(ctx);
  }
}

// A name as T-SQL: in brackets; with `parts`, each part of a dotted name.
std::string QuoteName(std::string_view name, bool parts = true) {
  std::string out = "[";
  for (char c : name) {
    if (c == '.' && parts) {
      out += "].[";
      continue;
    }
    out += c;
    if (c == ']') out += ']';
  }
  return out + "]";
}

Message NestingExceeded() {
  return MakeMessage(217, 1, 16,
                     "Maximum stored procedure, function, trigger, or view nesting level "
                     "exceeded (limit 32).");
}

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

// ---- exec -------------------------------------------------------------------------

SessionImpl::Flow SessionImpl::RunExec(const Stmt& stmt, ResultSink& sink,
                                       std::vector<ReturnedValue>* outputs) {
  if (!stmt.return_variable.empty() && FindVariable(stmt.return_variable) == nullptr) {
    return Failed(sink, stmt,
                  MakeMessage(137, 1, 15,
                              "Must declare the scalar variable \"" + stmt.return_variable + "\"."),
                  kCmdExec, true);
  }
  if (function_depth_ > 0) {
    return Failed(sink, stmt,
                  MakeMessage(557, 2, 16,
                              "Only functions and some extended stored procedures can be "
                              "executed from within a function."),
                  kCmdExec, false);
  }
  if (IsExecuteSql(stmt.name)) return RunExecuteSql(stmt, sink, outputs);
  if (procs::IsSystemProcedure(stmt.name)) return RunSystemProcedure(stmt, sink);
  std::shared_ptr<const sql::LoadedModule> m = sql::LoadModule(db_, stmt.name, database_);
  if (!m || m->info.type != "P") {
    return Failed(sink, stmt,
                  MakeMessage(2812, 62, 16, "Could not find stored procedure '" + stmt.name + "'."),
                  kCmdExec, false);
  }
  const Stmt* def = m->definition();
  if (def == nullptr) {
    return Failed(sink, stmt,
                  MakeMessage(sql::kNotSupportedNumber, 1, 16,
                              "The stored definition of procedure '" + m->info.name +
                                  "' no longer parses; tdslite cannot run it."),
                  kCmdExec, false);
  }
  Module module{m->info.name, def->column_defs, def->body, ModuleKind::kProcedure};
  return RunModule(module, stmt, 0, sink, outputs);
}

bool SessionImpl::BindArguments(const Module& module, const Stmt& call, size_t first_arg,
                                std::vector<sql::LocalVariable>* values,
                                std::vector<int>* arg_of_param, ResultSink& sink, Flow* failed) {
  const std::vector<sql::ColumnDef>& params = module.params;
  arg_of_param->assign(params.size(), -1);
  auto fail = [&](Message m, bool abort = false) {
    *failed = Failed(sink, call, std::move(m), kCmdExec, abort);
    return false;
  };
  size_t next = 0;
  for (size_t i = first_arg; i < call.args.size(); ++i) {
    const std::string& name = i < call.arg_names.size() ? call.arg_names[i] : std::string();
    size_t j = 0;
    if (name.empty()) {
      if (next >= params.size()) {
        return fail(MakeMessage(
            8144, 2, 16,
            "Procedure or function " + module.name + " has too many arguments specified."));
      }
      j = next++;
    } else {
      while (j < params.size() && params[j].name != name) ++j;
      if (j == params.size()) {
        return fail(MakeMessage(8145, 2, 16,
                                name + " is not a parameter for procedure " + module.name + "."));
      }
    }
    (*arg_of_param)[j] = static_cast<int>(i);
    const bool output = i < call.arg_output.size() && call.arg_output[i];
    if (output && !params[j].output) {
      return fail(MakeMessage(8162, 2, 16,
                              "The formal parameter \"" + params[j].name +
                                  "\" was not declared as an OUTPUT parameter, but the actual "
                                  "parameter passed in requested output."));
    }
  }
  values->assign(params.size(), sql::LocalVariable{});
  for (size_t j = 0; j < params.size(); ++j) {
    sql::LocalVariable& v = (*values)[j];
    v.type = params[j].type;
    const int arg = (*arg_of_param)[j];
    const sql::Expr* value = arg >= 0 ? call.args[static_cast<size_t>(arg)].get() : nullptr;
    if (value == nullptr) value = params[j].default_value.get();
    if (value == nullptr) {
      // An output parameter without a value starts as NULL only when the
      // caller passed DEFAULT for it; otherwise it is missing.
      return fail(MakeMessage(201, 4, 16,
                              "Procedure or function '" + module.name + "' expects parameter '" +
                                  params[j].name + "', which was not supplied."));
    }
    Message error;
    bool abort = false;
    if (!AssignVariable(*value, &v, &error, &abort)) return fail(error, abort);
  }
  return true;
}

SessionImpl::Flow SessionImpl::RunModule(const Module& module, const Stmt& call, size_t first_arg,
                                         ResultSink& sink, std::vector<ReturnedValue>* outputs) {
  if (procedure_nesting_ >= kMaxNesting) {
    return Failed(sink, call, NestingExceeded(), kCmdExec, true);
  }
  std::vector<sql::LocalVariable> values;
  std::vector<int> arg_of_param;
  Flow failed = Flow::kNext;
  if (!BindArguments(module, call, first_arg, &values, &arg_of_param, sink, &failed)) {
    return failed;
  }
  // The caller's scope, given back at the end.
  sql::LocalVariables saved_locals = std::move(locals_);
  std::vector<std::string> saved_tables = std::move(table_variables_);
  const bool saved_nocount = nocount_;
  const std::string saved_module = std::move(current_module_);
  locals_.clear();
  table_variables_.clear();
  for (size_t j = 0; j < module.params.size(); ++j) {
    locals_[module.params[j].name] = values[j];
  }
  current_module_ = module.kind == ModuleKind::kProcedure ? module.name : std::string();
  return_status_ = 0;
  ++procedure_nesting_;
  Flow flow;
  if (module.kind == ModuleKind::kString) {
    flow = RunStatements(module.body, sink);
  } else {
    ModuleSink inner(sink, current_module_);
    flow = RunStatements(module.body, inner);
  }
  --procedure_nesting_;
  const int32_t status = flow == Flow::kReturn ? return_status_ : 0;
  DropTables(&table_variables_);
  sql::LocalVariables own = std::move(locals_);
  locals_ = std::move(saved_locals);
  table_variables_ = std::move(saved_tables);
  nocount_ = saved_nocount;
  current_module_ = saved_module;
  if (flow == Flow::kStop || flow == Flow::kAbort || flow == Flow::kThrow) return flow;
  if (module.kind == ModuleKind::kString) return Flow::kNext;
  // Output parameters go back into the caller's variables, converted to
  // their types, or to the client as RETURNVALUEs.
  for (size_t j = 0; j < module.params.size(); ++j) {
    const int arg = arg_of_param[j];
    if (arg < 0 || !call.arg_output[static_cast<size_t>(arg)]) continue;
    const sql::LocalVariable& result = own[module.params[j].name];
    if (outputs != nullptr) {
      ReturnedValue rv;
      rv.ordinal = static_cast<uint16_t>(arg);
      rv.name = module.params[j].name;
      rv.column.type = module.params[j].type;
      rv.column.nullable = true;
      ToValue(result, rv.column, &rv.value);
      outputs->push_back(std::move(rv));
      continue;
    }
    const sql::Expr& target = *call.args[static_cast<size_t>(arg)];
    Message error;
    if (!CopyInto(result, target.text, &error)) return Failed(sink, call, error, kCmdExec, true);
  }
  if (!call.return_variable.empty()) {
    sql::LocalVariable rc;
    rc.type = sql::IntType(TypeId::kInt);
    rc.kind = SQLITE_INTEGER;
    rc.integer = status;
    Message error;
    if (!CopyInto(rc, call.return_variable, &error)) {
      return Failed(sink, call, error, kCmdExec, true);
    }
  }
  sink.ReturnStatus(status);
  if (outputs != nullptr) {
    for (const ReturnedValue& rv : *outputs) sink.ReturnValue(rv);
    outputs->clear();
  }
  Done d;
  d.kind = DoneKind::kDoneProc;
  d.current_command = kCmdExec;
  sink.Finish(d);
  return Flow::kNext;
}

bool SessionImpl::CopyInto(const sql::LocalVariable& value, const std::string& variable,
                           Message* error) {
  sql::LocalVariable* target = FindVariable(variable);
  if (target == nullptr) {
    *error = MakeMessage(137, 1, 15, "Must declare the scalar variable \"" + variable + "\".");
    return false;
  }
  // The value, as a variable of its own type, converted by assignment.
  const std::string temporary = "@\x01result";
  locals_[temporary] = value;
  sql::Expr e;
  e.kind = sql::ExprKind::kVariable;
  e.text = temporary;
  sql::LocalVariable converted = *FindVariable(variable);
  bool abort = false;
  const bool ok = AssignVariable(e, &converted, error, &abort);
  locals_.erase(temporary);
  if (ok) *FindVariable(variable) = std::move(converted);
  return ok;
}

void SessionImpl::ToValue(const sql::LocalVariable& v, const ColumnDesc& column, Value* out) {
  Prepared st;
  if (st.Prepare(db_, "SELECT ?1") != SQLITE_OK) return;
  switch (v.kind) {
    case SQLITE_INTEGER:
      sqlite3_bind_int64(st.get(), 1, v.integer);
      break;
    case SQLITE_FLOAT:
      sqlite3_bind_double(st.get(), 1, v.real);
      break;
    case SQLITE_TEXT:
      sqlite3_bind_text(st.get(), 1, v.bytes.data(), static_cast<int>(v.bytes.size()),
                        SQLITE_TRANSIENT);
      break;
    case SQLITE_BLOB:
      sqlite3_bind_blob(st.get(), 1, v.bytes.data(), static_cast<int>(v.bytes.size()),
                        SQLITE_TRANSIENT);
      break;
    default:
      break;
  }
  if (sqlite3_step(st.get()) == SQLITE_ROW) {
    FillValue(st.get(), 0, column, out, 0, kNoSource, false, false);
  }
}

SessionImpl::Flow SessionImpl::RunReturn(const Stmt& stmt, ResultSink& sink) {
  if (stmt.args.empty()) return Flow::kReturn;
  Message error;
  bool abort = false;
  if (function_depth_ > 0) {
    sql::LocalVariable v;
    v.type = function_returns_;
    if (!AssignVariable(*stmt.args[0], &v, &error, &abort)) {
      return Failed(sink, stmt, error, 0, abort);
    }
    function_result_ = std::move(v);
    return Flow::kReturn;
  }
  sql::LocalVariable v;
  v.type = sql::IntType(TypeId::kInt);
  if (!AssignVariable(*stmt.args[0], &v, &error, &abort)) {
    return Failed(sink, stmt, error, 0, abort);
  }
  return_status_ = v.kind == SQLITE_INTEGER ? static_cast<int32_t>(v.integer) : 0;
  if (v.kind == SQLITE_NULL) {
    Message m = MakeMessage(
        0, 1, 0,
        "The '" + current_module_ +
            "' procedure attempted to return a status of NULL, which is not allowed. A status "
            "of 0 will be returned instead.");
    m.line = stmt.line;
    sink.Send(m);
  }
  return Flow::kReturn;
}

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

// ---- scalar functions ---------------------------------------------------------------

void SessionImpl::CallFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc < 1 || sqlite3_value_type(argv[0]) != SQLITE_TEXT) {
    sqlite3_result_error(ctx, "tdslite_udf: no function name", -1);
    return;
  }
  const std::string name(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])),
                         static_cast<size_t>(sqlite3_value_bytes(argv[0])));
  auto fail = [&](const Message& m) {
    const std::string e = sql::EncodeError(m.number, m.state, m.severity, m.text);
    sqlite3_result_error(ctx, e.c_str(), static_cast<int>(e.size()));
  };
  if (procedure_nesting_ >= kMaxNesting) return fail(NestingExceeded());
  std::shared_ptr<const sql::LoadedModule> m = sql::LoadModule(db_, name, database_);
  const Stmt* def = m ? m->definition() : nullptr;
  if (def == nullptr || m->info.type != "FN" ||
      def->column_defs.size() != static_cast<size_t>(argc - 1)) {
    return fail(MakeMessage(4121, 1, 16,
                            "Cannot find either column \"dbo\" or the user-defined function or "
                            "aggregate \"dbo." +
                                name + "\", or the name is ambiguous."));
  }
  // The function's own scope; the caller's statement is still running.
  sql::LocalVariables saved_locals = std::move(locals_);
  std::vector<std::string> saved_tables = std::move(table_variables_);
  const int64_t saved_time = functions_.statement_time;
  const int64_t saved_rowcount = last_rowcount_;
  const int64_t saved_error = last_error_;
  const int saved_try = try_depth_;
  const ColumnType saved_returns = function_returns_;
  std::optional<sql::LocalVariable> saved_result = std::move(function_result_);
  locals_.clear();
  table_variables_.clear();
  try_depth_ = 0;
  for (size_t j = 0; j < def->column_defs.size(); ++j) {
    sql::LocalVariable v;
    v.type = def->column_defs[j].type;
    StoreValue(argv[j + 1], &v);
    locals_[def->column_defs[j].name] = std::move(v);
  }
  function_returns_ = def->returns;
  function_result_.reset();
  ++function_depth_;
  ++procedure_nesting_;
  FunctionSink quiet;
  Flow flow = RunStatements(def->body, quiet);
  --procedure_nesting_;
  --function_depth_;
  std::optional<sql::LocalVariable> result = std::move(function_result_);
  DropTables(&table_variables_);
  locals_ = std::move(saved_locals);
  table_variables_ = std::move(saved_tables);
  functions_.statement_time = saved_time;
  last_rowcount_ = saved_rowcount;
  last_error_ = saved_error;
  try_depth_ = saved_try;
  function_returns_ = saved_returns;
  function_result_ = std::move(saved_result);
  if (quiet.error) return fail(*quiet.error);
  if (pending_ && flow == Flow::kThrow) {
    Message e = MakeMessage(pending_->number, static_cast<uint8_t>(pending_->state),
                            static_cast<uint8_t>(pending_->severity), pending_->message);
    pending_.reset();
    return fail(e);
  }
  if (result) {
    ResultOf(ctx, *result);
  } else {
    sqlite3_result_null(ctx);
  }
}

// ---- insert ... exec ------------------------------------------------------------------

namespace {

// Keeps the rows of a procedure's result sets (their values as SQLite
// stores them); messages go on to the client.
class CaptureSink : public ForwardingSink {
 public:
  static constexpr size_t kMaxBytes = size_t{64} << 20;
  explicit CaptureSink(ResultSink& inner) : ForwardingSink(inner) {}
  void Columns(std::span<const ColumnDesc> columns) override {
    current_.assign(columns.begin(), columns.end());
    if (!set) {
      set = true;
      columns_ = current_;
      return;
    }
    // Later result sets widen the staging columns; a different kind of
    // value in a column is not taken.
    bool same = columns.size() == columns_.size();
    for (size_t i = 0; same && i < columns.size(); ++i) {
      ColumnType& t = columns_[i].type;
      same = columns[i].type.id == t.id;
      const ColumnType& u = columns[i].type;
      t.length = std::max(t.length, u.length);
      const int digits = std::max(t.precision - t.scale, u.precision - u.scale);
      t.scale = std::max(t.scale, u.scale);
      t.precision = static_cast<uint8_t>(std::min(38, digits + t.scale));
    }
    if (!same) refusal = "INSERT ... EXEC of result sets of different types";
  }
  bool Row(std::span<const Value> values) override {
    if (!refusal.empty()) return true;
    std::vector<sql::LocalVariable> row(values.size());
    for (size_t i = 0; i < values.size() && i < current_.size(); ++i) {
      if (!Store(values[i], current_[i].type, &row[i])) {
        refusal =
            "INSERT ... EXEC of date, time, datetime2, datetimeoffset or uniqueidentifier values";
        rows.clear();
        return true;
      }
      bytes_ += row[i].bytes.size() + sizeof(sql::LocalVariable);
    }
    if (bytes_ > kMaxBytes) {
      refusal = "INSERT ... EXEC of more than 64 MB of rows";
      rows.clear();
      return true;
    }
    rows.push_back(std::move(row));
    return !ForwardingSink::Cancelled();
  }
  void Finish(const Done&) override {}
  void ReturnStatus(int32_t) override {}
  void ReturnValue(const ReturnedValue&) override {}
  bool AcceptsLobSource() const override { return false; }

  const std::vector<ColumnDesc>& columns() const { return columns_; }
  bool set = false;
  std::vector<std::vector<sql::LocalVariable>> rows;
  std::string refusal;

 private:
  // False for a type whose value is not taken back into storage here.
  static bool Store(const Value& v, const ColumnType& type, sql::LocalVariable* out) {
    out->type = type;
    if (v.is_null) return true;
    switch (sql::StorageOf(type.id)) {
      case sql::Storage::kInteger:
      case sql::Storage::kMoney:
        out->kind = SQLITE_INTEGER;
        out->integer = v.i;
        break;
      case sql::Storage::kReal:
        out->kind = SQLITE_FLOAT;
        out->real = v.f;
        break;
      case sql::Storage::kDateTicks:
        out->kind = SQLITE_INTEGER;
        out->integer = sql::ToSerial(v.dt);
        break;
      case sql::Storage::kDecimalText:
        out->kind = SQLITE_TEXT;
        out->bytes = sql::FormatScaled(v.dec, type.scale);
        break;
      case sql::Storage::kText:
        out->kind = SQLITE_TEXT;
        out->bytes = v.bytes;
        break;
      case sql::Storage::kBlob:
        out->kind = SQLITE_BLOB;
        out->bytes = v.bytes;
        break;
      case sql::Storage::kWideTime:
      case sql::Storage::kOffsetText:
      case sql::Storage::kGuid:
        return false;
    }
    return true;
  }

  std::vector<ColumnDesc> columns_;  // the staging table's
  std::vector<ColumnDesc> current_;  // the result set being read
  size_t bytes_ = 0;
};

void Bind(sqlite3_stmt* st, int i, const sql::LocalVariable& v) {
  switch (v.kind) {
    case SQLITE_INTEGER:
      sqlite3_bind_int64(st, i, v.integer);
      break;
    case SQLITE_FLOAT:
      sqlite3_bind_double(st, i, v.real);
      break;
    case SQLITE_TEXT:
      sqlite3_bind_text(st, i, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
      break;
    case SQLITE_BLOB:
      sqlite3_bind_blob(st, i, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
      break;
    default:
      sqlite3_bind_null(st, i);
  }
}

}  // namespace

SessionImpl::Flow SessionImpl::RunInsertExec(const Stmt& stmt, ResultSink& sink) {
  const std::optional<sql::CatalogTable> target = sql::LookupTable(db_, stmt.table);
  if (!target) {
    return Failed(sink, stmt, MakeMessage(208, 1, 16, "Invalid object name '" + stmt.table + "'."),
                  kCmdInsert, true);
  }
  CaptureSink capture(sink);
  Flow flow = RunExec(*stmt.exec, capture, nullptr);
  if (flow != Flow::kNext) return flow;
  if (!capture.refusal.empty()) {
    return Failed(sink, stmt,
                  MakeMessage(sql::kNotSupportedNumber, 1, 16,
                              capture.refusal + " is not supported by tdslite."),
                  kCmdInsert, false);
  }
  if (!capture.set) return Counted(sink, kCmdInsert, 0);
  size_t expected = stmt.columns.size();
  if (expected == 0) {
    for (const sql::CatalogColumn& c : target->columns) {
      if (!c.identity) ++expected;
    }
  }
  if (capture.columns().size() != expected) {
    return Failed(sink, stmt,
                  MakeMessage(213, 7, 16,
                              "Column name or number of supplied values does not match table "
                              "definition."),
                  kCmdInsert, false);
  }
  // The rows wait in a table of this connection, typed as the result was,
  // and go into the target as insert ... select takes them.
  const std::string staging = "#__tdslite_insert_exec";
  Stmt create;
  create.kind = StmtKind::kCreateTable;
  create.table = staging;
  for (size_t i = 0; i < capture.columns().size(); ++i) {
    sql::ColumnDef def;
    def.name = "c" + std::to_string(i + 1);
    def.type = capture.columns()[i].type;
    create.column_defs.push_back(std::move(def));
  }
  sql::SessionVars vars = Vars();
  sql::Compiler compiler(db_, vars);
  std::string ddl;
  sql::CatalogTable table;
  CompileError err;
  if (!compiler.CompileCreateTable(create, &ddl, &table, &err)) {
    return CompileFailed(sink, stmt, err, kCmdInsert);
  }
  std::string why;
  std::vector<std::string> staged{staging};
  DropTables(&staged);
  int rc = sqlite3_exec(db_, ddl.c_str(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && !sql::AddTable(db_, table, &why)) rc = SQLITE_ERROR;
  std::string insert = "INSERT INTO temp." + sql::QuoteIdent(staging) + " VALUES (";
  for (size_t i = 0; i < capture.columns().size(); ++i) insert += i == 0 ? "?" : ",?";
  insert += ")";
  Prepared st;
  if (rc == SQLITE_OK) rc = st.Prepare(db_, insert);
  for (size_t r = 0; rc == SQLITE_OK && r < capture.rows.size(); ++r) {
    for (size_t i = 0; i < capture.rows[r].size(); ++i) {
      Bind(st.get(), static_cast<int>(i) + 1, capture.rows[r][i]);
    }
    const int done = sqlite3_step(st.get());
    sqlite3_reset(st.get());
    if (done != SQLITE_DONE) rc = done;
  }
  st.Reset();
  Flow result;
  if (rc != SQLITE_OK) {
    result = Failed(sink, stmt, SqliteError(rc), kCmdInsert, false);
  } else {
    std::string text =
        "insert into " + (stmt.table[0] == '@' ? stmt.table : QuoteName(stmt.table, false));
    if (!stmt.columns.empty()) {
      text += " (";
      for (size_t i = 0; i < stmt.columns.size(); ++i) {
        text += (i ? ", " : "") + QuoteName(stmt.columns[i], false);
      }
      text += ")";
    }
    text += " select * from [" + staging + "]";
    sql::ParseResult parsed = sql::ParseBatch(text, database_);
    if (!parsed.ok() || parsed.statements.size() != 1) {
      result = Failed(sink, stmt,
                      MakeMessage(sql::kNotSupportedNumber, 1, 16,
                                  "INSERT ... EXEC into this table is not supported by tdslite."),
                      kCmdInsert, false);
    } else {
      parsed.statements[0].line = stmt.line;
      result = RunDml(parsed.statements[0], sink);
    }
  }
  staged.assign(1, staging);
  DropTables(&staged);
  return result;
}

}  // namespace tdslite::session_detail
