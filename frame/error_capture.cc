// Error and message capture: the DB-Library handlers (server/handlers.cc) fill
// CapturedErrors during a call; PublishErrors hands it to the script as the
// KT.! variables.
#include "frame/frame.h"

namespace ktdb {

bool ReplacesMessage(std::int32_t heldSeverity, std::int32_t newSeverity) {
  return !(heldSeverity > kInformationalSeverity && newSeverity <= kInformationalSeverity);
}

void ResetSetMessage() {
  SetMessage.severity = 0;
  SetMessage.msgNo = 0;
  SetMessage.text[0] = '\0';
}

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

}  // namespace ktdb
