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
  // A client that takes none of what is written for this long is given up:
  // each Write must be taken whole within it.
  void set_send_timeout_ms(int ms);
  ssize_t Read(char* data, size_t n);
  bool Write(std::string_view data);
  bool Buffered() const { return channel_ != nullptr && channel_->Buffered(); }

 private:
  int fd_;
  ByteChannel* channel_ = nullptr;
  int send_timeout_ms_ = -1;  // -1: none
};

enum class ReadResult {
  kOk,
  kClosed,     // orderly end of stream before a packet began
  kMalformed,  // a bad header, a type change mid-message, an oversized message
  kError,      // a socket error, the peer vanished mid-packet, or a deadline passed
  kStopped,    // the server is stopping: no request had begun
};

struct RequestMessage {
  uint8_t type = 0;
  std::string payload;
  bool ignored = false;  // the client set IGNORE: discard the request
};

// A point on the monotonic clock, in milliseconds; kNoDeadline: none.
using Deadline = int64_t;
constexpr Deadline kNoDeadline = -1;
Deadline NowMs();
Deadline DeadlineIn(int64_t milliseconds);

// How long and how much a read may take.
struct ReadLimits {
  // Everything must have arrived by then, the first byte included.
  Deadline deadline = kNoDeadline;
  // The largest message accepted (kMalformed beyond it).
  size_t max_bytes = 0;  // 0: kMaxRequestBytes
  // Before a login the message size is capped by its type: a PRELOGIN at
  // kMaxPreloginBytes, anything else at kMaxLoginBytes.
  bool before_login = false;
  // While the first byte is awaited, this descriptor becoming readable ends
  // the wait with kStopped (-1: none).
  int stop_fd = -1;
};

// Reads one packet header+body. `timeout_ms` < 0 waits for the first byte
// forever; once a packet has begun the whole of it must arrive within
// kPacketTimeoutMs (a total, not per read).
ReadResult ReadPacket(Link& link, uint8_t* type, uint8_t* status, std::string* body,
                      int timeout_ms);

// Reads packets up to the one carrying EOM. A request message larger than
// the limit is refused as malformed: no client sends batches that big.
ReadResult ReadMessage(Link& link, RequestMessage* message, const ReadLimits& limits = {});
// The same, the message's first packet (type, status, body) already read.
ReadResult ReadMessageRest(Link& link, uint8_t type, uint8_t status, std::string body,
                           RequestMessage* message, const ReadLimits& limits = {});

// Milliseconds a begun packet may take to arrive in full before the
// connection is dropped.
constexpr int kPacketTimeoutMs = 30000;
constexpr size_t kMaxRequestBytes = 256u << 20;
// What a client may send before it has logged in.
constexpr size_t kMaxPreloginBytes = 4096;
constexpr size_t kMaxLoginBytes = 128 * 1024;
// Milliseconds a reply packet may wait for the client to take it.
constexpr int kDefaultSendTimeoutMs = 60000;

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
