// The DB-Library error and message handlers: they record what DB-Library and
// the server report into CapturedErrors, inside the DB-Library call that met
// the condition.
#include "server/server.h"

namespace ktdb {
namespace {

// The operating-system error numbers that mean "no operating-system error":
// FreeTDS then still passes strerror(0) ("Success") as the text, which would
// read as a description of the error.
bool NoOperatingSystemError(int oserr) {
  return oserr == 0 || oserr == DBNOERR;
}

}  // namespace

int ErrorHandler(DBPROCESS* /*dbproc*/, int /*severity*/, int dberr, int oserr, char* dberrstr,
                 char* oserrstr) {
  // A server message of severity above 10 reaches this handler a second time
  // as SYBESMSG, right after MessageHandler has recorded it. It is the same
  // event: recording it would overwrite the DB-Library error of the call and
  // count the message twice. DB-Library ignores the answer to it.
  if (dberr == SYBESMSG) return INT_CANCEL;

  CapturedErrors.dbErr = dberr;
  if (dberrstr != nullptr) CopyCut(CapturedErrors.dbErrStr, dberrstr);
  CapturedErrors.osErr = oserr;
  if (oserrstr != nullptr && !NoOperatingSystemError(oserr)) {
    CopyCut(CapturedErrors.osErrStr, oserrstr);
  }
  ++ErrorCount;

  // A time-out answered INT_CANCEL would close the connection; INT_TIMEOUT
  // cancels the command and keeps it. During a login, though, INT_TIMEOUT
  // makes FreeTDS wait on for a server that does not answer: the login is
  // ended instead. Every other error fails the DB-Library call in progress.
  // No other answer is safe: FreeTDS ends the process on INT_EXIT, and on
  // INT_CONTINUE for most errors.
  return dberr == SYBETIME && !LoginInProgress ? INT_TIMEOUT : INT_CANCEL;
}

int MessageHandler(DBPROCESS* /*dbproc*/, DBINT msgno, int msgstate, int severity, char* msgtext,
                   char* /*srvname*/, char* /*proc*/, int /*line*/) {
  CapturedErrors.msgNo = msgno;
  CapturedErrors.msgState = msgstate;
  CapturedErrors.severity = severity;
  CopyCut(CapturedErrors.msgText, msgtext);
  ErrorCount += 2;
  // DB-Library's documented answer for a message handler.
  return 0;
}

}  // namespace ktdb
