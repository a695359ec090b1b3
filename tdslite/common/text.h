// Text helpers every tdslite layer uses: ASCII case folding, UTF-8 encoding,
// hex digits, and building a message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tdslite/common/result_sink.h"

namespace tdslite {

// Equal ignoring the case of ASCII letters (names, keywords); other bytes
// must match exactly.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// `s` with ASCII capitals lower-cased.
std::string AsciiLower(std::string_view s);

// Appends the UTF-8 form of a code point. Surrogates and values above
// U+10FFFF, which UTF-8 cannot carry, become U+FFFD.
void AppendUtf8(std::string* out, uint32_t code_point);

// Two hex digits per byte, without a prefix: "0A1B" (upper) or "0a1b".
std::string HexDigits(std::string_view bytes, bool upper_case);

// An ERROR or INFO message as the client gets it (line 1, no procedure).
Message MakeMessage(int number, int state, int severity, std::string text);

}  // namespace tdslite
