// isnumeric, patindex, soundex, translate, checksum, string_agg and the
// conversion of try_cast / try_convert.
#include <algorithm>
#include <memory>

#include "functions_internal.h"

namespace tdslite::sql {
namespace function_detail {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// What SQL Server's isnumeric accepts: a text that converts to int,
// decimal, money or float, currency sign, commas, a lone sign or point
// included.
bool LooksNumeric(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  if (s.empty()) return false;
  // The money form: [sign] [$] [sign] digits and commas [. digits]
  {
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (i < s.size() && s[i] == '$') ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-') && (i == 0 || s[i - 1] == '$')) ++i;
    while (i < s.size() && (IsDigit(s[i]) || s[i] == ',')) ++i;
    if (i < s.size() && s[i] == '.') {
      ++i;
      while (i < s.size() && IsDigit(s[i])) ++i;
    }
    if (i == s.size()) return true;
  }
  // The float form: [sign] mantissa e|d [sign] digits
  size_t i = 0;
  if (s[i] == '+' || s[i] == '-') ++i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0 || i >= s.size()) return false;
  if (s[i] != 'e' && s[i] != 'E' && s[i] != 'd' && s[i] != 'D') return false;
  ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  const size_t exp_start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  return i == s.size() && i > exp_start;
}

char SoundexCode(uint32_t c) {
  switch (c) {
    case 'B':
    case 'F':
    case 'P':
    case 'V':
      return '1';
    case 'C':
    case 'G':
    case 'J':
    case 'K':
    case 'Q':
    case 'S':
    case 'X':
    case 'Z':
      return '2';
    case 'D':
    case 'T':
      return '3';
    case 'L':
      return '4';
    case 'M':
    case 'N':
      return '5';
    case 'R':
      return '6';
    default:
      return '0';
  }
}

uint32_t UpperAscii(uint32_t c) {
  return c >= 'a' && c <= 'z' ? c - 32 : c;
}

// string_agg's rows: the values with their WITHIN GROUP keys.
struct AggRow {
  std::string value;
  std::vector<sqlite3_value*> keys;  // copies (sqlite3_value_dup)
};

struct AggState {
  std::vector<AggRow> rows;
  std::string separator;
  std::string key_kinds;  // per key: n/N number, t/T text, d/D decimal; capital: descending
  uint64_t bytes = 0;
};

void FreeRows(AggState* st) {
  for (AggRow& r : st->rows) {
    for (sqlite3_value* v : r.keys) sqlite3_value_free(v);
  }
  st->rows.clear();
}

int CompareKey(sqlite3_value* a, sqlite3_value* b, char kind) {
  const bool an = sqlite3_value_type(a) == SQLITE_NULL, bn = sqlite3_value_type(b) == SQLITE_NULL;
  if (an || bn) return an == bn ? 0 : (an ? -1 : 1);  // NULL sorts first
  const char k = static_cast<char>(kind | 0x20);
  if (k == 't' || k == 'd') {
    const std::string x = ValueText(a), y = ValueText(b);
    return k == 't' ? CompareCi(nullptr, static_cast<int>(x.size()), x.data(),
                                static_cast<int>(y.size()), y.data())
                    : CompareDecimal(nullptr, static_cast<int>(x.size()), x.data(),
                                     static_cast<int>(y.size()), y.data());
  }
  if (sqlite3_value_type(a) == SQLITE_INTEGER && sqlite3_value_type(b) == SQLITE_INTEGER) {
    const int64_t x = sqlite3_value_int64(a), y = sqlite3_value_int64(b);
    return x < y ? -1 : x > y;
  }
  if (sqlite3_value_type(a) == SQLITE_BLOB || sqlite3_value_type(b) == SQLITE_BLOB ||
      sqlite3_value_type(a) == SQLITE_TEXT) {
    const std::string x = ValueBlob(a), y = ValueBlob(b);
    return x.compare(y) < 0 ? -1 : x.compare(y) > 0;
  }
  const double x = sqlite3_value_double(a), y = sqlite3_value_double(b);
  return x < y ? -1 : x > y;
}

AggState** StateOf(sqlite3_context* ctx, bool create) {
  return static_cast<AggState**>(sqlite3_aggregate_context(ctx, create ? sizeof(AggState*) : 0));
}

// tds_stragg(value, separator, limit, key_kinds, key...)
void StringAggStep(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  AggState** slot = StateOf(ctx, true);
  if (slot == nullptr) {
    sqlite3_result_error_nomem(ctx);
    return;
  }
  if (*slot == nullptr) {
    *slot = new AggState();
    (*slot)->key_kinds = ValueText(argv[3]);
  }
  AggState* st = *slot;
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return;
  AggRow row;
  row.value = ValueText(argv[0]);
  if (st->rows.empty()) st->separator = ValueText(argv[1]);
  // The limit counts characters (UTF-16 units): 8000 varchar bytes, 4000
  // nvarchar characters.
  st->bytes += static_cast<uint64_t>(Utf16Length(row.value) + Utf16Length(st->separator));
  const int64_t limit = sqlite3_value_int64(argv[2]);
  if (st->bytes > static_cast<uint64_t>(limit + Utf16Length(st->separator))) {
    Fail(ctx, MakeMessage(9829, 1, 16,
                          "STRING_AGG aggregation result exceeded the limit of 8000 bytes. Use "
                          "LOB types to avoid result truncation."));
    return;
  }
  for (int k = 4; k < argc; ++k) {
    sqlite3_value* v = sqlite3_value_dup(argv[k]);
    if (v == nullptr) {
      for (sqlite3_value* x : row.keys) sqlite3_value_free(x);
      sqlite3_result_error_nomem(ctx);
      return;
    }
    row.keys.push_back(v);
  }
  st->rows.push_back(std::move(row));
}

void StringAggFinal(sqlite3_context* ctx) {
  AggState** slot = StateOf(ctx, false);
  if (slot == nullptr || *slot == nullptr) {
    sqlite3_result_null(ctx);
    return;
  }
  std::unique_ptr<AggState> st(*slot);
  *slot = nullptr;
  struct Free {
    AggState* s;
    ~Free() { FreeRows(s); }
  } free_rows{st.get()};
  if (st->rows.empty()) {
    sqlite3_result_null(ctx);
    return;
  }
  const std::string& key_kinds = st->key_kinds;
  std::stable_sort(st->rows.begin(), st->rows.end(), [&](const AggRow& a, const AggRow& b) {
    for (size_t k = 0; k < key_kinds.size() && k < a.keys.size(); ++k) {
      int c = CompareKey(a.keys[k], b.keys[k], key_kinds[k]);
      if (key_kinds[k] >= 'A' && key_kinds[k] <= 'Z') c = -c;
      if (c != 0) return c < 0;
    }
    return false;
  });
  std::string out;
  for (size_t i = 0; i < st->rows.size(); ++i) {
    if (i > 0) out += st->separator;
    out += st->rows[i].value;
  }
  ResultText(ctx, out);
}

// tds_trycvt: tds_cvt that answers NULL where the conversion fails.
void TryCvtFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc != 5) return;
  ColumnType from = UnpackType(sqlite3_value_int64(argv[1]));
  ColumnType to = UnpackType(sqlite3_value_int64(argv[2]));
  int style = sqlite3_value_type(argv[3]) == SQLITE_NULL ? -1 : sqlite3_value_int(argv[3]);
  try {
    Convert(ctx, Read(argv[0], from), from, to, style, false);
  } catch (const Failure&) {
    sqlite3_result_null(ctx);
  }
}

}  // namespace

// tds_isnumeric(text)
void IsNumericFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_int(ctx, 0);
    return;
  }
  sqlite3_result_int(ctx, LooksNumeric(ValueText(argv[0])) ? 1 : 0);
}

// tds_patindex(pattern, text): where the pattern first matches, 0 if nowhere.
void PatIndexFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(2, argv)) {
    sqlite3_result_null(ctx);
    return;
  }
  const std::vector<uint32_t> p = CodePoints(ValueText(argv[0]));
  const std::vector<uint32_t> s = CodePoints(ValueText(argv[1]));
  const std::vector<LikeToken> t = LikeTokens(p, -1);
  if (t.empty() || t[0].kind != LikeToken::kAnyString) {
    sqlite3_result_int64(ctx, LikeMatch(t, 0, p, s, 0) ? 1 : 0);
    return;
  }
  for (size_t i = 0; i < s.size(); ++i) {
    if (LikeMatch(t, 1, p, s, i)) {
      sqlite3_result_int64(ctx, static_cast<int64_t>(i) + 1);
      return;
    }
  }
  // '%' alone matches the empty text at 1; anything else found nothing.
  sqlite3_result_int64(ctx, t.size() == 1 && s.empty() ? 1 : 0);
}

// tds_soundex(text): a letter and three digits.
void SoundexFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const std::vector<uint32_t> s = CodePoints(ValueText(argv[0]));
  size_t i = 0;
  while (i < s.size() && !(UpperAscii(s[i]) >= 'A' && UpperAscii(s[i]) <= 'Z')) ++i;
  if (i == s.size()) {
    ResultText(ctx, "");
    return;
  }
  std::string out(1, static_cast<char>(UpperAscii(s[i])));
  char last = SoundexCode(UpperAscii(s[i]));
  for (++i; i < s.size() && out.size() < 4; ++i) {
    const uint32_t c = UpperAscii(s[i]);
    if (c < 'A' || c > 'Z') break;
    if (c == 'H' || c == 'W') continue;  // they do not part two equal codes
    const char code = SoundexCode(c);
    if (code != '0' && code != last) out += code;
    last = code;
  }
  out.resize(4, '0');
  ResultText(ctx, out);
}

// tds_translate(text, from, to): each character of `from` becomes the one
// at its place in `to` (compared as the collation compares).
void TranslateFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(3, argv)) {
    sqlite3_result_null(ctx);
    return;
  }
  const std::vector<uint32_t> from = CodePoints(ValueText(argv[1]));
  const std::vector<uint32_t> to = CodePoints(ValueText(argv[2]));
  if (from.size() != to.size()) {
    Fail(ctx, MakeMessage(9828, 1, 16,
                          "The second and third arguments of the TRANSLATE built-in function "
                          "must contain an equal number of characters."));
    return;
  }
  const std::string text = ValueText(argv[0]);
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const size_t start = i;
    const uint32_t c = NextCodePoint(text, &i);
    size_t k = 0;
    while (k < from.size() && Fold(from[k]) != Fold(c)) ++k;
    if (k == from.size()) {
      out.append(text, start, i - start);
    } else {
      AppendUtf8(&out, to[k]);
    }
  }
  ResultText(ctx, out);
}

// tds_checksum(binary, value...): a hash of the values; text compared as the
// collation compares (case and trailing spaces ignored) unless `binary`.
void ChecksumFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const bool binary = sqlite3_value_int(argv[0]) != 0;
  uint32_t h = 0;
  for (int k = 1; k < argc; ++k) {
    uint32_t v = 2166136261u;
    auto mix = [&](unsigned char b) { v = (v ^ b) * 16777619u; };
    switch (sqlite3_value_type(argv[k])) {
      case SQLITE_NULL:
        v = 0x7fffffffu;
        break;
      case SQLITE_TEXT: {
        std::string s = ValueText(argv[k]);
        while (!s.empty() && s.back() == ' ') s.pop_back();
        size_t i = 0;
        std::string folded;
        while (i < s.size())
          AppendUtf8(&folded, binary ? NextCodePoint(s, &i) : Fold(NextCodePoint(s, &i)));
        for (char c : folded) mix(static_cast<unsigned char>(c));
        break;
      }
      default: {
        const std::string s = ValueBlob(argv[k]);
        for (char c : s) mix(static_cast<unsigned char>(c));
      }
    }
    h = ((h << 4) | (h >> 28)) ^ v;
  }
  sqlite3_result_int(ctx, static_cast<int32_t>(h));
}

// A scalar subquery's value: tds_single(v) over the subquery's rows is its
// one value, NULL for no row, and error 512 at a second row.
struct SingleValue {
  int64_t rows;
  sqlite3_value* value;
};

void SingleStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* acc = static_cast<SingleValue*>(sqlite3_aggregate_context(ctx, sizeof(SingleValue)));
  if (acc == nullptr) {
    sqlite3_result_error_nomem(ctx);
    return;
  }
  if (++acc->rows > 1) {
    Fail(ctx, MakeMessage(512, 1, 16,
                          "Subquery returned more than 1 value. This is not permitted when the "
                          "subquery follows =, !=, <, <= , >, >= or when the subquery is used as "
                          "an expression."));
    return;
  }
  acc->value = sqlite3_value_dup(argv[0]);
  if (acc->value == nullptr) sqlite3_result_error_nomem(ctx);
}

void SingleFinal(sqlite3_context* ctx) {
  auto* acc = static_cast<SingleValue*>(sqlite3_aggregate_context(ctx, 0));
  if (acc == nullptr || acc->value == nullptr) {
    sqlite3_result_null(ctx);
    return;
  }
  sqlite3_result_value(ctx, acc->value);
  sqlite3_value_free(acc->value);
  acc->value = nullptr;
}

}  // namespace function_detail

using namespace function_detail;

bool RegisterMiscFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int rc = sqlite3_create_function(db, "tds_stragg", -1, flags, nullptr, nullptr,
                                   Guarded<StringAggStep>, GuardedFinal<StringAggFinal>);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "tds_single", 1, flags, nullptr, nullptr, Guarded<SingleStep>,
                                 GuardedFinal<SingleFinal>);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "tds_trycvt", 5, flags, nullptr, Guarded<TryCvtFunc>, nullptr,
                                 nullptr);
  }
  return rc == SQLITE_OK;
}

}  // namespace tdslite::sql
