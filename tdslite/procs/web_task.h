// What the web task procedures share between their files: the parameter
// table, the table of the database that keeps the tasks, and a call of one
// of the procedures.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "proc_call.h"
#include "procs.h"

namespace tdslite::procs {

enum class ParamKind { kText, kTinyInt, kInt };

struct ParamDecl {
  const char* name;  // as SQL Server declares it, lower-cased
  ParamKind kind;
  const char* default_value;  // nullptr: NULL
};

// sp_makewebtask's parameters in SQL Server's declared order, which is also
// the order positional arguments take.
inline constexpr ParamDecl kMakeParams[] = {
    {"@outputfile", ParamKind::kText, nullptr},   {"@query", ParamKind::kText, nullptr},
    {"@fixedfont", ParamKind::kTinyInt, "1"},     {"@bold", ParamKind::kTinyInt, "0"},
    {"@italic", ParamKind::kTinyInt, "0"},        {"@colheaders", ParamKind::kTinyInt, "1"},
    {"@lastupdated", ParamKind::kTinyInt, "1"},   {"@htmlheader", ParamKind::kTinyInt, "1"},
    {"@username", ParamKind::kText, nullptr},     {"@dbname", ParamKind::kText, nullptr},
    {"@templatefile", ParamKind::kText, nullptr}, {"@webpagetitle", ParamKind::kText, nullptr},
    {"@resultstitle", ParamKind::kText, nullptr}, {"@url", ParamKind::kText, nullptr},
    {"@reftext", ParamKind::kText, nullptr},      {"@table_urls", ParamKind::kTinyInt, "0"},
    {"@url_query", ParamKind::kText, nullptr},    {"@whentype", ParamKind::kTinyInt, "1"},
    {"@targetdate", ParamKind::kInt, "0"},        {"@targettime", ParamKind::kInt, "0"},
    {"@dayflags", ParamKind::kTinyInt, "1"},      {"@numunits", ParamKind::kTinyInt, "1"},
    {"@unittype", ParamKind::kTinyInt, "1"},      {"@procname", ParamKind::kText, nullptr},
    {"@maketask", ParamKind::kInt, "2"},          {"@rowcnt", ParamKind::kInt, "0"},
    {"@tabborder", ParamKind::kTinyInt, "1"},     {"@singlerow", ParamKind::kTinyInt, "0"},
    {"@blobfmt", ParamKind::kText, nullptr},
};
inline constexpr size_t kMakeParamCount = sizeof kMakeParams / sizeof kMakeParams[0];

// Indexes into kMakeParams.
enum MakeParam : size_t {
  kOutputFile,
  kQuery,
  kFixedFont,
  kBold,
  kItalic,
  kColHeaders,
  kLastUpdated,
  kHtmlHeader,
  kUserName,
  kDbName,
  kTemplateFile,
  kWebPageTitle,
  kResultsTitle,
  kUrl,
  kRefText,
  kTableUrls,
  kUrlQuery,
  kWhenType,
  kTargetDate,
  kTargetTime,
  kDayFlags,
  kNumUnits,
  kUnitType,
  kProcName,
  kMakeTask,
  kRowCnt,
  kTabBorder,
  kSingleRow,
  kBlobFmt,
};
static_assert(kBlobFmt + 1 == kMakeParamCount);

// sp_runwebtask and sp_dropwebtask take the task's keys only.
inline constexpr ParamDecl kKeyParams[] = {
    {"@procname", ParamKind::kText, nullptr},
    {"@outputfile", ParamKind::kText, nullptr},
};

using Values = std::vector<std::optional<std::string>>;

// ---- the task table (task_table.cc) -------------------------------------------

// Creates the task table when missing. Tasks are kept with every parameter
// value of kMakeParams as text (NULL when not given), keyed by @procname.
bool EnsureTaskTable(sqlite3* db);
bool TaskExists(sqlite3* db, const std::string& procname);
bool StoreTask(sqlite3* db, const Values& values);
// The stored tasks matching the keys given (both when both are given), in
// the order they were made.
bool FindTasks(sqlite3* db, const std::optional<std::string>& procname,
               const std::optional<std::string>& outputfile, std::vector<Values>* tasks);
bool DeleteTask(sqlite3* db, const std::string& procname);

// ---- one call of a web task procedure -------------------------------------------
//   web_task.cc         the procedures, their checks, the Web Assistant messages
//   web_task_params.cc  arguments to parameters, integers, @blobfmt
//   web_task_run.cc     running a task's queries and writing its pages

namespace web_detail {

// Message numbers. The 168xx ones are SQL Server's own Web Assistant
// messages (severity 11); their number is also the procedure's return status.
inline constexpr int kNoTaskKeyDrop = 16801;
inline constexpr int kDropTaskNotFound = 16802;
inline constexpr int kNoTaskKeyRun = 16803;
inline constexpr int kQueryFailed = 16805;
inline constexpr int kQueryMissing = 16812;
inline constexpr int kParametersInvalid = 16814;
inline constexpr int kProcNameInvalid = 16815;
inline constexpr int kOutputFileInvalid = 16816;
inline constexpr int kCannotOpenOutput = 16821;
inline constexpr int kCannotOpenTemplate = 16822;
inline constexpr int kOutOfMemory = 16823;
inline constexpr int kNoTemplateMarker = 16826;
inline constexpr int kCannotWriteOutput = 16827;
inline constexpr int kSingleRowInvalid = 16829;
inline constexpr int kBlobFmtInvalid = 16830;
inline constexpr int kBlobFmtNoFile = 16831;
inline constexpr int kDatabaseInvalid = 16854;

// The page text a task may build before it is refused (16823) rather than
// grow the server without bound.
inline constexpr size_t kMaxPageBytes = 256 * 1024 * 1024;
// SQL Server's limit for a procedure name (sysname).
inline constexpr size_t kMaxProcNameChars = 128;

// The text of a Web Assistant message number (web_task.cc).
std::string WebAssistantText(int number, std::string_view procedure);

// One call of a web task procedure, whose errors are Web Assistant messages.
class Call : public ProcCall {
 public:
  using ProcCall::ProcCall;

  // A Web Assistant error raised inside the procedure, which then returns
  // `status`: the message, the raising statement's DONEINPROC, RETURNSTATUS
  // and DONEPROC.
  int Fail(int number, int status) {
    Send(MakeMessage(number, 1, 11, WebAssistantText(number, procedure())), 1);
    return FailWithSent(status);
  }
};

// ---- web_task_params.cc

// Matches arguments to parameters; `supplied` tells which the call gave.
bool Bind(std::span<const ParamDecl> decls, std::span<const ProcArgument> args, Call& call,
          Values* values, std::vector<bool>* supplied);
// Checks the integer parameters and replaces each value by its canonical
// text; missing and NULL ones take their default.
bool ConvertIntegers(std::span<const ParamDecl> decls, Call& call, Values* values);
int64_t IntOf(const Values& values, size_t index);
bool Given(const Values& values, size_t index);

// One column's entry of @blobfmt: "%n% FILE=name [TPLT=template] [URL=url]".
struct BlobFormat {
  size_t column = 0;  // 1-based
  std::string file;
  std::string templ;
  std::string url;
};

// Parses @blobfmt; answers 0 or the Web Assistant error number.
int ParseBlobFormat(std::string_view text, std::vector<BlobFormat>* formats);
// "dir/page.htm" with 3 gives "dir/page3.htm".
std::string NumberedName(std::string_view name, size_t number);

// ---- web_task_run.cc

// Runs a stored (or just made) task: its query, its hyperlink query, and
// the page. Answers 0, -1 when the client cancelled, or the error number.
int RunTask(const Values& task, Call& call);
// Reports a RunTask outcome: 0 and -1 need nothing more here.
int FailTask(int rc, Call& call);

}  // namespace web_detail

}  // namespace tdslite::procs
