// KTLOB2File(file, table, column, [condition]): one text, ntext or image
// value into a file.
//
// "Select textptr(column), datalength(column), ... from table [where
// condition]" gives the first row's text pointer and the value's length
// without the value itself; the value then arrives in pieces, each the
// result of "readtext table.column 0xPTR offset size", so that neither the
// package nor the client library ever holds more than one piece. ntext
// offsets and sizes count UTF-16 units, and a piece never ends between the
// two units of a surrogate pair. Every piece carries the value's text
// timestamp: a piece whose timestamp differs from the first one's means that
// another connection changed the value, and the call fails rather than
// write a mix. The pieces go into a new file in the target's folder, which
// replaces the target once the whole value is in it: a failed transfer
// leaves the target as it was (or absent).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "lob/lob.h"

namespace ktdb {
namespace {

enum class Copy { kWhole, kNotCopied };

// The new file beside the target: its name, and whether it still exists.
std::array<char, kLob2FileNameSize + 16> TemporaryName = {};

// Creates the new file in the target's folder with the permissions the
// target has (a new target gets those of a file the process creates).
File CreateTemporary() {
  const char* target = Lob2FileName.data();
  const char* slash = std::strrchr(target, '/');
  const int folder = slash == nullptr ? 0 : static_cast<int>(slash - target + 1);
  std::snprintf(TemporaryName.data(), TemporaryName.size(), "%.*s.ktdb-XXXXXX", folder, target);
  const int descriptor = mkstemp(TemporaryName.data());
  if (descriptor < 0) {
    NoteFileError("cannot create a file beside", target, errno);
    return File();
  }
  struct stat status;
  mode_t mode;
  if (stat(target, &status) == 0) {
    mode = status.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(descriptor, mode);
  File file(fdopen(descriptor, "wb"));
  if (!file) {
    NoteFileError("cannot create a file beside", target, errno);
    close(descriptor);
    unlink(TemporaryName.data());
  }
  return file;
}

// Closes the new file and puts it in the target's place; on a failure
// before (`copy`) or here, removes it and leaves the target alone.
Copy Replace(File file, Copy copy) {
  // The close writes what stdio still buffers: its failure is a failed
  // write.
  if (std::fclose(file.release()) != 0 && copy == Copy::kWhole) {
    NoteFileError("cannot write to", Lob2FileName.data(), errno);
    copy = Copy::kNotCopied;
  }
  if (copy == Copy::kWhole && std::rename(TemporaryName.data(), Lob2FileName.data()) != 0) {
    NoteFileError("cannot replace", Lob2FileName.data(), errno);
    copy = Copy::kNotCopied;
  }
  if (copy != Copy::kWhole) unlink(TemporaryName.data());
  return copy;
}

// Whether the select drew an error (a DB-Library error or a server message
// above the informational severities): then a missing row means nothing.
bool SelectFailed() {
  return CapturedErrors.dbErr != 0 || CapturedErrors.severity > 10;
}

// Reads what is left of the connection's results (the current one's rows
// included), so that it is idle.
void Drain() {
  dbcanquery(MainConnection);
  // A connection that keeps failing would answer FAIL for ever: the first
  // failure ends the loop.
  for (;;) {
    const RETCODE answer = dbresults(MainConnection);
    if (answer == NO_MORE_RESULTS || answer == FAIL) break;
    dbcanquery(MainConnection);
  }
}

// What the select told of the value.
struct Value {
  bool present = false;  // the select gave a row
  bool null = false;     // the value is NULL (no text pointer)
  std::int64_t length = 0;
};

// The select: the text pointer (into TextPointer) and the length in bytes.
// Answers false when it failed.
bool Describe(Value& value) {
  if (dbcmd(MainConnection, NameBuffer.data()) != SUCCEED || dbsqlexec(MainConnection) != SUCCEED) {
    NoteSilentLoss(MainConnection);
    return false;
  }
  const RETCODE answer = dbresults(MainConnection);
  if (answer == NO_MORE_RESULTS || answer == FAIL || dbnumcols(MainConnection) != 2) {
    NoteSilentLoss(MainConnection);
    return false;
  }
  const RETCODE row = dbnextrow(MainConnection);
  if (row != REG_ROW) {
    if (row != NO_MORE_ROWS) NoteSilentLoss(MainConnection);
    value.present = false;
    return row == NO_MORE_ROWS && !SelectFailed();
  }
  value.present = true;
  const BYTE* pointer = dbdata(MainConnection, 1);
  if (pointer == nullptr || dbdatlen(MainConnection, 1) != static_cast<DBINT>(kTextPointerSize)) {
    value.null = true;
    return !SelectFailed();
  }
  std::copy_n(pointer, kTextPointerSize, TextPointer.begin());
  DBINT length = 0;
  if (dbdata(MainConnection, 2) != nullptr) std::memcpy(&length, dbdata(MainConnection, 2), 4);
  value.length = length;
  return length >= 0 && !SelectFailed();
}

// A text pointer as the statements name it: the longest one, for the checks
// of the arguments.
constexpr const char* kLongestPointer = "0x00000000000000000000000000000000";

// The text pointer as "0x" and hex digits, terminated.
std::array<char, 2 * kTextPointerSize + 3> HexPointer() {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::array<char, 2 * kTextPointerSize + 3> hex;
  hex[0] = '0';
  hex[1] = 'x';
  for (std::size_t i = 0; i < kTextPointerSize; ++i) {
    hex[2 + 2 * i] = kDigits[TextPointer[i] >> 4];
    hex[3 + 2 * i] = kDigits[TextPointer[i] & 0x0F];
  }
  hex[2 * kTextPointerSize + 2] = '\0';
  return hex;
}

// One piece: "readtext" of `size` units from `offset`, written to the file.
// `written` receives the units the piece covered; `stamp` the first piece's
// text timestamp (later pieces must carry the same).
enum class Piece { kWritten, kFailed, kEndsInPair };

Piece ReadPiece(std::FILE* file, const char* pointer, std::int64_t offset, std::int64_t size,
                bool first, int& token) {
  std::array<char, 96> numbers;
  std::snprintf(numbers.data(), numbers.size(), " %lld %lld", static_cast<long long>(offset),
                static_cast<long long>(size));
  if (!ComposeReadText(StemBuffer.data(), pointer, numbers.data())) {
    NotePackageError(SYBECOFL, "the readtext statement does not fit its buffer");
    return Piece::kFailed;
  }
  // An ntext piece that ends with the first unit of a surrogate pair cannot
  // be converted: the library reports that the conversion is not available.
  // That report is the package's own business, and is taken back.
  const ErrorStem before = CapturedErrors;
  const std::int32_t countBefore = ErrorCount;
  if (dbcmd(MainConnection, NameBuffer.data()) != SUCCEED || dbsqlexec(MainConnection) != SUCCEED) {
    NoteSilentLoss(MainConnection);
    return Piece::kFailed;
  }
  const RETCODE answer = dbresults(MainConnection);
  if (answer != SUCCEED || !FirstColumnIsLob(MainConnection)) {
    NoteSilentLoss(MainConnection);
    if (!SelectFailed()) NotePackageError(SYBENTTN, "readtext gave no text or image value");
    return Piece::kFailed;
  }
  const RETCODE row = dbnextrow(MainConnection);
  // The library reports the failed conversion but hands over the row
  // without its last character.
  if (ErrorCount > countBefore && CapturedErrors.dbErr == SYBEICONVAVAIL && size > 1) {
    dbcancel(MainConnection);
    CapturedErrors = before;
    ErrorCount = countBefore;
    return Piece::kEndsInPair;
  }
  if (row != REG_ROW) {
    NoteSilentLoss(MainConnection);
    if (!SelectFailed()) NotePackageError(SYBENTTN, "readtext gave no row");
    return Piece::kFailed;
  }
  token = dbcoltype(MainConnection, 1);
  const DBBINARY* stamp = dbtxtimestamp(MainConnection, 1);
  if (stamp == nullptr) {
    NotePackageError(SYBENTTN, "readtext gave no text timestamp");
    return Piece::kFailed;
  }
  if (first) {
    std::copy_n(stamp, kTextTimestampSize, TextTimestamp.begin());
  } else if (!std::equal(TextTimestamp.begin(), TextTimestamp.end(), stamp)) {
    NotePackageError(SYBENTTN,
                     "the value was changed by another connection while it was being read");
    return Piece::kFailed;
  }
  const BYTE* data = dbdata(MainConnection, 1);
  const auto length = static_cast<std::size_t>(std::max<DBINT>(dbdatlen(MainConnection, 1), 0));
  if (data == nullptr || length == 0) {
    NotePackageError(SYBENTTN, "the value became shorter while it was being read");
    return Piece::kFailed;
  }
  if (std::fwrite(data, 1, length, file) != length) {
    NoteFileError("cannot write to", Lob2FileName.data(), errno);
    return Piece::kFailed;
  }
  Drain();
  return SelectFailed() ? Piece::kFailed : Piece::kWritten;
}

// The value's length now, asked by its text pointer: it must still be the
// length the pieces were read for.
bool LengthUnchanged(std::string_view column, std::string_view table, const char* pointer,
                     std::int64_t length) {
  if (!ComposeLengthQuestion(column, table, pointer)) {
    NotePackageError(SYBECOFL, "the length question does not fit its buffer");
    return false;
  }
  DBINT now = -1;
  if (dbcmd(MainConnection, NameBuffer.data()) == SUCCEED && dbsqlexec(MainConnection) == SUCCEED &&
      dbresults(MainConnection) == SUCCEED && dbnextrow(MainConnection) == REG_ROW &&
      dbdata(MainConnection, 1) != nullptr) {
    std::memcpy(&now, dbdata(MainConnection, 1), 4);
  } else {
    NoteSilentLoss(MainConnection);
  }
  dbcancel(MainConnection);
  if (SelectFailed()) return false;
  if (now != length) {
    NotePackageError(SYBENTTN,
                     "the value was changed by another connection while it was being read");
    return false;
  }
  return true;
}

// Whether the text value is an ntext value: DB-Library reports text and
// ntext alike, so the server is asked (an empty piece of the value joined
// to 'x' is one byte long for text, two for ntext).
bool AskWide(std::string_view column, std::string_view table, const char* pointer, bool& wide) {
  if (!ComposeKindQuestion(column, table, pointer)) {
    NotePackageError(SYBECOFL, "the type question does not fit its buffer");
    return false;
  }
  DBINT answer = 0;
  if (dbcmd(MainConnection, NameBuffer.data()) == SUCCEED && dbsqlexec(MainConnection) == SUCCEED &&
      dbresults(MainConnection) == SUCCEED && dbnextrow(MainConnection) == REG_ROW &&
      dbdata(MainConnection, 1) != nullptr) {
    std::memcpy(&answer, dbdata(MainConnection, 1), 4);
  } else {
    NoteSilentLoss(MainConnection);
  }
  dbcancel(MainConnection);
  if (SelectFailed()) return false;
  if (answer != 1 && answer != 2) {
    NotePackageError(SYBENTTN, "the row of the text pointer was not found again to learn its type");
    return false;
  }
  wide = answer == 2;
  return true;
}

// The select and the transfer.
Copy Transfer(std::string_view column, std::string_view table) {
  Value value;
  const bool described = Describe(value);
  dbcancel(MainConnection);
  if (!described) return Copy::kNotCopied;

  // The new file is created before the value is read, so that a file that
  // cannot be written costs no transfer.
  File file = CreateTemporary();
  if (!file) return Copy::kNotCopied;
  // No row: the target becomes empty, and there was no value to copy. A
  // NULL or empty value: the target becomes empty, the whole value copied.
  if (!value.present) {
    Replace(std::move(file), Copy::kWhole);
    return Copy::kNotCopied;
  }
  if (value.null || value.length == 0) return Replace(std::move(file), Copy::kWhole);

  const auto pointer = HexPointer();
  // Whether offsets count bytes or UTF-16 units is known after the first
  // piece, whose size is right either way: at most half the length in bytes
  // (a one-byte value is no ntext value).
  bool wide = false;
  std::int64_t total = value.length;
  std::int64_t pieceUnits = static_cast<std::int64_t>(kReadPieceSize / 2);
  // Every round reads at least one unit, or fails: bounded by the length.
  for (std::int64_t offset = 0; offset < total;) {
    const bool first = offset == 0;
    std::int64_t size = first ? std::max<std::int64_t>(1, std::min(pieceUnits, value.length / 2))
                              : std::min(pieceUnits, total - offset);
    if (StopForInterrupt(MainConnection)) return Replace(std::move(file), Copy::kNotCopied);
    int token = 0;
    Piece piece = ReadPiece(file.get(), pointer.data(), offset, size, first, token);
    if (piece == Piece::kEndsInPair) {
      // One unit less ends the piece before the pair.
      size -= 1;
      piece = ReadPiece(file.get(), pointer.data(), offset, size, first, token);
    }
    if (piece != Piece::kWritten) return Replace(std::move(file), Copy::kNotCopied);
    if (first) {
      if (token == SYBTEXT && !AskWide(column, table, pointer.data(), wide)) {
        return Replace(std::move(file), Copy::kNotCopied);
      }
      total = wide ? value.length / 2 : value.length;
      pieceUnits = static_cast<std::int64_t>(wide ? kReadPieceSize / 2 : kReadPieceSize);
    }
    offset += size;
  }
  const bool unchanged = LengthUnchanged(column, table, pointer.data(), value.length);
  return Replace(std::move(file), unchanged ? Copy::kWhole : Copy::kNotCopied);
}

}  // namespace

APIRET Lob2File(const Arguments& args, Result& result) {
  ErrorCount = 0;
  // Everything that makes the call incorrect is checked before anything is sent.
  const std::string_view table = args.Text(2);
  const std::string_view column = args.Text(3);
  if (!TakeFileAndObject(args, Lob2FileName) ||
      !ComposeLengthQuestion(column, table, kLongestPointer) ||
      !ComposeKindQuestion(column, table, kLongestPointer) ||
      !ComposeDescription(column, table, args.Text(4))) {
    return LeaveCall(kIncorrectCall);
  }

  StatementPreamble();
  SetTextSize(kUnlimitedTextSize);
  const Copy copy = Transfer(column, table);
  // The rest of the select (further rows, further results) is discarded
  // before the limit is put back; the file is closed already, so a failed
  // publication below leaves nothing open.
  dbcancel(MainConnection);
  SetTextSize(kDefaultTextSize);

  result.SetNumber(copy == Copy::kWhole ? 1 : 0);
  return PublishAndLeave();
}

}  // namespace ktdb
