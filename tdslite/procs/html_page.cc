#include "html_page.h"

#include "tdslite/sql/markup_escape.h"

namespace tdslite::procs {
namespace {

// The data part: every table, then the hyperlinks.
std::string ComposeData(const PageOptions& o, std::span<const ResultTable> tables) {
  std::string open, close;
  if (o.fixed_font) {
    open += "<TT>";
    close.insert(0, "</TT>");
  }
  if (o.bold) {
    open += "<B>";
    close.insert(0, "</B>");
  }
  if (o.italic) {
    open += "<I>";
    close.insert(0, "</I>");
  }
  std::string out;
  for (const ResultTable& t : tables) {
    out += "<P>\n<TABLE BORDER=" + std::to_string(o.tab_border) + ">\n";
    if (o.col_headers) {
      out += "<TR>";
      for (const std::string& h : t.headings) out += "<TH ALIGN=LEFT>" + h + "</TH>";
      out += "</TR>\n";
    }
    for (const std::vector<std::string>& row : t.rows) {
      out += "<TR>";
      for (const std::string& cell : row) out += "<TD>" + open + cell + close + "</TD>";
      out += "</TR>\n";
    }
    out += "</TABLE>\n";
  }
  if (!o.links.empty()) {
    out += "<HR>\n";
    if (o.link_list) out += "<UL>\n";
    for (const auto& [url, text] : o.links) {
      out += std::string(o.link_list ? "<LI>" : "") + "<A HREF=\"" + HtmlEscape(url) + "\">" +
             HtmlEscape(text) + "</A>\n";
    }
    if (o.link_list) out += "</UL>\n";
  }
  return out;
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  return sql::EscapeMarkup(text, {{'"', "&quot;"}});
}

std::string ComposePage(const PageOptions& o, std::span<const ResultTable> tables,
                        const std::string* template_text) {
  std::string data = ComposeData(o, tables);
  if (template_text != nullptr) {
    std::string page = *template_text;
    size_t at = page.find(kTemplateMarker);
    if (at != std::string::npos) page.replace(at, kTemplateMarker.size(), data);
    return page;
  }
  const std::string level = std::to_string(o.header_level);
  std::string page =
      "<HTML>\n<HEAD>\n<TITLE>" + HtmlEscape(o.title) + "</TITLE>\n</HEAD>\n<BODY>\n";
  page += "<H" + level + ">" + HtmlEscape(o.results_title) + "</H" + level + ">\n<HR>\n";
  if (!o.last_updated.empty()) page += "<P>Last updated: " + HtmlEscape(o.last_updated) + "\n";
  page += data;
  page += "</BODY>\n</HTML>\n";
  return page;
}

}  // namespace tdslite::procs
