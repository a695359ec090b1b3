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

#include "catalog_procs.h"

namespace tdslite::procs {
namespace {

constexpr uint16_t kCmdExec = 0xE0;  // SQL Server's CurCmd for EXECUTE

// Message numbers. The 168xx ones are SQL Server's own Web Assistant
// messages (severity 11); their number is also the procedure's return status.
constexpr int kNoTaskKeyDrop = 16801;
constexpr int kDropTaskNotFound = 16802;
constexpr int kNoTaskKeyRun = 16803;
constexpr int kQueryFailed = 16805;
constexpr int kQueryMissing = 16812;
constexpr int kParametersInvalid = 16814;
constexpr int kProcNameInvalid = 16815;
constexpr int kOutputFileInvalid = 16816;
constexpr int kCannotOpenOutput = 16821;
constexpr int kCannotOpenTemplate = 16822;
constexpr int kOutOfMemory = 16823;
constexpr int kNoTemplateMarker = 16826;
constexpr int kCannotWriteOutput = 16827;
constexpr int kSingleRowInvalid = 16829;
constexpr int kBlobFmtInvalid = 16830;
constexpr int kBlobFmtNoFile = 16831;
constexpr int kDatabaseInvalid = 16854;

// The page text a task may build before it is refused (16823) rather than
// grow the server without bound.
constexpr size_t kMaxPageBytes = 256 * 1024 * 1024;
// SQL Server's limit for a procedure name (sysname).
constexpr size_t kMaxProcNameChars = 128;

// The text of a Web Assistant message number.
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

// One procedure call: where its messages and DONE tokens go.
class Call {
 public:
  Call(std::string_view procedure, int line, ProcedureHost& host, ResultSink& sink)
      : procedure_(procedure), line_(line), host_(host), sink_(sink) {}

  ProcedureHost& host() { return host_; }
  ResultSink& sink() { return sink_; }
  const std::string& procedure() const { return procedure_; }
  int last_error() const { return last_error_; }

  void Send(Message m, int line) {
    m.procedure = procedure_;
    m.line = line;
    if (m.severity > 10) last_error_ = m.number;
    sink_.Send(m);
  }

  // The call was refused before the procedure ran (argument binding and
  // conversion): the error, then the EXEC statement's DONE with the error bit.
  int Refuse(Message m, bool in_procedure) {
    if (in_procedure) {
      Send(std::move(m), 0);
    } else {
      m.line = line_;
      last_error_ = m.number;
      sink_.Send(m);
    }
    Done d;
    d.status = kDoneError;
    d.current_command = kCmdExec;
    sink_.Finish(d);
    return last_error_;
  }

  // A Web Assistant error raised inside the procedure, which then returns
  // `status`: the message, the raising statement's DONEINPROC, RETURNSTATUS
  // and DONEPROC.
  int Fail(int number, int status) {
    Send(MakeMessage(number, 1, 11, WebAssistantText(number, procedure_)), 1);
    return FailWithSent(status);
  }
  int FailWithSent(int status) {
    Done in_proc;
    in_proc.kind = DoneKind::kDoneInProc;
    in_proc.status = kDoneError;
    sink_.Finish(in_proc);
    return Return(status);
  }

  int Return(int status) {
    sink_.ReturnStatus(status);
    Done d;
    d.kind = DoneKind::kDoneProc;
    d.current_command = kCmdExec;
    sink_.Finish(d);
    return last_error_;
  }

 private:
  std::string procedure_;
  int line_;
  ProcedureHost& host_;
  ResultSink& sink_;
  int last_error_ = 0;
};

// Matches arguments to parameters as SQL Server does: positional ones in
// declared order, named ones by name (case-insensitive), each at most once.
// `supplied` tells which parameters the call gave (NULL included).
bool Bind(std::span<const ParamDecl> decls, std::span<const ProcArgument> args, Call& call,
          Values* values, std::vector<bool>* supplied) {
  values->assign(decls.size(), std::nullopt);
  supplied->assign(decls.size(), false);
  for (size_t i = 0; i < args.size(); ++i) {
    const ProcArgument& a = args[i];
    size_t index = decls.size();
    if (a.name.empty()) {
      if (i >= decls.size()) {
        call.Refuse(MakeMessage(8144, 2, 16,
                                "Procedure or function " + call.procedure() +
                                    " has too many arguments specified."),
                    true);
        return false;
      }
      index = i;
    } else {
      for (size_t s = 0; s < decls.size(); ++s) {
        if (EqualsIgnoreCase(a.name, decls[s].name)) index = s;
      }
      if (index == decls.size()) {
        call.Refuse(
            MakeMessage(8145, 2, 16,
                        a.name + " is not a parameter for procedure " + call.procedure() + "."),
            true);
        return false;
      }
      if ((*supplied)[index]) {
        call.Refuse(
            MakeMessage(8143, 1, 16, "Parameter '" + a.name + "' was supplied multiple times."),
            true);
        return false;
      }
    }
    (*supplied)[index] = true;
    (*values)[index] = a.value;
  }
  return true;
}

// Parses an integer argument: digits with an optional sign, blanks around
// and a fraction that is cut off, as SQL Server converts a number or a
// numeric string to an integer parameter; an empty or blank string is 0.
std::optional<int64_t> ParseInteger(std::string_view text, bool* overflow) {
  *overflow = false;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) return 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  size_t digits = 0;
  int64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (value > (int64_t{1} << 40)) *overflow = true;
    if (!*overflow) value = value * 10 + (text[i] - '0');
    ++i;
    ++digits;
  }
  size_t fraction = 0;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++fraction;
  }
  while (i < text.size() && text[i] == ' ') ++i;
  if (i != text.size() || digits + fraction == 0) return std::nullopt;
  return negative ? -value : value;
}

// Checks the integer parameters and replaces each value by its canonical
// text; missing and NULL ones take their default.
bool ConvertIntegers(std::span<const ParamDecl> decls, Call& call, Values* values) {
  for (size_t i = 0; i < decls.size(); ++i) {
    const ParamDecl& decl = decls[i];
    std::optional<std::string>& v = (*values)[i];
    if (decl.kind == ParamKind::kText) continue;
    if (!v) {
      v = decl.default_value;
      continue;
    }
    const char* type = decl.kind == ParamKind::kTinyInt ? "tinyint" : "int";
    bool overflow = false;
    std::optional<int64_t> n = ParseInteger(*v, &overflow);
    if (!n) {
      call.Refuse(MakeMessage(8114, 5, 16,
                              std::string("Error converting data type varchar to ") + type + "."),
                  false);
      return false;
    }
    const int64_t low = decl.kind == ParamKind::kTinyInt ? 0 : INT32_MIN;
    const int64_t high = decl.kind == ParamKind::kTinyInt ? 255 : INT32_MAX;
    if (overflow || *n < low || *n > high) {
      call.Refuse(MakeMessage(220, 2, 16,
                              std::string("Arithmetic overflow error for data type ") + type +
                                  ", value = " + *v + "."),
                  false);
      return false;
    }
    v = std::to_string(*n);
  }
  return true;
}

int64_t IntOf(const Values& values, size_t index) {
  bool overflow = false;
  return ParseInteger(values[index].value_or("0"), &overflow).value_or(0);
}

bool Given(const Values& values, size_t index) {
  return values[index].has_value() && !values[index]->empty();
}

// ---- @blobfmt ----------------------------------------------------------------

// One column's entry of @blobfmt: "%n% FILE=name [TPLT=template] [URL=url]".
struct BlobFormat {
  size_t column = 0;  // 1-based
  std::string file;
  std::string templ;
  std::string url;
};

// Parses @blobfmt; answers 0 or the Web Assistant error number.
int ParseBlobFormat(std::string_view text, std::vector<BlobFormat>* formats) {
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
      ++i;
  };
  skip_blanks();
  while (i < text.size()) {
    if (text[i] != '%') return kBlobFmtInvalid;
    size_t close = text.find('%', i + 1);
    if (close == std::string_view::npos || close == i + 1 || close - i > 5) return kBlobFmtInvalid;
    BlobFormat f;
    for (size_t d = i + 1; d < close; ++d) {
      if (text[d] < '0' || text[d] > '9') return kBlobFmtInvalid;
      f.column = f.column * 10 + static_cast<size_t>(text[d] - '0');
    }
    if (f.column == 0) return kBlobFmtInvalid;
    i = close + 1;
    skip_blanks();
    while (i < text.size() && text[i] != '%') {
      size_t end = i;
      while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\n' &&
             text[end] != '\r')
        ++end;
      std::string_view word = text.substr(i, end - i);
      size_t eq = word.find('=');
      if (eq == std::string_view::npos || eq + 1 == word.size()) return kBlobFmtInvalid;
      std::string_view key = word.substr(0, eq);
      std::string value(word.substr(eq + 1));
      if (EqualsIgnoreCase(key, "FILE")) {
        f.file = value;
      } else if (EqualsIgnoreCase(key, "TPLT")) {
        f.templ = value;
      } else if (EqualsIgnoreCase(key, "URL")) {
        f.url = value;
      } else {
        return kBlobFmtInvalid;
      }
      i = end;
      skip_blanks();
    }
    if (f.file.empty()) return kBlobFmtNoFile;
    formats->push_back(std::move(f));
  }
  return 0;
}

// "dir/page.htm" with 3 gives "dir/page3.htm": the name of one of a series
// of files derived from one file name.
std::string NumberedName(std::string_view name, size_t number) {
  size_t slash = name.rfind('/');
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash) ||
      dot == (slash == std::string_view::npos ? 0 : slash + 1)) {
    return std::string(name) + std::to_string(number);
  }
  return std::string(name.substr(0, dot)) + std::to_string(number) + std::string(name.substr(dot));
}

// ---- running a task ------------------------------------------------------------

// A value as the page shows it (before escaping): the character form a
// client gets when it asks for text.
std::string CellText(const ColumnDesc& c, const Value& v) {
  if (v.is_null) return "";
  switch (sql::StorageOf(c.type.id)) {
    case sql::Storage::kInteger:
      return std::to_string(v.i);
    case sql::Storage::kMoney:
      return sql::FormatScaled(v.i, 4);
    case sql::Storage::kReal: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", v.f);
      return buf;
    }
    case sql::Storage::kDecimalText:
      return sql::FormatScaled(v.dec, c.type.scale);
    case sql::Storage::kDateTicks: {
      const bool small = c.type.id == TypeId::kSmallDateTime;
      return sql::FormatDateTime(sql::ToSerial(v.dt), small ? 120 : 121, small).value_or("");
    }
    case sql::Storage::kText:
    case sql::Storage::kWideTime:
    case sql::Storage::kOffsetText:
      return v.bytes;
    case sql::Storage::kGuid:
      return sql::GuidText(v.bytes);
    case sql::Storage::kBlob: {
      return HexDigits(v.bytes, true);
    }
  }
  return "";
}

// Receives what the task's query produces: result sets become tables of
// HTML cells; errors are remembered.
class CaptureSink : public ResultSink {
 public:
  CaptureSink(ResultSink& client, int64_t row_limit, const std::vector<BlobFormat>* blobs,
              const std::string& file_root)
      : client_(client), row_limit_(row_limit), blobs_(blobs), file_root_(file_root) {}

  void Columns(std::span<const ColumnDesc> columns) override {
    tables.emplace_back();
    columns_.assign(columns.begin(), columns.end());
    raw.emplace_back();
    for (const ColumnDesc& c : columns) tables.back().headings.push_back(HtmlEscape(c.name));
    rows_seen_ = 0;
  }

  bool Row(std::span<const Value> values) override {
    if (tables.empty()) return true;
    ++rows_seen_;
    if (row_limit_ > 0 && rows_seen_ > static_cast<uint64_t>(row_limit_)) return true;
    std::vector<std::string> cells;
    std::vector<std::string> texts;
    for (size_t i = 0; i < values.size() && i < columns_.size(); ++i) {
      std::string text = CellText(columns_[i], values[i]);
      const BlobFormat* blob = BlobFor(i + 1);
      if (blob != nullptr) {
        cells.push_back(WriteBlob(*blob, columns_[i], values[i], text));
      } else {
        cells.push_back(HtmlEscape(text));
      }
      bytes_ += cells.back().size() + text.size() + 16;
      texts.push_back(std::move(text));
    }
    if (bytes_ > kMaxPageBytes) {
      too_large = true;
      return true;
    }
    tables.back().rows.push_back(std::move(cells));
    raw.back().push_back(std::move(texts));
    return true;
  }

  void Send(const Message& m) override {
    if (m.severity > 10) ++errors;
  }
  void Finish(const Done& d) override {
    if (d.status & kDoneError) ++failed_statements;
  }
  void ReturnStatus(int32_t) override {}
  void DatabaseChanged(std::string_view, std::string_view) override {}
  void TransactionChanged(TransactionEvent, uint64_t) override {}
  bool Cancelled() override { return client_.Cancelled(); }
  bool Pause(int64_t milliseconds) override { return client_.Pause(milliseconds); }

  bool failed() const { return errors > 0 || failed_statements > 0 || blob_failed; }

  std::vector<ResultTable> tables;
  // The same cells as plain text, for the hyperlink query.
  std::vector<std::vector<std::vector<std::string>>> raw;
  int errors = 0;
  int failed_statements = 0;
  bool too_large = false;
  bool blob_failed = false;

 private:
  const BlobFormat* BlobFor(size_t column) const {
    if (blobs_ == nullptr) return nullptr;
    for (const BlobFormat& f : *blobs_) {
      if (f.column == column) return &f;
    }
    return nullptr;
  }

  // Writes one value to its own file and answers the cell's link to it.
  std::string WriteBlob(const BlobFormat& f, const ColumnDesc& c, const Value& v,
                        const std::string& text) {
    const std::string name = NumberedName(f.file, rows_seen_);
    std::string content = sql::StorageOf(c.type.id) == sql::Storage::kBlob ? v.bytes : text;
    if (!f.templ.empty()) {
      std::string templ;
      if (!ReadInRoot(file_root_, f.templ, &templ) ||
          templ.find(kTemplateMarker) == std::string::npos) {
        blob_failed = true;
        return "";
      }
      templ.replace(templ.find(kTemplateMarker), kTemplateMarker.size(), HtmlEscape(text));
      content = std::move(templ);
    }
    if (WriteInRoot(file_root_, name, content) != WriteResult::kOk) {
      blob_failed = true;
      return "";
    }
    size_t slash = name.rfind('/');
    std::string href =
        f.url.empty() ? name : f.url + (slash == std::string::npos ? name : name.substr(slash + 1));
    return "<A HREF=\"" + HtmlEscape(href) + "\">" + HtmlEscape(c.name) + "</A>";
  }

  ResultSink& client_;
  int64_t row_limit_;
  const std::vector<BlobFormat>* blobs_;
  const std::string& file_root_;
  std::vector<ColumnDesc> columns_;
  uint64_t rows_seen_ = 0;
  size_t bytes_ = 0;
};

// Writes one page file; answers 0 or the Web Assistant error number.
int WritePage(const std::string& root, const std::string& name, const std::string& page) {
  switch (WriteInRoot(root, name, page)) {
    case WriteResult::kOk:
      return 0;
    case WriteResult::kCannotOpen:
      return kCannotOpenOutput;
    case WriteResult::kCannotWrite:
      break;
  }
  return kCannotWriteOutput;
}

// Runs a stored (or just made) task: its query, its hyperlink query, and
// the page. Answers 0, -1 when the client cancelled, or the error number.
int RunTask(const Values& task, Call& call) {
  ProcedureHost& host = call.host();
  const std::string& root = host.Config().file_root;
  if (host.NestingLevel() >= kMaxNestingLevel) {
    call.Send(MakeMessage(217, 1, 16,
                          "Maximum stored procedure, function, trigger, or view nesting level "
                          "exceeded (limit 32)."),
              1);
    return 217;
  }
  std::vector<BlobFormat> blobs;
  if (Given(task, kBlobFmt)) {
    int rc = ParseBlobFormat(*task[kBlobFmt], &blobs);
    if (rc != 0) return rc;
  }
  std::string templ;
  const bool has_template = Given(task, kTemplateFile);
  if (has_template) {
    if (!ReadInRoot(root, *task[kTemplateFile], &templ)) return kCannotOpenTemplate;
    if (templ.find(kTemplateMarker) == std::string::npos) return kNoTemplateMarker;
  }

  CaptureSink data(call.sink(), IntOf(task, kRowCnt), &blobs, root);
  host.RunBatch(task[kQuery].value_or(""), data);
  if (call.sink().Cancelled()) return -1;
  if (data.too_large) return kOutOfMemory;
  if (data.failed()) {
    if (host.Config().verbose) {
      std::fprintf(stderr, "tdslite: web task query failed (%d errors)\n", data.errors);
    }
    return data.blob_failed && data.errors == 0 ? kCannotOpenOutput : kQueryFailed;
  }

  PageOptions o;
  o.title = task[kWebPageTitle].value_or("SQL Server Web Assistant");
  o.header_level = static_cast<int>(IntOf(task, kHtmlHeader));
  o.results_title = task[kResultsTitle].value_or("Query Results");
  if (IntOf(task, kLastUpdated) != 0) {
    o.last_updated = sql::FormatDateTime(sql::CurrentDateTime(), 100, false).value_or("");
  }
  o.fixed_font = IntOf(task, kFixedFont) != 0;
  o.bold = IntOf(task, kBold) != 0;
  o.italic = IntOf(task, kItalic) != 0;
  o.col_headers = IntOf(task, kColHeaders) != 0;
  o.tab_border = static_cast<int>(IntOf(task, kTabBorder));
  if (Given(task, kUrl)) o.links.emplace_back(*task[kUrl], task[kRefText].value_or(""));
  if (IntOf(task, kTableUrls) != 0) {
    CaptureSink links(call.sink(), 0, nullptr, root);
    host.RunBatch(task[kUrlQuery].value_or(""), links);
    if (call.sink().Cancelled()) return -1;
    if (links.failed()) return kQueryFailed;
    if (links.too_large) return kOutOfMemory;
    o.link_list = true;
    for (const auto& table : links.raw) {
      for (const auto& row : table) {
        if (row.empty()) continue;
        o.links.emplace_back(row[0], row.size() > 1 ? row[1] : row[0]);
      }
    }
  }

  const std::string& output = *task[kOutputFile];
  const std::string* template_text = has_template ? &templ : nullptr;
  if (IntOf(task, kSingleRow) == 0) {
    return WritePage(root, output, ComposePage(o, data.tables, template_text));
  }
  // One page per row: the first is the output file, the next ones carry
  // the numbers 2, 3, ... before the extension.
  size_t page = 0;
  for (const ResultTable& t : data.tables) {
    for (const std::vector<std::string>& row : t.rows) {
      ResultTable one;
      one.headings = t.headings;
      one.rows.push_back(row);
      ++page;
      const std::string name = page == 1 ? output : NumberedName(output, page);
      int rc = WritePage(root, name, ComposePage(o, std::span(&one, 1), template_text));
      if (rc != 0) return rc;
    }
  }
  if (page == 0) return WritePage(root, output, ComposePage(o, data.tables, template_text));
  return 0;
}

// Reports a RunTask outcome: 0 and -1 need nothing more here.
int FailTask(int rc, Call& call) {
  if (rc == 217) return call.FailWithSent(rc);
  return call.Fail(rc, rc);
}

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
