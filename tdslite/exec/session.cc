// A client's session: runs batches statement by statement over its own
// SQLite connection and reports results, messages and DONEs as SQL Server
// would.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "engine_state.h"
#include "session.h"
#include "tdslite/common/text_pointer.h"
#include "tdslite/procs/procs.h"
#include "tdslite/sql/catalog.h"
#include "tdslite/sql/compile.h"
#include "tdslite/sql/functions.h"
#include "tdslite/sql/parser.h"
#include "tdslite/sql/types.h"
#include "tdslite/sql/values.h"
#include "text_write.h"

namespace tdslite {
namespace {

using sql::CompileError;
using sql::Stmt;
using sql::StmtKind;

// CurCmd values SQL Server puts in DONE tokens.
constexpr uint16_t kCmdSelect = 0xC1;
constexpr uint16_t kCmdInsert = 0xC3;
constexpr uint16_t kCmdDelete = 0xC4;
constexpr uint16_t kCmdUpdate = 0xC5;
constexpr uint16_t kCmdCreateTable = 0xC6;
constexpr uint16_t kCmdDropTable = 0xC7;
constexpr uint16_t kCmdCreateIndex = 0xCA;
constexpr uint16_t kCmdTruncate = 0x0118;
constexpr uint16_t kCmdBeginTran = 0xD4;
constexpr uint16_t kCmdCommit = 0xD5;
constexpr uint16_t kCmdRollback = 0xD2;
constexpr uint16_t kCmdSet = 0xB9;
constexpr uint16_t kCmdPrint = 0xA9;
constexpr uint16_t kCmdRaiserror = 0xAC;
constexpr uint16_t kCmdUse = 0xC0;
constexpr uint16_t kCmdExec = 0xE0;
constexpr uint16_t kCmdIf = 0xC2;

constexpr int32_t kDefaultTextSize = 4096;
const std::string kNoSource;
constexpr int32_t kUnlimitedTextSize = 2147483647;

// Errors SQL Server treats as ending the whole batch when they happen while
// a statement runs (conversion failures).
bool AbortsBatch(int number) {
  switch (number) {
    case 245:
    case 241:
    case 8114:
    case 235:
    case 529:
    case 8116:
      return true;
    default:
      return false;
  }
}

Message MakeMessage(int number, int state, int severity, std::string text) {
  Message m;
  m.number = number;
  m.state = static_cast<uint8_t>(state);
  m.severity = static_cast<uint8_t>(severity);
  m.text = std::move(text);
  return m;
}

// RAII for one prepared statement.
class Prepared {
 public:
  Prepared() = default;
  ~Prepared() { sqlite3_finalize(stmt_); }
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;
  int Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
  }
  sqlite3_stmt* get() const { return stmt_; }
  void Reset() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class SessionImpl : public Session {
 public:
  SessionImpl(std::shared_ptr<EngineState> state, const SessionInfo& info, sqlite3* db)
      : state_(std::move(state)),
        info_(info),
        db_(db),
        database_(state_->config.database_name),
        // ODBC-flagged logins start without a text size limit, DB-Library
        // ones at 4096 bytes, as SQL Server does.
        textsize_(info.odbc ? kUnlimitedTextSize : kDefaultTextSize) {}

  ~SessionImpl() override {
    if (trancount_ > 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }

  sql::FunctionContext* function_context() { return &functions_; }

  void ExecuteBatch(std::string_view text, ResultSink& sink) override {
    text_write_.reset();
    if (IsWriteTextBulk(text)) return StartWriteText(text, sink);
    sql::ParseResult parsed = sql::ParseBatch(text);
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
    CountingSink counting(sink);
    Flow flow = RunStatements(parsed.statements, counting);
    // An IF whose branch did not run leaves nothing to report: the batch
    // still ends with a DONE.
    if (flow != Flow::kStop && counting.finishes == 0) sink.Finish(Done{});
  }

  void Transaction(TransactionEvent event, ResultSink& sink) override {
    Stmt s;
    s.kind = event == TransactionEvent::kBegin    ? StmtKind::kBeginTran
             : event == TransactionEvent::kCommit ? StmtKind::kCommit
                                                  : StmtKind::kRollback;
    Execute(s, sink);
  }

  int32_t TextSize() const override { return textsize_; }
  const std::string& DatabaseName() const override { return database_; }
  std::unique_ptr<TextWrite> TakeTextWrite() override { return std::move(text_write_); }

 private:
  // `writetext bulk ...`: checks the target and waits for the BULK message.
  void StartWriteText(std::string_view text, ResultSink& sink) {
    Message error;
    text_write_ = tdslite::StartWriteText(db_, text, &error);
    Done d;
    if (!text_write_) {
      sink.Send(error);
      last_error_ = error.number;
      d.status = kDoneError;
    }
    sink.Finish(d);
  }

  std::unique_ptr<TextWrite> text_write_;

  enum class Flow { kNext, kAbort, kStop };

  // Passes everything on and counts the DONEs.
  class CountingSink : public ResultSink {
   public:
    explicit CountingSink(ResultSink& inner) : inner_(inner) {}
    void Columns(std::span<const ColumnDesc> c) override { inner_.Columns(c); }
    bool Row(std::span<const Value> v) override { return inner_.Row(v); }
    void Send(const Message& m) override { inner_.Send(m); }
    void Finish(const Done& d) override {
      ++finishes;
      inner_.Finish(d);
    }
    void ReturnStatus(int32_t s) override { inner_.ReturnStatus(s); }
    void DatabaseChanged(std::string_view o, std::string_view n) override {
      inner_.DatabaseChanged(o, n);
    }
    void TransactionChanged(TransactionEvent e, uint64_t d) override {
      inner_.TransactionChanged(e, d);
    }
    bool Cancelled() override { return inner_.Cancelled(); }
    bool AcceptsLobSource() const override { return inner_.AcceptsLobSource(); }
    int finishes = 0;

   private:
    ResultSink& inner_;
  };

  Flow RunStatements(const std::vector<Stmt>& statements, ResultSink& sink) {
    for (const Stmt& stmt : statements) {
      if (sink.Cancelled()) return Flow::kStop;
      functions_.statement_time = sql::CurrentDateTime();
      Flow flow = Execute(stmt, sink);
      functions_.statement_time = 0;
      if (flow != Flow::kNext) return flow;
    }
    return Flow::kNext;
  }

  Flow RunIf(const Stmt& stmt, ResultSink& sink) {
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

  sql::SessionVars Vars() const {
    sql::SessionVars v;
    v.rowcount = last_rowcount_;
    v.trancount = trancount_;
    v.error = last_error_;
    v.spid = info_.spid;
    v.textsize = textsize_;
    v.identity = identity_;
    v.database = database_;
    v.server = state_->config.server_name;
    v.login = info_.login;
    v.app = info_.app_name;
    v.host = info_.host_name;
    v.version = std::string("tdslite 0.1.0 - a TDS server over SQLite ") + sqlite3_libversion();
    return v;
  }

  void Finish(ResultSink& sink, uint16_t status, uint16_t cmd, uint64_t count) {
    Done d;
    d.status = status;
    d.current_command = cmd;
    d.row_count = count;
    sink.Finish(d);
  }

  // A statement without a row count ended well.
  Flow Ok(ResultSink& sink, uint16_t cmd) {
    last_error_ = 0;
    // SET, USE, PRINT, RAISERROR, transactions and DDL leave @@rowcount 0.
    last_rowcount_ = 0;
    Finish(sink, kDoneFinal, cmd, 0);
    return Flow::kNext;
  }

  // A statement that affected or returned `count` rows ended well.
  Flow Counted(ResultSink& sink, uint16_t cmd, uint64_t count) {
    last_error_ = 0;
    last_rowcount_ = static_cast<int64_t>(count);
    Finish(sink, nocount_ ? kDoneFinal : kDoneCount, cmd, count);
    return Flow::kNext;
  }

  // A statement failed: its error (and 3621 when a data-changing statement
  // was terminated), then its DONE with the error bit.
  Flow Failed(ResultSink& sink, const Stmt& stmt, Message m, uint16_t cmd, bool abort_batch,
              bool terminated = false) {
    m.line = stmt.line;
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

  Flow CompileFailed(ResultSink& sink, const Stmt& stmt, const CompileError& e, uint16_t cmd) {
    return Failed(sink, stmt, e.message, cmd, e.abort_batch);
  }

  // The message for a failed SQLite call.
  Message SqliteError(int rc) {
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
    if (primary == SQLITE_FULL) {
      return MakeMessage(1105, 2, 17,
                         "Could not allocate space for object in database '" + database_ +
                             "' because the filegroup is full.");
    }
    return MakeMessage(sql::kNotSupportedNumber + 1, 1, 16,
                       std::string("tdslite could not run the statement: ") + text);
  }

  // Statement atomicity: every statement that changes data runs inside a
  // savepoint, so that a failing statement leaves nothing behind.
  bool Savepoint() {
    return sqlite3_exec(db_, "SAVEPOINT tdslite_statement", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  void Release() { sqlite3_exec(db_, "RELEASE tdslite_statement", nullptr, nullptr, nullptr); }
  void Undo() {
    sqlite3_exec(db_, "ROLLBACK TO tdslite_statement", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "RELEASE tdslite_statement", nullptr, nullptr, nullptr);
  }

  // SQLite ends a transaction by itself on some errors; keep the count true.
  void CheckTransactionAlive(ResultSink& sink) {
    if (trancount_ > 0 && sqlite3_get_autocommit(db_) != 0) {
      trancount_ = 0;
      sink.TransactionChanged(TransactionEvent::kRollback, 0);
    }
  }

  Flow Execute(const Stmt& stmt, ResultSink& sink) {
    switch (stmt.kind) {
      case StmtKind::kSelect:
        return RunSelect(stmt, sink);
      case StmtKind::kInsert:
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
        return RunSet(stmt, sink);
      case StmtKind::kPrint:
        return RunPrint(stmt, sink);
      case StmtKind::kRaiserror:
        return RunRaiserror(stmt, sink);
      case StmtKind::kUse:
        return RunUse(stmt, sink);
      case StmtKind::kExec:
        if (procs::IsSystemProcedure(stmt.name)) return RunSystemProcedure(stmt, sink);
        return Failed(
            sink, stmt,
            MakeMessage(2812, 62, 16, "Could not find stored procedure '" + stmt.name + "'."),
            kCmdExec, false);
      case StmtKind::kIf:
        return RunIf(stmt, sink);
      case StmtKind::kBlock:
        return RunStatements(stmt.body, sink);
      case StmtKind::kSaveTran:
      case StmtKind::kEmpty:
        return Ok(sink, 0);
    }
    return Ok(sink, 0);
  }

  // ---- system procedures (tdslite/procs) ------------------------------------

  // What the system procedures may use of this session.
  class ProcedureHostImpl : public procs::ProcedureHost {
   public:
    explicit ProcedureHostImpl(SessionImpl& session) : session_(session) {}
    sqlite3* Database() override { return session_.db_; }
    const ServerConfig& Config() const override { return session_.state_->config; }
    int32_t Spid() const override { return session_.info_.spid; }
    const std::string& DatabaseName() const override { return session_.database_; }
    int NestingLevel() const override { return session_.procedure_nesting_; }
    void RunBatch(std::string_view sql, ResultSink& sink) override {
      ++session_.procedure_nesting_;
      session_.ExecuteBatch(sql, sink);
      --session_.procedure_nesting_;
    }

   private:
    SessionImpl& session_;
  };

  // Evaluates the arguments and hands the call to tdslite/procs, which
  // reports everything up to the DONEPROC itself.
  Flow RunSystemProcedure(const Stmt& stmt, ResultSink& sink) {
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

  // Batches run by procedures (a web task's query) that enclose the current one.
  int procedure_nesting_ = 0;

  // ---- select ---------------------------------------------------------------

  // `source`: the base column of a text/image value read from a table row;
  // `streamed`: the statement yields only the image value's length, and the
  // value itself is read from the row.
  void FillValue(sqlite3_stmt* st, int i, const ColumnDesc& col, Value* v, int64_t rowid,
                 const std::string& source, bool streamed, bool sink_reads_lob) {
    v->text_pointer.clear();
    v->text_timestamp.clear();
    v->lob.reset();
    if (sqlite3_column_type(st, i) == SQLITE_NULL) {
      v->is_null = true;
      return;
    }
    v->is_null = false;
    if (streamed) {
      v->bytes.clear();
      v->text_pointer = MakeTextPointer(rowid, col.table, source);
      std::shared_ptr<LobSource> lob = OpenLobSource(db_, col.table, source, rowid);
      if (lob) v->text_timestamp = LobTimestamp(*lob);
      if (lob && !sink_reads_lob) {
        v->bytes.resize(static_cast<size_t>(lob->Size()));
        if (!lob->Read(0, v->bytes)) v->bytes.clear();
      } else {
        v->lob = std::move(lob);
      }
      return;
    }
    switch (sql::StorageOf(col.type.id)) {
      case sql::Storage::kInteger:
      case sql::Storage::kMoney:
        v->i = sqlite3_column_int64(st, i);
        break;
      case sql::Storage::kReal:
        v->f = sqlite3_column_double(st, i);
        break;
      case sql::Storage::kDateTicks:
        v->dt = sql::FromSerial(sqlite3_column_int64(st, i));
        break;
      case sql::Storage::kDecimalText: {
        const unsigned char* p = sqlite3_column_text(st, i);
        int n = sqlite3_column_bytes(st, i);
        sql::Int128 value = 0;
        int scale = 0;
        if (p != nullptr && sql::ParseCanonical(std::string_view(reinterpret_cast<const char*>(p),
                                                                 static_cast<size_t>(n)),
                                                &value, &scale)) {
          value = sql::Rescale(value, scale, col.type.scale);
        }
        v->dec = value;
        break;
      }
      case sql::Storage::kText: {
        const unsigned char* p = sqlite3_column_text(st, i);
        int n = sqlite3_column_bytes(st, i);
        v->bytes.assign(p != nullptr ? reinterpret_cast<const char*>(p) : "",
                        static_cast<size_t>(n));
        if (col.type.id == TypeId::kChar || col.type.id == TypeId::kNChar) {
          int64_t chars = sql::Utf8Length(v->bytes);
          if (chars < col.type.length)
            v->bytes.append(static_cast<size_t>(col.type.length - chars), ' ');
        }
        break;
      }
      case sql::Storage::kBlob: {
        const void* p = sqlite3_column_blob(st, i);
        int n = sqlite3_column_bytes(st, i);
        v->bytes.assign(p != nullptr ? static_cast<const char*>(p) : "", static_cast<size_t>(n));
        if (col.type.id == TypeId::kBinary &&
            static_cast<int32_t>(v->bytes.size()) < col.type.length) {
          v->bytes.append(static_cast<size_t>(col.type.length) - v->bytes.size(), '\0');
        }
        break;
      }
    }
    if (sql::IsLobType(col.type.id)) {
      // The timestamp is a digest of the stored bytes: it changes with them.
      v->text_pointer = MakeTextPointer(rowid, col.table, source.empty() ? col.name : source);
      TextDigest digest;
      digest.Add(v->bytes);
      v->text_timestamp = digest.Timestamp();
    }
  }

  Flow RunSelect(const Stmt& stmt, ResultSink& sink) {
    sql::SessionVars vars = Vars();
    sql::Compiler compiler(db_, vars);
    sql::CompiledSelect q;
    CompileError err;
    if (!compiler.CompileSelect(*stmt.select, &q, &err)) {
      return CompileFailed(sink, stmt, err, kCmdSelect);
    }
    Prepared st;
    int rc = st.Prepare(db_, q.sql);
    if (rc != SQLITE_OK) return Failed(sink, stmt, SqliteError(rc), kCmdSelect, true);
    sink.Columns(q.columns);
    std::vector<Value> values(q.columns.size());
    uint64_t rows = 0;
    const int ncols = static_cast<int>(q.columns.size());
    for (;;) {
      if (rowcount_ > 0 && rows >= static_cast<uint64_t>(rowcount_)) break;
      rc = sqlite3_step(st.get());
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) {
        Message m = SqliteError(rc);
        st.Reset();
        CheckTransactionAlive(sink);
        return Failed(sink, stmt, m, kCmdSelect, AbortsBatch(m.number));
      }
      for (int i = 0; i < ncols; ++i) {
        const int rowid_column =
            q.rowid_columns.empty() ? -1 : q.rowid_columns[static_cast<size_t>(i)];
        int64_t rowid = rowid_column >= 0 ? sqlite3_column_int64(st.get(), rowid_column) : 0;
        const size_t k = static_cast<size_t>(i);
        FillValue(st.get(), i, q.columns[k], &values[k], rowid,
                  k < q.source_columns.size() ? q.source_columns[k] : kNoSource,
                  k < q.streamed.size() && q.streamed[k] && rowid_column >= 0,
                  sink.AcceptsLobSource());
      }
      if (!sink.Row(values)) return Flow::kStop;
      ++rows;
      if (sink.Cancelled()) return Flow::kStop;
    }
    st.Reset();
    return Counted(sink, kCmdSelect, rows);
  }

  // ---- insert, update, delete --------------------------------------------------

  // Words the duplicate key message for a unique constraint failure.
  Message DuplicateKey(const sql::CompiledDml& dml, size_t statement, const std::string& text) {
    // "UNIQUE constraint failed: t.a, t.b"
    std::vector<std::string> cols;
    size_t colon = text.find(": ");
    std::string list = colon == std::string::npos ? "" : text.substr(colon + 2);
    size_t start = 0;
    while (start < list.size()) {
      size_t comma = list.find(", ", start);
      std::string part =
          list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      size_t dot = part.rfind('.');
      cols.push_back(dot == std::string::npos ? part : part.substr(dot + 1));
      if (comma == std::string::npos) break;
      start = comma + 2;
    }
    const sql::CatalogKey* key = nullptr;
    for (const sql::CatalogKey& k : dml.table.keys) {
      if (k.columns.size() != cols.size()) continue;
      bool same = true;
      for (size_t i = 0; i < cols.size(); ++i)
        same = same && sql::EqualsNoCase(k.columns[i], cols[i]);
      if (same) key = &k;
    }
    std::string value = KeyValue(dml, statement, key);
    std::string object = "dbo." + dml.table.name;
    if (key != nullptr && key->kind == 'I') {
      return MakeMessage(2601, 1, 14,
                         "Cannot insert duplicate key row in object '" + object +
                             "' with unique index '" + key->name +
                             "'. The duplicate key value is (" + value + ").");
    }
    std::string kind = key != nullptr && key->kind == 'U' ? "UNIQUE KEY" : "PRIMARY KEY";
    std::string name = key != nullptr ? key->name : "";
    return MakeMessage(2627, 1, 14,
                       "Violation of " + kind + " constraint '" + name +
                           "'. Cannot insert duplicate key in object '" + object +
                           "'. The duplicate key value is (" + value + ").");
  }

  // The key's values in the failing row, when the statement inserted known
  // rows; SQL Server prints them comma-separated.
  std::string KeyValue(const sql::CompiledDml& dml, size_t statement, const sql::CatalogKey* key) {
    if (key == nullptr) return "?";
    std::string probe = "SELECT ";
    std::vector<ColumnType> types;
    std::vector<int> indexes;
    for (size_t k = 0; k < key->columns.size(); ++k) {
      int idx = dml.table.FindColumn(key->columns[k]);
      if (idx < 0) return "?";
      indexes.push_back(idx);
      types.push_back(dml.table.columns[static_cast<size_t>(idx)].type);
    }
    if (statement < dml.row_values.size() && !dml.row_values[statement].empty()) {
      for (size_t k = 0; k < indexes.size(); ++k) {
        probe += (k ? "," : "") + dml.row_values[statement][static_cast<size_t>(indexes[k])];
      }
    } else if (!dml.insert_source.empty()) {
      // The first inserted key that is already in the table or comes twice.
      std::string keys, match;
      for (size_t k = 0; k < indexes.size(); ++k) {
        std::string v = "n.\"_v" + std::to_string(indexes[k]) + "\"";
        keys += (k ? "," : "") + v;
        match += std::string(k ? " AND " : "") + "e." +
                 sql::QuoteIdent(dml.table.columns[static_cast<size_t>(indexes[k])].name) + " = " +
                 v;
      }
      std::string rows = "(" + dml.insert_source + ") AS n";
      if (dml.updated_rows) {
        match += " AND e.rowid NOT IN (SELECT u.\"_rowid\" FROM (" + dml.insert_source + ") AS u)";
      }
      probe = "SELECT " + keys + " FROM " + rows + " WHERE EXISTS (SELECT 1 FROM " +
              sql::QuoteIdent(dml.table.name) + " AS e WHERE " + match + ") UNION ALL SELECT " +
              keys + " FROM " + rows + " GROUP BY " + keys + " HAVING count(*) > 1 LIMIT 1";
    } else {
      return "?";
    }
    Prepared st;
    if (st.Prepare(db_, probe) != SQLITE_OK || sqlite3_step(st.get()) != SQLITE_ROW) return "?";
    std::string out;
    for (size_t k = 0; k < types.size(); ++k) {
      if (k > 0) out += ", ";
      int i = static_cast<int>(k);
      if (sqlite3_column_type(st.get(), i) == SQLITE_NULL) {
        out += "<NULL>";
        continue;
      }
      switch (sql::StorageOf(types[k].id)) {
        case sql::Storage::kDateTicks:
          out += sql::FormatDateTime(sqlite3_column_int64(st.get(), i), 121,
                                     types[k].id == TypeId::kSmallDateTime)
                     .value_or("");
          break;
        case sql::Storage::kMoney:
          out += sql::FormatScaled(sqlite3_column_int64(st.get(), i), 4);
          break;
        case sql::Storage::kBlob: {
          const unsigned char* p =
              static_cast<const unsigned char*>(sqlite3_column_blob(st.get(), i));
          int n = sqlite3_column_bytes(st.get(), i);
          out += "0x";
          char hex[3];
          for (int b = 0; b < n && p != nullptr; ++b) {
            std::snprintf(hex, sizeof hex, "%02X", p[b]);
            out += hex;
          }
          break;
        }
        default: {
          const unsigned char* p = sqlite3_column_text(st.get(), i);
          out += p != nullptr ? reinterpret_cast<const char*>(p) : "";
        }
      }
    }
    return out;
  }

  Flow RunDml(const Stmt& stmt, ResultSink& sink) {
    const uint16_t cmd = stmt.kind == StmtKind::kInsert   ? kCmdInsert
                         : stmt.kind == StmtKind::kUpdate ? kCmdUpdate
                                                          : kCmdDelete;
    sql::SessionVars vars = Vars();
    sql::Compiler compiler(db_, vars);
    sql::CompiledDml dml;
    CompileError err;
    bool ok = stmt.kind == StmtKind::kInsert ? compiler.CompileInsert(stmt, &dml, &err)
              : stmt.kind == StmtKind::kUpdate
                  ? compiler.CompileUpdate(stmt, rowcount_, &dml, &err)
                  : compiler.CompileDelete(stmt, rowcount_, &dml, &err);
    if (!ok) return CompileFailed(sink, stmt, err, cmd);
    if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), cmd, false);
    uint64_t total = 0;
    int64_t last_rowid = 0;
    for (size_t i = 0; i < dml.statements.size(); ++i) {
      if (sink.Cancelled()) {
        Undo();
        return Flow::kStop;
      }
      Prepared st;
      int rc = st.Prepare(db_, dml.statements[i]);
      if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        }
      }
      if (rc != SQLITE_DONE && rc != SQLITE_OK) {
        int extended = sqlite3_extended_errcode(db_);
        Message m;
        bool terminated = true;
        bool undone = false;
        if (extended == SQLITE_CONSTRAINT_NOTNULL) {
          std::string text = sqlite3_errmsg(db_);
          size_t dot = text.rfind('.');
          std::string column = dot == std::string::npos ? text : text.substr(dot + 1);
          m = MakeMessage(515, 2, 16,
                          "Cannot insert the value NULL into column '" + column + "', table '" +
                              database_ + ".dbo." + dml.table.name +
                              "'; column does not allow nulls. " +
                              (cmd == kCmdUpdate ? "UPDATE" : "INSERT") + " fails.");
        } else if (extended == SQLITE_CONSTRAINT_PRIMARYKEY ||
                   extended == SQLITE_CONSTRAINT_UNIQUE) {
          // The key is looked for in the table as it was before the statement.
          std::string constraint = sqlite3_errmsg(db_);
          st.Reset();
          Undo();
          undone = true;
          m = DuplicateKey(dml, i, constraint);
        } else {
          m = SqliteError(rc);
          terminated = !AbortsBatch(m.number);
        }
        st.Reset();
        if (!undone) Undo();
        CheckTransactionAlive(sink);
        return Failed(sink, stmt, m, cmd, AbortsBatch(m.number), terminated);
      }
      total += static_cast<uint64_t>(sqlite3_changes(db_));
      last_rowid = sqlite3_last_insert_rowid(db_);
    }
    Release();
    if (cmd == kCmdInsert && dml.has_identity && total > 0) identity_ = last_rowid;
    return Counted(sink, cmd, total);
  }

  Flow RunTruncate(const Stmt& stmt, ResultSink& sink) {
    auto table = sql::LookupTable(db_, stmt.table);
    if (!table) {
      return Failed(sink, stmt,
                    MakeMessage(4701, 1, 16,
                                "Cannot find the object \"" + stmt.table +
                                    "\" because it does not exist or you do not have permissions."),
                    kCmdTruncate, false);
    }
    if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), kCmdTruncate, false);
    std::string sql = "DELETE FROM " + sql::QuoteIdent(table->name);
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK && table->identity_column >= 0) {
      // Truncation restarts the identity at its seed.
      std::string reseed =
          "UPDATE sqlite_sequence SET seq = " + std::to_string(table->identity_seed - 1) +
          " WHERE name = " + sql::QuoteText(table->name);
      rc = sqlite3_exec(db_, reseed.c_str(), nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
      Message m = SqliteError(rc);
      Undo();
      return Failed(sink, stmt, m, kCmdTruncate, false);
    }
    Release();
    return Ok(sink, kCmdTruncate);
  }

  // ---- DDL --------------------------------------------------------------------

  Flow RunCreateTable(const Stmt& stmt, ResultSink& sink) {
    sql::SessionVars vars = Vars();
    sql::Compiler compiler(db_, vars);
    std::string ddl;
    sql::CatalogTable table;
    CompileError err;
    if (!compiler.CompileCreateTable(stmt, &ddl, &table, &err)) {
      return CompileFailed(sink, stmt, err, kCmdCreateTable);
    }
    if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), kCmdCreateTable, false);
    int rc = sqlite3_exec(db_, ddl.c_str(), nullptr, nullptr, nullptr);
    std::string why;
    if (rc == SQLITE_OK && !sql::AddTable(db_, table, &why)) rc = SQLITE_ERROR;
    if (rc == SQLITE_OK && table.identity_column >= 0 && table.identity_seed != 1) {
      std::string seed = "INSERT INTO sqlite_sequence(name, seq) VALUES (" +
                         sql::QuoteText(table.name) + ", " +
                         std::to_string(table.identity_seed - 1) + ")";
      rc = sqlite3_exec(db_, seed.c_str(), nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
      Message m = SqliteError(rc);
      Undo();
      return Failed(sink, stmt, m, kCmdCreateTable, false);
    }
    Release();
    return Ok(sink, kCmdCreateTable);
  }

  Flow RunDropTable(const Stmt& stmt, ResultSink& sink) {
    for (const std::string& name : stmt.names) {
      auto table = sql::LookupTable(db_, name);
      if (!table) {
        if (stmt.if_exists) continue;
        return Failed(
            sink, stmt,
            MakeMessage(3701, 5, 11,
                        "Cannot drop the table '" + name +
                            "', because it does not exist or you do not have permission."),
            kCmdDropTable, false);
      }
      if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), kCmdDropTable, false);
      std::string why;
      std::string sql = "DROP TABLE " + sql::QuoteIdent(table->name);
      int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK && !sql::RemoveTable(db_, table->name, &why)) rc = SQLITE_ERROR;
      if (rc != SQLITE_OK) {
        Message m = SqliteError(rc);
        Undo();
        return Failed(sink, stmt, m, kCmdDropTable, false);
      }
      Release();
    }
    return Ok(sink, kCmdDropTable);
  }

  Flow RunCreateIndex(const Stmt& stmt, ResultSink& sink) {
    auto table = sql::LookupTable(db_, stmt.table);
    if (!table) {
      return Failed(sink, stmt,
                    MakeMessage(1088, 12, 16,
                                "Cannot find the object \"" + stmt.table +
                                    "\" because it does not exist or you do not have permissions."),
                    kCmdCreateIndex, true);
    }
    std::string cols;
    sql::CatalogKey key;
    key.name = stmt.name;
    key.kind = stmt.unique ? 'I' : 'X';
    for (const std::string& c : stmt.columns) {
      int idx = table->FindColumn(c);
      if (idx < 0) {
        return Failed(
            sink, stmt,
            MakeMessage(1911, 1, 16,
                        "Column name '" + c + "' does not exist in the target table or view."),
            kCmdCreateIndex, false);
      }
      const sql::CatalogColumn& col = table->columns[static_cast<size_t>(idx)];
      if (sql::IsLobType(col.type.id)) {
        return Failed(sink, stmt,
                      MakeMessage(1919, 1, 16,
                                  "Column '" + col.name + "' in table '" + table->name +
                                      "' is of a type that is invalid for use as a key column in "
                                      "an index."),
                      kCmdCreateIndex, false);
      }
      cols += (cols.empty() ? "" : ",") + sql::QuoteIdent(col.name);
      key.columns.push_back(col.name);
    }
    if (sql::KeyExists(db_, table->name, stmt.name)) {
      return Failed(sink, stmt,
                    MakeMessage(1913, 1, 16,
                                "The operation failed because an index or statistics with name '" +
                                    stmt.name + "' already exists on table '" + table->name + "'."),
                    kCmdCreateIndex, false);
    }
    if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), kCmdCreateIndex, false);
    std::string sql = std::string("CREATE ") + (stmt.unique ? "UNIQUE " : "") + "INDEX " +
                      sql::QuoteIdent(sql::SqliteIndexName(table->name, stmt.name)) + " ON " +
                      sql::QuoteIdent(table->name) + "(" + cols + ")";
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    std::string why;
    if (rc != SQLITE_OK) {
      int extended = sqlite3_extended_errcode(db_);
      Message m = SqliteError(rc);
      if ((extended & 0xFF) == SQLITE_CONSTRAINT) {
        m = MakeMessage(1505, 1, 16,
                        "The CREATE UNIQUE INDEX statement terminated because a duplicate key was "
                        "found for the object name 'dbo." +
                            table->name + "' and the index name '" + stmt.name + "'.");
      }
      Undo();
      return Failed(sink, stmt, m, kCmdCreateIndex, false, true);
    }
    if (!sql::AddKey(db_, table->name, key, &why)) {
      Message m = SqliteError(SQLITE_ERROR);
      Undo();
      return Failed(sink, stmt, m, kCmdCreateIndex, false);
    }
    Release();
    return Ok(sink, kCmdCreateIndex);
  }

  // ---- transactions -------------------------------------------------------------

  Flow RunTransaction(const Stmt& stmt, ResultSink& sink) {
    last_rowcount_ = 0;
    if (stmt.kind == StmtKind::kBeginTran) {
      if (trancount_ == 0) {
        int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) return Failed(sink, stmt, SqliteError(rc), kCmdBeginTran, false);
        descriptor_ = state_->next_descriptor.fetch_add(1);
        trancount_ = 1;
        sink.TransactionChanged(TransactionEvent::kBegin, descriptor_);
      } else {
        ++trancount_;
      }
      return Ok(sink, kCmdBeginTran);
    }
    if (stmt.kind == StmtKind::kCommit) {
      if (trancount_ == 0) {
        return Failed(sink, stmt,
                      MakeMessage(3902, 1, 16,
                                  "The COMMIT TRANSACTION request has no corresponding BEGIN "
                                  "TRANSACTION."),
                      kCmdCommit, false);
      }
      if (trancount_ > 1) {
        --trancount_;
        return Ok(sink, kCmdCommit);
      }
      int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) {
        Message m = SqliteError(rc);
        CheckTransactionAlive(sink);
        return Failed(sink, stmt, m, kCmdCommit, false);
      }
      trancount_ = 0;
      descriptor_ = 0;
      sink.TransactionChanged(TransactionEvent::kCommit, 0);
      return Ok(sink, kCmdCommit);
    }
    if (trancount_ == 0) {
      return Failed(sink, stmt,
                    MakeMessage(3903, 1, 16,
                                "The ROLLBACK TRANSACTION request has no corresponding BEGIN "
                                "TRANSACTION."),
                    kCmdRollback, false);
    }
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    trancount_ = 0;
    descriptor_ = 0;
    sink.TransactionChanged(TransactionEvent::kRollback, 0);
    return Ok(sink, kCmdRollback);
  }

  // ---- set, print, raiserror, use ----------------------------------------------------

  Flow RunSet(const Stmt& stmt, ResultSink& sink) {
    last_rowcount_ = 0;
    const std::string& name = stmt.name;
    auto number = [&]() -> int64_t {
      if (stmt.args.empty()) return 0;
      return std::strtoll(stmt.args[0]->text.c_str(), nullptr, 10);
    };
    if (name == "nocount") {
      nocount_ = stmt.on;
      return Ok(sink, kCmdSet);
    }
    if (name == "textsize") {
      int64_t v = number();
      textsize_ = v <= 0 ? kDefaultTextSize : static_cast<int32_t>(v > 2147483647 ? 2147483647 : v);
      return Ok(sink, kCmdSet);
    }
    if (name == "rowcount") {
      int64_t v = number();
      rowcount_ = v < 0 ? 0 : v;
      return Ok(sink, kCmdSet);
    }
    if (name == "lock_timeout" || name == "datefirst" || name == "transaction isolation level") {
      return Ok(sink, kCmdSet);
    }
    if (name == "language") {
      std::string v = stmt.args.empty() ? "" : stmt.args[0]->text;
      if (v == "us_english" || v == "english") return Ok(sink, kCmdSet);
      return Failed(sink, stmt,
                    MakeMessage(sql::kNotSupportedNumber, 1, 16,
                                "SET LANGUAGE " + v + " is not supported by tdslite."),
                    kCmdSet, false);
    }
    if (name == "dateformat") {
      std::string v = stmt.args.empty() ? "" : stmt.args[0]->text;
      if (v == "mdy") return Ok(sink, kCmdSet);
      return Failed(sink, stmt,
                    MakeMessage(sql::kNotSupportedNumber, 1, 16,
                                "SET DATEFORMAT " + v + " is not supported by tdslite."),
                    kCmdSet, false);
    }
    // Options whose one value matches what tdslite does are accepted with
    // that value only.
    struct Option {
      const char* name;
      bool value;
    };
    static constexpr Option kOptions[] = {
        {"ansi_nulls", true},
        {"ansi_padding", true},
        {"ansi_warnings", true},
        {"quoted_identifier", true},
        {"concat_null_yields_null", true},
        {"arithabort", true},
        {"ansi_null_dflt_on", true},
        {"ansi_defaults", true},
        {"implicit_transactions", false},
        {"xact_abort", false},
        {"cursor_close_on_commit", false},
        {"numeric_roundabort", false},
        {"fmtonly", false},
        {"forceplan", false},
        {"showplan_text", false},
        {"showplan_all", false},
        {"noexec", false},
        {"parseonly", false},
        {"statistics", false},
        {"ansi_null_dflt_off", false},
        {"arithignore", false},
        {"nocount", false},
    };
    size_t start = 0;
    while (start <= name.size()) {
      size_t comma = name.find(',', start);
      std::string one =
          name.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      const Option* found = nullptr;
      for (const Option& o : kOptions) {
        if (one == o.name) found = &o;
      }
      if (found == nullptr) {
        return Failed(sink, stmt,
                      MakeMessage(195, 1, 15, "'" + one + "' is not a recognized SET option."),
                      kCmdSet, true);
      }
      if (found->value != stmt.on) {
        return Failed(sink, stmt,
                      MakeMessage(sql::kNotSupportedNumber, 1, 16,
                                  "SET " + one + (stmt.on ? " ON" : " OFF") +
                                      " is not supported by tdslite."),
                      kCmdSet, false);
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    return Ok(sink, kCmdSet);
  }

  // Evaluates expressions outside any table (print, raiserror arguments).
  bool Evaluate(const Stmt& stmt, const sql::Expr& expr, std::optional<ColumnType> to,
                std::optional<std::string>* text, ColumnType* type, int64_t* integer,
                Message* error, bool* abort) {
    sql::SessionVars vars = Vars();
    sql::Compiler compiler(db_, vars);
    std::string q;
    sql::ExprType t;
    CompileError err;
    if (!compiler.CompileValue(expr, to, &q, &t, &err)) {
      *error = err.message;
      *abort = err.abort_batch;
      return false;
    }
    (void)stmt;
    Prepared st;
    int rc = st.Prepare(db_, q);
    if (rc == SQLITE_OK) rc = sqlite3_step(st.get());
    if (rc != SQLITE_ROW) {
      *error = SqliteError(rc);
      *abort = AbortsBatch(error->number);
      return false;
    }
    *type = t.type;
    if (sqlite3_column_type(st.get(), 0) == SQLITE_NULL) {
      text->reset();
    } else {
      const unsigned char* p = sqlite3_column_text(st.get(), 0);
      *text = std::string(p != nullptr ? reinterpret_cast<const char*>(p) : "",
                          static_cast<size_t>(sqlite3_column_bytes(st.get(), 0)));
      *integer = sqlite3_column_int64(st.get(), 0);
    }
    return true;
  }

  Flow RunPrint(const Stmt& stmt, ResultSink& sink) {
    std::optional<std::string> text;
    ColumnType type;
    int64_t ignored = 0;
    Message error;
    bool abort = false;
    // PRINT takes character data; other types are converted as SQL Server does.
    if (!Evaluate(stmt, *stmt.args[0], sql::VarCharType(8000, false), &text, &type, &ignored,
                  &error, &abort)) {
      return Failed(sink, stmt, error, kCmdPrint, abort);
    }
    Message m = MakeMessage(0, 1, 0, text.value_or(""));
    m.line = stmt.line;
    sink.Send(m);
    return Ok(sink, kCmdPrint);
  }

  // printf-like formatting of RAISERROR's message.
  static std::string FormatRaiserror(const std::string& format,
                                     const std::vector<std::optional<std::string>>& args,
                                     const std::vector<int64_t>& ints) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
      char c = format[i];
      if (c != '%') {
        out += c;
        continue;
      }
      if (i + 1 < format.size() && format[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
      size_t j = i + 1;
      std::string directive = "%";
      while (j < format.size() && std::strchr("-+ 0#", format[j]) != nullptr)
        directive += format[j++];
      while (j < format.size() &&
             (std::isdigit(static_cast<unsigned char>(format[j])) || format[j] == '.')) {
        directive += format[j++];
      }
      if (j < format.size() && (format[j] == 'h' || format[j] == 'l' || format[j] == 'I')) {
        while (j < format.size() && std::strchr("hlI64", format[j]) != nullptr) ++j;
      }
      if (j >= format.size()) {
        out += format.substr(i);
        break;
      }
      char conv = format[j];
      if (directive.size() > 12) directive.resize(12);
      char buf[256];
      const bool have = next < args.size();
      if (conv == 'd' || conv == 'i' || conv == 'u' || conv == 'x' || conv == 'X' || conv == 'o') {
        std::string f = directive + "ll" + (conv == 'i' ? 'd' : conv);
        if (have && args[next]) {
          std::snprintf(buf, sizeof buf, f.c_str(), static_cast<long long>(ints[next]));
          out += buf;
        } else {
          out += "(null)";
        }
        ++next;
      } else if (conv == 's') {
        std::string v = have && args[next] ? *args[next] : "(null)";
        std::string f = directive + "s";
        if (v.size() < 200) {
          std::snprintf(buf, sizeof buf, f.c_str(), v.c_str());
          out += buf;
        } else {
          out += v;
        }
        ++next;
      } else {
        out += format.substr(i, j - i + 1);
      }
      i = j;
    }
    return out;
  }

  Flow RunRaiserror(const Stmt& stmt, ResultSink& sink) {
    std::vector<std::optional<std::string>> values;
    std::vector<int64_t> ints;
    std::vector<ColumnType> types;
    for (const auto& arg : stmt.args) {
      std::optional<std::string> text;
      ColumnType type;
      int64_t integer = 0;
      Message error;
      bool abort = false;
      if (!Evaluate(stmt, *arg, std::nullopt, &text, &type, &integer, &error, &abort)) {
        return Failed(sink, stmt, error, kCmdRaiserror, abort);
      }
      values.push_back(text);
      ints.push_back(integer);
      types.push_back(type);
    }
    int64_t severity = values[1] ? ints[1] : 0;
    int64_t state = values[2] ? ints[2] : 1;
    if (severity < 0) severity = 0;
    if (severity > 25) severity = 25;
    if (state < 0) state = 1;
    if (state > 255) state = 255;
    Message m;
    if (sql::IsCharType(types[0].id) || !values[0]) {
      std::vector<std::optional<std::string>> rest(values.begin() + 3, values.end());
      std::vector<int64_t> rest_ints(ints.begin() + 3, ints.end());
      m = MakeMessage(50000, static_cast<int>(state), static_cast<int>(severity),
                      FormatRaiserror(values[0].value_or(""), rest, rest_ints));
    } else {
      m = MakeMessage(18054, 1, 16,
                      "Error " + std::to_string(ints[0]) + ", severity " +
                          std::to_string(severity) + ", state " + std::to_string(state) +
                          " was raised, but no message with that error number was found in "
                          "sys.messages. If error is larger than 50000, make sure the "
                          "user-defined message is added using sp_addmessage.");
      severity = 16;
    }
    m.line = stmt.line;
    if (severity > 18 && !stmt.on) {
      return Failed(sink, stmt,
                    MakeMessage(2754, 1, 16,
                                "Error severity levels greater than 18 can only be specified by "
                                "members of the sysadmin role, using the WITH LOG option."),
                    kCmdRaiserror, false);
    }
    if (severity <= 10) {
      sink.Send(m);
      return Ok(sink, kCmdRaiserror);
    }
    // Severities 20 and up are fatal in SQL Server: the batch ends here.
    return Failed(sink, stmt, m, kCmdRaiserror, severity >= 20);
  }

  Flow RunUse(const Stmt& stmt, ResultSink& sink) {
    last_rowcount_ = 0;
    if (!sql::EqualsNoCase(stmt.name, state_->config.database_name)) {
      return Failed(sink, stmt,
                    MakeMessage(911, 1, 16,
                                "Database '" + stmt.name +
                                    "' does not exist. Make sure that the name is entered "
                                    "correctly."),
                    kCmdUse, true);
    }
    std::string old = database_;
    database_ = state_->config.database_name;
    sink.DatabaseChanged(old, database_);
    Message m = MakeMessage(5701, 1, 0, "Changed database context to '" + database_ + "'.");
    m.line = stmt.line;
    sink.Send(m);
    return Ok(sink, kCmdUse);
  }

  std::shared_ptr<EngineState> state_;
  SessionInfo info_;
  sqlite3* db_;
  sql::FunctionContext functions_;
  std::string database_;
  // SET options of this connection.
  bool nocount_ = false;
  int32_t textsize_;
  int64_t rowcount_ = 0;  // SET ROWCOUNT; 0 = no limit
  // @@ variables.
  int64_t last_rowcount_ = 0;
  int64_t last_error_ = 0;
  std::optional<int64_t> identity_;
  // Transaction state: @@trancount and the descriptor reported to the client.
  int64_t trancount_ = 0;
  uint64_t descriptor_ = 0;
};

}  // namespace

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
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  auto session = std::make_unique<SessionImpl>(std::move(state), info, db);
  if (!sql::RegisterFunctions(db, session->function_context())) {
    *error = "cannot register the SQL functions";
    return nullptr;
  }
  return session;
}

}  // namespace tdslite
