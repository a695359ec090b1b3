// Web task arguments: binding to parameters, integer parameters, @blobfmt.
#include <cstdio>

#include "file_root.h"
#include "html_page.h"
#include "tdslite/common/text.h"
#include "tdslite/sql/temporal.h"
#include "tdslite/sql/types.h"
#include "tdslite/sql/values.h"
#include "web_task.h"

namespace tdslite::procs::web_detail {

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

namespace {

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

}  // namespace

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

}  // namespace tdslite::procs::web_detail
