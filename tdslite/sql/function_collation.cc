// The case-insensitive collation, upper() and lower(), and LIKE.
#include "functions_internal.h"

namespace tdslite::sql::function_detail {

// Lower-cases a code point the way a case-insensitive collation folds it:
// ASCII, Latin-1, Greek and Cyrillic capitals.
uint32_t LowerCodePoint(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0xC0) return c;
  if (c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

uint32_t UpperCodePoint(uint32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c < 0xE0) return c;
  if (c <= 0xFE && c != 0xF7) return c - 32;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

// Compares ignoring case and trailing blanks, as SQL Server's default
// case-insensitive collation does.
int CompareCi(void*, int na, const void* pa, int nb, const void* pb) {
  std::string_view a(static_cast<const char*>(pa), static_cast<size_t>(na));
  std::string_view b(static_cast<const char*>(pb), static_cast<size_t>(nb));
  while (!a.empty() && a.back() == ' ') a.remove_suffix(1);
  while (!b.empty() && b.back() == ' ') b.remove_suffix(1);
  size_t i = 0, k = 0;
  while (i < a.size() && k < b.size()) {
    uint32_t x = LowerCodePoint(NextCodePoint(a, &i));
    uint32_t y = LowerCodePoint(NextCodePoint(b, &k));
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (k < b.size()) return -1;
  return 0;
}

// upper() and lower() with the collation's notion of case.
void ChangeCase(sqlite3_context* ctx, sqlite3_value** argv, bool upper) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string s = ValueText(argv[0]);
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint32_t cp = NextCodePoint(s, &i);
    AppendUtf8(&out, upper ? UpperCodePoint(cp) : LowerCodePoint(cp));
  }
  ResultText(ctx, out);
}

void LowerFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  ChangeCase(ctx, argv, false);
}

void UpperFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  ChangeCase(ctx, argv, true);
}

int CompareDecimal(void*, int na, const void* pa, int nb, const void* pb) {
  Int128 a = 0, b = 0;
  int sa = 0, sb = 0;
  ParseCanonical(std::string_view(static_cast<const char*>(pa), static_cast<size_t>(na)), &a, &sa);
  ParseCanonical(std::string_view(static_cast<const char*>(pb), static_cast<size_t>(nb)), &b, &sb);
  int m = sa > sb ? sa : sb;
  // Values with 38 digits and a smaller scale cannot be scaled up: compare
  // the integral parts first.
  Int128 ia = a / Pow10(sa), ib = b / Pow10(sb);
  if (ia != ib) return ia < ib ? -1 : 1;
  Int128 fa = (a % Pow10(sa)) * Pow10(m - sa), fb = (b % Pow10(sb)) * Pow10(m - sb);
  if (fa != fb) return fa < fb ? -1 : 1;
  return 0;
}

uint32_t Fold(uint32_t c) {
  return LowerCodePoint(c);
}

// For byte-wise searches in UTF-8: only ASCII letters fold.
uint32_t FoldAscii(uint32_t c) {
  return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

// SQL Server LIKE: % _ [set] [^set] [a-z], case-insensitive, optional escape.
std::vector<LikeToken> LikeTokens(const std::vector<uint32_t>& p, int64_t escape) {
  std::vector<LikeToken> tokens;
  for (size_t pi = 0; pi < p.size();) {
    const uint32_t c = p[pi];
    if (escape >= 0 && c == static_cast<uint32_t>(escape) && pi + 1 < p.size()) {
      tokens.push_back({LikeToken::kChar, false, Fold(p[pi + 1]), 0, 0});
      pi += 2;
      continue;
    }
    if (c == '%') {
      if (tokens.empty() || tokens.back().kind != LikeToken::kAnyString) {
        tokens.push_back({LikeToken::kAnyString, false, 0, 0, 0});
      }
      ++pi;
      continue;
    }
    if (c == '_') {
      tokens.push_back({LikeToken::kAnyChar, false, 0, 0, 0});
      ++pi;
      continue;
    }
    if (c == '[') {
      size_t close = pi + 1;
      while (close < p.size() && p[close] != ']') ++close;
      if (close < p.size()) {
        const bool negate = pi + 1 < close && p[pi + 1] == '^';
        tokens.push_back({LikeToken::kSet, negate, 0, pi + 1 + (negate ? 1 : 0), close});
        pi = close + 1;
        continue;
      }
    }
    tokens.push_back({LikeToken::kChar, false, Fold(c), 0, 0});
    ++pi;
  }
  return tokens;
}

bool LikeOne(const LikeToken& t, const std::vector<uint32_t>& p, uint32_t ch) {
  switch (t.kind) {
    case LikeToken::kAnyChar:
      return true;
    case LikeToken::kChar:
      return t.c == Fold(ch);
    case LikeToken::kSet: {
      const uint32_t folded = Fold(ch);
      bool found = false;
      for (size_t k = t.first; k < t.last;) {
        if (k + 2 < t.last && p[k + 1] == '-') {
          if (folded >= Fold(p[k]) && folded <= Fold(p[k + 2])) found = true;
          k += 3;
        } else {
          if (folded == Fold(p[k])) found = true;
          ++k;
        }
      }
      return found != t.negate;
    }
    case LikeToken::kAnyString:
      break;
  }
  return false;
}

// Matches without recursion: each `%` is remembered, and a mismatch moves
// back to the last one, which then takes one more character. Every other
// token matches a single character, so taking the leftmost match of what
// follows a `%` is always right, and the work is at most the value's length
// times the longest run between two `%`.
bool LikeMatch(const std::vector<LikeToken>& t, size_t ti, const std::vector<uint32_t>& p,
               const std::vector<uint32_t>& s, size_t start) {
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t si = start;
  size_t star = kNone, star_si = 0;
  while (si < s.size()) {
    if (ti < t.size() && t[ti].kind == LikeToken::kAnyString) {
      star = ti++;
      star_si = si;
    } else if (ti < t.size() && LikeOne(t[ti], p, s[si])) {
      ++ti;
      ++si;
    } else if (star != kNone) {
      ti = star + 1;
      si = ++star_si;
    } else {
      return false;
    }
  }
  while (ti < t.size() && t[ti].kind == LikeToken::kAnyString) ++ti;
  return ti == t.size();
}

std::vector<uint32_t> CodePoints(std::string_view s) {
  std::vector<uint32_t> out;
  size_t i = 0;
  while (i < s.size()) out.push_back(NextCodePoint(s, &i));
  return out;
}

void LikeFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  for (int k = 0; k < argc; ++k) {
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
  }
  std::vector<uint32_t> s = CodePoints(ValueText(argv[0]));
  std::vector<uint32_t> p = CodePoints(ValueText(argv[1]));
  int64_t escape = -1;
  if (argc == 3) {
    std::vector<uint32_t> e = CodePoints(ValueText(argv[2]));
    if (e.size() != 1) {
      Fail(ctx, MakeMessage(506, 1, 16,
                            "The invalid escape character \"" + ValueText(argv[2]) +
                                "\" was specified in a LIKE predicate."));
      return;
    }
    escape = e[0];
  }
  sqlite3_result_int(ctx, LikeMatch(LikeTokens(p, escape), 0, p, s, 0) ? 1 : 0);
}

}  // namespace tdslite::sql::function_detail
