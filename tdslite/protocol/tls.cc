// TLS over OpenSSL with memory BIOs: tdslite moves every byte itself, so the
// handshake can travel inside PRELOGIN packets and reads keep the packet
// timeouts of the plain path.
#include "tdslite/protocol/tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace tdslite::protocol {

const char kEncryptionRequiredText[] =
    "Encryption is required to connect to this server but the client library does not support "
    "encryption; the connection has been closed. Please upgrade your client library.";

EncryptionChoice NegotiateEncryption(uint8_t client, bool can_encrypt, bool force) {
  if (!can_encrypt) return {kEncryptNotSup, EncryptionMode::kNone};
  // TDS 7.4 clients may add ENCRYPT_CLIENT_CERT (0x80); tdslite asks for no
  // client certificate, so only the low bits count.
  switch (client & 0x7F) {
    case kEncryptNotSup:
      if (force) return {kEncryptReq, EncryptionMode::kRefuse};
      return {kEncryptNotSup, EncryptionMode::kNone};
    case kEncryptOff:
      if (force) return {kEncryptReq, EncryptionMode::kFull};
      return {kEncryptOff, EncryptionMode::kLoginOnly};
    default:  // ON, REQ, or a value of a later version: encrypt everything
      return {kEncryptOn, EncryptionMode::kFull};
  }
}

namespace {

// The last OpenSSL error as text ("what" when the queue is empty).
std::string OpenSslError(const char* what) {
  std::string text = what;
  unsigned long code = ERR_get_error();
  if (code != 0) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    text += ": ";
    text += buffer;
  }
  ERR_clear_error();
  return text;
}

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;

// A fresh P-256 key and a certificate for it, signed by itself, as SQL
// Server makes when it was given none.
bool MakeSelfSigned(SSL_CTX* ctx, std::string* error) {
  PkeyPtr key(EVP_EC_gen("P-256"));
  X509Ptr cert(X509_new());
  if (!key || !cert) {
    *error = OpenSslError("cannot make a key");
    return false;
  }
  unsigned char serial[8];
  if (RAND_bytes(serial, sizeof serial) != 1) {
    *error = OpenSslError("no random serial number");
    return false;
  }
  serial[0] &= 0x7F;  // positive
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  bool ok = bn != nullptr && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
  BN_free(bn);
  X509_NAME* name = X509_get_subject_name(cert.get());
  ok = ok && X509_set_version(cert.get(), 2) == 1 &&
       X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24L * 3600) != nullptr &&
       X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600) != nullptr &&
       X509_NAME_add_entry_by_txt(
           name, "CN", MBSTRING_ASC,
           reinterpret_cast<const unsigned char*>("SSL_Self_Signed_Fallback"), -1, -1, 0) == 1 &&
       X509_set_issuer_name(cert.get(), name) == 1 && X509_set_pubkey(cert.get(), key.get()) == 1 &&
       X509_sign(cert.get(), key.get(), EVP_sha256()) > 0 &&
       SSL_CTX_use_certificate(ctx, cert.get()) == 1 && SSL_CTX_use_PrivateKey(ctx, key.get()) == 1;
  if (!ok) *error = OpenSslError("cannot make a self-signed certificate");
  return ok;
}

}  // namespace

struct TlsContext::Impl {
  SSL_CTX* ctx = nullptr;
  ~Impl() { SSL_CTX_free(ctx); }
};

TlsContext::TlsContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsContext::~TlsContext() = default;

std::unique_ptr<TlsContext> TlsContext::Create(const std::string& cert_file,
                                               const std::string& key_file, std::string* error) {
  auto impl = std::make_unique<Impl>();
  impl->ctx = SSL_CTX_new(TLS_server_method());
  if (impl->ctx == nullptr) {
    *error = OpenSslError("cannot set up TLS");
    return nullptr;
  }
  SSL_CTX* ctx = impl->ctx;
  // TDS 7.x carries TLS 1.2: in 1.3 the handshake ends with a client flight
  // the server does not answer, which the PRELOGIN exchange cannot carry.
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION |
                               SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_COMPRESSION);
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
  if (cert_file.empty() && key_file.empty()) {
    if (!MakeSelfSigned(ctx, error)) return nullptr;
  } else {
    // A server must never stop to ask for a passphrase on a terminal: an
    // encrypted key fails to load, and the start fails with it.
    SSL_CTX_set_default_passwd_cb(ctx, [](char*, int, int, void*) { return 0; });
    if (SSL_CTX_use_certificate_chain_file(ctx, cert_file.c_str()) != 1) {
      *error = OpenSslError(("cannot load the certificate '" + cert_file + "'").c_str());
      return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
      *error = OpenSslError(("cannot load the private key '" + key_file + "'").c_str());
      return nullptr;
    }
    if (SSL_CTX_check_private_key(ctx) != 1) {
      *error = OpenSslError("the private key does not belong to the certificate");
      return nullptr;
    }
  }
  return std::unique_ptr<TlsContext>(new TlsContext(std::move(impl)));
}

// ---- TlsSession ----

struct TlsSession::State {
  SSL* ssl = nullptr;
  BIO* in = nullptr;   // bytes from the client, for OpenSSL to read
  BIO* out = nullptr;  // bytes OpenSSL wrote, for the client
  std::vector<char> buffer = std::vector<char>(32 * 1024);
  std::string record;          // a record read in part
  ~State() { SSL_free(ssl); }  // frees both BIOs
};

TlsSession::TlsSession(const TlsContext& context) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.ssl = SSL_new(context.impl().ctx);
  s.in = BIO_new(BIO_s_mem());
  s.out = BIO_new(BIO_s_mem());
  if (s.ssl == nullptr || s.in == nullptr || s.out == nullptr) {
    BIO_free(s.in);
    BIO_free(s.out);
    s.in = s.out = nullptr;
    return;
  }
  BIO_set_mem_eof_return(s.in, -1);  // an empty input means "wait", not "end"
  SSL_set_bio(s.ssl, s.in, s.out);
  SSL_set_accept_state(s.ssl);
}

TlsSession::~TlsSession() = default;

namespace {

constexpr size_t kRecordHeader = 5;  // content type, version, length

void Drain(BIO* bio, std::string* to) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  if (size > 0) to->append(data, static_cast<size_t>(size));
  (void)BIO_reset(bio);
}

}  // namespace

TlsSession::Step TlsSession::Handshake(std::string_view input, std::string* reply) {
  State& s = *state_;
  if (s.in == nullptr) {
    error_ = "no TLS session";
    return Step::kFailed;
  }
  if (input.size() > kMaxHandshakeMessage ||
      BIO_write(s.in, input.data(), static_cast<int>(input.size())) !=
          static_cast<int>(input.size())) {
    error_ = "TLS handshake message too large";
    return Step::kFailed;
  }
  ERR_clear_error();
  int rc = SSL_do_handshake(s.ssl);
  Drain(s.out, reply);
  if (rc == 1) return Step::kDone;
  int e = SSL_get_error(s.ssl, rc);
  if (e == SSL_ERROR_WANT_READ) return Step::kMore;
  error_ = OpenSslError("TLS handshake failed");
  return Step::kFailed;
}

ssize_t TlsSession::Read(int fd, char* data, size_t n) {
  State& s = *state_;
  n = std::min<size_t>(n, INT_MAX);
  for (;;) {
    ERR_clear_error();
    int r = SSL_read(s.ssl, data, static_cast<int>(n));
    if (r > 0) return r;
    int e = SSL_get_error(s.ssl, r);
    if (e == SSL_ERROR_ZERO_RETURN) return 0;  // the client's close_notify
    if (e != SSL_ERROR_WANT_READ) {
      error_ = OpenSslError("TLS read failed");
      errno = EPROTO;
      return -1;
    }
    // Take from the socket what completes the next record and no more
    // (bytes after it may not be TLS: a login-only client's later packets),
    // and hand OpenSSL whole records only, so that bytes it holds always
    // make a record it can read without the socket.
    std::string& record = s.record;
    auto whole = [&record] {
      if (record.size() < kRecordHeader) return kRecordHeader;
      return kRecordHeader +
             ((static_cast<uint8_t>(record[3]) << 8) | static_cast<uint8_t>(record[4]));
    };
    size_t need = whole() - record.size();
    ssize_t got = ::recv(fd, s.buffer.data(), std::min(need, s.buffer.size()), MSG_DONTWAIT);
    if (got <= 0) return got;  // end of stream, or errno (EAGAIN: wait)
    record.append(s.buffer.data(), static_cast<size_t>(got));
    if (record.size() == whole()) {
      if (BIO_write(s.in, record.data(), static_cast<int>(record.size())) !=
          static_cast<int>(record.size())) {
        errno = ENOMEM;
        return -1;
      }
      record.clear();
    }
  }
}

bool TlsSession::Write(int fd, std::string_view data) {
  State& s = *state_;
  while (!data.empty()) {
    ERR_clear_error();
    int chunk = static_cast<int>(std::min<size_t>(data.size(), 16384));
    int w = SSL_write(s.ssl, data.data(), chunk);
    if (w <= 0) {
      error_ = OpenSslError("TLS write failed");
      return false;
    }
    data.remove_prefix(static_cast<size_t>(w));
  }
  char* bytes = nullptr;
  long size = BIO_get_mem_data(s.out, &bytes);
  size_t sent = 0;
  bool ok = true;
  while (size > 0 && sent < static_cast<size_t>(size)) {
    ssize_t w = ::send(fd, bytes + sent, static_cast<size_t>(size) - sent, MSG_NOSIGNAL);
    if (w < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    sent += static_cast<size_t>(w);
  }
  (void)BIO_reset(s.out);
  return ok;
}

bool TlsSession::Buffered() const {
  const State& s = *state_;
  return SSL_pending(s.ssl) > 0 || BIO_ctrl_pending(s.in) > 0;
}

}  // namespace tdslite::protocol
