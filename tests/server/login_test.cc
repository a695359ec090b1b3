// The texts of a login: length and NUL checks, SQL Server's host,port
// notation, and which client charset freetds.conf names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <string>

#include "server/server.h"

namespace {

TEST(Login, ServerNamesInFreeTdsNotation) {
  const struct {
    std::string given;
    bool accepted;
    std::string formed;
  } cases[] = {
      {"db.example.com,1433", true, "db.example.com:1433"},
      {"10.0.0.1,50000", true, "10.0.0.1:50000"},
      {"db.example.com:1433", true, "db.example.com:1433"},
      {"db\\instance", true, "db\\instance"},
      {"section", true, "section"},
      {"a,b", true, "a,b"},            // not a port
      {",1433", true, ",1433"},        // no host
      {"h,123456", true, "h,123456"},  // six digits are no port
      {"h,", true, "h,"},
      {std::string(126, 'h') + ",1", true, std::string(126, 'h') + ":1"},
      {std::string(129, 'h'), false, ""},
      {std::string("h\0st", 4), false, ""},
  };
  for (const auto& c : cases) {
    std::array<char, ktdb::kLoginTextSize> field{};
    field[0] = 'X';
    EXPECT_EQ(ktdb::FormServerName(field, c.given), c.accepted) << c.given;
    if (c.accepted) {
      EXPECT_EQ(std::string(field.data()), c.formed);
    } else {
      EXPECT_EQ(field[0], 'X') << "a refused name leaves the field alone";
    }
  }
}

TEST(Login, UserAndPasswordUpTo128Bytes) {
  std::array<char, ktdb::kLoginTextSize> field{};
  EXPECT_TRUE(ktdb::CopyLoginText(field, std::string(128, 'p')));
  EXPECT_EQ(std::string(field.data()).size(), 128u);
  EXPECT_TRUE(ktdb::CopyLoginText(field, ""));
  EXPECT_FALSE(ktdb::CopyLoginText(field, std::string(129, 'p')));
  EXPECT_FALSE(ktdb::CopyLoginText(field, std::string("pa\0ss", 5)));
}

TEST(Login, BytesPerCharacterOfTheClientCharset) {
  EXPECT_EQ(ktdb::MaxBytesPerCharacter("UTF-8"), 4);
  EXPECT_EQ(ktdb::MaxBytesPerCharacter("utf8"), 4);
  EXPECT_EQ(ktdb::MaxBytesPerCharacter("ISO-8859-1"), 1);
  EXPECT_EQ(ktdb::MaxBytesPerCharacter("CP1252"), 1);
  EXPECT_EQ(ktdb::MaxBytesPerCharacter("Shift_JIS"), 2);
  EXPECT_EQ(ktdb::MaxBytesPerCharacter(""), 1);
}

class ConfiguredCharset : public ::testing::Test {
 protected:
  void SetUp() override {
    std::array<char, 64> name{};
    const std::string pattern = std::string(::testing::TempDir()) + "ktdb-conf-XXXXXX";
    ASSERT_LT(pattern.size(), name.size());
    pattern.copy(name.data(), pattern.size());
    const int fd = mkstemp(name.data());
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = name.data();
    setenv("FREETDSCONF", path_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("FREETDSCONF");
    std::remove(path_.c_str());
  }
  void Write(const std::string& text) { std::ofstream(path_) << text; }

  std::string path_;
};

TEST_F(ConfiguredCharset, TheServersSectionOrGlobal) {
  // Section names and keys are case-insensitive, blanks inside a key fold.
  const char* const sections =
      "; a comment\n"
      "[global]\n"
      "  tds version = auto\n"
      "[Prod]\n"
      "  host = db\n"
      "  Client   Charset = ISO-8859-1\n"
      "[other]\n"
      "  host = x\n";
  // A server without a section of its own takes [global]'s.
  const char* const global =
      "[global]\n"
      "client charset = CP1252\n"
      "[prod]\n"
      "client charset = UTF-8\n";
  const struct {
    const char* conf;
    const char* server;
    const char* charset;
  } cases[] = {
      {sections, "prod", "ISO-8859-1"}, {sections, "PROD", "ISO-8859-1"},
      {sections, "other", ""},          {sections, "127.0.0.1:1433", ""},
      {global, "prod", "UTF-8"},        {global, "elsewhere", "CP1252"},
  };
  for (const auto& c : cases) {
    Write(c.conf);
    EXPECT_EQ(ktdb::ConfiguredClientCharset(c.server), c.charset) << c.server;
  }
}

TEST_F(ConfiguredCharset, VersionAndEncryptionOfTheServersSection) {
  Write(
      "[global]\n"
      "  tds version = auto\n"
      "[secure]\n"
      "  TDS   Version = 7.0\n"
      "  encryption = Require\n"
      "[plain]\n"
      "  encryption = off\n");
  EXPECT_EQ(ktdb::ConfiguredOption("secure", "tds version"), "7.0");
  EXPECT_EQ(ktdb::ConfiguredOption("SECURE", "encryption"), "Require");
  EXPECT_EQ(ktdb::ConfiguredOption("plain", "tds version"), "auto");
  EXPECT_EQ(ktdb::ConfiguredOption("plain", "encryption"), "off");
  EXPECT_EQ(ktdb::ConfiguredOption("host:1433", "encryption"), "");
}

TEST(LoginSettings, VersionsWithoutEncryptionAndRequiringSettings) {
  for (const char* v : {"7.0", "70", " 7.0 ", "5.0", "4.2", "46"}) {
    EXPECT_TRUE(ktdb::VersionBelow71(v)) << v;
  }
  for (const char* v : {"7.1", "7.4", "74", "8.0", "auto", "AUTO", ""}) {
    EXPECT_FALSE(ktdb::VersionBelow71(v)) << v;
  }
  for (const char* e : {"require", "Require", " REQUIRE", "strict"}) {
    EXPECT_TRUE(ktdb::EncryptionRequired(e)) << e;
  }
  for (const char* e : {"request", "off", "", "required"}) {
    EXPECT_FALSE(ktdb::EncryptionRequired(e)) << e;
  }
}

}  // namespace
