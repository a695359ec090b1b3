// Column labels and the one-line column descriptions of KTSelectCols.
#include "statements/statements.h"

namespace ktdb {

std::array<char, kColumnLabelSize> ColumnLabel = {};

std::string_view FormColumnLabel(const char* name, std::int32_t column, bool upperCase) {
  std::size_t length = 0;
  if (name != nullptr && name[0] != '\0') {
    // ColumnLabel is as large as the name field DB-Library fills: a name is
    // never cut.
    length = CopyCut(ColumnLabel, name);
    if (upperCase) {
      for (std::size_t i = 0; i < length; ++i) ColumnLabel[i] = UpperAscii(ColumnLabel[i]);
    }
  } else {
    // An expression without a name is labelled by its position.
    const DecimalText number = Decimal(column);
    CopyBounded(ColumnLabel, number.View());
    length = number.length;
  }
  return {ColumnLabel.data(), length};
}

std::string_view ColumnLabelOf(DBPROCESS* dbproc, int column, bool upperCase) {
  // A dbcolinfo that fails must not leave the previous column's name behind.
  ColumnInfo.Name[0] = '\0';
  ColumnInfo.SizeOfStruct = sizeof(DBCOL);
  dbcolinfo(dbproc, CI_REGULAR, column, 0, &ColumnInfo);
  ColumnInfo.Name[sizeof ColumnInfo.Name - 1] = '\0';
  return FormColumnLabel(ColumnInfo.Name, column, upperCase);
}

bool DescribeColumn(LineWriter& line, std::string_view label, std::string_view typeName,
                    const ReportedWidth& width, bool withScale) {
  line.Clear();
  line.Append(label);
  line.Append(" ");
  line.Append(typeName);
  line.Append(" ");
  line.Append(Decimal(width.width).View());
  if (withScale) {
    line.Append(".");
    line.Append(Decimal(width.scale).View());
  }
  if (line.Overflowed()) return false;
  line.UpperCase();
  return true;
}

}  // namespace ktdb
