// begin, commit and rollback transaction, and the savepoint that makes every
// data-changing statement all or nothing.
#include "session_impl.h"

#include <algorithm>

namespace tdslite::session_detail {

// Statement atomicity: every statement that changes data runs inside a
// savepoint, so that a failing statement leaves nothing behind.
bool SessionImpl::Savepoint() {
  return sqlite3_exec(db_, "SAVEPOINT tdslite_statement", nullptr, nullptr, nullptr) == SQLITE_OK;
}

void SessionImpl::Undo() {
  sqlite3_exec(db_, "ROLLBACK TO tdslite_statement", nullptr, nullptr, nullptr);
  sqlite3_exec(db_, "RELEASE tdslite_statement", nullptr, nullptr, nullptr);
}

// SQLite ends a transaction by itself on some errors; keep the count true.
void SessionImpl::CheckTransactionAlive(ResultSink& sink) {
  if (trancount_ > 0 && sqlite3_get_autocommit(db_) != 0) {
    trancount_ = 0;
    sink.TransactionChanged(TransactionEvent::kRollback, 0);
  }
}

namespace {

std::string SavepointSql(const char* verb, const std::string& name) {
  return std::string(verb) + " " + sql::QuoteIdent("tds_save_" + name);
}

}  // namespace

bool SessionImpl::Writes(const Stmt& stmt) {
  switch (stmt.kind) {
    case StmtKind::kInsert:
    case StmtKind::kUpdate:
    case StmtKind::kDelete:
    case StmtKind::kTruncate:
    case StmtKind::kCreateTable:
    case StmtKind::kDropTable:
    case StmtKind::kCreateIndex:
    case StmtKind::kCreateView:
    case StmtKind::kAlterView:
    case StmtKind::kDropView:
    case StmtKind::kAlterTable:
    case StmtKind::kCreateModule:
    case StmtKind::kDropModule:
      return true;
    case StmtKind::kSelect:
      return stmt.select != nullptr && !stmt.select->into.empty();
    default:
      return false;
  }
}

// A transaction that has only read so far holds a read snapshot, and SQLite
// refuses its first write at once (a busy snapshot) when another connection
// committed after the snapshot began, where SQL Server waits for the lock.
// So before that first write the transaction begins again as a writer:
// BEGIN IMMEDIATE waits for the write lock as every lock wait does. Nothing
// is lost, since nothing was written, and a read-committed transaction
// promises no snapshot; the savepoints are set again.
void SessionImpl::PrepareToWrite() {
  if (trancount_ == 0 || sqlite3_get_autocommit(db_) != 0 ||
      sqlite3_txn_state(db_, nullptr) == SQLITE_TXN_WRITE) {
    return;
  }
  if (sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr) != SQLITE_OK) return;
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    // Waited out: the transaction goes on, and the write reports the time-out.
    sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
  }
  if (savepoints_of_ != descriptor_) return;
  for (const std::string& name : savepoints_) {
    sqlite3_exec(db_, SavepointSql("SAVEPOINT", name).c_str(), nullptr, nullptr, nullptr);
  }
}

SessionImpl::Flow SessionImpl::RunTransaction(const Stmt& stmt, ResultSink& sink) {
  last_rowcount_ = 0;
  if (stmt.kind == StmtKind::kBeginTran) {
    if (trancount_ == 0) {
      int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) return Failed(sink, stmt, SqliteError(rc), kCmdBeginTran, false);
      descriptor_ = state_->next_descriptor.fetch_add(1);
      trancount_ = 1;
      transaction_name_ = stmt.name;
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
  if (trancount_ > 0 && !stmt.name.empty()) {
    if (RollbackToSavepoint(stmt.name)) return Ok(sink, kCmdRollback);
    // Only the outermost transaction's own name rolls it all back.
    if (stmt.name != transaction_name_) {
      return Failed(sink, stmt,
                    MakeMessage(6401, 1, 16,
                                "Cannot roll back " + stmt.name +
                                    ". No transaction or savepoint of that name was found."),
                    kCmdRollback, false);
    }
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
  doomed_ = false;
  sink.TransactionChanged(TransactionEvent::kRollback, 0);
  return Ok(sink, kCmdRollback);
}

SessionImpl::Flow SessionImpl::RunSaveTran(const Stmt& stmt, ResultSink& sink) {
  last_rowcount_ = 0;
  if (trancount_ == 0) {
    return Failed(sink, stmt,
                  MakeMessage(628, 1, 16,
                              "Cannot issue SAVE TRANSACTION when there is no active "
                              "transaction."),
                  kCmdBeginTran, false);
  }
  if (savepoints_of_ != descriptor_) savepoints_.clear();
  const int rc =
      sqlite3_exec(db_, SavepointSql("SAVEPOINT", stmt.name).c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return Failed(sink, stmt, SqliteError(rc), kCmdBeginTran, false);
  savepoints_of_ = descriptor_;
  savepoints_.push_back(stmt.name);
  return Ok(sink, kCmdBeginTran);
}

bool SessionImpl::RollbackToSavepoint(const std::string& name) {
  if (savepoints_of_ != descriptor_) savepoints_.clear();
  // Savepoint names are case-sensitive, as transaction names are.
  auto it = std::find(savepoints_.rbegin(), savepoints_.rend(), name);
  if (it == savepoints_.rend()) return false;
  if (sqlite3_exec(db_, SavepointSql("ROLLBACK TO", name).c_str(), nullptr, nullptr, nullptr) !=
      SQLITE_OK) {
    return false;
  }
  // The savepoints made after it are gone; it stays.
  savepoints_.erase(it.base(), savepoints_.end());
  return true;
}

}  // namespace tdslite::session_detail
