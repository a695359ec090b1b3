// What the web task procedures share between their files: the parameter
// table and the table of the database that keeps the tasks.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

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

}  // namespace tdslite::procs
