#include "compile.h"

#include "tdslite/common/text.h"

#include <string>
#include <string_view>

namespace tdslite::sql {

std::string QuoteText(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) {
    return "CAST(" + QuoteBlob(text) + " AS TEXT)";
  }
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

std::string QuoteBlob(std::string_view bytes) {
  return "X'" + HexDigits(bytes, true) + "'";
}

}  // namespace tdslite::sql
