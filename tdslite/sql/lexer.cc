#include "lexer.h"

#include "tdslite/common/text.h"

#include <algorithm>
#include <array>

namespace tdslite::sql {
namespace {

// SQL Server's reserved words that matter to the statements tdslite parses;
// a reserved word may not be used as a plain identifier or alias.
constexpr std::array kReserved = {
    "add",
    "all",
    "alter",
    "and",
    "any",
    "as",
    "asc",
    "authorization",
    "backup",
    "begin",
    "between",
    "break",
    "browse",
    "bulk",
    "by",
    "cascade",
    "case",
    "check",
    "checkpoint",
    "close",
    "clustered",
    "coalesce",
    "collate",
    "column",
    "commit",
    "compute",
    "constraint",
    "contains",
    "continue",
    "convert",
    "create",
    "cross",
    "current",
    "current_date",
    "current_time",
    "current_timestamp",
    "current_user",
    "cursor",
    "database",
    "dbcc",
    "deallocate",
    "declare",
    "default",
    "delete",
    "deny",
    "desc",
    "distinct",
    "distributed",
    "double",
    "drop",
    "else",
    "end",
    "errlvl",
    "escape",
    "except",
    "exec",
    "execute",
    "exists",
    "exit",
    "external",
    "fetch",
    "file",
    "fillfactor",
    "for",
    "foreign",
    "from",
    "full",
    "function",
    "goto",
    "grant",
    "group",
    "having",
    "holdlock",
    "identity",
    "identity_insert",
    "identitycol",
    "if",
    "in",
    "index",
    "inner",
    "insert",
    "intersect",
    "into",
    "is",
    "join",
    "key",
    "kill",
    "left",
    "like",
    "lineno",
    "merge",
    "national",
    "nocheck",
    "nonclustered",
    "not",
    "null",
    "nullif",
    "of",
    "off",
    "offsets",
    "on",
    "open",
    "option",
    "or",
    "order",
    "outer",
    "over",
    "percent",
    "pivot",
    "plan",
    "primary",
    "print",
    "proc",
    "procedure",
    "public",
    "raiserror",
    "read",
    "readtext",
    "reconfigure",
    "references",
    "replication",
    "restore",
    "restrict",
    "return",
    "revert",
    "revoke",
    "right",
    "rollback",
    "rowcount",
    "rowguidcol",
    "rule",
    "save",
    "schema",
    "select",
    "session_user",
    "set",
    "setuser",
    "shutdown",
    "some",
    "statistics",
    "system_user",
    "table",
    "tablesample",
    "textsize",
    "then",
    "to",
    "top",
    "tran",
    "transaction",
    "trigger",
    "truncate",
    "union",
    "unique",
    "unpivot",
    "update",
    "updatetext",
    "use",
    "user",
    "values",
    "varying",
    "view",
    "waitfor",
    "when",
    "where",
    "while",
    "with",
    "writetext",
};

bool IsIdentStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#' || c >= 0x80;
}
bool IsIdentPart(unsigned char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '@' || c == '$';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Reads a quoted run from sql[*i] (just past the opening quote) up to the
// closing `quote`, a doubled `quote` standing for itself; counts the lines it
// crosses. Answers whether the closing quote came (*i is then past it).
bool ReadQuoted(std::string_view sql, char quote, size_t* i, int* line, std::string* out) {
  const size_t n = sql.size();
  while (*i < n) {
    const char c = sql[*i];
    if (c == quote) {
      if (*i + 1 < n && sql[*i + 1] == quote) {
        out->push_back(quote);
        *i += 2;
        continue;
      }
      ++*i;
      return true;
    }
    if (c == '\n') ++*line;
    out->push_back(c);
    ++*i;
  }
  return false;
}

}  // namespace

std::string ToLower(std::string_view s) {
  return AsciiLower(s);
}

bool IsReservedWord(std::string_view lower) {
  return std::find(kReserved.begin(), kReserved.end(), lower) != kReserved.end();
}

LexResult Lex(std::string_view sql) {
  LexResult result;
  size_t i = 0;
  const size_t n = sql.size();
  int line = 1;
  auto add = [&](TokenKind kind, std::string text, size_t start, int tline) {
    Token t;
    t.kind = kind;
    t.text = std::move(text);
    t.raw = std::string(sql.substr(start, i - start));
    t.line = tline;
    t.offset = start;
    result.tokens.push_back(std::move(t));
  };
  // Names are at most 128 characters long (variables with their @), the
  // names of local temporary tables 116.
  auto too_long = [&](std::string_view name, int tline) {
    const bool temporary = name.size() > 1 && name[0] == '#' && name[1] != '#';
    const size_t limit = temporary ? 116 : 128;
    size_t characters = 0, cut = name.size();
    for (size_t k = 0; k < name.size(); ++k) {
      if ((static_cast<unsigned char>(name[k]) & 0xC0) == 0x80) continue;
      if (++characters == limit + 1) cut = k;
    }
    if (characters <= limit) return false;
    result.long_temporary_name = temporary;
    result.long_identifier = std::string(name.substr(0, cut));
    result.error_line = tline;
    return true;
  };
  while (i < n) {
    char c = sql[i];
    if (c == '\n') {
      ++line;
      ++i;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      // Comments nest in T-SQL.
      int depth = 0;
      int start_line = line;
      while (i < n) {
        if (sql[i] == '/' && i + 1 < n && sql[i + 1] == '*') {
          ++depth;
          i += 2;
        } else if (sql[i] == '*' && i + 1 < n && sql[i + 1] == '/') {
          --depth;
          i += 2;
          if (depth == 0) break;
        } else {
          if (sql[i] == '\n') ++line;
          ++i;
        }
      }
      if (depth != 0) {
        result.unclosed_quote = false;
        result.error_line = start_line;
        // SQL Server: "Missing end comment mark '*/'." (113); reported by the parser.
        Token t;
        t.kind = TokenKind::kOperator;
        t.text = "/*";
        t.raw = "/*";
        t.line = start_line;
        result.tokens.push_back(t);
      }
      continue;
    }
    const size_t start = i;
    const int tline = line;
    if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < n && sql[i + 1] == '\'')) {
      const bool national = c != '\'';
      i += national ? 2 : 1;
      std::string value;
      if (!ReadQuoted(sql, '\'', &i, &line, &value)) {
        result.unclosed_quote = true;
        result.unclosed_text = value;
        result.error_line = tline;
        break;
      }
      add(national ? TokenKind::kNString : TokenKind::kString, std::move(value), start, tline);
      continue;
    }
    if (c == '0' && i + 1 < n && (sql[i + 1] == 'x' || sql[i + 1] == 'X')) {
      i += 2;
      while (i < n && IsHex(sql[i])) ++i;
      add(TokenKind::kBinary, std::string(sql.substr(start + 2, i - start - 2)), start, tline);
      continue;
    }
    if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(sql[i + 1]))) {
      bool point = false;
      bool exponent = false;
      while (i < n && IsDigit(sql[i])) ++i;
      if (i < n && sql[i] == '.') {
        point = true;
        ++i;
        while (i < n && IsDigit(sql[i])) ++i;
      }
      if (i < n && (sql[i] == 'e' || sql[i] == 'E')) {
        size_t j = i + 1;
        if (j < n && (sql[j] == '+' || sql[j] == '-')) ++j;
        // SQL Server accepts "1e" as 1e0 as well.
        exponent = true;
        i = j;
        while (i < n && IsDigit(sql[i])) ++i;
      }
      TokenKind kind =
          exponent ? TokenKind::kFloat : (point ? TokenKind::kDecimal : TokenKind::kInteger);
      add(kind, std::string(sql.substr(start, i - start)), start, tline);
      continue;
    }
    if (c == '$' && i + 1 < n && (IsDigit(sql[i + 1]) || sql[i + 1] == '.')) {
      ++i;
      const size_t digits = i;
      while (i < n && (IsDigit(sql[i]) || sql[i] == '.')) ++i;
      add(TokenKind::kMoney, std::string(sql.substr(digits, i - digits)), start, tline);
      continue;
    }
    if (c == '[' || c == '"') {
      ++i;
      std::string name;
      if (!ReadQuoted(sql, c == '[' ? ']' : '"', &i, &line, &name)) {
        result.unclosed_quote = true;
        result.unclosed_text = name;
        result.error_line = tline;
        break;
      }
      if (too_long(name, tline)) break;
      add(TokenKind::kIdentifier, std::move(name), start, tline);
      result.tokens.back().quoted = true;
      continue;
    }
    if (c == '@') {
      ++i;
      if (i < n && sql[i] == '@') ++i;
      while (i < n && IsIdentPart(static_cast<unsigned char>(sql[i]))) ++i;
      if (too_long(sql.substr(start, i - start), tline)) break;
      add(TokenKind::kVariable, ToLower(sql.substr(start, i - start)), start, tline);
      continue;
    }
    if (IsIdentStart(static_cast<unsigned char>(c))) {
      while (i < n && IsIdentPart(static_cast<unsigned char>(sql[i]))) ++i;
      std::string word(sql.substr(start, i - start));
      if (too_long(word, tline)) break;
      std::string lower = ToLower(word);
      if (IsReservedWord(lower)) {
        add(TokenKind::kKeyword, lower, start, tline);
      } else {
        add(TokenKind::kIdentifier, word, start, tline);
      }
      continue;
    }
    // Operators: two-character ones first.
    if (i + 1 < n) {
      std::string_view two = sql.substr(i, 2);
      if (two == "<>" || two == "!=" || two == "<=" || two == ">=" || two == "!<" || two == "!>") {
        i += 2;
        add(TokenKind::kOperator, std::string(two), start, tline);
        continue;
      }
    }
    ++i;
    add(TokenKind::kOperator, std::string(1, c), start, tline);
  }
  Token end;
  end.kind = TokenKind::kEnd;
  end.line = line;
  result.tokens.push_back(end);
  return result;
}

}  // namespace tdslite::sql
