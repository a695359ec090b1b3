// The package's statement functions called with arbitrary argument vectors
// (0 to 8 arguments, any bytes, NULs included, long texts) and arbitrary
// pool contents, against a tdslite of the fuzzer's own. Every call must
// return 0 or 40 and leave the package Idle; nothing else is assumed.
//
// Input: byte 0 picks the function, byte 1 the argument count and the pool
// variables; the rest is split at 0xFF bytes into the arguments. An argument
// that starts with 0xFE is repeated to a long text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fake_rexx.h"
#include "frame/frame.h"
#include "interpreter.h"
#include "tdslite_server.h"

namespace {

// The functions that neither write files nor change the connection.
constexpr const char* kFunctions[] = {"KTSelectData", "KTSelectOne", "KTSelectCols",
                                      "KTSelectForm", "KTBatch",     "KTCurTimeStamp",
                                      "KTConnect",    "KTDropFuncs"};

// Loops and waits would only measure the time limit.
bool MayRun(const std::string& text) {
  std::string lower;
  for (char c : text)
    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  for (const char* word : {"while", "waitfor", "goto", "sp_", "xp_", "shutdown"}) {
    if (lower.find(word) != std::string::npos) return false;
  }
  return true;
}

struct World {
  World() {
    server = std::make_unique<harness::TdsliteServer>(harness::TdsliteProgram(KTDB_TDSLITE));
    if (!server->Started()) std::abort();
    harness::Call("KTLoadFuncs", {});
    Connect();
    harness::Call("KTSelectData", {"create table t (a int, b varchar(20), c text)", "r."});
    harness::Call("KTSelectData", {"insert into t values (1, 'one', 'x') "
                                   "insert into t values (2, NULL, NULL)",
                                   "r."});
  }
  void Connect() {
    if (ktdb::PackageState == ktdb::State::kUnloaded) harness::Call("KTLoadFuncs", {});
    if (ktdb::ConnectedFlag == 0) {
      harness::Call("KTConnect", {"ktdb", "secret", server->Address(), "2"});
    }
  }
  std::unique_ptr<harness::TdsliteServer> server;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static World world;
  if (size < 2) return 0;
  const char* function = kFunctions[data[0] % std::size(kFunctions)];
  const unsigned count = data[1] % 9;
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 2; i < size && args.size() < count; ++i) {
    if (data[i] == 0xFF) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (args.size() < count) args.push_back(current);
  for (std::string& arg : args) {
    if (!arg.empty() && static_cast<std::uint8_t>(arg[0]) == 0xFE) {
      std::string longer;
      while (longer.size() < 70000) longer += arg.substr(1) + " ";
      arg = longer;
    }
    if (!MayRun(arg)) return 0;
  }
  // The pool: a statement stem for KTBatch, from the arguments.
  fake_rexx::variables.clear();
  fake_rexx::sets.clear();
  if (data[1] & 0x10) {
    fake_rexx::variables["C.0"] = std::to_string(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
      fake_rexx::variables["C." + std::to_string(i + 1)] = args[i];
    }
  }
  const harness::Answer answer = harness::Call(function, args);
  if (answer.code != 0 && answer.code != 40) std::abort();
  if (ktdb::PackageState != ktdb::State::kIdle && ktdb::PackageState != ktdb::State::kUnloaded) {
    std::abort();
  }
  world.Connect();
  return 0;
}
