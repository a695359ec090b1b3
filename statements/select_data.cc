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

  // The tails: "0.0" the columns, "i.j" the values, "0" the rows.
  std::int32_t columns = 0;
  const auto start = [&columns](StemName& names, std::int32_t count) {
    columns = count;
    if (!SetStemNumber(names, MakeTail(0, 0), columns)) return false;
    FillColumnFormats(columns);
    return true;
  };
  const auto row = [&columns, &call](StemName& names, std::int32_t n) {
    for (std::int32_t j = 1; j <= columns; ++j) {
      const std::string_view value = ValueText(MainConnection, j, ColumnFormats[j], call->nullText);
      if (!SetStemText(names, MakeTail(n, j), value)) return false;
    }
    return true;
  };
  return RunRowCall(*call, result, start, row);
}

}  // namespace ktdb
