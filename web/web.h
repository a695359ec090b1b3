// Web pages: what the rest of the package may use from web/.
#pragma once

#include <array>
#include <string_view>

#include "frame/frame.h"
#include "server/dblib.h"

namespace ktdb {

// ---- Bounds of KTH ----

// The file name: 255 characters and a terminator.
inline constexpr std::size_t kFileNameSize = 256;
// The closing tag name (the first word of the tag): 19 characters and a
// terminator.
inline constexpr std::size_t kClosingTagSize = 20;

// KTH: appends one piece of text, plain or tagged, to a file. Runs in every
// package state and touches no state of the package.
APIRET TaggedLine(const Arguments& args, Result& result);

// ---- KTHTML: the server's web task procedures ----

// The action: argument 2 upper-cased, 15 characters and a terminator.
inline constexpr std::size_t kActionSize = 16;

// What KTHTML asks the server to do. Any action text but MAKE, RUN and DROP
// makes a task too, without its name and output file.
enum class WebAction { kMake, kRun, kDrop, kOther };

// Which identification a run or drop sends: the procedure name, the output
// file, or both. Any option character but O and B means the name.
enum class WebIdentification { kProcName, kOutputFile, kBoth };

// One procedure parameter and the variable tail that holds its value.
struct WebTaskParameter {
  std::string_view tail;       // behind the stem, e.g. "!QUERY"
  std::string_view parameter;  // e.g. "@query"
  bool quoted;                 // the value goes between single quotes
};

// The parameters in the order they are read and appended. Entries 0 and 1
// (name and output file) serve every action; the rest only tasks that are
// made. The output file must be set for every action, the query for every
// action that makes a task.
inline constexpr std::array<WebTaskParameter, 29> kWebTaskParameters = {{
    {"!PROCNAME", "@procname", true},
    {"!OUTPUTFILE", "@outputfile", true},
    {"!QUERY", "@query", true},
    {"!USERNAME", "@username", true},
    {"!DBNAME", "@dbname", true},
    {"!WEBPAGETITLE", "@webpagetitle", true},
    {"!HTMLHEADER", "@htmlheader", false},
    {"!RESULTSTITLE", "@resultstitle", true},
    {"!LASTUPDATED", "@lastupdated", false},
    {"!FIXEDFONT", "@fixedfont", false},
    {"!BOLD", "@bold", false},
    {"!ITALIC", "@italic", false},
    {"!COLHEADERS", "@colheaders", false},
    {"!TEMPLATEFILE", "@templatefile", true},
    {"!URL", "@url", true},
    {"!REFTEXT", "@reftext", true},
    {"!TABLE_URLS", "@table_urls", false},
    {"!URL_QUERY", "@url_query", true},
    {"!WHENTYPE", "@whentype", false},
    {"!TARGETDATE", "@targetdate", false},
    {"!TARGETTIME", "@targettime", false},
    {"!DAYFLAGS", "@dayflags", false},
    {"!NUMUNITS", "@numunits", false},
    {"!UNITTYPE", "@unittype", false},
    {"!MAKETASK", "@maketask", false},
    {"!ROWCNT", "@rowcnt", false},
    {"!TABBORDER", "@tabborder", false},
    {"!SINGLEROW", "@singlerow", false},
    {"!BLOBFMT", "@blobfmt", true},
}};

// How the composition of a procedure call ended.
enum class WebTaskOutcome {
  kComposed,      // every piece handed on: the call is ready to execute
  kNotSet,        // the output file, or the query of a task to make, is not set
  kRejectedName,  // the interpreter rejected a variable name
  kUnusable,      // a value holds a NUL byte, which would cut the call
  kNotANumber,    // a value sent bare is not a number (noted in the KT.! texts)
  kTooLong,       // a piece does not fit NameBuffer: an incorrect call
  kNotTaken,      // the sink did not take a piece
};

// The error number under which a bare value that is not a number is
// reported: DB-Library's number for a conversion stopped by a syntax error.
inline constexpr std::int32_t kNotANumberError = SYBECSYN;

// Takes one composed, terminated piece of the procedure call (KTHTML hands
// it to dbcmd). Answers false when it could not take it.
using PieceSink = bool (*)(const char* piece);

// The action named by an upper-cased action text.
WebAction ParseWebAction(std::string_view upperAction);

// Composes the procedure call for the stem in StemBuffer (upper-cased and
// ending in a period, its length `stemLength`), reading the variables of
// kWebTaskParameters, and hands it to `sink` piece by piece: the procedure
// name with its blank first, then one piece per parameter appended, each
// with a comma in front but the first.
WebTaskOutcome ComposeWebTask(std::size_t stemLength, WebAction action,
                              WebIdentification identification, PieceSink sink);

// KTHTML. Called Busy, with the required arguments present; leaves the
// package Idle.
APIRET Html(const Arguments& args, Result& result);

}  // namespace ktdb
