// select: runs the compiled query and hands its rows to the sink, with text
// pointers and image values read in pieces.
#include "session_impl.h"
#include "tdslite/sql/temporal.h"

namespace tdslite::session_detail {

// `source`: the base column of a text/image value read from a table row;
// `streamed`: the statement yields only the image value's length, and the
// value itself is read from the row.
void SessionImpl::FillValue(sqlite3_stmt* st, int i, const ColumnDesc& col, Value* v, int64_t rowid,
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
    case sql::Storage::kWideTime:
    case sql::Storage::kOffsetText: {
      const unsigned char* p =
          col.type.id == TypeId::kDateTimeOffset ? sqlite3_column_text(st, i) : nullptr;
      const std::string_view key =
          p != nullptr ? std::string_view(reinterpret_cast<const char*>(p),
                                          static_cast<size_t>(sqlite3_column_bytes(st, i)))
                       : std::string_view();
      sql::WideValue(col.type.id, col.type.scale, sqlite3_column_int64(st, i), key, &v->i,
                     &v->offset, &v->bytes);
      break;
    }
    case sql::Storage::kGuid: {
      const void* p = sqlite3_column_blob(st, i);
      const int n = sqlite3_column_bytes(st, i);
      v->bytes = sql::GuidWire(std::string_view(p != nullptr ? static_cast<const char*>(p) : "",
                                                static_cast<size_t>(n)));
      break;
    }
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
      v->bytes.assign(p != nullptr ? reinterpret_cast<const char*>(p) : "", static_cast<size_t>(n));
      if (col.type.id == TypeId::kChar || col.type.id == TypeId::kNChar) {
        int64_t chars =
            col.type.id == TypeId::kNChar ? sql::Utf16Length(v->bytes) : sql::Utf8Length(v->bytes);
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

SessionImpl::Flow SessionImpl::RunSelect(const Stmt& stmt, ResultSink& sink) {
  for (const sql::SelectItem& item : stmt.select->items) {
    if (!item.assign.empty()) return RunSelectAssign(stmt, sink);
  }
  if (!stmt.select->into.empty()) return RunSelectInto(stmt, sink);
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
  const int ncols = static_cast<int>(q.columns.size());
  struct Interruptible {
    ResultSink** slot;
    ~Interruptible() { *slot = nullptr; }
  } interruptible{&interruptible_};
  interruptible_ = &sink;
  uint64_t rows = 0;
  const std::optional<Flow> ended = StepRows(
      stmt, sink, st,
      [&] {
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
        return sink.Row(values);
      },
      &rows);
  if (ended) return *ended;
  return Counted(sink, kCmdSelect, rows);
}

std::optional<SessionImpl::Flow> SessionImpl::StepRows(const Stmt& stmt, ResultSink& sink,
                                                       Prepared& st,
                                                       const std::function<bool()>& row,
                                                       uint64_t* rows) {
  for (;;) {
    if (rowcount_ > 0 && *rows >= static_cast<uint64_t>(rowcount_)) break;
    const int rc = sqlite3_step(st.get());
    if (rc == SQLITE_DONE) break;
    if (rc == SQLITE_INTERRUPT && sink.Cancelled()) {
      // The protocol layer answers the attention; nothing more is sent.
      st.Reset();
      return Flow::kStop;
    }
    if (rc != SQLITE_ROW) {
      Message m = SqliteError(rc);
      st.Reset();
      CheckTransactionAlive(sink);
      return Failed(sink, stmt, m, kCmdSelect, AbortsBatch(m.number));
    }
    if (!row()) return Flow::kStop;
    ++*rows;
    if (sink.Cancelled()) return Flow::kStop;
  }
  st.Reset();
  return std::nullopt;
}

}  // namespace tdslite::session_detail
