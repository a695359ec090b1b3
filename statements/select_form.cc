// KTSelectForm(statement, stem, [maximum rows], [NULL text], [fill],
// [number]): the first result set of a statement as a text table, one
// stem variable per line.
//
// Writes stem||"0.0" (the heading line: each column's label filled up to its
// field width), stem||i for each stored row (each value in a field of fixed
// width, numbers right-aligned), and stem||"0" (the rows stored) last. Every
// field is followed by two blanks, the last one included. A statement the
// server rejects stores no lines and answers "1"; its reason is in the KT.!
// variables.
#include <algorithm>

#include "statements/statements.h"

namespace ktdb {

std::array<std::int32_t, kMaxColumns + 1> FieldWidths = {};

namespace {

// The longest tail: a 32-bit row number, or "0.0".
constexpr std::size_t kLongestTail = kDecimalTextSize - 1;

constexpr std::string_view kDefaultHeadingFill = "_";
// What the sixth argument stands for when it is absent or unreadable. It
// has no effect on the lines; it is accepted so that scripts passing it
// keep working.
constexpr std::int32_t kDefaultSixthArgument = 50;

// Records a text of the call's own in the KT.! error variables, under
// DB-Library's number for data that did not fit.
void NoteOverflow(std::string_view before, std::int32_t number, std::string_view after) {
  std::array<char, kErrorTextSize> text{};
  LineWriter out(text, text.size() - 1);
  out.Append(before);
  if (number >= 0) out.Append(Decimal(number).View());
  out.Append(after);
  out.Finish();
  CapturedErrors.dbErr = kValueCutError;
  CapturedErrors.osErr = 0;
  CopyCut(CapturedErrors.dbErrStr, text.data());
  CapturedErrors.osErrStr[0] = '\0';
  ++ErrorCount;
}

// Builds the heading line and fills FieldWidths and ColumnFormats. Answers
// false when the line does not fit.
bool BuildHeading(LineWriter& line, std::int32_t columns, std::string_view fill) {
  line.Clear();
  for (std::int32_t j = 1; j <= columns && !line.Overflowed(); ++j) {
    const std::string_view label = ColumnLabelOf(MainConnection, j, true);
    const ColumnShape shape = ReadColumnShape(MainConnection, j);
    FieldWidths[j] = DescribeWidth(shape);
    ColumnFormats[j] = FormatOf(shape);
    AppendHeadingField(line, label, FieldWidths[j], fill);
  }
  return !line.Overflowed();
}

// Builds the line of the current row. Answers false when it does not fit.
bool BuildRow(LineWriter& line, std::int32_t row, std::int32_t columns, std::string_view nullText) {
  line.Clear();
  for (std::int32_t j = 1; j <= columns && !line.Overflowed(); ++j) {
    const ColumnFormat& format = ColumnFormats[j];
    const BYTE* data = dbdata(MainConnection, j);
    if (data == nullptr) {
      // The NULL text stands at the start of the field, whatever the type.
      AppendValueField(line, nullText, FieldWidths[j], false);
      continue;
    }
    // The value is converted whole, then placed: its field is counted in
    // characters, its bytes may be more.
    const std::string_view value =
        ConvertValue(MainConnection, j, format, data, dbdatlen(MainConnection, j), {});
    if (!AppendValueField(line, value, FieldWidths[j], IsRightAligned(format.token))) {
      NoteOverflow("A value of row ", row, " is wider than its field: it was stored cut");
    }
  }
  return !line.Overflowed();
}

}  // namespace

APIRET SelectForm(const Arguments& args, Result& result) {
  const std::optional<RowCall> call = TakeRowCall(args, kLongestTail);
  if (!call) return LeaveCall(kIncorrectCall);
  // One whole character, so that a multi-byte fill keeps the heading aligned.
  const std::string_view fill =
      args.Present(5) ? FirstCharacter(args.Text(5)) : kDefaultHeadingFill;
  std::int32_t sixth = kDefaultSixthArgument;
  if (args.Present(6)) ParseDecimal(args.Text(6), sixth);
  (void)sixth;

  // Lines are built in ValueBuffer and never longer than kLineLimit bytes.
  // A longer line is not stored cut: the call stops and answers "0".
  LineWriter line(ValueBuffer, kLineLimit);
  std::int32_t columns = 0;
  const auto start = [&](StemName& names, std::int32_t count) {
    columns = count;
    if (!BuildHeading(line, columns, fill)) {
      NoteOverflow("The heading line is longer than 32765 bytes: no line was stored", -1, {});
      return false;
    }
    return SetStemText(names, MakeTail(0, 0), line.Finish());
  };
  const auto row = [&](StemName& names, std::int32_t n) {
    if (!BuildRow(line, n, columns, call->nullText)) {
      NoteOverflow("The line of row ", n,
                   " is longer than 32765 bytes: it and the rows after it were not stored");
      return false;
    }
    return SetStemText(names, MakeTail(n), line.Finish());
  };
  return RunRowCall(*call, result, start, row);
}

}  // namespace ktdb
