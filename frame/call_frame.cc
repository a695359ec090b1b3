// The call frame every external function runs: entry guard, Busy marking,
// argument access, result string, and the end of the call.
#include <cassert>
#include <cstring>

#include "frame/frame.h"

namespace ktdb {
namespace {

// The SIGINT disposition a call found, put back when it ends.
struct sigaction SavedInterruptAction;
bool InterruptWatched = false;

void OnInterrupt(int /*signal*/) {
  Interrupted = 1;
}

// Catches SIGINT for the call, without SA_RESTART, so that a wait for the
// server ends at once and the interrupt check runs. A SIGINT the process
// ignores stays ignored.
void WatchInterrupt() {
  Interrupted = 0;
  struct sigaction current {};
  if (sigaction(SIGINT, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  InterruptWatched = sigaction(SIGINT, &action, &SavedInterruptAction) == 0;
}

// Puts the call's SIGINT disposition back; a SIGINT met during the call is
// raised again for the interpreter (Regina then raises HALT in the script).
void UnwatchInterrupt() {
  if (!InterruptWatched) return;
  sigaction(SIGINT, &SavedInterruptAction, nullptr);
  InterruptWatched = false;
  if (Interrupted != 0) {
    Interrupted = 0;
    raise(SIGINT);
  }
}

}  // namespace

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
  WatchInterrupt();
  return true;
}

APIRET LeaveCall(APIRET code) {
  // Only an admitted call ever reaches its end.
  assert(PackageState == State::kBusy);
  PackageState = State::kIdle;
  UnwatchInterrupt();
  return code;
}

APIRET PublishAndLeave() {
  return LeaveCall(PublishErrors() ? kCallRan : kIncorrectCall);
}

}  // namespace ktdb
