#include "text_statements.h"

#include <charconv>
#include <optional>
#include <vector>

#include "tdslite/common/text.h"
#include "tdslite/sql/lexer.h"

namespace tdslite {
namespace {

// A keyword or plain name, lower-cased; empty for any other token.
std::string Word(const sql::Token& t) {
  if (t.kind != sql::TokenKind::kKeyword && t.kind != sql::TokenKind::kIdentifier) return {};
  return t.quoted ? std::string() : AsciiLower(t.text);
}

bool IsOperator(const sql::Token& t, std::string_view op) {
  return t.kind == sql::TokenKind::kOperator && t.text == op;
}

// The bytes of a 0x... literal's hex digits; nullopt for an odd count.
std::optional<std::string> HexBytes(std::string_view digits) {
  if (digits.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(digits.size() / 2);
  for (size_t i = 0; i < digits.size(); i += 2) {
    int v = 0;
    for (size_t k = 0; k < 2; ++k) {
      const char c = digits[i + k];
      const int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (d < 0) return std::nullopt;
      v = v * 16 + d;
    }
    out += static_cast<char>(v);
  }
  return out;
}

// The statement's tokens without the trailing kEnd and semicolons.
struct Statement {
  std::vector<sql::Token> t;
  size_t end = 0;
  size_t i = 0;
  std::string* near = nullptr;

  Statement(std::string_view sql, size_t first, std::string* n) : t(sql::Lex(sql).tokens) {
    end = t.size() - 1;  // the lexer ends with kEnd
    while (end > 0 && IsOperator(t[end - 1], ";")) --end;
    i = first;
    near = n;
  }
  bool Fail() {
    *near = i < end ? t[i].raw : end > 0 ? t[end - 1].raw : "";
    return false;
  }
  // [db.][owner.]table.column
  bool Object(std::string* table, std::string* column) {
    std::vector<std::string> parts;
    while (i < end && t[i].kind == sql::TokenKind::kIdentifier && parts.size() < 4) {
      parts.push_back(t[i++].text);
      if (i < end && IsOperator(t[i], ".")) {
        ++i;
      } else {
        break;
      }
    }
    if (parts.size() < 2) return Fail();
    *table = parts[parts.size() - 2];
    *column = parts.back();
    return true;
  }
  bool Binary(std::string* bytes) {
    if (i >= end || t[i].kind != sql::TokenKind::kBinary) return Fail();
    std::optional<std::string> b = HexBytes(t[i].text);
    if (!b) return Fail();
    *bytes = std::move(*b);
    ++i;
    return true;
  }
  // An integer, with an optional minus sign (a negative one is the caller's
  // error to report, not a syntax error).
  bool Integer(int64_t* value) {
    bool negative = false;
    if (i < end && IsOperator(t[i], "-")) {
      negative = true;
      ++i;
    }
    if (i >= end || t[i].kind != sql::TokenKind::kInteger) return Fail();
    const std::string& s = t[i].text;
    int64_t v = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || ptr != s.data() + s.size()) return Fail();
    *value = negative ? -v : v;
    ++i;
    return true;
  }
};

bool StartsWith(std::string_view sql, std::string_view first, std::string_view second) {
  // The first words decide; a long batch need not be read whole.
  const std::vector<sql::Token> t = sql::Lex(sql.substr(0, 64)).tokens;
  if (t.empty() || Word(t[0]) != first) return false;
  return second.empty() || (t.size() >= 2 && Word(t[1]) == second);
}

}  // namespace

bool IsWriteTextBulk(std::string_view sql) {
  return StartsWith(sql, "writetext", "bulk");
}

bool IsReadText(std::string_view sql) {
  return StartsWith(sql, "readtext", "");
}

bool ParseWriteText(std::string_view sql, WriteTextStatement* out, std::string* near) {
  Statement s(sql, 2, near);  // after `writetext bulk`
  if (!s.Object(&out->table, &out->column) || !s.Binary(&out->pointer)) return false;
  if (s.i >= s.end || Word(s.t[s.i]) != "timestamp") return s.Fail();
  if (++s.i >= s.end || !IsOperator(s.t[s.i], "=")) return s.Fail();
  ++s.i;
  if (!s.Binary(&out->stamp)) return false;
  if (s.i < s.end && Word(s.t[s.i]) == "with") {
    if (++s.i >= s.end || Word(s.t[s.i]) != "log") return s.Fail();
    ++s.i;
  }
  return s.i == s.end || s.Fail();
}

bool ParseReadText(std::string_view sql, ReadTextStatement* out, std::string* near) {
  Statement s(sql, 1, near);  // after `readtext`
  if (!s.Object(&out->table, &out->column) || !s.Binary(&out->pointer) ||
      !s.Integer(&out->offset) || !s.Integer(&out->size))
    return false;
  if (s.i < s.end && Word(s.t[s.i]) == "holdlock") ++s.i;
  return s.i == s.end || s.Fail();
}

std::string HexLiteral(std::string_view bytes) {
  return "0x" + HexDigits(bytes, false);
}

}  // namespace tdslite
