// KTLOB2File(file, table, column, [condition]): one text or image value into
// a file, byte for byte.
//
// The value of the first row that "Select column from table [where
// condition]" gives is written to the file, created or emptied. The server's
// text size limit is lifted for the select and put back to its default
// afterwards. The row is fetched with dbnextrow and written from the
// library's copy of it in pieces of at most kPieceSize bytes: dbreadtext
// would fetch the row itself and crashes on a NULL value.
#include <algorithm>
#include <cerrno>

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

  // The file is opened before the row is fetched, so that a file that
  // cannot be written costs no transfer.
  File file(std::fopen(Lob2FileName.data(), "wb"));
  if (!file) {
    NoteFileError("cannot open for writing", Lob2FileName.data(), errno);
    return Copy::kNotCopied;
  }
  // No row: the file stays empty, and there was no value to copy.
  if (dbnextrow(MainConnection) != REG_ROW) return Copy::kNotCopied;

  Copy copy = WriteValue(file.get(), dbdata(MainConnection, 1), dbdatlen(MainConnection, 1));
  // The close writes what stdio still buffers: its failure is a failed
  // write.
  if (std::fclose(file.release()) != 0 && copy == Copy::kWhole) {
    NoteFileError("cannot write to", Lob2FileName.data(), errno);
    copy = Copy::kNotCopied;
  }
  return copy;
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
