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

namespace {

// DB-Library's interrupt check: TRUE asks HandleInterrupt what to do. An
// interrupt asks for the statement to be cancelled once; a cancel the
// server has not answered within kCancelGrace asks again, which then ends
// the connection (ErrorHandler).
int CheckInterrupt(void* /*dbproc*/) {
  if (!CancelAsked) return Interrupted != 0 ? TRUE : FALSE;
  return std::chrono::steady_clock::now() - CancelAskedAt >= kCancelGrace ? TRUE : FALSE;
}

// INT_CANCEL ends DB-Library's wait as a time-out (SYBETIME reaches
// ErrorHandler, which sends the cancel or gives the connection up).
int HandleInterrupt(void* /*dbproc*/) {
  return INT_CANCEL;
}

}  // namespace

void WatchInterrupts(DBPROCESS* dbproc) {
  if (dbproc != nullptr) dbsetinterrupt(dbproc, CheckInterrupt, HandleInterrupt);
}

bool StopForInterrupt(DBPROCESS* dbproc) {
  if (Interrupted == 0 || dbproc == nullptr) return false;
  if (!CancelAsked) {
    char text[] = "the call was interrupted (Ctrl-C): the statement was cancelled";
    // Recorded as the time-out it ends like; CancelAsked bounds the wait for
    // the server's answer to the cancel (CheckInterrupt).
    ErrorHandler(dbproc, EXTIME, SYBETIME, 0, text, nullptr);
    dbcancel(dbproc);
  }
  return true;
}

void StatementPreamble() {
  // Only a connected call reaches a statement.
  assert(ConnectedFlag == 1);
  CancelAsked = false;
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
