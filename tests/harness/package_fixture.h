// A test suite's package and server: one tdslite for the suite, the package
// loaded once (the fake pool stands in for the interpreter) and connected.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fake_rexx.h"
#include "frame/frame.h"
#include "interpreter.h"
#include "server/server.h"
#include "tdslite_server.h"

namespace harness {

class PackageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<TdsliteServer>(TdsliteProgram(KTDB_TDSLITE));
    fake_rexx::Reset();
    if (ktdb::PackageState == ktdb::State::kUnloaded) Call("KTLoadFuncs", {});
  }
  static void TearDownTestSuite() {
    if (ktdb::ConnectedFlag != 0) Call("KTConnectReset", {});
    server_.reset();
  }

  // Connects to the suite's server (or to `address`) when not connected.
  static bool Connect(const std::string& address = {}) {
    if (ktdb::ConnectedFlag != 0) return true;
    const std::string to = address.empty() ? server_->Address() : address;
    return Call("KTConnect", {"ktdb", "secret", to, "2"}).result == "1";
  }
  static void Disconnect() {
    if (ktdb::ConnectedFlag != 0) Call("KTConnectReset", {});
  }

  static std::unique_ptr<TdsliteServer> server_;
};

inline std::unique_ptr<TdsliteServer> PackageTest::server_;

}  // namespace harness
