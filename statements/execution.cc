// The execution steps: the statement in NameBuffer sent on MainConnection
// and its first result opened.
#include "statements/statements.h"

namespace ktdb {

bool SendStatement() {
  if (dbcmd(MainConnection, NameBuffer.data()) != SUCCEED) return false;
  if (dbsqlexec(MainConnection) == SUCCEED) return true;
  NoteSilentLoss(MainConnection);
  return false;
}

std::optional<std::int32_t> ExecuteStatement() {
  if (!SendStatement()) return std::nullopt;
  const RETCODE answer = dbresults(MainConnection);
  if (answer == FAIL) return std::nullopt;
  // Without any result FreeTDS still reports the column count of an earlier
  // result set; there are no columns.
  if (answer == NO_MORE_RESULTS) return 0;
  return dbnumcols(MainConnection);
}

}  // namespace ktdb
