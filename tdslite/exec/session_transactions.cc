// begin, commit and rollback transaction, and the savepoint that makes every
// data-changing statement all or nothing.
#include "session_impl.h"

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

SessionImpl::Flow SessionImpl::RunTransaction(const Stmt& stmt, ResultSink& sink) {
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
  doomed_ = false;
  sink.TransactionChanged(TransactionEvent::kRollback, 0);
  return Ok(sink, kCmdRollback);
}

}  // namespace tdslite::session_detail
