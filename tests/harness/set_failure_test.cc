// A variable set that the pool refuses (an answer above 1) at every set of
// every function that sets variables: the call ends with return 40 or with a
// failure result, never with a success; the package is Idle again; and the
// next call works.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "package_fixture.h"

namespace harness {
namespace {

struct Scenario {
  const char* function;
  std::vector<std::string> args;
  std::string success;  // the result of the call when every set succeeds
};

class SetFailureTest : public PackageTest {
 protected:
  static void SetUpTestSuite() {
    PackageTest::SetUpTestSuite();
    ASSERT_TRUE(server_->Started());
    ASSERT_TRUE(Connect());
    for (const char* sql : {"create table t (a int, b varchar(20))",
                            "insert into t values (1, 'one') insert into t values (2, NULL)",
                            "insert into t values (3, 'three')"}) {
      ASSERT_EQ(Call("KTSelectData", {sql, "r."}).result, "1") << sql;
    }
    ASSERT_EQ(Call("KTSelectData", {"create table lobs (id int, v image null)", "r."}).result, "1");
    ASSERT_EQ(Call("KTSelectData", {"insert into lobs values (1, 0x00ff10)", "r."}).result, "1");
    std::FILE* file = std::fopen(LobFile().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("file content\n", file);
    std::fclose(file);
  }

  // A file the large-object functions read from and write to, of this
  // process's own (runs side by side must not share it).
  static std::string LobFile() {
    return ::testing::TempDir() + "ktdb_set_failure." + std::to_string(getpid()) + ".bin";
  }

  // The batch's statements, in the pool as a script would leave them.
  static void PutBatch() {
    fake_rexx::variables["C.0"] = "2";
    fake_rexx::variables["C.1"] = "select a, b from t order by a";
    fake_rexx::variables["C.2"] = "select count(*) from t";
  }

  // The package answers again, on the same connection.
  static void ExpectUsable(const std::string& what) {
    EXPECT_EQ(ktdb::PackageState, ktdb::State::kIdle) << what;
    const Answer next = Call("KTSelectOne", {"select 40 + 2"});
    EXPECT_EQ(next.code, 0u) << what;
    EXPECT_EQ(next.result, "42") << what << ": the next call";
  }
};

TEST_F(SetFailureTest, EveryStatementFunctionStopsAtEverySet) {
  const std::vector<Scenario> scenarios = {
      {"KTSelectData", {"select a, b from t order by a", "r.", "10", "-"}, "1"},
      {"KTSelectData", {"insert into t values (9, 'nine') delete from t where a = 9", "r."}, "1"},
      // A statement the server refuses still ends with its tail "0" set.
      {"KTSelectData", {"select * from no_such_table", "r."}, "1"},
      {"KTSelectCols", {"select a, b from t", "c."}, "1"},
      {"KTSelectForm", {"select a, b from t order by a", "f.", "10", "-", "=", "1"}, "1"},
      {"KTSelectOne", {"select b from t where a = 3"}, "three"},
      {"KTSelectOne", {"select * from no_such_table"}, ""},
      {"KTBatch", {"c.", "res."}, "1"},
      {"KTFile2LOB", {LobFile(), "lobs", "v", "id = 1"}, "1"},
      {"KTLOB2File", {LobFile(), "lobs", "v", "id = 1"}, "1"},
  };
  for (const Scenario& s : scenarios) {
    const std::string what =
        std::string(s.function) + "(" + (s.args.empty() ? "" : s.args[0]) + ")";
    PutBatch();
    fake_rexx::sets.clear();
    fake_rexx::failingSet = -1;
    const Answer clean = Call(s.function, s.args);
    ASSERT_EQ(clean.code, 0u) << what;
    EXPECT_EQ(clean.result, s.success) << what;
    const int total = static_cast<int>(fake_rexx::sets.size());
    ASSERT_GT(total, 0) << what << " sets nothing";
    for (int k = 0; k < total; ++k) {
      const std::string at = what + ", set " + std::to_string(k);
      PutBatch();
      fake_rexx::sets.clear();
      fake_rexx::failingSet = k;
      const Answer failed = Call(s.function, s.args);
      fake_rexx::failingSet = -1;
      ASSERT_GT(fake_rexx::sets.size(), static_cast<std::size_t>(k)) << at << ": set not reached";
      const std::string name = fake_rexx::sets[k].first;
      EXPECT_TRUE(failed.code == 0 || failed.code == 40) << at << " " << name;
      // The sets after the refused one: none but the error variables may follow.
      for (std::size_t later = k + 1; later < fake_rexx::sets.size(); ++later) {
        EXPECT_EQ(fake_rexx::sets[later].first.rfind("KT.!", 0), 0u)
            << at << " " << name << ": went on setting " << fake_rexx::sets[later].first;
      }
      if (failed.code == 0 && s.success == "1") {
        EXPECT_EQ(failed.result, "0") << at << " " << name << ": a failed set reported as success";
      }
      ExpectUsable(at + " " + name);
    }
  }
}

TEST_F(SetFailureTest, ConnectStopsAtEverySet) {
  Disconnect();
  fake_rexx::sets.clear();
  ASSERT_TRUE(Connect());
  const int total = static_cast<int>(fake_rexx::sets.size());
  ASSERT_GT(total, 0);
  for (int k = 0; k < total; ++k) {
    const std::string at = "KTConnect, set " + std::to_string(k);
    Disconnect();
    fake_rexx::sets.clear();
    fake_rexx::failingSet = k;
    const Answer failed = Call("KTConnect", {"ktdb", "secret", server_->Address(), "2"});
    fake_rexx::failingSet = -1;
    EXPECT_EQ(failed.code, 40u) << at;
    EXPECT_EQ(ktdb::PackageState, ktdb::State::kIdle) << at;
    // No connection may be left open that nothing reaches any more.
    EXPECT_EQ(ktdb::ConnectedFlag, 0) << at;
    EXPECT_EQ(ktdb::MainConnection, nullptr) << at;
    ASSERT_TRUE(Connect()) << at << ": the next KTConnect";
    ExpectUsable(at);
  }
}

TEST_F(SetFailureTest, ConnectResetStopsAtEverySet) {
  ASSERT_TRUE(Connect());
  fake_rexx::sets.clear();
  ASSERT_EQ(Call("KTConnectReset", {}).result, "1");
  const int total = static_cast<int>(fake_rexx::sets.size());
  for (int k = 0; k < total; ++k) {
    const std::string at = "KTConnectReset, set " + std::to_string(k);
    ASSERT_TRUE(Connect()) << at;
    fake_rexx::sets.clear();
    fake_rexx::failingSet = k;
    const Answer failed = Call("KTConnectReset", {});
    fake_rexx::failingSet = -1;
    EXPECT_TRUE(failed.code == 0 || failed.code == 40) << at;
    EXPECT_EQ(ktdb::PackageState, ktdb::State::kIdle) << at;
    Disconnect();
    ASSERT_TRUE(Connect()) << at << ": the next KTConnect";
    ExpectUsable(at);
  }
}

}  // namespace
}  // namespace harness
