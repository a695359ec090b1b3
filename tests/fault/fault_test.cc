// The package against a server whose traffic goes wrong mid-call: cut in
// either direction after a few bytes, a corrupted byte, a server that stops
// answering a login. Every call returns (0 or 40), the package is Idle, a cut
// is reported in KT.!, and after KTConnectReset and KTConnect the package
// works again.
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "fault_proxy.h"
#include "package_fixture.h"

namespace {

using harness::Answer;
using harness::Call;

struct Statement {
  const char* function;
  std::vector<std::string> args;
  bool publishes;  // sets the KT.! variables
};

class FaultTest : public harness::PackageTest {
 protected:
  static void SetUpTestSuite() {
    PackageTest::SetUpTestSuite();
    ASSERT_TRUE(server_->Started());
    proxy_ = std::make_unique<fault::FaultProxy>(server_->Port());
    ASSERT_NE(proxy_->Port(), 0);
    ASSERT_TRUE(ConnectThroughProxy());
    for (const char* sql : {"create table t (a int, b varchar(40))",
                            "insert into t values (1, 'one') insert into t values (2, NULL)",
                            "insert into t values (3, 'a somewhat longer text value')"}) {
      ASSERT_EQ(Call("KTSelectData", {sql, "r."}).result, "1") << sql;
    }
  }
  static void TearDownTestSuite() {
    Disconnect();
    proxy_.reset();
    PackageTest::TearDownTestSuite();
  }

  static bool ConnectThroughProxy() {
    proxy_->Arm({});
    return Connect("127.0.0.1:" + std::to_string(proxy_->Port()));
  }

  // KTConnectReset and KTConnect through a healthy proxy, then a statement.
  static void ExpectRecovers(const std::string& what) {
    EXPECT_EQ(ktdb::PackageState, ktdb::State::kIdle) << what;
    EXPECT_EQ(Call("KTConnectReset", {}).result, "1") << what;
    ASSERT_TRUE(ConnectThroughProxy()) << what << ": reconnect";
    EXPECT_EQ(Call("KTSelectOne", {"select 40 + 2"}).result, "42") << what << ": after reconnect";
  }

  static std::unique_ptr<fault::FaultProxy> proxy_;
};

std::unique_ptr<fault::FaultProxy> FaultTest::proxy_;

const std::vector<Statement>& Statements() {
  static const std::vector<Statement> statements = {
      {"KTSelectData", {"select a, b from t order by a", "r.", "10", "-"}, true},
      {"KTSelectOne", {"select b from t where a = 3"}, true},
      {"KTSelectCols", {"select a, b from t", "c."}, true},
      {"KTSelectForm", {"select a, b from t order by a", "f.", "10"}, true},
      {"KTBatch", {"c.", "res."}, true},
      {"KTCurTimeStamp", {}, false},
  };
  return statements;
}

void PutBatch() {
  fake_rexx::variables["C.0"] = "2";
  fake_rexx::variables["C.1"] = "select a, b from t order by a";
  fake_rexx::variables["C.2"] = "select count(*) from t";
}

TEST_F(FaultTest, CutInEitherDirectionIsReportedAndRecovered) {
  struct Point {
    fault::Direction direction;
    std::size_t at;
  };
  // 0: before the request leaves or the reply comes; 1 and 8: inside a
  // packet header; 9 and 20: inside the first token; 60: further in.
  const std::vector<Point> points = {
      {fault::Direction::kToServer, 0},  {fault::Direction::kToServer, 1},
      {fault::Direction::kToServer, 8},  {fault::Direction::kToServer, 20},
      {fault::Direction::kToClient, 0},  {fault::Direction::kToClient, 1},
      {fault::Direction::kToClient, 8},  {fault::Direction::kToClient, 9},
      {fault::Direction::kToClient, 20}, {fault::Direction::kToClient, 60},
  };
  for (const Statement& s : Statements()) {
    for (const Point& p : points) {
      const std::string what =
          std::string(s.function) + " cut " +
          (p.direction == fault::Direction::kToServer ? "to server" : "to client") + " at " +
          std::to_string(p.at);
      PutBatch();
      fake_rexx::variables["KT.!DBERR"] = "unset";
      const int before = proxy_->Triggered();
      proxy_->Arm({fault::Kind::kCut, p.direction, p.at});
      // A call that never returns is the test's time-out (ctest's TIMEOUT).
      const Answer answer = Call(s.function, s.args);
      EXPECT_TRUE(answer.code == 0 || answer.code == 40) << what;
      EXPECT_EQ(ktdb::PackageState, ktdb::State::kIdle) << what;
      if (proxy_->Triggered() != before && s.publishes) {
        // A cut before the reply is complete is a failure the script sees.
        EXPECT_NE(harness::Variable("KT.!DBERR"), "0")
            << what << ": code " << answer.code << ", result \"" << answer.result << "\", "
            << harness::Variable("KT.!DBERRSTR") << " / " << harness::Variable("KT.!MSGTEXT");
        EXPECT_NE(harness::Variable("KT.!DBERR"), "unset") << what;
      }
      ExpectRecovers(what);
    }
  }
}

TEST_F(FaultTest, CorruptedByteNeitherCrashesNorHangs) {
  for (const Statement& s : Statements()) {
    for (std::size_t at : {0u, 2u, 4u, 8u, 9u, 12u, 30u}) {
      for (fault::Direction d : {fault::Direction::kToServer, fault::Direction::kToClient}) {
        const std::string what = std::string(s.function) + " corrupt " +
                                 (d == fault::Direction::kToServer ? "to server" : "to client") +
                                 " at " + std::to_string(at);
        PutBatch();
        proxy_->Arm({fault::Kind::kCorrupt, d, at});
        const Answer answer = Call(s.function, s.args);
        EXPECT_TRUE(answer.code == 0 || answer.code == 40) << what;
        ExpectRecovers(what);
      }
    }
  }
}

TEST_F(FaultTest, ServerSilentAtLoginEndsWithTheLoginTimeOut) {
  Disconnect();
  for (std::size_t at : {0u, 8u, 30u}) {
    const std::string what = "stall at " + std::to_string(at);
    proxy_->Arm({fault::Kind::kStall, fault::Direction::kToClient, at});
    const Answer answer =
        Call("KTConnect", {"ktdb", "secret", "127.0.0.1:" + std::to_string(proxy_->Port()), "1"});
    EXPECT_EQ(answer.code, 0u) << what;
    EXPECT_EQ(answer.result, "0") << what;
    EXPECT_EQ(ktdb::ConnectedFlag, 0) << what;
    EXPECT_EQ(ktdb::PackageState, ktdb::State::kIdle) << what;
    EXPECT_NE(harness::Variable("KT.!DBERR"), "0") << what;
    Disconnect();
    ASSERT_TRUE(ConnectThroughProxy()) << what << ": reconnect";
    EXPECT_EQ(Call("KTSelectOne", {"select 1"}).result, "1") << what;
    Disconnect();
  }
  ASSERT_TRUE(ConnectThroughProxy());
}

// The server closes the connection between two calls: the next statement
// fails, and says so, rather than looking like one that found no rows.
TEST_F(FaultTest, ConnectionClosedBetweenCallsIsReported) {
  proxy_->CutAll();
  fake_rexx::variables["R.0"] = "unset";
  const Answer answer = Call("KTSelectData", {"select a from t", "r."});
  EXPECT_EQ(answer.code, 0u);
  EXPECT_EQ(answer.result, "1");
  EXPECT_EQ(harness::Variable("R.0"), "0");
  // Which error tells of the loss depends on when FreeTDS notices the close
  // (20017 unexpected EOF while sending, 20047 dead before it); what matters
  // is that one does.
  EXPECT_THAT(harness::Variable("KT.!DBERR"), ::testing::AnyOf("20017", "20047", "20004", "20006"));
  EXPECT_NE(harness::Variable("KT.!DBERRSTR"), "");
  ExpectRecovers("closed between calls");
}

TEST_F(FaultTest, ConnectionClosedBeforeALargeObjectCallIsReported) {
  proxy_->CutAll();
  const std::string file =
      ::testing::TempDir() + "ktdb_fault_lob." + std::to_string(getpid()) + ".bin";
  const Answer answer = Call("KTLOB2File", {file, "t", "b", "a = 1"});
  EXPECT_EQ(answer.code, 0u);
  EXPECT_EQ(answer.result, "0");
  EXPECT_THAT(harness::Variable("KT.!DBERR"), ::testing::AnyOf("20017", "20047", "20004", "20006"));
  ExpectRecovers("closed before KTLOB2File");
}

// Another connection changes a value while KTLOB2File reads it in pieces:
// the proxy holds the second piece's readtext until the change is made. The
// call fails, names the cause, and leaves the target file as it was; the
// same hold without a change lets the whole value through.
TEST_F(FaultTest, AValueChangedBetweenPiecesIsNotWritten) {
  const std::string dir = ::testing::TempDir();
  const std::string source = dir + "ktdb_fault_big.bin";
  const std::string target = dir + "ktdb_fault_big.out";
  // 1.5 MiB: the first piece holds half a MiB, the rest comes in the second.
  constexpr std::size_t kSize = 3 * 512 * 1024;
  std::string value(kSize, '\0');
  for (std::size_t i = 0; i < kSize; ++i) value[i] = static_cast<char>(i * 7 % 251);
  std::ofstream(source, std::ios::binary) << value;
  for (const char* sql :
       {"create table big (a int, b image)", "insert into big values (1, 0x00)"}) {
    ASSERT_EQ(Call("KTSelectData", {sql, "r."}).result, "1") << sql;
  }
  ASSERT_EQ(Call("KTFile2LOB", {source, "big", "b", "a = 1"}).result, "1");
  const auto contents = [&] {
    std::ifstream in(target, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::string readtext;
  for (const char c : std::string("readtext")) readtext += {c, '\0'};  // as the batch is sent

  for (const bool changed : {false, true}) {
    const std::string what = changed ? "changed" : "unchanged";
    std::ofstream(target, std::ios::binary) << "what the file held before";
    const int before = proxy_->Triggered();
    proxy_->Hold(fault::Direction::kToServer, readtext, 2);
    Answer answer;
    std::thread call([&] { answer = Call("KTLOB2File", {target, "big", "b", "a = 1"}); });
    // The test's time limit ends a hold that never comes.
    while (proxy_->Triggered() == before)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (changed) {
      // The same length, other bytes: only the text timestamp tells.
      const std::string update =
          "/usr/bin/python3 -c \"import pytds; c = pytds.connect(server='127.0.0.1', port=" +
          std::to_string(server_->Port()) +
          ", user='ktdb', password='secret', autocommit=True); c.cursor().execute('update big "
          "set b = 0x' + 'ab' * " +
          std::to_string(kSize) + " + ' where a = 1')\"";
      EXPECT_EQ(std::system(update.c_str()), 0) << what;
    }
    proxy_->Arm({});
    call.join();
    EXPECT_EQ(answer.code, 0u) << what;
    if (changed) {
      EXPECT_EQ(answer.result, "0") << what;
      EXPECT_THAT(harness::Variable("KT.!DBERRSTR"), ::testing::HasSubstr("changed")) << what;
      EXPECT_TRUE(contents() == "what the file held before") << what << ": the target as it was";
    } else {
      EXPECT_EQ(answer.result, "1") << what;
      EXPECT_TRUE(contents() == value) << what << ": the whole value";
    }
    EXPECT_EQ(ktdb::PackageState, ktdb::State::kIdle) << what;
    EXPECT_EQ(Call("KTSelectOne", {"select datalength(b) from big"}).result, std::to_string(kSize))
        << what;
  }
  EXPECT_EQ(Call("KTSelectData", {"drop table big", "r."}).result, "1");
  std::remove(source.c_str());
  std::remove(target.c_str());
}

// A freetds.conf section for the proxy with a query time-out of 2 seconds,
// in force (FREETDSCONF) while the object lives.
class SlowSection {
 public:
  // A file of this process's own: runs side by side (the plain and the
  // sanitizer build, other checkouts) must not remove each other's.
  explicit SlowSection(int port)
      : path_(::testing::TempDir() + "ktdb_fault_freetds." + std::to_string(getpid()) + ".conf") {
    std::ofstream out(path_);
    out << "[slowproxy]\n  host = 127.0.0.1\n  port = " << port << "\n  timeout = 2\n";
    out.close();
    setenv("FREETDSCONF", path_.c_str(), 1);
  }
  ~SlowSection() {
    unsetenv("FREETDSCONF");
    std::remove(path_.c_str());
  }

 private:
  std::string path_;
};

// A server that stops answering in the middle of a statement: with a
// time-out of 2 seconds the call returns with 20003. When the traffic flows
// again (here half a second after the time-out) the cancel is answered and
// the same connection serves the next call; when it never does, the call
// gives the connection up after the cancel went unanswered, and
// KTConnectReset and KTConnect recover.
TEST_F(FaultTest, AStalledStatementTimesOutAndTheConnectionRecovers) {
  Disconnect();
  const SlowSection section(proxy_->Port());
  proxy_->Arm({});
  ASSERT_EQ(Call("KTConnect", {"ktdb", "secret", "slowproxy", "2"}).result, "1");
  ASSERT_EQ(Call("KTSelectOne", {"select 41"}).result, "41");

  for (const bool resumes : {true, false}) {
    const std::string what = resumes ? "resumed" : "stalled for good";
    proxy_->Arm({fault::Kind::kStall, fault::Direction::kToClient, 0});
    std::thread resume;
    if (resumes) {
      resume = std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        proxy_->Arm({});
      });
    }
    const auto started = std::chrono::steady_clock::now();
    const Answer answer = Call("KTSelectData", {"select a from t", "r."});
    const auto took = std::chrono::steady_clock::now() - started;
    if (resume.joinable()) resume.join();
    EXPECT_EQ(answer.code, 0u) << what;
    EXPECT_EQ(answer.result, "1") << what;
    EXPECT_EQ(harness::Variable("R.0"), "0") << what;
    EXPECT_EQ(harness::Variable("KT.!DBERR"), "20003") << what;
    EXPECT_GE(took, std::chrono::milliseconds(1500)) << what;
    EXPECT_EQ(ktdb::PackageState, ktdb::State::kIdle) << what;
    proxy_->Arm({});
    if (resumes) {
      EXPECT_EQ(Call("KTSelectOne", {"select 42"}).result, "42") << what << ": next call";
    } else {
      EXPECT_EQ(Call("KTConnectReset", {}).result, "1") << what;
      ASSERT_EQ(Call("KTConnect", {"ktdb", "secret", "slowproxy", "2"}).result, "1") << what;
      EXPECT_EQ(Call("KTSelectOne", {"select 43"}).result, "43") << what << ": after reconnect";
    }
  }
  Disconnect();
  ASSERT_TRUE(ConnectThroughProxy());
}

}  // namespace
