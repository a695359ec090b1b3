// uniqueidentifier: its wire, key and text forms, its conversions and newid().
#include <random>

#include "date_functions_internal.h"

namespace tdslite::sql {

std::string GuidText(std::string_view wire) {
  if (wire.size() != 16) return std::string();
  return function_detail::GuidTextFromWire(wire);
}

std::string GuidWire(std::string_view key) {
  return function_detail::GuidWireFromKey(key);
}

namespace function_detail {

namespace {

// The order of the wire bytes in the stored key: uniqueidentifier values
// sort by their last six bytes first, then bytes 8-9, 6-7, 4-5 and 0-3.
constexpr int kGuidOrder[16] = {10, 11, 12, 13, 14, 15, 8, 9, 6, 7, 4, 5, 0, 1, 2, 3};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string GuidKeyFromWire(std::string_view wire) {
  std::string key(16, '\0');
  for (int k = 0; k < 16; ++k)
    key[static_cast<size_t>(k)] = wire[static_cast<size_t>(kGuidOrder[k])];
  return key;
}

std::string GuidWireFromKey(std::string_view key) {
  std::string wire(16, '\0');
  if (key.size() != 16) return wire;
  for (int k = 0; k < 16; ++k)
    wire[static_cast<size_t>(kGuidOrder[k])] = key[static_cast<size_t>(k)];
  return wire;
}

// "6F9619FF-8B86-D011-B42D-00C04FC964FF": the first three groups are
// little-endian numbers on the wire, the last two bytes as written.
std::optional<std::string> GuidWireFromText(std::string_view text) {
  // Only the first 36 characters count, as on SQL Server; braces may
  // surround them.
  std::string_view s = text;
  if (!s.empty() && s[0] == '{') {
    if (s.size() < 38 || s[37] != '}') return std::nullopt;
    s = s.substr(1, 36);
  }
  if (s.size() < 36) return std::nullopt;
  s = s.substr(0, 36);
  uint8_t bytes[16];
  size_t at = 0;
  for (int k = 0; k < 16; ++k) {
    if (at == 8 || at == 13 || at == 18 || at == 23) {
      if (s[at] != '-') return std::nullopt;
      ++at;
    }
    int hi = HexValue(s[at]), lo = HexValue(s[at + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[k] = static_cast<uint8_t>(hi * 16 + lo);
    at += 2;
  }
  static constexpr int kWireIndex[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string wire(16, '\0');
  for (int k = 0; k < 16; ++k)
    wire[static_cast<size_t>(kWireIndex[k])] = static_cast<char>(bytes[k]);
  return wire;
}

std::string GuidTextFromWire(std::string_view wire) {
  static constexpr int kTextIndex[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (int k = 0; k < 16; ++k) {
    if (k == 4 || k == 6 || k == 8 || k == 10) out.push_back('-');
    const auto b = static_cast<uint8_t>(wire[static_cast<size_t>(kTextIndex[k])]);
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

void ConvertGuid(sqlite3_context* ctx, const Datum& d, const ColumnType& from,
                 const ColumnType& to) {
  std::string wire;
  switch (d.storage) {
    case Storage::kGuid:
      sqlite3_result_blob(ctx, d.s.data(), static_cast<int>(d.s.size()), SQLITE_TRANSIENT);
      return;
    case Storage::kText: {
      auto w = GuidWireFromText(Trim(d.s));
      if (!w) {
        throw Failure{MakeMessage(
            8169, 2, 16,
            "Conversion failed when converting from a character string to uniqueidentifier.")};
      }
      wire = *w;
      break;
    }
    case Storage::kBlob:
      wire = d.s;
      wire.resize(16, '\0');
      break;
    default:
      throw Failure{NotAllowed(from, to)};
  }
  std::string key = GuidKeyFromWire(wire);
  sqlite3_result_blob(ctx, key.data(), 16, SQLITE_TRANSIENT);
}

// newid(): a random (version 4) uniqueidentifier.
void NewIdFunc(sqlite3_context* ctx, int, sqlite3_value**) {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  std::string wire(16, '\0');
  for (size_t k = 0; k < 16; k += 8) {
    uint64_t r = engine();
    for (size_t j = 0; j < 8; ++j) wire[k + j] = static_cast<char>(r >> (8 * j));
  }
  wire[7] = static_cast<char>((wire[7] & 0x0F) | 0x40);  // version 4 (data3's high byte)
  wire[8] = static_cast<char>((wire[8] & 0x3F) | 0x80);  // variant
  std::string key = GuidKeyFromWire(wire);
  sqlite3_result_blob(ctx, key.data(), 16, SQLITE_TRANSIENT);
}

}  // namespace function_detail
}  // namespace tdslite::sql
