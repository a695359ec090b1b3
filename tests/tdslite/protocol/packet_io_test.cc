// Packet framing over a socket pair: splitting replies, reassembling
// requests, and refusing broken streams.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "tdslite/protocol/codec.h"
#include "tdslite/protocol/packet_io.h"

namespace tdslite::protocol {
namespace {

class SocketPair : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    server_ = std::make_unique<Socket>(fds[0]);
    client_ = std::make_unique<Socket>(fds[1]);
  }
  void ClientSends(std::string_view bytes) {
    ASSERT_EQ(::write(client_->fd(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  std::string ClientReads(size_t n) {
    std::string out(n, '\0');
    size_t got = 0;
    while (got < n) {
      ssize_t r = ::read(client_->fd(), out.data() + got, n - got);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
  }
  static std::string Packet(uint8_t type, uint8_t status, std::string_view body) {
    std::string p;
    PutU8(p, type);
    PutU8(p, status);
    PutU16BE(p, static_cast<uint16_t>(8 + body.size()));
    PutU32(p, 0);
    p += body;
    return p;
  }
  std::unique_ptr<Socket> server_;
  std::unique_ptr<Socket> client_;
};

TEST_F(SocketPair, ReplySplitsIntoFullPacketsWithEomOnlyOnTheLast) {
  Link link(server_->fd());
  PacketWriter writer(link, 57);
  writer.set_packet_size(512);
  std::string payload;
  for (int i = 0; i < 1100; ++i) payload.push_back(static_cast<char>(i));
  writer.Append(payload.substr(0, 700));
  writer.Append(payload.substr(700));
  writer.End();
  // 1100 bytes in 504-byte payloads: 504 + 504 + 92.
  std::string reassembled;
  for (int i = 0; i < 3; ++i) {
    std::string header = ClientReads(8);
    ASSERT_EQ(header.size(), 8u);
    EXPECT_EQ(header[0], kPacketReply);
    EXPECT_EQ(header[1], i == 2 ? kStatusEom : 0) << i;
    size_t length = (static_cast<uint8_t>(header[2]) << 8) | static_cast<uint8_t>(header[3]);
    EXPECT_EQ(length, i < 2 ? 512u : 100u);
    EXPECT_EQ(static_cast<uint8_t>(header[5]), 57);     // SPID, big-endian
    EXPECT_EQ(static_cast<uint8_t>(header[6]), i + 1);  // packet ids 1, 2, 3
    reassembled += ClientReads(length - 8);
  }
  EXPECT_EQ(reassembled, payload);
  // The next message numbers its packets from 1 again.
  writer.Append("x");
  writer.End();
  EXPECT_EQ(static_cast<uint8_t>(ClientReads(9)[6]), 1);
}

TEST_F(SocketPair, RequestsAreReassembledAndBrokenStreamsRefused) {
  Link link(server_->fd());
  RequestMessage m;
  ClientSends(Packet(kPacketSqlBatch, 0, "ab") + Packet(kPacketSqlBatch, kStatusEom, "cd"));
  ASSERT_EQ(ReadMessage(link, &m), ReadResult::kOk);
  EXPECT_EQ(m.type, kPacketSqlBatch);
  EXPECT_EQ(m.payload, "abcd");
  EXPECT_FALSE(m.ignored);

  ClientSends(Packet(kPacketSqlBatch, 0, "ab") +
              Packet(kPacketSqlBatch, kStatusEom | kStatusIgnore, ""));
  ASSERT_EQ(ReadMessage(link, &m), ReadResult::kOk);
  EXPECT_TRUE(m.ignored);

  // An attention cuts a request short.
  ClientSends(Packet(kPacketSqlBatch, 0, "ab") + Packet(kPacketAttention, kStatusEom, ""));
  ASSERT_EQ(ReadMessage(link, &m), ReadResult::kOk);
  EXPECT_EQ(m.type, kPacketAttention);
  EXPECT_TRUE(m.payload.empty());

  ClientSends(Packet(kPacketSqlBatch, 0, "ab") + Packet(kPacketRpc, kStatusEom, ""));
  EXPECT_EQ(ReadMessage(link, &m), ReadResult::kMalformed);
}

TEST_F(SocketPair, ShortLengthAndEarlyEndAreErrors) {
  Link link(server_->fd());
  RequestMessage m;
  ClientSends(std::string("\x01\x01\x00\x04\x00\x00\x00\x00", 8));
  EXPECT_EQ(ReadMessage(link, &m), ReadResult::kMalformed);
  ClientSends(Packet(kPacketSqlBatch, kStatusEom, "abcdef").substr(0, 10));
  ::shutdown(client_->fd(), SHUT_WR);
  EXPECT_EQ(ReadMessage(link, &m), ReadResult::kError);
}

TEST_F(SocketPair, OrderlyCloseBeforeAPacketIsNotAnError) {
  Link link(server_->fd());
  RequestMessage m;
  ::shutdown(client_->fd(), SHUT_WR);
  EXPECT_EQ(ReadMessage(link, &m), ReadResult::kClosed);
}

// Before a login: a PRELOGIN above 4 KiB or a LOGIN7 above 128 KiB is
// refused as soon as it passes the limit; after it, a batch may be larger.
TEST_F(SocketPair, MessagesBeforeTheLoginAreSmall) {
  const ReadLimits before{
      .deadline = DeadlineIn(60000), .max_bytes = 0, .before_login = true, .stop_fd = -1};
  struct Case {
    uint8_t type;
    size_t bytes;
    const ReadLimits* limits;
    ReadResult expected;
  } cases[] = {
      {kPacketPrelogin, kMaxPreloginBytes, &before, ReadResult::kOk},
      {kPacketPrelogin, kMaxPreloginBytes + 1, &before, ReadResult::kMalformed},
      {kPacketLogin7, kMaxLoginBytes, &before, ReadResult::kOk},
      {kPacketLogin7, kMaxLoginBytes + 1, &before, ReadResult::kMalformed},
      {kPacketSqlBatch, kMaxLoginBytes + 1, &before, ReadResult::kMalformed},
      {kPacketSqlBatch, kMaxLoginBytes + 1, nullptr, ReadResult::kOk},
  };
  for (const Case& c : cases) {
    SetUp();  // a fresh pair: a refused message leaves the stream unread
    std::thread writer([&] {
      for (size_t sent = 0; sent < c.bytes;) {
        const size_t n = std::min<size_t>(4000, c.bytes - sent);
        sent += n;
        const std::string p = Packet(c.type, sent == c.bytes ? kStatusEom : 0, std::string(n, 'x'));
        if (::send(client_->fd(), p.data(), p.size(), MSG_NOSIGNAL) != ssize_t(p.size())) break;
      }
    });
    RequestMessage m;
    Link link(server_->fd());
    const ReadResult r = c.limits ? ReadMessage(link, &m, *c.limits) : ReadMessage(link, &m);
    EXPECT_EQ(r, c.expected) << int(c.type) << " " << c.bytes;
    server_.reset();  // the writer may be blocked on a full socket
    writer.join();
  }
}

// A deadline is a total: a client that sends a byte now and then does not
// move it. A stop ends the wait for a request, not a request under way.
TEST_F(SocketPair, DeadlinesAreTotalsAndAStopEndsOnlyTheWait) {
  RequestMessage m;
  const std::string p = Packet(kPacketPrelogin, kStatusEom, "abcdefgh");
  std::thread trickle([&] {
    for (char c : p) {
      if (::send(client_->fd(), &c, 1, MSG_NOSIGNAL) != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  const Deadline start = NowMs();
  Link trickled(server_->fd());
  EXPECT_EQ(ReadMessage(trickled, &m, {.deadline = DeadlineIn(500)}), ReadResult::kError);
  EXPECT_LT(NowMs() - start, 2500);  // not the 3.2 s the trickle takes
  trickle.join();

  SetUp();
  int stop[2];
  ASSERT_EQ(::pipe(stop), 0);
  Socket stop_read(stop[0]), stop_write(stop[1]);
  ASSERT_EQ(::write(stop[1], "s", 1), 1);
  Link link(server_->fd());
  EXPECT_EQ(ReadMessage(link, &m, {.stop_fd = stop[0]}), ReadResult::kStopped);
  ClientSends(p);
  EXPECT_EQ(ReadMessage(link, &m, {.stop_fd = stop[0]}), ReadResult::kOk);
  EXPECT_EQ(m.payload, "abcdefgh");
}

}  // namespace
}  // namespace tdslite::protocol
