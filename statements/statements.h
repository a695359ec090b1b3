// Statements and result sets: what the rest of the package may use from
// statements/.
//
// The statement functions share one way of taking the statement argument,
// one way of sending it, the width rules of a result column and the text of
// one value. All of it works on MainConnection and on the static buffers
// declared here and in frame.h; nothing is allocated per value.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "frame/frame.h"
#include "server/server.h"

namespace ktdb {

// ---- Limits ----

// SQL Server's most columns in one result set.
inline constexpr std::size_t kMaxColumns = 4096;
// ValueTextBuffer: the text of one value and its terminator.
inline constexpr std::size_t kValueTextBufferSize = 32768;
// The longest value text: every width is capped here, and a longer text or
// image value is cut to it (and the call says so in KT.!DBERR/KT.!DBERRSTR).
inline constexpr std::int32_t kWidthCap = 32767;
// NullSubstitute: one character of the caller's argument, which in UTF-8
// takes up to 4 bytes, and a terminator.
inline constexpr std::size_t kNullSubstituteSize = 5;
// The NULL text of KTBatch.
inline constexpr std::string_view kBatchNullText = "(null)";
// The error number under which a cut value is reported: DB-Library's own
// number for a conversion that did not fit, with a text that says what
// happened.
inline constexpr std::int32_t kValueCutError = SYBECOFL;

// The type token of uniqueidentifier: dbcoltype answers it, but sybdb.h
// does not name it.
inline constexpr int kTokenUniqueIdentifier = 36;

// How one result column is converted, worked out once per result set.
struct ColumnFormat {
  int token;                // dbcoltype
  std::int32_t valueWidth;  // the value width: characters of the longest text + 1
  std::int32_t room;        // bytes dbconvert may write for one value
};

// What the width rules need to know of a column.
struct ColumnShape {
  int token;                // dbcoltype
  std::int64_t byteLength;  // dbcollen: the library's bytes (charset-scaled for text)
  std::int32_t charBytes;   // ClientCharacterBytes when the shape was read
  std::int32_t precision;   // decimal and numeric only (dbcolinfo), else 0
  std::int32_t scale;       // decimal and numeric only (dbcolinfo), else 0
  std::int32_t nameLength;  // characters of dbcolname, 0 without a name
};

struct ReportedWidth {
  std::int32_t width;  // characters; for decimal/numeric the digits before the point
  std::int32_t scale;  // decimal/numeric only, else 0
};

// ==== Process-wide state of the statement functions ====

// NullSubstitute: emptied by KTSelectData, KTSelectForm and KTSelectOne at
// the start of each call and then set from their NULL argument; read while
// the call converts values. KTBatch does not use it.
extern std::array<char, kNullSubstituteSize> NullSubstitute;

// ColumnFormats: entries 1 to the column count are written by a statement
// function before it converts the first value of a result set (KTBatch: for
// every result set; KTSelectForm: with the heading line); entry 0 is never
// used.
extern std::array<ColumnFormat, kMaxColumns + 1> ColumnFormats;

// ValueTextBuffer: written by ValueText with one value at a time; the text
// is meaningful until the next ValueText.
extern std::array<char, kValueTextBufferSize> ValueTextBuffer;

// ColumnInfo: FreeTDS's own DBCOL record, filled by dbcolinfo while a column
// shape is read (dbcolinfo writes the whole FreeTDS record whatever size the
// caller claims).
extern DBCOL ColumnInfo;

// ==== Shared machinery ====

// Whether a statement argument can be taken at all: it must fit NameBuffer
// with its terminator and hold no NUL byte (dbcmd would silently send only
// the text before it). A failed check is an incorrect call.
bool StatementArgumentFits(std::string_view argument);

// The arguments KTSelectData and KTSelectForm take alike: the statement, the
// stem, the most rows to store (the third; 1 when absent, not a number or
// below 1) and the NULL text (the fourth, into NullSubstitute).
struct RowCall {
  std::string_view statement;
  std::string_view stem;
  std::int32_t maximumRows = 1;
  std::string_view nullText;
};

// Reads them; nothing when the statement cannot be taken or the stem does not
// fit RowStemBuffer with `longestTail` (an incorrect call).
std::optional<RowCall> TakeRowCall(const Arguments& args, std::size_t longestTail);

// What became of a statement argument.
enum class StatementTaken {
  kTaken,    // the statement stands in NameBuffer
  kRefused,  // a stem name, a name REXX does not accept, a value with a NUL byte
  kNotSet,   // the named variable is unset, empty or too long (noted in the KT.! texts)
};
struct TakenStatement {
  StatementTaken outcome;
  std::size_t length;  // of the statement in NameBuffer when taken
};

// The error number under which a statement variable that is unset or empty
// is reported: DB-Library's number for a call given a NULL parameter.
inline constexpr std::int32_t kNoStatementError = SYBENULP;

// Records that the statement variable `name` is unset or empty and that
// nothing was sent (kNoStatementError with a text naming the variable).
void NoteNoStatement(std::string_view name, bool unset);
// Notes that a statement variable holds more than the pool delivers.
void NoteStatementTooLong(std::string_view name);

// The statement argument: text with a blank (character 32) is the statement
// itself; a single word names a REXX variable, upper-cased and fetched, whose
// value is the statement. Leaves the terminated statement in NameBuffer.
TakenStatement TakeStatement(std::string_view argument);

// Appends the statement in NameBuffer to MainConnection's command buffer and
// sends it. Answers false when dbcmd or dbsqlexec fails.
bool SendStatement();

// The execution steps after the statement argument: send, then the first
// dbresults. Answers the column count of the first result, or nothing when
// dbsqlexec or dbresults failed. A batch without any result answers 0.
std::optional<std::int32_t> ExecuteStatement();

// A variable tail of one to three decimal numbers joined by periods
// ("0", "3.2", "1.5.2"), written without a heap allocation.
inline constexpr std::size_t kTailSize = 3 * kDecimalTextSize;
struct Tail {
  std::array<char, kTailSize> text;
  std::size_t length;
  std::string_view View() const { return {text.data(), length}; }
};
Tail MakeTail(std::int32_t first);
Tail MakeTail(std::int32_t first, std::int32_t second);
Tail MakeTail(std::int32_t first, std::int32_t second, std::int32_t third);

// Sets the variable stem||tail to a number or a text through the stem name
// rule. Answers false when the name does not fit or the pool refuses it.
bool SetStemNumber(StemName& names, const Tail& tail, std::int32_t value);
bool SetStemText(StemName& names, const Tail& tail, std::string_view value);

// Character data (copied byte for byte) and binary data (written as hex).
bool IsCharacterToken(int token);
bool IsBinaryToken(int token);

// Reads what the width rules need of column `column` of the current result.
ColumnShape ReadColumnShape(DBPROCESS* dbproc, int column);

// The three width rules, in characters, each capped at kWidthCap (the value
// width at kWidthCap + 1, its terminator included).
std::int32_t DescribeWidth(const ColumnShape& shape);
std::int32_t ValueWidth(const ColumnShape& shape);
ReportedWidth ReportWidth(const ColumnShape& shape);

// How values of the column are converted: its value width and the bytes
// dbconvert may write, sized from the library's byte length and never
// smaller than the longest text of the type.
ColumnFormat FormatOf(const ColumnShape& shape);

// Fills ColumnFormats entries 1 to `columns` for the current result of
// MainConnection.
void FillColumnFormats(std::int32_t columns);

// Value text: the current row's value of `column` as text, in
// ValueTextBuffer and terminated. A NULL value gives `nullText`; an empty
// value the empty text; any other value exactly the characters dbconvert
// writes (text and character data byte for byte, binary data as hex), cut
// at kWidthCap characters (noted in the KT.! error texts). A value dbconvert
// cannot convert gives the empty text.
std::string_view ValueText(DBPROCESS* dbproc, int column, const ColumnFormat& format,
                           std::string_view nullText);

// The text of one value as `ValueText` makes it, from its parts; used by
// ValueText and by the unit tests, which have no result set.
std::string_view ConvertValue(DBPROCESS* dbproc, int column, const ColumnFormat& format,
                              const BYTE* data, DBINT length, std::string_view nullText);

// NullSubstitute set from a NULL argument: its first character by the rule
// of FirstCharacter, or empty.
void SetNullSubstitute(std::string_view argument);

// ==== Column labels, descriptions and formatted lines ====

// ColumnLabel: room for any column name DB-Library hands over (FreeTDS's
// DBCOL name field: 512 bytes of UTF-8 and its terminator), so a label is
// never cut.
inline constexpr std::size_t kColumnLabelSize = sizeof(DBCOL::Name);
// The longest line KTSelectForm stores, in bytes: the part of ValueBuffer a
// line is built in, with room for its terminator behind it.
inline constexpr std::size_t kLineLimit = kFetchLimit;
// TimeBuffer: the server's char(26) time text and its terminator, with a
// byte to spare.
inline constexpr std::size_t kTimeBufferSize = 28;

// ColumnLabel: written by ColumnLabelOf while KTSelectCols or KTSelectForm
// describes a column; meaningful until the next column is described.
extern std::array<char, kColumnLabelSize> ColumnLabel;

// FieldWidths: the field width in characters of each column of a formatted
// line (the describe width). KTSelectForm writes entries 1 to the column
// count while it builds the heading line and uses them for every row.
extern std::array<std::int32_t, kMaxColumns + 1> FieldWidths;

// TimeBuffer: bound by KTCurTimeStamp to the one column of its query;
// emptied before each bind, so it never hands back an earlier call's time.
extern std::array<char, kTimeBufferSize> TimeBuffer;

// Characters of a UTF-8 text: the bytes that do not continue a sequence.
std::size_t CharacterCount(std::string_view text);

// The bytes of the first `characters` characters of a UTF-8 text.
std::size_t PrefixBytes(std::string_view text, std::size_t characters);

// The first character of a UTF-8 argument (a whole sequence), or empty.
std::string_view FirstCharacter(std::string_view argument);

// A column's label in ColumnLabel: its name, upper-cased (a to z) when asked
// for, or, for a column without a name, its number.
std::string_view FormColumnLabel(const char* name, std::int32_t column, bool upperCase);

// Fills ColumnInfo for column `column` of the current result with dbcolinfo
// and forms its label from the name found there.
std::string_view ColumnLabelOf(DBPROCESS* dbproc, int column, bool upperCase);

// A line written piece by piece into a fixed buffer. It never writes past
// `limit` bytes (and the terminator behind them): a piece that does not fit
// marks the line as overflowed, and nothing more is written to it.
class LineWriter {
 public:
  LineWriter(std::span<char> buffer, std::size_t limit)
      : buffer_(buffer), limit_(std::min(limit, buffer.empty() ? 0 : buffer.size() - 1)) {}

  void Clear() {
    length_ = 0;
    overflowed_ = false;
  }
  void Append(std::string_view text);
  // `count` copies of `unit`.
  void AppendRepeated(std::string_view unit, std::size_t count);
  void AppendBlanks(std::size_t count) { AppendRepeated(" ", count); }

  // Upper-cases the letters a to z of what was written.
  void UpperCase();

  bool Overflowed() const { return overflowed_; }
  // The line so far, terminated in the buffer.
  std::string_view Finish();

 private:
  std::span<char> buffer_;
  std::size_t limit_;
  std::size_t length_ = 0;
  bool overflowed_ = false;
};

// The description of a column as KTSelectCols stores it: label, type name
// and reported width (decimal and numeric: digits before the point, a period
// and the scale), separated by one blank and upper-cased (a to z). Answers
// false when it does not fit the line.
bool DescribeColumn(LineWriter& line, std::string_view label, std::string_view typeName,
                    const ReportedWidth& width, bool withScale);

// Whether KTSelectForm places values of the type at the right end of their
// field: the numbers, except money.
bool IsRightAligned(int token);

// One heading field of a formatted line: the label, `fill` behind it up to
// `width` characters, then two blanks. A label longer than the field is
// written whole.
void AppendHeadingField(LineWriter& line, std::string_view label, std::int32_t width,
                        std::string_view fill);

// One value field of a formatted line: `value` at the start (or, right
// aligned, at the end) of a field of `width` characters, blanks around it
// counted in characters, then two blanks. Answers false when the value has
// more characters than the field; the field then holds the first `width`.
bool AppendValueField(LineWriter& line, std::string_view value, std::int32_t width,
                      bool rightAligned);

// ==== The row calls ====

// KTSelectData and KTSelectForm once TakeRowCall has read their arguments:
// the statement preamble, the result "0", the statement taken and run; for
// its first result `start(names, columns)` (columns at most kMaxColumns),
// then `row(names, n)` for the rows n = 1, 2, ... up to the most rows asked
// for or an interrupt, and the count of rows stored in STEM.0 (the result
// "1"). `names` holds the stem; `start` or `row` answering false ends the
// call there (each notes its own reason). Publishes and leaves.
template <typename Start, typename Row>
APIRET RunRowCall(const RowCall& call, Result& result, Start start, Row row) {
  StatementPreamble();
  result.SetNumber(0);
  if (TakeStatement(call.statement).outcome != StatementTaken::kTaken) return PublishAndLeave();
  StemName names(RowStemBuffer);
  names.SetStem(call.stem);  // fits with its longest tail: checked by TakeRowCall

  std::int32_t stored = 0;
  if (const std::optional<std::int32_t> answer = ExecuteStatement()) {
    // SQL Server sends at most kMaxColumns columns.
    const std::int32_t columns = std::clamp<std::int32_t>(*answer, 0, kMaxColumns);
    if (!start(names, columns)) return PublishAndLeave();
    STATUS rowAnswer = REG_ROW;
    while (stored < call.maximumRows && !StopForInterrupt(MainConnection) &&
           !EndOfRows(rowAnswer = dbnextrow(MainConnection))) {
      if (!row(names, stored + 1)) return PublishAndLeave();
      ++stored;
    }
    // A connection that broke while rows were read is reported even when
    // DB-Library said nothing (a TLS record that failed its check).
    if (rowAnswer == FAIL) NoteSilentLoss(MainConnection);
  }
  if (SetStemNumber(names, MakeTail(0), stored)) result.SetNumber(1);
  return PublishAndLeave();
}

// ==== The statement functions ====
// Each is called Busy, with its required arguments present, and leaves the
// package Idle.
APIRET SelectCols(const Arguments& args, Result& result);
APIRET SelectData(const Arguments& args, Result& result);
APIRET SelectForm(const Arguments& args, Result& result);
APIRET SelectOne(const Arguments& args, Result& result);
APIRET Batch(const Arguments& args, Result& result);
APIRET CurTimeStamp(const Arguments& args, Result& result);

}  // namespace ktdb
