// Procedures and scalar functions: create, alter and drop.
#include "parser_internal.h"

namespace tdslite::sql::parser_detail {

Stmt Parser::ParseCreateModule(Stmt s, Stmt::CreateMode mode) {
  const bool function = IsKw("function");
  const bool was_first = first_;
  Advance();
  if (!was_first) {
    Fail(111, 15,
         function ? "'CREATE FUNCTION' must be the first statement in a query batch."
                  : "'CREATE/ALTER PROCEDURE' must be the first statement in a query batch.");
  }
  s.kind = StmtKind::kCreateModule;
  s.module_type = function ? 'F' : 'P';
  s.create_mode = mode;
  s.definition = std::string(source_);
  const int name_line = Peek().line;
  s.name = ObjectName(true);
  if (foreign_name_) {
    ParseError e;
    e.number = 2760;
    e.severity = 16;
    e.line = name_line;
    e.text = "The specified schema name \"" + s.name.substr(0, s.name.rfind('.')) +
             "\" either does not exist or you do not have permission to use it.";
    result_->errors.push_back(e);
    throw Failure{};
  }
  if (!function && IsOp(";") && Peek(1).kind == TokenKind::kInteger) {
    NotSupported("Numbered procedures");
  }
  ParseModuleParameters(&s, function);
  if (function) {
    if (!AcceptWord("returns")) SyntaxError();
    if (IsKw("table") || Peek().kind == TokenKind::kVariable)
      NotSupported("Table-valued functions");
    ParseTypeInto(&s.returns, false);
  }
  if (AcceptKw("with")) {
    // Options that change nothing here.
    do {
      if (AcceptWord("recompile") || AcceptWord("encryption") || AcceptWord("schemabinding")) {
        continue;
      }
      if (IsKw("execute") || IsKw("exec")) NotSupported("EXECUTE AS");
      NotSupported("This procedure or function option");
    } while (AcceptOp(","));
  }
  if (!function && IsKw("for")) NotSupported("FOR REPLICATION");
  ExpectKw("as");
  in_module_ = true;
  if (function) {
    if (!IsKw("begin")) NotSupported("An inline function");
    Advance();
    DepthGuard guard(this);
    ParseBlockBody(&s.body);
    while (AcceptOp(";")) {
    }
    if (!AtEnd()) SyntaxError();
    if (s.body.empty() || s.body.back().kind != StmtKind::kReturn) {
      Fail(455, 16, "The last statement included within a function must be a return statement.");
    }
    CheckFunctionBody(s.body);
  } else {
    while (!AtEnd()) {
      if (AcceptOp(";")) continue;
      s.body.push_back(ParseStatement(false));
    }
  }
  in_module_ = false;
  return s;
}

void Parser::ParseModuleParameters(Stmt* s, bool function) {
  const bool paren = AcceptOp("(");
  if (function && !paren) SyntaxError();
  if (paren && AcceptOp(")")) return;
  if (!paren && (IsKw("as") || IsKw("with") || IsKw("for"))) return;
  for (;;) {
    if (Peek().kind != TokenKind::kVariable || Peek().text.rfind("@@", 0) == 0) SyntaxError();
    ColumnDef p;
    p.name = Advance().text;
    for (const ColumnDef& other : s->column_defs) {
      if (other.name == p.name) {
        Fail(134, 15,
             "The variable name '" + p.name +
                 "' has already been declared. Variable names must be unique within a query "
                 "batch or stored procedure.");
      }
    }
    AcceptKw("as");
    if (IsKw("table") || IsWord("cursor") || IsKw("cursor")) {
      NotSupported("A table or cursor parameter");
    }
    ParseTypeInto(&p.type, false);
    if (AcceptWord("varying")) NotSupported("A cursor parameter");
    if (AcceptOp("=")) p.default_value = ParseValue();
    if (AcceptWord("output") || AcceptWord("out")) {
      if (function) SyntaxError();
      p.output = true;
    }
    if (AcceptWord("readonly")) NotSupported("A READONLY parameter");
    s->column_defs.push_back(std::move(p));
    if (s->column_defs.size() > 2100) {
      Fail(180, 15,
           "There are too many parameters in this CREATE PROCEDURE statement. The maximum "
           "number is 2100.");
    }
    if (!AcceptOp(",")) break;
  }
  if (paren) ExpectOp(")");
}

Stmt Parser::ParseDropModule(Stmt s) {
  s.kind = StmtKind::kDropModule;
  s.module_type = IsKw("function") ? 'F' : 'P';
  Advance();
  ParseDropNames(&s, true);
  return s;
}

namespace {

// The first statement of a function body that would return rows or change
// a table, if any.
const Stmt* FirstForbidden(const std::vector<Stmt>& body, int* number, int depth) {
  if (depth > kMaxDepth) return nullptr;
  for (const Stmt& s : body) {
    switch (s.kind) {
      case StmtKind::kSelect: {
        bool assigns = !s.select->items.empty() && !s.select->items[0].assign.empty();
        if (!assigns && s.select->into.empty()) {
          *number = 444;
          return &s;
        }
        break;
      }
      case StmtKind::kInsert:
      case StmtKind::kUpdate:
      case StmtKind::kDelete:
      case StmtKind::kTruncate:
      case StmtKind::kCreateTable:
      case StmtKind::kDropTable:
      case StmtKind::kCreateIndex:
      case StmtKind::kBeginTran:
      case StmtKind::kCommit:
      case StmtKind::kRollback:
      case StmtKind::kPrint:
      case StmtKind::kRaiserror:
      case StmtKind::kExecString:
      case StmtKind::kSet:
      case StmtKind::kUse:
        if (!s.table.empty() && s.table[0] == '@' && s.kind != StmtKind::kTruncate) break;
        *number = 443;
        return &s;
      default:
        break;
    }
    if (const Stmt* f = FirstForbidden(s.body, number, depth + 1)) return f;
    if (const Stmt* f = FirstForbidden(s.else_body, number, depth + 1)) return f;
  }
  return nullptr;
}

const char* OperatorName(StmtKind kind) {
  switch (kind) {
    case StmtKind::kInsert:
      return "INSERT";
    case StmtKind::kUpdate:
      return "UPDATE";
    case StmtKind::kDelete:
      return "DELETE";
    case StmtKind::kTruncate:
      return "TRUNCATE TABLE";
    case StmtKind::kCreateTable:
      return "CREATE TABLE";
    case StmtKind::kDropTable:
      return "DROP TABLE";
    case StmtKind::kCreateIndex:
      return "CREATE INDEX";
    case StmtKind::kBeginTran:
      return "BEGIN TRANSACTION";
    case StmtKind::kCommit:
      return "COMMIT TRANSACTION";
    case StmtKind::kRollback:
      return "ROLLBACK TRANSACTION";
    case StmtKind::kPrint:
      return "PRINT";
    case StmtKind::kRaiserror:
      return "RAISERROR";
    case StmtKind::kExecString:
      return "EXECUTE STRING";
    case StmtKind::kUse:
      return "USE";
    default:
      return "SET";
  }
}

}  // namespace

void Parser::CheckFunctionBody(const std::vector<Stmt>& body) {
  int number = 0;
  const Stmt* bad = FirstForbidden(body, &number, 0);
  if (bad == nullptr) return;
  ParseError e;
  e.number = number;
  e.severity = 16;
  e.line = bad->line;
  e.text = number == 444 ? "Select statements included within a function cannot return data to a "
                           "client."
                         : std::string("Invalid use of a side-effecting operator '") +
                               OperatorName(bad->kind) + "' within a function.";
  result_->errors.push_back(e);
  throw Failure{};
}

}  // namespace tdslite::sql::parser_detail
