// Error and message capture: the DB-Library handlers (server/handlers.cc) fill
// CapturedErrors during a call; PublishErrors hands it to the script as the
// KT.! variables.
#include <cstring>

#include "frame/frame.h"

namespace ktdb {

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

}  // namespace ktdb
