// Engine::Open: the shared database file, its catalog and journal mode.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "engine_state.h"
#include "session.h"
#include "tdslite/sql/catalog.h"
#include "tdslite/sql/modules.h"

namespace tdslite {
namespace {

class EngineImpl : public Engine {
 public:
  EngineImpl(std::shared_ptr<EngineState> state, sqlite3* keeper, bool temporary)
      : state_(std::move(state)), keeper_(keeper), temporary_(temporary) {}

  ~EngineImpl() override {
    sqlite3_close_v2(keeper_);
    if (temporary_) {
      for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        std::string p = state_->path + suffix;
        ::unlink(p.c_str());
      }
    }
  }

  std::unique_ptr<Session> NewSession(const SessionInfo& info) override {
    std::string error;
    auto session = OpenSession(state_, info, &error);
    if (!session && state_->config.verbose) {
      std::fprintf(stderr, "tdslite: cannot open a session: %s\n", error.c_str());
    }
    return session;
  }

  void Flush() override {
    sqlite3_wal_checkpoint_v2(keeper_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  }

 private:
  std::shared_ptr<EngineState> state_;
  // A connection held for the engine's lifetime: it keeps the WAL set-up in
  // place between sessions and does the checkpoint at shutdown.
  sqlite3* keeper_;
  bool temporary_;
};

}  // namespace

std::unique_ptr<Engine> Engine::Open(const ServerConfig& config, std::string* error) {
  auto state = std::make_shared<EngineState>();
  state->config = config;
  bool temporary = false;
  if (config.database_path.empty()) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/tdslite-XXXXXX";
    std::string buf = pattern;
    int fd = ::mkstemp(buf.data());
    if (fd < 0) {
      *error = "cannot create a temporary database file: " + std::string(std::strerror(errno));
      return nullptr;
    }
    ::close(fd);
    state->path = buf;
    temporary = true;
  } else {
    state->path = config.database_path;
  }
  sqlite3* db = nullptr;
  int rc =
      sqlite3_open_v2(state->path.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  auto fail = [&](const std::string& why) -> std::unique_ptr<Engine> {
    *error = why;
    sqlite3_close_v2(db);
    if (temporary) ::unlink(state->path.c_str());
    return nullptr;
  };
  if (rc != SQLITE_OK) {
    return fail("cannot open " + state->path + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
  }
  sqlite3_busy_timeout(db, 10000);
  char* message = nullptr;
  if (sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, &message) != SQLITE_OK) {
    std::string why = message ? message : "journal mode";
    sqlite3_free(message);
    return fail("cannot use " + state->path + ": " + why);
  }
  std::string catalog_error;
  if (!sql::EnsureCatalog(db, &catalog_error) || !sql::EnsureModules(db, &catalog_error)) {
    return fail("cannot use " + state->path + ": " + catalog_error);
  }
  return std::make_unique<EngineImpl>(std::move(state), db, temporary);
}

}  // namespace tdslite
