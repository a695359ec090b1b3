// The call frame through the exported entry points: entry guards, Busy
// marking, argument checks, registration and the publication at the end.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "entry/entry_points.h"
#include "fake_rexx.h"
#include "frame/frame.h"

namespace {

using EntryPoint = ktdb::FunctionHandler*;
using ktdb::APIRET;
using ktdb::RXAUTOBUFLEN;
using ktdb::RXSTRING;
using ktdb::State;

struct Answer {
  APIRET code;
  std::string result;
};

// Calls an entry point the way the interpreter does; an argument given as
// nullopt is omitted (null pointer, length 0). The result buffer starts as
// "zz" so that an untouched result can be told from an empty one.
Answer Call(EntryPoint entry, const std::vector<std::optional<std::string>>& args) {
  std::vector<std::string> texts;
  std::vector<RXSTRING> argv;
  texts.reserve(args.size());
  for (const auto& arg : args) {
    if (arg) {
      texts.push_back(*arg);
      argv.push_back({texts.back().size(), texts.back().data()});
    } else {
      argv.push_back({0, nullptr});
    }
  }
  char buffer[RXAUTOBUFLEN] = "zz";
  RXSTRING result{RXAUTOBUFLEN, buffer};
  const APIRET code = entry("name", argv.size(), argv.data(), "SESSION", &result);
  return {code,
          std::string(result.strptr, result.strlength == RXAUTOBUFLEN ? 2 : result.strlength)};
}

struct Guarded {
  const char* name;
  EntryPoint entry;
  ktdb::Admission admission;
  std::string refused;             // result when refused
  std::vector<unsigned> required;  // required arguments
  std::size_t argumentCount;       // arguments of a complete call
  std::string incorrect;           // result left by a call that returns 40
  std::string admitted;            // result of an admitted complete call
};

// An admitted complete call without a server: the functions that need one
// answer as if refused.
const std::vector<Guarded> kGuarded = {
    {"KTConnect", KTCONNECT, ktdb::Admission::kIdleNotConnected, "0", {1}, 4, "zz", "0"},
    // Releases the connection (there is none here) and answers "1".
    {"KTConnectReset", KTCONNECTRESET, ktdb::Admission::kIdleConnected, "0", {}, 0, "zz", "1"},
    // Without a server it still sets stem||"0"; "X Y.0" is no variable name,
    // and a variable KTSelectCols cannot set makes the call incorrect (40),
    // the result untouched.
    {"KTSelectCols", KTSELECTCOLS, ktdb::Admission::kIdleConnected, "0", {1, 2}, 2, "zz", "zz"},
    {"KTSelectData", KTSELECTDATA, ktdb::Admission::kIdleConnected, "0", {1, 2}, 4, "zz", "0"},
    {"KTSelectForm", KTSELECTFORM, ktdb::Admission::kIdleConnected, "0", {1, 2}, 6, "zz", "0"},
    {"KTSelectOne", KTSELECTONE, ktdb::Admission::kIdleConnected, "", {1}, 2, "", ""},
    {"KTBatch", KTBATCH, ktdb::Admission::kIdleConnected, "0", {1, 2}, 2, "zz", "0"},
    {"KTCurTimeStamp", KTCURTIMESTAMP, ktdb::Admission::kIdleConnected, "0", {}, 1, "", ""},
    // An admitted large-object call answers whether the value was copied:
    // without a server it was not.
    {"KTLOB2File", KTLOB2FILE, ktdb::Admission::kIdleConnected, "", {1, 2, 3}, 4, "zz", "0"},
    {"KTFile2LOB", KTFILE2LOB, ktdb::Admission::kIdleConnected, "", {1, 2, 3}, 5, "zz", "0"},
    {"KTHTML", KTHTML, ktdb::Admission::kIdleConnected, "0", {1}, 3, "zz", "0"},
};

std::vector<std::optional<std::string>> Complete(std::size_t count) {
  return std::vector<std::optional<std::string>>(count, std::string("x y."));
}

class CallFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_rexx::Reset();
    ktdb::PackageState = State::kUnloaded;
    ktdb::ConnectedFlag = 0;
  }
};

TEST_F(CallFrame, LoadRegistersTheTableAndPublishesTheResetValues) {
  ktdb::CapturedErrors.dbErr = 99;
  const Answer answer = Call(KTLOADFUNCS, {});
  EXPECT_EQ(answer.code, ktdb::kCallRan);
  EXPECT_EQ(answer.result, "1");
  EXPECT_EQ(ktdb::PackageState, State::kIdle);
  ASSERT_EQ(fake_rexx::registered.size(), ktdb::kFunctionTable.size());
  for (std::size_t i = 0; i < ktdb::kFunctionTable.size(); ++i) {
    EXPECT_EQ(fake_rexx::registered[i].name, ktdb::kFunctionTable[i]);
    EXPECT_EQ(fake_rexx::registered[i].module, "rexxktdb");
    EXPECT_EQ(fake_rexx::registered[i].entry, ktdb::kFunctionTable[i]);
  }
  EXPECT_EQ(fake_rexx::sets.size(), 8u);
  EXPECT_EQ(fake_rexx::variables["KT.!DBERR"], "0");

  // A second load is refused and changes nothing.
  fake_rexx::Reset();
  EXPECT_EQ(Call(KTLOADFUNCS, {}).result, "0");
  EXPECT_TRUE(fake_rexx::registered.empty());
  EXPECT_TRUE(fake_rexx::sets.empty());
  EXPECT_EQ(ktdb::PackageState, State::kIdle);
}

TEST_F(CallFrame, AFailedPublicationReturns40AndLeavesThePackageIdle) {
  fake_rexx::failingSet = 3;
  EXPECT_EQ(Call(KTLOADFUNCS, {}).code, ktdb::kIncorrectCall);
  EXPECT_EQ(ktdb::PackageState, State::kIdle);
  EXPECT_EQ(Call(KTDROPFUNCS, {}).result, "1");
}

TEST_F(CallFrame, DropDeregistersEverythingAndUnloads) {
  ASSERT_EQ(Call(KTLOADFUNCS, {}).result, "1");
  fake_rexx::Reset();
  const Answer answer = Call(KTDROPFUNCS, {});
  EXPECT_EQ(answer.code, ktdb::kCallRan);
  EXPECT_EQ(answer.result, "1");
  EXPECT_EQ(ktdb::PackageState, State::kUnloaded);
  std::vector<std::string> expected(ktdb::kFunctionTable.begin(), ktdb::kFunctionTable.end());
  expected.push_back("KTLoadFuncs");
  EXPECT_EQ(fake_rexx::deregistered, expected);
  EXPECT_TRUE(fake_rexx::sets.empty());
  // Unloaded again: a new load is admitted, a second drop is not.
  EXPECT_EQ(Call(KTDROPFUNCS, {}).result, "0");
  EXPECT_EQ(Call(KTLOADFUNCS, {}).result, "1");
}

TEST_F(CallFrame, EveryGuardRefusesInTheWrongStateAndChangesNothing) {
  const struct {
    State state;
    std::int32_t connected;
  } states[] = {{State::kUnloaded, 0},
                {State::kIdle, 0},
                {State::kIdle, 1},
                {State::kBusy, 0},
                {State::kBusy, 1}};
  for (const auto& s : states) {
    for (const Guarded& g : kGuarded) {
      const bool admits = s.state == State::kIdle &&
                          s.connected == (g.admission == ktdb::Admission::kIdleConnected ? 1 : 0);
      if (admits) continue;
      ktdb::PackageState = s.state;
      ktdb::ConnectedFlag = s.connected;
      fake_rexx::Reset();
      // Even with missing arguments the guard answers first.
      const Answer answer = Call(g.entry, {});
      EXPECT_EQ(answer.code, ktdb::kCallRan) << g.name;
      EXPECT_EQ(answer.result, g.refused) << g.name;
      EXPECT_EQ(ktdb::PackageState, s.state) << g.name;
      EXPECT_EQ(ktdb::ConnectedFlag, s.connected) << g.name;
      EXPECT_TRUE(fake_rexx::sets.empty()) << g.name;
    }
    // The two package functions have their own conditions.
    ktdb::PackageState = s.state;
    ktdb::ConnectedFlag = s.connected;
    if (!(s.state == State::kUnloaded && s.connected == 0)) {
      EXPECT_EQ(Call(KTLOADFUNCS, {}).result, "0");
    }
    if (!(s.state == State::kIdle && s.connected == 0)) {
      EXPECT_EQ(Call(KTDROPFUNCS, {}).result, "0");
    }
    EXPECT_TRUE(fake_rexx::registered.empty());
    EXPECT_TRUE(fake_rexx::deregistered.empty());
    EXPECT_EQ(ktdb::PackageState, s.state);
  }
}

TEST_F(CallFrame, AMissingOrEmptyRequiredArgumentReturns40AndTheNextCallIsServed) {
  for (const Guarded& g : kGuarded) {
    const std::int32_t connected = g.admission == ktdb::Admission::kIdleConnected ? 1 : 0;
    for (unsigned missing : g.required) {
      // Empty, omitted, and cut off by the argument count are all missing.
      std::vector<std::vector<std::optional<std::string>>> calls(3, Complete(g.argumentCount));
      calls[0][missing - 1] = std::string();
      calls[1][missing - 1] = std::nullopt;
      calls[2].resize(missing - 1);
      for (const auto& args : calls) {
        ktdb::PackageState = State::kIdle;
        ktdb::ConnectedFlag = connected;
        const Answer answer = Call(g.entry, args);
        EXPECT_EQ(answer.code, ktdb::kIncorrectCall) << g.name << " argument " << missing;
        EXPECT_EQ(answer.result, g.incorrect) << g.name << " argument " << missing;
        EXPECT_EQ(ktdb::PackageState, State::kIdle) << g.name;
      }
    }
    ktdb::PackageState = State::kIdle;
    ktdb::ConnectedFlag = connected;
    const Answer answer = Call(g.entry, Complete(g.argumentCount));
    EXPECT_EQ(answer.code, g.entry == KTSELECTCOLS ? ktdb::kIncorrectCall : ktdb::kCallRan)
        << g.name;
    EXPECT_EQ(answer.result, g.admitted) << g.name;
    EXPECT_EQ(ktdb::PackageState, State::kIdle) << g.name;
    // Only KTConnectReset changes the connected flag.
    EXPECT_EQ(ktdb::ConnectedFlag, g.entry == KTCONNECTRESET ? 0 : connected) << g.name;
  }
}

}  // namespace
