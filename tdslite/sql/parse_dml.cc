// Data statements: insert, update, delete, their OUTPUT clause and table hints.
#include "parser_internal.h"
#include "values.h"

namespace tdslite::sql::parser_detail {

Stmt Parser::ParseInsert(Stmt s) {
  Advance();
  s.kind = StmtKind::kInsert;
  if (IsKw("top")) NotSupported("INSERT TOP");
  AcceptKw("into");
  s.table = ObjectName();
  if (IsKw("with")) NotSupported("A table hint on INSERT");
  if (IsOp("(") && !IsKw("select", 1)) {
    Advance();
    do {
      s.columns.push_back(Identifier());
    } while (AcceptOp(","));
    ExpectOp(")");
  }
  ParseOutput(&s);
  if (AcceptKw("values")) {
    do {
      ExpectOp("(");
      std::vector<ExprPtr> row;
      if (!IsOp(")")) {
        do {
          if (IsKw("default")) NotSupported("DEFAULT in a VALUES list");
          row.push_back(ParseValue());
        } while (AcceptOp(","));
      }
      ExpectOp(")");
      s.rows.push_back(std::move(row));
    } while (AcceptOp(","));
    return s;
  }
  if (IsKw("select") || (IsOp("(") && IsKw("select", 1))) {
    bool paren = AcceptOp("(");
    s.select = ParseSelectStatement();
    if (paren) ExpectOp(")");
    return s;
  }
  if (AcceptKw("default")) {
    ExpectKw("values");
    s.default_values = true;
    return s;
  }
  if (IsKw("exec") || IsKw("execute")) {
    Stmt call;
    call.line = Peek().line;
    Advance();
    call = ParseExec(std::move(call));
    if (call.kind != StmtKind::kExec) NotSupported("INSERT ... EXEC of a string");
    s.exec = std::make_unique<Stmt>(std::move(call));
    return s;
  }
  SyntaxError();
}

Stmt Parser::ParseUpdate(Stmt s) {
  Advance();
  s.kind = StmtKind::kUpdate;
  if (AcceptKw("top")) s.top = ParseTop(nullptr);
  s.table = ObjectName();
  if (IsKw("with")) SkipTableHint();
  ExpectKw("set");
  do {
    std::string col = Identifier();
    if (AcceptOp(".")) col = Identifier();  // t.col
    if (!IsOp("=")) {
      if (IsOp("+") || IsOp("-") || IsOp("*") || IsOp("/")) NotSupported("Compound assignment");
      SyntaxError();
    }
    Advance();
    if (IsKw("default")) NotSupported("SET column = DEFAULT");
    s.assignments.emplace_back(col, ParseValue());
  } while (AcceptOp(","));
  ParseOutput(&s);
  if (AcceptKw("from")) ParseFromList(&s.from);
  if (AcceptKw("where")) {
    if (IsKw("current")) NotSupported("WHERE CURRENT OF");
    s.where = ParseExpr();
  }
  return s;
}

Stmt Parser::ParseDelete(Stmt s) {
  Advance();
  s.kind = StmtKind::kDelete;
  if (AcceptKw("top")) s.top = ParseTop(nullptr);
  AcceptKw("from");
  s.table = ObjectName();
  if (IsKw("with")) SkipTableHint();
  ParseOutput(&s);
  if (AcceptKw("from")) ParseFromList(&s.from);
  if (AcceptKw("where")) s.where = ParseExpr();
  return s;
}

void Parser::ParseOutput(Stmt* s) {
  if (!IsWord("output")) return;
  Advance();
  do {
    OutputItem item;
    if (IsWord("inserted") || IsWord("deleted")) {
      item.deleted = IsWord("deleted");
      Advance();
    } else {
      NotSupported("An OUTPUT column other than inserted.column or deleted.column");
    }
    ExpectOp(".");
    item.column = AcceptOp("*") ? "*" : Identifier();
    if (AcceptKw("as")) {
      item.alias = Identifier();
    } else if (Peek().kind == TokenKind::kIdentifier && !IsWord("into")) {
      item.alias = Advance().text;
    }
    s->output.push_back(std::move(item));
  } while (AcceptOp(","));
  if (IsKw("into") || IsWord("into")) NotSupported("OUTPUT ... INTO");
}

void Parser::SkipTableHint() {
  // WITH (NOLOCK) and friends only change locking, which SQLite does its own way.
  ExpectKw("with");
  ExpectOp("(");
  do {
    if (Peek().kind != TokenKind::kIdentifier && Peek().kind != TokenKind::kKeyword) {
      SyntaxError();
    }
    std::string hint = ToLower(Advance().text);
    static constexpr const char* kHints[] = {
        "nolock",   "readuncommitted", "readcommitted", "rowlock",      "updlock",
        "holdlock", "tablock",         "paglock",       "serializable", "repeatableread",
        "readpast", "xlock",           "tablockx"};
    bool known = false;
    for (const char* h : kHints) known = known || hint == h;
    if (!known) NotSupported("The table hint " + hint);
  } while (AcceptOp(","));
  ExpectOp(")");
}

}  // namespace tdslite::sql::parser_detail
