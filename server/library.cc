// DB-Library initialisation, the installation of the package's handlers, and
// the statement preamble.
#include <cassert>

#include <syberror.h>

#include "server/server.h"

namespace ktdb {

void InstallHandlers() {
  dbmsghandle(MessageHandler);
  dberrhandle(ErrorHandler);
}

bool EnsureLibrary() {
  if (!LibraryInitialised) {
    if (dbinit() != SUCCEED) return false;
    LibraryInitialised = true;
  }
  InstallHandlers();
  return true;
}

void StatementPreamble() {
  // Only a connected call reaches a statement.
  assert(ConnectedFlag == 1);
  // While connected the library is initialised: this only installs the
  // handlers.
  EnsureLibrary();
  if (MainConnection != nullptr) {
    // On a dead connection dbcancel fails through ErrorHandler; ResetErrors
    // below clears that, and the call's own work meets the same error again.
    dbcancel(MainConnection);
    // FreeTDS's dbcancel leaves text that was appended but never sent in the
    // command buffer, where the next dbcmd would append to it.
    dbfreebuf(MainConnection);
  }
  ResetErrors();
}

void NoteSilentLoss(DBPROCESS* dbproc) {
  if (dbproc == nullptr || !dbdead(dbproc) || CapturedErrors.dbErr != 0) return;
  static char deadText[] = "DBPROCESS is dead or not enabled";
  ErrorHandler(dbproc, EXCOMM, SYBEDDNE, 0, deadText, nullptr);
}

}  // namespace ktdb
