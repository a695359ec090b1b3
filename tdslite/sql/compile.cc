#include "compile.h"

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
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "X'";
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  out += '\'';
  return out;
}

}  // namespace tdslite::sql
