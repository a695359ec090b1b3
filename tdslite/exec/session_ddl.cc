// create table, drop table and create index.
#include "session_impl.h"

namespace tdslite::session_detail {

SessionImpl::Flow SessionImpl::RunCreateTable(const Stmt& stmt, ResultSink& sink) {
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
    std::string seed = std::string("INSERT INTO ") + sql::SchemaOf(table.name) +
                       ".sqlite_sequence(name, seq) VALUES (" + sql::QuoteText(table.name) + ", " +
                       std::to_string(table.identity_seed - 1) + ")";
    rc = sqlite3_exec(db_, seed.c_str(), nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    Message m = SqliteError(rc);
    Undo();
    return Failed(sink, stmt, m, kCmdCreateTable, false);
  }
  Release();
  if (stmt.kind == StmtKind::kDeclare) {
    // A table variable: gone at the end of the batch, no DONE of its own.
    table_variables_.push_back(table.name);
    return Flow::kNext;
  }
  if (table.name.rfind("##", 0) == 0) global_temps_.push_back(table.name);
  return Ok(sink, kCmdCreateTable);
}

void SessionImpl::DropTables(std::vector<std::string>* names) {
  for (const std::string& name : *names) {
    if (!sql::LookupTable(db_, name)) continue;
    std::string sql = std::string("SAVEPOINT tdslite_drop; DROP TABLE IF EXISTS ") +
                      sql::SchemaOf(name) + "." + sql::QuoteIdent(name);
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    std::string why;
    if (rc == SQLITE_OK && !sql::RemoveTable(db_, name, &why)) rc = SQLITE_ERROR;
    sqlite3_exec(
        db_,
        rc == SQLITE_OK ? "RELEASE tdslite_drop" : "ROLLBACK TO tdslite_drop; RELEASE tdslite_drop",
        nullptr, nullptr, nullptr);
  }
  names->clear();
}

SessionImpl::Flow SessionImpl::RunDropTable(const Stmt& stmt, ResultSink& sink) {
  for (const std::string& name : stmt.names) {
    auto table = sql::LookupTable(db_, name);
    if (!table) {
      if (stmt.if_exists) continue;
      return Failed(sink, stmt,
                    MakeMessage(3701, 5, 11,
                                "Cannot drop the table '" + name +
                                    "', because it does not exist or you do not have permission."),
                    kCmdDropTable, false);
    }
    for (const sql::CatalogConstraint& fk : sql::ReferencingConstraints(db_, table->name)) {
      if (EqualsIgnoreCase(fk.table, table->name)) continue;
      return Failed(sink, stmt,
                    MakeMessage(3726, 1, 16,
                                "Could not drop object 'dbo." + table->name +
                                    "' because it is referenced by a FOREIGN KEY constraint."),
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

SessionImpl::Flow SessionImpl::RunCreateIndex(const Stmt& stmt, ResultSink& sink) {
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
                    sql::SchemaOf(table->name) + "." +
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

}  // namespace tdslite::session_detail
