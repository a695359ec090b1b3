// The texts a login is made of: user name, password and server name, each
// checked against DB-Library's limits before it is handed over.
#include <algorithm>
#include <cstring>

#include "server/server.h"

namespace ktdb {
namespace {

// DB-Library takes terminated texts: a NUL byte inside one would cut it
// silently, so such a text is refused rather than sent cut.
bool Acceptable(std::string_view text) {
  return text.size() < kLoginTextSize && text.find('\0') == std::string_view::npos;
}

}  // namespace

bool CopyLoginText(std::span<char> field, std::string_view text) {
  return Acceptable(text) && CopyBounded(field, text);
}

bool FormServerName(std::span<char> field, std::string_view server) {
  if (!Acceptable(server) || !CopyBounded(field, server)) return false;
  // SQL Server's own clients write "host,port"; FreeTDS understands only
  // "host:port". The comma is taken as the port separator when only digits
  // follow it.
  const std::size_t comma = server.rfind(',');
  if (comma == std::string_view::npos || comma == 0) return true;
  const std::string_view port = server.substr(comma + 1);
  if (port.empty() || port.size() > 5) return true;
  if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return true;
  }
  field[comma] = ':';
  return true;
}

}  // namespace ktdb
