// KTLOB2File(file, table, column, [condition]): one text or image value into
// a file, byte for byte.
//
// The value of the first row that "Select column from table [where
// condition]" gives is written to a new file in the target's folder, which
// replaces the target once the whole value is in it: a failed transfer
// leaves the target as it was (or absent). The server's
// text size limit is lifted for the select and put back to its default
// afterwards. The row is fetched with dbnextrow and written from the
// library's copy of it in pieces of at most kPieceSize bytes: dbreadtext
// would fetch the row itself and crashes on a NULL value.
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

// Writes the value (null: a NULL value, which gives an empty file) in pieces.
Copy WriteValue(std::FILE* file, const BYTE* data, DBINT length) {
  if (data == nullptr || length <= 0) return Copy::kWhole;
  const auto total = static_cast<std::size_t>(length);
  for (std::size_t done = 0; done < total;) {
    const std::size_t piece = std::min(kPieceSize, total - done);
    if (std::fwrite(data + done, 1, piece, file) != piece) {
      NoteFileError("cannot write to", Lob2FileName.data(), errno);
      return Copy::kNotCopied;
    }
    done += piece;
  }
  return Copy::kWhole;
}

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

// The select and the transfer. Answers whether the whole value reached the
// file; the file is closed before it answers.
Copy Transfer() {
  if (dbcmd(MainConnection, NameBuffer.data()) != SUCCEED || dbsqlexec(MainConnection) != SUCCEED) {
    NoteSilentLoss(MainConnection);
    return Copy::kNotCopied;
  }
  const RETCODE answer = dbresults(MainConnection);
  if (answer == NO_MORE_RESULTS || answer == FAIL) {
    NoteSilentLoss(MainConnection);
    return Copy::kNotCopied;
  }
  // A column of another type: no file is created, an existing one is left
  // as it is.
  if (!FirstColumnIsLob(MainConnection)) return Copy::kNotCopied;

  // The new file is created before the row is fetched, so that a file that
  // cannot be written costs no transfer.
  File file = CreateTemporary();
  if (!file) return Copy::kNotCopied;
  const RETCODE row = dbnextrow(MainConnection);
  if (row != REG_ROW) {
    // No row: the target becomes empty, and there was no value to copy. A
    // fetch that failed is no answer: the target stays as it was.
    const bool noRow = row == NO_MORE_ROWS && !SelectFailed();
    if (!noRow) NoteSilentLoss(MainConnection);
    Replace(std::move(file), noRow ? Copy::kWhole : Copy::kNotCopied);
    return Copy::kNotCopied;
  }
  const Copy copy = WriteValue(file.get(), dbdata(MainConnection, 1), dbdatlen(MainConnection, 1));
  return Replace(std::move(file), copy);
}

}  // namespace

APIRET Lob2File(const Arguments& args, Result& result) {
  ErrorCount = 0;
  // Everything that makes the call incorrect is checked before anything is
  // sent. A NUL byte in the name would open a file other than the one named.
  const std::string_view name = args.Text(1);
  if (name.find('\0') != std::string_view::npos || !CopyBounded(Lob2FileName, name) ||
      !ComposeLobSelect(args.Text(3), args.Text(2), args.Text(4))) {
    return LeaveCall(kIncorrectCall);
  }

  StatementPreamble();
  SetTextSize(kUnlimitedTextSize);
  const Copy copy = Transfer();
  // The rest of the select (further rows, further results) is discarded
  // before the limit is put back; the file is closed already, so a failed
  // publication below leaves nothing open.
  dbcancel(MainConnection);
  SetTextSize(kDefaultTextSize);

  result.SetNumber(copy == Copy::kWhole ? 1 : 0);
  return PublishAndLeave();
}

}  // namespace ktdb
