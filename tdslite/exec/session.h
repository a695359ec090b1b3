// The boundary between tdslite's protocol layer and its SQL engine.
//
// The protocol layer (tdslite/protocol) owns sockets, packets, login and the
// encoding of tokens for the negotiated TDS version. The engine (tdslite/sql
// and tdslite/exec) owns the catalog, parsing, typing and execution against
// SQLite. They meet here: the protocol layer hands a session a batch of SQL
// text (already decoded from UCS-2 to UTF-8) and a ResultSink; the session
// reports everything the client must see through the sink, in order.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "tdslite/common/config.h"
#include "tdslite/common/result_sink.h"
#include "tdslite/common/types.h"

namespace tdslite {

class Engine;

// The data of a WRITETEXT BULK: the session accepted the statement, and the
// client's BULK message follows. The protocol layer hands it every byte of
// that message in order (the 4-byte size first), then calls Finish. Destroyed
// without Finish (client gone, attention), it leaves the old value intact.
class TextWrite {
 public:
  virtual ~TextWrite() = default;
  // Answers false when the transfer has already failed; the caller may keep
  // feeding (the bytes are then dropped) so that the message is consumed.
  virtual bool Append(std::string_view bytes) = 0;
  // The message ended: stores the value, or reports why not, and finishes
  // the reply with a DONE.
  virtual void Finish(ResultSink& sink) = 0;
};

// An argument of a procedure called by RPC: its name (empty when passed by
// position), its value as a T-SQL literal, and whether it is an output.
struct ProcedureArgument {
  std::string name;
  std::string literal;
  bool output = false;
};

// One client connection's SQL state: its own SQLite connection, its SET
// options, its transaction and its @@ variables. Used by one thread at a time.
class Session {
 public:
  virtual ~Session() = default;
  // Runs one SQL batch (UTF-8). Reports every result, message and DONE through
  // `sink`; the last thing reported is a Finish() unless the sink cancelled.
  virtual void ExecuteBatch(std::string_view sql, ResultSink& sink) = 0;
  // An RPC request for a procedure by name: reports its results, messages,
  // RETURNSTATUS, RETURNVALUEs and the closing DONEPROC.
  virtual void CallProcedure(std::string_view name, std::span<const ProcedureArgument> args,
                             ResultSink& sink) {
    (void)args;
    Message m;
    m.number = 2812;
    m.state = 62;
    m.severity = 16;
    m.text = "Could not find stored procedure '" + std::string(name) + "'.";
    sink.Send(m);
    Done d;
    d.kind = DoneKind::kDoneProc;
    d.status = kDoneError;
    sink.Finish(d);
  }
  // A transaction manager request (TDS packet type 14).
  virtual void Transaction(TransactionEvent event, ResultSink& sink) = 0;
  // `set textsize` as currently in force for this session (bytes).
  virtual int32_t TextSize() const = 0;
  virtual const std::string& DatabaseName() const = 0;
  // After a batch that was `writetext bulk ...` and accepted: the transfer
  // waiting for the BULK message. Null otherwise. The session keeps none.
  virtual std::unique_ptr<TextWrite> TakeTextWrite() { return nullptr; }
};

// The shared database: opened once per server process.
class Engine {
 public:
  virtual ~Engine() = default;
  // Opens (creating when missing) the SQLite database. On failure answers null
  // and puts a one-line reason into *error.
  static std::unique_ptr<Engine> Open(const ServerConfig& config, std::string* error);
  virtual std::unique_ptr<Session> NewSession(const SessionInfo& info) = 0;
  // Makes sure everything committed is on disk; called at shutdown.
  virtual void Flush() = 0;
};

}  // namespace tdslite
