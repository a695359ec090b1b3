// Packet framing over a socket pair: splitting replies, reassembling
// requests, and refusing broken streams.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

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

}  // namespace
}  // namespace tdslite::protocol
