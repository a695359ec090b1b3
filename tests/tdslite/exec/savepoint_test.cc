// SAVE TRANSACTION and ROLLBACK TRANSACTION to a savepoint.
#include "session_fixture.h"

namespace tdslite {
namespace {

TEST_F(SessionTest, SavepointsRollBackPartOfATransaction) {
  ASSERT_EQ(Run("create table sv (n int)"), "done C6");
  Check({
      {"save tran s0",
       "msg 628/16/1: Cannot issue SAVE TRANSACTION when there is no active transaction.\n"
       "done D4 error"},
      // Rolling back to a savepoint keeps the transaction, its count and the
      // savepoint itself; the savepoints made after it are gone.
      {"begin tran insert sv values (1) save tran a insert sv values (2) save tran b"
       " insert sv values (3) rollback tran a select @@trancount, count(*) from sv",
       "xact begin nonzero\ndone D4\ndone C3 count=1\ndone D4\ndone C3 count=1\ndone D4\n"
       "done C3 count=1\ndone D2\ncols :int! :int!\nrow 1|1\ndone C1 count=1"},
      // Neither a savepoint nor the transaction's name: the transaction stays.
      {"insert sv values (4) rollback tran b select count(*) from sv",
       "done C3 count=1\nmsg 6401/16/1: Cannot roll back b. No transaction or savepoint of that "
       "name was found.\ndone D2 error\ncols :int!\nrow 2\ndone C1 count=1"},
      {"rollback", "xact rollback zero\ndone D2"},
      {"begin tran outer_t save tran s insert sv values (9) rollback tran outer_t"
       " select @@trancount",
       "xact begin nonzero\ndone D4\ndone D4\ndone C3 count=1\nxact rollback zero\ndone D2\n"
       "cols :int!\nrow 0\ndone C1 count=1"},
      // Names are case-sensitive; the most recent of a repeated name is used.
      {"begin tran save tran x insert sv values (5) save tran x insert sv values (6)"
       " rollback tran x commit select n from sv",
       "xact begin nonzero\ndone D4\ndone D4\ndone C3 count=1\ndone D4\ndone C3 count=1\n"
       "done D2\nxact commit zero\ndone D5\ncols n:int\nrow 5\ndone C1 count=1"},
      // A savepoint of an earlier transaction is not one of this one.
      {"begin tran insert sv values (7) rollback tran x select count(*) from sv",
       "xact begin nonzero\ndone D4\ndone C3 count=1\nmsg 6401/16/1: Cannot roll back x. No "
       "transaction or savepoint of that name was found.\ndone D2 error\ncols :int!\nrow 2\n"
       "done C1 count=1"},
      {"rollback", "xact rollback zero\ndone D2"},
  });
}

}  // namespace
}  // namespace tdslite
