// KTConnect and KTConnectReset.
//
// Opening connections is not built yet. Until it is, a KTConnect that passes
// its argument check opens nothing and answers "0" (no connection), exactly as
// a failed login would, so ConnectedFlag stays 0 and every function that needs
// a connection keeps refusing. KTConnectReset is admitted only while
// connected, which cannot happen yet.
#include "server/server.h"

namespace ktdb {

APIRET Connect(const Arguments& /*args*/, Result& result) {
  return NotYetAvailable(result, Refusal::kZero);
}

APIRET ConnectReset(const Arguments& /*args*/, Result& result) {
  return NotYetAvailable(result, Refusal::kZero);
}

}  // namespace ktdb
