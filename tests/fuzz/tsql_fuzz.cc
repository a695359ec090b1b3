// tdslite's T-SQL front end with arbitrary batches: the lexer and the parser
// alone, and, for a batch that parses, the whole path through compilation
// and execution on an in-memory database with a small catalog.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "recording_sink.h"
#include "tdslite/exec/session.h"
#include "tdslite/sql/lexer.h"
#include "tdslite/sql/parser.h"

namespace {

// Loops and waits would only measure the time limit: such batches are parsed
// but not run.
bool MayRun(std::string_view sql) {
  const std::string lower = tdslite::sql::ToLower(sql);
  for (const char* word : {"while", "waitfor", "goto", "sp_", "xp_", "web", "writetext"}) {
    if (lower.find(word) != std::string::npos) return false;
  }
  return sql.size() < 4096;
}

struct World {
  World() {
    tdslite::ServerConfig config;
    config.server_name = "FUZZ";
    std::string error;
    engine = tdslite::Engine::Open(config, &error);
    if (!engine) std::abort();
    tdslite::SessionInfo info;
    info.spid = 51;
    info.login = "sa";
    session = engine->NewSession(info);
    tdslite::test_support::RunBatch(
        *session,
        "create table t (a int, b varchar(20), c datetime, d numeric(10,2)) "
        "insert into t values (1, 'one', '2020-01-02', 1.5) "
        "insert into t values (2, NULL, NULL, NULL)");
  }
  std::unique_ptr<tdslite::Engine> engine;
  std::unique_ptr<tdslite::Session> session;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static World world;
  const std::string_view sql(reinterpret_cast<const char*>(data), size);
  tdslite::sql::Lex(sql);
  const tdslite::sql::ParseResult parsed = tdslite::sql::ParseBatch(sql);
  if (parsed.ok() && MayRun(sql)) {
    // Every batch runs inside a transaction that is rolled back, so that the
    // catalog stays small and the same for every input.
    tdslite::test_support::RunBatch(*world.session, "begin transaction");
    tdslite::test_support::RunBatch(*world.session, sql);
    tdslite::test_support::RunBatch(*world.session, "if @@trancount > 0 rollback transaction");
  }
  return 0;
}
