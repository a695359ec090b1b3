// The server process: command line, listening socket, one thread per
// connection (at most --max-connections), orderly stop on SIGINT/SIGTERM:
// requests in progress get a few seconds to finish before connections close.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tdslite/protocol/packet_io.h"
#include "tdslite/protocol/protocol.h"
#include "tdslite/protocol/tls.h"

namespace tdslite::protocol {

namespace {

// Written by the signal handler, read by the accept loop: the write end of a
// pipe whose readability means "stop".
int g_stop_pipe_write = -1;

void OnStopSignal(int) {
  if (g_stop_pipe_write >= 0) {
    char c = 's';
    [[maybe_unused]] ssize_t n = ::write(g_stop_pipe_write, &c, 1);
  }
}

// Milliseconds the accept loop sleeps at most before it reaps finished
// connection threads.
constexpr int kReapIntervalMs = 500;
// SPIDs of user connections start at 51, as in SQL Server.
constexpr uint16_t kFirstSpid = 51;
constexpr uint16_t kLastSpid = 32767;
// How long a stopping server lets requests in progress run on.
constexpr int kStopGraceMs = 5000;

struct ParsedArgs {
  ServerOptions options;
  bool ok = true;
};

bool ParseInt(std::string_view text, int min, int max, int* out) {
  int v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max) return false;
  *out = v;
  return true;
}

ParsedArgs ParseArgs(int argc, char** argv) {
  ParsedArgs parsed;
  ServerOptions& o = parsed.options;
  auto fail = [&](const std::string& message) {
    std::fprintf(stderr, "tdslite: %s\n", message.c_str());
    parsed.ok = false;
    return parsed;
  };
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string name(arg);
    std::string value;
    bool has_value = false;
    if (size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = std::string(arg.substr(0, eq));
      value = std::string(arg.substr(eq + 1));
      has_value = true;
    }
    auto take = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    if (name == "--verbose") {
      if (has_value) return fail("option --verbose takes no value");
      o.engine.verbose = true;
      continue;
    }
    if (name == "--force-encryption") {
      if (has_value) return fail("option --force-encryption takes no value");
      o.force_encryption = true;
      continue;
    }
    if (name != "--host" && name != "--port" && name != "--database" && name != "--dbname" &&
        name != "--user" && name != "--users-file" && name != "--file-root" &&
        name != "--tls-cert" && name != "--tls-key" && name != "--max-connections" &&
        name != "--login-timeout" && name != "--send-timeout" && name != "--max-value-bytes") {
      return fail("unknown option '" + name + "'");
    }
    if (!take()) return fail("option " + name + " needs a value");
    if (name == "--host") {
      if (value.empty()) return fail("option --host needs an address");
      o.host = value;
    } else if (name == "--port") {
      if (!ParseInt(value, 0, 65535, &o.port)) {
        return fail("option --port: '" + value + "' is not a port number (0-65535)");
      }
    } else if (name == "--database") {
      if (value.empty()) return fail("option --database needs a file name");
      o.engine.database_path = value;
    } else if (name == "--dbname") {
      if (value.empty() || value.size() > 128) {
        return fail("option --dbname needs a name of 1 to 128 characters");
      }
      o.engine.database_name = value;
    } else if (name == "--user") {
      size_t colon = value.find(':');
      if (colon == std::string::npos || colon == 0) {
        return fail("option --user: '" + value + "' is not NAME:PASSWORD");
      }
      o.logins.push_back({value.substr(0, colon), value.substr(colon + 1)});
    } else if (name == "--max-value-bytes") {
      uint64_t bytes = 0;
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), bytes);
      if (ec != std::errc() || end != value.data() + value.size() || bytes < 1024 ||
          bytes > 0x7FFFFFFFu) {
        return fail("option --max-value-bytes: '" + value +
                    "' is not a number of bytes (1024-2147483647)");
      }
      o.engine.max_value_bytes = bytes;
    } else if (name == "--users-file") {
      std::string error;
      if (!ReadUsersFile(value, &o.logins, &error)) return fail("option --users-file: " + error);
    } else if (name == "--max-connections") {
      if (!ParseInt(value, 1, 100000, &o.max_connections)) {
        return fail("option --max-connections: '" + value + "' is not a number (1-100000)");
      }
    } else if (name == "--login-timeout" || name == "--send-timeout") {
      int seconds = 0;
      if (!ParseInt(value, 1, 86400, &seconds)) {
        return fail("option " + name + ": '" + value + "' is not a number of seconds (1-86400)");
      }
      (name == "--login-timeout" ? o.login_timeout_ms : o.send_timeout_ms) = seconds * 1000;
    } else if (name == "--file-root") {
      struct stat st {};
      if (value.empty() || ::stat(value.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return fail("option --file-root: '" + value + "' is not a directory");
      }
      o.engine.file_root = value;
    } else if (name == "--tls-cert" || name == "--tls-key") {
      if (value.empty()) return fail("option " + name + " needs a file name");
      (name == "--tls-cert" ? o.tls_cert_file : o.tls_key_file) = value;
    }
  }
  if (o.tls_cert_file.empty() != o.tls_key_file.empty()) {
    return fail("options --tls-cert and --tls-key go together");
  }
  return parsed;
}

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
  }
  if (address->sa_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&a)) return true;
    return IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127;
  }
  return false;
}

// A connection's thread and the descriptor it serves. The descriptor is
// closed only after the thread has been joined.
struct Client {
  std::unique_ptr<Socket> socket;
  std::thread thread;
  std::atomic<bool> done{false};
};

class Listener {
 public:
  explicit Listener(const ServerOptions& options, Engine& engine)
      : options_(options), engine_(engine) {}
  ~Listener() { StopAll(); }

  // Binds and listens; prints the listening line. Answers 0, or the exit
  // status after a message: 2 for a host that does not resolve, 1 when the
  // address cannot be used.
  int Open();
  // Accepts until the stop pipe becomes readable.
  void Loop(int stop_fd);
  // Stops listening, lets the requests in progress finish (up to
  // kStopGraceMs), then closes every connection.
  void Drain();

 private:
  void Reap(bool all);
  void StopAll();
  uint16_t NextSpid();

  const ServerOptions& options_;
  Engine& engine_;
  std::unique_ptr<Socket> listen_;
  std::list<Client> clients_;
  uint16_t next_spid_ = kFirstSpid;
};

int Listener::Open() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string port = std::to_string(options_.port);
  int rc = ::getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &found);
  if (rc != 0) {
    std::fprintf(stderr, "tdslite: option --host: cannot resolve '%s': %s\n", options_.host.c_str(),
                 gai_strerror(rc));
    return 2;
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(found, ::freeaddrinfo);
  // Beyond this machine, the default login (sa, no password) is no guard.
  if (options_.logins.empty()) {
    for (addrinfo* a = found; a; a = a->ai_next) {
      if (!IsLoopback(a->ai_addr)) {
        std::fprintf(stderr,
                     "tdslite: option --host: '%s' is reachable from other machines; give the "
                     "logins with --users-file (or --user)\n",
                     options_.host.c_str());
        return 2;
      }
    }
  }
  std::string last_error = "no address";
  for (addrinfo* a = found; a; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    auto socket = std::make_unique<Socket>(fd);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
      last_error = std::strerror(errno);
      continue;
    }
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    int bound_port = bound.ss_family == AF_INET6
                         ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                         : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    listen_ = std::move(socket);
    std::printf("tdslite listening on %s:%d\n", options_.host.c_str(), bound_port);
    std::fflush(stdout);
    return 0;
  }
  std::fprintf(stderr, "tdslite: cannot listen on %s:%d: %s\n", options_.host.c_str(),
               options_.port, last_error.c_str());
  return 1;
}

uint16_t Listener::NextSpid() {
  uint16_t spid = next_spid_;
  next_spid_ = next_spid_ >= kLastSpid ? kFirstSpid : static_cast<uint16_t>(next_spid_ + 1);
  return spid;
}

void Listener::Loop(int stop_fd) {
  for (;;) {
    pollfd p[2] = {{listen_->fd(), POLLIN, 0}, {stop_fd, POLLIN, 0}};
    int rc = ::poll(p, 2, kReapIntervalMs);
    Reap(false);
    if (rc < 0 && errno != EINTR) return;
    if (rc <= 0) continue;
    if (p[1].revents) return;
    if (!(p[0].revents & POLLIN)) continue;
    int fd = ::accept4(listen_->fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: wait for connections to end rather than spin.
      if (errno == EMFILE || errno == ENFILE) ::poll(nullptr, 0, 100);
      continue;  // otherwise the client left already
    }
    if (clients_.size() >= static_cast<size_t>(options_.max_connections)) {
      Reap(false);
      if (clients_.size() >= static_cast<size_t>(options_.max_connections)) {
        ::close(fd);  // full: the newcomer is turned away at once
        continue;
      }
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, 1 /* TCP_NODELAY */, &one, sizeof one);
    Client& client = clients_.emplace_back();
    client.socket = std::make_unique<Socket>(fd);
    uint16_t spid = NextSpid();
    try {
      client.thread = std::thread([this, fd, spid, &client] {
        ServeConnection(fd, engine_, options_, spid);
        client.done = true;
      });
    } catch (const std::system_error&) {
      clients_.pop_back();  // no thread to serve it: close at once
    }
  }
}

void Listener::Reap(bool all) {
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (all || it->done) {
      if (all) ::shutdown(it->socket->fd(), SHUT_RDWR);
      if (it->thread.joinable()) it->thread.join();
      it = clients_.erase(it);
    } else {
      ++it;
    }
  }
}

void Listener::Drain() {
  listen_.reset();
  // Idle connections see the stop at once and end; busy ones end after the
  // request they are serving.
  const Deadline deadline = DeadlineIn(kStopGraceMs);
  for (;;) {
    Reap(false);
    if (clients_.empty() || NowMs() >= deadline) break;
    ::poll(nullptr, 0, 20);
  }
  StopAll();
}

void Listener::StopAll() {
  // Shut every connection down first so that threads blocked in a read or a
  // send return, then join them.
  for (Client& c : clients_) ::shutdown(c.socket->fd(), SHUT_RDWR);
  Reap(true);
}

// A private database file for a server started without --database; removed
// (with SQLite's companion files) when the server stops.
class TempDatabase {
 public:
  bool Create() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/tdslite-XXXXXX";
    std::string buffer = pattern;
    int fd = ::mkstemp(buffer.data());
    if (fd < 0) return false;
    ::close(fd);
    path_ = buffer;
    return true;
  }
  ~TempDatabase() {
    if (path_.empty()) return;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      ::unlink((path_ + suffix).c_str());
    }
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

int RunServer(int argc, char** argv) {
  ParsedArgs parsed = ParseArgs(argc, argv);
  if (!parsed.ok) return 2;
  ServerOptions& options = parsed.options;

  char host_name[256] = {};
  if (::gethostname(host_name, sizeof host_name - 1) != 0 || host_name[0] == '\0') {
    std::snprintf(host_name, sizeof host_name, "%s", "tdslite");
  }
  options.engine.server_name = host_name;

  std::string tls_error;
  options.tls = TlsContext::Create(options.tls_cert_file, options.tls_key_file, &tls_error);
  if (!options.tls) {
    std::fprintf(stderr, "tdslite: %s\n", tls_error.c_str());
    return options.tls_cert_file.empty() ? 1 : 2;
  }

  TempDatabase temp;
  if (options.engine.database_path.empty()) {
    if (!temp.Create()) {
      std::fprintf(stderr, "tdslite: cannot create a temporary database: %s\n",
                   std::strerror(errno));
      return 1;
    }
    options.engine.database_path = temp.path();
  }

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return 1;
  Socket stop_read(pipe_fds[0]);
  Socket stop_write(pipe_fds[1]);
  g_stop_pipe_write = pipe_fds[1];
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  options.stop_fd = stop_read.fd();
  LoginThrottle throttle;
  options.throttle = &throttle;
  // One descriptor per connection: let the server use all it may.
  struct rlimit files {};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }

  std::string error;
  std::unique_ptr<Engine> engine = Engine::Open(options.engine, &error);
  if (!engine) {
    // A database named on the command line that cannot be opened is a bad
    // option; failing to open the private one is not the caller's fault.
    if (temp.path().empty()) {
      std::fprintf(stderr, "tdslite: option --database: cannot open '%s': %s\n",
                   options.engine.database_path.c_str(), error.c_str());
      return 2;
    }
    std::fprintf(stderr, "tdslite: cannot open the database: %s\n", error.c_str());
    return 1;
  }
  {
    Listener listener(options, *engine);
    if (int status = listener.Open(); status != 0) return status;
    listener.Loop(stop_read.fd());
    listener.Drain();
  }  // every connection closed and its thread joined
  engine->Flush();
  engine.reset();
  g_stop_pipe_write = -1;
  return 0;
}

}  // namespace tdslite::protocol
