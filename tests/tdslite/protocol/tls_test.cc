// TLS in tdslite: the ENCRYPTION negotiation table, the session's handshake
// and record I/O against a real client in memory, and a served connection
// (scripted engine) driven through full, login-only and refused encryption
// and a broken handshake.
#include "tdslite/protocol/tls.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tdslite/protocol/codec.h"
#include "tdslite/protocol/protocol.h"

namespace tdslite::protocol {
namespace {

TEST(NegotiateEncryption, AnswersEachClientValueAsSqlServerDoes) {
  struct Case {
    uint8_t client;
    bool can_encrypt;
    bool force;
    uint8_t reply;
    EncryptionMode mode;
  };
  const Case cases[] = {
      {kEncryptOff, true, false, kEncryptOff, EncryptionMode::kLoginOnly},
      {kEncryptOn, true, false, kEncryptOn, EncryptionMode::kFull},
      {kEncryptNotSup, true, false, kEncryptNotSup, EncryptionMode::kNone},
      {kEncryptReq, true, false, kEncryptOn, EncryptionMode::kFull},
      {kEncryptOff, true, true, kEncryptReq, EncryptionMode::kFull},
      {kEncryptOn, true, true, kEncryptOn, EncryptionMode::kFull},
      {kEncryptNotSup, true, true, kEncryptReq, EncryptionMode::kRefuse},
      {0x81, true, false, kEncryptOn, EncryptionMode::kFull},  // ON + client certificate
      {0x80, true, false, kEncryptOff, EncryptionMode::kLoginOnly},
      {0x47, true, false, kEncryptOn, EncryptionMode::kFull},  // unknown: encrypt
      {kEncryptOn, false, false, kEncryptNotSup, EncryptionMode::kNone},
      {kEncryptOff, false, false, kEncryptNotSup, EncryptionMode::kNone},
  };
  for (const Case& c : cases) {
    EncryptionChoice choice = NegotiateEncryption(c.client, c.can_encrypt, c.force);
    EXPECT_EQ(choice.reply, c.reply) << int(c.client) << " " << c.can_encrypt << c.force;
    EXPECT_EQ(choice.mode, c.mode) << int(c.client) << " " << c.can_encrypt << c.force;
  }
}

const TlsContext& Context() {
  static std::unique_ptr<TlsContext> context = [] {
    std::string error;
    auto c = TlsContext::Create("", "", &error);
    EXPECT_NE(c, nullptr) << error;
    return c;
  }();
  return *context;
}

// A TLS client over memory BIOs: what it writes is taken with Take(), what
// the server sent is given with Give().
class MemoryClient {
 public:
  explicit MemoryClient(int max_version = TLS1_2_VERSION, int min_version = 0) {
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (min_version) SSL_CTX_set_min_proto_version(ctx_, min_version);
    SSL_CTX_set_max_proto_version(ctx_, max_version);
    ssl_ = SSL_new(ctx_);
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(in_, -1);
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_connect_state(ssl_);
  }
  ~MemoryClient() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
  }
  bool Step() { return SSL_do_handshake(ssl_) == 1; }
  std::string Take() {
    std::string bytes;
    char* data = nullptr;
    long n = BIO_get_mem_data(out_, &data);
    if (n > 0) bytes.assign(data, static_cast<size_t>(n));
    (void)BIO_reset(out_);
    return bytes;
  }
  void Give(std::string_view bytes) {
    BIO_write(in_, bytes.data(), static_cast<int>(bytes.size()));
  }
  std::string Seal(std::string_view plain) {
    SSL_write(ssl_, plain.data(), static_cast<int>(plain.size()));
    return Take();
  }
  std::string Open(std::string_view records) {
    Give(records);
    std::string plain;
    char buffer[4096];
    int n;
    while ((n = SSL_read(ssl_, buffer, sizeof buffer)) > 0) plain.append(buffer, n);
    return plain;
  }
  const char* Version() const { return SSL_get_version(ssl_); }

 private:
  SSL_CTX* ctx_;
  SSL* ssl_;
  BIO* in_;
  BIO* out_;
};

// Runs the handshake between `client` and `session` message by message, as
// the PRELOGIN exchange does; answers the server's last step and how many
// client messages it took.
TlsSession::Step Handshake(MemoryClient& client, TlsSession& session, int* messages) {
  *messages = 0;
  for (int i = 0; i < kMaxHandshakeMessages; ++i) {
    client.Step();
    std::string reply;
    ++*messages;
    TlsSession::Step step = session.Handshake(client.Take(), &reply);
    client.Give(reply);
    if (step != TlsSession::Step::kMore) {
      client.Step();
      return step;
    }
  }
  return TlsSession::Step::kMore;
}

struct SocketPair {
  int server = -1;
  int client = -1;
  SocketPair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
      server = fds[0];
      client = fds[1];
    }
  }
  ~SocketPair() {
    if (server >= 0) ::close(server);
    if (client >= 0) ::close(client);
  }
  void ClientSends(std::string_view bytes) const {
    ASSERT_EQ(::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  std::string ClientReadsAll() const {
    std::string bytes;
    char buffer[65536];
    for (;;) {
      pollfd p{client, POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) break;
      ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
  }
};

TEST(TlsSession, CompletesATls12HandshakeInTwoMessagesThenCarriesRecords) {
  MemoryClient client;
  TlsSession session(Context());
  int messages = 0;
  ASSERT_EQ(Handshake(client, session, &messages), TlsSession::Step::kDone) << session.error();
  EXPECT_EQ(messages, 2);
  EXPECT_STREQ(client.Version(), "TLSv1.2");

  SocketPair pair;
  Link link(pair.server);
  link.set_channel(&session);
  // Two packets in one record, then a large one over many records: reads
  // of any size see the plain bytes in order, and the first leaves the rest
  // buffered (a poll on the socket would not see it).
  std::string large(60000, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7);
  pair.ClientSends(client.Seal("first-packet|second-packet"));
  pair.ClientSends(client.Seal(large));
  char head[13];
  ASSERT_EQ(link.Read(head, sizeof head), 13);
  EXPECT_EQ(std::string(head, 13), "first-packet|");
  EXPECT_TRUE(link.Buffered());
  std::string rest;
  char buffer[3000];
  while (rest.size() < 13 + large.size()) {
    ssize_t n = link.Read(buffer, sizeof buffer);
    if (n < 0 && errno == EAGAIN) {
      pollfd p{pair.server, POLLIN, 0};
      ASSERT_EQ(::poll(&p, 1, 2000), 1);
      continue;
    }
    ASSERT_GT(n, 0);
    rest.append(buffer, static_cast<size_t>(n));
  }
  EXPECT_EQ(rest, "second-packet" + large);
  EXPECT_FALSE(link.Buffered());

  // Nothing more: the read says "wait", not "end"; then the peer's end.
  EXPECT_EQ(link.Read(buffer, sizeof buffer), -1);
  EXPECT_EQ(errno, EAGAIN);

  ASSERT_TRUE(link.Write("reply bytes"));
  ASSERT_TRUE(link.Write(large));
  EXPECT_EQ(client.Open(pair.ClientReadsAll()), "reply bytes" + large);
  ::shutdown(pair.client, SHUT_WR);
  EXPECT_EQ(link.Read(buffer, sizeof buffer), 0);
}

TEST(TlsSession, ARecordArrivingByteByByteIsReadWhenComplete) {
  MemoryClient client;
  TlsSession session(Context());
  int messages = 0;
  ASSERT_EQ(Handshake(client, session, &messages), TlsSession::Step::kDone);
  SocketPair pair;
  std::string record = client.Seal("whole");
  char buffer[16];
  for (size_t i = 0; i + 1 < record.size(); ++i) {
    pair.ClientSends(record.substr(i, 1));
    ASSERT_EQ(session.Read(pair.server, buffer, sizeof buffer), -1);
    ASSERT_EQ(errno, EAGAIN);
  }
  pair.ClientSends(record.substr(record.size() - 1));
  ASSERT_EQ(session.Read(pair.server, buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "whole");
}

TEST(TlsSession, RefusesWhatIsNotATls12Handshake) {
  {  // a client that offers TLS 1.3 only: 1.3 cannot travel in PRELOGIN
    MemoryClient client(TLS1_3_VERSION, TLS1_3_VERSION);
    TlsSession session(Context());
    int messages = 0;
    EXPECT_EQ(Handshake(client, session, &messages), TlsSession::Step::kFailed);
    EXPECT_NE(session.error(), "");
  }
  {  // a client allowed 1.3 gets 1.2
    MemoryClient client(TLS1_3_VERSION);
    TlsSession session(Context());
    int messages = 0;
    EXPECT_EQ(Handshake(client, session, &messages), TlsSession::Step::kDone);
    EXPECT_STREQ(client.Version(), "TLSv1.2");
  }
  std::string reply;
  const std::string garbage[] = {
      "not a TLS record at all",
      std::string("\x16\x03\x01\x00\x05\x01\x00\x00\x01\x00", 10),  // a hello cut short
      std::string("\x17\x03\x03\x00\x02hi", 7),                     // data before a handshake
  };
  for (const std::string& g : garbage) {
    TlsSession session(Context());
    EXPECT_EQ(session.Handshake(g, &reply), TlsSession::Step::kFailed) << g;
  }
  TlsSession session(Context());
  EXPECT_EQ(session.Handshake(std::string(kMaxHandshakeMessage + 1, '\x16'), &reply),
            TlsSession::Step::kFailed);
  // A hello arriving in pieces is waited for.
  MemoryClient client;
  client.Step();
  std::string hello = client.Take();
  TlsSession pieces(Context());
  reply.clear();
  EXPECT_EQ(pieces.Handshake(hello.substr(0, 20), &reply), TlsSession::Step::kMore);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(pieces.Handshake(hello.substr(20), &reply), TlsSession::Step::kMore);
  EXPECT_NE(reply, "");
}

// ---- a served connection ----

std::string Ucs2(std::string_view s) {
  std::string out;
  for (char c : s) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

// A LOGIN7 for `sa` with an empty password (the scripted engine's login).
std::string Login(uint32_t version) {
  const bool fixed94 = version >= 0x72000000;
  const size_t fixed = fixed94 ? 94 : 86;
  std::string table;
  std::string data;
  for (std::string_view s : {"host", "sa", "", "app", "srv"}) {
    PutU16(table, static_cast<uint16_t>(fixed + data.size()));
    PutU16(table, static_cast<uint16_t>(s.size()));
    data += Ucs2(s);
  }
  PutU32(table, 0);
  for (std::string_view s : {"lib", "us_english", ""}) {
    PutU16(table, static_cast<uint16_t>(fixed + data.size()));
    PutU16(table, static_cast<uint16_t>(s.size()));
    data += Ucs2(s);
  }
  table += std::string(fixed94 ? 22 : 14, '\0');
  std::string head;
  PutU32(head, static_cast<uint32_t>(fixed + data.size()));
  PutU32(head, version);
  PutU32(head, 4096);
  head += std::string(12, '\0');
  head += std::string("\xe0\x01\x00\x00\x88\xff\xff\xff\x36\x04\x00\x00", 12);
  return head + table + data;
}

std::string Packet(uint8_t type, std::string_view body, bool last = true) {
  std::string p;
  PutU8(p, type);
  PutU8(p, last ? kStatusEom : 0);
  PutU16BE(p, static_cast<uint16_t>(8 + body.size()));
  PutU32(p, 0);
  p += body;
  return p;
}

std::string Prelogin(uint8_t encryption) {
  std::string p = std::string("\x00\x00\x0b\x00\x06\x01\x00\x11\x00\x01\xff", 11);
  p += std::string("\x09\x00\x00\x00\x00\x00", 6);
  p.push_back(static_cast<char>(encryption));
  return p;
}

// Splits a server byte stream into packets: (type, payload) pairs.
std::vector<std::pair<uint8_t, std::string>> Packets(std::string_view bytes) {
  std::vector<std::pair<uint8_t, std::string>> out;
  while (bytes.size() >= 8) {
    size_t length = (static_cast<uint8_t>(bytes[2]) << 8) | static_cast<uint8_t>(bytes[3]);
    if (length < 8 || length > bytes.size()) break;
    out.emplace_back(static_cast<uint8_t>(bytes[0]), std::string(bytes.substr(8, length - 8)));
    bytes.remove_prefix(length);
  }
  return out;
}

class ServedConnection : public ::testing::Test {
 protected:
  void Serve(bool force) {
    std::string error;
    engine_ = Engine::Open(options_.engine, &error);
    ASSERT_NE(engine_, nullptr) << error;
    options_.tls = std::shared_ptr<const TlsContext>(&Context(), [](const TlsContext*) {});
    options_.force_encryption = force;
    thread_ = std::thread([this] {
      ServeConnection(pair_.server, *engine_, options_, 51);
      served_ = true;
    });
  }
  void TearDown() override {
    ::shutdown(pair_.client, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
  }
  // The PRELOGIN exchange and the handshake; answers the ENCRYPTION value
  // the server replied with.
  uint8_t Negotiate(MemoryClient& client, uint8_t encryption) {
    pair_.ClientSends(Packet(kPacketPrelogin, Prelogin(encryption)));
    auto reply = Packets(pair_.ClientReadsAll());
    EXPECT_EQ(reply.size(), 1u);
    if (reply.empty()) return 0xFF;
    EXPECT_EQ(reply[0].first, kPacketReply);
    const std::string& p = reply[0].second;
    uint8_t value =
        static_cast<uint8_t>(p[(static_cast<uint8_t>(p[6]) << 8) | static_cast<uint8_t>(p[7])]);
    // A client that cannot encrypt starts no handshake, whatever the answer.
    if (value == kEncryptNotSup || encryption == kEncryptNotSup) return value;
    for (int i = 0; i < 4 && !client.Step(); ++i) {
      pair_.ClientSends(Packet(kPacketPrelogin, client.Take()));
      for (const auto& [type, body] : Packets(pair_.ClientReadsAll())) {
        EXPECT_EQ(type, kPacketPrelogin);  // the server's handshake travels as PRELOGIN too
        client.Give(body);
      }
    }
    return value;
  }
  bool ServerClosed() {
    for (int i = 0; i < 50 && !served_; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return served_;
  }

  SocketPair pair_;
  ServerOptions options_;
  std::unique_ptr<Engine> engine_;
  std::thread thread_;
  std::atomic<bool> served_{false};
};

TEST_F(ServedConnection, FullEncryptionCarriesTheLoginAndEveryReply) {
  Serve(false);
  MemoryClient client;
  ASSERT_EQ(Negotiate(client, kEncryptOn), kEncryptOn);
  pair_.ClientSends(client.Seal(Packet(kPacketLogin7, Login(0x74000004))));
  std::string wire = pair_.ClientReadsAll();
  EXPECT_EQ(wire.find("master"), std::string::npos) << "the reply crossed in plain";
  auto reply = Packets(client.Open(wire));
  ASSERT_FALSE(reply.empty());
  EXPECT_NE(reply[0].second.find('\xAD'), std::string::npos) << "no LOGINACK";
  EXPECT_FALSE(served_);
}

TEST_F(ServedConnection, LoginOnlyEncryptsTheFirstLoginPacketThenGoesPlain) {
  Serve(false);
  MemoryClient client;
  ASSERT_EQ(Negotiate(client, kEncryptOff), kEncryptOff);
  // A login in two packets: the first through TLS, the second plain.
  std::string login = Login(0x74000004);
  pair_.ClientSends(client.Seal(Packet(kPacketLogin7, login.substr(0, 50), false)));
  pair_.ClientSends(Packet(kPacketLogin7, login.substr(50)));
  auto reply = Packets(pair_.ClientReadsAll());
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply[0].first, kPacketReply);
  EXPECT_NE(reply[0].second.find('\xAD'), std::string::npos) << "no plain LOGINACK";
}

TEST_F(ServedConnection, ForcedEncryptionRefusesClientsThatDoNotEncrypt) {
  Serve(true);
  // TDS 7.0: no PRELOGIN, so no encryption: SQL Server's 17835, then the end.
  pair_.ClientSends(Packet(kPacketLogin7, Login(0x70000000)));
  auto reply = Packets(pair_.ClientReadsAll());
  ASSERT_FALSE(reply.empty());
  std::string number;
  PutU32(number, kEncryptionRequiredError);
  EXPECT_NE(reply[0].second.find(number), std::string::npos);
  EXPECT_NE(reply[0].second.find(Ucs2("Encryption is required")), std::string::npos);
  EXPECT_TRUE(ServerClosed());
}

TEST_F(ServedConnection, ForcedEncryptionRefusesAPlainLoginAfterNotSup) {
  Serve(true);
  MemoryClient client;
  ASSERT_EQ(Negotiate(client, kEncryptNotSup), kEncryptReq);
  pair_.ClientSends(Packet(kPacketLogin7, Login(0x74000004)));
  auto reply = Packets(pair_.ClientReadsAll());
  ASSERT_FALSE(reply.empty());
  EXPECT_NE(reply[0].second.find(Ucs2("Encryption is required")), std::string::npos);
  EXPECT_TRUE(ServerClosed());
}

TEST_F(ServedConnection, ForcedEncryptionUpgradesAnOffClientToTheWholeSession) {
  Serve(true);
  MemoryClient client;
  ASSERT_EQ(Negotiate(client, kEncryptOff), kEncryptReq);
  pair_.ClientSends(client.Seal(Packet(kPacketLogin7, Login(0x74000004))));
  auto reply = Packets(client.Open(pair_.ClientReadsAll()));
  ASSERT_FALSE(reply.empty());
  EXPECT_NE(reply[0].second.find('\xAD'), std::string::npos);
}

TEST_F(ServedConnection, ABrokenHandshakeEndsTheConnection) {
  struct Case {
    const char* what;
    std::string message;
  };
  const Case cases[] = {
      {"garbage", Packet(kPacketPrelogin, "this is no TLS")},
      {"a login instead", Packet(kPacketLogin7, Login(0x74000004))},
      {"a batch instead", Packet(kPacketSqlBatch, Ucs2("select 1"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SocketPair pair;
    std::string error;
    std::unique_ptr<Engine> engine = Engine::Open(options_.engine, &error);
    ServerOptions options;
    options.tls = std::shared_ptr<const TlsContext>(&Context(), [](const TlsContext*) {});
    std::atomic<bool> done{false};
    std::thread t([&] {
      ServeConnection(pair.server, *engine, options, 52);
      done = true;
    });
    pair.ClientSends(Packet(kPacketPrelogin, Prelogin(kEncryptOn)));
    pair.ClientReadsAll();
    pair.ClientSends(c.message);
    pair.ClientReadsAll();
    for (int i = 0; i < 100 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(done);
    ::shutdown(pair.client, SHUT_RDWR);
    t.join();
  }
}

}  // namespace
}  // namespace tdslite::protocol
