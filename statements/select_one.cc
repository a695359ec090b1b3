// KTSelectOne(statement, [NULL text]): the first column of the first row as
// the REXX result.
//
// Every failure gives the empty result; the reason is in the KT.! variables.
// A value longer than 255 bytes is also stored in KT.!LONGRESULT, which every
// admitted call first empties.
#include "statements/statements.h"

namespace ktdb {
namespace {

constexpr std::string_view kLongResultName = "KT.!LONGRESULT";
// The interpreter's default result buffer holds 255 characters; a longer
// value also goes into KT.!LONGRESULT.
constexpr std::size_t kShortResultLength = 255;

}  // namespace

APIRET SelectOne(const Arguments& args, Result& result) {
  const std::string_view statement = args.Text(1);
  if (!StatementArgumentFits(statement)) return LeaveCall(kIncorrectCall);
  SetNullSubstitute(args.Text(2));

  StatementPreamble();
  if (!SetVariable(kLongResultName, {})) return PublishAndLeave();
  if (TakeStatement(statement).outcome != StatementTaken::kTaken || !SendStatement()) {
    return PublishAndLeave();
  }
  // A failed first statement still goes on: its row, if any, is read.
  if (dbresults(MainConnection) == NO_MORE_RESULTS) return PublishAndLeave();
  const STATUS row = dbnextrow(MainConnection);
  // A connection that broke before the row is reported even when DB-Library
  // said nothing (a TLS record that failed its check).
  if (row == FAIL) NoteSilentLoss(MainConnection);
  if (row == NO_MORE_ROWS || row == FAIL || row == BUF_FULL) return PublishAndLeave();
  if (dbnumcols(MainConnection) < 1) return PublishAndLeave();

  // The value is converted into room sized by the library's byte length, not
  // into the describe width, so that it is never cut to a width.
  const ColumnFormat format = FormatOf(ReadColumnShape(MainConnection, 1));
  const std::string_view text =
      ValueText(MainConnection, 1, format, std::string_view(NullSubstitute.data()));
  // The whole value, also when it does not fit the interpreter's buffer; if
  // even that allocation fails the result stays empty.
  result.SetAllocated(text);
  // A lookup usually has this one row. Reading on to its end while the
  // reply is at hand leaves the connection idle, so that the next call's
  // dbcancel need not interrupt the server and wait for its answer. Further
  // rows and result sets are still left to that dbcancel. The value text
  // lives in ValueTextBuffer, which dbnextrow does not touch.
  dbnextrow(MainConnection);
  // The pool's answer is not looked at: the result holds the value anyway.
  if (text.size() > kShortResultLength) SetVariable(kLongResultName, text);
  return PublishAndLeave();
}

}  // namespace ktdb
