// The process-wide state of the statement functions (declared, with its
// writers, in statements.h).
#include "statements/statements.h"

namespace ktdb {

std::array<char, kNullSubstituteSize> NullSubstitute = {};
std::array<ColumnFormat, kMaxColumns + 1> ColumnFormats = {};
std::array<char, kValueTextBufferSize> ValueTextBuffer = {};
DBCOL ColumnInfo = {};

}  // namespace ktdb
