// Statements: everything but select (see parse_select.cc).
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

Stmt Parser::ParseCreate(Stmt s) {
  Advance();
  if (AcceptKw("table")) return ParseCreateTable(std::move(s));
  if (IsKw("view")) return ParseView(std::move(s), StmtKind::kCreateView);
  if (IsKw("or") && IsKw("alter", 1) && IsKw("view", 2)) {
    Advance();
    Advance();
    s.if_exists = true;  // create or alter: replaces a view of that name
    return ParseView(std::move(s), StmtKind::kCreateView);
  }
  bool unique = AcceptKw("unique");
  if (AcceptKw("clustered") || AcceptKw("nonclustered")) {
  }
  if (AcceptKw("index")) {
    s.kind = StmtKind::kCreateIndex;
    s.unique = unique;
    s.name = Identifier();
    ExpectKw("on");
    s.table = ObjectName();
    ExpectOp("(");
    do {
      s.columns.push_back(Identifier());
      if (!AcceptKw("asc")) AcceptKw("desc");
    } while (AcceptOp(","));
    ExpectOp(")");
    if (IsKw("with") || IsKw("on")) NotSupported("Index options");
    return s;
  }
  if (unique) SyntaxError();
  if (IsKw("proc") || IsKw("procedure") || IsKw("function")) {
    return ParseCreateModule(std::move(s), Stmt::CreateMode::kCreate);
  }
  if (IsKw("or") && IsKw("alter", 1)) {
    Advance();
    Advance();
    return ParseCreateModule(std::move(s), Stmt::CreateMode::kCreateOrAlter);
  }
  const Token& t = Peek();
  if (t.kind == TokenKind::kKeyword || t.kind == TokenKind::kIdentifier) {
    NotSupported("CREATE " + ToUpper(ToLower(t.text)));
  }
  SyntaxError();
}

void Parser::ParseTypeInto(ColumnType* type, bool in_cast) {
  const Token& t = Peek();
  if (t.kind != TokenKind::kIdentifier &&
      !(t.kind == TokenKind::kKeyword && t.text == "national")) {
    SyntaxError();
  }
  std::string name = ToLower(Advance().text);
  if (name == "national") {
    // national char varying (n) / national character (n)
    std::string w = ToLower(Identifier());
    if (w != "char" && w != "character") SyntaxError();
    name = AcceptKw("varying") ? "nvarchar" : "nchar";
  } else if ((name == "char" || name == "character") && AcceptKw("varying")) {
    name = "varchar";
  } else if (name == "double") {
    if (!AcceptWord("precision")) SyntaxError();
    name = "float";
  }
  int64_t args[2] = {0, 0};
  int argc = 0;
  if (AcceptOp("(")) {
    do {
      if (IsWord("max")) {
        Advance();
        if (argc >= 2) SyntaxError();
        args[argc++] = kMaxLength;
        continue;
      }
      if (Peek().kind != TokenKind::kInteger) SyntaxError();
      const std::string& digits = Advance().text;
      int64_t v = 0;
      auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (r.ec != std::errc() || argc >= 2) SyntaxError();
      args[argc++] = v;
    } while (AcceptOp(","));
    ExpectOp(")");
  }
  std::string error;
  static constexpr const char* kOther[] = {"xml",        "sql_variant", "timestamp",
                                           "rowversion", "hierarchyid", "geography",
                                           "geometry",   "cursor",      "table"};
  for (const char* o : kOther) {
    if (name == o) NotSupported("The data type " + name);
  }
  auto made = MakeType(name, argc, args, in_cast, &error);
  if (!made) {
    ParseError e;
    e.number = error.rfind("Column, parameter", 0) == 0 ? 2715 : 2750;
    e.severity = 16;
    e.state = e.number == 2715 ? 7 : 1;
    e.line = t.line;
    e.text = error;
    result_->errors.push_back(e);
    throw Failure{};
  }
  *type = *made;
}

Stmt Parser::ParseCreateTable(Stmt s) {
  s.kind = StmtKind::kCreateTable;
  s.table = ObjectName();
  if (foreign_name_) NotSupported("A table of another database or schema ('" + s.table + "')");
  return ParseTableElements(std::move(s));
}

Stmt Parser::ParseTableElements(Stmt s) {
  return ParseTableElementList(std::move(s), true);
}

Stmt Parser::ParseTableElementList(Stmt s, bool parenthesized) {
  if (parenthesized) ExpectOp("(");
  do {
    if (IsKw("constraint") || IsKw("primary") || IsKw("unique") || IsKw("foreign") ||
        IsKw("check")) {
      std::string cname;
      if (AcceptKw("constraint")) cname = Identifier();
      if (AcceptKw("primary")) {
        ExpectKw("key");
        if (!s.primary_key.empty()) SyntaxError();
        if (!AcceptKw("clustered")) AcceptKw("nonclustered");
        s.primary_key = ColumnList();
        s.pk_name = cname;
      } else if (AcceptKw("unique")) {
        if (!AcceptKw("clustered")) AcceptKw("nonclustered");
        s.uniques.push_back(ColumnList());
        s.unique_names.push_back(cname);
      } else if (AcceptKw("foreign")) {
        ExpectKw("key");
        ForeignKeyDef fk;
        fk.name = cname;
        fk.columns = ColumnList();
        ParseReferences(&fk);
        s.foreign_keys.push_back(std::move(fk));
      } else if (AcceptKw("check")) {
        CheckDef check;
        check.name = cname;
        ExpectOp("(");
        check.expr = ParseExpr();
        ExpectOp(")");
        s.checks.push_back(std::move(check));
      } else {
        SyntaxError();
      }
      continue;
    }
    ColumnDef col;
    col.name = Identifier();
    if (IsKw("as")) NotSupported("A computed column");
    ParseTypeInto(&col.type, false);
    for (;;) {
      if (AcceptKw("null")) {
        col.nullable = true;
        col.null_specified = true;
      } else if (IsKw("not") && IsKw("null", 1)) {
        Advance();
        Advance();
        col.nullable = false;
        col.null_specified = true;
      } else if (AcceptKw("identity")) {
        col.identity = true;
        if (AcceptOp("(")) {
          col.identity_seed = SignedInteger();
          ExpectOp(",");
          col.identity_increment = SignedInteger();
          ExpectOp(")");
        }
      } else if (AcceptKw("primary")) {
        ExpectKw("key");
        if (!AcceptKw("clustered")) AcceptKw("nonclustered");
        col.primary_key = true;
      } else if (AcceptKw("unique")) {
        if (!AcceptKw("clustered")) AcceptKw("nonclustered");
        col.unique = true;
      } else if (AcceptKw("default")) {
        col.default_value = ParsePrimary();
      } else if (AcceptKw("constraint")) {
        col.constraint_name = Identifier();
      } else if (IsKw("collate")) {
        NotSupported("COLLATE");
      } else if (IsKw("references") || IsKw("foreign")) {
        if (AcceptKw("foreign")) ExpectKw("key");
        ForeignKeyDef fk;
        fk.name = TakeConstraintName(&col);
        fk.columns.push_back(col.name);
        ParseReferences(&fk);
        s.foreign_keys.push_back(std::move(fk));
      } else if (AcceptKw("check")) {
        CheckDef check;
        check.name = TakeConstraintName(&col);
        check.column = col.name;
        ExpectOp("(");
        check.expr = ParseExpr();
        ExpectOp(")");
        s.checks.push_back(std::move(check));
      } else {
        break;
      }
    }
    s.column_defs.push_back(std::move(col));
  } while (AcceptOp(","));
  if (!parenthesized) return s;
  ExpectOp(")");
  if (IsKw("on") || IsKw("with")) NotSupported("Table storage options");
  return s;
}

// A column's `constraint name` belongs to the check or reference that
// follows it, unless a key of the column took it.
std::string Parser::TakeConstraintName(ColumnDef* col) {
  if (col->primary_key || col->unique) return "";
  std::string name = std::move(col->constraint_name);
  col->constraint_name.clear();
  return name;
}

// references table [(columns)] [on delete|update cascade|no action|set null|set default]
void Parser::ParseReferences(ForeignKeyDef* fk) {
  ExpectKw("references");
  fk->ref_table = ObjectName();
  if (IsOp("(")) fk->ref_columns = ColumnList();
  while (IsKw("on") && (IsKw("delete", 1) || IsKw("update", 1))) {
    Advance();
    std::string* action = Advance().text == "delete" ? &fk->on_delete : &fk->on_update;
    if (AcceptKw("cascade")) {
      *action = "CASCADE";
    } else if (AcceptWord("no")) {
      if (!AcceptWord("action")) SyntaxError();
      *action = "NO ACTION";
    } else if (AcceptKw("set")) {
      if (AcceptKw("null")) {
        *action = "SET NULL";
      } else if (AcceptKw("default")) {
        *action = "SET DEFAULT";
      } else {
        SyntaxError();
      }
    } else {
      SyntaxError();
    }
  }
  if (IsKw("not") && IsKw("for", 1)) NotSupported("NOT FOR REPLICATION");
}

int64_t Parser::SignedInteger() {
  bool negative = AcceptOp("-");
  if (Peek().kind != TokenKind::kInteger) SyntaxError();
  const std::string& d = Advance().text;
  int64_t v = 0;
  auto r = std::from_chars(d.data(), d.data() + d.size(), v);
  if (r.ec != std::errc()) SyntaxError();
  return negative ? -v : v;
}

std::vector<std::string> Parser::ColumnList() {
  std::vector<std::string> cols;
  ExpectOp("(");
  do {
    cols.push_back(Identifier());
    if (!AcceptKw("asc")) AcceptKw("desc");
  } while (AcceptOp(","));
  ExpectOp(")");
  return cols;
}

Stmt Parser::ParseDrop(Stmt s) {
  Advance();
  if (AcceptKw("table")) {
    s.kind = StmtKind::kDropTable;
    if (IsKw("if") && IsKw("exists", 1)) {
      Advance();
      Advance();
      s.if_exists = true;
    }
    do {
      s.names.push_back(ObjectName());
    } while (AcceptOp(","));
    return s;
  }
  if (AcceptKw("view")) {
    s.kind = StmtKind::kDropView;
    if (IsKw("if") && IsKw("exists", 1)) {
      Advance();
      Advance();
      s.if_exists = true;
    }
    do {
      s.names.push_back(ObjectName());
    } while (AcceptOp(","));
    return s;
  }
  if (AcceptKw("index")) NotSupported("DROP INDEX");
  if (IsKw("proc") || IsKw("procedure") || IsKw("function")) return ParseDropModule(std::move(s));
  const Token& t = Peek();
  if (t.kind == TokenKind::kKeyword || t.kind == TokenKind::kIdentifier) {
    NotSupported("DROP " + ToUpper(ToLower(t.text)));
  }
  SyntaxError();
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

// create [or alter] view / alter view name [(columns)] as select ...: the
// only statement of its batch; its text is kept.
Stmt Parser::ParseView(Stmt s, StmtKind kind) {
  const char* what = kind == StmtKind::kAlterView ? "ALTER VIEW" : "CREATE VIEW";
  if (!first_statement_) {
    Fail(111, 15, std::string("'") + what + "' must be the first statement in a query batch.");
  }
  ExpectKw("view");
  s.kind = kind;
  s.name = ObjectName();
  if (AcceptOp("(")) {
    do {
      s.columns.push_back(Identifier());
    } while (AcceptOp(","));
    ExpectOp(")");
  }
  if (IsKw("with")) NotSupported("View options (WITH SCHEMABINDING, ENCRYPTION, ...)");
  ExpectKw("as");
  const size_t start = pos_;
  std::vector<CommonTable> with;
  if (IsKw("with")) with = ParseWith();
  if (!IsKw("select")) SyntaxError();
  s.select = ParseSelectStatement();
  s.select->with = std::move(with);
  if (IsKw("with") && IsKw("check", 1)) NotSupported("WITH CHECK OPTION");
  for (size_t i = start; i < pos_; ++i) {
    if (i > start) s.view_text += ' ';
    s.view_text += tokens_[i].raw;
  }
  AcceptOp(";");
  if (!AtEnd()) SyntaxError();
  return s;
}

// alter table t add ... / drop column ... / alter column ...; alter view.
Stmt Parser::ParseAlter(Stmt s) {
  Advance();
  if (IsKw("view")) return ParseView(std::move(s), StmtKind::kAlterView);
  if (!AcceptKw("table")) {
    const Token& t = Peek();
    if (t.kind == TokenKind::kKeyword || t.kind == TokenKind::kIdentifier) {
      NotSupported("ALTER " + ToUpper(ToLower(t.text)));
    }
    SyntaxError();
  }
  s.kind = StmtKind::kAlterTable;
  s.table = ObjectName();
  if (AcceptKw("add")) {
    // Columns and constraints, as in create table but without parentheses.
    s = ParseTableElementList(std::move(s), false);
    s.name = "add";
    return s;
  }
  if (AcceptKw("drop")) {
    if (AcceptKw("constraint")) NotSupported("ALTER TABLE ... DROP CONSTRAINT");
    ExpectKw("column");
    s.name = "drop column";
    do {
      s.names.push_back(Identifier());
    } while (AcceptOp(","));
    return s;
  }
  if (AcceptKw("alter")) {
    ExpectKw("column");
    s.name = "alter column";
    ColumnDef col;
    col.name = Identifier();
    ParseTypeInto(&col.type, false);
    if (AcceptKw("null")) {
      col.null_specified = true;
    } else if (IsKw("not") && IsKw("null", 1)) {
      Advance();
      Advance();
      col.nullable = false;
      col.null_specified = true;
    }
    s.column_defs.push_back(std::move(col));
    return s;
  }
  const Token& t = Peek();
  if (t.kind == TokenKind::kKeyword || t.kind == TokenKind::kIdentifier) {
    NotSupported("ALTER TABLE ... " + ToUpper(ToLower(t.text)));
  }
  SyntaxError();
}

}  // namespace tdslite::sql::parser_detail
