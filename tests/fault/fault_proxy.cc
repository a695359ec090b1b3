#include "fault_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>

namespace fault {
namespace {

// How long a relay waits in poll: the bound on noticing Arm, CutAll or stop.
constexpr int kPollMilliseconds = 20;
// A corrupted stream may leave the client waiting for bytes that never come;
// the relay closes a connection that has been silent this long after a
// corruption, so that the wait ends.
constexpr auto kSilenceAfterCorruption = std::chrono::seconds(1);

bool SendAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

FaultProxy::FaultProxy(int upstreamPort) : upstream_(upstreamPort) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

FaultProxy::~FaultProxy() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& relay : relays_) relay.join();
  if (listener_ >= 0) ::close(listener_);
}

void FaultProxy::Arm(const Fault& fault) {
  std::lock_guard lock(mutex_);
  fault_ = fault;
  ++generation_;
}

void FaultProxy::Hold(Direction direction, const std::string& pattern, std::size_t nth) {
  std::lock_guard lock(mutex_);
  fault_ = {Kind::kHold, direction, nth};
  pattern_ = pattern;
  ++generation_;
}

void FaultProxy::CutAll() {
  Arm({Kind::kCut, Direction::kToClient, 0});
}

void FaultProxy::AcceptLoop() {
  while (!stopping_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, kPollMilliseconds) <= 0) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(upstream_));
    if (server < 0 ||
        ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(client);
      if (server >= 0) ::close(server);
      continue;
    }
    relays_.emplace_back([this, client, server] { Relay(client, server); });
  }
}

void FaultProxy::Relay(int client, int server) {
  int seen = -1;
  Fault fault;
  std::array<std::size_t, 2> passed{};  // bytes since Arm: to server, to client
  bool corrupted = false;
  auto lastTraffic = std::chrono::steady_clock::now();
  std::array<char, 16384> buffer;
  // kHold: the last bytes seen (a pattern may span two reads), the matches
  // so far, and the read held back once the fault took effect.
  std::string tail;
  std::size_t matches = 0;
  std::string held;
  bool holding = false;
  std::string pattern;
  // Takes up a fault armed since the last look; answers true when the
  // connection is to be cut now.
  auto refresh = [&] {
    if (seen != generation_.load()) {
      if (holding && !SendAll(fault.direction == Direction::kToServer ? server : client,
                              held.data(), held.size())) {
        return true;
      }
      holding = false;
      held.clear();
      tail.clear();
      matches = 0;
      std::lock_guard lock(mutex_);
      fault = fault_;
      pattern = pattern_;
      seen = generation_.load();
      passed = {};
      corrupted = false;
    }
    const int index = fault.direction == Direction::kToServer ? 0 : 1;
    if (fault.kind == Kind::kCut && passed[index] >= fault.at) {
      ++triggered_;
      return true;
    }
    return corrupted && std::chrono::steady_clock::now() - lastTraffic > kSilenceAfterCorruption;
  };
  while (!stopping_) {
    if (refresh()) break;
    const int index = fault.direction == Direction::kToServer ? 0 : 1;
    const bool stalled = (fault.kind == Kind::kStall && passed[index] >= fault.at) || holding;
    std::array<pollfd, 2> p{{{client, POLLIN, 0}, {server, POLLIN, 0}}};
    // A stalled direction is not read: its bytes stay in the socket.
    if (stalled) p[fault.direction == Direction::kToServer ? 0 : 1].events = 0;
    if (::poll(p.data(), p.size(), kPollMilliseconds) <= 0) continue;
    // A fault armed while poll waited applies to the bytes that woke it.
    if (seen != generation_.load()) continue;
    bool closed = false;
    for (int from = 0; from < 2 && !closed; ++from) {
      if ((p[from].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const int direction = from == 0 ? 0 : 1;  // client's bytes go to the server
      std::size_t room = buffer.size();
      // Bytes are read only up to the fault point, so that it falls exactly.
      if (direction == index && fault.kind != Kind::kNone && fault.kind != Kind::kHold &&
          passed[direction] < fault.at) {
        room = std::min(room, fault.at - passed[direction]);
      }
      const ssize_t n = ::recv(p[from].fd, buffer.data(), room, 0);
      if (n <= 0) {
        closed = true;
        break;
      }
      if (direction == index && fault.kind == Kind::kCorrupt && !corrupted &&
          passed[direction] <= fault.at &&
          fault.at < passed[direction] + static_cast<std::size_t>(n)) {
        buffer[fault.at - passed[direction]] ^= 0x5A;
        corrupted = true;
        ++triggered_;
      }
      if (direction == index && fault.kind == Kind::kStall &&
          passed[direction] + static_cast<std::size_t>(n) >= fault.at) {
        ++triggered_;
      }
      if (direction == index && fault.kind == Kind::kHold && !pattern.empty()) {
        std::string seen_now = tail + std::string(buffer.data(), static_cast<std::size_t>(n));
        for (std::size_t at = seen_now.find(pattern); at != std::string::npos;
             at = seen_now.find(pattern, at + 1)) {
          ++matches;
        }
        tail = seen_now.substr(seen_now.size() - std::min(seen_now.size(), pattern.size() - 1));
        if (matches >= fault.at) {
          holding = true;
          held.assign(buffer.data(), static_cast<std::size_t>(n));
          ++triggered_;
          continue;
        }
      }
      passed[direction] += static_cast<std::size_t>(n);
      lastTraffic = std::chrono::steady_clock::now();
      if (!SendAll(from == 0 ? server : client, buffer.data(), static_cast<std::size_t>(n))) {
        closed = true;
      }
    }
    if (closed) break;
  }
  ::shutdown(client, SHUT_RDWR);
  ::shutdown(server, SHUT_RDWR);
  ::close(client);
  ::close(server);
}

}  // namespace fault
