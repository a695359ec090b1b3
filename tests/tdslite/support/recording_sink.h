// A ResultSink that writes everything it receives as lines of text, so that
// tests can compare whole responses.
#pragma once

#include <string>
#include <vector>

#include "tdslite/exec/session.h"

namespace tdslite::test_support {

class RecordingSink : public ResultSink {
 public:
  void Columns(std::span<const ColumnDesc> columns) override;
  bool Row(std::span<const Value> values) override;
  void Send(const Message& message) override;
  void Finish(const Done& done) override;
  void ReturnStatus(int32_t status) override;
  void DatabaseChanged(std::string_view old_name, std::string_view new_name) override;
  void TransactionChanged(TransactionEvent event, uint64_t descriptor) override;
  bool Cancelled() override { return cancel_after_rows >= 0 && rows_ >= cancel_after_rows; }

  // Lines: "cols a:int! b:varchar(10)", "row 1|x", "msg 208/16/1: text",
  // "done C3 count=1 error", "xact begin", "env master->master".
  std::vector<std::string> lines;
  std::vector<std::vector<Value>> rows;
  std::vector<std::vector<ColumnDesc>> metadata;
  std::vector<Message> messages;
  std::vector<Done> dones;
  // Answer Row() false after this many rows (-1: never).
  int refuse_after_rows = -1;
  // Report Cancelled() once this many rows were received (-1: never).
  int cancel_after_rows = -1;

 private:
  int rows_ = 0;
};

std::string TypeText(const ColumnType& t);
std::string ValueText(const ColumnDesc& c, const Value& v);
// Runs a batch and answers the recorded lines joined by '\n'.
std::string RunBatch(Session& session, std::string_view sql);

}  // namespace tdslite::test_support
