// KTSelectCols(statement, stem): the columns of a statement's first result
// set described in stem variables.
//
// Writes stem||j for each column j, one line of label, type name and width
// ("NAME CHAR 20", "PRICE DECIMAL 4.2", an unnamed third column "3 INT 11"),
// and stem||"0" (the column count) last. No row is read. A statement the
// server rejects gives stem||"0" = 0 and the result "1"; its reason is in
// the KT.! variables.
#include <algorithm>

#include "statements/statements.h"

namespace ktdb {
namespace {

// The longest tail: the number of the last column a result set can have.
constexpr std::size_t kLongestTail = 4;
static_assert(kMaxColumns <= 9999, "a column number has at most four digits");

}  // namespace

APIRET SelectCols(const Arguments& args, Result& result) {
  const std::string_view statement = args.Text(1);
  const std::string_view stem = args.Text(2);
  if (!StatementArgumentFits(statement) || stem.size() + kLongestTail >= kStemBufferSize) {
    return LeaveCall(kIncorrectCall);
  }

  StatementPreamble();
  // Unlike the other statement functions, KTSelectCols takes a refused
  // statement argument for an incorrect call: nothing is published. A
  // variable without a statement answers "0" with its reason, as elsewhere.
  const TakenStatement taken = TakeStatement(statement);
  if (taken.outcome == StatementTaken::kRefused) return LeaveCall(kIncorrectCall);
  if (taken.outcome == StatementTaken::kNotSet) {
    result.SetNumber(0);
    return PublishAndLeave();
  }
  StemName names(StemBuffer);
  names.SetStem(stem);  // fits with its longest tail: checked above

  std::int32_t columns = 0;
  if (const std::optional<std::int32_t> answer = ExecuteStatement()) {
    columns = std::clamp<std::int32_t>(*answer, 0, kMaxColumns);
  }
  LineWriter line(ValueBuffer, kLineLimit);
  for (std::int32_t j = 1; j <= columns; ++j) {
    // The label lives in ColumnLabel, which reading the shape leaves alone.
    const std::string_view label = ColumnLabelOf(MainConnection, j, false);
    const ColumnShape shape = ReadColumnShape(MainConnection, j);
    // FreeTDS answers "" (never null) for a token it does not know.
    const char* typeName = dbprtype(shape.token);
    const bool withScale = shape.token == SYBDECIMAL || shape.token == SYBNUMERIC;
    // A label of at most 512 bytes and a type name always fit the line.
    if (!DescribeColumn(line, label, typeName != nullptr ? typeName : "", ReportWidth(shape),
                        withScale) ||
        !SetStemText(names, MakeTail(j), line.Finish())) {
      return LeaveCall(kIncorrectCall);
    }
  }
  if (!SetStemNumber(names, MakeTail(0), columns)) return LeaveCall(kIncorrectCall);
  result.SetNumber(1);
  return PublishAndLeave();
}

}  // namespace ktdb
