// Packet reading and writing over a blocking socket.
#include "tdslite/protocol/packet_io.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

bool Link::Write(std::string_view data) {
  if (channel_ != nullptr) return channel_->Write(fd_, data);
  while (!data.empty()) {
    ssize_t w = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(w));
  }
  return true;
}

namespace {

// Reads exactly `n` bytes. The first byte may be awaited `first_timeout_ms`
// (< 0: forever); the rest must come within kPacketTimeoutMs. Bytes a
// channel already holds are taken without waiting for the socket.
ReadResult ReadExact(Link& link, char* data, size_t n, int first_timeout_ms, bool at_start) {
  size_t got = 0;
  bool wait = !link.Buffered();
  while (got < n) {
    if (wait) {
      int timeout = (got == 0 && at_start) ? first_timeout_ms : kPacketTimeoutMs;
      pollfd p{link.fd(), POLLIN, 0};
      int rc = ::poll(&p, 1, timeout);
      if (rc < 0) {
        if (errno == EINTR) continue;
        return ReadResult::kError;
      }
      if (rc == 0) return ReadResult::kError;  // stalled
    }
    ssize_t r = link.Read(data + got, n - got);
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN) {
        wait = errno == EAGAIN || !link.Buffered();
        continue;
      }
      return ReadResult::kError;
    }
    if (r == 0) return (got == 0 && at_start) ? ReadResult::kClosed : ReadResult::kError;
    got += static_cast<size_t>(r);
    wait = !link.Buffered();
  }
  return ReadResult::kOk;
}

}  // namespace

ReadResult ReadPacket(Link& link, uint8_t* type, uint8_t* status, std::string* body,
                      int timeout_ms) {
  char header[kHeaderSize];
  ReadResult r = ReadExact(link, header, kHeaderSize, timeout_ms, true);
  if (r != ReadResult::kOk) return r;
  *type = static_cast<uint8_t>(header[0]);
  *status = static_cast<uint8_t>(header[1]);
  size_t length = (static_cast<uint8_t>(header[2]) << 8) | static_cast<uint8_t>(header[3]);
  if (length < kHeaderSize) return ReadResult::kMalformed;
  body->resize(length - kHeaderSize);
  if (body->empty()) return ReadResult::kOk;
  return ReadExact(link, body->data(), body->size(), kPacketTimeoutMs, false);
}

ReadResult ReadMessageRest(Link& link, uint8_t type, uint8_t status, std::string body,
                           RequestMessage* message) {
  message->type = type;
  message->payload = std::move(body);
  message->ignored = (status & kStatusIgnore) != 0;
  while (!(status & kStatusEom)) {
    uint8_t next = 0;
    ReadResult r = ReadPacket(link, &next, &status, &body, kPacketTimeoutMs);
    if (r == ReadResult::kClosed) return ReadResult::kError;
    if (r != ReadResult::kOk) return r;
    if (next != message->type) {
      if (next != kPacketAttention) return ReadResult::kMalformed;
      message->type = next;
      message->payload.clear();
      return ReadResult::kOk;
    }
    if (message->payload.size() + body.size() > kMaxRequestBytes) return ReadResult::kMalformed;
    message->payload += body;
    if (status & kStatusIgnore) message->ignored = true;
  }
  return ReadResult::kOk;
}

ReadResult ReadMessage(Link& link, RequestMessage* message) {
  message->payload.clear();
  message->ignored = false;
  std::string body;
  bool first = true;
  for (;;) {
    uint8_t type = 0;
    uint8_t status = 0;
    ReadResult r = ReadPacket(link, &type, &status, &body, first ? -1 : kPacketTimeoutMs);
    if (r == ReadResult::kClosed && !first) return ReadResult::kError;
    if (r != ReadResult::kOk) return r;
    if (first) {
      message->type = type;
    } else if (type != message->type) {
      // An attention may cut a request short; anything else is a broken stream.
      if (type != kPacketAttention) return ReadResult::kMalformed;
      message->type = type;
      message->payload.clear();
      return ReadResult::kOk;
    }
    first = false;
    if (message->payload.size() + body.size() > kMaxRequestBytes) return ReadResult::kMalformed;
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
