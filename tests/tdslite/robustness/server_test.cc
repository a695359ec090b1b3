// tdslite as a process facing hostile or careless clients: nothing runs
// before a login, many connections and clients that vanish leave no threads
// or descriptors behind, and a malformed packet ends only its own connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sybdb.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tdslite_server.h"

namespace {

using harness::TdsliteServer;

constexpr uint8_t kSqlBatch = 1;
constexpr uint8_t kPrelogin = 18;

// A connected loopback socket, closed with the object.
class Socket {
 public:
  explicit Socket(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Ok() const { return fd_ >= 0; }
  bool Send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
  // Reads what comes within the wait; answers false once the server closed
  // the connection (end of file or reset).
  bool Read(std::string* out, int milliseconds) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, milliseconds) <= 0) return true;
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    out->append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  // Waits (at most ten seconds) for the server to close the connection.
  bool ClosedByServer() {
    std::string ignored;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (!Read(&ignored, 100)) return true;
    }
    return false;
  }

 private:
  int fd_ = -1;
};

std::string Packet(uint8_t type, const std::string& payload) {
  std::string p;
  p.push_back(static_cast<char>(type));
  p.push_back(1);  // end of message
  const std::size_t length = payload.size() + 8;
  p.push_back(static_cast<char>(length >> 8));
  p.push_back(static_cast<char>(length & 0xFF));
  p.append("\0\0\x01\0", 4);
  return p + payload;
}

std::string Utf16(std::string_view text) {
  std::string out;
  for (char c : text) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

// A PRELOGIN: version, encryption not supported, terminator.
std::string Prelogin() {
  const std::string options("\x00\x00\x0B\x00\x06\x01\x00\x11\x00\x01\xFF", 11);
  return Packet(kPrelogin, options + std::string("\x0c\x00\x00\x00\x00\x00\x02", 7));
}

// A SQL batch packet with ALL_HEADERS (transaction descriptor) and the text.
std::string SqlBatch(std::string_view sql) {
  std::string headers("\x16\x00\x00\x00\x12\x00\x00\x00\x02\x00", 10);
  headers.append(8, '\0');
  headers.append("\x01\x00\x00\x00", 4);
  return Packet(kSqlBatch, headers + Utf16(sql));
}

int ErrorHandler(DBPROCESS*, int, int, int, char*, char*) {
  return INT_CANCEL;
}
int MessageHandler(DBPROCESS*, DBINT, int, int, char*, char*, char*, int) {
  return 0;
}

// A DB-Library login to the server; null when it fails.
DBPROCESS* Login(const TdsliteServer& server) {
  static const bool initialised = [] {
    dbinit();
    dberrhandle(ErrorHandler);
    dbmsghandle(MessageHandler);
    return true;
  }();
  (void)initialised;
  LOGINREC* login = dblogin();
  DBSETLUSER(login, "ktdb");
  DBSETLPWD(login, "secret");
  dbsetlversion(login, DBVERSION_74);
  dbsetlogintime(5);
  DBPROCESS* dbproc = dbopen(login, server.Address().c_str());
  dbloginfree(login);
  return dbproc;
}

// The first column of the first row of a query, as text; "" on failure.
std::string Query(DBPROCESS* dbproc, const char* sql) {
  if (dbproc == nullptr || dbcmd(dbproc, sql) != SUCCEED || dbsqlexec(dbproc) != SUCCEED ||
      dbresults(dbproc) != SUCCEED) {
    if (dbproc != nullptr) dbcancel(dbproc);
    return "";
  }
  std::string value;
  if (dbnextrow(dbproc) == REG_ROW) {
    char text[256] = {};
    dbconvert(dbproc, dbcoltype(dbproc, 1), dbdata(dbproc, 1), dbdatlen(dbproc, 1), SYBCHAR,
              reinterpret_cast<BYTE*>(text), sizeof text - 1);
    value = text;
    // SYBCHAR is blank-padded to the length offered.
    value.erase(value.find_last_not_of(' ') + 1);
  }
  dbcancel(dbproc);
  return value;
}

struct Usage {
  int descriptors;
  int threads;
};

Usage UsageOf(const TdsliteServer& server) {
  return {harness::OpenDescriptors(server.Pid()), harness::Threads(server.Pid())};
}

// Waits (at most 20 seconds) until the server is back at the baseline.
bool BackTo(const TdsliteServer& server, const Usage& baseline, Usage* now) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  do {
    *now = UsageOf(server);
    if (now->descriptors <= baseline.descriptors && now->threads <= baseline.threads) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

class ServerRobustness : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<TdsliteServer>(harness::TdsliteProgram(KTDB_TDSLITE));
    ASSERT_TRUE(server_->Started());
  }
  std::unique_ptr<TdsliteServer> server_;
};

TEST_F(ServerRobustness, NothingRunsBeforeALogin) {
  for (const bool prelogin : {false, true}) {
    Socket s(server_->Port());
    ASSERT_TRUE(s.Ok());
    if (prelogin) {
      ASSERT_TRUE(s.Send(Prelogin()));
      std::string reply;
      ASSERT_TRUE(s.Read(&reply, 5000));
    }
    s.Send(SqlBatch("create table before_login (a int)"));
    EXPECT_TRUE(s.ClosedByServer()) << "prelogin " << prelogin;
  }
  DBPROCESS* dbproc = Login(*server_);
  ASSERT_NE(dbproc, nullptr);
  EXPECT_EQ(Query(dbproc, "select count(*) from before_login"), "");
  EXPECT_EQ(Query(dbproc, "select 1"), "1");
  dbclose(dbproc);
}

TEST_F(ServerRobustness, ManyConnectionsAndVanishingClientsLeaveNothingBehind) {
  // A login first, so that whatever the server sets up once is in place.
  DBPROCESS* first = Login(*server_);
  ASSERT_NE(first, nullptr);
  dbclose(first);
  Usage baseline{};
  ASSERT_TRUE(BackTo(*server_, UsageOf(*server_), &baseline));

  {
    // 200 clients at once, each with a PRELOGIN answered.
    std::vector<std::unique_ptr<Socket>> clients;
    for (int i = 0; i < 200; ++i) {
      clients.push_back(std::make_unique<Socket>(server_->Port()));
      ASSERT_TRUE(clients.back()->Ok()) << i;
      ASSERT_TRUE(clients.back()->Send(Prelogin())) << i;
    }
    for (int i = 0; i < 200; ++i) {
      std::string reply;
      for (int tries = 0; tries < 50 && reply.size() < 8; ++tries) {
        ASSERT_TRUE(clients[i]->Read(&reply, 100)) << i;
      }
      ASSERT_GE(reply.size(), 8u) << "client " << i << " got no PRELOGIN reply";
      EXPECT_EQ(static_cast<uint8_t>(reply[0]), 4) << i;  // a tabular result packet
    }
    const Usage busy = UsageOf(*server_);
    std::printf("tdslite with 200 clients: %d descriptors, %d threads (idle: %d, %d)\n",
                busy.descriptors, busy.threads, baseline.descriptors, baseline.threads);
    // Still serving logins meanwhile.
    DBPROCESS* during = Login(*server_);
    EXPECT_EQ(Query(during, "select 2"), "2");
    if (during != nullptr) dbclose(during);
  }  // the 200 vanish at once
  // Clients that vanish at every stage: at once, inside a packet header,
  // inside a packet, after a PRELOGIN.
  for (int i = 0; i < 200; ++i) {
    Socket s(server_->Port());
    ASSERT_TRUE(s.Ok());
    const std::string prelogin = Prelogin();
    switch (i % 4) {
      case 1:
        s.Send(prelogin.substr(0, 3));
        break;
      case 2:
        s.Send(prelogin.substr(0, 12));
        break;
      case 3:
        s.Send(prelogin);
        break;
      default:
        break;
    }
  }
  Usage after{};
  EXPECT_TRUE(BackTo(*server_, baseline, &after))
      << "descriptors " << baseline.descriptors << " -> " << after.descriptors << ", threads "
      << baseline.threads << " -> " << after.threads;
  DBPROCESS* last = Login(*server_);
  EXPECT_EQ(Query(last, "select 3"), "3");
  if (last != nullptr) dbclose(last);
}

TEST_F(ServerRobustness, MalformedPacketEndsOnlyItsOwnConnection) {
  DBPROCESS* bystander = Login(*server_);
  ASSERT_NE(bystander, nullptr);
  ASSERT_EQ(Query(bystander, "select 1"), "1");
  struct Case {
    std::string bytes;
    bool closedAtOnce;  // false: the server rightly waits for the rest
  };
  const std::vector<Case> cases = {
      {std::string("\x12\x01\x00\x04\x00\x00\x01\x00", 8), true},  // length below the header
      {std::string("\x12\x01\xFF\xFF\x00\x00\x01\x00", 8) + "ab", false},     // more promised
      {std::string("\x63\x01\x00\x09\x00\x00\x01\x00\x00", 9), true},         // unknown type
      {Packet(kPrelogin, std::string("\x00\xFF\xFF\x00\x06\xFF", 6)), true},  // bad option
      {Packet(16, std::string(40, '\xEE')), true},                            // LOGIN7 of garbage
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    {
      Socket s(server_->Port());
      ASSERT_TRUE(s.Ok());
      s.Send(cases[i].bytes);
      if (cases[i].closedAtOnce) {
        EXPECT_TRUE(s.ClosedByServer()) << "packet " << i;
      }
    }
    EXPECT_EQ(Query(bystander, "select 40 + 2"), "42") << "after packet " << i;
  }
  EXPECT_EQ(Query(bystander, "select 7"), "7");
  dbclose(bystander);
}

}  // namespace
