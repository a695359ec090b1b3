// Large objects: what the rest of the package may use from lob/.
//
// KTLOB2File copies one text, ntext or image value into a file and
// KTFile2LOB replaces one with a file. KTLOB2File learns the value's text
// pointer and length from a select on MainConnection and reads the value in
// pieces with readtext; KTFile2LOB selects the value on MainConnection and
// writes through SecondConnection while the select's row is still pending.
// Neither function ever holds a whole value: KTFile2LOB passes pieces of at
// most kPieceSize bytes, KTLOB2File of at most kReadPieceSize.
//
// A file is text in the client character set when it goes to or comes from
// a text or ntext value: KTFile2LOB converts it into the server's code page
// (text) or UTF-16LE (ntext) and refuses a file it cannot convert exactly;
// image values pass byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string_view>

#include "frame/frame.h"
#include "server/server.h"

namespace ktdb {

// ---- Limits ----

// The most bytes one read or write of a value moves.
inline constexpr std::size_t kPieceSize = 65536;
// The bytes (text, image) or UTF-16 units times two (ntext) one readtext of
// KTLOB2File asks for: the most the client library holds at a time.
inline constexpr std::size_t kReadPieceSize = 1048576;
// The file bytes one conversion step reads.
inline constexpr std::size_t kConvertInputSize = 65536;
// KTLOB2File's file name: 511 characters and a terminator.
inline constexpr std::size_t kLob2FileNameSize = 512;
// KTFile2LOB's file name: 255 characters and a terminator.
inline constexpr std::size_t kFile2LobNameSize = 256;
// A text or image value holds at most 2147483647 bytes, and the text update
// announces its size as a signed 32-bit count: larger files are refused.
inline constexpr std::int64_t kLargestValue = 2147483647;
// The text size a large-object select lifts the server's limit to, and the
// one that puts the server's default back.
inline constexpr std::int32_t kUnlimitedTextSize = 2147483647;
inline constexpr std::int32_t kDefaultTextSize = 0;
// A text pointer and a text timestamp as DB-Library hands them over.
inline constexpr std::size_t kTextPointerSize = DBTXPLEN;
inline constexpr std::size_t kTextTimestampSize = DBTXTSLEN;

// ==== Process-wide state of the large-object functions ====

// Lob2FileName: written by KTLOB2File from its argument 1 before the file is
// opened; meaningful during that call only.
extern std::array<char, kLob2FileNameSize> Lob2FileName;

// File2LobName: written by KTFile2LOB from its argument 1 before the file is
// opened; meaningful during that call only.
extern std::array<char, kFile2LobNameSize> File2LobName;

// PieceBuffer: KTFile2LOB reads each piece of the file into it and hands it
// to dbmoretext; meaningful only until the next piece.
extern std::array<BYTE, kPieceSize> PieceBuffer;

// ConvertInput: the file bytes a text conversion reads, with the start of a
// character that the previous read cut carried over; meaningful during one
// conversion only.
extern std::array<char, kConvertInputSize> ConvertInput;

// TextPointer and TextTimestamp: KTFile2LOB copies them from the selected
// row before it writes through SecondConnection (DB-Library's own copies
// live only as long as the row); meaningful during that call only.
extern std::array<BYTE, kTextPointerSize> TextPointer;
extern std::array<BYTE, kTextTimestampSize> TextTimestamp;

// ==== Shared machinery (lob_common.cc) ====

// A file of the call: closed when the call's work ends, whichever way.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Composes "Select <column> from <table>" and, when a condition is given,
// " where <condition>" in NameBuffer, terminated. Answers false when it does
// not fit or a part holds a NUL byte (dbcmd would send only the text before
// it): an incorrect call.
bool ComposeLobSelect(std::string_view column, std::string_view table, std::string_view condition);

// Composes, in NameBuffer, the question whether the text value that the
// text pointer `pointer` (hex digits behind 0x) addresses is an ntext value:
// its answer is 2 for ntext and 1 for text. Answers false when it does not
// fit or a part holds a NUL byte.
bool ComposeKindQuestion(std::string_view column, std::string_view table, const char* pointer);

// Composes KTLOB2File's select in NameBuffer: the text pointer and the
// length in bytes of `column`, from `table`, with " where <condition>" when
// one is given.
// Answers false when it does not fit or a part holds a NUL byte.
bool ComposeDescription(std::string_view column, std::string_view table,
                        std::string_view condition);

// Composes "readtext <object> <pointer><numbers>" in NameBuffer (numbers:
// " offset size"). Answers false when it does not fit.
bool ComposeReadText(const char* object, const char* pointer, const char* numbers);

// Composes, in NameBuffer, the question for the current length of the value
// that the text pointer `pointer` ("0x" and hex digits) addresses. Answers
// false when it does not fit or a part holds a NUL byte.
bool ComposeLengthQuestion(std::string_view column, std::string_view table, const char* pointer);

// Composes the object name of the text update and of readtext,
// "<table>.<column>", in StemBuffer, terminated. Answers false when it does not fit (255
// characters) or holds a NUL byte: an incorrect call.
bool ComposeObjectName(std::string_view table, std::string_view column);

// The arguments KTLOB2File and KTFile2LOB share, checked before anything is
// opened or sent: the file name (argument 1) copied into `fileName`,
// terminated, and the object name of the table (argument 2) and column
// (argument 3) composed (ComposeObjectName). Answers false when the file name
// holds a NUL byte (it would open a file other than the one named) or does
// not fit, or the object name does not: an incorrect call.
bool TakeFileAndObject(const Arguments& args, std::span<char> fileName);

// Sends the terminated text on the connection and reads every result it
// gives, so that the connection is idle afterwards. Answers false when the
// text was not accepted (dbcmd or dbsqlexec failed, or a result failed).
bool RunStatement(DBPROCESS* dbproc, const char* text);

// Sets the server's text size limit of MainConnection ("set textsize n").
void SetTextSize(std::int32_t size);

// Records a failure the operating system reported for a file: its number in
// KT.!OSERR and, in KT.!OSERRSTR, what was done, the file and the system's
// text for the number. Also counts as a report in ErrorCount.
void NoteFileError(std::string_view doing, const char* fileName, int osError);

// Records a failure the package itself found, as a DB-Library error would
// be recorded: the number in KT.!DBERR and the text in KT.!DBERRSTR. Counts
// as a report in ErrorCount.
void NotePackageError(std::int32_t number, std::string_view text);

// Whether the first column of the current result of `dbproc` holds text or
// image values.
bool FirstColumnIsLob(DBPROCESS* dbproc);

// ==== Text conversion (text_convert.cc) ====

// Why a file's text cannot become a value's text exactly.
struct TextFault {
  std::int64_t offset = 0;  // the byte of the file where the fault begins
  enum class Kind {
    kNone,
    kInvalid,         // not text in the client character set
    kUnrepresentable  // a character the target character set has no place for
  } kind = Kind::kNone;
  std::uint32_t character = 0;  // the character, for kUnrepresentable
};

// Receives each converted piece (at most kPieceSize bytes); answers false to
// stop the conversion.
using ConvertedSink = bool (*)(const BYTE* data, std::size_t size, void* context);

// The iconv name of the server's single-byte character set: the one the
// login announced (FreeTDS's name for it; "iso_1" is code page 1252, as
// FreeTDS takes it from TDS 7.0 on), or code page 1252, the code page of the
// default collation, when the login announced a collation instead.
const char* ServerTextCharset(DBPROCESS* dbproc);

// Converts the rest of `file` from character set `from` to `to`, handing
// every converted piece to `sink`. Answers true when the whole file was
// converted and every piece accepted; false with `fault` set when the file
// holds something that cannot be converted exactly (nothing is ever
// replaced), with fault.kind kNone when the sink stopped it, reading failed
// (errno kept) or iconv knows no such conversion (errno EINVAL).
bool ConvertText(std::FILE* file, const char* from, const char* to, ConvertedSink sink,
                 void* context, TextFault& fault);

// The text KT.!DBERRSTR gets for a fault: the byte offset, the reason, and
// where such a file can go instead. Written into `text`, terminated.
void DescribeTextFault(const TextFault& fault, const char* from, const char* to,
                       std::span<char> text);

// ==== The external functions (entered through the call frame) ====

// KTLOB2File and KTFile2LOB. Each is called Busy, with its required
// arguments present, and leaves the package Idle. The result of an admitted
// call is "1" when the whole value was copied and "0" otherwise.
APIRET Lob2File(const Arguments& args, Result& result);
APIRET File2Lob(const Arguments& args, Result& result);

}  // namespace ktdb
