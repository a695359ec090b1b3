// The statement argument: the SQL text itself, or the name of a REXX
// variable that holds it.
#include <cstring>

#include "statements/statements.h"

namespace ktdb {

bool StatementArgumentFits(std::string_view argument) {
  return argument.size() < kNameBufferSize && argument.find('\0') == std::string_view::npos;
}

std::optional<std::size_t> TakeStatement(std::string_view argument) {
  // The caller has checked the argument with StatementArgumentFits.
  if (!CopyBounded(NameBuffer, argument)) return std::nullopt;
  // A blank anywhere (a tab is no blank) makes the argument the statement.
  if (argument.find(' ') != std::string_view::npos) return argument.size();

  // A single word names a variable; a stem name is refused without asking
  // the pool.
  if (argument.back() == '.') return std::nullopt;
  for (std::size_t i = 0; i < argument.size(); ++i) NameBuffer[i] = UpperAscii(NameBuffer[i]);
  // A direct fetch: a compound name is taken literally. A variable without a
  // value delivers its own name, which is sent as the statement.
  const std::optional<std::size_t> length =
      FetchVariable(std::string_view(NameBuffer.data(), argument.size()));
  if (!length || *length == 0) return std::nullopt;
  // A NUL byte would cut the statement dbcmd sends.
  if (std::memchr(ValueBuffer.data(), '\0', *length) != nullptr) return std::nullopt;
  // At most kFetchLimit bytes: always fits.
  if (!CopyBounded(NameBuffer, std::string_view(ValueBuffer.data(), *length))) return std::nullopt;
  return *length;
}

void SetNullSubstitute(std::string_view argument) {
  NullSubstitute[0] = '\0';
  if (argument.empty()) return;
  // One character: in UTF-8 its lead byte tells how many bytes it has.
  const auto lead = static_cast<unsigned char>(argument[0]);
  std::size_t length = 1;
  if (lead >= 0xF0) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = 3;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  if (length > argument.size()) length = 1;
  CopyBounded(NullSubstitute, argument.substr(0, length));
}

}  // namespace ktdb
