// A client's session inside: SessionImpl, shared by the session_*.cc files
// and nothing else. Its methods live by concern:
//   session.cc               batches, IF, statement dispatch, system procedures
//   session_select.cc        select and the values of its rows
//   session_dml.cc           insert, update, delete, truncate
//   session_ddl.cc           create table, drop table, create index
//   session_transactions.cc  begin, commit, rollback and statement savepoints
//   session_set.cc           set, print, raiserror, use
//   session_waitfor.cc       waitfor delay, waitfor time
//   session_batch.cc         variables, WHILE, TRY/CATCH, THROW, select into
//   session_procs.cc         create, alter, drop procedure and function
//   session_exec.cc          EXEC of a procedure, its arguments, RETURN
//   session_dynamic.cc       EXEC (string), sp_executesql, RPC calls
//   session_functions.cc     calls of user-defined scalar functions
//   session_insert_exec.cc   insert ... exec
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "engine_state.h"
#include "session.h"
#include "tdslite/common/forwarding_sink.h"
#include "tdslite/common/text.h"
#include "tdslite/common/text_pointer.h"
#include "tdslite/procs/procs.h"
#include "tdslite/sql/catalog.h"
#include "tdslite/sql/compile.h"
#include "tdslite/sql/functions.h"
#include "tdslite/sql/parser.h"
#include "tdslite/sql/types.h"
#include "tdslite/sql/values.h"
#include "text_read.h"
#include "text_statements.h"
#include "text_write.h"

namespace tdslite::session_detail {

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
constexpr uint16_t kCmdCreateView = 0xCF;
constexpr uint16_t kCmdAlterView = 0xCF;
constexpr uint16_t kCmdDropView = 0xD0;
constexpr uint16_t kCmdAlterTable = 0xD8;

constexpr int32_t kDefaultTextSize = 4096;
inline const std::string kNoSource;
constexpr int32_t kUnlimitedTextSize = 2147483647;

// A name as T-SQL: in brackets; with `parts`, each part of a dotted name
// (session_exec.cc).
std::string QuoteName(std::string_view name, bool parts = true);
// Error 217: procedures and functions nested too deeply (session_exec.cc).
Message NestingExceeded();

// Errors SQL Server treats as ending the whole batch when they happen while
// a statement runs (conversion failures).
inline bool AbortsBatch(int number) {
  switch (number) {
    case 245:
    case 241:
    case 8114:
    case 235:
    case 529:
    case 8116:
    case 217:  // procedures nested too deeply
      return true;
    default:
      return false;
  }
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
    read_text_.source.reset();
    if (trancount_ > 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    // Global temporary tables go with the connection that made them.
    DropTables(&global_temps_);
    sqlite3_close_v2(db_);
  }

  sql::FunctionContext* function_context() { return &functions_; }

  // SQLite's progress callback: true ends the running statement. A query
  // that computes long before its first row (an aggregate over a large
  // join) sends no rows between which to look for the client's cancel, so
  // the query's sink is asked from inside the computation too.
  bool CancelRequested() { return interruptible_ != nullptr && interruptible_->Cancelled(); }

  void ExecuteBatch(std::string_view text, ResultSink& sink) override;

  void Transaction(TransactionEvent event, ResultSink& sink) override;

  void CallProcedure(std::string_view name, std::span<const ProcedureArgument> args,
                     ResultSink& sink) override;

  // tdslite_udf(name, args...): runs a scalar function of the database for
  // the statement that calls it.
  void CallFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);

  int32_t TextSize() const override { return textsize_; }
  const std::string& DatabaseName() const override { return database_; }
  std::unique_ptr<TextWrite> TakeTextWrite() override { return std::move(text_write_); }

 private:
  // `writetext bulk ...`: checks the target and waits for the BULK message.
  void StartWriteText(std::string_view text, ResultSink& sink);

  std::unique_ptr<TextWrite> text_write_;
  // Where the last READTEXT left off (its value kept open).
  ReadTextCursor read_text_;

  // How a statement ended for the statements after it: run the next one,
  // end the batch (kAbort: an error; kStop: the client went or cancelled;
  // kReturn: RETURN), leave or restart the enclosing WHILE, or hand an
  // error to the enclosing CATCH block (kThrow, the error in pending_).
  enum class Flow { kNext, kAbort, kStop, kBreak, kContinue, kReturn, kThrow };

  // Passes everything on and counts the DONEs.
  class CountingSink : public ForwardingSink {
   public:
    explicit CountingSink(ResultSink& inner) : ForwardingSink(inner) {}
    void Finish(const Done& d) override {
      ++finishes;
      last_kind = d.kind;
      ForwardingSink::Finish(d);
    }
    int finishes = 0;
    DoneKind last_kind = DoneKind::kDone;
  };

  Flow RunStatements(const std::vector<Stmt>& statements, ResultSink& sink);

  Flow RunIf(const Stmt& stmt, ResultSink& sink);

  // ---- variables, loops and errors (session_batch.cc) -------------------------

  // Checks a batch before it runs: a variable declared twice (or declared
  // again after `seen`, a module's parameters) is error 134.
  bool CheckDeclarations(const std::vector<Stmt>& statements, ResultSink& sink,
                         std::set<std::string>* seen = nullptr);

  // Evaluates `expr` as the variable's type into *target.
  bool AssignVariable(const sql::Expr& expr, sql::LocalVariable* target, Message* error,
                      bool* abort);

  // The variable `name`, or null when it was not declared.
  sql::LocalVariable* FindVariable(const std::string& name);

  Flow RunDeclare(const Stmt& stmt, ResultSink& sink);
  Flow RunSetVariable(const Stmt& stmt, ResultSink& sink);
  // select @v = expr, ...: the last row's values go into the variables.
  Flow RunSelectAssign(const Stmt& stmt, ResultSink& sink);
  // select ... into t: a new table with the result's columns and rows.
  Flow RunSelectInto(const Stmt& stmt, ResultSink& sink);
  Flow RunWhile(const Stmt& stmt, ResultSink& sink);
  Flow RunTry(const Stmt& stmt, ResultSink& sink);
  Flow RunThrow(const Stmt& stmt, ResultSink& sink);
  // An IF or WHILE condition.
  bool Condition(const Stmt& stmt, bool* value, ResultSink& sink, Flow* failed, uint16_t cmd);

  // A simple assignment ended well: @@rowcount 1, @@error 0, no DONE.
  Flow Assigned();

  // Whether a CATCH block may handle error `m` raised by the statement.
  bool Catchable(const Message& m, bool compile) const;

  // set xact_abort on: an error ends the batch and rolls the transaction
  // back; inside a TRY block it leaves the transaction doomed instead.
  bool xact_abort_ = false;
  bool doomed_ = false;
  sql::LocalVariables locals_;
  // Table variables of the running batch, and the ##tables this connection
  // created: dropped at the end of the batch and of the connection.
  std::vector<std::string> table_variables_;
  std::vector<std::string> global_temps_;
  void DropTables(std::vector<std::string>* names);
  // TRY blocks around the running statement; the error a failing statement
  // hands to the innermost one's CATCH block.
  int try_depth_ = 0;
  std::optional<sql::CaughtError> pending_;
  // The error the running CATCH block handles (error_number() and friends).
  std::optional<sql::CaughtError> caught_;

  sql::SessionVars Vars() const;

  void Finish(ResultSink& sink, uint16_t status, uint16_t cmd, uint64_t count);

  // A statement without a row count ended well.
  Flow Ok(ResultSink& sink, uint16_t cmd);

  // A statement that affected or returned `count` rows ended well.
  Flow Counted(ResultSink& sink, uint16_t cmd, uint64_t count);

  // A statement failed: its error (and 3621 when a data-changing statement
  // was terminated), then its DONE with the error bit.
  Flow Failed(ResultSink& sink, const Stmt& stmt, Message m, uint16_t cmd, bool abort_batch,
              bool terminated = false);

  Flow CompileFailed(ResultSink& sink, const Stmt& stmt, const CompileError& e, uint16_t cmd);

  // The message for a failed SQLite call.
  Message SqliteError(int rc);

  // Statement atomicity: every statement that changes data runs inside a
  // savepoint, so that a failing statement leaves nothing behind.
  bool Savepoint();
  void Release() { sqlite3_exec(db_, "RELEASE tdslite_statement", nullptr, nullptr, nullptr); }
  void Undo();

  // SQLite ends a transaction by itself on some errors; keep the count true.
  void CheckTransactionAlive(ResultSink& sink);
  // Statements that change the database file (not only temporary tables).
  static bool Writes(const Stmt& stmt);
  // In a transaction that has not written yet, takes the write lock before
  // the first write (see session_transactions.cc).
  void PrepareToWrite();

  Flow Execute(const Stmt& stmt, ResultSink& sink);

  // ---- system procedures (tdslite/procs) ------------------------------------

  // What the system procedures may use of this session.
  class ProcedureHostImpl : public procs::ProcedureHost {
   public:
    explicit ProcedureHostImpl(SessionImpl& session) : session_(session) {}
    sqlite3* Database() override { return session_.db_; }
    const ServerConfig& Config() const override { return session_.state_->config; }
    int32_t Spid() const override { return session_.info_.spid; }
    const std::string& DatabaseName() const override { return session_.database_; }
    std::string LoginName() const override { return session_.info_.login; }
    std::string HostName() const override { return session_.info_.host_name; }
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
  Flow RunSystemProcedure(const Stmt& stmt, ResultSink& sink);

  // Batches run by procedures (a web task's query), procedures and
  // functions that enclose the current one: @@nestlevel.
  int procedure_nesting_ = 0;
  static constexpr int kMaxNesting = procs::kMaxNestingLevel;

  // ---- procedures, functions, dynamic SQL (session_procs.cc, session_exec.cc,
  // session_dynamic.cc, session_functions.cc, session_insert_exec.cc) -------

  enum class ModuleKind { kProcedure, kExecuteSql, kString };
  // What runs: a stored procedure, sp_executesql's statement or EXEC's string.
  struct Module {
    const std::string& name;
    const std::vector<sql::ColumnDef>& params;
    const std::vector<Stmt>& body;
    ModuleKind kind;
  };
  Flow RunCreateModule(const Stmt& stmt, ResultSink& sink);
  Flow RunDropModule(const Stmt& stmt, ResultSink& sink);
  // `outputs`: an RPC call, whose output parameters go to the client.
  Flow RunExec(const Stmt& stmt, ResultSink& sink, std::vector<ReturnedValue>* outputs);
  Flow RunExecString(const Stmt& stmt, ResultSink& sink);
  Flow RunExecuteSql(const Stmt& stmt, ResultSink& sink, std::vector<ReturnedValue>* outputs);
  Flow RunReturn(const Stmt& stmt, ResultSink& sink);
  // Runs a module with the call's arguments from `first_arg` on bound to its
  // parameters; a procedure ends with RETURNSTATUS and DONEPROC.
  Flow RunModule(const Module& module, const Stmt& call, size_t first_arg, ResultSink& sink,
                 std::vector<ReturnedValue>* outputs);
  bool BindArguments(const Module& module, const Stmt& call, size_t first_arg,
                     std::vector<sql::LocalVariable>* values, std::vector<int>* arg_of_param,
                     ResultSink& sink, Flow* failed);
  // Assigns `value` to the caller's variable, converting it to its type.
  bool CopyInto(const sql::LocalVariable& value, const std::string& variable, Message* error);
  void ToValue(const sql::LocalVariable& v, const ColumnDesc& column, Value* out);
  bool EvaluateText(const Stmt& stmt, const sql::Expr& expr, std::string* text, ResultSink& sink,
                    Flow* failed);
  bool ParseDynamic(const Stmt& stmt, const std::string& text, sql::ParseResult* parsed,
                    ResultSink& sink);

  // insert ... exec: the rows of the procedure's result sets.
  Flow RunInsertExec(const Stmt& stmt, ResultSink& sink);

  std::string current_module_;  // the running procedure, for messages
  int32_t return_status_ = 0;
  int function_depth_ = 0;  // scalar functions around the running statement
  ColumnType function_returns_;
  std::optional<sql::LocalVariable> function_result_;

  // ---- select ---------------------------------------------------------------

  // `source`: the base column of a text/image value read from a table row;
  // `streamed`: the statement yields only the image value's length, and the
  // value itself is read from the row.
  void FillValue(sqlite3_stmt* st, int i, const ColumnDesc& col, Value* v, int64_t rowid,
                 const std::string& source, bool streamed, bool sink_reads_lob);

  Flow RunSelect(const Stmt& stmt, ResultSink& sink);

  // Steps the prepared SELECT `st` to its end or to SET ROWCOUNT's limit,
  // calling row() on each row and counting the rows in *rows; row() answers
  // false when the client is gone. Answers how the statement ends when it ends
  // early (a failure, the client gone, a cancel); nothing once it read all.
  std::optional<Flow> StepRows(const Stmt& stmt, ResultSink& sink, Prepared& st,
                               const std::function<bool()>& row, uint64_t* rows);

  // ---- insert, update, delete --------------------------------------------------

  // Words the duplicate key message for a unique constraint failure.
  Message DuplicateKey(const sql::CompiledDml& dml, size_t statement, const std::string& text);

  // The key's values in the failing row, when the statement inserted known
  // rows; SQL Server prints them comma-separated.
  std::string KeyValue(const sql::CompiledDml& dml, size_t statement, const sql::CatalogKey* key);

  Flow RunDml(const Stmt& stmt, ResultSink& sink);

  // The OUTPUT clause (session_output.cc): the result set's columns and the
  // RETURNING list that yields them.
  struct OutputPlan {
    std::vector<ColumnDesc> columns;
    std::string returning;
  };
  bool PlanOutput(const Stmt& stmt, const sql::CompiledDml& dml, OutputPlan* plan,
                  CompileError* error);
  bool SendOutputRow(sqlite3_stmt* st, const OutputPlan& plan, ResultSink& sink);

  Flow RunTruncate(const Stmt& stmt, ResultSink& sink);

  // ---- DDL --------------------------------------------------------------------

  Flow RunCreateTable(const Stmt& stmt, ResultSink& sink);
  // session_schema.cc: views and alter table.
  Flow RunCreateView(const Stmt& stmt, ResultSink& sink);
  Flow RunDropView(const Stmt& stmt, ResultSink& sink);
  Flow RunAlterTable(const Stmt& stmt, ResultSink& sink);
  // set identity_insert table on|off
  Flow RunIdentityInsert(const Stmt& stmt, ResultSink& sink);
  std::string identity_insert_;  // the table it is ON for
  // Error 547 for a check or foreign key constraint a change broke.
  Message ConstraintConflict(const sql::CompiledDml& dml, uint16_t cmd, bool check,
                             const std::string& sqlite_message);

  Flow RunDropTable(const Stmt& stmt, ResultSink& sink);

  Flow RunCreateIndex(const Stmt& stmt, ResultSink& sink);

  // ---- transactions -------------------------------------------------------------

  Flow RunTransaction(const Stmt& stmt, ResultSink& sink);

  // ---- set, print, raiserror, use ----------------------------------------------------

  Flow RunSet(const Stmt& stmt, ResultSink& sink);

  // Evaluates expressions outside any table (print, raiserror arguments).
  bool Evaluate(const Stmt& stmt, const sql::Expr& expr, std::optional<ColumnType> to,
                std::optional<std::string>* text, ColumnType* type, int64_t* integer,
                Message* error, bool* abort);

  Flow RunPrint(const Stmt& stmt, ResultSink& sink);

  // printf-like formatting of RAISERROR's message.
  static std::string FormatRaiserror(const std::string& format,
                                     const std::vector<std::optional<std::string>>& args,
                                     const std::vector<int64_t>& ints);

  Flow RunRaiserror(const Stmt& stmt, ResultSink& sink);

  Flow RunUse(const Stmt& stmt, ResultSink& sink);

  // ---- waitfor -------------------------------------------------------------------

  Flow RunWaitFor(const Stmt& stmt, ResultSink& sink);

  std::shared_ptr<EngineState> state_;
  SessionInfo info_;
  sqlite3* db_;
  // The sink of the query being computed now, or null.
  ResultSink* interruptible_ = nullptr;
  sql::FunctionContext functions_;
  std::string database_;
  // SET options of this connection.
  bool nocount_ = false;
  int32_t textsize_;
  int datefirst_ = 7;     // SET DATEFIRST: the first day of the week, 1 (Monday) to 7
  int64_t rowcount_ = 0;  // SET ROWCOUNT; 0 = no limit
  // @@ variables.
  int64_t last_rowcount_ = 0;
  int64_t last_error_ = 0;
  std::optional<int64_t> identity_;
  // Transaction state: @@trancount and the descriptor reported to the client.
  int64_t trancount_ = 0;
  uint64_t descriptor_ = 0;
  // The savepoints of the transaction `savepoints_of_` names (SAVE TRAN),
  // oldest first; stale once another transaction began.
  std::vector<std::string> savepoints_;
  std::string transaction_name_;  // of the outermost BEGIN TRAN
  uint64_t savepoints_of_ = 0;
  Flow RunSaveTran(const Stmt& stmt, ResultSink& sink);
  // Rolls back to the latest savepoint of that name; false when there is none.
  bool RollbackToSavepoint(const std::string& name);
};

}  // namespace tdslite::session_detail
