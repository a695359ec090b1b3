// What KTLOB2File and KTFile2LOB share: the select they send, statements
// run to their end, the text size setting, and the reports the package
// makes of its own.
#include <array>
#include <cstdio>
#include <cstring>
#include <span>

#include "lob/lob.h"

namespace ktdb {
namespace {

// Appends texts to a fixed buffer, keeping room for the terminator; a text
// that does not fit marks the whole composition as failed.
class Composer {
 public:
  explicit Composer(std::span<char> buffer) : buffer_(buffer) {}

  Composer& Add(std::string_view text) {
    if (!ok_ || text.find('\0') != std::string_view::npos ||
        text.size() >= buffer_.size() - length_) {
      ok_ = false;
      return *this;
    }
    std::memcpy(buffer_.data() + length_, text.data(), text.size());
    length_ += text.size();
    buffer_[length_] = '\0';
    return *this;
  }

  bool Ok() const { return ok_; }

 private:
  std::span<char> buffer_;
  std::size_t length_ = 0;
  bool ok_ = true;
};

// The text a record of the package's own begins with in KT.!OSERRSTR or
// KT.!DBERRSTR: room for a message and a file name of any allowed length is
// not needed, the text is cut to the variable's 255 characters anyway.
constexpr std::size_t kReportSize = kLob2FileNameSize + 2 * kErrorTextSize;

}  // namespace

bool ComposeLobSelect(std::string_view column, std::string_view table, std::string_view condition) {
  Composer statement(NameBuffer);
  statement.Add("Select ").Add(column).Add(" from ").Add(table);
  if (!condition.empty()) statement.Add(" where ").Add(condition);
  return statement.Ok();
}

bool ComposeKindQuestion(std::string_view column, std::string_view table, const char* pointer) {
  Composer statement(NameBuffer);
  statement.Add("Select datalength(substring(").Add(column).Add(", 1, 0) + 'x') from ").Add(table);
  statement.Add(" where textptr(").Add(column).Add(") = ").Add(pointer);
  return statement.Ok();
}

bool ComposeDescription(std::string_view column, std::string_view table,
                        std::string_view condition) {
  Composer statement(NameBuffer);
  statement.Add("Select textptr(").Add(column).Add("), datalength(").Add(column);
  statement.Add(") from ").Add(table);
  if (!condition.empty()) statement.Add(" where ").Add(condition);
  return statement.Ok();
}

bool ComposeReadText(const char* object, const char* pointer, const char* numbers) {
  Composer statement(NameBuffer);
  statement.Add("readtext ").Add(object).Add(" ").Add(pointer).Add(numbers);
  return statement.Ok();
}

bool ComposeLengthQuestion(std::string_view column, std::string_view table, const char* pointer) {
  Composer statement(NameBuffer);
  statement.Add("Select datalength(").Add(column).Add(") from ").Add(table);
  statement.Add(" where textptr(").Add(column).Add(") = ").Add(pointer);
  return statement.Ok();
}

bool ComposeObjectName(std::string_view table, std::string_view column) {
  Composer name(StemBuffer);
  name.Add(table).Add(".").Add(column);
  return name.Ok();
}

bool TakeFileAndObject(const Arguments& args, std::span<char> fileName) {
  const std::string_view name = args.Text(1);
  return name.find('\0') == std::string_view::npos && CopyBounded(fileName, name) &&
         ComposeObjectName(args.Text(2), args.Text(3));
}

bool RunStatement(DBPROCESS* dbproc, const char* text) {
  if (dbcmd(dbproc, text) != SUCCEED || dbsqlexec(dbproc) != SUCCEED) {
    // Whatever a failed statement left is discarded, so that the connection
    // is idle for what comes next.
    NoteSilentLoss(dbproc);
    dbcancel(dbproc);
    return false;
  }
  bool accepted = true;
  for (;;) {
    const RETCODE answer = dbresults(dbproc);
    if (answer == NO_MORE_RESULTS) break;
    if (answer == FAIL) {
      // A connection that keeps failing would answer FAIL for ever.
      accepted = false;
      dbcancel(dbproc);
      break;
    }
    dbcanquery(dbproc);
  }
  return accepted;
}

void SetTextSize(std::int32_t size) {
  std::array<char, 48> text;
  std::snprintf(text.data(), text.size(), "set textsize %ld", static_cast<long>(size));
  RunStatement(MainConnection, text.data());
}

void NoteFileError(std::string_view doing, const char* fileName, int osError) {
  std::array<char, kReportSize> text;
  std::snprintf(text.data(), text.size(), "%.*s %s: %s", static_cast<int>(doing.size()),
                doing.data(), fileName, std::strerror(osError));
  CapturedErrors.osErr = osError;
  CopyCut(CapturedErrors.osErrStr, text.data());
  ++ErrorCount;
}

void NotePackageError(std::int32_t number, std::string_view text) {
  std::array<char, kErrorTextSize> field;
  CapturedErrors.dbErr = number;
  // The package's texts are shorter than the variable.
  if (!CopyBounded(field, text)) field[0] = '\0';
  CopyCut(CapturedErrors.dbErrStr, field.data());
  ++ErrorCount;
}

bool FirstColumnIsLob(DBPROCESS* dbproc) {
  if (dbnumcols(dbproc) < 1) return false;
  const int token = dbcoltype(dbproc, 1);
  return token == SYBTEXT || token == SYBIMAGE;
}

}  // namespace ktdb
