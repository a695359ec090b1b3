// Local variables, WHILE loops, TRY/CATCH and THROW: the statements that
// steer a batch rather than touch data.
#include <set>

#include "session_impl.h"

namespace tdslite::session_detail {

namespace {

// Every variable the statements declare, depth first; the first one declared
// twice, if any.
const std::string* FindRedeclared(const std::vector<Stmt>& statements, std::set<std::string>* seen,
                                  int depth) {
  if (depth > 200) return nullptr;  // the parser bounds nesting well below this
  for (const Stmt& s : statements) {
    if (s.kind == StmtKind::kDeclare && !s.table.empty()) {
      if (!seen->insert(s.table).second) return &s.table;
    } else if (s.kind == StmtKind::kDeclare) {
      for (const sql::ColumnDef& d : s.column_defs) {
        if (!seen->insert(d.name).second) return &d.name;
      }
    }
    if (const std::string* d = FindRedeclared(s.body, seen, depth + 1)) return d;
    if (const std::string* d = FindRedeclared(s.else_body, seen, depth + 1)) return d;
  }
  return nullptr;
}

void StoreColumn(sqlite3_stmt* st, int i, sql::LocalVariable* v) {
  v->kind = sqlite3_column_type(st, i);
  v->integer = 0;
  v->real = 0;
  v->bytes.clear();
  switch (v->kind) {
    case SQLITE_INTEGER:
      v->integer = sqlite3_column_int64(st, i);
      break;
    case SQLITE_FLOAT:
      v->real = sqlite3_column_double(st, i);
      break;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* p = v->kind == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(st, i))
                                             : sqlite3_column_blob(st, i);
      const int n = sqlite3_column_bytes(st, i);
      if (p != nullptr && n > 0)
        v->bytes.assign(static_cast<const char*>(p), static_cast<size_t>(n));
      break;
    }
    default:
      v->kind = SQLITE_NULL;
  }
}

}  // namespace

bool SessionImpl::CheckDeclarations(const std::vector<Stmt>& statements, ResultSink& sink,
                                    std::set<std::string>* seeded) {
  std::set<std::string> seen;
  if (seeded != nullptr) seen = *seeded;
  const std::string* twice = FindRedeclared(statements, &seen, 0);
  if (twice == nullptr) return true;
  Message m = MakeMessage(134, 1, 15,
                          "The variable name '" + *twice +
                              "' has already been declared. Variable names must be unique "
                              "within a query batch or stored procedure.");
  sink.Send(m);
  last_error_ = m.number;
  Finish(sink, kDoneError, 0, 0);
  return false;
}

sql::LocalVariable* SessionImpl::FindVariable(const std::string& name) {
  auto it = locals_.find(name);
  return it == locals_.end() ? nullptr : &it->second;
}

bool SessionImpl::AssignVariable(const sql::Expr& expr, sql::LocalVariable* target, Message* error,
                                 bool* abort) {
  sql::SessionVars vars = Vars();
  sql::Compiler compiler(db_, vars);
  std::string q;
  sql::ExprType t;
  CompileError err;
  if (!compiler.CompileValue(expr, target->type, &q, &t, &err)) {
    *error = err.message;
    *abort = err.abort_batch;
    return false;
  }
  Prepared st;
  int rc = st.Prepare(db_, q);
  if (rc == SQLITE_OK) rc = sqlite3_step(st.get());
  if (rc != SQLITE_ROW) {
    *error = SqliteError(rc);
    *abort = AbortsBatch(error->number);
    return false;
  }
  StoreColumn(st.get(), 0, target);
  return true;
}

SessionImpl::Flow SessionImpl::Assigned() {
  last_error_ = 0;
  last_rowcount_ = 1;
  return Flow::kNext;
}

SessionImpl::Flow SessionImpl::RunDeclare(const Stmt& stmt, ResultSink& sink) {
  if (!stmt.table.empty()) {
    // Run again (in a loop), the table stays as it is.
    for (const std::string& t : table_variables_) {
      if (t == stmt.table) return Flow::kNext;
    }
    return RunCreateTable(stmt, sink);
  }
  for (const sql::ColumnDef& d : stmt.column_defs) {
    sql::LocalVariable* v = FindVariable(d.name);
    if (v == nullptr) {
      sql::LocalVariable fresh;
      fresh.type = d.type;
      v = &locals_.emplace(d.name, std::move(fresh)).first->second;
    }
    // Run again (in a loop), a declaration keeps the value unless it sets one.
    if (!d.default_value) continue;
    Message error;
    bool abort = false;
    sql::LocalVariable value = *v;
    if (!AssignVariable(*d.default_value, &value, &error, &abort)) {
      return Failed(sink, stmt, error, 0, abort);
    }
    *FindVariable(d.name) = std::move(value);
  }
  return stmt.column_defs.size() == 1 && !stmt.column_defs[0].default_value ? Flow::kNext
                                                                            : Assigned();
}

SessionImpl::Flow SessionImpl::RunSetVariable(const Stmt& stmt, ResultSink& sink) {
  sql::LocalVariable* v = FindVariable(stmt.name);
  if (v == nullptr) {
    return Failed(
        sink, stmt,
        MakeMessage(137, 1, 15, "Must declare the scalar variable \"" + stmt.name + "\"."), 0,
        true);
  }
  sql::LocalVariable value = *v;
  Message error;
  bool abort = false;
  if (!AssignVariable(*stmt.args[0], &value, &error, &abort)) {
    return Failed(sink, stmt, error, kCmdSet, abort);
  }
  *FindVariable(stmt.name) = std::move(value);
  return Assigned();
}

SessionImpl::Flow SessionImpl::RunSelectAssign(const Stmt& stmt, ResultSink& sink) {
  const sql::Select& select = *stmt.select;
  for (const sql::SelectItem& item : select.items) {
    if (item.assign.empty()) {
      return Failed(sink, stmt,
                    MakeMessage(141, 1, 15,
                                "A SELECT statement that assigns a value to a variable must not "
                                "be combined with data-retrieval operations."),
                    kCmdSelect, true);
    }
  }
  if (!select.unions.empty() || !select.into.empty()) {
    return Failed(sink, stmt,
                  MakeMessage(sql::kNotSupportedNumber, 1, 16,
                              "A SELECT that assigns variables with UNION or INTO is not "
                              "supported by tdslite."),
                  kCmdSelect, true);
  }
  sql::SessionVars vars = Vars();
  sql::Compiler compiler(db_, vars);
  sql::CompiledSelect q;
  CompileError err;
  if (!compiler.CompileSelect(select, &q, &err)) return CompileFailed(sink, stmt, err, kCmdSelect);
  Prepared st;
  int rc = st.Prepare(db_, q.sql);
  if (rc != SQLITE_OK) return Failed(sink, stmt, SqliteError(rc), kCmdSelect, true);
  // The values land only once the statement succeeded.
  std::vector<sql::LocalVariable> values;
  values.reserve(select.items.size());
  for (const sql::SelectItem& item : select.items) values.push_back(*FindVariable(item.assign));
  uint64_t rows = 0;
  const std::optional<Flow> ended = StepRows(
      stmt, sink, st,
      [&] {
        for (size_t i = 0; i < values.size(); ++i)
          StoreColumn(st.get(), static_cast<int>(i), &values[i]);
        return true;
      },
      &rows);
  if (ended) return *ended;
  for (size_t i = 0; i < values.size(); ++i) *FindVariable(select.items[i].assign) = values[i];
  return Counted(sink, kCmdSelect, rows);
}

SessionImpl::Flow SessionImpl::RunSelectInto(const Stmt& stmt, ResultSink& sink) {
  const sql::Select& select = *stmt.select;
  sql::SessionVars vars = Vars();
  sql::Compiler compiler(db_, vars);
  sql::CompiledSelect q;
  CompileError err;
  if (!compiler.CompileSelect(select, &q, &err)) return CompileFailed(sink, stmt, err, kCmdSelect);
  // The new table: the result's column names, types, nullability and identity.
  Stmt create;
  create.kind = StmtKind::kCreateTable;
  create.line = stmt.line;
  create.table = select.into;
  for (size_t i = 0; i < q.columns.size(); ++i) {
    const ColumnDesc& c = q.columns[i];
    if (c.name.empty()) {
      return Failed(sink, stmt,
                    MakeMessage(1038, 5, 15,
                                "An object or column name is missing or empty. For SELECT INTO "
                                "statements, verify each column has a name. For other "
                                "statements, look for empty alias names. Aliases defined as \"\" "
                                "or [] are not allowed. Change the alias to a valid name."),
                    kCmdSelect, false);
    }
    sql::ColumnDef def;
    def.name = c.name;
    def.type = c.type;
    def.nullable = c.nullable && !c.identity;
    def.null_specified = true;
    def.identity = c.identity;
    create.column_defs.push_back(std::move(def));
  }
  std::string ddl;
  sql::CatalogTable table;
  if (!compiler.CompileCreateTable(create, &ddl, &table, &err)) {
    return CompileFailed(sink, stmt, err, kCmdSelect);
  }
  if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), kCmdSelect, false);
  int rc = sqlite3_exec(db_, ddl.c_str(), nullptr, nullptr, nullptr);
  std::string why;
  if (rc == SQLITE_OK && !sql::AddTable(db_, table, &why)) rc = SQLITE_ERROR;
  std::string insert = std::string("INSERT INTO ") + sql::SchemaOf(table.name) + "." +
                       sql::QuoteIdent(table.name) + " VALUES (";
  for (size_t i = 0; i < q.columns.size(); ++i) insert += i == 0 ? "?" : ",?";
  insert += ")";
  Prepared source;
  Prepared target;
  if (rc == SQLITE_OK) rc = source.Prepare(db_, q.sql);
  if (rc == SQLITE_OK) rc = target.Prepare(db_, insert);
  uint64_t rows = 0;
  while (rc == SQLITE_OK) {
    if (rowcount_ > 0 && rows >= static_cast<uint64_t>(rowcount_)) break;
    int step = sqlite3_step(source.get());
    if (step == SQLITE_DONE) break;
    if (step != SQLITE_ROW) {
      rc = step;
      break;
    }
    for (size_t i = 0; i < q.columns.size(); ++i) {
      sqlite3_bind_value(target.get(), static_cast<int>(i) + 1,
                         sqlite3_column_value(source.get(), static_cast<int>(i)));
    }
    int done = sqlite3_step(target.get());
    sqlite3_reset(target.get());
    if (done != SQLITE_DONE) {
      rc = done;
      break;
    }
    ++rows;
  }
  if (rc != SQLITE_OK) {
    Message m = SqliteError(rc);
    source.Reset();
    target.Reset();
    Undo();
    CheckTransactionAlive(sink);
    return Failed(sink, stmt, m, kCmdSelect, AbortsBatch(m.number));
  }
  source.Reset();
  target.Reset();
  Release();
  if (table.name.rfind("##", 0) == 0) global_temps_.push_back(table.name);
  return Counted(sink, kCmdSelect, rows);
}

SessionImpl::Flow SessionImpl::RunWhile(const Stmt& stmt, ResultSink& sink) {
  for (;;) {
    // A loop that never ends runs until the client cancels, as on SQL Server.
    if (sink.Cancelled()) return Flow::kStop;
    functions_.statement_time = sql::CurrentDateTime();
    bool holds = false;
    Flow failed = Flow::kNext;
    if (!Condition(stmt, &holds, sink, &failed, kCmdIf)) return failed;
    if (!holds) return Flow::kNext;
    Flow flow = RunStatements(stmt.body, sink);
    if (flow == Flow::kBreak) return Flow::kNext;
    if (flow == Flow::kContinue || flow == Flow::kNext) continue;
    return flow;
  }
}

bool SessionImpl::Catchable(const Message& m, bool compile) const {
  if (m.severity <= 10 || m.severity >= 20) return false;
  // tdslite's refusals stay visible: a CATCH block must not hide them.
  if (m.number == sql::kNotSupportedNumber || m.number == sql::kNotSupportedNumber + 1) {
    return false;
  }
  if (!compile) return true;
  // Names resolved when the statement starts fail at the level of the batch.
  switch (m.number) {
    case 102:
    case 137:
    case 156:
    case 207:
    case 208:
    case 4104:
      return false;
    default:
      return true;
  }
}

SessionImpl::Flow SessionImpl::RunTry(const Stmt& stmt, ResultSink& sink) {
  ++try_depth_;
  Flow flow = RunStatements(stmt.body, sink);
  --try_depth_;
  if (flow != Flow::kThrow) return flow;
  std::optional<sql::CaughtError> outer = std::move(caught_);
  caught_ = std::move(pending_);
  pending_.reset();
  flow = RunStatements(stmt.else_body, sink);
  caught_ = std::move(outer);
  return flow;
}

SessionImpl::Flow SessionImpl::RunThrow(const Stmt& stmt, ResultSink& sink) {
  Message m;
  if (stmt.args.empty()) {
    // throw; rethrows the error the CATCH block handles.
    if (!caught_) return Flow::kNext;
    m = MakeMessage(caught_->number, caught_->state, caught_->severity, caught_->message);
    return Failed(sink, stmt, m, kCmdRaiserror, true);
  }
  std::optional<std::string> text[3];
  int64_t integer[3] = {0, 0, 0};
  for (size_t i = 0; i < 3; ++i) {
    ColumnType type;
    Message error;
    bool abort = false;
    std::optional<ColumnType> to;
    if (i != 1) to = sql::IntType(TypeId::kInt);
    if (!Evaluate(stmt, *stmt.args[i], to, &text[i], &type, &integer[i], &error, &abort)) {
      return Failed(sink, stmt, error, kCmdRaiserror, abort);
    }
    if (i != 1 && !text[i]) {
      return Failed(sink, stmt,
                    MakeMessage(35100, 10, 16,
                                "Error number " + std::string("NULL") +
                                    " in the THROW statement is outside the valid range. Specify "
                                    "an error number in the valid range of 50000 to 2147483647."),
                    kCmdRaiserror, true);
    }
  }
  if (integer[0] < 50000) {
    return Failed(sink, stmt,
                  MakeMessage(35100, 10, 16,
                              "Error number " + std::to_string(integer[0]) +
                                  " in the THROW statement is outside the valid range. Specify "
                                  "an error number in the valid range of 50000 to 2147483647."),
                  kCmdRaiserror, true);
  }
  if (integer[2] < 0 || integer[2] > 255) {
    return Failed(sink, stmt,
                  MakeMessage(35100, 11, 16,
                              "The THROW statement's state " + std::to_string(integer[2]) +
                                  " is outside the valid range of 0 to 255."),
                  kCmdRaiserror, true);
  }
  m = MakeMessage(static_cast<int>(integer[0]), static_cast<int>(integer[2]), 16,
                  text[1].value_or(""));
  return Failed(sink, stmt, m, kCmdRaiserror, true);
}

}  // namespace tdslite::session_detail
