// The process-wide state of the frame (declared, with its writers, in frame.h).
#include "frame/frame.h"

namespace ktdb {

State PackageState = State::kUnloaded;
std::int32_t ConnectedFlag = 0;
SHVBLOCK RequestBlock = {};
SHVBLOCK CountingFetchBlock = {};
std::array<char, kNameBufferSize> NameBuffer = {};
std::array<char, kValueBufferSize> ValueBuffer = {};
std::array<char, kStemBufferSize> StemBuffer = {};
std::array<char, kRowStemBufferSize> RowStemBuffer = {};
ErrorStem CapturedErrors = {};
volatile std::sig_atomic_t Interrupted = 0;
SetMessageRecord SetMessage = {};

}  // namespace ktdb
