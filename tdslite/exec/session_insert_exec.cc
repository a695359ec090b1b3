// insert ... exec: the rows of a procedure's result sets into a table.
#include "session_impl.h"
#include "tdslite/sql/modules.h"

namespace tdslite::session_detail {

// ---- insert ... exec ------------------------------------------------------------------

namespace {

// Keeps the rows of a procedure's result sets (their values as SQLite
// stores them); messages go on to the client.
class CaptureSink : public ForwardingSink {
 public:
  static constexpr size_t kMaxBytes = size_t{64} << 20;
  explicit CaptureSink(ResultSink& inner) : ForwardingSink(inner) {}
  void Columns(std::span<const ColumnDesc> columns) override {
    current_.assign(columns.begin(), columns.end());
    if (!set) {
      set = true;
      columns_ = current_;
      return;
    }
    // Later result sets widen the staging columns; a different kind of
    // value in a column is not taken.
    bool same = columns.size() == columns_.size();
    for (size_t i = 0; same && i < columns.size(); ++i) {
      ColumnType& t = columns_[i].type;
      same = columns[i].type.id == t.id;
      const ColumnType& u = columns[i].type;
      t.length = std::max(t.length, u.length);
      const int digits = std::max(t.precision - t.scale, u.precision - u.scale);
      t.scale = std::max(t.scale, u.scale);
      t.precision = static_cast<uint8_t>(std::min(38, digits + t.scale));
    }
    if (!same) refusal = "INSERT ... EXEC of result sets of different types";
  }
  bool Row(std::span<const Value> values) override {
    if (!refusal.empty()) return true;
    std::vector<sql::LocalVariable> row(values.size());
    for (size_t i = 0; i < values.size() && i < current_.size(); ++i) {
      if (!Store(values[i], current_[i].type, &row[i])) {
        refusal =
            "INSERT ... EXEC of date, time, datetime2, datetimeoffset or uniqueidentifier values";
        rows.clear();
        return true;
      }
      bytes_ += row[i].bytes.size() + sizeof(sql::LocalVariable);
    }
    if (bytes_ > kMaxBytes) {
      refusal = "INSERT ... EXEC of more than 64 MB of rows";
      rows.clear();
      return true;
    }
    rows.push_back(std::move(row));
    return !ForwardingSink::Cancelled();
  }
  void Finish(const Done&) override {}
  void ReturnStatus(int32_t) override {}
  void ReturnValue(const ReturnedValue&) override {}
  bool AcceptsLobSource() const override { return false; }

  const std::vector<ColumnDesc>& columns() const { return columns_; }
  bool set = false;
  std::vector<std::vector<sql::LocalVariable>> rows;
  std::string refusal;

 private:
  // False for a type whose value is not taken back into storage here.
  static bool Store(const Value& v, const ColumnType& type, sql::LocalVariable* out) {
    out->type = type;
    if (v.is_null) return true;
    switch (sql::StorageOf(type.id)) {
      case sql::Storage::kInteger:
      case sql::Storage::kMoney:
        out->kind = SQLITE_INTEGER;
        out->integer = v.i;
        break;
      case sql::Storage::kReal:
        out->kind = SQLITE_FLOAT;
        out->real = v.f;
        break;
      case sql::Storage::kDateTicks:
        out->kind = SQLITE_INTEGER;
        out->integer = sql::ToSerial(v.dt);
        break;
      case sql::Storage::kDecimalText:
        out->kind = SQLITE_TEXT;
        out->bytes = sql::FormatScaled(v.dec, type.scale);
        break;
      case sql::Storage::kText:
        out->kind = SQLITE_TEXT;
        out->bytes = v.bytes;
        break;
      case sql::Storage::kBlob:
        out->kind = SQLITE_BLOB;
        out->bytes = v.bytes;
        break;
      case sql::Storage::kWideTime:
      case sql::Storage::kOffsetText:
      case sql::Storage::kGuid:
        return false;
    }
    return true;
  }

  std::vector<ColumnDesc> columns_;  // the staging table's
  std::vector<ColumnDesc> current_;  // the result set being read
  size_t bytes_ = 0;
};

void Bind(sqlite3_stmt* st, int i, const sql::LocalVariable& v) {
  switch (v.kind) {
    case SQLITE_INTEGER:
      sqlite3_bind_int64(st, i, v.integer);
      break;
    case SQLITE_FLOAT:
      sqlite3_bind_double(st, i, v.real);
      break;
    case SQLITE_TEXT:
      sqlite3_bind_text(st, i, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
      break;
    case SQLITE_BLOB:
      sqlite3_bind_blob(st, i, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
      break;
    default:
      sqlite3_bind_null(st, i);
  }
}

}  // namespace

SessionImpl::Flow SessionImpl::RunInsertExec(const Stmt& stmt, ResultSink& sink) {
  const std::optional<sql::CatalogTable> target = sql::LookupTable(db_, stmt.table);
  if (!target) {
    return Failed(sink, stmt, MakeMessage(208, 1, 16, "Invalid object name '" + stmt.table + "'."),
                  kCmdInsert, true);
  }
  CaptureSink capture(sink);
  Flow flow = RunExec(*stmt.exec, capture, nullptr);
  if (flow != Flow::kNext) return flow;
  if (!capture.refusal.empty()) {
    return Failed(sink, stmt,
                  MakeMessage(sql::kNotSupportedNumber, 1, 16,
                              capture.refusal + " is not supported by tdslite."),
                  kCmdInsert, false);
  }
  if (!capture.set) return Counted(sink, kCmdInsert, 0);
  size_t expected = stmt.columns.size();
  if (expected == 0) {
    for (const sql::CatalogColumn& c : target->columns) {
      if (!c.identity) ++expected;
    }
  }
  if (capture.columns().size() != expected) {
    return Failed(sink, stmt,
                  MakeMessage(213, 7, 16,
                              "Column name or number of supplied values does not match table "
                              "definition."),
                  kCmdInsert, false);
  }
  // The rows wait in a table of this connection, typed as the result was,
  // and go into the target as insert ... select takes them.
  const std::string staging = "#__tdslite_insert_exec";
  Stmt create;
  create.kind = StmtKind::kCreateTable;
  create.table = staging;
  for (size_t i = 0; i < capture.columns().size(); ++i) {
    sql::ColumnDef def;
    def.name = "c" + std::to_string(i + 1);
    def.type = capture.columns()[i].type;
    create.column_defs.push_back(std::move(def));
  }
  sql::SessionVars vars = Vars();
  sql::Compiler compiler(db_, vars);
  std::string ddl;
  sql::CatalogTable table;
  CompileError err;
  if (!compiler.CompileCreateTable(create, &ddl, &table, &err)) {
    return CompileFailed(sink, stmt, err, kCmdInsert);
  }
  std::string why;
  std::vector<std::string> staged{staging};
  DropTables(&staged);
  int rc = sqlite3_exec(db_, ddl.c_str(), nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && !sql::AddTable(db_, table, &why)) rc = SQLITE_ERROR;
  std::string insert = "INSERT INTO temp." + sql::QuoteIdent(staging) + " VALUES (";
  for (size_t i = 0; i < capture.columns().size(); ++i) insert += i == 0 ? "?" : ",?";
  insert += ")";
  Prepared st;
  if (rc == SQLITE_OK) rc = st.Prepare(db_, insert);
  for (size_t r = 0; rc == SQLITE_OK && r < capture.rows.size(); ++r) {
    for (size_t i = 0; i < capture.rows[r].size(); ++i) {
      Bind(st.get(), static_cast<int>(i) + 1, capture.rows[r][i]);
    }
    const int done = sqlite3_step(st.get());
    sqlite3_reset(st.get());
    if (done != SQLITE_DONE) rc = done;
  }
  st.Reset();
  Flow result;
  if (rc != SQLITE_OK) {
    result = Failed(sink, stmt, SqliteError(rc), kCmdInsert, false);
  } else {
    std::string text =
        "insert into " + (stmt.table[0] == '@' ? stmt.table : QuoteName(stmt.table, false));
    if (!stmt.columns.empty()) {
      text += " (";
      for (size_t i = 0; i < stmt.columns.size(); ++i) {
        text += (i ? ", " : "") + QuoteName(stmt.columns[i], false);
      }
      text += ")";
    }
    text += " select * from [" + staging + "]";
    sql::ParseResult parsed = sql::ParseBatch(text, database_);
    if (!parsed.ok() || parsed.statements.size() != 1) {
      result = Failed(sink, stmt,
                      MakeMessage(sql::kNotSupportedNumber, 1, 16,
                                  "INSERT ... EXEC into this table is not supported by tdslite."),
                      kCmdInsert, false);
    } else {
      parsed.statements[0].line = stmt.line;
      result = RunDml(parsed.statements[0], sink);
    }
  }
  staged.assign(1, staging);
  DropTables(&staged);
  return result;
}

}  // namespace tdslite::session_detail
