// Sessions side by side, streaming and cancellation.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "session_fixture.h"

namespace tdslite {
namespace {

// A sink whose client reads the first row and then stalls until released.
class StallingSink : public RecordingSink {
 public:
  bool Row(std::span<const Value> values) override {
    RecordingSink::Row(values);
    std::unique_lock<std::mutex> lock(mutex);
    stalled = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
    return true;
  }
  std::mutex mutex;
  std::condition_variable changed;
  bool stalled = false;
  bool released = false;
};

TEST_F(SessionTest, UnreadResultDoesNotBlockOtherSessions) {
  ASSERT_EQ(Run("create table t (a int) insert into t values (1), (2), (3)"),
            "done C6\ndone C3 count=3");
  auto other = NewSession(52);
  ASSERT_TRUE(other);
  StallingSink reader;
  std::thread t([&] { session_->ExecuteBatch("select a from t order by a", reader); });
  {
    std::unique_lock<std::mutex> lock(reader.mutex);
    reader.changed.wait(lock, [&] { return reader.stalled; });
  }
  // The other session updates the very table being read, and sees its change
  // (were it blocked, it would fail when SQLite's busy timeout ends, or hang
  // until ctest's timeout).
  EXPECT_EQ(RunBatch(*other, "update t set a = a * 10 insert into t values (4)"),
            "done C5 count=3\ndone C3 count=1");
  EXPECT_EQ(RunBatch(*other, "select sum(a) from t"), "cols :int\nrow 64\ndone C1 count=1");
  {
    std::lock_guard<std::mutex> lock(reader.mutex);
    reader.released = true;
    reader.changed.notify_all();
  }
  t.join();
  // The reader saw a consistent snapshot from before the update.
  EXPECT_EQ(reader.lines.back(), "done C1 count=3");
  EXPECT_EQ(reader.lines[1], "row 1");
  EXPECT_EQ(reader.lines[3], "row 3");
}

// A transaction that read before another session committed still writes:
// SQLite would refuse its stale snapshot at once (1222), SQL Server waits
// for the lock. Its savepoints survive.
TEST_F(SessionTest, ATransactionThatReadFirstWritesAfterAnotherCommit) {
  ASSERT_EQ(Run("create table t (a int) insert into t values (1)"), "done C6\ndone C3 count=1");
  auto other = NewSession(52);
  ASSERT_TRUE(other);
  ASSERT_EQ(Run("begin tran save tran s1 select count(*) from t"),
            "xact begin nonzero\ndone D4\ndone D4\ncols :int!\nrow 1\ndone C1 count=1");
  EXPECT_EQ(RunBatch(*other, "insert into t values (2)"), "done C3 count=1");
  EXPECT_EQ(Run("update t set a = a + 10 select sum(a) from t"),
            "done C5 count=2\ncols :int\nrow 23\ndone C1 count=1");
  EXPECT_EQ(Run("rollback tran s1 insert into t values (3) commit"),
            "done D2\ndone C3 count=1\nxact commit zero\ndone D5");
  EXPECT_EQ(RunBatch(*other, "select sum(a) from t"), "cols :int\nrow 6\ndone C1 count=1");
}

TEST_F(SessionTest, CatalogChangesAreSeenByOtherSessions) {
  auto other = NewSession(52);
  ASSERT_TRUE(other);
  EXPECT_EQ(Run("create table shared (x varchar(3))"), "done C6");
  EXPECT_EQ(RunBatch(*other, "insert into shared values ('abc') select * from shared"),
            "done C3 count=1\ncols x:varchar(3)\nrow 'abc'\ndone C1 count=1");
  EXPECT_EQ(RunBatch(*other, "drop table shared"), "done C7");
  EXPECT_EQ(Run("select * from shared"),
            "msg 208/16/1: Invalid object name 'shared'.\ndone C1 error");
  // Uncommitted work is not visible to the other session.
  EXPECT_EQ(Run("create table u (a int) begin tran insert into u values (1)"),
            "done C6\nxact begin nonzero\ndone D4\ndone C3 count=1");
  EXPECT_EQ(RunBatch(*other, "select count(*) from u"), "cols :int!\nrow 0\ndone C1 count=1");
  EXPECT_EQ(Run("commit"), "xact commit zero\ndone D5");
  EXPECT_EQ(RunBatch(*other, "select count(*) from u"), "cols :int!\nrow 1\ndone C1 count=1");
}

TEST_F(SessionTest, RefusedRowStopsTheBatch) {
  ASSERT_EQ(Run("create table t (a int) insert into t values (1), (2), (3)"),
            "done C6\ndone C3 count=3");
  RecordingSink sink;
  sink.refuse_after_rows = 2;
  session_->ExecuteBatch("select a from t select 'never'", sink);
  EXPECT_EQ(sink.lines, (std::vector<std::string>{"cols a:int", "row 1", "row 2"}));
  RecordingSink cancelled;
  cancelled.cancel_after_rows = 1;
  session_->ExecuteBatch("select a from t select 'never'", cancelled);
  EXPECT_EQ(cancelled.lines, (std::vector<std::string>{"cols a:int", "row 1"}));
  // The session is usable afterwards.
  EXPECT_EQ(Run("select count(*) from t"), "cols :int!\nrow 3\ndone C1 count=1");
}

TEST_F(SessionTest, LargeResultStreams) {
  ASSERT_EQ(Run("create table big (a int, b varchar(20)) insert into big values (1, 'x')"),
            "done C6\ndone C3 count=1");
  for (int i = 0; i < 16; ++i) Run("insert into big select a + 1, b from big");
  RecordingSink sink;
  sink.refuse_after_rows = -1;
  session_->ExecuteBatch("select count(*), sum(cast(a as bigint)) from big", sink);
  ASSERT_EQ(sink.rows.size(), 1u);
  EXPECT_EQ(sink.rows[0][0].i, 65536);
  EXPECT_EQ(Run("select count(*) from big where b = 'X'"),
            "cols :int!\nrow 65536\ndone C1 count=1");
}

}  // namespace
}  // namespace tdslite
