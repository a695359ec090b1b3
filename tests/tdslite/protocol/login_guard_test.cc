// Passwords compared whole, the accounts file and its permissions, and the
// failed-login allowance per address (on a clock of the test's own).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tdslite/protocol/login_guard.h"

namespace tdslite::protocol {
namespace {

TEST(LoginGuard, SamePassword) {
  struct Case {
    std::string given, expected;
    bool same;
  } cases[] = {
      {"", "", true},
      {"secret", "secret", true},
      {"secret", "secreT", false},
      {"secre", "secret", false},
      {"secret", "secre", false},
      {"", "x", false},
      {std::string("a\0b", 3), std::string("a\0c", 3), false},
      {std::string("a\0", 2), "a", false},
  };
  for (const Case& c : cases) EXPECT_EQ(SamePassword(c.given, c.expected), c.same) << c.given;
}

TEST(LoginGuard, UsersFile) {
  std::string dir = ::testing::TempDir() + "tdslite-users-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string path = dir + "/users";
  struct Case {
    std::string text;
    mode_t mode;
    bool ok;
    size_t logins;
  } cases[] = {
      {"alice:a:b\n# note\n\nbob:\r\n", 0600, true, 2},
      {"alice:x\n", 0400, true, 1},
      {"", 0600, true, 0},
      {"alice:x\n", 0640, false, 0},
      {"alice:x\n", 0604, false, 0},
      {"alice:x\n", 0602, false, 0},
      {"alice\n", 0600, false, 0},
      {":x\n", 0600, false, 0},
      {std::string(200, 'n') + ":x\n", 0600, false, 0},
  };
  for (const Case& c : cases) {
    ::unlink(path.c_str());
    std::ofstream(path) << c.text;
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    std::vector<Login> logins;
    std::string error;
    EXPECT_EQ(ReadUsersFile(path, &logins, &error), c.ok) << c.text << " " << error;
    if (c.ok) {
      EXPECT_EQ(logins.size(), c.logins) << c.text;
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
  std::vector<Login> logins;
  std::string error;
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  std::ofstream(path) << "alice:a:b\nbob:\r\n";
  ASSERT_TRUE(ReadUsersFile(path, &logins, &error));
  ASSERT_EQ(logins.size(), 2u);
  EXPECT_EQ(logins[0].name, "alice");
  EXPECT_EQ(logins[0].password, "a:b");
  EXPECT_EQ(logins[1].password, "");
  EXPECT_FALSE(ReadUsersFile(dir + "/missing", &logins, &error));
  EXPECT_FALSE(ReadUsersFile(dir, &logins, &error));  // a folder
  ::unlink(path.c_str());
  ::rmdir(dir.c_str());
}

TEST(LoginGuard, FailedLoginsPerAddress) {
  LoginThrottle throttle(10);
  Deadline t = 1000000;
  // Tries a wrong password every `step` ms for `ms` ms; answers how many
  // were looked at.
  auto guess = [&](const std::string& address, int step, int ms) {
    int looked_at = 0;
    for (int at = 0; at < ms; at += step) {
      if (throttle.Allowed(address, t + at)) {
        ++looked_at;
        throttle.Failed(address, t + at);
      }
    }
    t += ms;
    return looked_at;
  };
  // A burst: ten are looked at, then none; another address is not affected.
  EXPECT_EQ(guess("10.0.0.1", 0 + 1, 50), 10);
  EXPECT_TRUE(throttle.Allowed("10.0.0.2", t));
  // Guessing on faster than ten a second: nothing more is looked at, and a
  // right password meanwhile is refused too.
  EXPECT_EQ(guess("10.0.0.1", 5, 10000), 0);
  EXPECT_FALSE(throttle.Allowed("10.0.0.1", t));
  // Quiet for a second: still owed. Two more: the allowance is back.
  t += 1000;
  EXPECT_FALSE(throttle.Allowed("10.0.0.1", t));
  t += 2000;
  EXPECT_TRUE(throttle.Allowed("10.0.0.1", t));
  // Failing at ten a second or slower is always looked at.
  EXPECT_EQ(guess("10.0.0.1", 100, 10000), 100);
  EXPECT_EQ(guess("10.0.0.3", 250, 10000), 40);
  // Many addresses: memory stays bounded and new ones still get in.
  for (int i = 0; i < 30000; ++i) throttle.Failed("a" + std::to_string(i), t);
  EXPECT_TRUE(throttle.Allowed("fresh", t));
}

}  // namespace
}  // namespace tdslite::protocol
