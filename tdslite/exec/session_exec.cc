// EXEC of a stored procedure: its arguments, the run of its body, RETURN.
#include "session_impl.h"
#include "tdslite/sql/modules.h"

namespace tdslite::session_detail {

namespace {

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

bool IsExecuteSql(const std::string& name) {
  return EqualsIgnoreCase(name, "sp_executesql") || EqualsIgnoreCase(name, "sys.sp_executesql");
}

}  // namespace

// A name as T-SQL: in brackets; with `parts`, each part of a dotted name.
std::string QuoteName(std::string_view name, bool parts) {
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
  const int64_t trancount_before = trancount_;
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
  if (module.kind == ModuleKind::kProcedure && trancount_ != trancount_before) {
    // The transaction stays as the procedure left it; the caller is told.
    ModuleSink named(sink, module.name);
    named.Send(MakeMessage(266, 2, 16,
                           "Transaction count after EXECUTE indicates a mismatching number of "
                           "BEGIN and COMMIT statements. Previous count = " +
                               std::to_string(trancount_before) +
                               ", current count = " + std::to_string(trancount_) + "."));
    last_error_ = 266;
  }
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

}  // namespace tdslite::session_detail
