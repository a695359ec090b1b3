#include "recording_sink.h"

#include <cstdio>

#include "tdslite/sql/temporal.h"
#include "tdslite/sql/types.h"
#include "tdslite/sql/value_text.h"
#include "tdslite/sql/values.h"

namespace tdslite::test_support {

std::string TypeText(const ColumnType& t) {
  return sql::TypeDeclaration(t);
}

std::string ValueText(const ColumnDesc& c, const Value& v) {
  if (v.is_null) return "NULL";
  // The recordings show smalldatetime to the millisecond, as datetime.
  if (c.type.id == TypeId::kSmallDateTime) {
    return sql::FormatDateTime(sql::ToSerial(v.dt), 121, false).value_or("?");
  }
  const std::string text = sql::ValueAsText(c, v);
  switch (sql::StorageOf(c.type.id)) {
    case sql::Storage::kText:
    case sql::Storage::kWideTime:
    case sql::Storage::kOffsetText:
      return "'" + text + "'";
    case sql::Storage::kGuid:
      return "{" + text + "}";
    case sql::Storage::kBlob:
      return "0x" + text;
    default:
      return text;
  }
}

void RecordingSink::Columns(std::span<const ColumnDesc> columns) {
  std::string line = "cols";
  for (const ColumnDesc& c : columns) {
    line += " " + c.name + ":" + TypeText(c.type) + (c.nullable ? "" : "!");
  }
  lines.push_back(line);
  metadata.emplace_back(columns.begin(), columns.end());
}

bool RecordingSink::Row(std::span<const Value> values) {
  std::string line = "row ";
  const std::vector<ColumnDesc>& cols = metadata.back();
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line += "|";
    line += i < cols.size() ? ValueText(cols[i], values[i]) : "?";
  }
  lines.push_back(line);
  rows.emplace_back(values.begin(), values.end());
  ++rows_;
  return refuse_after_rows < 0 || rows_ < refuse_after_rows;
}

void RecordingSink::Send(const Message& m) {
  lines.push_back("msg " + std::to_string(m.number) + "/" + std::to_string(m.severity) + "/" +
                  std::to_string(m.state) + ": " + m.text);
  messages.push_back(m);
}

void RecordingSink::Finish(const Done& d) {
  char cmd[8];
  std::snprintf(cmd, sizeof cmd, "%X", d.current_command);
  std::string line = std::string("done ") + cmd;
  if (d.status & kDoneCount) line += " count=" + std::to_string(d.row_count);
  if (d.status & kDoneError) line += " error";
  if (d.status & kDoneInXact) line += " inxact";
  lines.push_back(line);
  dones.push_back(d);
}

void RecordingSink::ReturnStatus(int32_t status) {
  lines.push_back("status " + std::to_string(status));
}

void RecordingSink::DatabaseChanged(std::string_view old_name, std::string_view new_name) {
  lines.push_back("env " + std::string(old_name) + "->" + std::string(new_name));
}

void RecordingSink::TransactionChanged(TransactionEvent event, uint64_t descriptor) {
  const char* name = event == TransactionEvent::kBegin    ? "begin"
                     : event == TransactionEvent::kCommit ? "commit"
                                                          : "rollback";
  lines.push_back(std::string("xact ") + name + (descriptor != 0 ? " nonzero" : " zero"));
}

std::string RunBatch(Session& session, std::string_view sql) {
  RecordingSink sink;
  session.ExecuteBatch(sql, sink);
  std::string out;
  for (const std::string& l : sink.lines) {
    if (!out.empty()) out += "\n";
    out += l;
  }
  return out;
}

}  // namespace tdslite::test_support
