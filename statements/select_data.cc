// KTSelectData(statement, stem, [maximum rows], [NULL text]): the first
// result set of a statement into stem variables, one per value.
//
// Writes stem||"0.0" (the column count), stem||"i.j" for each value of each
// stored row, and stem||"0" (the rows stored) last. A statement the server
// rejects stores no rows and answers "1"; its reason is in the KT.!
// variables.
#include <algorithm>

#include "statements/statements.h"

namespace ktdb {
namespace {

// The longest tail of KTSelectData: two 32-bit numbers and a period.
constexpr std::size_t kLongestTail = 2 * (kDecimalTextSize - 1) + 1;

}  // namespace

APIRET SelectData(const Arguments& args, Result& result) {
  const std::optional<RowCall> call = TakeRowCall(args, kLongestTail);
  if (!call) return LeaveCall(kIncorrectCall);
  const auto [statement, stem, maximumRows, nullText] = *call;

  StatementPreamble();
  result.SetNumber(0);
  if (TakeStatement(statement).outcome != StatementTaken::kTaken) return PublishAndLeave();
  StemName names(RowStemBuffer);
  names.SetStem(stem);  // fits with its longest tail: checked above

  std::int32_t stored = 0;
  if (const std::optional<std::int32_t> answer = ExecuteStatement()) {
    // SQL Server sends at most kMaxColumns columns.
    const std::int32_t columns = std::min<std::int32_t>(*answer, kMaxColumns);
    if (!SetStemNumber(names, MakeTail(0, 0), columns)) return PublishAndLeave();
    FillColumnFormats(columns);
    STATUS rowAnswer = REG_ROW;
    while (stored < maximumRows && !StopForInterrupt(MainConnection) &&
           !EndOfRows(rowAnswer = dbnextrow(MainConnection))) {
      ++stored;
      for (std::int32_t j = 1; j <= columns; ++j) {
        const std::string_view value = ValueText(MainConnection, j, ColumnFormats[j], nullText);
        if (!SetStemText(names, MakeTail(stored, j), value)) return PublishAndLeave();
      }
    }
    // A connection that broke while rows were read is reported even when
    // DB-Library said nothing (a TLS record that failed its check).
    if (rowAnswer == FAIL) NoteSilentLoss(MainConnection);
  }
  if (SetStemNumber(names, MakeTail(0), stored)) result.SetNumber(1);
  return PublishAndLeave();
}

}  // namespace ktdb
