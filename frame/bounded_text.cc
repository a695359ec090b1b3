// Bounded copies into fixed fields, and decimal number texts.
#include <charconv>
#include <cstring>

#include "frame/frame.h"

namespace ktdb {

bool CopyBounded(std::span<char> field, std::string_view text) {
  // The terminator needs one byte behind the text.
  if (field.empty() || text.size() > field.size() - 1) return false;
  if (!text.empty()) std::memcpy(field.data(), text.data(), text.size());
  field[text.size()] = '\0';
  return true;
}

std::size_t CopyCut(std::span<char> field, const char* text) {
  if (field.empty()) return 0;
  const std::size_t limit = field.size() - 1;
  std::size_t length = text == nullptr ? 0 : strnlen(text, field.size());
  if (length > limit) {
    length = limit;
    // Back off to the start of a UTF-8 sequence so that no character is cut
    // in half: continuation bytes are 10xxxxxx.
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  if (length > 0) std::memcpy(field.data(), text, length);
  field[length] = '\0';
  return length;
}

DecimalText Decimal(std::int32_t value) {
  DecimalText text{};
  // The room before the terminator holds any 32-bit value with its sign, so
  // this cannot fail.
  const auto [end, ec] =
      std::to_chars(text.digits.data(), text.digits.data() + kDecimalTextSize - 1, value);
  text.length = ec == std::errc() ? static_cast<std::size_t>(end - text.digits.data()) : 0;
  text.digits[text.length] = '\0';
  return text;
}

}  // namespace ktdb
