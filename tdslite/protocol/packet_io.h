// Packets on a socket: reading whole request messages and writing a reply
// message split into packets of the negotiated size.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace tdslite::protocol {

// Owns a socket descriptor; closes it once.
class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket();
  int fd() const { return fd_; }

 private:
  int fd_;
};

// What carries a connection's bytes in place of the bare socket once the
// client and the server agreed on one: TLS.
class ByteChannel {
 public:
  virtual ~ByteChannel() = default;
  // As recv(2) on `fd`: bytes read, 0 at end of stream, -1 with errno set
  // (EAGAIN: nothing can be read before the socket is readable).
  virtual ssize_t Read(int fd, char* data, size_t n) = 0;
  // Sends all of `data` on `fd`; false when the peer is gone.
  virtual bool Write(int fd, std::string_view data) = 0;
  // True when a Read can return bytes without waiting for the socket.
  virtual bool Buffered() const = 0;
};

// A connection's byte stream: its socket, read and written directly or
// through a channel.
class Link {
 public:
  explicit Link(int fd) : fd_(fd) {}
  int fd() const { return fd_; }
  void set_channel(ByteChannel* channel) { channel_ = channel; }
  ssize_t Read(char* data, size_t n);
  bool Write(std::string_view data);
  bool Buffered() const { return channel_ != nullptr && channel_->Buffered(); }

 private:
  int fd_;
  ByteChannel* channel_ = nullptr;
};

enum class ReadResult {
  kOk,
  kClosed,     // orderly end of stream before a packet began
  kMalformed,  // a bad header, a type change mid-message, an oversized message
  kError,      // a socket error, or the peer vanished mid-packet
};

struct RequestMessage {
  uint8_t type = 0;
  std::string payload;
  bool ignored = false;  // the client set IGNORE: discard the request
};

// Reads one packet header+body. `timeout_ms` < 0 waits for the first byte
// forever; once a packet has begun its remainder must arrive within
// kPacketTimeoutMs.
ReadResult ReadPacket(Link& link, uint8_t* type, uint8_t* status, std::string* body,
                      int timeout_ms);

// Reads packets up to the one carrying EOM. A request message larger than
// kMaxRequestBytes is refused as malformed: no client sends batches that big.
ReadResult ReadMessage(Link& link, RequestMessage* message);
// The same, the message's first packet (type, status, body) already read.
ReadResult ReadMessageRest(Link& link, uint8_t type, uint8_t status, std::string body,
                           RequestMessage* message);

// Seconds a half-received packet may stall before the connection is dropped.
constexpr int kPacketTimeoutMs = 30000;
constexpr size_t kMaxRequestBytes = 256u << 20;

// Builds one reply message: bytes are appended, full packets go out as soon
// as more data follows them, and End() sends the rest with EOM.
class PacketWriter {
 public:
  PacketWriter(Link& link, uint16_t spid) : link_(link), spid_(spid) {}
  void set_packet_size(uint32_t size) { packet_size_ = size; }
  // The packet type of the messages written (a reply unless told).
  void set_type(uint8_t type) { type_ = type; }
  void Append(std::string_view bytes);
  // Sends what is buffered as the message's last packet.
  void End();
  // True once a send failed: the client is gone.
  bool failed() const { return failed_; }
  // Packets sent so far (a hint for how often to look for an attention).
  uint64_t packets_sent() const { return packets_sent_; }

 private:
  void Send(bool last);

  Link& link_;
  uint16_t spid_;
  uint8_t type_ = 4;  // a tabular reply
  uint32_t packet_size_ = 4096;
  uint8_t packet_id_ = 1;
  std::string buffer_;
  std::string packet_;  // header + payload of the packet being sent
  bool failed_ = false;
  uint64_t packets_sent_ = 0;
};

}  // namespace tdslite::protocol
