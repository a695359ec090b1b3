// insert, update, delete and truncate table, with their row counts and the
// duplicate key messages of unique constraints.
#include "session_impl.h"
#include "tdslite/sql/temporal.h"

namespace tdslite::session_detail {

// Words the duplicate key message for a unique constraint failure.
Message SessionImpl::DuplicateKey(const sql::CompiledDml& dml, size_t statement,
                                  const std::string& text) {
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
    for (size_t i = 0; i < cols.size(); ++i) same = same && EqualsIgnoreCase(k.columns[i], cols[i]);
    if (same) key = &k;
  }
  std::string value = KeyValue(dml, statement, key);
  std::string object = "dbo." + dml.table.name;
  if (key != nullptr && key->kind == 'I') {
    return MakeMessage(2601, 1, 14,
                       "Cannot insert duplicate key row in object '" + object +
                           "' with unique index '" + key->name + "'. The duplicate key value is (" +
                           value + ").");
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
std::string SessionImpl::KeyValue(const sql::CompiledDml& dml, size_t statement,
                                  const sql::CatalogKey* key) {
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
               sql::QuoteIdent(dml.table.columns[static_cast<size_t>(indexes[k])].name) + " = " + v;
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
      case sql::Storage::kGuid: {
        const void* p = sqlite3_column_blob(st.get(), i);
        const int n = sqlite3_column_bytes(st.get(), i);
        out += sql::GuidText(sql::GuidWire(std::string_view(
            p != nullptr ? static_cast<const char*>(p) : "", static_cast<size_t>(n))));
        break;
      }
      case sql::Storage::kWideTime:
      case sql::Storage::kOffsetText: {
        const unsigned char* p = sqlite3_column_text(st.get(), i);
        const std::string_view key(p != nullptr ? reinterpret_cast<const char*>(p) : "",
                                   static_cast<size_t>(sqlite3_column_bytes(st.get(), i)));
        int64_t ignored_i = 0;
        int16_t ignored_offset = 0;
        std::string text;
        sql::WideValue(types[k].id, types[k].scale, sqlite3_column_int64(st.get(), i), key,
                       &ignored_i, &ignored_offset, &text);
        out += text;
        break;
      }
      case sql::Storage::kBlob: {
        const unsigned char* p =
            static_cast<const unsigned char*>(sqlite3_column_blob(st.get(), i));
        int n = sqlite3_column_bytes(st.get(), i);
        out += "0x";
        if (p != nullptr) {
          out += HexDigits(
              std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(n)), true);
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

SessionImpl::Flow SessionImpl::RunDml(const Stmt& stmt, ResultSink& sink) {
  const uint16_t cmd = stmt.kind == StmtKind::kInsert   ? kCmdInsert
                       : stmt.kind == StmtKind::kUpdate ? kCmdUpdate
                                                        : kCmdDelete;
  sql::SessionVars vars = Vars();
  sql::Compiler compiler(db_, vars);
  sql::CompiledDml dml;
  CompileError err;
  bool ok = stmt.kind == StmtKind::kInsert   ? compiler.CompileInsert(stmt, &dml, &err)
            : stmt.kind == StmtKind::kUpdate ? compiler.CompileUpdate(stmt, rowcount_, &dml, &err)
                                             : compiler.CompileDelete(stmt, rowcount_, &dml, &err);
  if (!ok) return CompileFailed(sink, stmt, err, cmd);
  OutputPlan output;
  if (!stmt.output.empty() && !PlanOutput(stmt, dml, &output, &err)) {
    return CompileFailed(sink, stmt, err, cmd);
  }
  if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), cmd, false);
  if (!output.columns.empty()) sink.Columns(output.columns);
  uint64_t total = 0;
  int64_t last_rowid = 0;
  for (size_t i = 0; i < dml.statements.size(); ++i) {
    if (sink.Cancelled()) {
      Undo();
      return Flow::kStop;
    }
    Prepared st;
    int rc = st.Prepare(db_, dml.statements[i] + output.returning);
    if (rc == SQLITE_OK) {
      while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        if (!output.columns.empty() && !SendOutputRow(st.get(), output, sink)) {
          st.Reset();
          Undo();
          return Flow::kStop;
        }
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
      } else if (extended == SQLITE_CONSTRAINT_CHECK || extended == SQLITE_CONSTRAINT_FOREIGNKEY) {
        m = ConstraintConflict(dml, cmd, extended == SQLITE_CONSTRAINT_CHECK, sqlite3_errmsg(db_));
      } else if (extended == SQLITE_CONSTRAINT_PRIMARYKEY || extended == SQLITE_CONSTRAINT_UNIQUE) {
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

SessionImpl::Flow SessionImpl::RunTruncate(const Stmt& stmt, ResultSink& sink) {
  auto table = sql::LookupTable(db_, stmt.table);
  if (!table) {
    return Failed(sink, stmt,
                  MakeMessage(4701, 1, 16,
                              "Cannot find the object \"" + stmt.table +
                                  "\" because it does not exist or you do not have permissions."),
                  kCmdTruncate, false);
  }
  if (!sql::ReferencingConstraints(db_, table->name).empty()) {
    return Failed(sink, stmt,
                  MakeMessage(4712, 1, 16,
                              "Cannot truncate table '" + table->name +
                                  "' because it is being referenced by a FOREIGN KEY constraint."),
                  kCmdTruncate, false);
  }
  if (!Savepoint()) return Failed(sink, stmt, SqliteError(SQLITE_ERROR), kCmdTruncate, false);
  std::string sql = "DELETE FROM " + sql::QuoteIdent(table->name);
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && table->identity_column >= 0) {
    // Truncation restarts the identity at its seed.
    std::string reseed = std::string("UPDATE ") + sql::SchemaOf(table->name) +
                         ".sqlite_sequence SET seq = " + std::to_string(table->identity_seed - 1) +
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

}  // namespace tdslite::session_detail
