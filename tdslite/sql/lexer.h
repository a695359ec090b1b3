// Tokens of a T-SQL batch.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tdslite::sql {

enum class TokenKind {
  kEnd,
  kIdentifier,  // plain, [bracketed] or "quoted"; `text` holds the name
  kKeyword,     // a reserved word; `text` holds it lower-cased
  kString,      // '...'; `text` holds the value with doubled quotes undone
  kNString,     // N'...'
  kInteger,     // digits only
  kDecimal,     // digits with a point
  kFloat,       // with an exponent
  kBinary,      // 0x...; `text` holds the hex digits
  kMoney,       // $12.50; `text` holds the number without the sign
  kVariable,    // @name or @@name; `text` holds it lower-cased, with the @s
  kOperator,    // punctuation and operators: ( ) , . ; + - * / % = <> != < > <= >= !< !> & | ^ ~
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;
  std::string raw;  // the characters as written (for error messages)
  int line = 1;
  size_t offset = 0;    // where `raw` starts in the batch (bytes)
  bool quoted = false;  // identifier written in brackets or double quotes
};

struct LexResult {
  std::vector<Token> tokens;  // always ends with a kEnd token
  // An unterminated string or comment: the lexer stops there and reports it.
  bool unclosed_quote = false;
  std::string unclosed_text;
  // An identifier or variable name of more than 128 characters: the lexer
  // stops there; its first 128 characters.
  std::string long_identifier;
  bool long_temporary_name = false;  // a #name: at most 116 characters
  int error_line = 0;
};

LexResult Lex(std::string_view sql);
bool IsReservedWord(std::string_view lower);
std::string ToLower(std::string_view s);

}  // namespace tdslite::sql
