#include "parser_internal.h"

#include "catalog_views.h"

namespace tdslite::sql::parser_detail {

void Parser::Run() {
  try {
    bool first = true;
    while (!AtEnd()) {
      if (IsOp(";")) {
        Advance();
        continue;
      }
      Stmt stmt = ParseStatement(first);
      first = false;
      result_->statements.push_back(std::move(stmt));
    }
  } catch (const Failure&) {
    result_->statements.clear();
  }
}

const Token& Parser::Peek(size_t ahead) const {
  size_t i = pos_ + ahead;
  return i < tokens_.size() ? tokens_[i] : tokens_.back();
}

const Token& Parser::Advance() {
  const Token& t = Peek();
  if (pos_ < tokens_.size() - 1) ++pos_;
  return t;
}

bool Parser::IsKw(std::string_view kw, size_t ahead) const {
  return Peek(ahead).kind == TokenKind::kKeyword && Peek(ahead).text == kw;
}

bool Parser::IsOp(std::string_view op, size_t ahead) const {
  return Peek(ahead).kind == TokenKind::kOperator && Peek(ahead).text == op;
}

// A non-reserved word such as TRAN's neighbours NOCOUNT, CAST, LEFT...
bool Parser::IsWord(std::string_view word, size_t ahead) const {
  const Token& t = Peek(ahead);
  return (t.kind == TokenKind::kIdentifier && !t.quoted && ToLower(t.text) == word) ||
         (t.kind == TokenKind::kKeyword && t.text == word);
}

bool Parser::AcceptKw(std::string_view kw) {
  if (!IsKw(kw)) return false;
  Advance();
  return true;
}

bool Parser::AcceptOp(std::string_view op) {
  if (!IsOp(op)) return false;
  Advance();
  return true;
}

bool Parser::AcceptWord(std::string_view w) {
  if (!IsWord(w)) return false;
  Advance();
  return true;
}

void Parser::ExpectOp(std::string_view op) {
  if (!AcceptOp(op)) SyntaxError();
}

void Parser::ExpectKw(std::string_view kw) {
  if (!AcceptKw(kw)) SyntaxError();
}

std::string Parser::Identifier() {
  if (Peek().kind != TokenKind::kIdentifier) SyntaxError();
  return Advance().text;
}

// schema.table or db.schema.table: only the last part names the table.
std::string Parser::ObjectName(bool procedure) {
  foreign_name_ = false;
  // A table variable.
  if (Peek().kind == TokenKind::kVariable && Peek().text.rfind("@@", 0) != 0) return Advance().text;
  std::vector<std::string> parts{Identifier()};
  while (IsOp(".")) {
    Advance();
    parts.push_back(IsOp(".") ? std::string() : Identifier());  // db..table
    if (parts.size() > 4) SyntaxError();
  }
  const std::string& name = parts.back();
  if (parts.size() == 1) return name;
  std::string written;
  for (size_t i = 0; i < parts.size(); ++i) written += (i ? "." : "") + parts[i];
  if (parts.size() == 4) NotSupported("The linked server name in '" + written + "'");
  const std::string schema = ToLower(parts[parts.size() - 2]);
  if (!procedure && (schema == "sys" || schema == "information_schema")) {
    // The compiler reads a built view by its written name; another
    // database's catalog is that database's business (208), tempdb's is not
    // listed by tdslite.
    const std::string db = parts.size() == 3 ? ToLower(parts[0]) : ToLower(database_);
    const CatalogViewStatus status = ClassifyCatalogView(schema, ToLower(name));
    if (status != CatalogViewStatus::kUnknown && db == ToLower(database_)) {
      if (status == CatalogViewStatus::kBuilt) return written;
      NotSupported("The catalog view '" + written + "'");
    }
    if (status != CatalogViewStatus::kUnknown && db == "tempdb") {
      NotSupported("The catalog view '" + written + "'");
    }
  }
  const bool system_procedure = procedure && schema == "sys";
  if (!schema.empty() && schema != "dbo" && !system_procedure) foreign_name_ = true;
  if (parts.size() == 3 && ToLower(parts[0]) != ToLower(database_)) foreign_name_ = true;
  return foreign_name_ ? written : name;
}

bool Parser::IsStatementStart() const {
  const Token& t = Peek();
  if (t.kind != TokenKind::kKeyword) return false;
  static constexpr const char* kStarts[] = {
      "select", "insert", "update",   "delete",  "truncate", "create", "drop",
      "begin",  "commit", "rollback", "save",    "set",      "print",  "raiserror",
      "use",    "exec",   "execute",  "declare", "if",       "while",  "alter",
      "grant",  "return", "with",     "else",    "end",      "break",  "continue"};
  for (const char* k : kStarts) {
    if (t.text == k) return true;
  }
  return false;
}

}  // namespace tdslite::sql::parser_detail

namespace tdslite::sql {

using parser_detail::Parser;

ParseResult ParseBatch(std::string_view sql, std::string_view database) {
  ParseResult result;
  LexResult lexed = Lex(sql);
  if (lexed.unclosed_quote) {
    ParseError e105;
    e105.number = 105;
    e105.severity = 15;
    e105.line = lexed.error_line;
    e105.text = "Unclosed quotation mark after the character string '" + lexed.unclosed_text + "'.";
    result.errors.push_back(e105);
    ParseError e102;
    e102.line = lexed.error_line;
    e102.text = "Incorrect syntax near '" + lexed.unclosed_text + "'.";
    result.errors.push_back(e102);
    return result;
  }
  if (!lexed.long_identifier.empty()) {
    ParseError e;
    e.number = 103;
    e.severity = 15;
    e.state = 4;
    e.line = lexed.error_line;
    e.text = "The identifier that starts with '" + lexed.long_identifier +
             "' is too long. Maximum length is 128.";
    if (lexed.long_temporary_name) {
      e.number = 193;
      e.state = 1;
      e.text = "The object or column name starting with '" + lexed.long_identifier +
               "' is too long. The maximum length is 116 characters.";
    }
    result.errors.push_back(e);
    return result;
  }
  for (const Token& t : lexed.tokens) {
    if (t.kind == TokenKind::kOperator && t.text == "/*") {
      ParseError e;
      e.number = 113;
      e.severity = 15;
      e.line = t.line;
      e.text = "Missing end comment mark '*/'.";
      result.errors.push_back(e);
      return result;
    }
  }
  Parser parser(std::move(lexed.tokens), &result);
  parser.SetDatabase(database);
  parser.SetSource(sql);
  parser.Run();
  return result;
}

}  // namespace tdslite::sql
