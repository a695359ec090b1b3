// create, alter and drop view; set identity_insert.
#include "session_impl.h"

#include "tdslite/sql/views.h"

namespace tdslite::session_detail {

SessionImpl::Flow SessionImpl::RunCreateView(const Stmt& stmt, ResultSink& sink) {
  auto existing = sql::LookupUserView(db_, stmt.name);
  // create or alter view: alters the view there is.
  const bool alter = stmt.kind == StmtKind::kAlterView || (stmt.if_exists && existing);
  const uint16_t cmd = alter ? kCmdAlterView : kCmdCreateView;
  if (alter && !existing) {
    return Failed(sink, stmt, MakeMessage(208, 1, 16, "Invalid object name '" + stmt.name + "'."),
                  cmd, false);
  }
  if (!alter && (existing || sql::LookupTable(db_, stmt.name))) {
    return Failed(
        sink, stmt,
        MakeMessage(2714, 3, 16,
                    "There is already an object named '" + stmt.name + "' in the database."),
        cmd, false);
  }
  if (sql::IsTemporaryName(stmt.name)) {
    return Failed(
        sink, stmt,
        MakeMessage(4103, 1, 15, "\"" + stmt.name + "\": Temporary views are not allowed."), cmd,
        false);
  }
  // The query must compile now, and name every column once.
  sql::SessionVars vars = Vars();
  sql::Compiler compiler(db_, vars);
  std::vector<ColumnDesc> columns;
  CompileError err;
  if (!compiler.CompileView(*stmt.select, &columns, &err))
    return CompileFailed(sink, stmt, err, cmd);
  if (!stmt.columns.empty() && stmt.columns.size() != columns.size()) {
    const bool more = stmt.columns.size() < columns.size();
    return Failed(sink, stmt,
                  MakeMessage(more ? 8158 : 8159, 1, 16,
                              "'" + stmt.name + "' has " + (more ? "more" : "fewer") +
                                  " columns than were specified in the column list."),
                  cmd, false);
  }
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string& name = stmt.columns.empty() ? columns[i].name : stmt.columns[i];
    if (name.empty()) {
      return Failed(sink, stmt,
                    MakeMessage(4511, 1, 16,
                                "Create View or Function failed because no column name was "
                                "specified for column " +
                                    std::to_string(i + 1) + "."),
                    cmd, false);
    }
    for (size_t j = 0; j < i; ++j) {
      const std::string& other = stmt.columns.empty() ? columns[j].name : stmt.columns[j];
      if (EqualsIgnoreCase(other, name)) {
        return Failed(sink, stmt,
                      MakeMessage(4506, 1, 16,
                                  "Column names in each view or function must be unique. Column "
                                  "name '" +
                                      name + "' in view or function '" + stmt.name +
                                      "' is specified more than once."),
                      cmd, false);
      }
    }
  }
  sql::UserView view;
  view.name = alter ? existing->name : stmt.name;
  view.columns = stmt.columns;
  view.body = stmt.view_text;
  if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), cmd, false);
  std::string why;
  if (!sql::SaveUserView(db_, view, &why)) {
    Undo();
    return Failed(sink, stmt,
                  MakeMessage(sql::kNotSupportedNumber + 1, 1, 16,
                              "tdslite could not run the statement: " + why),
                  cmd, false);
  }
  Release();
  return Ok(sink, cmd);
}

SessionImpl::Flow SessionImpl::RunDropView(const Stmt& stmt, ResultSink& sink) {
  for (const std::string& name : stmt.names) {
    if (!sql::LookupUserView(db_, name)) {
      if (stmt.if_exists) continue;
      return Failed(sink, stmt,
                    MakeMessage(3701, 5, 11,
                                "Cannot drop the view '" + name +
                                    "', because it does not exist or you do not have permission."),
                    kCmdDropView, false);
    }
    if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), kCmdDropView, false);
    std::string why;
    if (!sql::RemoveUserView(db_, name, &why)) {
      Undo();
      return Failed(sink, stmt,
                    MakeMessage(sql::kNotSupportedNumber + 1, 1, 16,
                                "tdslite could not run the statement: " + why),
                    kCmdDropView, false);
    }
    Release();
  }
  return Ok(sink, kCmdDropView);
}

}  // namespace tdslite::session_detail

namespace tdslite::session_detail {

SessionImpl::Flow SessionImpl::RunAlterTable(const Stmt& stmt, ResultSink& sink) {
  sql::SessionVars vars = Vars();
  sql::Compiler compiler(db_, vars);
  sql::AlterPlan plan;
  CompileError err;
  if (!compiler.CompileAlterTable(stmt, &plan, &err)) {
    return CompileFailed(sink, stmt, err, kCmdAlterTable);
  }
  if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), kCmdAlterTable, false);
  int rc = SQLITE_OK;
  for (const std::string& sql : plan.statements) {
    rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) break;
  }
  Message m;
  if (rc != SQLITE_OK) {
    m = SqliteError(rc);
    if ((sqlite3_extended_errcode(db_) & 0xFF) == SQLITE_CONSTRAINT && !plan.index_name.empty()) {
      m = MakeMessage(1505, 1, 16,
                      "The CREATE UNIQUE INDEX statement terminated because a duplicate key was "
                      "found for the object name 'dbo." +
                          plan.table.name + "' and the index name '" + plan.index_name + "'.");
    }
  }
  std::string why;
  if (rc == SQLITE_OK && plan.columns_changed && !sql::ReplaceColumns(db_, plan.table, &why)) {
    rc = SQLITE_ERROR;
    m = MakeMessage(sql::kNotSupportedNumber + 1, 1, 16,
                    "tdslite could not run the statement: " + why);
  }
  for (const sql::CatalogKey& key : plan.new_keys) {
    if (rc == SQLITE_OK && !sql::AddKey(db_, plan.table.name, key, &why)) {
      rc = SQLITE_ERROR;
      m = MakeMessage(sql::kNotSupportedNumber + 1, 1, 16,
                      "tdslite could not run the statement: " + why);
    }
  }
  if (rc != SQLITE_OK) {
    Undo();
    CheckTransactionAlive(sink);
    return Failed(sink, stmt, m, kCmdAlterTable, AbortsBatch(m.number), true);
  }
  Release();
  return Ok(sink, kCmdAlterTable);
}

}  // namespace tdslite::session_detail

namespace tdslite::session_detail {

Message SessionImpl::ConstraintConflict(const sql::CompiledDml& dml, uint16_t cmd, bool check,
                                        const std::string& sqlite_message) {
  const std::string verb = cmd == kCmdInsert ? "INSERT" : cmd == kCmdUpdate ? "UPDATE" : "DELETE";
  const std::string table = dml.table.name;
  std::vector<sql::CatalogConstraint> own = sql::TableConstraints(db_, table);
  if (check) {
    // SQLite names the check that failed: "CHECK constraint failed: name".
    const size_t colon = sqlite_message.rfind(": ");
    const std::string name =
        colon == std::string::npos ? std::string() : sqlite_message.substr(colon + 2);
    const sql::CatalogConstraint* found = nullptr;
    for (const sql::CatalogConstraint& c : own) {
      if (c.kind == 'C' && EqualsIgnoreCase(c.name, name)) found = &c;
    }
    std::string text = "The " + verb + " statement conflicted with the CHECK constraint \"" +
                       (found ? found->name : name) + "\". The conflict occurred in database \"" +
                       database_ + "\", table \"dbo." + table + "\"";
    if (found != nullptr && !found->columns.empty()) text += ", column '" + found->columns[0] + "'";
    return MakeMessage(547, 0, 16, text + ".");
  }
  // SQLite does not say which foreign key: the table's own ones for an
  // insert or update, those that reference it for a delete.
  if (cmd != kCmdDelete) {
    for (const sql::CatalogConstraint& c : own) {
      if (c.kind != 'F') continue;
      return MakeMessage(547, 0, 16,
                         "The " + verb +
                             " statement conflicted with the FOREIGN KEY constraint \"" + c.name +
                             "\". The conflict occurred in database \"" + database_ +
                             "\", table \"dbo." + c.ref_table + "\", column '" +
                             (c.ref_columns.empty() ? std::string() : c.ref_columns[0]) + "'.");
    }
  }
  for (const sql::CatalogConstraint& c : sql::ReferencingConstraints(db_, table)) {
    return MakeMessage(547, 0, 16,
                       "The " + verb + " statement conflicted with the REFERENCE constraint \"" +
                           c.name + "\". The conflict occurred in database \"" + database_ +
                           "\", table \"dbo." + c.table + "\", column '" +
                           (c.columns.empty() ? std::string() : c.columns[0]) + "'.");
  }
  return MakeMessage(547, 0, 16,
                     "The " + verb +
                         " statement conflicted with a FOREIGN KEY constraint. The "
                         "conflict occurred in database \"" +
                         database_ + "\", table \"dbo." + table + "\".");
}

}  // namespace tdslite::session_detail

namespace tdslite::session_detail {

SessionImpl::Flow SessionImpl::RunIdentityInsert(const Stmt& stmt, ResultSink& sink) {
  auto table = sql::LookupTable(db_, stmt.table);
  if (!table) {
    return Failed(sink, stmt,
                  MakeMessage(1088, 11, 16,
                              "Cannot find the object \"" + stmt.table +
                                  "\" because it does not exist or you do not have permissions."),
                  kCmdSet, false);
  }
  if (table->identity_column < 0) {
    return Failed(sink, stmt,
                  MakeMessage(8106, 1, 16,
                              "Table '" + table->name +
                                  "' does not have the identity property. Cannot perform SET "
                                  "operation."),
                  kCmdSet, false);
  }
  if (!stmt.on) {
    if (EqualsIgnoreCase(identity_insert_, table->name)) identity_insert_.clear();
    return Ok(sink, kCmdSet);
  }
  if (!identity_insert_.empty() && !EqualsIgnoreCase(identity_insert_, table->name)) {
    return Failed(sink, stmt,
                  MakeMessage(8107, 1, 16,
                              "IDENTITY_INSERT is already ON for table '" + database_ + ".dbo." +
                                  identity_insert_ + "'. Cannot perform SET operation for table '" +
                                  table->name + "'."),
                  kCmdSet, false);
  }
  identity_insert_ = table->name;
  return Ok(sink, kCmdSet);
}

}  // namespace tdslite::session_detail
