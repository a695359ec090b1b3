// The large-object functions whose own work is not built yet.
//
// Both need a connection, which cannot be opened yet, so their entry guards
// refuse every call. Should a call get past the argument check, it answers
// the empty string, as a refused call does, and changes nothing.
#include "lob/lob.h"

namespace ktdb {

APIRET Lob2File(const Arguments&, Result& result) {
  return NotYetAvailable(result, Refusal::kEmpty);
}
APIRET File2Lob(const Arguments&, Result& result) {
  return NotYetAvailable(result, Refusal::kEmpty);
}

}  // namespace ktdb
