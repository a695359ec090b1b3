// The SQL functions' inside, shared by the function_*.cc files and
// functions.cc and nothing else: a value read out of SQLite in the shape of
// its SQL Server type, and the helpers every function uses. By concern:
//   function_conversion.cc  tds_cvt (CAST/CONVERT and implicit conversion), dates
//   function_arithmetic.cc  operators, rounding, sign, exact decimal sums
//   function_collation.cc   case-insensitive comparison, upper/lower, LIKE
//   function_strings.cc     substring, replace, charindex and the other string functions
#pragma once

#include <sqlite3.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "functions.h"
#include "tdslite/common/text.h"
#include "tdslite/common/text_pointer.h"
#include "types.h"
#include "values.h"

namespace tdslite::sql {

namespace function_detail {

// One value taken out of SQLite, in the shape its SQL Server type implies.
struct Datum {
  bool null = true;
  Storage storage = Storage::kInteger;
  int64_t i = 0;  // integers, money units, datetime serial
  double f = 0;
  Int128 dec = 0;
  int scale = 0;
  std::string s;  // text or bytes
};

struct Failure {
  Message msg;
};

std::string ValueText(sqlite3_value* v);

std::string ValueBlob(sqlite3_value* v);

// Reads a value of SQL Server type `t` from SQLite.
Datum Read(sqlite3_value* v, const ColumnType& t);

void ResultText(sqlite3_context* ctx, const std::string& s);

void Fail(sqlite3_context* ctx, const Message& m);

Message Overflow(const ColumnType& to);

bool IntegerFits(int64_t v, TypeId id);

// 922,337,203,685,477.5807 is the largest money; smallmoney is +-214,748.3647.
bool MoneyFits(Int128 units, TypeId id);

bool IsBlank(std::string_view s);

std::string Trim(std::string_view s);

std::string Utf16Le(std::string_view utf8);
std::string Utf16ToUtf8(std::string_view bytes);

// The text of a value for conversion to a string type.
std::string AsText(const Datum& d, const ColumnType& from, int style);

// 529: the conversion from `from` to `to` does not exist.
Message ConversionNotAllowed(const ColumnType& from, const ColumnType& to);
// 8114: the text is not a number of type `to`.
Message ConversionError(const ColumnType& from, const ColumnType& to);
// 242: a date or time outside the range of `to`.
Message ConversionOutOfRange(const ColumnType& from, const ColumnType& to);
Message ConversionFailed(const ColumnType& from, const std::string& text, const ColumnType& to);

int64_t ToInteger(const Datum& d, const ColumnType& from, const ColumnType& to);

double ToDouble(const Datum& d, const ColumnType& from, const ColumnType& to);

// The unscaled value at `scale`.
Int128 ToScaled(const Datum& d, const ColumnType& from, const ColumnType& to, int scale);

int64_t ToDateTime(const Datum& d, const ColumnType& from, const ColumnType& to, int style = -1);

Message Truncated();

// Sets the SQLite result to `d` converted from `from` to `to`.
void Convert(sqlite3_context* ctx, const Datum& d, const ColumnType& from, const ColumnType& to,
             int style, bool assign);

// tds_cvt(value, from, to, style, assign)
void CvtFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);

Message DivideByZero();

// tds_op(op, a, b, result type): arithmetic on operands already in the
// result type's storage (decimals keep their own scale in their text).
void OpFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void OpsFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);

// tds_neg(x, type)
void NegFunc(sqlite3_context* ctx, int, sqlite3_value** argv);

// Compares ignoring ASCII case and trailing blanks, as SQL Server's default
// case-insensitive collation does.
// Lower-cases a code point the way a case-insensitive collation folds it:
// ASCII, Latin-1, Greek and Cyrillic capitals.
uint32_t LowerCodePoint(uint32_t c);

uint32_t UpperCodePoint(uint32_t c);

uint32_t NextCodePoint(std::string_view s, size_t* i);

// Compares ignoring case and trailing blanks, as SQL Server's default
// case-insensitive collation does.
int CompareCi(void*, int na, const void* pa, int nb, const void* pb);

// upper() and lower() with the collation's notion of case.
void UpperFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void LowerFunc(sqlite3_context* ctx, int, sqlite3_value** argv);

int CompareDecimal(void*, int na, const void* pa, int nb, const void* pb);

// Decodes one UTF-8 code point; advances *i.
uint32_t NextCodePoint(std::string_view s, size_t* i);

uint32_t Fold(uint32_t c);

// For byte-wise searches in UTF-8: only ASCII letters fold.
uint32_t FoldAscii(uint32_t c);

std::vector<uint32_t> CodePoints(std::string_view s);

// One element of a LIKE pattern: `%`, or something that matches exactly one
// character (`_`, a literal, an escaped character, a [set] or [^set]).
struct LikeToken {
  enum Kind : uint8_t { kAnyString, kAnyChar, kChar, kSet } kind;
  bool negate = false;
  uint32_t c = 0;    // kChar, folded
  size_t first = 0;  // kSet: the set's elements are p[first, last)
  size_t last = 0;
};

// The pattern `p` (code points) as tokens; `escape` < 0: none.
std::vector<LikeToken> LikeTokens(const std::vector<uint32_t>& p, int64_t escape);

// Whether token `t` (of pattern `p`) matches the character `ch`.
bool LikeOne(const LikeToken& t, const std::vector<uint32_t>& p, uint32_t ch);

// Whether the tokens from `ti` on match the characters of `s` from `start`
// to its end (LIKE's matcher; PATINDEX anchors it at each position in turn).
bool LikeMatch(const std::vector<LikeToken>& t, size_t ti, const std::vector<uint32_t>& p,
               const std::vector<uint32_t>& s, size_t start);

void LikeFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);

void GetDateFunc(sqlite3_context* ctx, int, sqlite3_value**);

// tds_datalength(x, type)
void DataLengthFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
// tds_ulen(text): the length in UTF-16 code units.
void Utf16LengthFunc(sqlite3_context* ctx, int, sqlite3_value** argv);

bool AnyNull(int argc, sqlite3_value** argv);

// Substrings work on characters for text, on bytes for binary values.
void SubstringFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);

void LeftFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void RightFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);

// Finds `needle` in `hay` ignoring ASCII case, from byte `from`.
size_t FindCi(std::string_view hay, std::string_view needle, size_t from);

void ReplaceFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);

void CharIndexFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);

// tds_round(x, digits, truncate, type), tds_floor(x, type), tds_ceiling(x, type)
void RoundFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);

void FloorFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void CeilingFunc(sqlite3_context* ctx, int, sqlite3_value** argv);

// tds_abs(x, type)
void AbsFunc(sqlite3_context* ctx, int, sqlite3_value** argv);

// The date and time types and uniqueidentifier (function_dates.cc,
// function_date_parts.cc, function_date_build.cc, function_guid.cc).
// Converts to date, time, datetime2 or datetimeoffset; sets the result.
void ConvertWide(sqlite3_context* ctx, const Datum& d, const ColumnType& from, const ColumnType& to,
                 int style);
// The text of a date, time, datetime2 or datetimeoffset value.
std::string WideText(const Datum& d, const ColumnType& from, int style);
// Error 281: `style` formats no value of the date or time type `from` as text.
Message StyleNotValid(int style, const ColumnType& from);
// A date, time, datetime2 or datetimeoffset value as datetime ticks.
int64_t WideToDateTime(const Datum& d, const ColumnType& from, const ColumnType& to);
void ConvertGuid(sqlite3_context* ctx, const Datum& d, const ColumnType& from,
                 const ColumnType& to);
// uniqueidentifier's forms: the 16 wire bytes, the stored key (in sort
// order) and the text.
std::string GuidKeyFromWire(std::string_view wire);
std::string GuidWireFromKey(std::string_view key);
std::string GuidTextFromWire(std::string_view wire);
void NewIdFunc(sqlite3_context* ctx, int, sqlite3_value**);
void DatePart2Func(sqlite3_context* ctx, int, sqlite3_value** argv);
void DateNameFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void DateAddFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void DateDiffFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void EoMonthFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void FromPartsFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void IsDateFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void NowFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void OffsetFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
int CompareOffsetKeys(void*, int na, const void* pa, int nb, const void* pb);

// Exact sum and average of decimal text values.
// SQLite hands out aggregate memory aligned for 8 bytes only, so the 128-bit
// sum is kept as bytes and copied in and out.
struct DecimalAccumulator {
  unsigned char sum[sizeof(Int128)];
  int scale;
  int64_t count;
  bool overflow;
};

Int128 LoadSum(const DecimalAccumulator& acc);

void StoreSum(DecimalAccumulator* acc, Int128 v);

// The accumulator of the decimal sum in `ctx`, and in *v and *scale the value
// `arg` brings to it; nullptr when it brings nothing (NULL, not a decimal) or
// there is no memory for the accumulator.
DecimalAccumulator* DecimalArgument(sqlite3_context* ctx, sqlite3_value* arg, Int128* v,
                                    int* scale);
void DecimalStep(sqlite3_context* ctx, int, sqlite3_value** argv);

void DecimalSumFinal(sqlite3_context* ctx);
void DecimalAvgFinal(sqlite3_context* ctx);

void SpaceFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void ReplicateFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void StuffFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void ConcatWsFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void QuoteNameFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void StrFunc(sqlite3_context* ctx, int, sqlite3_value** argv);

// function_misc.cc
void IsNumericFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void PatIndexFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void SoundexFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void TranslateFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void ChecksumFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);
// function_format.cc
void FormatFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void FloatMathFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv);

void ReverseFunc(sqlite3_context* ctx, int, sqlite3_value** argv);

// tds_sign(x, type)
void SignFunc(sqlite3_context* ctx, int, sqlite3_value** argv);

void AsciiFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void UnicodeFunc(sqlite3_context* ctx, int, sqlite3_value** argv);

void CharFunc(sqlite3_context* ctx, int, sqlite3_value** argv);
void NCharFunc(sqlite3_context* ctx, int, sqlite3_value** argv);

// tds_textptr(rowid, table, column, length): the text pointer of a value,
// NULL for a NULL value (length NULL).
void TextPtrFunc(sqlite3_context* ctx, int, sqlite3_value** argv);

// False, with the call failed as too big, when a value of `bytes` would
// pass the connection's limit on a value's size.
bool FitsValueLimit(sqlite3_context* ctx, uint64_t bytes);

// No C++ exception may cross SQLite's C frames: one out of a function (an
// allocation that failed, above all) becomes that call's error.
void ReportException(sqlite3_context* ctx) noexcept;

template <void (*F)(sqlite3_context*, int, sqlite3_value**)>
void Guarded(sqlite3_context* ctx, int argc, sqlite3_value** argv) noexcept {
  try {
    F(ctx, argc, argv);
  } catch (...) {
    ReportException(ctx);
  }
}

template <void (*F)(sqlite3_context*)>
void GuardedFinal(sqlite3_context* ctx) noexcept {
  try {
    F(ctx);
  } catch (...) {
    ReportException(ctx);
  }
}

}  // namespace function_detail
}  // namespace tdslite::sql
