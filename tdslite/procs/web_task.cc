// The web task procedures: sp_makewebtask stores a task and, for the
// immediate kinds, writes its page at once; sp_runwebtask writes the page of
// stored tasks again; sp_dropwebtask removes them. Tasks live in a table of
// the database itself, so they outlast the server process.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "catalog_procs.h"
#include "file_root.h"
#include "html_page.h"
#include "procs.h"
#include "tdslite/common/text.h"
#include "tdslite/sql/catalog.h"
#include "tdslite/sql/temporal.h"
#include "tdslite/sql/types.h"
#include "tdslite/sql/values.h"
#include "web_task.h"

namespace tdslite::procs {
namespace web_detail {

std::string WebAssistantText(int number, std::string_view procedure) {
  switch (number) {
    case kNoTaskKeyDrop:
      return "sp_dropwebtask requires at least one of the parameters @outputfile or @procname "
             "to be defined.";
    case kDropTaskNotFound:
      return "sp_dropwebtask cannot find the specified task.";
    case kNoTaskKeyRun:
      return "sp_runwebtask requires at least one of the parameters @outputfile or @procname "
             "to be defined.";
    case kQueryFailed:
      return "SQL Web Assistant: Could not execute the SQL statement.";
    case kQueryMissing:
      return "SQL Web Assistant: The @query parameter must be specified.";
    case kParametersInvalid:
      return "SQL Web Assistant: The parameters are not valid.";
    case kProcNameInvalid:
      return "SQL Web Assistant: @procname is not valid.";
    case kOutputFileInvalid:
      return "SQL Web Assistant: @outputfile is not valid.";
    case kCannotOpenOutput:
      return "SQL Web Assistant: Could not open the output file.";
    case kCannotOpenTemplate:
      return "SQL Web Assistant: Could not open the template file.";
    case kOutOfMemory:
      return "SQL Web Assistant: Could not allocate enough memory to satisfy this request.";
    case kNoTemplateMarker:
      return "SQL Web Assistant: Could not find the marker for data insertion in the template "
             "file.";
    case kCannotWriteOutput:
      return "SQL Web Assistant: Could not write to the output file.";
    case kSingleRowInvalid:
      return "SQL Web Assistant: @singlerow must be 0 or 1.";
    case kBlobFmtInvalid:
      return "SQL Web Assistant: The format given in @blobfmt is not valid.";
    case kBlobFmtNoFile:
      return "SQL Web Assistant: An output file name is mandatory for each column named in "
             "the @blobfmt parameter.";
    case kDatabaseInvalid:
      return "SQL Web Assistant: The database given in @dbname does not exist.";
    default:
      return std::string(procedure) + ": error " + std::to_string(number) + ".";
  }
}

}  // namespace web_detail

namespace {

using namespace web_detail;

// Whether a @whentype writes the page at once (1 now, 6 to 10 "now and
// ..."), and whether it asks for later runs that tdslite does not schedule:
// all but 1, 5 and 9, whose later runs are on request (sp_runwebtask) only.
bool RunsNow(int64_t whentype) {
  return whentype == 1 || whentype >= 6;
}
bool Scheduled(int64_t whentype) {
  return whentype != 1 && whentype != 5 && whentype != 9;
}

// A default task name: "web_", the date and time, the spid and four random
// digits, as SQL Server makes it.
std::string GeneratedProcName(int32_t spid) {
  int64_t now = sql::CurrentDateTime();
  DateTimeValue dt = sql::FromSerial(now);
  int y = 0, m = 0, d = 0;
  sql::CivilFromDays(dt.days, &y, &m, &d);
  const unsigned seconds = dt.ticks / 300;
  char buf[64];
  std::snprintf(buf, sizeof buf, "web_%04d%02d%02d%02u%02u%02u%d%04u", y, m, d, seconds / 3600,
                seconds / 60 % 60, seconds % 60, static_cast<int>(spid),
                static_cast<unsigned>(std::random_device{}() % 10000));
  return buf;
}

bool ValidDate(int64_t yyyymmdd) {
  if (yyyymmdd == 0) return true;
  const int y = static_cast<int>(yyyymmdd / 10000), m = static_cast<int>(yyyymmdd / 100 % 100),
            d = static_cast<int>(yyyymmdd % 100);
  if (y < 1753 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  int32_t days = sql::DaysFromCivil(y, m, d);
  int yy = 0, mm = 0, dd = 0;
  sql::CivilFromDays(days, &yy, &mm, &dd);
  return yy == y && mm == m && dd == d;
}

bool ValidTime(int64_t hhmmss) {
  return hhmmss >= 0 && hhmmss / 10000 < 24 && hhmmss / 100 % 100 < 60 && hhmmss % 100 < 60;
}

// The checks on the parameter values that SQL Server's Web Assistant makes
// before it stores a task; answers 0 or the error number.
int CheckTask(const Values& t) {
  if (!Given(t, kOutputFile) || sql::Utf8Length(*t[kOutputFile]) > int64_t(kMaxFileNameChars)) {
    return kOutputFileInvalid;
  }
  if (!Given(t, kQuery)) return kQueryMissing;
  if (t[kProcName] &&
      (t[kProcName]->empty() || sql::Utf8Length(*t[kProcName]) > int64_t(kMaxProcNameChars))) {
    return kProcNameInvalid;
  }
  if (Given(t, kTemplateFile) && sql::Utf8Length(*t[kTemplateFile]) > int64_t(kMaxFileNameChars)) {
    return kParametersInvalid;
  }
  if (IntOf(t, kSingleRow) > 1) return kSingleRowInvalid;
  for (size_t flag : {kFixedFont, kBold, kItalic, kColHeaders, kLastUpdated, kTableUrls}) {
    if (IntOf(t, flag) > 1) return kParametersInvalid;
  }
  const int64_t header = IntOf(t, kHtmlHeader);
  const int64_t whentype = IntOf(t, kWhenType);
  const int64_t unittype = IntOf(t, kUnitType);
  const int64_t maketask = IntOf(t, kMakeTask);
  if (header < 1 || header > 6 || whentype < 1 || whentype > 10 || unittype < 1 || unittype > 4 ||
      maketask < 0 || maketask > 2 || IntOf(t, kRowCnt) < 0 || IntOf(t, kNumUnits) < 1 ||
      IntOf(t, kDayFlags) > 127 || !ValidDate(IntOf(t, kTargetDate)) ||
      !ValidTime(IntOf(t, kTargetTime))) {
    return kParametersInvalid;
  }
  // A single hyperlink needs both its address and its text; the table of
  // links needs its query; the two forms exclude each other.
  if (Given(t, kUrl) != Given(t, kRefText)) return kParametersInvalid;
  if (IntOf(t, kTableUrls) != 0 && (!Given(t, kUrlQuery) || Given(t, kUrl))) {
    return kParametersInvalid;
  }
  if (Given(t, kBlobFmt)) {
    std::vector<BlobFormat> blobs;
    int rc = ParseBlobFormat(*t[kBlobFmt], &blobs);
    if (rc != 0) return rc;
  }
  return 0;
}

// Web tasks write files only where the administrator allowed it: a server
// started without --file-root refuses them before anything is stored or
// written. Answers true when the call was refused.
bool RefusedWithoutFileRoot(Call& call) {
  if (!call.host().Config().file_root.empty()) return false;
  call.Send(MakeMessage(kNoFileRootNumber, 1, 16,
                        "Web tasks are disabled: tdslite writes web pages only under the folder "
                        "given with --file-root DIR, and was started without it."),
            1);
  call.FailWithSent(1);
  return true;
}

int MakeWebTask(std::span<const ProcArgument> args, Call& call) {
  if (RefusedWithoutFileRoot(call)) return call.last_error();
  Values t;
  std::vector<bool> supplied;
  if (!Bind(kMakeParams, args, call, &t, &supplied)) return call.last_error();
  for (size_t required : {kOutputFile, kQuery}) {
    if (!supplied[required]) {
      return call.Refuse(
          MakeMessage(201, 4, 16,
                      "Procedure or function '" + call.procedure() + "' expects parameter '" +
                          kMakeParams[required].name + "', which was not supplied."),
          true);
    }
  }
  if (!ConvertIntegers(kMakeParams, call, &t)) return call.last_error();
  ProcedureHost& host = call.host();
  // SQL Server checks the database first and returns 9 for an unknown one.
  if (t[kDbName] && !EqualsIgnoreCase(*t[kDbName], host.DatabaseName())) {
    return call.Fail(kDatabaseInvalid, 9);
  }
  if (int rc = CheckTask(t); rc != 0) return call.Fail(rc, rc);
  // The query always runs as the caller: tdslite has one user per login,
  // and SQL Server itself replaces @username by the caller's name.
  t[kUserName].reset();
  sqlite3* db = host.Database();
  if (!EnsureTaskTable(db)) return call.Fail(kQueryFailed, kQueryFailed);
  if (!t[kProcName]) {
    // Names made in the same second by the same spid differ only in their
    // random digits: draw again on a clash rather than fail the caller.
    for (int attempt = 0; attempt < 100; ++attempt) {
      t[kProcName] = GeneratedProcName(host.Spid());
      if (!TaskExists(db, *t[kProcName])) break;
    }
  }
  if (TaskExists(db, *t[kProcName])) {
    call.Send(
        MakeMessage(2714, 6, 16,
                    "There is already an object named '" + *t[kProcName] + "' in the database."),
        1);
    return call.FailWithSent(1);
  }
  const int64_t whentype = IntOf(t, kWhenType);
  if (RunsNow(whentype)) {
    int rc = RunTask(t, call);
    if (rc < 0) return call.last_error();
    if (rc != 0) return FailTask(rc, call);
  }
  if (!StoreTask(db, t)) return call.Fail(kQueryFailed, kQueryFailed);
  if (Scheduled(whentype)) {
    call.Send(MakeMessage(kWebTaskNotScheduledNumber, 1, 0,
                          "Web task '" + *t[kProcName] +
                              "' is stored, but tdslite does not schedule web tasks: run it "
                              "with sp_runwebtask."),
              1);
  }
  return call.Return(0);
}

int RunOrDropWebTask(std::span<const ProcArgument> args, Call& call, bool drop) {
  if (!drop && RefusedWithoutFileRoot(call)) return call.last_error();
  Values keys;
  std::vector<bool> supplied;
  if (!Bind(kKeyParams, args, call, &keys, &supplied)) return call.last_error();
  const std::optional<std::string>& procname = keys[0];
  const std::optional<std::string>& outputfile = keys[1];
  if (!procname && !outputfile) {
    return call.Fail(drop ? kNoTaskKeyDrop : kNoTaskKeyRun, 1);
  }
  sqlite3* db = call.host().Database();
  std::vector<Values> tasks;
  if (!EnsureTaskTable(db) || !FindTasks(db, procname, outputfile, &tasks)) {
    return call.Fail(kQueryFailed, kQueryFailed);
  }
  if (tasks.empty()) {
    const int number = drop ? kDropTaskNotFound : procname ? kProcNameInvalid : kOutputFileInvalid;
    return call.Fail(number, number);
  }
  for (const Values& task : tasks) {
    if (drop) {
      if (!DeleteTask(db, *task[kProcName])) return call.Fail(kQueryFailed, kQueryFailed);
      continue;
    }
    int rc = RunTask(task, call);
    if (rc < 0) return call.last_error();
    if (rc != 0) return FailTask(rc, call);
  }
  return call.Return(0);
}

}  // namespace

bool IsSystemProcedure(std::string_view name) {
  return IsCatalogProcedure(AsciiLower(name)) || EqualsIgnoreCase(name, "sp_makewebtask") ||
         EqualsIgnoreCase(name, "sp_runwebtask") || EqualsIgnoreCase(name, "sp_dropwebtask");
}

int RunSystemProcedure(std::string_view name, std::span<const ProcArgument> args, int line,
                       ProcedureHost& host, ResultSink& sink) {
  // Messages name the procedure as SQL Server's catalog spells it.
  std::string canonical(name);
  for (char& c : canonical) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (IsCatalogProcedure(canonical)) return RunCatalogProcedure(canonical, args, line, host, sink);
  Call call(canonical, line, host, sink);
  if (canonical == "sp_makewebtask") return MakeWebTask(args, call);
  return RunOrDropWebTask(args, call, canonical == "sp_dropwebtask");
}

}  // namespace tdslite::procs
