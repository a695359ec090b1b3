// The statement functions whose own work is not built yet.
//
// They all need a connection, which cannot be opened yet, so their entry
// guards refuse every call. Should a call get past the argument check, it
// answers as a refused call would and changes nothing.
#include "statements/statements.h"

namespace ktdb {

APIRET SelectCols(const Arguments&, Result& result) {
  return NotYetAvailable(result, Refusal::kZero);
}
APIRET SelectData(const Arguments&, Result& result) {
  return NotYetAvailable(result, Refusal::kZero);
}
APIRET SelectForm(const Arguments&, Result& result) {
  return NotYetAvailable(result, Refusal::kZero);
}
APIRET SelectOne(const Arguments&, Result& result) {
  return NotYetAvailable(result, Refusal::kEmpty);
}
APIRET Batch(const Arguments&, Result& result) {
  return NotYetAvailable(result, Refusal::kZero);
}
APIRET CurTimeStamp(const Arguments&, Result& result) {
  return NotYetAvailable(result, Refusal::kEmpty);
}

}  // namespace ktdb
