// The start of a connection: PRELOGIN, TLS when agreed, and LOGIN7 with the
// login check.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <strings.h>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "tdslite/protocol/connection_internal.h"

namespace tdslite::protocol::connection_detail {

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

}  // namespace tdslite::protocol::connection_detail
