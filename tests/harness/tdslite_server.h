// A tdslite of a test's own: started on a free loopback port with the test
// login ktdb/secret, stopped (and waited for) when the object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace harness {

class TdsliteServer {
 public:
  // Starts the server and waits (at most ten seconds) for the line that
  // names its address. Started() says whether it came.
  explicit TdsliteServer(const std::string& program, std::vector<std::string> extra = {});
  ~TdsliteServer();
  TdsliteServer(const TdsliteServer&) = delete;
  TdsliteServer& operator=(const TdsliteServer&) = delete;

  bool Started() const { return port_ != 0; }
  const std::string& Address() const { return address_; }  // "host:port"
  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }

  // Stops the server (SIGKILL) and waits for it; the destructor does the
  // same for a server still running.
  void Kill();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string address_;
  int readEnd_ = -1;  // the server's standard output
};

// The server program: `built` (the build's), unless the environment
// variable KTDB_TDSLITE names another.
std::string TdsliteProgram(const char* built);

// The number of open descriptors and of threads of a process (from /proc).
int OpenDescriptors(pid_t pid);
int Threads(pid_t pid);

}  // namespace harness
