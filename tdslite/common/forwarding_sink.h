// A ResultSink that passes everything to another sink: derive from it and
// override only what a layer changes on the way (counting DONEs, turning
// DONE into DONEINPROC).
#pragma once

#include "tdslite/common/result_sink.h"

namespace tdslite {

class ForwardingSink : public ResultSink {
 public:
  explicit ForwardingSink(ResultSink& inner) : inner_(inner) {}
  void Columns(std::span<const ColumnDesc> columns) override { inner_.Columns(columns); }
  bool Row(std::span<const Value> values) override { return inner_.Row(values); }
  void Send(const Message& message) override { inner_.Send(message); }
  void Finish(const Done& done) override { inner_.Finish(done); }
  void ReturnStatus(int32_t status) override { inner_.ReturnStatus(status); }
  void ReturnValue(const ReturnedValue& value) override { inner_.ReturnValue(value); }
  void DatabaseChanged(std::string_view old_name, std::string_view new_name) override {
    inner_.DatabaseChanged(old_name, new_name);
  }
  void TransactionChanged(TransactionEvent event, uint64_t descriptor) override {
    inner_.TransactionChanged(event, descriptor);
  }
  bool Cancelled() override { return inner_.Cancelled(); }
  bool Pause(int64_t milliseconds) override { return inner_.Pause(milliseconds); }
  bool AcceptsLobSource() const override { return inner_.AcceptsLobSource(); }

 protected:
  ResultSink& inner() { return inner_; }

 private:
  ResultSink& inner_;
};

}  // namespace tdslite
