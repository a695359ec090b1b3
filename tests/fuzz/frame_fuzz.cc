// The argument helpers of the call frame with arbitrary input: ParseDecimal,
// the stem name composition and the bounded copies. Beyond "no crash, no
// out-of-bounds access", each checks the property its callers rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "frame/frame.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckParseDecimal(std::string_view text) {
  std::int32_t out = 12345;
  if (!ktdb::ParseDecimal(text, out)) {
    Require(out == 12345);  // a rejected text leaves the default alone
    return;
  }
  // Accepted: "-" and 1 to 9 digits, nothing else, and the value is theirs.
  const std::string_view digits = !text.empty() && text[0] == '-' ? text.substr(1) : text;
  Require(!digits.empty() && digits.size() <= 9);
  std::int64_t value = 0;
  for (char c : digits) {
    Require(c >= '0' && c <= '9');
    value = value * 10 + (c - '0');
  }
  Require(out == (text[0] == '-' ? -value : value));
  // Formatting it back gives the same number.
  std::int32_t again = 0;
  Require(ktdb::ParseDecimal(ktdb::Decimal(out).View(), again) && again == out);
}

void CheckStemName(std::string_view stem, std::string_view suffix, std::size_t size) {
  std::string buffer(size, '\x7f');
  buffer.push_back('#');  // a guard byte behind the buffer
  ktdb::StemName name(std::span<char>(buffer.data(), size));
  if (!name.SetStem(stem)) {
    Require(stem.size() + 1 > size);
    Require(buffer[size] == '#');
    return;
  }
  const bool fits = name.SetSuffix(suffix);
  Require(fits == (stem.size() + suffix.size() + 1 <= size));
  const std::string_view composed = name.Name();
  Require(composed.size() <= size);
  Require(composed.size() == stem.size() + (fits ? suffix.size() : 0));
  for (std::size_t i = 0; i < stem.size(); ++i) Require(composed[i] == ktdb::UpperAscii(stem[i]));
  Require(buffer[size] == '#');
}

void CheckCopies(std::string_view text, std::size_t size) {
  std::string field(size, 'x');
  field.push_back('#');
  const bool copied = ktdb::CopyBounded(std::span<char>(field.data(), size), text);
  Require(copied == (text.size() + 1 <= size));
  Require(field[size] == '#');
  // CopyCut takes a terminated text: cut at the first NUL.
  const std::string terminated(text.data(), strnlen(text.data(), text.size()));
  const std::size_t length = ktdb::CopyCut(std::span<char>(field.data(), size), terminated.c_str());
  Require(size == 0 ? length == 0 : length < size);
  Require(length <= terminated.size());
  Require(field[size] == '#');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t bufferSize = data[0] % 64;
  const std::size_t split = size > 2 ? data[1] % (size - 1) : 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  CheckParseDecimal(rest);
  CheckStemName(rest.substr(0, split), rest.substr(std::min(split, rest.size())), bufferSize);
  CheckCopies(rest, bufferSize);
  return 0;
}
