// Text pointers: the 16 bytes a text, ntext or image value carries in a row
// so that a client can name the value later (WRITETEXT). tdslite's pointer
// says which row of which table and column it came from:
//   bytes 0-7   the SQLite rowid of the row (little-endian)
//   bytes 8-11  FNV-1a hash of the table name, lower-cased
//   bytes 12-15 FNV-1a hash of the column name, lower-cased
// A value that does not come straight from a table row has rowid 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tdslite {

inline uint32_t NameHash(std::string_view name) {
  uint32_t h = 2166136261u;
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  return h;
}

inline std::string MakeTextPointer(int64_t rowid, std::string_view table, std::string_view column) {
  std::string p(16, '\0');
  uint64_t r = static_cast<uint64_t>(rowid);
  uint32_t t = NameHash(table), c = NameHash(column);
  for (int i = 0; i < 8; ++i) p[static_cast<size_t>(i)] = static_cast<char>((r >> (8 * i)) & 0xFF);
  for (int i = 0; i < 4; ++i) {
    p[static_cast<size_t>(8 + i)] = static_cast<char>((t >> (8 * i)) & 0xFF);
    p[static_cast<size_t>(12 + i)] = static_cast<char>((c >> (8 * i)) & 0xFF);
  }
  return p;
}

struct TextPointer {
  int64_t rowid = 0;
  uint32_t table_hash = 0;
  uint32_t column_hash = 0;
};

// Answers false unless `bytes` has exactly 16 bytes.
inline bool ParseTextPointer(std::string_view bytes, TextPointer* out) {
  if (bytes.size() != 16) return false;
  uint64_t r = 0;
  for (int i = 7; i >= 0; --i)
    r = (r << 8) | static_cast<unsigned char>(bytes[static_cast<size_t>(i)]);
  uint32_t t = 0, c = 0;
  for (int i = 3; i >= 0; --i) {
    t = (t << 8) | static_cast<unsigned char>(bytes[static_cast<size_t>(8 + i)]);
    c = (c << 8) | static_cast<unsigned char>(bytes[static_cast<size_t>(12 + i)]);
  }
  out->rowid = static_cast<int64_t>(r);
  out->table_hash = t;
  out->column_hash = c;
  return true;
}

}  // namespace tdslite
