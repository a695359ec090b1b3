// tdslite's TLS session at the PRELOGIN/handshake boundary, the way a
// connection drives it: the encryption negotiation, then client handshake
// messages, then (should a handshake complete) records read as the session.
// Mode 0 feeds the input as the messages themselves (2-byte length each);
// mode 1 runs a real client in memory and spoils its messages with the
// input (position/XOR pairs), so that mutations reach deep into the
// handshake.
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tdslite/protocol/tls.h"

using namespace tdslite::protocol;

namespace {

const TlsContext& Context() {
  static std::unique_ptr<TlsContext> context = [] {
    std::string error;
    return TlsContext::Create("", "", &error);
  }();
  return *context;
}

SSL_CTX* ClientContext() {
  static SSL_CTX* ctx = [] {
    SSL_CTX* c = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_max_proto_version(c, TLS1_2_VERSION);
    return c;
  }();
  return ctx;
}

// Reads what the session yields from `bytes` written on a socket: the
// post-handshake path of a connection.
void ReadAfterHandshake(TlsSession& session, std::string_view bytes) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
  if (!bytes.empty()) {
    [[maybe_unused]] ssize_t n =
        ::write(fds[1], bytes.data(), bytes.size() > 60000 ? 60000 : bytes.size());
  }
  ::shutdown(fds[1], SHUT_WR);
  char buffer[4096];
  for (int i = 0; i < 64; ++i) {
    ssize_t r = session.Read(fds[0], buffer, sizeof buffer);
    if (r <= 0) break;
  }
  session.Write(fds[0], "reply");
  ::close(fds[0]);
  ::close(fds[1]);
}

void RawMessages(std::string_view input) {
  TlsSession session(Context());
  for (int i = 0; i < kMaxHandshakeMessages && input.size() >= 2; ++i) {
    size_t length = (static_cast<uint8_t>(input[0]) << 8) | static_cast<uint8_t>(input[1]);
    input.remove_prefix(2);
    std::string_view message = input.substr(0, length);
    input.remove_prefix(message.size());
    std::string reply;
    TlsSession::Step step = session.Handshake(message, &reply);
    if (step == TlsSession::Step::kFailed) return;
    if (step == TlsSession::Step::kDone) {
      ReadAfterHandshake(session, input);
      return;
    }
  }
}

void SpoiledClient(std::string_view input) {
  SSL* client = SSL_new(ClientContext());
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  SSL_set_bio(client, in, out);
  SSL_set_connect_state(client);
  TlsSession session(Context());
  for (int i = 0; i < kMaxHandshakeMessages; ++i) {
    SSL_do_handshake(client);
    std::string message;
    char* data = nullptr;
    long size = BIO_get_mem_data(out, &data);
    if (size > 0) message.assign(data, static_cast<size_t>(size));
    (void)BIO_reset(out);
    // Up to eight spoiled bytes per message: position (2 bytes) and XOR.
    for (int k = 0; k < 8 && input.size() >= 3 && !message.empty(); ++k) {
      size_t at =
          ((static_cast<uint8_t>(input[0]) << 8) | static_cast<uint8_t>(input[1])) % message.size();
      message[at] = static_cast<char>(message[at] ^ input[2]);
      input.remove_prefix(3);
      if (!input.empty() && input[0] == '\0') {
        input.remove_prefix(1);
        break;
      }
    }
    std::string reply;
    TlsSession::Step step = session.Handshake(message, &reply);
    if (!reply.empty()) BIO_write(in, reply.data(), static_cast<int>(reply.size()));
    if (step == TlsSession::Step::kFailed) break;
    if (step == TlsSession::Step::kDone) {
      SSL_do_handshake(client);
      if (SSL_write(client, input.data(), static_cast<int>(input.size())) > 0) {
        size = BIO_get_mem_data(out, &data);
        ReadAfterHandshake(session, std::string_view(data, size > 0 ? size : 0));
      }
      break;
    }
  }
  SSL_free(client);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  NegotiateEncryption(data[0], data[1] & 1, data[1] & 2);
  std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);
  if (data[0] & 1) {
    SpoiledClient(input);
  } else {
    RawMessages(input);
  }
  return 0;
}
