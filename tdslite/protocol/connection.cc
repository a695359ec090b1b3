// One client connection: PRELOGIN, LOGIN7, then requests until the client
// leaves. Results are streamed through WireSink while the socket is watched
// for an ATTENTION.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <strings.h>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>

#include "tdslite/common/forwarding_sink.h"
#include "tdslite/protocol/codec.h"
#include "tdslite/protocol/packet_io.h"
#include "tdslite/protocol/protocol.h"
#include "tdslite/protocol/tls.h"

namespace tdslite::protocol {

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

enum TransactionRequest : uint16_t {
  kTmBegin = 5,
  kTmCommit = 7,
  kTmRollback = 8,
};
constexpr uint8_t kTmBeginNewTransaction = 0x01;

// How many Cancelled() polls go by between two looks at the socket: a
// look is a system call, and the engine may poll once per row.
constexpr unsigned kCancelPollInterval = 64;

class Connection;

// The sink every request's results go through. It holds back each DONE until
// it knows whether anything follows, so that it can set DONE_MORE.
class WireSink final : public ResultSink {
 public:
  explicit WireSink(Connection& connection) : c_(connection) {}

  void Columns(std::span<const ColumnDesc> columns) override;
  bool Row(std::span<const Value> values) override;
  void Send(const Message& message) override;
  void Finish(const Done& done) override;
  void ReturnStatus(int32_t status) override;
  void DatabaseChanged(std::string_view old_name, std::string_view new_name) override;
  void TransactionChanged(TransactionEvent event, uint64_t descriptor) override;
  bool Cancelled() override;
  bool AcceptsLobSource() const override { return true; }

  // Ends the reply: the last DONE without MORE, or the attention
  // acknowledgement when the client cancelled.
  void End();
  bool broken() const;

 private:
  void Write(std::string_view bytes);
  void FlushPending();
  void LookForAttention();

  Connection& c_;
  std::string scratch_;
  std::vector<WireColumn> wire_;
  std::optional<Done> pending_;
  bool cancelled_ = false;
  bool broken_ = false;
  uint64_t packets_seen_ = 0;
  unsigned polls_ = 0;
};

// Forwards to the wire, turning statement DONEs into DONEINPROC: what a
// statement run inside sp_executesql reports.
class ProcedureSink final : public ForwardingSink {
 public:
  explicit ProcedureSink(ResultSink& wire) : ForwardingSink(wire) {}
  void Finish(const Done& done) override {
    Done inner = done;
    if (inner.kind == DoneKind::kDone) inner.kind = DoneKind::kDoneInProc;
    if (inner.status & kDoneError) failed_ = true;
    ForwardingSink::Finish(inner);
  }
  bool failed() const { return failed_; }

 private:
  bool failed_ = false;
};

class Connection {
 public:
  Connection(int fd, Engine& engine, const ServerOptions& options, uint16_t spid)
      : link_(fd), engine_(engine), options_(options), spid_(spid), writer_(link_, spid) {
    link_.set_send_timeout_ms(options.send_timeout_ms);
  }

  void Run();

  Link& link() { return link_; }
  TdsVersion version() const { return version_; }
  PacketWriter& writer() { return writer_; }
  const std::string& server_name() const { return options_.engine.server_name; }
  int32_t text_size() const { return session_ ? session_->TextSize() : 0; }
  uint64_t& descriptor() { return descriptor_; }
  uint64_t NextDescriptor() { return (uint64_t{spid_} << 32) | ++descriptors_made_; }

 private:
  // The PRELOGIN exchange, TLS when agreed, up to the LOGIN7 message.
  bool PreLogin(const RequestMessage& prelogin, RequestMessage* login);
  // The TLS handshake in PRELOGIN packets, then the LOGIN7 message read
  // through TLS (only its first packet when `mode` is login-only).
  bool StartTls(EncryptionMode mode, RequestMessage* login);
  // Answers a login that does not encrypt when the server requires it.
  void RefuseUnencrypted(const RequestMessage& login);
  bool Login(const RequestMessage& first);
  void SendLoginFailure(std::span<const Message> messages);
  bool Serve(const RequestMessage& request);
  void SqlBatch(std::string_view payload);
  void TransactionManager(std::string_view payload);
  void Rpc(std::string_view payload);
  void RefuseBulk();
  // Feeds the BULK message that follows an accepted `writetext bulk` to the
  // transfer. Answers false when the connection must close.
  bool ReceiveBulk(std::unique_ptr<TextWrite> write);
  void AcknowledgeAttention();
  // Skips ALL_HEADERS (7.2+); false when they are malformed.
  bool SkipAllHeaders(ByteReader& reader);
  void Log(const char* what) const;
  // The client's address without the port ("" when unknown).
  std::string PeerAddress() const;
  bool KnownLogin(const Login7& login);

  Link link_;
  // Until the login is done the client has a total deadline and a small
  // allowance for what it sends, whatever it sends.
  ReadLimits before_login_;
  std::unique_ptr<TlsSession> tls_;
  Engine& engine_;
  const ServerOptions& options_;
  uint16_t spid_;
  PacketWriter writer_;
  TdsVersion version_ = TdsVersion::k70;
  std::unique_ptr<Session> session_;
  uint64_t descriptor_ = 0;
  uint32_t descriptors_made_ = 0;
  bool closing_ = false;
};

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

bool Connection::PreLogin(const RequestMessage& prelogin, RequestMessage* login) {
  std::optional<PreloginRequest> request = ParsePrelogin(prelogin.payload);
  if (!request) {
    Log("malformed PRELOGIN");
    return false;
  }
  EncryptionChoice choice =
      NegotiateEncryption(request->encryption, options_.tls != nullptr, options_.force_encryption);
  writer_.Append(BuildPreloginReply(*request, choice.reply));
  writer_.End();
  if (writer_.failed()) return false;
  switch (choice.mode) {
    case EncryptionMode::kNone:
      return ReadMessage(link_, login, before_login_) == ReadResult::kOk;
    case EncryptionMode::kRefuse:
      // A client that said it cannot encrypt either gives up now or logs in
      // in plain text and is told why it cannot.
      if (ReadMessage(link_, login, before_login_) == ReadResult::kOk &&
          login->type == kPacketLogin7) {
        RefuseUnencrypted(*login);
      } else {
        Log("client cannot encrypt; encryption is required");
      }
      return false;
    case EncryptionMode::kLoginOnly:
    case EncryptionMode::kFull:
      return StartTls(choice.mode, login);
  }
  return false;
}

bool Connection::StartTls(EncryptionMode mode, RequestMessage* login) {
  tls_ = std::make_unique<TlsSession>(*options_.tls);
  RequestMessage message;
  for (int i = 0;; ++i) {
    if (i == kMaxHandshakeMessages) {
      Log("TLS handshake does not end");
      return false;
    }
    // Handshake messages are larger than a PRELOGIN, but keep to the
    // login's deadline.
    ReadLimits handshake = before_login_;
    handshake.before_login = false;
    handshake.max_bytes = kMaxHandshakeMessage;
    if (ReadMessage(link_, &message, handshake) != ReadResult::kOk) {
      // A client that distrusts the certificate hangs up without an alert.
      Log("TLS handshake failed: the client closed the connection or timed out");
      return false;
    }
    if (message.type != kPacketPrelogin) {
      Log("expected a TLS handshake in a PRELOGIN message");
      return false;
    }
    std::string reply;
    TlsSession::Step step = tls_->Handshake(message.payload, &reply);
    if (!reply.empty()) {
      writer_.set_type(kPacketPrelogin);
      writer_.Append(reply);
      writer_.End();
      writer_.set_type(kPacketReply);
      if (writer_.failed()) return false;
    }
    if (step == TlsSession::Step::kFailed) {
      Log(tls_->error().c_str());
      return false;
    }
    if (step == TlsSession::Step::kDone) break;
  }
  link_.set_channel(tls_.get());
  if (mode == EncryptionMode::kFull) {
    Log("session encrypted");
    return ReadMessage(link_, login, before_login_) == ReadResult::kOk;
  }
  // Login-only: the client encrypts the first packet of LOGIN7 and nothing
  // after it.
  uint8_t type = 0;
  uint8_t status = 0;
  std::string body;
  const Deadline left = std::max<Deadline>(0, before_login_.deadline - NowMs());
  ReadResult r = ReadPacket(link_, &type, &status, &body, static_cast<int>(left));
  link_.set_channel(nullptr);
  tls_.reset();
  if (r != ReadResult::kOk) return false;
  Log("login encrypted");
  return ReadMessageRest(link_, type, status, std::move(body), login, before_login_) ==
         ReadResult::kOk;
}

void Connection::RefuseUnencrypted(const RequestMessage& login) {
  Log("refused: the client does not encrypt");
  // The error goes out in the layout of the client's version.
  Login7 parsed;
  if (ParseLogin7(login.payload, &parsed) == LoginParseError::kNone) {
    version_ = NegotiateVersion(parsed.tds_version).value_or(TdsVersion::k70);
  }
  Message m{.number = kEncryptionRequiredError,
            .state = 1,
            .severity = 20,
            .text = kEncryptionRequiredText,
            .procedure = {},
            .line = 1};
  SendLoginFailure({&m, 1});
}

void Connection::SendLoginFailure(std::span<const Message> messages) {
  writer_.Append(BuildLoginFailure(messages, server_name(), version_));
  writer_.End();
}

bool Connection::Login(const RequestMessage& first) {
  Login7 login;
  LoginParseError error = ParseLogin7(first.payload, &login);
  if (error != LoginParseError::kNone) {
    Log(error == LoginParseError::kUnknownVersion ? "unknown TDS version" : "malformed LOGIN7");
    return false;
  }
  version_ = *NegotiateVersion(login.tds_version);
  auto failed = [&](std::string_view user) {
    return Message{.number = 18456,
                   .state = 1,
                   .severity = 14,
                   .text = "Login failed for user '" + std::string(user) + "'.",
                   .procedure = {},
                   .line = 1};
  };
  if (!KnownLogin(login)) {
    Log("login failed");
    Message m = failed(login.user_name);
    SendLoginFailure({&m, 1});
    return false;
  }
  const std::string& dbname = options_.engine.database_name;
  if (!login.database.empty() && strcasecmp(login.database.c_str(), dbname.c_str()) != 0) {
    Log("login asked for an unknown database");
    Message messages[2] = {{.number = 4060,
                            .state = 1,
                            .severity = 11,
                            .text = "Cannot open database \"" + login.database +
                                    "\" requested by the login. " + "The login failed.",
                            .procedure = {},
                            .line = 1},
                           failed(login.user_name)};
    SendLoginFailure(messages);
    return false;
  }
  SessionInfo info;
  info.spid = spid_;
  info.login = login.user_name;
  info.app_name = login.app_name;
  info.host_name = login.host_name;
  info.tds_version = login.tds_version;
  info.odbc = (login.option_flags2 & 0x02) != 0;
  try {
    session_ = engine_.NewSession(info);
  } catch (const std::exception& e) {
    if (options_.engine.verbose) std::fprintf(stderr, "tdslite: new session: %s\n", e.what());
  }
  if (!session_) {
    Message m = failed(login.user_name);
    SendLoginFailure({&m, 1});
    return false;
  }
  LoginReply reply;
  reply.version = version_;
  reply.ack_version = LoginAckVersion(login.tds_version);
  reply.database = dbname;
  reply.server_name = server_name();
  reply.packet_size = NegotiatePacketSize(login.packet_size);
  // The login reply itself goes out in default-sized packets.
  writer_.Append(BuildLoginResponse(reply));
  writer_.End();
  writer_.set_packet_size(reply.packet_size);
  if (options_.engine.verbose) {
    static constexpr const char* kNames[] = {"7.0", "7.1", "7.2", "7.3", "7.4"};
    const auto index = static_cast<size_t>(version_) - static_cast<size_t>(TdsVersion::k70);
    Log((std::string("logged in, TDS ") + (index < 5 ? kNames[index] : "?")).c_str());
  }
  return !writer_.failed();
}

std::string Connection::PeerAddress() const {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(link_.fd(), reinterpret_cast<sockaddr*>(&peer), &length) != 0) return "";
  char text[INET6_ADDRSTRLEN] = {};
  const void* address =
      peer.ss_family == AF_INET6
          ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr)
          : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&peer)->sin_addr);
  if (::inet_ntop(peer.ss_family, address, text, sizeof text) == nullptr) return "";
  return text;
}

bool Connection::KnownLogin(const Login7& login) {
  if (login.integrated_security()) return false;
  // An address that failed too often lately is refused before its password
  // is looked at.
  const std::string address = PeerAddress();
  if (options_.throttle != nullptr && !options_.throttle->Allowed(address, NowMs())) {
    Log("login refused: too many failed logins from this address");
    return false;
  }
  bool known = false;
  if (options_.logins.empty()) {
    known = login.user_name == "sa" && login.password.empty();
  } else {
    // Every account is compared, each password in constant time.
    unsigned matches = 0;
    for (const auto& l : options_.logins) {
      matches |= static_cast<unsigned>(l.name == login.user_name) &
                 static_cast<unsigned>(SamePassword(login.password, l.password));
    }
    known = matches != 0;
  }
  if (!known && options_.throttle != nullptr) options_.throttle->Failed(address, NowMs());
  return known;
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

}  // namespace

void ServeConnection(int fd, Engine& engine, const ServerOptions& options, uint16_t spid) {
  Connection connection(fd, engine, options, spid);
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
