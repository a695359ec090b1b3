// What the rest of tdslite uses from the protocol layer: serving one client
// connection, and the whole server process behind the command line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tdslite/exec/session.h"
#include "tdslite/protocol/login_guard.h"

namespace tdslite::protocol {

class TlsContext;

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 1433;
  // The logins accepted; empty means the single login `sa` with an empty
  // password.
  std::vector<Login> logins;
  // Connections served at once; one more is closed as soon as it comes.
  int max_connections = 256;
  // A connection must have logged in this long after it came.
  int login_timeout_ms = 30000;
  // A reply packet the client does not take within this drops the client.
  int send_timeout_ms = kDefaultSendTimeoutMs;
  ServerConfig engine;
  // Set by the server: readable once it is stopping (-1: never).
  int stop_fd = -1;
  // Failed logins per client address; shared by all connections.
  LoginThrottle* throttle = nullptr;
  // The certificate TDS 7.1+ clients are offered TLS with; null: the server
  // answers that it cannot encrypt.
  std::shared_ptr<const TlsContext> tls;
  // Clients that do not encrypt the whole session are refused.
  bool force_encryption = false;
  // PEM files for `tls`; both empty: a self-signed certificate.
  std::string tls_cert_file;
  std::string tls_key_file;
};

// Serves one client on a connected socket until it leaves, breaks the
// protocol or the server stops. Does not close `fd` (its owner does, after
// the thread has ended, so that a descriptor number is never reused while a
// stopping server may still shut it down).
void ServeConnection(int fd, Engine& engine, const ServerOptions& options, uint16_t spid);

// The `tdslite` program: parses the command line, listens, serves every
// connection on its own thread, stops on SIGINT/SIGTERM. Answers the process
// exit status (0 after a signal, 2 for bad options, 1 when it cannot start).
int RunServer(int argc, char** argv);

}  // namespace tdslite::protocol
