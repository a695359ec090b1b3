// select: the select list, TOP, FROM with joins and hints, WHERE, GROUP BY,
// HAVING, UNION and ORDER BY.
#include "parser_internal.h"

namespace tdslite::sql::parser_detail {

std::unique_ptr<Select> Parser::ParseSelectStatement() {
  DepthGuard guard(this);
  auto sel = ParseSelectCore();
  while (IsKw("union")) {
    Advance();
    bool all = AcceptKw("all");
    if (!IsKw("select")) {
      if (IsOp("(")) NotSupported("A parenthesized query in UNION");
      SyntaxError();
    }
    sel->unions.emplace_back(all, ParseSelectCore());
  }
  if (IsKw("except") || IsKw("intersect")) NotSupported(ToUpper(Peek().text));
  if (AcceptKw("order")) {
    ExpectKw("by");
    do {
      OrderItem item;
      item.expr = ParseValue();
      if (AcceptKw("desc")) {
        item.descending = true;
      } else {
        AcceptKw("asc");
      }
      sel->order_by.push_back(std::move(item));
    } while (AcceptOp(","));
  }
  if (IsKw("for")) NotSupported("FOR BROWSE/XML");
  if (IsKw("option")) NotSupported("Query hints (OPTION)");
  if (IsKw("compute")) NotSupported("COMPUTE");
  return sel;
}

ExprPtr Parser::ParseTop(bool* percent) {
  ExprPtr e;
  if (AcceptOp("(")) {
    e = ParseExpr();
    ExpectOp(")");
  } else {
    if (Peek().kind != TokenKind::kInteger && Peek().kind != TokenKind::kDecimal &&
        Peek().kind != TokenKind::kFloat) {
      SyntaxError();
    }
    e = ParsePrimary();
  }
  if (IsKw("percent")) {
    if (percent == nullptr) SyntaxError();
    NotSupported("TOP ... PERCENT");
  }
  if (IsKw("with") && IsWord("ties", 1)) NotSupported("TOP ... WITH TIES");
  return e;
}

std::unique_ptr<Select> Parser::ParseSelectCore() {
  auto sel = std::make_unique<Select>();
  sel->line = Peek().line;
  const bool may_into = into_allowed_;
  into_allowed_ = false;
  ExpectKw("select");
  if (AcceptKw("distinct")) {
    sel->distinct = true;
  } else {
    AcceptKw("all");
  }
  if (AcceptKw("top")) {
    bool percent = false;
    sel->top = ParseTop(&percent);
  }
  do {
    sel->items.push_back(ParseSelectItem());
  } while (AcceptOp(","));
  if (IsKw("into")) {
    // Only the first select of a statement may create a table.
    if (!may_into) SyntaxError();
    Advance();
    sel->into = ObjectName();
  }
  if (AcceptKw("from")) ParseFromList(&sel->from);
  if (AcceptKw("where")) sel->where = ParseExpr();
  if (AcceptKw("group")) {
    ExpectKw("by");
    if (IsKw("all")) NotSupported("GROUP BY ALL");
    do {
      sel->group_by.push_back(ParseValue());
    } while (AcceptOp(","));
    if (IsKw("with")) NotSupported("GROUP BY ... WITH ROLLUP/CUBE");
  }
  if (AcceptKw("having")) sel->having = ParseExpr();
  return sel;
}

SelectItem Parser::ParseSelectItem() {
  SelectItem item;
  // @variable = expr assigns; @variable += expr too
  if (Peek().kind == TokenKind::kVariable && Peek().text.rfind("@@", 0) != 0) {
    static constexpr const char* kCompound[] = {"+", "-", "*", "/", "%"};
    for (const char* op : kCompound) {
      if (IsOp(op, 1) && IsOp("=", 2)) NotSupported("A compound assignment in a SELECT");
    }
    if (IsOp("=", 1)) {
      item.assign = Advance().text;
      Advance();
      item.expr = ParseValue();
      return item;
    }
  }
  // alias = expr (the alias may be a name or a string)
  if ((Peek().kind == TokenKind::kIdentifier || Peek().kind == TokenKind::kString) &&
      IsOp("=", 1)) {
    item.alias = Advance().text;
    item.has_alias = true;
    Advance();
    item.expr = ParseValue();
    return item;
  }
  if (IsOp("*")) {
    Advance();
    item.expr = std::make_unique<Expr>();
    item.expr->kind = ExprKind::kStar;
    return item;
  }
  // qualifier.*
  if (Peek().kind == TokenKind::kIdentifier && IsOp(".", 1) && IsOp("*", 2)) {
    item.expr = std::make_unique<Expr>();
    item.expr->kind = ExprKind::kStar;
    item.expr->names.push_back(Advance().text);
    Advance();
    Advance();
    return item;
  }
  item.expr = ParseValue();
  if (AcceptKw("as")) {
    if (Peek().kind != TokenKind::kIdentifier && Peek().kind != TokenKind::kString) SyntaxError();
    item.alias = Advance().text;
    item.has_alias = true;
  } else if (Peek().kind == TokenKind::kIdentifier || Peek().kind == TokenKind::kString) {
    item.alias = Advance().text;
    item.has_alias = true;
  }
  return item;
}

void Parser::ParseFromList(std::vector<std::unique_ptr<TableRef>>* out) {
  do {
    out->push_back(ParseJoinedTable());
  } while (AcceptOp(","));
}

std::unique_ptr<TableRef> Parser::ParseJoinedTable() {
  DepthGuard guard(this);
  auto left = ParseTableFactor();
  for (;;) {
    JoinKind kind;
    if (AcceptKw("join")) {
      kind = JoinKind::kInner;
    } else if (IsKw("inner")) {
      Advance();
      ExpectKw("join");
      kind = JoinKind::kInner;
    } else if (IsKw("left") || IsKw("right") || IsKw("full")) {
      std::string k = Advance().text;
      AcceptKw("outer");
      ExpectKw("join");
      kind = k == "left" ? JoinKind::kLeft : (k == "right" ? JoinKind::kRight : JoinKind::kFull);
    } else if (IsKw("cross")) {
      Advance();
      if (IsWord("apply")) NotSupported("CROSS APPLY");
      ExpectKw("join");
      kind = JoinKind::kCross;
    } else if (IsWord("outer") && IsWord("apply", 1)) {
      NotSupported("OUTER APPLY");
    } else {
      break;
    }
    auto join = std::make_unique<TableRef>();
    join->line = Peek().line;
    join->join = kind;
    join->left = std::move(left);
    join->right = ParseTableFactor();
    if (kind != JoinKind::kCross) {
      ExpectKw("on");
      join->on = ParseExpr();
    }
    left = std::move(join);
  }
  return left;
}

std::unique_ptr<TableRef> Parser::ParseTableFactor() {
  auto ref = std::make_unique<TableRef>();
  ref->line = Peek().line;
  if (AcceptOp("(")) {
    if (IsKw("select")) {
      ref->subquery = ParseSelectStatement();
      ExpectOp(")");
      AcceptKw("as");
      if (Peek().kind != TokenKind::kIdentifier) SyntaxError();
      ref->alias = Advance().text;
      return ref;
    }
    auto inner = ParseJoinedTable();
    ExpectOp(")");
    return inner;
  }
  ref->name = ObjectName();
  if (AcceptKw("as")) {
    ref->alias = Identifier();
  } else if (Peek().kind == TokenKind::kIdentifier) {
    ref->alias = Advance().text;
  }
  if (IsKw("with") && IsOp("(", 1)) SkipTableHint();
  return ref;
}

}  // namespace tdslite::sql::parser_detail
