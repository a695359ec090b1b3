// What the connection's files share: the sink a request's results go
// through, and the connection itself (connection.cc: the request loop and the
// requests; connection_login.cc: PRELOGIN, TLS and LOGIN7).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tdslite/common/forwarding_sink.h"
#include "tdslite/protocol/codec.h"
#include "tdslite/protocol/packet_io.h"
#include "tdslite/protocol/protocol.h"
#include "tdslite/protocol/tls.h"

namespace tdslite::protocol::connection_detail {

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
  void ReturnValue(const ReturnedValue& value) override;
  void DatabaseChanged(std::string_view old_name, std::string_view new_name) override;
  void TransactionChanged(TransactionEvent event, uint64_t descriptor) override;
  bool Cancelled() override;
  bool Pause(int64_t milliseconds) override;
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

}  // namespace tdslite::protocol::connection_detail
