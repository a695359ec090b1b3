// What the rest of tdslite uses from the protocol layer: serving one client
// connection, and the whole server process behind the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tdslite/exec/session.h"

namespace tdslite::protocol {

struct Login {
  std::string name;
  std::string password;
};

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 1433;
  // The logins accepted; empty means the single login `sa` with an empty
  // password.
  std::vector<Login> logins;
  ServerConfig engine;
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
