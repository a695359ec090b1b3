// Error and message capture: the DB-Library handlers fill CapturedErrors
// during a call; PublishErrors hands it to the script as the KT.! variables.
#include "frame/frame.h"

namespace ktdb {
namespace {

// The operating-system error numbers that mean "no operating-system error":
// FreeTDS then still passes strerror(0) ("Success") as the text, which would
// read as a description of the error.
bool NoOperatingSystemError(int oserr) {
  return oserr == 0 || oserr == DBNOERR;
}

}  // namespace

void ResetErrors() {
  CapturedErrors.severity = 0;
  CapturedErrors.dbErr = 0;
  CapturedErrors.osErr = 0;
  CapturedErrors.dbErrStr[0] = '\0';
  CapturedErrors.osErrStr[0] = '\0';
  CapturedErrors.msgNo = 0;
  CapturedErrors.msgState = 0;
  CapturedErrors.msgText[0] = '\0';
}

bool PublishErrors() {
  const auto text = [](const std::array<char, kErrorTextSize>& field) {
    return std::string_view(field.data());
  };
  return SetVariable("KT.!SEVERITY", Decimal(CapturedErrors.severity).View()) &&
         SetVariable("KT.!DBERR", Decimal(CapturedErrors.dbErr).View()) &&
         SetVariable("KT.!OSERR", Decimal(CapturedErrors.osErr).View()) &&
         SetVariable("KT.!DBERRSTR", text(CapturedErrors.dbErrStr)) &&
         SetVariable("KT.!OSERRSTR", text(CapturedErrors.osErrStr)) &&
         SetVariable("KT.!MSGNO", Decimal(CapturedErrors.msgNo).View()) &&
         SetVariable("KT.!MSGSTATE", Decimal(CapturedErrors.msgState).View()) &&
         SetVariable("KT.!MSGTEXT", text(CapturedErrors.msgText));
}

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
