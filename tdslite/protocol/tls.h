// TLS for TDS 7.1-7.4 connections: the PRELOGIN ENCRYPTION negotiation,
// the server's certificate, and one connection's TLS session, whose
// handshake travels inside PRELOGIN packets and which afterwards carries the
// connection's bytes (all of them, or only the LOGIN7 packet).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tdslite/protocol/packet_io.h"

namespace tdslite::protocol {

// The PRELOGIN ENCRYPTION values.
enum EncryptionOption : uint8_t {
  kEncryptOff = 0,     // login only (or nothing when the other side cannot)
  kEncryptOn = 1,      // the whole session
  kEncryptNotSup = 2,  // cannot encrypt
  kEncryptReq = 3,     // requires the whole session encrypted
};

enum class EncryptionMode {
  kNone,       // plain TDS throughout
  kLoginOnly,  // TLS handshake, the LOGIN7 packet in TLS, then plain TDS
  kFull,       // TLS handshake, then everything in TLS
  kRefuse,     // the server requires encryption and the client cannot
};

struct EncryptionChoice {
  uint8_t reply;  // the ENCRYPTION value of the PRELOGIN reply
  EncryptionMode mode;
};

// What the server answers to a client's ENCRYPTION value. `can_encrypt`:
// the server has a certificate; `force`: it requires encryption.
EncryptionChoice NegotiateEncryption(uint8_t client, bool can_encrypt, bool force);

// The number and text of the error a login gets when the server requires
// encryption and the client does not encrypt.
constexpr int32_t kEncryptionRequiredError = 17835;
extern const char kEncryptionRequiredText[];

// The server's certificate and key, shared by every connection.
class TlsContext {
 public:
  // Loads a PEM certificate (chain) and its PEM private key; with both names
  // empty makes a self-signed certificate in memory instead. Null, with
  // `error` set, when that fails.
  static std::unique_ptr<TlsContext> Create(const std::string& cert_file,
                                            const std::string& key_file, std::string* error);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  struct Impl;
  const Impl& impl() const { return *impl_; }

 private:
  explicit TlsContext(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// One connection's TLS session (server side, TLS 1.2).
class TlsSession final : public ByteChannel {
 public:
  explicit TlsSession(const TlsContext& context);
  ~TlsSession() override;
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  enum class Step { kMore, kDone, kFailed };
  // Feeds the payload of one client handshake message; `reply` receives the
  // bytes to send back (possibly none). kFailed: give the connection up
  // (`reply` may still hold an alert worth sending).
  Step Handshake(std::string_view input, std::string* reply);
  // Why the handshake or a read failed.
  const std::string& error() const { return error_; }

  ssize_t Read(int fd, char* data, size_t n) override;
  bool Write(int fd, std::string_view data) override;
  bool Buffered() const override;

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::string error_;
};

// Client handshake messages larger than this are not TLS handshakes.
constexpr size_t kMaxHandshakeMessage = 64 * 1024;
// A TLS 1.2 handshake takes two client messages; a client needing many
// more is not completing one.
constexpr int kMaxHandshakeMessages = 8;

}  // namespace tdslite::protocol
