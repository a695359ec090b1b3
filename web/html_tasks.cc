// KTHTML: the server's web task procedures.
//
// Not built yet: it needs a connection, which cannot be opened yet, so its
// entry guard refuses every call. Should a call get past the argument check,
// it answers "0" and changes nothing.
#include "web/web.h"

namespace ktdb {

APIRET Html(const Arguments& /*args*/, Result& result) {
  return NotYetAvailable(result, Refusal::kZero);
}

}  // namespace ktdb
