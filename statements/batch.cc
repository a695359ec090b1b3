// KTBatch(statement stem, result stem): the statements stem.1 to stem.n
// (n = stem.0) sent as one batch, every result set reported.
//
// For the result stem R and result set n: R||n.0.0 holds its column count
// ("0" until a row was read), R||n.r.j the values of row r ("(null)" for
// NULL), R||n.0 dbcount after its rows, R||n.!MSGNO, R||n.!SEVERITY and
// R||n.!MSGTEXT the server's error for the set (0, 0 and empty without one),
// R||n its status (1, or 0 when the statement failed), and R||0 the number
// of result sets.
#include <algorithm>
#include <cstring>

#include "statements/statements.h"

namespace ktdb {
namespace {

// The longest tails: one number behind the statement stem, three numbers
// and two periods behind the result stem.
constexpr std::size_t kLongestStatementTail = kDecimalTextSize - 1;
constexpr std::size_t kLongestResultTail = 3 * (kDecimalTextSize - 1) + 2;

// The stem rule of KTBatch: the text before the first blank, or the whole
// text, which must then end in a period. Upper-casing is the stem name
// rule's.
std::optional<std::string_view> BatchStem(std::string_view argument) {
  const std::size_t blank = argument.find(' ');
  if (blank != std::string_view::npos) return argument.substr(0, blank);
  if (argument.back() != '.') return std::nullopt;
  return argument;
}

// The most bytes of statement text one batch may hold: SQL Server's limit,
// 65,536 network packets of the default 4,096 bytes.
constexpr std::uint64_t kMaxBatchBytes = std::uint64_t{65536} * 4096;

// Fetches statement stem||i into ValueBuffer. Answers its length, or nothing
// when the variable cannot be read, is unset or empty, or holds a NUL byte
// (dbcmd would cut the statement there); the last three are noted in the KT.!
// texts.
std::optional<std::size_t> FetchStatement(StemName& statements, std::int32_t i) {
  if (!statements.SetSuffix(MakeTail(i).View())) return std::nullopt;
  bool unset = false;
  bool cut = false;
  const std::optional<std::size_t> length = FetchVariable(statements.Name(), &unset, &cut);
  if (!length) return std::nullopt;
  if (cut) {
    NoteStatementTooLong(statements.Name());
    return std::nullopt;
  }
  if (unset || *length == 0) {
    NoteNoStatement(statements.Name(), unset);
    return std::nullopt;
  }
  if (std::memchr(ValueBuffer.data(), '\0', *length) != nullptr) {
    NotePackageError(kNoStatementError, {"The statement variable ", statements.Name(),
                                         " holds a NUL character: nothing was sent"});
    return std::nullopt;
  }
  return length;
}

// Checks that the statements 1 to `count` can all be read and that together
// they stay within kMaxBatchBytes, before anything is appended: a batch that
// cannot be sent whole costs no more than this pass. The pass ends at the
// first statement that fails.
bool CheckStatements(StemName& statements, std::int32_t count) {
  std::uint64_t total = 0;
  for (std::int32_t i = 1; i <= count; ++i) {
    const std::optional<std::size_t> length = FetchStatement(statements, i);
    if (!length) return false;
    total += *length + 1;
    if (total > kMaxBatchBytes) {
      NotePackageError(kValueCutError,
                       {"The statements of ",
                        statements.Name().substr(0, statements.Name().size() - MakeTail(i).length),
                        " make a batch longer than 268435456 bytes: nothing was sent"});
      return false;
    }
  }
  return true;
}

// Fetches statement stem||i, checked before, and appends it with one blank
// behind it to the command buffer.
bool AppendStatement(StemName& statements, std::int32_t i) {
  const std::optional<std::size_t> length = FetchStatement(statements, i);
  if (!length) return false;
  // A fetch delivers at most kFetchLimit bytes: the blank and the terminator
  // always fit behind it.
  ValueBuffer[*length] = ' ';
  ValueBuffer[*length + 1] = '\0';
  // A connection that died fails dbcmd; dbsqlexec then reports the loss.
  dbcmd(MainConnection, ValueBuffer.data());
  return true;
}

// The severity of SQL Server's syntax errors: a batch failed with one was
// rejected as a whole, before any statement of it ran.
constexpr std::int32_t kSyntaxErrorSeverity = 15;

// Sets R n.!MSGNO, R n.!SEVERITY and R n.!MSGTEXT from the error of set n.
bool ReportSetMessage(StemName& results, std::int32_t n, const SetMessageRecord& message) {
  const auto set = [&](std::string_view word, std::string_view value) {
    Tail tail = MakeTail(n);
    // A number of at most 11 characters and the longest word fit the tail.
    std::copy(word.begin(), word.end(), tail.text.begin() + tail.length);
    tail.length += word.size();
    return SetStemText(results, tail, value);
  };
  return set(".!MSGNO", Decimal(message.msgNo).View()) &&
         set(".!SEVERITY", Decimal(message.severity).View()) &&
         set(".!MSGTEXT", std::string_view(message.text.data()));
}

// Whether a set failed: DB-Library said so, or the server reported an error
// for it (a select whose rows end in an error succeeds in dbresults).
bool SetFailed(RETCODE status, const SetMessageRecord& message) {
  return status != SUCCEED || message.msgNo != 0 || message.severity != 0;
}

// Reports the result the batch stands at as set n, whose dbresults answered
// `status`: its rows, dbcount, message and status. Answers false when a
// variable cannot be set; `broken` tells whether reading the rows failed.
bool ReportResultSet(StemName& results, std::int32_t n, RETCODE status, bool& broken) {
  if (!SetStemNumber(results, MakeTail(n, 0, 0), 0)) return false;
  std::int32_t columns = 0;
  std::int32_t r = 0;
  STATUS answer = NO_MORE_ROWS;
  while (!StopForInterrupt(MainConnection) && !EndOfRows(answer = dbnextrow(MainConnection))) {
    ++r;
    if (r == 1) {
      // The columns of a set do not change from row to row.
      columns = std::min<std::int32_t>(dbnumcols(MainConnection), kMaxColumns);
      if (!SetStemNumber(results, MakeTail(n, 0, 0), columns)) return false;
      FillColumnFormats(columns);
    }
    for (std::int32_t j = 1; j <= columns; ++j) {
      const std::string_view value = ValueText(MainConnection, j, ColumnFormats[j], kBatchNullText);
      if (!SetStemText(results, MakeTail(n, r, j), value)) return false;
    }
  }
  // An interrupt (Ctrl-C) cut the set short too, and ends the batch.
  broken = answer == FAIL || Interrupted != 0;
  // A connection that broke while rows were read is reported even when
  // DB-Library said nothing (a TLS record that failed its check), and the
  // set it cut short is not a success.
  if (broken) NoteSilentLoss(MainConnection);
  return SetStemNumber(results, MakeTail(n, 0), dbcount(MainConnection)) &&
         ReportSetMessage(results, n, SetMessage) &&
         SetStemNumber(results, MakeTail(n), broken || SetFailed(status, SetMessage) ? 0 : 1);
}

// Sends the batch and reports its result sets. Answers the number of sets,
// or nothing when a variable cannot be set. The messages the server sends
// for a set arrive during the dbresults that opens it (for the first set,
// during dbsqlexec) and while its rows are read.
std::optional<std::int32_t> RunBatch(StemName& results) {
  std::int32_t n = 0;
  RETCODE status;
  ResetSetMessage();
  if (dbsqlexec(MainConnection) == SUCCEED) {
    status = dbresults(MainConnection);
  } else {
    // dbsqlexec fails when the first statement fails, and when the server
    // rejected the batch as a whole (a syntax error: nothing ran). Only the
    // latter reports no set. A failed first statement is a set of its own,
    // in front of whatever the server ran after it.
    if (dbdead(MainConnection)) {
      NoteSilentLoss(MainConnection);
      return n;
    }
    const SetMessageRecord first = SetMessage;
    ResetSetMessage();
    status = dbresults(MainConnection);
    if (status == NO_MORE_RESULTS && first.severity == kSyntaxErrorSeverity) return n;
    ++n;
    if (!SetStemNumber(results, MakeTail(n, 0, 0), 0) ||
        !SetStemNumber(results, MakeTail(n, 0), -1) || !ReportSetMessage(results, n, first) ||
        !SetStemNumber(results, MakeTail(n), 0)) {
      return std::nullopt;
    }
  }
  while (status != NO_MORE_RESULTS) {
    ++n;
    bool broken = false;
    if (!ReportResultSet(results, n, status, broken)) return std::nullopt;
    // A failed set is followed by the rest of the batch, unless the
    // connection broke: then every further dbresults would fail too.
    if (broken || (status == FAIL && dbdead(MainConnection))) break;
    ResetSetMessage();
    status = dbresults(MainConnection);
  }
  return n;
}

}  // namespace

APIRET Batch(const Arguments& args, Result& result) {
  const std::optional<std::string_view> statementStem = BatchStem(args.Text(1));
  const std::optional<std::string_view> resultStem = BatchStem(args.Text(2));
  if (!statementStem || !resultStem ||
      statementStem->size() + kLongestStatementTail >= kNameBufferSize ||
      resultStem->size() + kLongestResultTail >= kRowStemBufferSize) {
    return LeaveCall(kIncorrectCall);
  }
  result.SetNumber(0);

  // The count comes first: a call that cannot read it publishes what the
  // error capture held before.
  StemName statements(NameBuffer);
  statements.SetStem(*statementStem);
  std::int32_t count = 0;
  if (!statements.SetSuffix("0")) return PublishAndLeave();
  const std::optional<std::size_t> length = FetchVariable(statements.Name());
  if (!length || *length == 0 ||
      !ParseDecimal(std::string_view(ValueBuffer.data(), *length), count) || count < 0) {
    return PublishAndLeave();
  }

  StatementPreamble();
  StemName results(RowStemBuffer);
  results.SetStem(*resultStem);
  // A statement variable that is unset or empty stops the call before any
  // statement is appended.
  if (!CheckStatements(statements, count)) return PublishAndLeave();
  for (std::int32_t i = 1; i <= count; ++i) {
    if (!AppendStatement(statements, i)) {
      // Nothing of the batch is sent.
      dbfreebuf(MainConnection);
      return PublishAndLeave();
    }
  }
  std::int32_t sets = 0;
  if (count > 0) {
    const std::optional<std::int32_t> reported = RunBatch(results);
    if (!reported) return PublishAndLeave();
    sets = *reported;
  }
  if (SetStemNumber(results, MakeTail(0), sets)) result.SetNumber(1);
  return PublishAndLeave();
}

}  // namespace ktdb
