// The HTML page a web task writes: title, heading, "last updated" line,
// one table per result set and the hyperlink list, or a template's text with
// the tables put in place of its marker.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tdslite::procs {

// The marker in a template file that the result tables replace.
constexpr std::string_view kTemplateMarker = "<%insert_data_here%>";

// One result set, its cells already HTML (escaped text or a link).
struct ResultTable {
  std::vector<std::string> headings;  // escaped column names
  std::vector<std::vector<std::string>> rows;
};

struct PageOptions {
  std::string title;          // @webpagetitle
  int header_level = 1;       // @htmlheader, 1..6
  std::string results_title;  // @resultstitle
  // The "Last updated" text; empty: no such line (@lastupdated = 0).
  std::string last_updated;
  bool fixed_font = true;
  bool bold = false;
  bool italic = false;
  bool col_headers = true;
  int tab_border = 1;
  // Hyperlinks after the tables: (url, text). One from @url/@reftext, or
  // one per row of @url_query when @table_urls is 1.
  std::vector<std::pair<std::string, std::string>> links;
  bool link_list = false;  // the links came from @url_query: an item list
};

// Escapes &, <, > and " for element text and attribute values.
std::string HtmlEscape(std::string_view text);

// The whole page. With a template (`template_text` non-null), its text with
// the first marker replaced by the tables and links; the caller has checked
// that the marker is there.
std::string ComposePage(const PageOptions& options, std::span<const ResultTable> tables,
                        const std::string* template_text);

}  // namespace tdslite::procs
