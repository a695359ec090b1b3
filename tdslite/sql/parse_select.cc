// select: the select list, TOP, FROM with joins and hints, WHERE, GROUP BY,
// HAVING, UNION and ORDER BY.
#include "parser_internal.h"

#include "tdslite/common/text.h"

namespace tdslite::sql::parser_detail {

std::unique_ptr<Select> Parser::ParseSelectStatement() {
  DepthGuard guard(this);
  auto sel = ParseSelectCore();
  bool after_union = false;
  for (;;) {
    SetOp op;
    if (IsKw("union")) {
      op = SetOp::kUnion;
    } else if (IsKw("except")) {
      op = SetOp::kExcept;
    } else if (IsKw("intersect")) {
      op = SetOp::kIntersect;
    } else {
      break;
    }
    // INTERSECT binds tighter than UNION and EXCEPT; a chain is evaluated
    // from left to right, so one after them would be read wrongly.
    if (op == SetOp::kIntersect && after_union) NotSupported("INTERSECT after UNION or EXCEPT");
    after_union = after_union || op != SetOp::kIntersect;
    Advance();
    bool all = op == SetOp::kUnion && AcceptKw("all");
    if (!IsKw("select")) {
      if (IsOp("(")) NotSupported("A parenthesized query in UNION, EXCEPT or INTERSECT");
      SyntaxError();
    }
    auto next = ParseSelectCore();
    next->set_op = op;
    sel->unions.emplace_back(all, std::move(next));
  }
  if (AcceptKw("order")) {
    ExpectKw("by");
    ParseOrderList(&sel->order_by);
    if (IsWord("offset")) {
      Advance();
      sel->offset = ParseValue();
      if (!AcceptWord("rows") && !AcceptWord("row")) SyntaxError();
      if (AcceptKw("fetch")) {
        if (!AcceptWord("next") && !AcceptWord("first")) SyntaxError();
        sel->fetch = ParseValue();
        if (!AcceptWord("rows") && !AcceptWord("row")) SyntaxError();
        if (!AcceptWord("only")) SyntaxError();
      }
      if (sel->top)
        Fail(10741, 15, "A TOP can not be used in the same query or sub-query as a OFFSET.");
    } else if (IsKw("fetch") && (IsWord("next", 1) || IsWord("first", 1))) {
      Advance();
      Fail(153, 15,
           "Invalid usage of the option " + ToUpper(Peek().text) + " in the FETCH statement.");
    }
  }
  if (IsKw("for")) {
    if (IsWord("xml", 1) && IsWord("path", 2) && IsOp("(", 3) &&
        Peek(4).kind == TokenKind::kString && Peek(4).text.empty() && IsOp(")", 5) &&
        !IsOp(",", 6)) {
      for (int i = 0; i < 6; ++i) Advance();
      sel->for_xml_path = true;
    } else {
      NotSupported("FOR BROWSE, and FOR XML other than PATH('')");
    }
  }
  if (IsKw("option")) {
    Advance();
    ExpectOp("(");
    if (!AcceptWord("maxrecursion")) NotSupported("Query hints (OPTION) other than MAXRECURSION");
    if (Peek().kind != TokenKind::kInteger) SyntaxError();
    int64_t n = SignedInteger();
    if (n > 32767) {
      Fail(310, 15,
           "The value " + std::to_string(n) +
               " specified for the MAXRECURSION option exceeds the allowed maximum of 32767.");
    }
    sel->maxrecursion = n;
    ExpectOp(")");
  }
  if (IsKw("compute")) NotSupported("COMPUTE");
  return sel;
}

void Parser::ParseOrderList(std::vector<OrderItem>* out) {
  do {
    OrderItem item;
    item.expr = ParseValue();
    if (AcceptKw("desc")) {
      item.descending = true;
    } else {
      AcceptKw("asc");
    }
    out->push_back(std::move(item));
  } while (AcceptOp(","));
}

// with name [(columns)] as (select ...), ...: the statement that follows
// gets them.
std::vector<CommonTable> Parser::ParseWith() {
  ExpectKw("with");
  std::vector<CommonTable> out;
  do {
    CommonTable cte;
    cte.line = Peek().line;
    cte.name = Identifier();
    if (AcceptOp("(")) {
      do {
        cte.columns.push_back(Identifier());
      } while (AcceptOp(","));
      ExpectOp(")");
    }
    ExpectKw("as");
    ExpectOp("(");
    if (!IsKw("select")) SyntaxError();
    cte.select = ParseSelectStatement();
    ExpectOp(")");
    for (const CommonTable& other : out) {
      if (EqualsIgnoreCase(other.name, cte.name)) {
        Fail(239, 16, "Duplicate common table expression name '" + cte.name + "' was specified.");
      }
    }
    out.push_back(std::move(cte));
  } while (AcceptOp(","));
  return out;
}

ExprPtr Parser::ParseTop(bool* percent, bool* ties) {
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
    Advance();
    *percent = true;
  }
  if (IsKw("with") && IsWord("ties", 1)) {
    if (ties == nullptr) NotSupported("TOP ... WITH TIES outside a SELECT");
    Advance();
    Advance();
    *ties = true;
  }
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
    sel->top = ParseTop(&sel->top_percent, &sel->top_ties);
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
      if (IsWord("rollup") && IsOp("(", 1)) NotSupported("GROUP BY ROLLUP");
      if (IsWord("cube") && IsOp("(", 1)) NotSupported("GROUP BY CUBE");
      if (IsWord("grouping") && IsWord("sets", 1)) NotSupported("GROUPING SETS");
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
    } else if (IsWord("pivot") && IsOp("(", 1)) {
      NotSupported("PIVOT");
    } else if (IsWord("unpivot") && IsOp("(", 1)) {
      NotSupported("UNPIVOT");
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
    if (IsKw("select") || IsKw("values")) {
      ref->subquery = IsKw("values") ? ParseRowConstructor() : ParseSelectStatement();
      ExpectOp(")");
      AcceptKw("as");
      if (Peek().kind != TokenKind::kIdentifier) SyntaxError();
      ref->alias = Advance().text;
      if (AcceptOp("(")) {
        do {
          ref->column_aliases.push_back(Identifier());
        } while (AcceptOp(","));
        ExpectOp(")");
      }
      return ref;
    }
    auto inner = ParseJoinedTable();
    ExpectOp(")");
    return inner;
  }
  if (Peek().kind == TokenKind::kIdentifier && IsOp("(", 1)) {
    // A table-valued function: string_split(...).
    if (!EqualsIgnoreCase(Peek().text, "string_split")) {
      NotSupported("The table-valued function " + Peek().text + "()");
    }
    ref->function = Make(ExprKind::kFunction, Peek());
    ref->function->text = ToLower(Advance().text);
    ExpectOp("(");
    do {
      ref->function->args.push_back(ParseValue());
    } while (AcceptOp(","));
    ExpectOp(")");
    AcceptKw("as");
    if (Peek().kind == TokenKind::kIdentifier) ref->alias = Advance().text;
    return ref;
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

// values (a, b), (c, d): a union all of one-row selects.
std::unique_ptr<Select> Parser::ParseRowConstructor() {
  ExpectKw("values");
  std::unique_ptr<Select> first;
  size_t width = 0;
  do {
    auto row = std::make_unique<Select>();
    row->line = Peek().line;
    ExpectOp("(");
    do {
      SelectItem item;
      item.expr = ParseValue();
      row->items.push_back(std::move(item));
    } while (AcceptOp(","));
    ExpectOp(")");
    if (first == nullptr) {
      width = row->items.size();
      first = std::move(row);
      continue;
    }
    if (row->items.size() != width) {
      Fail(10709, 16,
           "The number of columns for each row in a table value constructor must be the same.");
    }
    first->unions.emplace_back(true, std::move(row));
  } while (AcceptOp(","));
  return first;
}

}  // namespace tdslite::sql::parser_detail
