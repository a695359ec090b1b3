// Byte order helpers, the bounds-checked reader and text conversions.
#include <array>

#include "tdslite/common/text.h"
#include "tdslite/protocol/codec.h"

namespace tdslite::protocol {

void PutU8(std::string& out, uint8_t v) {
  out.push_back(static_cast<char>(v));
}

namespace {

// Appends the low `n` bytes of `v`, least significant first, in one append.
void PutLittleEndian(std::string& out, uint64_t v, size_t n) {
  char bytes[8];
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  out.append(bytes, n);
}

}  // namespace

void PutU16(std::string& out, uint16_t v) {
  PutLittleEndian(out, v, 2);
}
void PutU32(std::string& out, uint32_t v) {
  PutLittleEndian(out, v, 4);
}
void PutU64(std::string& out, uint64_t v) {
  PutLittleEndian(out, v, 8);
}
void PutU16BE(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xFF));
}
void PutU32BE(std::string& out, uint32_t v) {
  PutU16BE(out, static_cast<uint16_t>(v >> 16));
  PutU16BE(out, static_cast<uint16_t>(v & 0xFFFF));
}

namespace {

// Cuts UTF-16LE text to at most `units` code units without splitting a
// surrogate pair.
std::string_view CutUtf16(std::string_view utf16, size_t units) {
  if (utf16.size() / 2 <= units) return utf16;
  size_t bytes = units * 2;
  if (bytes >= 2) {
    uint16_t last = static_cast<uint8_t>(utf16[bytes - 2]) |
                    static_cast<uint16_t>(static_cast<uint8_t>(utf16[bytes - 1]) << 8);
    if (last >= 0xD800 && last <= 0xDBFF) bytes -= 2;
  }
  return utf16.substr(0, bytes);
}

}  // namespace

void PutBVarchar(std::string& out, std::string_view utf8) {
  std::string wide = Utf8ToUtf16(utf8);
  std::string_view cut = CutUtf16(wide, 0xFF);
  PutU8(out, static_cast<uint8_t>(cut.size() / 2));
  out.append(cut);
}

void PutUsVarchar(std::string& out, std::string_view utf8) {
  std::string wide = Utf8ToUtf16(utf8);
  std::string_view cut = CutUtf16(wide, 0xFFFF);
  PutU16(out, static_cast<uint16_t>(cut.size() / 2));
  out.append(cut);
}

uint8_t ByteReader::U8() {
  std::string_view b = Bytes(1);
  return b.empty() ? 0 : static_cast<uint8_t>(b[0]);
}
uint16_t ByteReader::U16() {
  std::string_view b = Bytes(2);
  if (b.size() < 2) return 0;
  return static_cast<uint16_t>(static_cast<uint8_t>(b[0]) | (static_cast<uint8_t>(b[1]) << 8));
}
uint16_t ByteReader::U16BE() {
  std::string_view b = Bytes(2);
  if (b.size() < 2) return 0;
  return static_cast<uint16_t>((static_cast<uint8_t>(b[0]) << 8) | static_cast<uint8_t>(b[1]));
}
uint32_t ByteReader::U32() {
  uint32_t lo = U16();
  uint32_t hi = U16();
  return lo | (hi << 16);
}
std::string_view ByteReader::Bytes(size_t n) {
  if (!ok_ || n > data_.size() - pos_) {
    ok_ = false;
    return {};
  }
  std::string_view b = data_.substr(pos_, n);
  pos_ += n;
  return b;
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at `pos`, advancing it; malformed or overlong
// sequences and surrogates yield U+FFFD and consume one byte.
char32_t NextCodePoint(std::string_view s, size_t& pos) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  uint8_t b0 = byte(pos);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++pos;
    return kReplacement;
  }
  if (s.size() - pos < len) {
    ++pos;
    return kReplacement;
  }
  for (size_t i = 1; i < len; ++i) {
    uint8_t b = byte(pos + i);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return kReplacement;
  }
  pos += len;
  return cp;
}

// Windows-1252 bytes 0x80..0x9F; 0 marks the five undefined positions.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::string Utf8ToUtf16(std::string_view utf8) {
  std::string out;
  AppendUtf16(out, utf8);
  return out;
}

void AppendUtf16(std::string& out, std::string_view utf8) {
  out.reserve(out.size() + utf8.size() * 2);
  size_t pos = 0;
  while (pos < utf8.size()) {
    // A lone surrogate (a READTEXT piece of an ntext value may begin or end
    // inside a pair) arrives in its three-byte form and goes out as its unit.
    if (static_cast<uint8_t>(utf8[pos]) == 0xED && utf8.size() - pos >= 3 &&
        (static_cast<uint8_t>(utf8[pos + 1]) & 0xE0) == 0xA0 &&
        (static_cast<uint8_t>(utf8[pos + 2]) & 0xC0) == 0x80) {
      PutU16(out, static_cast<uint16_t>(0xD000 | (static_cast<uint8_t>(utf8[pos + 1]) & 0x3F) << 6 |
                                        (static_cast<uint8_t>(utf8[pos + 2]) & 0x3F)));
      pos += 3;
      continue;
    }
    char32_t cp = NextCodePoint(utf8, pos);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      PutU16(out, static_cast<uint16_t>(0xD800 + (cp >> 10)));
      PutU16(out, static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      PutU16(out, static_cast<uint16_t>(cp));
    }
  }
}

std::string Utf16ToUtf8(std::string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  size_t units = utf16.size() / 2;
  auto unit = [&](size_t i) {
    return static_cast<char16_t>(static_cast<uint8_t>(utf16[2 * i]) |
                                 (static_cast<uint8_t>(utf16[2 * i + 1]) << 8));
  };
  for (size_t i = 0; i < units; ++i) {
    char16_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      char16_t v = unit(i + 1);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        AppendUtf8(&out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (v - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(&out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  AppendCp1252(out, utf8);
  return out;
}

void AppendCp1252(std::string& out, std::string_view utf8) {
  out.reserve(out.size() + utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    // ASCII is the same in both: copy runs of it at once.
    size_t run = pos;
    while (run < utf8.size() && static_cast<uint8_t>(utf8[run]) < 0x80) ++run;
    if (run > pos) {
      out.append(utf8.substr(pos, run - pos));
      pos = run;
      continue;
    }
    char32_t cp = NextCodePoint(utf8, pos);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    char mapped = '?';
    for (size_t i = 0; i < kCp1252High.size(); ++i) {
      if (kCp1252High[i] != 0 && kCp1252High[i] == cp) {
        mapped = static_cast<char>(0x80 + i);
        break;
      }
    }
    out.push_back(mapped);
  }
}

size_t Utf16Units(std::string_view utf8) {
  size_t units = 0;
  size_t pos = 0;
  while (pos < utf8.size()) units += NextCodePoint(utf8, pos) >= 0x10000 ? 2 : 1;
  return units;
}

}  // namespace tdslite::protocol
