// KTFile2LOB(file, table, column, [condition], [log]): a file becomes one
// text or image value.
//
// "Select column from table [where condition]" on MainConnection gives the
// row; its text pointer and timestamp address the value, which the text
// update replaces through SecondConnection while the row is still pending on
// MainConnection. dbwritetext announces the value's size, dbmoretext sends
// the bytes in pieces of at most kPieceSize, dbsqlok completes the update.
// An image value gets the file's bytes. A text or ntext value gets the
// file's text: the file is read twice, once to check that every character
// converts from the client character set into the value's (the server's
// code page, or UTF-16LE for ntext) and to count the converted bytes, which
// dbwritetext must announce, and once to send them. A file that does not
// convert exactly costs no update.
// Any report from the start of the call on (a DB-Library error, a server
// message, informational ones included) stops the update at the next check.
#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "lob/lob.h"

namespace ktdb {
namespace {

enum class Outcome { kWritten, kStopped };

// The text pointer as hex digits and a terminator, for the UPDATE that
// empties a value (DB-Library refuses a text update of 0 bytes).
constexpr std::size_t kHexPointerSize = 2 * kTextPointerSize + 1;
constexpr char kHexDigits[] = "0123456789abcdef";

// Takes back the update's transaction, if the server still has it open.
constexpr const char* kRollback = "if @@trancount > 0 rollback transaction";

bool Reported() {
  return ErrorCount > 0;
}

// The text pointer as hex digits, terminated.
std::array<char, kHexPointerSize> HexPointer() {
  std::array<char, kHexPointerSize> hex;
  for (std::size_t i = 0; i < kTextPointerSize; ++i) {
    hex[2 * i] = kHexDigits[TextPointer[i] >> 4];
    hex[2 * i + 1] = kHexDigits[TextPointer[i] & 0x0F];
  }
  hex[2 * kTextPointerSize] = '\0';
  return hex;
}

// Whether the text value at TextPointer is an ntext value. DB-Library
// reports text and ntext columns alike, so the server is asked: an empty
// piece of the value joined to 'x' is one byte long for text and two for
// ntext. Answers false, with the reason recorded, when the question failed.
bool AskWide(std::string_view table, std::string_view column, bool& wide) {
  const auto hex = HexPointer();
  std::array<char, 2 * kTextPointerSize + 3> pointer;
  std::snprintf(pointer.data(), pointer.size(), "0x%s", hex.data());
  if (!ComposeKindQuestion(column, table, pointer.data())) {
    NotePackageError(SYBEICONVAVAIL,
                     "the table and column are too long to ask for the column's type");
    return false;
  }
  DBINT answer = 0;
  bool answered = false;
  if (dbcmd(SecondConnection, NameBuffer.data()) == SUCCEED &&
      dbsqlexec(SecondConnection) == SUCCEED && dbresults(SecondConnection) == SUCCEED &&
      dbnextrow(SecondConnection) == REG_ROW && dbcoltype(SecondConnection, 1) == SYBINT4 &&
      dbdata(SecondConnection, 1) != nullptr) {
    std::memcpy(&answer, dbdata(SecondConnection, 1), sizeof answer);
    answered = true;
  } else {
    NoteSilentLoss(SecondConnection);
  }
  // The connection is left idle for the update.
  dbcancel(SecondConnection);
  if (Reported()) return false;
  if (!answered || (answer != 1 && answer != 2)) {
    NotePackageError(SYBENTTN, "the row of the text pointer was not found again to learn its type");
    return false;
  }
  wide = answer == 2;
  return true;
}

// Reads every answer of the stream just completed. Answers false when one
// failed or anything was reported.
bool FinishStream() {
  if (dbsqlok(SecondConnection) != SUCCEED) {
    dbcancel(SecondConnection);
    return false;
  }
  bool completed = true;
  // A connection that keeps answering FAIL would never answer
  // NO_MORE_RESULTS: the first failure ends the loop.
  for (;;) {
    const RETCODE answer = dbresults(SecondConnection);
    if (answer == NO_MORE_RESULTS) break;
    if (answer == FAIL) {
      completed = false;
      dbcancel(SecondConnection);
      break;
    }
  }
  return completed && !Reported();
}

// Ends a text update that was started but must not stand. DB-Library can
// end the bulk stream cleanly only once every announced byte was sent (a
// shorter stream leaves the connection out of step with the server), so the
// rest is sent as zeros and the update's transaction is rolled back: the old
// value stays and the connection serves the next call.
void AbandonUpdate(DBINT sent, DBINT size) {
  // What the clean-up draws (the server's refusal of the zeros, say) does
  // not hide why the update stopped.
  const ErrorStem reason = CapturedErrors;
  PieceBuffer.fill(0);
  while (sent < size) {
    const DBINT piece = std::min<DBINT>(static_cast<DBINT>(kPieceSize), size - sent);
    if (dbmoretext(SecondConnection, piece, PieceBuffer.data()) != SUCCEED) break;
    sent += piece;
  }
  FinishStream();
  RunStatement(SecondConnection, kRollback);
  CapturedErrors = reason;
}

// An empty file: the value becomes '' (text) or 0x (image) through an
// UPDATE of the one row the select gave: by the caller's condition when the
// select gave no other row, else by the row's text pointer.
Outcome EmptyValue(std::string_view table, std::string_view column, std::string_view condition,
                   bool text) {
  const auto hex = HexPointer();
  // Table and column fit NameBuffer with the select around them, and the
  // update is shorter than twice the select.
  std::array<char, 2 * kNameBufferSize> update;
  const int written = std::snprintf(
      update.data(), update.size(), "update %.*s set %.*s = %s", static_cast<int>(table.size()),
      table.data(), static_cast<int>(column.size()), column.data(), text ? "''" : "0x");
  const auto rest = std::span(update).subspan(static_cast<std::size_t>(written));
  // The select's further rows are read (values cut at the server's text
  // size): whether the condition names this row alone.
  if (dbnextrow(MainConnection) == NO_MORE_ROWS) {
    if (!condition.empty()) {
      std::snprintf(rest.data(), rest.size(), " where %.*s", static_cast<int>(condition.size()),
                    condition.data());
    }
  } else {
    std::snprintf(rest.data(), rest.size(), " where textptr(%.*s) = 0x%s",
                  static_cast<int>(column.size()), column.data(), hex.data());
  }
  if (dbcmd(SecondConnection, update.data()) != SUCCEED || dbsqlexec(SecondConnection) != SUCCEED ||
      dbresults(SecondConnection) != SUCCEED) {
    NoteSilentLoss(SecondConnection);
    dbcancel(SecondConnection);
    return Outcome::kStopped;
  }
  // The row the pointer addressed must have been found again.
  const DBINT rows = dbcount(SecondConnection);
  dbcancel(SecondConnection);
  if (rows != 1 && !Reported()) {
    NotePackageError(SYBENTTN, "the row of the text pointer was not found again to empty it");
  }
  return rows == 1 && !Reported() ? Outcome::kWritten : Outcome::kStopped;
}

// Ends a stream whose every announced byte was sent: the update completes
// and its transaction is committed, unless anything was reported.
Outcome CompleteUpdate() {
  if (!FinishStream()) {
    RunStatement(SecondConnection, kRollback);
    return Outcome::kStopped;
  }
  return RunStatement(SecondConnection, "commit transaction") && !Reported() ? Outcome::kWritten
                                                                             : Outcome::kStopped;
}

// The bytes of the file after dbwritetext announced `size` of them.
Outcome SendFile(std::FILE* file, DBINT size) {
  DBINT sent = 0;
  while (sent < size) {
    const std::size_t wanted =
        std::min<std::size_t>(kPieceSize, static_cast<std::size_t>(size - sent));
    const std::size_t got = std::fread(PieceBuffer.data(), 1, wanted, file);
    if (got == 0) {
      // The file shrank or could not be read after its size was taken.
      NoteFileError("cannot read all announced bytes of", File2LobName.data(),
                    std::ferror(file) ? errno : EIO);
      AbandonUpdate(sent, size);
      return Outcome::kStopped;
    }
    if (dbmoretext(SecondConnection, static_cast<DBINT>(got), PieceBuffer.data()) != SUCCEED) {
      AbandonUpdate(sent, size);
      return Outcome::kStopped;
    }
    sent += static_cast<DBINT>(got);
    if (Reported()) {
      AbandonUpdate(sent, size);
      return Outcome::kStopped;
    }
  }
  return CompleteUpdate();
}

// The first reading of a text file: the converted bytes are counted, and
// the count stops beyond what a value holds.
bool CountPiece(const BYTE* /*data*/, std::size_t size, void* context) {
  auto& count = *static_cast<std::int64_t*>(context);
  count += static_cast<std::int64_t>(size);
  return count <= kLargestValue;
}

// The second reading: the converted bytes go to the server. A file that
// now converts to more than was announced has changed since it was counted.
struct Stream {
  DBINT sent = 0;
  DBINT size = 0;
  bool grew = false;
};

bool SendPiece(const BYTE* data, std::size_t size, void* context) {
  auto& stream = *static_cast<Stream*>(context);
  if (size > static_cast<std::size_t>(stream.size - stream.sent)) {
    stream.grew = true;
    return false;
  }
  if (dbmoretext(SecondConnection, static_cast<DBINT>(size), data) != SUCCEED) return false;
  stream.sent += static_cast<DBINT>(size);
  return !Reported();
}

// Records why a file's text could not be converted.
void NoteConversionFailure(const TextFault& fault, const char* from, const char* to,
                           std::FILE* file) {
  if (fault.kind != TextFault::Kind::kNone) {
    std::array<char, kErrorTextSize> text;
    DescribeTextFault(fault, from, to, text);
    NotePackageError(SYBEICONVO, text.data());
  } else if (std::ferror(file)) {
    NoteFileError("cannot read", File2LobName.data(), errno);
  } else {
    std::array<char, kErrorTextSize> text;
    std::snprintf(text.data(), text.size(),
                  "no conversion from the client character set %s to %s is available", from, to);
    NotePackageError(SYBEICONVAVAIL, text.data());
  }
}

// The converted text of the file after dbwritetext announced `size` bytes
// of it.
Outcome SendText(std::FILE* file, DBINT size, const char* from, const char* to) {
  Stream stream;
  stream.size = size;
  TextFault fault;
  const bool whole = ConvertText(file, from, to, SendPiece, &stream, fault);
  if (!whole || stream.sent != size) {
    if (!Reported()) {
      if (fault.kind != TextFault::Kind::kNone || std::ferror(file)) {
        NoteConversionFailure(fault, from, to, file);
      } else {
        NotePackageError(SYBEICONVO, "the file changed while it was being sent");
      }
    }
    AbandonUpdate(stream.sent, size);
    return Outcome::kStopped;
  }
  return CompleteUpdate();
}

Outcome Update(std::FILE* file, DBINT size, std::string_view table, std::string_view column,
               std::string_view condition, bool logged) {
  if (dbcmd(MainConnection, NameBuffer.data()) != SUCCEED || dbsqlexec(MainConnection) != SUCCEED) {
    NoteSilentLoss(MainConnection);
    return Outcome::kStopped;
  }
  const RETCODE answer = dbresults(MainConnection);
  if (answer == NO_MORE_RESULTS || answer == FAIL) {
    NoteSilentLoss(MainConnection);
    return Outcome::kStopped;
  }
  // No row, or a column of another type: nothing is written and nothing is
  // reported.
  if (dbnextrow(MainConnection) != REG_ROW || !FirstColumnIsLob(MainConnection))
    return Outcome::kStopped;
  // A NULL value has no text pointer: there is nothing to address.
  if (dbdata(MainConnection, 1) == nullptr) {
    NotePackageError(SYBENULP,
                     "the value is NULL and has no text pointer: set it to '' or 0x first");
    return Outcome::kStopped;
  }
  const DBBINARY* timestamp = dbtxtimestamp(MainConnection, 1);
  const DBBINARY* pointer = dbtxptr(MainConnection, 1);
  if (timestamp == nullptr || pointer == nullptr) {
    NotePackageError(SYBENULP, "the value has no text pointer or text timestamp");
    return Outcome::kStopped;
  }
  std::copy_n(pointer, kTextPointerSize, TextPointer.begin());
  std::copy_n(timestamp, kTextTimestampSize, TextTimestamp.begin());
  // Whatever the select drew stops the update before SecondConnection is
  // touched.
  if (Reported()) return Outcome::kStopped;

  const bool text = dbcoltype(MainConnection, 1) == SYBTEXT;
  const char* from = ClientCharset[0] != '\0' ? ClientCharset.data() : kClientCharset;
  const char* to = nullptr;
  if (text) {
    bool wide = false;
    if (!AskWide(table, column, wide)) return Outcome::kStopped;
    to = wide ? "UTF-16LE" : ServerTextCharset(MainConnection);
    std::int64_t count = 0;
    TextFault fault;
    if (!ConvertText(file, from, to, CountPiece, &count, fault)) {
      if (count > kLargestValue) {
        NoteFileError("converts to 2 GiB or more, more than a value holds:", File2LobName.data(),
                      EFBIG);
      } else {
        NoteConversionFailure(fault, from, to, file);
      }
      return Outcome::kStopped;
    }
    size = static_cast<DBINT>(count);
    std::rewind(file);
  }
  if (size == 0) return EmptyValue(table, column, condition, text);

  // The update runs in a transaction of its own, so that an update stopped
  // in the middle can be taken back whole.
  if (!RunStatement(SecondConnection, "begin transaction") || Reported()) return Outcome::kStopped;
  // The bytes follow through dbmoretext (text argument null).
  if (dbwritetext(SecondConnection, StemBuffer.data(), TextPointer.data(),
                  static_cast<DBTINYINT>(kTextPointerSize), TextTimestamp.data(),
                  logged ? TRUE : FALSE, size, nullptr) != SUCCEED) {
    // The server refused the update before any byte was sent. DB-Library
    // has the announced size waiting in its buffer all the same; the next
    // statement carries it along and fails, without any answer left unread
    // (a dbcancel here would leave the answer to its attention unread, and
    // every later statement would read the answer of the one before). The
    // rollback is therefore sent twice: the second one runs cleanly.
    // What the clean-up draws does not hide why the update stopped.
    const ErrorStem reason = CapturedErrors;
    RunStatement(SecondConnection, kRollback);
    RunStatement(SecondConnection, kRollback);
    CapturedErrors = reason;
    return Outcome::kStopped;
  }
  if (Reported()) {
    AbandonUpdate(0, size);
    return Outcome::kStopped;
  }
  return text ? SendText(file, size, from, to) : SendFile(file, size);
}

}  // namespace

APIRET File2Lob(const Arguments& args, Result& result) {
  ErrorCount = 0;
  // Everything that makes the call incorrect is checked before anything is
  // opened or sent: the names must fit their fields and hold no NUL byte.
  const std::string_view table = args.Text(2);
  const std::string_view column = args.Text(3);
  if (!TakeFileAndObject(args, File2LobName) || !ComposeLobSelect(column, table, args.Text(4))) {
    return LeaveCall(kIncorrectCall);
  }
  const bool logged = args.Present(5);

  StatementPreamble();
  result.SetNumber(0);

  // The file is opened and measured before anything is sent: a file that
  // cannot be read, or is too large for a value, costs no statement.
  File file(std::fopen(File2LobName.data(), "rb"));
  if (!file) {
    NoteFileError("cannot open for reading", File2LobName.data(), errno);
    return PublishAndLeave();
  }
  struct stat status;
  if (fstat(fileno(file.get()), &status) != 0) {
    NoteFileError("cannot take the size of", File2LobName.data(), errno);
    return PublishAndLeave();
  }
  if (!S_ISREG(status.st_mode)) {
    NoteFileError("not a regular file:", File2LobName.data(),
                  S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
    return PublishAndLeave();
  }
  if (status.st_size > kLargestValue) {
    NoteFileError("2 GiB or larger, more than a value holds:", File2LobName.data(), EFBIG);
    return PublishAndLeave();
  }
  if (SecondConnection == nullptr) {
    NotePackageError(SYBEDDNE, "the second connection is not open: connect again");
    return PublishAndLeave();
  }

  if (Update(file.get(), static_cast<DBINT>(status.st_size), table, column, args.Text(4), logged) ==
      Outcome::kWritten) {
    result.SetNumber(1);
  }
  return PublishAndLeave();
}

}  // namespace ktdb
