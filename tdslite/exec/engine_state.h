// What every session of one engine shares: the configuration, the database
// file and the transaction descriptor counter.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "session.h"

namespace tdslite {

struct EngineState {
  ServerConfig config;
  std::string path;  // the SQLite file every session opens
  // Transaction descriptors handed to clients; never 0 (0 means "none").
  std::atomic<uint64_t> next_descriptor{1};
  // Commits of every session's connection (its commit hook counts them): a
  // READTEXT value a session keeps open is opened again once this moves.
  std::atomic<uint64_t> commits{0};
};

// Opens one session's SQLite connection (WAL, busy timeout, tdslite's
// functions). Null with *error set on failure.
std::unique_ptr<Session> OpenSession(std::shared_ptr<EngineState> state, const SessionInfo& info,
                                     std::string* error);

}  // namespace tdslite
