// The fixture shared by the session tests: an engine on a private
// temporary database and one session.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "recording_sink.h"
#include "tdslite/common/text.h"
#include "tdslite/exec/session.h"

namespace tdslite {

using test_support::RecordingSink;
using test_support::RunBatch;

// Bytes as a binary literal ("0x0a1b"), the way a statement names a text
// pointer or timestamp.
inline std::string HexOf(std::string_view bytes) {
  return "0x" + HexDigits(bytes, false);
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerConfig config;
    config.server_name = "TESTSRV";
    std::string error;
    engine_ = Engine::Open(config, &error);
    ASSERT_TRUE(engine_) << error;
    session_ = NewSession(51);
    ASSERT_TRUE(session_);
  }
  std::unique_ptr<Session> NewSession(int spid) {
    SessionInfo info;
    info.spid = spid;
    info.login = "sa";
    return engine_->NewSession(info);
  }
  std::string Run(std::string_view sql) { return RunBatch(*session_, sql); }

  struct Case {
    const char* sql;
    const char* expected;
  };
  void Check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(Run(c.sql), c.expected) << c.sql;
  }

  std::unique_ptr<Engine> engine_;
  std::unique_ptr<Session> session_;
};

}  // namespace tdslite
