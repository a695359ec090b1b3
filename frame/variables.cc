// Variable pool access: one set, one fetch, through the one request block.
#include "frame/frame.h"

namespace ktdb {
namespace {

bool SymbolCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' || c == '?' || c == '_';
}

// The one byte the counting fetch may write (it is offered none).
char CountingSink = 0;

// Whether a name is compound: a period with a tail behind it.
bool IsCompound(std::string_view name) {
  const std::size_t period = name.find('.');
  return period != std::string_view::npos && period + 1 < name.size();
}

}  // namespace

bool IsVariableName(std::string_view name) {
  if (name.empty() || name.size() > kMaxVariableName) return false;
  if ((name[0] >= '0' && name[0] <= '9') || name[0] == '.') return false;
  const std::size_t period = name.find('.');
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool inTail = period != std::string_view::npos && i > period;
    if (SymbolCharacter(c) || (inTail && ((c >= 'a' && c <= 'z') || c == '.'))) continue;
    if (i == period) continue;
    return false;
  }
  return true;
}

bool SetVariable(std::string_view name, std::string_view value) {
  if (!IsVariableName(name)) return false;
  RequestBlock.shvnext = nullptr;
  // The pool takes non-const pointers but does not write through them on a set.
  RequestBlock.shvname.strptr = const_cast<char*>(name.data());
  RequestBlock.shvname.strlength = name.size();
  RequestBlock.shvnamelen = name.size();
  // An empty value still needs an address: some pools take a null one for
  // "no value" and drop the variable.
  RequestBlock.shvvalue.strptr = const_cast<char*>(value.data() != nullptr ? value.data() : "");
  RequestBlock.shvvalue.strlength = value.size();
  RequestBlock.shvvaluelen = value.size();
  RequestBlock.shvcode = RXSHV_SET;
  RequestBlock.shvret = 0;
  if (IsCompound(name)) {
    // Regina 3.6 counts a set of a compound variable on the wrong table, so
    // that the stem's tail table is reorganised over and over as it grows
    // (quadratic in the number of tails). A fetch of the same name counts
    // where it should. Chained behind the set, in the same pool call, it
    // keeps the tail table's counters right. It is offered no room: nothing
    // is copied, and its answer (truncated) is not looked at.
    CountingFetchBlock.shvnext = nullptr;
    CountingFetchBlock.shvname = RequestBlock.shvname;
    CountingFetchBlock.shvnamelen = RequestBlock.shvnamelen;
    CountingFetchBlock.shvvalue.strptr = &CountingSink;
    CountingFetchBlock.shvvalue.strlength = 0;
    CountingFetchBlock.shvvaluelen = 0;
    CountingFetchBlock.shvcode = RXSHV_FETCH;
    CountingFetchBlock.shvret = 0;
    RequestBlock.shvnext = &CountingFetchBlock;
  }
  const ApiAnswer combined = RexxVariablePool(&RequestBlock);
  // The set's own answer; alone in the call it is the call's answer.
  const ApiAnswer answer = RequestBlock.shvnext != nullptr ? RequestBlock.shvret : combined;
  RequestBlock.shvnext = nullptr;
  return answer == RXSHV_OK || answer == RXSHV_NEWV;
}

std::optional<std::size_t> FetchVariable(std::string_view name, bool* unset, bool* cut) {
  if (!IsVariableName(name)) return std::nullopt;
  RequestBlock.shvnext = nullptr;
  RequestBlock.shvname.strptr = const_cast<char*>(name.data());
  RequestBlock.shvname.strlength = name.size();
  RequestBlock.shvnamelen = name.size();
  RequestBlock.shvvalue.strptr = ValueBuffer.data();
  RequestBlock.shvvalue.strlength = kFetchLimit;
  RequestBlock.shvvaluelen = kFetchLimit;
  RequestBlock.shvcode = RXSHV_FETCH;
  RequestBlock.shvret = 0;
  const ApiAnswer answer = RexxVariablePool(&RequestBlock);
  // A bad name, and a pool that could not serve the request at all, deliver
  // no value. A variable without a value (RXSHV_NEWV) and a value cut at the
  // fetch limit (RXSHV_TRUNC) are no failures.
  if ((answer & (RXSHV_BADN | RXSHV_MEMFL | RXSHV_BADF)) != 0) return std::nullopt;
  if (unset != nullptr) *unset = (answer & RXSHV_NEWV) != 0;
  if (cut != nullptr) *cut = (answer & RXSHV_TRUNC) != 0;
  // The length of the text delivered is in shvvalue.strlength (Regina also
  // reports it in shvvaluelen). Bounded by what was offered all the same, so
  // that the terminator cannot land outside ValueBuffer whatever an
  // interpreter reports.
  std::size_t length = RequestBlock.shvvalue.strlength;
  if (length > kFetchLimit) length = kFetchLimit;
  ValueBuffer[length] = '\0';
  return length;
}

}  // namespace ktdb
