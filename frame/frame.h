// The function package frame: what the rest of the package may use from frame/.
//
// Every external function runs the same frame: the entry guard reads
// PackageState and ConnectedFlag, an admitted call marks the package Busy and
// checks its arguments, the function does its work, writes its result string,
// publishes the KT.! error variables where it is one of the publishing
// functions, and leaves the package Idle. The package serves one call at a
// time; PackageState alone keeps calls from overlapping.
//
// All process-wide state of the frame is declared here, each item with who
// writes it and when.
#pragma once

#include <array>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>

#include "frame/saa.h"

namespace ktdb {

// ---- Return codes to the interpreter ----

// The call ran, whatever its outcome (the outcome is in the result string and
// the KT.! variables).
inline constexpr APIRET kCallRan = 0;
// Incorrect call to routine: the interpreter raises REXX error 40.
inline constexpr APIRET kIncorrectCall = 40;

// ---- Buffer sizes ----

inline constexpr std::size_t kNameBufferSize = 32768;
inline constexpr std::size_t kValueBufferSize = 32768;
// A fetch offers the interpreter 32765 bytes of ValueBuffer, not all 32768,
// so that the terminator written behind the value always lies inside it.
inline constexpr std::size_t kFetchLimit = 32765;
inline constexpr std::size_t kStemBufferSize = 256;
inline constexpr std::size_t kRowStemBufferSize = 32768;
// Each captured error or message text: 255 characters and a terminator.
inline constexpr std::size_t kErrorTextSize = 256;

// The name under which every function is registered with the interpreter:
// the library's file name without "lib" and ".so", in its case. Regina finds
// librexxktdb.so whatever the case of the module name; ooRexx keeps the case
// ("REXXKTDB" would make it look for libREXXKTDB.so).
inline constexpr const char* kModuleName = "rexxktdb";

enum class State : std::int32_t { kUnloaded = -1, kIdle = 0, kBusy = 1 };

// The eight captured texts published as KT.!SEVERITY ... KT.!MSGTEXT. The
// numbers are kept as numbers and formatted in decimal when published.
struct ErrorStem {
  std::int32_t severity;                      // last server message's severity
  std::int32_t dbErr;                         // last DB-Library error number
  std::int32_t osErr;                         // last DB-Library error's operating-system number
  std::array<char, kErrorTextSize> dbErrStr;  // last DB-Library error text
  std::array<char, kErrorTextSize> osErrStr;  // last operating-system error text
  std::int32_t msgNo;                         // last server message number
  std::int32_t msgState;                      // last server message state
  std::array<char, kErrorTextSize> msgText;   // last server message text
};

// A server error as KTBatch reports it for one result set.
struct SetMessageRecord {
  std::int32_t severity;
  std::int32_t msgNo;
  std::array<char, kErrorTextSize> text;
};

// The highest severity of a message that informs rather than reports an
// error: SQL Server's errors have severities from 11.
inline constexpr std::int32_t kInformationalSeverity = 10;

// ==== Process-wide state of the frame ====

// PackageState: Unloaded when the library is mapped. EnterCall sets Busy when
// it admits a call; LeaveCall sets Idle when the call ends (also on return 40);
// DropFuncs sets Unloaded. Read by every entry guard.
extern State PackageState;

// ConnectedFlag: 0 when the library is mapped. Set to 1 by a KTConnect that
// opened its main connection and back to 0 by KTConnectReset; nothing else
// writes it. Read by every entry guard.
extern std::int32_t ConnectedFlag;

// RequestBlock: the SHVBLOCK of every set and fetch. SetVariable and
// FetchVariable fill it anew before each pool call. Chained only during a set
// of a compound variable, to CountingFetchBlock.
extern SHVBLOCK RequestBlock;

// CountingFetchBlock: a fetch of the name just set, chained behind the set
// of a compound variable by SetVariable (see there); meaningful only during
// that pool call.
extern SHVBLOCK CountingFetchBlock;

// NameBuffer: names of variables to fetch and statement texts. Written by the
// statement functions during their call; holds nothing between calls.
extern std::array<char, kNameBufferSize> NameBuffer;

// ValueBuffer: FetchVariable delivers each fetched value into it (at most
// kFetchLimit bytes and a terminator); the statement functions put values to
// be set in it. Meaningful only until the next fetch.
extern std::array<char, kValueBufferSize> ValueBuffer;

// StemBuffer and RowStemBuffer: stem names of the caller with a suffix behind
// them, written through StemName by the functions that fill a caller's stem
// (StemBuffer for short stems, RowStemBuffer for row stems).
extern std::array<char, kStemBufferSize> StemBuffer;
extern std::array<char, kRowStemBufferSize> RowStemBuffer;

// CapturedErrors: reset by ResetErrors at the start of a call that publishes;
// written only by the DB-Library handlers of server/, inside the DB-Library call
// that met the condition; published by PublishErrors at the end of the call.
// Keeps its content between calls.
extern ErrorStem CapturedErrors;

// SetMessage: the last server error (severity above 10) of the part of a
// call KTBatch reports as one result set. Reset by
// ResetSetMessage (KTBatch, before each set); written only by
// MessageHandler.
extern SetMessageRecord SetMessage;

// Interrupted: 0 when the library is mapped and whenever a call is admitted.
// Set to 1 by the package's SIGINT handler, which is in force while a call
// is Busy (EnterCall installs it unless SIGINT is ignored; LeaveCall puts
// back what was there and then raises the signal again, so that the
// interpreter sees it as it would have). Read by the server's interrupt
// check, which cancels the statement in progress.
extern volatile std::sig_atomic_t Interrupted;

// ==== Arguments and the result string ====

// The argument array of one call. Texts are taken by their strlength: an
// argument may contain NUL bytes and need not be terminated.
class Arguments {
 public:
  Arguments(ULONG count, const RXSTRING* argv) : count_(count), argv_(argv) {}

  // Argument i (from 1) is present when the count reaches it and its length
  // is not 0: an empty argument and a missing one are the same.
  bool Present(unsigned i) const { return !Text(i).empty(); }

  // The text of argument i, empty when it is missing.
  std::string_view Text(unsigned i) const;

  // True when every listed argument is present.
  bool PresentAll(std::initializer_list<unsigned> required) const;

 private:
  ULONG count_;
  const RXSTRING* argv_;
};

// The result RXSTRING the interpreter supplied. Its strlength on entry is the
// size of its buffer; nothing is ever written beyond it.
class Result {
 public:
  explicit Result(PRXSTRING result)
      : result_(result),
        capacity_(result != nullptr && result->strptr != nullptr ? result->strlength : 0) {}

  bool Fits(std::size_t length) const { return length <= capacity_; }

  // Writes the text; answers false and leaves the result unchanged when it
  // does not fit.
  bool Set(std::string_view text);
  bool SetNumber(std::int32_t value);
  void SetEmpty() { Set({}); }

  // Writes the text whatever its length: into the interpreter's buffer when
  // it fits, otherwise into a buffer from RexxAllocateMemory, which the
  // interpreter then owns and frees. Answers false, and leaves the result
  // unchanged, when that allocation fails.
  bool SetAllocated(std::string_view text);

 private:
  PRXSTRING result_;
  std::size_t capacity_;
};

// ==== The call frame ====

// When an entry guard admits a call.
enum class Admission {
  kUnloadedNotConnected,  // KTLoadFuncs
  kIdleNotConnected,      // KTDropFuncs, KTConnect
  kIdleConnected,         // every other guarded function
};

// What a refused call answers: "0", or the empty string (KTSelectOne,
// KTLOB2File, KTFile2LOB).
enum class Refusal { kZero, kEmpty };

// The entry guard and the Busy marking. Refused: writes the refusal result
// and answers false; nothing else changes. Admitted: PackageState becomes
// Busy and the answer is true.
bool EnterCall(Admission admission, Refusal refusal, Result& result);

// Ends an admitted call: PackageState becomes Idle, the code is returned.
APIRET LeaveCall(APIRET code);

// The end of a publishing call: PublishErrors, then LeaveCall with 0, or
// with 40 when a set failed.
APIRET PublishAndLeave();

// ==== Registration (KTLoadFuncs, KTDropFuncs) ====

// Every function of the package (functions.def), KTLoadFuncs first.
inline constexpr const char* kAllFunctions[] = {
#define KTDB_FUNCTION(name, entry) #name,
#include "frame/functions.def"
#undef KTDB_FUNCTION
};
static_assert(std::string_view(kAllFunctions[0]) == "KTLoadFuncs");

// The functions KTLoadFuncs registers and KTDropFuncs deregisters, in
// order: all but KTLoadFuncs itself, which the script registers.
inline constexpr std::span<const char* const> kFunctionTable{kAllFunctions + 1,
                                                             std::size(kAllFunctions) - 1};

APIRET LoadFuncs(Result& result);
APIRET DropFuncs(Result& result);

// ==== Variable pool access ====

// The longest variable name the package hands to the pool: REXX's limit for
// a symbol (ooRexx refuses longer names, Regina takes them).
inline constexpr std::size_t kMaxVariableName = 250;

// The names the package reads and writes, the same under every interpreter:
// 1 to kMaxVariableName characters; before the first period (the whole name
// when it has none) upper-case letters, digits, "!", "?" and "_", not
// beginning with a digit; behind it the same, lower-case letters and periods.
// The two interpreters answer differently for other names (Regina takes a
// name that begins with a digit as a constant and sets it without effect,
// and takes "@#$" in a name; ooRexx refuses those, but takes any character
// in a tail, a blank too), so the package refuses them itself, as the pool
// refuses a bad name.
bool IsVariableName(std::string_view name);

// Sets one REXX variable of the calling script. Succeeds when the name is a
// variable name (IsVariableName) and the pool answers RXSHV_OK or RXSHV_NEWV.
bool SetVariable(std::string_view name, std::string_view value);

// Fetches one REXX variable of the calling script into ValueBuffer, cut at
// kFetchLimit bytes and terminated. Answers the value's length, or nothing
// when the name is no variable name (IsVariableName) or the pool rejects it. A variable without a
// value is no failure: REXX then hands back the variable's own name, and
// `unset` (when given) is set to true; it is false for a variable with a
// value.
std::optional<std::size_t> FetchVariable(std::string_view name, bool* unset = nullptr,
                                         bool* cut = nullptr);

// ==== Argument helpers ====

// Turns an optional "-" and 1 to 9 decimal digits into a number. Anything
// else (plus sign, blanks, decimal point, ten digits) is rejected: the answer
// is false and `out` is not touched, so callers preset their default.
bool ParseDecimal(std::string_view text, std::int32_t& out);

// Upper-cases the letters a to z only; no locale applies.
inline char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Copies text into a fixed field and terminates it. Answers false and leaves
// the field unchanged when the text and its terminator do not fit.
bool CopyBounded(std::span<char> field, std::string_view text);

// Copies a zero-terminated text (null counts as empty) into a fixed field,
// cut so that it fits with its terminator; a cut never splits a UTF-8
// sequence. Answers the length copied.
std::size_t CopyCut(std::span<char> field, const char* text);

// The decimal text of a 32-bit number ("%ld"): at most 11 characters (sign
// and ten digits) and a terminator.
inline constexpr std::size_t kDecimalTextSize = 12;
struct DecimalText {
  std::array<char, kDecimalTextSize> digits;
  std::size_t length;
  std::string_view View() const { return {digits.data(), length}; }
};
DecimalText Decimal(std::int32_t value);

// The stem name rule: a stem given by the script, upper-cased (a to z), held
// in a stem name buffer, with each suffix written directly behind it. No
// period is added between stem and suffix: it belongs to the stem.
class StemName {
 public:
  explicit StemName(std::span<char> buffer) : buffer_(buffer) {}

  // Takes the stem. Answers false when it leaves no room for a terminator.
  bool SetStem(std::string_view stem);

  // Writes the suffix behind the stem, replacing the previous one. Answers
  // false (and keeps the previous name) when stem and suffix do not fit.
  bool SetSuffix(std::string_view suffix);

  // The stem and the current suffix; its length is the name length handed to
  // the pool.
  std::string_view Name() const { return {buffer_.data(), stemLength_ + suffixLength_}; }

 private:
  std::span<char> buffer_;
  std::size_t stemLength_ = 0;
  std::size_t suffixLength_ = 0;
};

// ==== Error and message capture ====

// Sets the five numbers to 0 and the three texts to empty. Touches neither
// ErrorCount (server/) nor any REXX variable.
void ResetErrors();

// Whether a server message of `newSeverity` replaces one of `heldSeverity`
// captured earlier in the same call: always, except that an informational
// message (severity 10 or less) never replaces an error.
bool ReplacesMessage(std::int32_t heldSeverity, std::int32_t newSeverity);

// Empties SetMessage.
void ResetSetMessage();

// Sets the eight KT.! variables from CapturedErrors, in the order SEVERITY,
// DBERR, OSERR, DBERRSTR, OSERRSTR, MSGNO, MSGSTATE, MSGTEXT. Stops at the
// first set that fails and answers false.
bool PublishErrors();

}  // namespace ktdb
