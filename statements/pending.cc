// The statement functions whose own work is not built yet: each answers as a
// refused call would and changes nothing.
#include "statements/statements.h"

namespace ktdb {

APIRET SelectCols(const Arguments&, Result& result) {
  return NotYetAvailable(result, Refusal::kZero);
}
APIRET SelectForm(const Arguments&, Result& result) {
  return NotYetAvailable(result, Refusal::kZero);
}
APIRET CurTimeStamp(const Arguments&, Result& result) {
  return NotYetAvailable(result, Refusal::kEmpty);
}

}  // namespace ktdb
