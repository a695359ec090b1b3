// Calls of user-defined scalar functions from SQLite.
#include "session_impl.h"
#include "tdslite/sql/modules.h"

namespace tdslite::session_detail {

namespace {

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

}  // namespace

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

}  // namespace tdslite::session_detail
