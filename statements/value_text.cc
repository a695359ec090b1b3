// Value text: one value of the current row as the text a script receives.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "statements/statements.h"

namespace ktdb {
namespace {

// Records in the KT.! error texts that the value of `column` was longer than
// the value buffer and was stored cut, as a DB-Library error would be.
void NoteCutValue(int column) {
  std::array<char, kErrorTextSize> text{};
  constexpr std::string_view kBefore = "Value of column ";
  constexpr std::string_view kAfter =
      " is longer than 32767 bytes of text: it was stored cut to that length";
  char* out = text.data();
  out = std::copy(kBefore.begin(), kBefore.end(), out);
  out = std::to_chars(out, out + kDecimalTextSize, column).ptr;
  out = std::copy(kAfter.begin(), kAfter.end(), out);
  *out = '\0';
  CapturedErrors.dbErr = kValueCutError;
  CapturedErrors.osErr = 0;
  CopyCut(CapturedErrors.dbErrStr, text.data());
  CapturedErrors.osErrStr[0] = '\0';
  ++ErrorCount;
}

}  // namespace

std::string_view ConvertValue(DBPROCESS* dbproc, int column, const ColumnFormat& format,
                              const BYTE* data, DBINT length, std::string_view nullText) {
  char* const out = ValueTextBuffer.data();
  std::size_t written = 0;
  if (data == nullptr) {
    // Only a missing address means NULL: an empty value has an address and
    // length 0.
    written = std::min(nullText.size(), ValueTextBuffer.size() - 1);
    std::memcpy(out, nullText.data(), written);
  } else if (length <= 0) {
    // dbconvert would take a zero-length source for NULL: an empty string
    // stays empty.
    written = 0;
  } else if (IsCharacterToken(format.token)) {
    // Character data converts to itself: copied, cut at the cap on the start
    // of a UTF-8 sequence.
    written = static_cast<std::size_t>(length);
    if (written > kWidthCap) {
      written = kWidthCap;
      while (written > 0 && (data[written] & 0xC0) == 0x80) --written;
      NoteCutValue(column);
    }
    std::memcpy(out, data, written);
  } else if (IsBinaryToken(format.token)) {
    // Two hex digits a byte: as many bytes as fit the cap.
    DBINT bytes = std::min<DBINT>(length, kWidthCap / 2);
    if (bytes < length) NoteCutValue(column);
    const DBINT answer = dbconvert(dbproc, format.token, data, bytes, SYBCHAR,
                                   reinterpret_cast<BYTE*>(out), 2 * bytes);
    written = answer > 0 ? static_cast<std::size_t>(answer) : 0;
  } else {
    // dbconvert pads the destination with blanks and answers the characters
    // of the text itself: only those are the value.
    const DBINT answer = dbconvert(dbproc, format.token, data, length, SYBCHAR,
                                   reinterpret_cast<BYTE*>(out), format.room);
    written = answer > 0 ? std::min<std::size_t>(static_cast<std::size_t>(answer),
                                                 static_cast<std::size_t>(format.room))
                         : 0;
  }
  out[written] = '\0';
  return {out, written};
}

std::string_view ValueText(DBPROCESS* dbproc, int column, const ColumnFormat& format,
                           std::string_view nullText) {
  return ConvertValue(dbproc, column, format, dbdata(dbproc, column), dbdatlen(dbproc, column),
                      nullText);
}

}  // namespace ktdb
