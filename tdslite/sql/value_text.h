// A value of a result row as text: the character form a client gets when it
// asks for text.
#pragma once

#include <string>

#include "tdslite/common/types.h"

namespace tdslite::sql {

// Numbers in full (money with four decimals, float to 15 digits), datetime
// in the ODBC canonical form (smalldatetime to the second), the other date
// and time types and character data as stored, uniqueidentifier as its text,
// binary data as upper-case hex digits without 0x. NULL is the empty string.
std::string ValueAsText(const ColumnDesc& column, const Value& value);

}  // namespace tdslite::sql
