#include <exception>
#include <new>

#include "builtins.h"
#include "catalog_views.h"
#include "functions_internal.h"

namespace tdslite::sql {

std::string EncodeError(int number, int state, int severity, std::string_view text) {
  return "\x01tds|" + std::to_string(number) + "|" + std::to_string(state) + "|" +
         std::to_string(severity) + "|" + std::string(text);
}

bool DecodeError(std::string_view m, Message* out) {
  if (m.rfind("\x01tds|", 0) != 0) return false;
  m.remove_prefix(5);
  int fields[3] = {0, 0, 0};
  for (int& f : fields) {
    size_t bar = m.find('|');
    if (bar == std::string_view::npos) return false;
    f = std::atoi(std::string(m.substr(0, bar)).c_str());
    m.remove_prefix(bar + 1);
  }
  out->number = fields[0];
  out->state = static_cast<uint8_t>(fields[1]);
  out->severity = static_cast<uint8_t>(fields[2]);
  out->text = std::string(m);
  return true;
}

namespace function_detail {

std::string ValueText(sqlite3_value* v) {
  const unsigned char* p = sqlite3_value_text(v);
  int n = sqlite3_value_bytes(v);
  return p == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(p), n);
}

std::string ValueBlob(sqlite3_value* v) {
  const void* p = sqlite3_value_blob(v);
  int n = sqlite3_value_bytes(v);
  return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
}

// Reads a value of SQL Server type `t` from SQLite.
Datum Read(sqlite3_value* v, const ColumnType& t) {
  Datum d;
  d.storage = StorageOf(t.id);
  if (sqlite3_value_type(v) == SQLITE_NULL) return d;
  d.null = false;
  switch (d.storage) {
    case Storage::kInteger:
    case Storage::kMoney:
    case Storage::kDateTicks:
    case Storage::kWideTime:
      if (sqlite3_value_type(v) == SQLITE_FLOAT) {
        d.i = static_cast<int64_t>(std::llround(sqlite3_value_double(v)));
      } else {
        d.i = sqlite3_value_int64(v);
      }
      break;
    case Storage::kReal:
      d.f = sqlite3_value_double(v);
      break;
    case Storage::kDecimalText: {
      if (sqlite3_value_type(v) == SQLITE_INTEGER) {
        d.dec = sqlite3_value_int64(v);
        d.scale = 0;
      } else if (!ParseCanonical(ValueText(v), &d.dec, &d.scale)) {
        d.dec = 0;
        d.scale = 0;
      }
      break;
    }
    case Storage::kText:
    case Storage::kOffsetText:
      d.s = ValueText(v);
      break;
    case Storage::kBlob:
    case Storage::kGuid:
      d.s = ValueBlob(v);
      break;
  }
  return d;
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void Fail(sqlite3_context* ctx, const Message& m) {
  std::string e = EncodeError(m.number, m.state, m.severity, m.text);
  sqlite3_result_error(ctx, e.data(), static_cast<int>(e.size()));
}

Message Overflow(const ColumnType& to) {
  return MakeMessage(
      8115, 2, 16,
      "Arithmetic overflow error converting expression to data type " + TypeName(to.id) + ".");
}

bool IntegerFits(int64_t v, TypeId id) {
  switch (id) {
    case TypeId::kTinyInt:
      return v >= 0 && v <= 255;
    case TypeId::kSmallInt:
      return v >= -32768 && v <= 32767;
    case TypeId::kInt:
      return v >= INT32_MIN && v <= INT32_MAX;
    default:
      return true;
  }
}

// 922,337,203,685,477.5807 is the largest money; smallmoney is +-214,748.3647.
bool MoneyFits(Int128 units, TypeId id) {
  if (id == TypeId::kSmallMoney) return units >= INT32_MIN && units <= INT32_MAX;
  return units >= std::numeric_limits<int64_t>::min() &&
         units <= std::numeric_limits<int64_t>::max();
}

bool IsBlank(std::string_view s) {
  for (char c : s) {
    if (c != ' ') return false;
  }
  return true;
}

std::string Trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\n' || s[a] == '\r')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\n' || s[b - 1] == '\r'))
    --b;
  return std::string(s.substr(a, b - a));
}

// Decodes one UTF-8 code point; advances *i.
uint32_t NextCodePoint(std::string_view s, size_t* i) {
  unsigned char c = static_cast<unsigned char>(s[*i]);
  int len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
  uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  if (*i + static_cast<size_t>(len) > s.size()) {
    ++*i;
    return c;
  }
  for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[*i + k]) & 0x3F);
  *i += static_cast<size_t>(len);
  return cp;
}

bool FitsValueLimit(sqlite3_context* ctx, uint64_t bytes) {
  const int limit = sqlite3_limit(sqlite3_context_db_handle(ctx), SQLITE_LIMIT_LENGTH, -1);
  if (bytes <= static_cast<uint64_t>(limit)) return true;
  sqlite3_result_error_toobig(ctx);
  return false;
}

void ReportException(sqlite3_context* ctx) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_toobig(ctx);
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  } catch (...) {
    sqlite3_result_error(ctx, "unknown failure", -1);
  }
}

bool AnyNull(int argc, sqlite3_value** argv) {
  for (int k = 0; k < argc; ++k) {
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) return true;
  }
  return false;
}

}  // namespace function_detail

using namespace function_detail;

bool RegisterFunctions(sqlite3* db, FunctionContext* context) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int rc = SQLITE_OK;
  // What operators, conversions and comparisons compile to.
  auto add = [&](const char* name, int args, void (*fn)(sqlite3_context*, int, sqlite3_value**)) {
    if (rc == SQLITE_OK)
      rc = sqlite3_create_function(db, name, args, flags, nullptr, fn, nullptr, nullptr);
  };
  add("tds_cvt", 5, Guarded<CvtFunc>);
  add("tds_op", 4, Guarded<OpFunc>);
  add("tds_ops", -1, Guarded<OpsFunc>);
  add("tds_neg", 2, Guarded<NegFunc>);
  add("tds_like", 2, Guarded<LikeFunc>);
  add("tds_like", 3, Guarded<LikeFunc>);
  // What the built-in functions compile to.
  for (const Builtin& b : Builtins()) {
    for (const SqliteFunction& f : b.runtime) {
      if (f.name == nullptr || rc != SQLITE_OK) continue;
      rc = sqlite3_create_function(db, f.name, f.args, f.per_statement ? SQLITE_UTF8 : flags,
                                   f.per_statement ? context : nullptr, f.scalar, f.step, f.final);
    }
  }
  if (rc == SQLITE_OK && !RegisterWindowFunctions(db)) rc = SQLITE_ERROR;
  if (rc == SQLITE_OK && !RegisterCatalogFunctions(db)) rc = SQLITE_ERROR;
  if (rc == SQLITE_OK && !RegisterMiscFunctions(db)) rc = SQLITE_ERROR;
  if (rc == SQLITE_OK) rc = sqlite3_create_collation(db, "TDSCI", SQLITE_UTF8, nullptr, CompareCi);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_collation(db, "TDSDEC", SQLITE_UTF8, nullptr, CompareDecimal);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_collation(db, "TDSDTO", SQLITE_UTF8, nullptr, CompareOffsetKeys);
  }
  return rc == SQLITE_OK;
}

}  // namespace tdslite::sql
