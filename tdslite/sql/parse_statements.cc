// Statements: the dispatch, control of flow, declare and set, exec, raiserror, waitfor.
#include "parser_internal.h"
#include "values.h"

namespace tdslite::sql::parser_detail {

Stmt Parser::ParseStatement(bool first) {
  first_statement_ = first;
  first_ = first;
  Stmt s;
  s.line = Peek().line;
  const Token& t = Peek();
  if (t.kind == TokenKind::kIdentifier && !t.quoted) {
    std::string w = ToLower(t.text);
    if (w == "truncate") {  // not reserved in every version; handled as a word
    }
  }
  if (t.kind == TokenKind::kKeyword) {
    const std::string kw = t.text;
    if (kw == "select") {
      s.kind = StmtKind::kSelect;
      into_allowed_ = true;
      s.select = ParseSelectStatement();
      into_allowed_ = false;
      return s;
    }
    if (kw == "with") {
      std::vector<CommonTable> with = ParseWith();
      if (IsKw("select")) {
        s = ParseStatement(first);
        s.select->with = std::move(with);
        return s;
      }
      if (!IsKw("insert") && !IsKw("update") && !IsKw("delete")) {
        if (IsKw("merge")) NotSupported("The MERGE statement");
        SyntaxError();
      }
      s = ParseStatement(first);
      if (s.select != nullptr) {
        s.select->with = std::move(with);
      } else {
        s.with = std::move(with);
      }
      return s;
    }
    if (kw == "insert") return ParseInsert(std::move(s));
    if (kw == "update") return ParseUpdate(std::move(s));
    if (kw == "delete") return ParseDelete(std::move(s));
    if (kw == "truncate") {
      Advance();
      ExpectKw("table");
      s.kind = StmtKind::kTruncate;
      s.table = ObjectName();
      return s;
    }
    if (kw == "create") return ParseCreate(std::move(s));
    if (kw == "alter" && (IsKw("proc", 1) || IsKw("procedure", 1) || IsKw("function", 1))) {
      Advance();
      return ParseCreateModule(std::move(s), Stmt::CreateMode::kAlter);
    }
    if (kw == "alter") return ParseAlter(std::move(s));
    if (kw == "drop") return ParseDrop(std::move(s));
    if (kw == "begin") {
      Advance();
      if (AcceptKw("tran") || AcceptKw("transaction")) {
        s.kind = StmtKind::kBeginTran;
        if (Peek().kind == TokenKind::kIdentifier && !IsStatementStart()) s.name = Advance().text;
        return s;
      }
      if (IsWord("distributed")) NotSupported("BEGIN DISTRIBUTED TRANSACTION");
      if (AcceptKw("try") || AcceptWord("try")) return ParseTry(std::move(s));
      // BEGIN ... END groups statements (the body of an IF).
      s.kind = StmtKind::kBlock;
      DepthGuard guard(this);
      ParseBlockBody(&s.body);
      return s;
    }
    if (kw == "if") {
      Advance();
      DepthGuard guard(this);
      s.kind = StmtKind::kIf;
      s.where = ParseExpr();
      AcceptOp(";");
      if (AtEnd()) SyntaxError();
      s.body.push_back(ParseStatement(false));
      AcceptOp(";");
      if (AcceptKw("else")) {
        if (AtEnd()) SyntaxError();
        s.else_body.push_back(ParseStatement(false));
      }
      return s;
    }
    if (kw == "while") {
      Advance();
      DepthGuard guard(this);
      s.kind = StmtKind::kWhile;
      s.where = ParseExpr();
      AcceptOp(";");
      if (AtEnd()) SyntaxError();
      ++loops_;
      s.body.push_back(ParseStatement(false));
      --loops_;
      return s;
    }
    if (kw == "break" || kw == "continue") {
      Advance();
      if (loops_ == 0) {
        if (kw == "break") {
          Fail(135, 15, "Cannot use a BREAK statement outside the scope of a WHILE statement.");
        }
        Fail(136, 15, "Cannot use a CONTINUE statement outside the scope of a WHILE statement.");
      }
      s.kind = kw == "break" ? StmtKind::kBreak : StmtKind::kContinue;
      return s;
    }
    if (kw == "return") {
      Advance();
      s.kind = StmtKind::kReturn;
      if (!AtEnd() && !IsOp(";") && !IsStatementStart()) {
        if (!in_module_) {
          Fail(178, 15, "A RETURN statement with a return value cannot be used in this context.");
        }
        s.args.push_back(ParseValue());
      }
      return s;
    }
    if (kw == "declare") return ParseDeclare(std::move(s));
    if (kw == "commit" || kw == "rollback") {
      Advance();
      s.kind = kw == "commit" ? StmtKind::kCommit : StmtKind::kRollback;
      if (AcceptKw("tran") || AcceptKw("transaction") || AcceptWord("work")) {
        if (Peek().kind == TokenKind::kIdentifier && !IsStatementStart()) s.name = Advance().text;
        if (Peek().kind == TokenKind::kVariable) {
          NotSupported("A transaction name in a variable");
        }
      }
      return s;
    }
    if (kw == "save") {
      // save tran[saction] name: a savepoint the transaction can roll back to.
      Advance();
      if (!AcceptKw("tran") && !AcceptKw("transaction")) SyntaxError();
      if (Peek().kind == TokenKind::kVariable) NotSupported("A savepoint name in a variable");
      s.kind = StmtKind::kSaveTran;
      s.name = Identifier();
      return s;
    }
    if (kw == "set") return ParseSet(std::move(s));
    if (kw == "print") {
      Advance();
      s.kind = StmtKind::kPrint;
      s.args.push_back(ParseValue());
      return s;
    }
    if (kw == "raiserror") return ParseRaiserror(std::move(s));
    if (kw == "waitfor") return ParseWaitFor(std::move(s));
    if (kw == "use") {
      Advance();
      s.kind = StmtKind::kUse;
      s.name = Identifier();
      return s;
    }
    if (kw == "exec" || kw == "execute") {
      Advance();
      return ParseExec(std::move(s));
    }
    static constexpr const char* kRefused[] = {
        "grant",       "revoke",     "deny",     "goto",       "open",    "fetch",
        "close",       "deallocate", "dbcc",     "backup",     "restore", "merge",
        "writetext",   "updatetext", "readtext", "checkpoint", "kill",    "shutdown",
        "reconfigure", "bulk",       "setuser",  "revert"};
    for (const char* r : kRefused) {
      if (kw == r) NotSupported("The " + ToUpper(kw) + " statement");
    }
    SyntaxError();
  }
  if (t.kind == TokenKind::kIdentifier && !t.quoted && ToLower(t.text) == "throw") {
    Advance();
    s.kind = StmtKind::kThrow;
    if (AtEnd() || IsOp(";") || IsStatementStart()) {
      if (catches_ == 0) {
        Fail(10704, 15,
             "To rethrow an error, a THROW statement must be used inside a CATCH block. Insert "
             "the THROW statement inside a CATCH block, or add error parameters to the THROW "
             "statement.");
      }
      return s;
    }
    s.args.push_back(ParseValue());
    ExpectOp(",");
    s.args.push_back(ParseValue());
    ExpectOp(",");
    s.args.push_back(ParseValue());
    return s;
  }
  if (t.kind == TokenKind::kIdentifier && !t.quoted && ToLower(t.text) == "else") SyntaxError();
  if (first && t.kind == TokenKind::kIdentifier) {
    // A batch that begins with a name calls that procedure.
    return ParseExec(std::move(s));
  }
  if (IsOp("(") && IsKw("select", 1)) {
    // (select ...) union (select ...)
    NotSupported("A parenthesized query at statement level");
  }
  SyntaxError();
}

// waitfor delay|time '<time>' | @variable. A literal that is no time of day
// fails the batch before it runs, as on SQL Server.
Stmt Parser::ParseWaitFor(Stmt s) {
  Advance();
  s.kind = StmtKind::kWaitFor;
  if (IsOp("(")) NotSupported("WAITFOR with RECEIVE");
  if (AcceptWord("delay")) {
    s.on = false;
  } else if (AcceptWord("time")) {
    s.on = true;
  } else {
    SyntaxError();
  }
  const Token& t = Peek();
  if (t.kind == TokenKind::kString || t.kind == TokenKind::kNString) {
    if (!ParseWaitTime(t.text)) Fail(148, 15, WaitTimeError(t.text));
  } else if (t.kind != TokenKind::kVariable) {
    SyntaxError();
  }
  s.args.push_back(ParsePrimary());
  return s;
}

std::string Parser::ToUpper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

Stmt Parser::ParseExec(Stmt s) {
  s.kind = StmtKind::kExec;
  if (IsOp("(")) {
    // exec ('...' + @v): the text is run as a batch of its own.
    Advance();
    s.kind = StmtKind::kExecString;
    s.args.push_back(ParseValue());
    ExpectOp(")");
    if (IsKw("as") || IsWord("at")) NotSupported("EXEC (...) AS or AT");
    return s;
  }
  if (Peek().kind == TokenKind::kVariable) {
    if (!IsOp("=", 1) || Peek().text.rfind("@@", 0) == 0) {
      NotSupported("EXEC of a procedure named by a variable");
    }
    s.return_variable = Advance().text;
    Advance();
  }
  s.name = ObjectName(true);
  if (IsOp(";") && Peek(1).kind == TokenKind::kInteger) NotSupported("Numbered procedures");
  // Arguments: [@name =] expr|default [output], ...
  if (!AtEnd() && !IsOp(";") && !IsStatementStart()) {
    for (;;) {
      std::string name;
      if (Peek().kind == TokenKind::kVariable && IsOp("=", 1)) {
        name = Advance().text;  // lower-cased, with its @
        Advance();
      } else if (!s.arg_names.empty() && !s.arg_names.back().empty()) {
        // SQL Server: "Must pass parameter number 2 and subsequent parameters as
        // '@name = value'..." (119).
        ParseError e;
        e.number = 119;
        e.severity = 15;
        e.line = Peek().line;
        e.text = "Must pass parameter number " + std::to_string(s.args.size() + 1) +
                 " and subsequent parameters as '@name = value'. After the form '@name = "
                 "value' has been used, all subsequent parameters must be passed in the form "
                 "'@name = value'.";
        result_->errors.push_back(e);
        throw Failure{};
      }
      s.arg_names.push_back(name);
      if (AcceptKw("default")) {
        s.args.push_back(nullptr);
      } else {
        s.args.push_back(ParseValue());
      }
      bool output = false;
      if (AcceptWord("output") || AcceptWord("out")) {
        output = true;
        const Expr* value = s.args.back().get();
        if (value == nullptr || value->kind != ExprKind::kVariable ||
            value->text.rfind("@@", 0) == 0) {
          Fail(179, 15,
               "Cannot use the OUTPUT option when passing a constant to a stored procedure.");
        }
      }
      s.arg_output.push_back(output);
      if (!AcceptOp(",")) break;
    }
  }
  if (IsKw("with") && IsWord("recompile", 1)) {
    Advance();
    Advance();
  }
  return s;
}

void Parser::ParseBlockBody(std::vector<Stmt>* body) {
  while (!IsKw("end")) {
    if (AtEnd()) SyntaxError();
    if (AcceptOp(";")) continue;
    body->push_back(ParseStatement(false));
  }
  Advance();
}

Stmt Parser::ParseTry(Stmt s) {
  DepthGuard guard(this);
  s.kind = StmtKind::kTry;
  while (!(IsKw("end") && (IsKw("try", 1) || IsWord("try", 1)))) {
    if (AtEnd()) SyntaxError();
    if (AcceptOp(";")) continue;
    s.body.push_back(ParseStatement(false));
  }
  Advance();
  Advance();
  AcceptOp(";");
  ExpectKw("begin");
  if (!AcceptKw("catch") && !AcceptWord("catch")) SyntaxError();
  ++catches_;
  while (!(IsKw("end") && (IsKw("catch", 1) || IsWord("catch", 1)))) {
    if (AtEnd()) SyntaxError();
    if (AcceptOp(";")) continue;
    s.else_body.push_back(ParseStatement(false));
  }
  --catches_;
  Advance();
  Advance();
  return s;
}

Stmt Parser::ParseDeclare(Stmt s) {
  Advance();
  s.kind = StmtKind::kDeclare;
  if (Peek().kind == TokenKind::kIdentifier) NotSupported("DECLARE CURSOR");
  do {
    if (Peek().kind != TokenKind::kVariable || Peek().text.rfind("@@", 0) == 0) SyntaxError();
    ColumnDef def;
    def.name = Advance().text;
    AcceptKw("as");
    if (AcceptKw("table")) {
      // declare @t table (...): a table of this batch.
      if (!s.column_defs.empty()) SyntaxError();
      s.table = def.name;
      s = ParseTableElements(std::move(s));
      s.kind = StmtKind::kDeclare;
      return s;
    }
    if (IsWord("cursor") || IsKw("cursor")) NotSupported("A cursor variable");
    ParseTypeInto(&def.type, false);
    if (AcceptOp("=")) def.default_value = ParseValue();
    s.column_defs.push_back(std::move(def));
  } while (AcceptOp(","));
  return s;
}

Stmt Parser::ParseSetVariable(Stmt s) {
  s.kind = StmtKind::kSetVariable;
  const Token& var = Peek();
  auto target = Make(ExprKind::kVariable, var);
  target->text = var.text;
  s.name = Advance().text;
  static constexpr const char* kCompound[] = {"+", "-", "*", "/", "%", "&", "|", "^"};
  std::string op;
  for (const char* c : kCompound) {
    if (IsOp(c) && IsOp("=", 1)) {
      op = c;
      Advance();
      break;
    }
  }
  ExpectOp("=");
  ExprPtr value = ParseValue();
  // set @v op= x is set @v = @v op x
  if (!op.empty()) value = Binary(op, std::move(target), std::move(value));
  s.args.push_back(std::move(value));
  return s;
}

Stmt Parser::ParseRaiserror(Stmt s) {
  Advance();
  s.kind = StmtKind::kRaiserror;
  ExpectOp("(");
  s.args.push_back(ParseValue());
  while (AcceptOp(",")) s.args.push_back(ParseValue());
  ExpectOp(")");
  if (s.args.size() < 3) SyntaxError();
  if (AcceptKw("with")) {
    do {
      if (AcceptWord("log")) {
        s.on = true;  // WITH LOG
      } else if (!AcceptWord("nowait") && !AcceptWord("seterror")) {
        SyntaxError();
      }
    } while (AcceptOp(","));
  }
  return s;
}

Stmt Parser::ParseSet(Stmt s) {
  Advance();
  s.kind = StmtKind::kSet;
  if (Peek().kind == TokenKind::kVariable && Peek().text.rfind("@@", 0) != 0) {
    return ParseSetVariable(std::move(s));
  }
  if (AcceptWord("transaction")) {
    // set transaction isolation level ...: SQLite's isolation is serializable
    // for writers and snapshot for readers; the request is accepted.
    if (!AcceptWord("isolation")) SyntaxError();
    if (!AcceptWord("level")) SyntaxError();
    while (Peek().kind == TokenKind::kIdentifier || Peek().kind == TokenKind::kKeyword) {
      if (IsStatementStart()) break;
      Advance();
    }
    s.name = "transaction isolation level";
    return s;
  }
  const Token& opt = Peek();
  if (opt.kind != TokenKind::kIdentifier && opt.kind != TokenKind::kKeyword) SyntaxError();
  s.name = ToLower(Advance().text);
  if (s.name == "textsize" || s.name == "rowcount" || s.name == "lock_timeout" ||
      s.name == "datefirst") {
    bool negative = AcceptOp("-");
    if (Peek().kind != TokenKind::kInteger) {
      if (Peek().kind == TokenKind::kVariable) NotSupported("SET with a variable");
      SyntaxError();
    }
    ExprPtr e = std::make_unique<Expr>();
    e->kind = ExprKind::kInteger;
    e->text = (negative ? "-" : "") + Advance().text;
    s.args.push_back(std::move(e));
    return s;
  }
  if (s.name == "identity_insert") {
    // set identity_insert table on|off
    s.table = ObjectName();
    if (AcceptKw("on")) {
      s.on = true;
    } else if (!AcceptKw("off")) {
      SyntaxError();
    }
    return s;
  }
  if (s.name == "language" || s.name == "dateformat") {
    const Token& v = Peek();
    if (v.kind != TokenKind::kIdentifier && v.kind != TokenKind::kString) SyntaxError();
    ExprPtr e = std::make_unique<Expr>();
    e->kind = ExprKind::kString;
    e->text = ToLower(Advance().text);
    s.args.push_back(std::move(e));
    return s;
  }
  // set option [, option] on|off
  std::vector<std::string> extra;
  while (AcceptOp(",")) {
    const Token& o = Peek();
    if (o.kind != TokenKind::kIdentifier && o.kind != TokenKind::kKeyword) SyntaxError();
    extra.push_back(ToLower(Advance().text));
  }
  if (AcceptKw("on")) {
    s.on = true;
  } else if (AcceptKw("off")) {
    s.on = false;
  } else {
    SyntaxError();
  }
  if (!extra.empty()) {
    for (auto& e : extra) s.name += "," + e;
  }
  return s;
}

}  // namespace tdslite::sql::parser_detail
