// Running a web task: its queries into HTML tables, blob files, its pages.
#include <cstdio>

#include "file_root.h"
#include "html_page.h"
#include "tdslite/common/text.h"
#include "tdslite/sql/temporal.h"
#include "tdslite/sql/types.h"
#include "tdslite/sql/value_text.h"
#include "tdslite/sql/values.h"
#include "web_task.h"

namespace tdslite::procs::web_detail {

namespace {

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
      std::string text = sql::ValueAsText(columns_[i], values[i]);
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

}  // namespace

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

}  // namespace tdslite::procs::web_detail
