// Packet reading and writing over a blocking socket.
#include "tdslite/protocol/packet_io.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cerrno>

#include "tdslite/protocol/codec.h"

namespace tdslite::protocol {

Socket::~Socket() {
  if (fd_ >= 0) ::close(fd_);
}

ssize_t Link::Read(char* data, size_t n) {
  if (channel_ != nullptr) return channel_->Read(fd_, data, n);
  return ::recv(fd_, data, n, 0);
}

Deadline NowMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return Deadline{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

Deadline DeadlineIn(int64_t milliseconds) {
  return NowMs() + milliseconds;
}

namespace {

// Milliseconds left until `deadline` (0 once passed), or -1 without one.
int Remaining(Deadline deadline) {
  if (deadline == kNoDeadline) return -1;
  const Deadline left = deadline - NowMs();
  return left <= 0 ? 0 : static_cast<int>(std::min<Deadline>(left, 1 << 30));
}

Deadline Earlier(Deadline a, Deadline b) {
  if (a == kNoDeadline) return b;
  if (b == kNoDeadline) return a;
  return std::min(a, b);
}

}  // namespace

void Link::set_send_timeout_ms(int ms) {
  send_timeout_ms_ = ms;
  // A channel writes with blocking sends of its own: the socket's timeout
  // bounds each of them.
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool Link::Write(std::string_view data) {
  if (channel_ != nullptr) return channel_->Write(fd_, data);
  // A client that stops reading fills the socket's buffers: the data must
  // be taken within the send deadline, or the client is given up.
  const Deadline deadline = send_timeout_ms_ < 0 ? kNoDeadline : DeadlineIn(send_timeout_ms_);
  while (!data.empty()) {
    ssize_t w = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd p{fd_, POLLOUT, 0};
        int rc = ::poll(&p, 1, Remaining(deadline));
        if (rc > 0 || (rc < 0 && errno == EINTR)) continue;
      }
      return false;
    }
    data.remove_prefix(static_cast<size_t>(w));
  }
  return true;
}

namespace {

// Reads exactly `n` bytes by `deadline`. With `at_start`, the wait for the
// first byte may end with kClosed (end of stream) or kStopped (`stop_fd`
// readable). Bytes a channel already holds are taken without waiting for the
// socket.
ReadResult ReadExact(Link& link, char* data, size_t n, Deadline deadline, bool at_start,
                     int stop_fd = -1) {
  size_t got = 0;
  bool wait = !link.Buffered();
  while (got < n) {
    const bool waiting_first = got == 0 && at_start;
    if (wait) {
      pollfd p[2] = {{link.fd(), POLLIN, 0}, {waiting_first ? stop_fd : -1, POLLIN, 0}};
      int rc = ::poll(p, 2, Remaining(deadline));
      if (rc < 0) {
        if (errno == EINTR) continue;
        return ReadResult::kError;
      }
      if (rc == 0) return ReadResult::kError;  // the deadline passed
      if (p[1].revents != 0 && !(p[0].revents & POLLIN)) return ReadResult::kStopped;
    }
    ssize_t r = link.Read(data + got, n - got);
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN) {
        wait = errno == EAGAIN || !link.Buffered();
        continue;
      }
      return ReadResult::kError;
    }
    if (r == 0) return waiting_first ? ReadResult::kClosed : ReadResult::kError;
    got += static_cast<size_t>(r);
    wait = !link.Buffered();
  }
  return ReadResult::kOk;
}

// One packet: the first byte by `first_deadline`, then all of it within
// kPacketTimeoutMs of that byte and by `deadline`.
ReadResult ReadPacketBy(Link& link, uint8_t* type, uint8_t* status, std::string* body,
                        Deadline first_deadline, Deadline deadline, int stop_fd) {
  char header[kHeaderSize];
  ReadResult r = ReadExact(link, header, 1, Earlier(first_deadline, deadline), true, stop_fd);
  if (r != ReadResult::kOk) return r;
  const Deadline packet_deadline = Earlier(DeadlineIn(kPacketTimeoutMs), deadline);
  r = ReadExact(link, header + 1, kHeaderSize - 1, packet_deadline, false);
  if (r != ReadResult::kOk) return r;
  *type = static_cast<uint8_t>(header[0]);
  *status = static_cast<uint8_t>(header[1]);
  size_t length = (static_cast<uint8_t>(header[2]) << 8) | static_cast<uint8_t>(header[3]);
  if (length < kHeaderSize) return ReadResult::kMalformed;
  body->resize(length - kHeaderSize);
  if (body->empty()) return ReadResult::kOk;
  return ReadExact(link, body->data(), body->size(), packet_deadline, false);
}

}  // namespace

ReadResult ReadPacket(Link& link, uint8_t* type, uint8_t* status, std::string* body,
                      int timeout_ms) {
  return ReadPacketBy(link, type, status, body,
                      timeout_ms < 0 ? kNoDeadline : DeadlineIn(timeout_ms), kNoDeadline, -1);
}

// The largest message `limits` allow for a message of `type`.
static size_t MaxBytes(const ReadLimits& limits, uint8_t type) {
  size_t max_bytes = limits.max_bytes != 0 ? limits.max_bytes : kMaxRequestBytes;
  if (limits.before_login) {
    max_bytes = std::min(max_bytes, type == kPacketPrelogin ? kMaxPreloginBytes : kMaxLoginBytes);
  }
  return max_bytes;
}

ReadResult ReadMessageRest(Link& link, uint8_t type, uint8_t status, std::string body,
                           RequestMessage* message, const ReadLimits& limits) {
  message->type = type;
  message->payload = std::move(body);
  message->ignored = (status & kStatusIgnore) != 0;
  const size_t max_bytes = MaxBytes(limits, type);
  if (message->payload.size() > max_bytes) return ReadResult::kMalformed;
  while (!(status & kStatusEom)) {
    uint8_t next = 0;
    ReadResult r = ReadPacketBy(link, &next, &status, &body, DeadlineIn(kPacketTimeoutMs),
                                limits.deadline, -1);
    if (r == ReadResult::kClosed) return ReadResult::kError;
    if (r != ReadResult::kOk) return r;
    if (next != message->type) {
      if (next != kPacketAttention) return ReadResult::kMalformed;
      message->type = next;
      message->payload.clear();
      return ReadResult::kOk;
    }
    if (message->payload.size() + body.size() > max_bytes) return ReadResult::kMalformed;
    message->payload += body;
    if (status & kStatusIgnore) message->ignored = true;
  }
  return ReadResult::kOk;
}

ReadResult ReadMessage(Link& link, RequestMessage* message, const ReadLimits& limits) {
  message->payload.clear();
  message->ignored = false;
  std::string body;
  bool first = true;
  size_t max_bytes = 0;
  for (;;) {
    uint8_t type = 0;
    uint8_t status = 0;
    ReadResult r = ReadPacketBy(link, &type, &status, &body,
                                first ? kNoDeadline : DeadlineIn(kPacketTimeoutMs), limits.deadline,
                                first ? limits.stop_fd : -1);
    if (r == ReadResult::kClosed && !first) return ReadResult::kError;
    if (r != ReadResult::kOk) return r;
    if (first) {
      message->type = type;
      max_bytes = MaxBytes(limits, type);
    } else if (type != message->type) {
      // An attention may cut a request short; anything else is a broken stream.
      if (type != kPacketAttention) return ReadResult::kMalformed;
      message->type = type;
      message->payload.clear();
      return ReadResult::kOk;
    }
    first = false;
    if (message->payload.size() + body.size() > max_bytes) return ReadResult::kMalformed;
    message->payload += body;
    if (status & kStatusIgnore) message->ignored = true;
    if (status & kStatusEom) return ReadResult::kOk;
  }
}

void PacketWriter::Append(std::string_view bytes) {
  const size_t room = packet_size_ - kHeaderSize;
  while (!bytes.empty()) {
    if (buffer_.size() == room) Send(false);
    if (failed_) return;
    size_t n = std::min(bytes.size(), room - buffer_.size());
    buffer_.append(bytes.substr(0, n));
    bytes.remove_prefix(n);
  }
}

void PacketWriter::End() {
  Send(true);
  packet_id_ = 1;
}

void PacketWriter::Send(bool last) {
  if (failed_) {
    buffer_.clear();
    return;
  }
  // The header goes in front of the buffered payload; the buffer keeps its
  // capacity from packet to packet.
  size_t length = kHeaderSize + buffer_.size();
  char header[kHeaderSize] = {
      static_cast<char>(type_),        static_cast<char>(last ? kStatusEom : 0),
      static_cast<char>(length >> 8),  static_cast<char>(length & 0xFF),
      static_cast<char>(spid_ >> 8),   static_cast<char>(spid_ & 0xFF),
      static_cast<char>(packet_id_++), 0};
  std::string& packet = packet_;
  packet.assign(header, kHeaderSize);
  packet += buffer_;
  buffer_.clear();
  if (!link_.Write(packet)) {
    failed_ = true;
    return;
  }
  ++packets_sent_;
}

}  // namespace tdslite::protocol
