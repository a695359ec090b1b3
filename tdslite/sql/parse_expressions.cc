// Expressions, one method per precedence level, and the special forms
// (function calls, CAST, CONVERT, CASE).
#include "parser_internal.h"

namespace tdslite::sql::parser_detail {

ExprPtr Parser::Make(ExprKind kind, const Token& at) {
  auto e = std::make_unique<Expr>();
  e->kind = kind;
  e->line = at.line;
  e->raw = at.raw;
  return e;
}

ExprPtr Parser::Binary(std::string op, ExprPtr a, ExprPtr b) {
  auto e = std::make_unique<Expr>();
  e->kind = ExprKind::kBinaryOp;
  e->line = a->line;
  e->text = std::move(op);
  e->args.push_back(std::move(a));
  e->args.push_back(std::move(b));
  return e;
}

ExprPtr Parser::ParseExpr() {
  DepthGuard guard(this);
  auto left = ParseAnd();
  while (IsKw("or")) {
    Advance();
    left = Binary("or", std::move(left), ParseAnd());
  }
  return left;
}

// An expression where a value is expected: comparisons and logic are not
// values in T-SQL, so they end the expression (and usually the statement).
ExprPtr Parser::ParseValue() {
  DepthGuard guard(this);
  return ParseAdditive();
}

ExprPtr Parser::ParseAnd() {
  auto left = ParseNot();
  while (IsKw("and")) {
    Advance();
    left = Binary("and", std::move(left), ParseNot());
  }
  return left;
}

ExprPtr Parser::ParseNot() {
  if (IsKw("not")) {
    DepthGuard guard(this);
    const Token& t = Advance();
    auto e = Make(ExprKind::kUnary, t);
    e->text = "not";
    e->args.push_back(ParseNot());
    return e;
  }
  return ParsePredicate();
}

ExprPtr Parser::ParsePredicate() {
  if (IsKw("exists")) {
    const Token& t = Advance();
    auto e = Make(ExprKind::kExists, t);
    ExpectOp("(");
    if (!IsKw("select")) SyntaxError();
    e->subquery = ParseSelectStatement();
    ExpectOp(")");
    return e;
  }
  auto left = ParseAdditive();
  static constexpr const char* kCompare[] = {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"};
  for (const char* op : kCompare) {
    if (IsOp(op)) {
      Advance();
      if (IsKw("all") || IsKw("any") || IsKw("some")) NotSupported("ALL/ANY/SOME comparisons");
      std::string o = op;
      if (o == "!=") o = "<>";
      if (o == "!<") o = ">=";
      if (o == "!>") o = "<=";
      return Binary(o, std::move(left), ParseAdditive());
    }
  }
  bool negated = false;
  if (IsKw("not") && (IsKw("between", 1) || IsKw("in", 1) || IsKw("like", 1))) {
    Advance();
    negated = true;
  }
  if (IsKw("between")) {
    const Token& t = Advance();
    auto e = Make(ExprKind::kBetween, t);
    e->negated = negated;
    e->args.push_back(std::move(left));
    e->args.push_back(ParseAdditive());
    ExpectKw("and");
    e->args.push_back(ParseAdditive());
    return e;
  }
  if (IsKw("in")) {
    const Token& t = Advance();
    auto e = Make(ExprKind::kIn, t);
    e->negated = negated;
    e->args.push_back(std::move(left));
    ExpectOp("(");
    if (IsKw("select")) {
      e->subquery = ParseSelectStatement();
    } else {
      do {
        e->args.push_back(ParseValue());
      } while (AcceptOp(","));
    }
    ExpectOp(")");
    return e;
  }
  if (IsKw("like")) {
    const Token& t = Advance();
    auto e = Make(ExprKind::kLike, t);
    e->negated = negated;
    e->args.push_back(std::move(left));
    e->args.push_back(ParseAdditive());
    if (AcceptKw("escape")) e->args.push_back(ParseAdditive());
    return e;
  }
  if (negated) SyntaxError();
  if (IsKw("is")) {
    const Token& t = Advance();
    auto e = Make(ExprKind::kIsNull, t);
    e->negated = AcceptKw("not");
    ExpectKw("null");
    e->args.push_back(std::move(left));
    return e;
  }
  return left;
}

ExprPtr Parser::ParseAdditive() {
  auto left = ParseMultiplicative();
  while (IsOp("+") || IsOp("-") || IsOp("&") || IsOp("|") || IsOp("^")) {
    std::string op = Advance().text;
    left = Binary(op, std::move(left), ParseMultiplicative());
  }
  return left;
}

ExprPtr Parser::ParseMultiplicative() {
  auto left = ParseUnary();
  while (IsOp("*") || IsOp("/") || IsOp("%")) {
    std::string op = Advance().text;
    left = Binary(op, std::move(left), ParseUnary());
  }
  return left;
}

ExprPtr Parser::ParseUnary() {
  if (IsOp("-") || IsOp("+") || IsOp("~")) {
    DepthGuard guard(this);
    const Token& t = Advance();
    auto e = Make(ExprKind::kUnary, t);
    e->text = t.text;
    e->args.push_back(ParseUnary());
    return e;
  }
  auto e = ParsePrimary();
  if (IsKw("collate")) NotSupported("COLLATE");
  return e;
}

ExprPtr Parser::ParsePrimary() {
  DepthGuard guard(this);
  const Token& t = Peek();
  switch (t.kind) {
    case TokenKind::kMoney: {
      auto e = Make(ExprKind::kMoney, t);
      e->text = Advance().text;
      return e;
    }
    case TokenKind::kInteger:
    case TokenKind::kDecimal:
    case TokenKind::kFloat:
    case TokenKind::kString:
    case TokenKind::kNString:
    case TokenKind::kBinary: {
      static constexpr ExprKind kKinds[] = {ExprKind::kInteger, ExprKind::kDecimal,
                                            ExprKind::kFloat,   ExprKind::kString,
                                            ExprKind::kNString, ExprKind::kBinary};
      ExprKind kind = t.kind == TokenKind::kInteger   ? kKinds[0]
                      : t.kind == TokenKind::kDecimal ? kKinds[1]
                      : t.kind == TokenKind::kFloat   ? kKinds[2]
                      : t.kind == TokenKind::kString  ? kKinds[3]
                      : t.kind == TokenKind::kNString ? kKinds[4]
                                                      : kKinds[5];
      auto e = Make(kind, t);
      e->text = Advance().text;
      return e;
    }
    case TokenKind::kVariable: {
      auto e = Make(ExprKind::kVariable, t);
      e->text = Advance().text;
      return e;
    }
    case TokenKind::kOperator:
      if (t.text == "(") {
        Advance();
        if (IsKw("select")) {
          auto e = Make(ExprKind::kSubquery, t);
          e->subquery = ParseSelectStatement();
          ExpectOp(")");
          return e;
        }
        auto e = ParseExpr();
        ExpectOp(")");
        return e;
      }
      SyntaxError();
    case TokenKind::kKeyword: {
      if (t.text == "null") {
        auto e = Make(ExprKind::kNull, t);
        Advance();
        return e;
      }
      if (t.text == "case") return ParseCase();
      if (t.text == "convert") return ParseConvert();
      if (t.text == "current_timestamp") {
        auto e = Make(ExprKind::kFunction, t);
        Advance();
        e->text = "getdate";
        return e;
      }
      if (t.text == "coalesce" || t.text == "nullif" || t.text == "left" || t.text == "right" ||
          t.text == "user" || t.text == "current_user" || t.text == "session_user" ||
          t.text == "system_user") {
        if (t.text == "left" || t.text == "right" || t.text == "coalesce" || t.text == "nullif") {
          return ParseFunctionCall();
        }
        auto e = Make(ExprKind::kFunction, t);
        e->text = Advance().text;
        return e;
      }
      SyntaxError();
    }
    case TokenKind::kIdentifier: {
      if (IsOp("(", 1)) {
        if (!t.quoted && ToLower(t.text) == "cast") return ParseCast();
        if (!t.quoted && (ToLower(t.text) == "try_cast" || ToLower(t.text) == "try_convert")) {
          // A conversion that answers NULL instead of failing.
          ExprPtr e = ToLower(t.text) == "try_cast" ? ParseCast() : ParseConvert();
          e->try_conversion = true;
          return e;
        }
        return ParseFunctionCall();
      }
      auto e = Make(ExprKind::kColumn, t);
      e->names.push_back(Advance().text);
      while (IsOp(".")) {
        Advance();
        if (IsOp(".")) continue;
        if (IsOp("*")) SyntaxError();
        if (Peek().kind != TokenKind::kIdentifier) SyntaxError();
        e->names.push_back(Advance().text);
        if (e->names.size() > 4) SyntaxError();
        if (IsOp("(")) return ParseUserFunctionCall(std::move(e));
      }
      e->raw = e->names.back();
      return e;
    }
    default:
      SyntaxError();
  }
}

ExprPtr Parser::ParseFunctionCall() {
  const Token& t = Advance();
  auto e = Make(ExprKind::kFunction, t);
  e->text = ToLower(t.text);
  const Builtin* builtin = FindBuiltin(e->text);
  if (builtin == nullptr || builtin->kind == BuiltinKind::kRefused) {
    if (builtin != nullptr) NotSupported("The function " + e->text + "()");
    ParseError err;
    err.number = 195;
    err.severity = 15;
    err.state = 10;
    err.line = t.line;
    err.text = "'" + t.text + "' is not a recognized built-in function name.";
    result_->errors.push_back(err);
    throw Failure{};
  }
  ExpectOp("(");
  if (IsOp("*")) {
    Advance();
    e->star = true;
    ExpectOp(")");
    if (AcceptKw("over")) e->over = ParseWindow();
    return e;
  }
  if (AcceptKw("distinct")) {
    e->distinct = true;
  } else {
    AcceptKw("all");
  }
  if (!IsOp(")")) {
    do {
      // iif's first argument is a condition.
      const bool condition = builtin->rule == BuiltinRule::kIif && e->args.empty();
      e->args.push_back(condition ? ParseExpr() : ParseValue());
    } while (AcceptOp(","));
  }
  ExpectOp(")");
  if (IsWord("within") && IsKw("group", 1)) {
    if (e->text != "string_agg") SyntaxError();
    Advance();
    Advance();
    ExpectOp("(");
    ExpectKw("order");
    ExpectKw("by");
    e->within = std::make_unique<WindowSpec>();
    ParseOrderList(&e->within->order);
    ExpectOp(")");
  }
  if (AcceptKw("over")) {
    if (builtin->kind == BuiltinKind::kScalar || e->text == "string_agg") {
      Fail(4113, 15,
           "The function '" + t.text +
               "' is not a valid windowing function, and cannot be used with the OVER clause.");
    }
    e->over = ParseWindow();
  } else if (builtin->kind == BuiltinKind::kWindow) {
    Fail(10753, 15, "The function '" + t.text + "' must have an OVER clause.");
  }
  return e;
}

std::unique_ptr<WindowSpec> Parser::ParseWindow() {
  auto w = std::make_unique<WindowSpec>();
  ExpectOp("(");
  if (AcceptWord("partition")) {
    ExpectKw("by");
    do {
      w->partition.push_back(ParseValue());
    } while (AcceptOp(","));
  }
  if (AcceptKw("order")) {
    ExpectKw("by");
    ParseOrderList(&w->order);
  }
  if (IsWord("rows") || IsWord("range")) {
    const bool rows = ToLower(Advance().text) == "rows";
    // One bound: unbounded preceding, n preceding, current row, n following,
    // unbounded following.
    auto bound = [&]() -> std::string {
      if (AcceptWord("unbounded")) {
        if (AcceptWord("preceding")) return "UNBOUNDED PRECEDING";
        if (AcceptWord("following")) return "UNBOUNDED FOLLOWING";
        SyntaxError();
      }
      if (AcceptKw("current")) {
        if (!AcceptWord("row")) SyntaxError();
        return "CURRENT ROW";
      }
      if (Peek().kind != TokenKind::kInteger) SyntaxError();
      if (!rows) NotSupported("RANGE with an offset");
      std::string n = Advance().text;
      if (AcceptWord("preceding")) return n + " PRECEDING";
      if (AcceptWord("following")) return n + " FOLLOWING";
      SyntaxError();
    };
    std::string frame = rows ? "ROWS " : "RANGE ";
    if (AcceptKw("between")) {
      frame += "BETWEEN " + bound();
      ExpectKw("and");
      frame += " AND " + bound();
    } else {
      frame += bound();
    }
    if (w->order.empty()) {
      Fail(10756, 15, "Window frame with ROWS or RANGE must have an ORDER BY clause.");
    }
    w->frame = frame;
  }
  ExpectOp(")");
  return w;
}

// schema.name(args): a scalar function of the database. The call keeps the
// qualifiers in `names`, the function's name in `text`.
ExprPtr Parser::ParseUserFunctionCall(ExprPtr e) {
  e->kind = ExprKind::kFunction;
  e->text = ToLower(e->names.back());
  e->raw.clear();
  for (size_t i = 0; i < e->names.size(); ++i) e->raw += (i ? "." : "") + e->names[i];
  e->names.pop_back();
  ExpectOp("(");
  if (!IsOp(")")) {
    do {
      e->args.push_back(ParseValue());
      if (e->args.size() > 2100) SyntaxError();
    } while (AcceptOp(","));
  }
  ExpectOp(")");
  if (IsKw("over")) SyntaxError();
  return e;
}

ExprPtr Parser::ParseCast() {
  const Token& t = Advance();
  auto e = Make(ExprKind::kCast, t);
  ExpectOp("(");
  e->args.push_back(ParseValue());
  ExpectKw("as");
  ParseTypeInto(&e->cast_type, true);
  ExpectOp(")");
  return e;
}

ExprPtr Parser::ParseConvert() {
  const Token& t = Advance();
  auto e = Make(ExprKind::kCast, t);
  ExpectOp("(");
  ParseTypeInto(&e->cast_type, true);
  ExpectOp(",");
  e->args.push_back(ParseValue());
  if (AcceptOp(",")) e->args.push_back(ParseValue());
  ExpectOp(")");
  return e;
}

ExprPtr Parser::ParseCase() {
  const Token& t = Advance();
  auto e = Make(ExprKind::kCase, t);
  if (!IsKw("when")) {
    e->case_has_operand = true;
    e->args.push_back(ParseValue());
  }
  if (!IsKw("when")) SyntaxError();
  while (AcceptKw("when")) {
    e->args.push_back(ParseExpr());
    ExpectKw("then");
    e->args.push_back(ParseValue());
  }
  if (AcceptKw("else")) {
    e->case_has_else = true;
    e->args.push_back(ParseValue());
  }
  ExpectKw("end");
  return e;
}

}  // namespace tdslite::sql::parser_detail
