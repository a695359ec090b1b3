// The DB-Library error and message handlers: they record what DB-Library and
// the server report into CapturedErrors, inside the DB-Library call that met
// the condition.
#include <cstring>

#include "server/server.h"

namespace ktdb {
namespace {

// The operating-system error numbers that mean "no operating-system error":
// FreeTDS then still passes strerror(0) ("Success") as the text, which would
// read as a description of the error.
bool NoOperatingSystemError(int oserr) {
  return oserr == 0 || oserr == DBNOERR;
}

// The DB-Library errors that FreeTDS raises as the consequence of an
// earlier one within the same call: a login that failed for a time-out, a
// read or write failure or a closed connection ends with "connection
// failed" (20002); a connection that died that way answers every later
// request with "dead or not enabled" (20047).
bool IsConsequence(std::int32_t cause, int consequence) {
  const bool connectionLost = cause == SYBETIME || cause == SYBEREAD || cause == SYBEWRIT ||
                              cause == SYBESEOF || cause == SYBECONN;
  if (consequence == SYBEFCON) return connectionLost;
  if (consequence == SYBEDDNE) return connectionLost || cause == SYBEFCON;
  return false;
}

}  // namespace

int ErrorHandler(DBPROCESS* /*dbproc*/, int /*severity*/, int dberr, int oserr, char* dberrstr,
                 char* oserrstr) {
  // A server message of severity above 10 reaches this handler a second time
  // as SYBESMSG, right after MessageHandler has recorded it. It is the same
  // event: recording it would overwrite the DB-Library error of the call and
  // count the message twice. DB-Library ignores the answer to it.
  if (dberr == SYBESMSG) return INT_CANCEL;

  // A consequence keeps its cause, which tells the script what happened.
  if (!IsConsequence(CapturedErrors.dbErr, dberr)) {
    CapturedErrors.dbErr = dberr;
    if (dberrstr != nullptr) CopyCut(CapturedErrors.dbErrStr, dberrstr);
    CapturedErrors.osErr = oserr;
    if (oserrstr != nullptr && !NoOperatingSystemError(oserr)) {
      CopyCut(CapturedErrors.osErrStr, oserrstr);
    }
  }
  ++ErrorCount;

  // A time-out answered INT_CANCEL would close the connection; INT_TIMEOUT
  // cancels the command and keeps it. During a login, though, INT_TIMEOUT
  // makes FreeTDS wait on for a server that does not answer: the login is
  // ended instead. Every other error fails the DB-Library call in progress.
  // No other answer is safe: FreeTDS ends the process on INT_EXIT, and on
  // INT_CONTINUE for most errors.
  if (dberr != SYBETIME || LoginInProgress) return INT_CANCEL;
  // The first time-out of a call cancels the statement and keeps the
  // connection: DB-Library sends the cancel and waits for the server's
  // answer. When that answer does not come either, waiting on would never
  // end: the connection is given up.
  if (CancelAsked) return INT_CANCEL;
  CancelAsked = true;
  CancelAskedAt = std::chrono::steady_clock::now();
  return INT_TIMEOUT;
}

int MessageHandler(DBPROCESS* /*dbproc*/, DBINT msgno, int msgstate, int severity, char* msgtext,
                   char* /*srvname*/, char* /*proc*/, int /*line*/) {
  // An informational message that follows an error (SQL Server's 3621 "The
  // statement has been terminated" after a duplicate key) does not hide it.
  if (ReplacesMessage(CapturedErrors.severity, severity)) {
    CapturedErrors.msgNo = msgno;
    CapturedErrors.msgState = msgstate;
    CapturedErrors.severity = severity;
    CopyCut(CapturedErrors.msgText, msgtext);
  }
  if (severity > kInformationalSeverity) {
    SetMessage.msgNo = msgno;
    SetMessage.severity = severity;
    CopyCut(SetMessage.text, msgtext);
  }
  // A server message weighs 2, a DB-Library error 1 (ErrorHandler): an odd
  // count says a DB-Library error was among the reports. The large-object
  // functions only ask whether anything was reported (a count above 0).
  ErrorCount += 2;
  // DB-Library's documented answer for a message handler.
  return 0;
}

void NotePackageError(std::int32_t number, std::initializer_list<std::string_view> text) {
  std::array<char, kErrorTextSize> joined{};
  std::size_t length = 0;
  for (const std::string_view piece : text) {
    const std::size_t room = joined.size() - 1 - length;
    std::size_t take = piece.size();
    if (take > room) {
      // Cut on the start of a UTF-8 sequence; nothing follows a cut piece.
      take = room;
      while (take > 0 && (static_cast<unsigned char>(piece[take]) & 0xC0) == 0x80) --take;
    }
    std::memcpy(joined.data() + length, piece.data(), take);
    length += take;
    if (take < piece.size()) break;
  }
  joined[length] = '\0';
  CapturedErrors.dbErr = number;
  CapturedErrors.osErr = 0;
  CopyCut(CapturedErrors.dbErrStr, joined.data());
  CapturedErrors.osErrStr[0] = '\0';
  ++ErrorCount;
}

}  // namespace ktdb
