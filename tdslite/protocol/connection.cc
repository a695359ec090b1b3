// One client connection: PRELOGIN, LOGIN7, then requests until the client
// leaves. Results are streamed through WireSink while the socket is watched
// for an ATTENTION.
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <optional>

#include "tdslite/protocol/connection_internal.h"

namespace tdslite::protocol {
namespace connection_detail {
namespace {

// An exception out of the engine is a fault of tdslite, not of the client:
// the request ends with an error the client sees, and the connection goes on.
void ReportInternalError(ResultSink& sink, const std::exception& e) {
  sink.Send({.number = 50000,
             .state = 1,
             .severity = 16,
             .text = std::string("tdslite internal error: ") + e.what(),
             .procedure = {},
             .line = 1});
  sink.Finish(
      {.kind = DoneKind::kDone, .status = kDoneError, .current_command = 0, .row_count = 0});
}

}  // namespace

// ---- WireSink ----

bool WireSink::broken() const {
  return broken_ || c_.writer().failed();
}

void WireSink::Write(std::string_view bytes) {
  c_.writer().Append(bytes);
  if (c_.writer().failed()) broken_ = true;
}

void WireSink::FlushPending() {
  if (!pending_) return;
  uint8_t token = pending_->kind == DoneKind::kDone       ? kTokenDone
                  : pending_->kind == DoneKind::kDoneProc ? kTokenDoneProc
                                                          : kTokenDoneInProc;
  scratch_.clear();
  EncodeDone(token, static_cast<uint16_t>(pending_->status | kDoneMore), pending_->current_command,
             pending_->row_count, c_.version(), scratch_);
  pending_.reset();
  Write(scratch_);
}

void WireSink::Columns(std::span<const ColumnDesc> columns) {
  if (cancelled_ || broken()) return;
  FlushPending();
  scratch_.clear();
  EncodeColMetadata(columns, c_.version(), scratch_, &wire_);
  Write(scratch_);
}

bool WireSink::Row(std::span<const Value> values) {
  if (cancelled_ || broken()) return false;
  FlushPending();
  scratch_.clear();
  // Large image values go out piece by piece as they are read.
  EncodeRow(values, wire_, c_.text_size(), scratch_, [this](std::string& piece) {
    Write(piece);
    piece.clear();
  });
  Write(scratch_);
  // Each packet that went out may have crossed an attention coming in.
  if (c_.writer().packets_sent() != packets_seen_) {
    packets_seen_ = c_.writer().packets_sent();
    LookForAttention();
  }
  return !cancelled_ && !broken();
}

void WireSink::Send(const Message& message) {
  if (cancelled_ || broken()) return;
  FlushPending();
  scratch_.clear();
  EncodeMessage(message, c_.server_name(), c_.version(), scratch_);
  Write(scratch_);
}

void WireSink::Finish(const Done& done) {
  if (cancelled_ || broken()) return;
  FlushPending();
  pending_ = done;
}

void WireSink::ReturnStatus(int32_t status) {
  if (cancelled_ || broken()) return;
  FlushPending();
  scratch_.clear();
  EncodeReturnStatus(status, scratch_);
  Write(scratch_);
}

void WireSink::ReturnValue(const ReturnedValue& value) {
  if (cancelled_ || broken()) return;
  FlushPending();
  scratch_.clear();
  EncodeReturnValue(value, c_.version(), scratch_);
  Write(scratch_);
}

void WireSink::DatabaseChanged(std::string_view old_name, std::string_view new_name) {
  if (cancelled_ || broken()) return;
  FlushPending();
  scratch_.clear();
  EncodeEnvChange(kEnvDatabase, new_name, old_name, scratch_);
  Write(scratch_);
}

void WireSink::TransactionChanged(TransactionEvent event, uint64_t descriptor) {
  if (cancelled_ || broken()) return;
  // Transaction descriptors came with 7.2; older clients learn nothing.
  if (c_.version() < TdsVersion::k72) {
    c_.descriptor() = event == TransactionEvent::kBegin ? descriptor : 0;
    return;
  }
  FlushPending();
  std::string value;
  scratch_.clear();
  if (event == TransactionEvent::kBegin) {
    // Clients treat a zero descriptor as "no transaction": never send one.
    if (descriptor == 0) descriptor = c_.NextDescriptor();
    PutU64(value, descriptor);
    EncodeEnvChangeBytes(kEnvBeginTran, value, {}, scratch_);
    c_.descriptor() = descriptor;
  } else {
    PutU64(value, c_.descriptor());
    EncodeEnvChangeBytes(event == TransactionEvent::kCommit ? kEnvCommitTran : kEnvRollbackTran, {},
                         value, scratch_);
    c_.descriptor() = 0;
  }
  Write(scratch_);
}

bool WireSink::Cancelled() {
  if (!cancelled_ && !broken() && ++polls_ % kCancelPollInterval == 0) LookForAttention();
  return cancelled_ || broken();
}

// Sleeps in poll(2) on the client's socket: an attention, the client going
// away or the server stopping (which shuts the socket down) ends it at once.
bool WireSink::Pause(int64_t milliseconds) {
  const Deadline end = DeadlineIn(milliseconds);
  for (;;) {
    if (cancelled_ || broken()) return false;
    if (c_.link().Buffered()) {
      LookForAttention();
      continue;
    }
    const int64_t left = end - NowMs();
    if (left <= 0) return true;
    pollfd p{c_.link().fd(), POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
    if (r > 0) {
      LookForAttention();
    } else if (r < 0 && errno != EINTR) {
      broken_ = true;
    }
  }
}

void WireSink::LookForAttention() {
  if (cancelled_ || broken_) return;
  if (!c_.link().Buffered()) {
    pollfd p{c_.link().fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return;
    if (p.revents & (POLLERR | POLLNVAL)) {
      broken_ = true;
      return;
    }
  }
  // Clients send nothing but an ATTENTION while a reply is on its way; any
  // other packet (or end of stream) ends the connection.
  uint8_t type = 0;
  uint8_t status = 0;
  std::string body;
  ReadResult r = ReadPacket(c_.link(), &type, &status, &body, kPacketTimeoutMs);
  if (r == ReadResult::kOk && type == kPacketAttention) {
    cancelled_ = true;
  } else {
    broken_ = true;
  }
}

void WireSink::End() {
  if (broken()) return;
  scratch_.clear();
  if (cancelled_) {
    // The interrupted result's held-back DONE is dropped with the rest: the
    // client discards everything up to the acknowledgement anyway.
    pending_.reset();
    EncodeDone(kTokenDone, kDoneAttn, 0, 0, c_.version(), scratch_);
  } else if (pending_) {
    uint8_t token = pending_->kind == DoneKind::kDone       ? kTokenDone
                    : pending_->kind == DoneKind::kDoneProc ? kTokenDoneProc
                                                            : kTokenDoneInProc;
    EncodeDone(token, pending_->status, pending_->current_command, pending_->row_count,
               c_.version(), scratch_);
    pending_.reset();
  } else {
    // Every reply ends with a DONE, even if the engine reported nothing.
    EncodeDone(kTokenDone, kDoneFinal, 0, 0, c_.version(), scratch_);
  }
  c_.writer().Append(scratch_);
  c_.writer().End();
}

// ---- Connection ----

void Connection::Log(const char* what) const {
  if (options_.engine.verbose) std::fprintf(stderr, "tdslite: spid %u: %s\n", spid_, what);
}

void Connection::Run() {
  before_login_ = {.deadline = DeadlineIn(options_.login_timeout_ms),
                   .max_bytes = 0,
                   .before_login = true,
                   .stop_fd = options_.stop_fd};
  RequestMessage message;
  ReadResult r = ReadMessage(link_, &message, before_login_);
  if (r != ReadResult::kOk) {
    if (r == ReadResult::kMalformed) Log("malformed or oversized packet before the login");
    return;
  }
  if (message.type == kPacketPrelogin) {
    RequestMessage login;
    if (!PreLogin(message, &login)) return;
    message = std::move(login);
  } else if (options_.force_encryption && message.type == kPacketLogin7) {
    // A TDS 7.0 client: it cannot encrypt.
    RefuseUnencrypted(message);
    return;
  }
  if (message.type != kPacketLogin7) {
    Log("first request is not a TDS 7 login");
    return;
  }
  if (!Login(message)) return;
  while (!closing_ && !writer_.failed()) {
    if (std::unique_ptr<TextWrite> write = session_->TakeTextWrite()) {
      if (!ReceiveBulk(std::move(write))) return;
      continue;
    }
    // A stopping server lets the request in progress finish, then closes
    // connections that wait for their next one.
    r = ReadMessage(link_, &message, {.stop_fd = options_.stop_fd});
    if (r != ReadResult::kOk) {
      if (r == ReadResult::kMalformed) Log("malformed packet");
      return;
    }
    if (!Serve(message)) return;
  }
}

bool Connection::SkipAllHeaders(ByteReader& reader) {
  if (version_ < TdsVersion::k72) return true;
  size_t start = reader.pos();
  uint32_t total = reader.U32();
  if (!reader.ok() || total < 4 || total - 4 > reader.remaining()) return false;
  // Walk the headers only to check them: each names its own length. The
  // transaction descriptor the client echoes needs no check.
  size_t end = start + total;
  while (reader.pos() < end) {
    uint32_t length = reader.U32();
    reader.U16();  // header type
    if (!reader.ok() || length < 6 || length - 6 > end - reader.pos()) return false;
    reader.Skip(length - 6);
  }
  return reader.ok() && reader.pos() == end;
}

bool Connection::Serve(const RequestMessage& request) {
  if (request.ignored) return true;  // the client withdrew it: no reply
  switch (request.type) {
    case kPacketSqlBatch:
      SqlBatch(request.payload);
      break;
    case kPacketTransaction:
      TransactionManager(request.payload);
      break;
    case kPacketRpc:
      Rpc(request.payload);
      break;
    case kPacketBulk:
      RefuseBulk();
      break;
    case kPacketAttention:
      // Nothing is running: the reply was already complete. Acknowledge.
      AcknowledgeAttention();
      break;
    default:
      Log("unexpected packet type");
      return false;
  }
  return !closing_ && !writer_.failed();
}

void Connection::AcknowledgeAttention() {
  std::string out;
  EncodeDone(kTokenDone, kDoneAttn, 0, 0, version_, out);
  writer_.Append(out);
  writer_.End();
}

void Connection::SqlBatch(std::string_view payload) {
  ByteReader reader(payload);
  if (!SkipAllHeaders(reader)) {
    Log("malformed ALL_HEADERS");
    closing_ = true;
    return;
  }
  std::string sql = Utf16ToUtf8(payload.substr(reader.pos()));
  WireSink sink(*this);
  try {
    session_->ExecuteBatch(sql, sink);
  } catch (const std::exception& e) {
    if (options_.engine.verbose) std::fprintf(stderr, "tdslite: batch failed: %s\n", e.what());
    ReportInternalError(sink, e);
  }
  sink.End();
  if (sink.broken()) closing_ = true;
}

void Connection::TransactionManager(std::string_view payload) {
  ByteReader reader(payload);
  if (!SkipAllHeaders(reader)) {
    closing_ = true;
    return;
  }
  uint16_t request = reader.U16();
  WireSink sink(*this);
  auto run = [&](TransactionEvent event) {
    try {
      session_->Transaction(event, sink);
    } catch (const std::exception& e) {
      ReportInternalError(sink, e);
    }
  };
  if (!reader.ok()) {
    closing_ = true;
    return;
  }
  switch (request) {
    case kTmBegin:
      run(TransactionEvent::kBegin);
      break;
    case kTmCommit:
    case kTmRollback: {
      uint8_t name_chars = reader.U8();
      reader.Skip(size_t{name_chars} * 2);
      uint8_t flags = reader.U8();
      run(request == kTmCommit ? TransactionEvent::kCommit : TransactionEvent::kRollback);
      if (reader.ok() && (flags & kTmBeginNewTransaction)) run(TransactionEvent::kBegin);
      break;
    }
    default:
      sink.Send({.number = 50000,
                 .state = 1,
                 .severity = 16,
                 .text = "Transaction manager request " + std::to_string(request) +
                         " is not supported by tdslite.",
                 .procedure = {},
                 .line = 1});
      sink.Finish(
          {.kind = DoneKind::kDone, .status = kDoneError, .current_command = 0, .row_count = 0});
      break;
  }
  sink.End();
  if (sink.broken()) closing_ = true;
}

void Connection::Rpc(std::string_view payload) {
  ByteReader reader(payload);
  if (!SkipAllHeaders(reader)) {
    closing_ = true;
    return;
  }
  RpcCall call;
  RpcParseResult parsed = ParseRpc(payload.substr(reader.pos()), version_, &call);
  if (parsed == RpcParseResult::kMalformed) {
    Log("malformed RPC");
    closing_ = true;
    return;
  }
  WireSink wire(*this);
  if (parsed == RpcParseResult::kUnsupported) {
    Message m{.number = 2812,
              .state = 62,
              .severity = 16,
              .text = "Could not find stored procedure '" + call.procedure +
                      "'. Remote procedure calls other than sp_executesql are not supported by "
                      "tdslite.",
              .procedure = {},
              .line = 1};
    if (!call.error.empty()) {
      m = {.number = 50000,
           .state = 1,
           .severity = 16,
           .text = call.error,
           .procedure = {},
           .line = 1};
    }
    wire.Send(m);
    wire.Finish(
        {.kind = DoneKind::kDoneProc, .status = kDoneError, .current_command = 0, .row_count = 0});
    wire.End();
    return;
  }
  if (call.by_name) {
    std::vector<ProcedureArgument> args;
    args.reserve(call.parameters.size());
    for (RpcParameter& p : call.parameters) {
      args.push_back({std::move(p.name), std::move(p.literal), p.output});
    }
    try {
      session_->CallProcedure(call.procedure, args, wire);
    } catch (const std::exception& e) {
      ReportInternalError(wire, e);
    }
    wire.End();
    if (wire.broken()) closing_ = true;
    return;
  }
  // The statement's DONEs become DONEINPROC, and the call ends as a
  // procedure does: RETURNSTATUS, then DONEPROC.
  ProcedureSink sink(wire);
  std::string sql = SubstituteParameters(call.sql, call.parameters);
  try {
    session_->ExecuteBatch(sql, sink);
  } catch (const std::exception& e) {
    ReportInternalError(sink, e);
  }
  if (!wire.Cancelled()) {
    wire.ReturnStatus(0);
    wire.Finish({.kind = DoneKind::kDoneProc,
                 .status = static_cast<uint16_t>(sink.failed() ? kDoneError : kDoneFinal),
                 .current_command = 0,
                 .row_count = 0});
  }
  wire.End();
  if (wire.broken()) closing_ = true;
}

bool Connection::ReceiveBulk(std::unique_ptr<TextWrite> write) {
  uint8_t type = 0;
  uint8_t status = 0;
  std::string body;
  ReadResult r = ReadPacket(link_, &type, &status, &body, -1);
  if (r != ReadResult::kOk) {
    if (r == ReadResult::kMalformed) Log("malformed packet");
    return false;  // the transfer is dropped: the old value stays
  }
  if (type != kPacketBulk) {
    // The client gave up on the transfer (dbwritetext refused, or another
    // request instead): serve what came.
    write.reset();
    RequestMessage message;
    r = ReadMessageRest(link_, type, status, std::move(body), &message);
    if (r != ReadResult::kOk) return false;
    return Serve(message);
  }
  for (;;) {
    write->Append(body);
    if (status & kStatusEom) break;
    r = ReadPacket(link_, &type, &status, &body, kPacketTimeoutMs);
    if (r != ReadResult::kOk) {
      Log("connection lost during a BULK transfer");
      return false;
    }
    if (type == kPacketAttention) {
      write.reset();
      AcknowledgeAttention();
      return !writer_.failed();
    }
    if (type != kPacketBulk) {
      Log("packet type changed inside a BULK message");
      return false;
    }
  }
  WireSink sink(*this);
  try {
    write->Finish(sink);
  } catch (const std::exception& e) {
    ReportInternalError(sink, e);
  }
  write.reset();
  sink.End();
  return !sink.broken();
}

void Connection::RefuseBulk() {
  WireSink sink(*this);
  sink.Send({.number = 50000,
             .state = 1,
             .severity = 16,
             .text = "Bulk load is not supported by tdslite.",
             .procedure = {},
             .line = 1});
  sink.Finish(
      {.kind = DoneKind::kDone, .status = kDoneError, .current_command = 0, .row_count = 0});
  sink.End();
}

}  // namespace connection_detail

void ServeConnection(int fd, Engine& engine, const ServerOptions& options, uint16_t spid) {
  connection_detail::Connection connection(fd, engine, options, spid);
  try {
    connection.Run();
  } catch (const std::exception& e) {
    // Allocation failure, or an engine failure outside a batch: the
    // connection is given up, the server goes on.
    if (options.engine.verbose) std::fprintf(stderr, "tdslite: spid %u: %s\n", spid, e.what());
  } catch (...) {
    if (options.engine.verbose) std::fprintf(stderr, "tdslite: spid %u: unknown failure\n", spid);
  }
  // Tell the client at once; the descriptor is closed by the listener.
  ::shutdown(fd, SHUT_RDWR);
}

}  // namespace tdslite::protocol
