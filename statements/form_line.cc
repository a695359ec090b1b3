// Formatted lines: text written piece by piece into a fixed buffer, and the
// fields of the lines KTSelectForm stores. Field widths count characters,
// not bytes, so that columns of UTF-8 text stay aligned on a terminal.
#include <cstring>

#include "statements/statements.h"

namespace ktdb {
namespace {

bool IsContinuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) {
    if (!IsContinuation(c)) ++count;
  }
  return count;
}

std::size_t PrefixBytes(std::string_view text, std::size_t characters) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsContinuation(text[i]) && seen++ == characters) return i;
  }
  return text.size();
}

std::string_view FirstCharacter(std::string_view argument) {
  if (argument.empty()) return {};
  // The lead byte tells how many bytes the character has; a sequence that
  // is not whole counts as its first byte alone.
  const auto lead = static_cast<unsigned char>(argument[0]);
  std::size_t length = 1;
  if (lead >= 0xF0) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = 3;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  if (length > argument.size()) return argument.substr(0, 1);
  for (std::size_t i = 1; i < length; ++i) {
    if (!IsContinuation(argument[i])) return argument.substr(0, 1);
  }
  return argument.substr(0, length);
}

void LineWriter::Append(std::string_view text) {
  if (overflowed_) return;
  if (text.size() > limit_ - length_) {
    overflowed_ = true;
    return;
  }
  if (!text.empty()) std::memcpy(buffer_.data() + length_, text.data(), text.size());
  length_ += text.size();
}

void LineWriter::AppendRepeated(std::string_view unit, std::size_t count) {
  if (overflowed_ || unit.empty() || count == 0) return;
  if (count > (limit_ - length_) / unit.size()) {
    overflowed_ = true;
    return;
  }
  char* out = buffer_.data() + length_;
  if (unit.size() == 1) {
    std::memset(out, unit[0], count);
  } else {
    for (std::size_t i = 0; i < count; ++i, out += unit.size()) {
      std::memcpy(out, unit.data(), unit.size());
    }
  }
  length_ += count * unit.size();
}

void LineWriter::UpperCase() {
  for (std::size_t i = 0; i < length_; ++i) buffer_[i] = UpperAscii(buffer_[i]);
}

std::string_view LineWriter::Finish() {
  // limit_ leaves room for the terminator inside the buffer.
  if (!buffer_.empty()) buffer_[length_] = '\0';
  return {buffer_.data(), length_};
}

bool IsRightAligned(int token) {
  switch (token) {
    case SYBNUMERIC:
    case SYBDECIMAL:
    case SYBINT1:
    case SYBINT2:
    case SYBINT4:
    case SYBINT8:
    case SYBFLT8:
    case SYBREAL:
      return true;
    default:
      return false;
  }
}

void AppendHeadingField(LineWriter& line, std::string_view label, std::int32_t width,
                        std::string_view fill) {
  const std::size_t characters = CharacterCount(label);
  line.Append(label);
  const std::size_t field = width > 0 ? static_cast<std::size_t>(width) : 0;
  if (characters < field) line.AppendRepeated(fill, field - characters);
  line.AppendBlanks(2);
}

bool AppendValueField(LineWriter& line, std::string_view value, std::int32_t width,
                      bool rightAligned) {
  const std::size_t field = width > 0 ? static_cast<std::size_t>(width) : 0;
  std::size_t characters = CharacterCount(value);
  const bool fits = characters <= field;
  if (!fits) {
    value = value.substr(0, PrefixBytes(value, field));
    characters = field;
  }
  if (rightAligned) {
    line.AppendBlanks(field - characters);
    line.Append(value);
  } else {
    line.Append(value);
    line.AppendBlanks(field - characters);
  }
  line.AppendBlanks(2);
  return fits;
}

}  // namespace ktdb
