// String and binary functions: datalength, substring, left, right, replace,
// charindex, space, reverse, ascii, char and textptr.
#include "functions_internal.h"

namespace tdslite::sql::function_detail {

// tds_datalength(x, type)
void Utf16LengthFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  sqlite3_result_int64(ctx, Utf16Length(ValueText(argv[0])));
}

void DataLengthFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  int64_t n = 0;
  switch (t.id) {
    case TypeId::kTinyInt:
    case TypeId::kBit:
      n = 1;
      break;
    case TypeId::kSmallInt:
      n = 2;
      break;
    case TypeId::kInt:
    case TypeId::kReal:
    case TypeId::kSmallMoney:
    case TypeId::kSmallDateTime:
      n = 4;
      break;
    case TypeId::kBigInt:
    case TypeId::kFloat:
    case TypeId::kMoney:
    case TypeId::kDateTime:
      n = 8;
      break;
    case TypeId::kDecimal:
    case TypeId::kNumeric:
      n = t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17;
      break;
    case TypeId::kNChar:
    case TypeId::kNVarChar:
    case TypeId::kNText:
      n = static_cast<int64_t>(Utf16Le(ValueText(argv[0])).size());
      break;
    case TypeId::kChar:
    case TypeId::kVarChar:
    case TypeId::kText:
      n = Utf8Length(ValueText(argv[0]));
      break;
    default:
      n = sqlite3_value_bytes(argv[0]);
      break;
  }
  sqlite3_result_int64(ctx, n);
}

// Substrings work on characters for text, on bytes for binary values.
void SubstringFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(ctx);
    return;
  }
  int64_t start = sqlite3_value_int64(argv[1]);
  int64_t length = sqlite3_value_int64(argv[2]);
  if (length < 0) {
    Fail(ctx,
         MakeMessage(537, 3, 16, "Invalid length parameter passed to the substring function."));
    return;
  }
  // Characters before position 1 count against the length. Wide enough
  // that no start and length overflow.
  const __int128 end = static_cast<__int128>(start) + length;  // exclusive
  int64_t first = start < 1 ? 1 : start;
  int64_t last = end > INT64_MAX ? INT64_MAX : end < 1 ? 1 : static_cast<int64_t>(end);
  int64_t count = last > first ? last - first : 0;
  if (sqlite3_value_type(argv[0]) == SQLITE_BLOB) {
    std::string b = ValueBlob(argv[0]);
    int64_t n = static_cast<int64_t>(b.size());
    int64_t a = first - 1 > n ? n : first - 1;
    int64_t c = a + count > n ? n - a : count;
    sqlite3_result_blob(ctx, b.data() + a, static_cast<int>(c), SQLITE_TRANSIENT);
    return;
  }
  std::string s = ValueText(argv[0]);
  size_t a = Utf8Offset(s, first - 1);
  size_t b = Utf8Offset(s, first - 1 + count);
  if (b < a) b = a;
  sqlite3_result_text(ctx, s.data() + a, static_cast<int>(b - a), SQLITE_TRANSIENT);
}

void LeftRight(sqlite3_context* ctx, int argc, sqlite3_value** argv, bool right) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(ctx);
    return;
  }
  int64_t n = sqlite3_value_int64(argv[1]);
  if (n < 0) {
    Fail(ctx, MakeMessage(536, 1, 16,
                          std::string("Invalid length parameter passed to the ") +
                              (right ? "right" : "left") + " function."));
    return;
  }
  std::string s = ValueText(argv[0]);
  int64_t len = Utf8Length(s);
  if (n > len) n = len;
  size_t a = right ? Utf8Offset(s, len - n) : 0;
  size_t b = right ? s.size() : Utf8Offset(s, n);
  sqlite3_result_text(ctx, s.data() + a, static_cast<int>(b - a), SQLITE_TRANSIENT);
}

void LeftFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  LeftRight(ctx, argc, argv, false);
}

void RightFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  LeftRight(ctx, argc, argv, true);
}

// Finds `needle` in `hay` ignoring ASCII case, from byte `from`.
size_t FindCi(std::string_view hay, std::string_view needle, size_t from) {
  if (needle.empty()) return std::string_view::npos;
  for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
    bool match = true;
    for (size_t k = 0; k < needle.size(); ++k) {
      if (FoldAscii(static_cast<unsigned char>(hay[i + k])) !=
          FoldAscii(static_cast<unsigned char>(needle[k]))) {
        match = false;
        break;
      }
    }
    if (match) return i;
  }
  return std::string_view::npos;
}

void ReplaceFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string s = ValueText(argv[0]);
  std::string from = ValueText(argv[1]);
  std::string to = ValueText(argv[2]);
  if (from.empty()) {
    ResultText(ctx, s);
    return;
  }
  // The result's size is known before it is built: one beyond the value
  // limit is refused without being allocated.
  uint64_t matches = 0;
  for (size_t at = FindCi(s, from, 0); at != std::string::npos;
       at = FindCi(s, from, at + from.size())) {
    ++matches;
  }
  const uint64_t size = s.size() - matches * from.size() + matches * to.size();
  if (!FitsValueLimit(ctx, size)) return;
  std::string out;
  out.reserve(size);
  size_t pos = 0;
  for (;;) {
    size_t at = FindCi(s, from, pos);
    if (at == std::string::npos) break;
    out.append(s, pos, at - pos);
    out += to;
    pos = at + from.size();
  }
  out.append(s, pos, std::string::npos);
  ResultText(ctx, out);
}

void CharIndexFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string needle = ValueText(argv[0]);
  std::string hay = ValueText(argv[1]);
  int64_t start = argc == 3 ? sqlite3_value_int64(argv[2]) : 1;
  if (start < 1) start = 1;
  size_t from = Utf8Offset(hay, start - 1);
  size_t at = FindCi(hay, needle, from);
  sqlite3_result_int64(
      ctx, at == std::string::npos ? 0 : Utf8Length(std::string_view(hay).substr(0, at)) + 1);
}

void SpaceFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  int64_t n = sqlite3_value_int64(argv[0]);
  if (n < 0) {
    sqlite3_result_null(ctx);
    return;
  }
  if (n > 8000) n = 8000;
  ResultText(ctx, std::string(static_cast<size_t>(n), ' '));
}

void ReverseFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string s = ValueText(argv[0]);
  std::vector<std::string> chars;
  size_t i = 0;
  while (i < s.size()) {
    size_t start = i;
    NextCodePoint(s, &i);
    chars.emplace_back(s.substr(start, i - start));
  }
  std::string out;
  for (auto it = chars.rbegin(); it != chars.rend(); ++it) out += *it;
  ResultText(ctx, out);
}

// ascii() and unicode() of a string's first character; NULL for NULL or ''.
void FirstCharacterCode(sqlite3_context* ctx, sqlite3_value* v, bool unicode) {
  if (sqlite3_value_type(v) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const std::string s = ValueText(v);
  if (s.empty()) {
    sqlite3_result_null(ctx);
    return;
  }
  size_t i = 0;
  const uint32_t c = NextCodePoint(s, &i);
  if (unicode) {
    // The first UTF-16 code unit: a high surrogate for a character past U+FFFF.
    sqlite3_result_int64(ctx, c > 0xFFFF ? 0xD800 + ((c - 0x10000) >> 10) : c);
    return;
  }
  // The character's byte in code page 1252 ('?' where it has none).
  const std::string byte = ToCodePage(s.substr(0, i));
  sqlite3_result_int64(ctx, byte.empty() ? 63 : static_cast<unsigned char>(byte[0]));
}

void AsciiFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  FirstCharacterCode(ctx, argv[0], false);
}

void UnicodeFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  FirstCharacterCode(ctx, argv[0], true);
}

void CodePointChar(sqlite3_context* ctx, sqlite3_value** argv, bool unicode) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  int64_t c = sqlite3_value_int64(argv[0]);
  if (c < 0 || c > (unicode ? 0xFFFF : 255)) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string out;
  if (unicode) {
    AppendUtf8(&out, static_cast<uint32_t>(c));
  } else {
    // char(): the byte in code page 1252 (char(128) is the euro sign).
    out = FromCodePage(std::string(1, static_cast<char>(c)));
  }
  ResultText(ctx, out);
}

void CharFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  CodePointChar(ctx, argv, false);
}

void NCharFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  CodePointChar(ctx, argv, true);
}

// tds_textptr(rowid, table, column, length): the text pointer of a value,
// NULL for a NULL value (length NULL).
void TextPtrFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[3]) == SQLITE_NULL || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  auto text = [&](int i) {
    const unsigned char* p = sqlite3_value_text(argv[i]);
    return std::string(p != nullptr ? reinterpret_cast<const char*>(p) : "",
                       static_cast<size_t>(sqlite3_value_bytes(argv[i])));
  };
  std::string pointer = MakeTextPointer(sqlite3_value_int64(argv[0]), text(1), text(2));
  sqlite3_result_blob(ctx, pointer.data(), static_cast<int>(pointer.size()), SQLITE_TRANSIENT);
}

// tds_replicate(text, count, unicode): NULL for a negative count; like the
// server, the result stops at 8000 bytes (4000 characters for nvarchar).
void ReplicateFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const int64_t n = sqlite3_value_int64(argv[1]);
  if (n < 0) {
    sqlite3_result_null(ctx);
    return;
  }
  // argv[2]: 1 for nchar and nvarchar; 2 added for the (max) types, which
  // only the largest value bounds.
  const int mode = sqlite3_value_int(argv[2]);
  const bool unicode = (mode & 1) != 0;
  const std::string s = ValueText(argv[0]);
  const int64_t unit = unicode ? Utf16Length(s) : Utf8Length(s);
  if ((mode & 2) != 0) {
    const uint64_t bytes = static_cast<uint64_t>(s.size()) * static_cast<uint64_t>(n);
    if (!s.empty() &&
        (bytes / s.size() != static_cast<uint64_t>(n) || !FitsValueLimit(ctx, bytes))) {
      if (bytes / s.size() != static_cast<uint64_t>(n)) sqlite3_result_error_toobig(ctx);
      return;
    }
    std::string out;
    out.reserve(bytes);
    for (int64_t k = 0; k < n && !s.empty(); ++k) out += s;
    ResultText(ctx, out);
    return;
  }
  const int64_t limit = unicode ? 4000 : 8000;
  std::string out;
  for (int64_t k = 0; k < n && unit > 0 && (k + 1) * unit <= limit; ++k) out += s;
  if (unit > 0 && n * unit > limit && static_cast<int64_t>(out.size()) < limit * 4) {
    // The last copy is cut to what still fits.
    const int64_t used = unicode ? Utf16Length(out) : Utf8Length(out);
    out += s.substr(0, unicode ? Utf16Offset(s, limit - used) : Utf8Offset(s, limit - used));
  }
  ResultText(ctx, out);
}

// tds_stuff(text, start, length, insert): NULL when start is outside the
// text or a number is negative.
void StuffFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  for (int k = 0; k < 3; ++k) {
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
  }
  const std::string s = ValueText(argv[0]);
  const int64_t start = sqlite3_value_int64(argv[1]);
  const int64_t length = sqlite3_value_int64(argv[2]);
  const int64_t chars = Utf8Length(s);
  if (start < 1 || start > chars || length < 0) {
    sqlite3_result_null(ctx);
    return;
  }
  const size_t a = Utf8Offset(s, start - 1);
  const size_t b = Utf8Offset(s, std::min(chars, start - 1 + length));
  const std::string insert =
      sqlite3_value_type(argv[3]) == SQLITE_NULL ? std::string() : ValueText(argv[3]);
  ResultText(ctx, s.substr(0, a) + insert + s.substr(b));
}

// tds_concat_ws(separator, value...): the non-NULL values joined.
void ConcatWsFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const std::string sep = sqlite3_value_type(argv[0]) == SQLITE_NULL ? "" : ValueText(argv[0]);
  std::string out;
  bool first = true;
  for (int k = 1; k < argc; ++k) {
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) continue;
    if (!first) out += sep;
    out += ValueText(argv[k]);
    first = false;
  }
  ResultText(ctx, out);
}

// tds_quotename(text, quote): the name between delimiters, the closing one
// doubled inside; NULL beyond 128 characters or for another delimiter.
void QuoteNameFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const std::string s = ValueText(argv[0]);
  const std::string q = ValueText(argv[1]);
  char open = 0, close = 0;
  if (q.size() == 1) {
    switch (q[0]) {
      case '[':
      case ']':
        open = '[', close = ']';
        break;
      case '(':
      case ')':
        open = '(', close = ')';
        break;
      case '<':
      case '>':
        open = '<', close = '>';
        break;
      case '{':
      case '}':
        open = '{', close = '}';
        break;
      case '"':
      case '\'':
      case '`':
        open = close = q[0];
        break;
      default:
        break;
    }
  }
  if (open == 0 || Utf16Length(s) > 128) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string out(1, open);
  for (char c : s) {
    out.push_back(c);
    if (c == close) out.push_back(c);
  }
  out.push_back(close);
  ResultText(ctx, out);
}

// tds_str(number, length, decimals): right-aligned in `length` characters,
// fewer decimals when they do not fit, all '*' when the integer part does
// not; NULL for a length outside 1..8000 or negative decimals.
void StrFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  for (int k = 0; k < 3; ++k) {
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
  }
  const double v = sqlite3_value_double(argv[0]);
  const int64_t length = sqlite3_value_int64(argv[1]);
  int64_t decimals = sqlite3_value_int64(argv[2]);
  if (length < 1 || length > 8000 || decimals < 0) {
    sqlite3_result_null(ctx);
    return;
  }
  decimals = std::min<int64_t>(decimals, 16);
  auto format = [&](int64_t d) {
    // Halves round away from zero, as the server rounds.
    const double p = std::pow(10.0, static_cast<double>(d));
    const double r = std::fabs(v) < 1e15 ? std::round(v * p) / p : v;
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(d), r);
    return std::string(buf);
  };
  std::string s = format(decimals);
  if (static_cast<int64_t>(s.size()) > length) {
    const int64_t whole = static_cast<int64_t>(format(0).size());
    if (whole > length) {
      s = std::string(static_cast<size_t>(length), '*');
    } else {
      s = format(whole + 1 < length ? length - whole - 1 : 0);
    }
  }
  if (static_cast<int64_t>(s.size()) < length)
    s.insert(0, static_cast<size_t>(length) - s.size(), ' ');
  ResultText(ctx, s);
}

}  // namespace tdslite::sql::function_detail
