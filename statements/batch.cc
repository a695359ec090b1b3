// KTBatch(statement stem, result stem): the statements stem.1 to stem.n
// (n = stem.0) sent as one batch, every result set reported.
//
// For the result stem R and result set n: R||n.0.0 holds its column count
// ("0" until a row was read), R||n.r.j the values of row r ("(null)" for
// NULL), R||n.0 dbcount after its rows, R||n its status (1 or 0), and R||0
// the number of result sets.
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

bool EndOfRows(STATUS answer) {
  return answer == NO_MORE_ROWS || answer == FAIL || answer == BUF_FULL;
}

// Fetches statement stem||i into ValueBuffer and appends it, with one blank
// behind it, to the command buffer. Answers false when the variable cannot
// be read, is empty or holds a NUL byte (dbcmd would cut the statement there).
bool AppendStatement(StemName& statements, std::int32_t i) {
  if (!statements.SetSuffix(MakeTail(i).View())) return false;
  const std::optional<std::size_t> length = FetchVariable(statements.Name());
  if (!length || *length == 0) return false;
  if (std::memchr(ValueBuffer.data(), '\0', *length) != nullptr) return false;
  // A fetch delivers at most kFetchLimit bytes: the blank and the terminator
  // always fit behind it.
  ValueBuffer[*length] = ' ';
  ValueBuffer[*length + 1] = '\0';
  dbcmd(MainConnection, ValueBuffer.data());
  return true;
}

// Reports the result the batch stands at as set n with the status `status`:
// its rows, dbcount and status. Answers false when a variable cannot be set;
// `broken` tells whether reading the rows failed.
bool ReportResultSet(StemName& results, std::int32_t n, RETCODE status, bool& broken) {
  if (!SetStemNumber(results, MakeTail(n, 0, 0), 0)) return false;
  std::int32_t columns = 0;
  std::int32_t r = 0;
  STATUS answer;
  while (!EndOfRows(answer = dbnextrow(MainConnection))) {
    ++r;
    if (r == 1) {
      // The columns of a set do not change from row to row.
      columns = std::min<std::int32_t>(dbnumcols(MainConnection), kMaxColumns);
      if (!SetStemNumber(results, MakeTail(n, 0, 0), columns)) return false;
      FillColumnWidths(columns);
    }
    for (std::int32_t j = 1; j <= columns; ++j) {
      const std::string_view value = ValueText(MainConnection, j, ColumnWidths[j], kBatchNullText);
      if (!SetStemText(results, MakeTail(n, r, j), value)) return false;
    }
  }
  broken = answer == FAIL;
  return SetStemNumber(results, MakeTail(n, 0), dbcount(MainConnection)) &&
         SetStemNumber(results, MakeTail(n), status == SUCCEED ? 1 : 0);
}

// Sends the batch and reports its result sets. Answers the number of sets,
// or nothing when a variable cannot be set.
std::optional<std::int32_t> RunBatch(StemName& results) {
  std::int32_t n = 0;
  RETCODE status;
  if (dbsqlexec(MainConnection) == SUCCEED) {
    status = dbresults(MainConnection);
  } else {
    // dbsqlexec fails when the first statement fails. A batch the server
    // rejected as a whole has nothing more to report; but when the server
    // went on with the later statements, their results are pending, and the
    // failed first statement is reported as a set of its own in front of
    // them so that no statement that ran goes unreported.
    if (dbdead(MainConnection)) {
      NoteSilentLoss(MainConnection);
      return n;
    }
    status = dbresults(MainConnection);
    if (status == NO_MORE_RESULTS) return n;
    ++n;
    if (!SetStemNumber(results, MakeTail(n, 0, 0), 0) ||
        !SetStemNumber(results, MakeTail(n, 0), -1) || !SetStemNumber(results, MakeTail(n), 0)) {
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
