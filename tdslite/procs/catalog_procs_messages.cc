// raiserror's numbered messages: sp_addmessage, sp_dropmessage.
#include "catalog_procs_internal.h"

namespace tdslite::procs::catalog_detail {

int SpAddMessage(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@msgnum", "@severity", "@msgtext", "@lang", "@with_log", "@replace"})) {
    return call.last_error();
  }
  const int64_t number = ToInt(call.Arg(0));
  const int64_t severity = ToInt(call.Arg(1), -1);
  if (number <= 50000 || number > 2147483647) {
    return call.Fail(MakeMessage(15040, 1, 16,
                                 "User-defined error messages must have an ID greater than "
                                 "50000."),
                     1);
  }
  if (severity < 1 || severity > 25) {
    return call.Fail(MakeMessage(15041, 1, 16,
                                 "User-defined error messages must have a severity level between "
                                 "1 and 25."),
                     1);
  }
  const std::string text = call.Arg(2).value_or("");
  if (sql::Utf16Length(text) > 255) {
    return call.Fail(MakeMessage(8152, 2, 16, "String or binary data would be truncated."), 1);
  }
  const bool replace = call.Arg(5) && EqualsIgnoreCase(*call.Arg(5), "replace");
  if (!replace && sql::FindUserMessage(call.db(), number)) {
    return call.Fail(
        MakeMessage(15043, 1, 16, "You must specify 'REPLACE' to overwrite an existing message."),
        1);
  }
  std::string error;
  if (!sql::StoreUserMessage(call.db(), number, {static_cast<int>(severity), text}, &error)) {
    return call.Fail(MakeMessage(50100, 1, 16, "sp_addmessage failed: " + error), 1);
  }
  return call.Return(0);
}

int SpDropMessage(std::span<const ProcArgument> args, Call& call) {
  if (!call.Bind(args, {"@msgnum", "@lang"})) return call.last_error();
  const int64_t number = ToInt(call.Arg(0));
  if (!sql::FindUserMessage(call.db(), number)) {
    return call.Fail(
        MakeMessage(15179, 1, 16, "Message number " + std::to_string(number) + " does not exist."),
        1);
  }
  std::string error;
  if (!sql::DropUserMessage(call.db(), number, &error)) {
    return call.Fail(MakeMessage(50100, 1, 16, "sp_dropmessage failed: " + error), 1);
  }
  return call.Return(0);
}

}  // namespace tdslite::procs::catalog_detail
