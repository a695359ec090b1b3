// A TCP proxy for tests that stands between the package and tdslite and
// spoils the traffic on demand: it cuts a connection after a number of bytes
// in one direction, corrupts one byte, stalls one direction, or holds one
// direction at a given request until the test lets it go on.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fault {

enum class Direction { kToServer, kToClient };

enum class Kind {
  kNone,
  kCut,      // close both sides once `at` bytes have passed
  kCorrupt,  // flip the bits of byte number `at`
  kStall,    // forward nothing more after `at` bytes
  kHold,     // see Hold
};

struct Fault {
  Kind kind = Kind::kNone;
  Direction direction = Direction::kToClient;
  std::size_t at = 0;  // counted in that direction, from Arm, per connection
};

class FaultProxy {
 public:
  // Listens on a free loopback port and relays every connection to
  // 127.0.0.1:upstreamPort.
  explicit FaultProxy(int upstreamPort);
  ~FaultProxy();
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  int Port() const { return port_; }

  // The fault for the traffic from now on, on open and new connections; the
  // byte counts start again. Kind::kNone relays everything again.
  void Arm(const Fault& fault);

  // Forwards nothing more in `direction` from the read in which `pattern`
  // is seen the `nth` time (counted from now, per connection); the next Arm
  // forwards what was held back and goes on with that fault.
  void Hold(Direction direction, const std::string& pattern, std::size_t nth);

  // Closes every relayed connection at once (the server's side and the
  // client's): the connection looks dead to the package.
  void CutAll();

  // How many faults took effect since the proxy started.
  int Triggered() const { return triggered_.load(); }

 private:
  void AcceptLoop();
  void Relay(int client, int server);

  int listener_ = -1;
  int port_ = 0;
  int upstream_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> generation_{0};  // bumped by Arm and CutAll
  std::atomic<int> triggered_{0};
  std::mutex mutex_;
  Fault fault_;
  std::string pattern_;  // Kind::kHold's
  std::thread acceptor_;
  std::vector<std::thread> relays_;
};

}  // namespace fault
