// What a batch produces, in order, as the engine reports it and the protocol
// layer encodes it: result sets, rows, messages, DONEs and environment changes.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "tdslite/common/types.h"

namespace tdslite {

// An ERROR or INFO token. `severity` is SQL Server's class: above 10 the
// protocol layer sends ERROR, otherwise INFO.
struct Message {
  int32_t number = 0;
  uint8_t state = 1;
  uint8_t severity = 0;
  std::string text;       // UTF-8
  std::string procedure;  // UTF-8, empty outside a procedure
  int32_t line = 1;
};

// DONE token status bits (TDS values). DONE_MORE is not the engine's business:
// the sink sets it itself, because only the sink knows whether another token
// follows in the same response.
enum DoneStatus : uint16_t {
  kDoneFinal = 0x00,
  kDoneError = 0x02,
  kDoneInXact = 0x04,
  kDoneCount = 0x10,
  kDoneAttn = 0x20,
  kDoneSrvError = 0x100,
};

enum class DoneKind : uint8_t {
  kDone,        // a statement of the batch ended (DONE)
  kDoneInProc,  // a statement inside a procedure ended (DONEINPROC)
  kDoneProc,    // a procedure call ended (DONEPROC)
};

struct Done {
  DoneKind kind = DoneKind::kDone;
  uint16_t status = kDoneFinal;  // DoneStatus bits
  uint16_t current_command = 0;  // SQL Server's CurCmd: 0xC1 select, 0xC3 insert, ...
  uint64_t row_count = 0;        // meaningful when status has kDoneCount
};

enum class TransactionEvent : uint8_t { kBegin, kCommit, kRollback };

// An output parameter's value as a procedure called by RPC returns it
// (RETURNVALUE): its position in the call, its name, type and value.
struct ReturnedValue {
  uint16_t ordinal = 0;
  std::string name;  // with its '@'
  ColumnDesc column;
  Value value;
};

// Everything a statement produces, in order. The protocol layer implements it
// and streams tokens as they come: a session never holds a result's rows.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  // COLMETADATA: a result set begins.
  virtual void Columns(std::span<const ColumnDesc> columns) = 0;
  // ROW. Answers false when the client cancelled (attention) or went away: the
  // session then stops the batch at once and emits nothing more.
  virtual bool Row(std::span<const Value> values) = 0;
  virtual void Send(const Message& message) = 0;
  virtual void Finish(const Done& done) = 0;
  virtual void ReturnStatus(int32_t status) = 0;
  // An output parameter, after RETURNSTATUS and before the DONEPROC.
  virtual void ReturnValue(const ReturnedValue& value) { (void)value; }
  // ENVCHANGE for `use` (database) and transaction begin/commit/rollback.
  // `descriptor` is the 8-byte transaction descriptor (0 after commit/rollback).
  virtual void DatabaseChanged(std::string_view old_name, std::string_view new_name) = 0;
  virtual void TransactionChanged(TransactionEvent event, uint64_t descriptor) = 0;
  // Polled between rows and statements; true once an attention has arrived.
  virtual bool Cancelled() = 0;
  // WAITFOR: waits `milliseconds`, ending as soon as Cancelled() would hold;
  // answers false then. This one looks every 10 ms; a sink that can watch its
  // client's socket wakes on what arrives instead.
  virtual bool Pause(int64_t milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      if (Cancelled()) return false;
      const auto left = end - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero()) return true;
      std::this_thread::sleep_for(
          std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(10)));
    }
  }
  // True when Row() reads Value::lob itself; otherwise the session fills
  // `bytes` with the whole value.
  virtual bool AcceptsLobSource() const { return false; }
};

}  // namespace tdslite
