// The call frame every external function runs: entry guard, Busy marking,
// argument access, result string, and the end of the call.
#include <cassert>
#include <cstring>

#include "frame/frame.h"

namespace ktdb {

std::string_view Arguments::Text(unsigned i) const {
  if (i == 0 || i > count_ || argv_ == nullptr) return {};
  const RXSTRING& arg = argv_[i - 1];
  // An omitted argument may come as a null pointer with length 0.
  if (arg.strptr == nullptr) return {};
  return {arg.strptr, arg.strlength};
}

bool Arguments::PresentAll(std::initializer_list<unsigned> required) const {
  for (unsigned i : required) {
    if (!Present(i)) return false;
  }
  return true;
}

bool Result::Set(std::string_view text) {
  if (result_ == nullptr || !Fits(text.size())) return false;
  if (!text.empty()) std::memcpy(result_->strptr, text.data(), text.size());
  result_->strlength = text.size();
  return true;
}

bool Result::SetAllocated(std::string_view text) {
  if (Fits(text.size())) return Set(text);
  if (result_ == nullptr) return false;
  // SAA: a function may hand back a larger result in memory from
  // RexxAllocateMemory; the interpreter frees it.
  void* buffer = RexxAllocateMemory(static_cast<ULONG>(text.size()));
  if (buffer == nullptr) return false;
  std::memcpy(buffer, text.data(), text.size());
  result_->strptr = static_cast<char*>(buffer);
  result_->strlength = text.size();
  capacity_ = text.size();
  return true;
}

bool Result::SetNumber(std::int32_t value) {
  return Set(Decimal(value).View());
}

bool EnterCall(Admission admission, Refusal refusal, Result& result) {
  bool admitted = false;
  switch (admission) {
    case Admission::kUnloadedNotConnected:
      admitted = PackageState == State::kUnloaded && ConnectedFlag == 0;
      break;
    case Admission::kIdleNotConnected:
      admitted = PackageState == State::kIdle && ConnectedFlag == 0;
      break;
    case Admission::kIdleConnected:
      admitted = PackageState == State::kIdle && ConnectedFlag == 1;
      break;
  }
  if (!admitted) {
    if (refusal == Refusal::kZero) {
      result.SetNumber(0);
    } else {
      result.SetEmpty();
    }
    return false;
  }
  PackageState = State::kBusy;
  return true;
}

APIRET LeaveCall(APIRET code) {
  // Only an admitted call ever reaches its end.
  assert(PackageState == State::kBusy);
  PackageState = State::kIdle;
  return code;
}

APIRET PublishAndLeave() {
  return LeaveCall(PublishErrors() ? kCallRan : kIncorrectCall);
}

APIRET NotYetAvailable(Result& result, Refusal refusal) {
  if (refusal == Refusal::kZero) {
    result.SetNumber(0);
  } else {
    result.SetEmpty();
  }
  return LeaveCall(kCallRan);
}

}  // namespace ktdb
