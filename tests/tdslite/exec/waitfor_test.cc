// WAITFOR DELAY and WAITFOR TIME: how long the session waits, the time
// strings it refuses, and a cancel that ends the wait.
#include <atomic>
#include <chrono>

#include "session_fixture.h"
#include "tdslite/sql/values.h"

namespace tdslite {
namespace {

// Notes each wait as a line "pause <ms>" instead of sleeping, and answers
// `go_on` (false: the client cancelled during the wait).
class PauseRecorder : public RecordingSink {
 public:
  bool Pause(int64_t milliseconds) override {
    lines.push_back("pause " + std::to_string(milliseconds));
    waits.push_back(milliseconds);
    return go_on;
  }
  std::vector<int64_t> waits;
  bool go_on = true;
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += (out.empty() ? "" : "\n") + l;
  return out;
}

class WaitForTest : public SessionTest {
 protected:
  std::string Wait(std::string_view sql, bool go_on = true) {
    PauseRecorder sink;
    sink.go_on = go_on;
    session_->ExecuteBatch(sql, sink);
    return Joined(sink.lines);
  }
};

TEST_F(WaitForTest, DelaysAsLongAsTheTimeStringSays) {
  struct {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"waitfor delay '00:00:05'", "pause 5000\ndone 0"},
      {"waitfor delay '0:0:1.5'", "pause 1500\ndone 0"},
      {"waitfor delay '01:02:03:040'", "pause 3723040\ndone 0"},
      {"waitfor delay '23:59:59.997'", "pause 86399996\ndone 0"},
      {"waitfor delay '00:10'", "pause 600000\ndone 0"},
      {"waitfor delay '1:00 PM'", "pause 46800000\ndone 0"},
      {"waitfor delay N'00:00:02'", "pause 2000\ndone 0"},
      {"declare @d varchar(12) = '00:00:03'; waitfor delay @d", "pause 3000\ndone 0"},
      {"declare @d datetime = '00:00:04'; waitfor delay @d", "pause 4000\ndone 0"},
      // Statements around it run in order; the wait leaves @@error alone.
      {"select 1; waitfor delay '00:00:01'; select @@error",
       "cols :int!\nrow 1\ndone C1 count=1\npause 1000\ndone 0\ncols :int!\nrow 0\n"
       "done C1 count=1"},
      {"declare @i int = 0; while @i < 2 begin waitfor delay '00:00:00.100'; set @i += 1 end",
       "pause 100\ndone 0\npause 100\ndone 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Wait(c.sql), c.expected) << c.sql;
}

TEST_F(WaitForTest, RefusesWhatIsNoTimeOfDay) {
  const std::string tail = "' used with WAITFOR.";
  // A literal fails the batch before anything of it runs.
  for (const char* bad : {"24:00:00", "00:60:00", "00:00:60", "abc", "", " ", "5",
                          "2020-01-02 00:00:01", "1:00:00:1234", "-00:00:01", "00:00:01x"}) {
    const std::string sql = std::string("select 1 waitfor delay '") + bad + "'";
    EXPECT_EQ(Wait(sql), "msg 148/15/1: Incorrect time syntax in time string '" + std::string(bad) +
                             tail + "\ndone 0 error")
        << sql;
  }
  struct {
    const char* sql;
    const char* expected;
  } cases[] = {
      // A variable is read when the statement runs: what came before stays done.
      {"declare @d varchar(20) = '25:00'; select 1; waitfor delay @d; select 2",
       "cols :int!\nrow 1\ndone C1 count=1\nmsg 148/15/1: Incorrect time syntax in time string "
       "'25:00' used with WAITFOR.\ndone 0 error\ncols :int!\nrow 2\ndone C1 count=1"},
      {"declare @d varchar(20); waitfor delay @d",
       "msg 148/15/1: Incorrect time syntax in time string '' used with WAITFOR.\ndone 0 error"},
      {"declare @d datetime = '2001-01-01 00:00:01'; waitfor delay @d",
       "msg 148/15/1: Incorrect time syntax in time string '2001-01-01 00:00:01.000' used with "
       "WAITFOR.\ndone 0 error"},
      {"declare @d int = 5; waitfor delay @d",
       "msg 148/15/1: Incorrect time syntax in time string '5' used with WAITFOR.\ndone 0 error"},
      {"waitfor delay 5", "msg 102/15/1: Incorrect syntax near '5'.\ndone 0 error"},
      {"waitfor '00:00:01'", "msg 102/15/1: Incorrect syntax near '00:00:01'.\ndone 0 error"},
      {"waitfor delay '00:00:01' + '1'", "msg 102/15/1: Incorrect syntax near '+'.\ndone 0 error"},
  };
  for (const auto& c : cases) EXPECT_EQ(Wait(c.sql), c.expected) << c.sql;
}

TEST_F(WaitForTest, TimeWaitsUntilTheClockShowsIt) {
  // An hour from now (local time, as getdate()).
  const int64_t now = sql::CurrentDateTime() % sql::kTicksPerDay;
  const int64_t at = (now + 3600 * 300) % sql::kTicksPerDay;
  const int64_t seconds = at / 300;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  PauseRecorder sink;
  session_->ExecuteBatch(std::string("waitfor time '") + text + "'", sink);
  ASSERT_EQ(sink.waits.size(), 1u) << Joined(sink.lines);
  // Within the second the string drops and a few seconds of a slow run.
  EXPECT_GT(sink.waits[0], 3600000 - 5000);
  EXPECT_LE(sink.waits[0], 3600000);
}

TEST_F(WaitForTest, ACancelDuringTheWaitEndsTheBatch) {
  ASSERT_EQ(Run("create table w (a int)"), "done C6");
  // Nothing after the wait runs, and no DONE follows: the protocol layer
  // answers the attention.
  EXPECT_EQ(Wait("waitfor delay '00:00:30'; insert into w values (1)", false), "pause 30000");
  EXPECT_EQ(Wait("while 1 = 1 waitfor delay '00:00:01'", false), "pause 1000");
  EXPECT_EQ(Run("select count(*) from w"), "cols :int!\nrow 0\ndone C1 count=1");
}

// The sink's own wait: it sleeps, and looks for a cancel while it does.
class CancelAfter : public RecordingSink {
 public:
  explicit CancelAfter(int polls) : polls_(polls) {}
  bool Cancelled() override { return --polls_ < 0; }

 private:
  int polls_;
};

TEST_F(WaitForTest, TheSinksWaitSleepsAndStopsOnACancel) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(Run("waitfor delay '00:00:00.200'"), "done 0");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));
  // Thirty seconds asked; the cancel a few looks later ends it (the test's
  // time limit catches a wait that runs on).
  CancelAfter sink(5);
  session_->ExecuteBatch("waitfor delay '00:00:30'", sink);
  EXPECT_TRUE(sink.lines.empty()) << Joined(sink.lines);
}

// A query that computes long before its first row (here 10^9 rows to count)
// is stopped by a cancel that arrives meanwhile; the session serves the next
// batch. Without the look from inside the computation this runs into the
// test's time limit.
TEST_F(WaitForTest, ACancelStopsAQueryThatSendsNoRows) {
  ASSERT_EQ(Run("create table d (x int) insert d values (0), (1), (2), (3), (4), (5), (6), (7), "
                "(8), (9)"),
            "done C6\ndone C3 count=10");
  CancelAfter sink(3);
  session_->ExecuteBatch(
      "select count(*) from d a, d b, d c, d e, d f, d g, d h, d i, d j select 'not run'", sink);
  EXPECT_EQ(Joined(sink.lines), "cols :int!");
  EXPECT_EQ(Run("select count(*) from d a, d b"), "cols :int!\nrow 100\ndone C1 count=1");
}

}  // namespace
}  // namespace tdslite
