// The parser's inside, shared by the parse_*.cc files and parser.cc and
// nothing else. A recursive descent parser over the lexer's tokens:
//   parser.cc             the token cursor and ParseBatch
//   parse_statements.cc   statement dispatch, control of flow, declare/set, exec
//   parse_dml.cc          insert, update, delete, OUTPUT, table hints
//   parse_ddl.cc          create/alter/drop of tables, indexes, views; types
//   parse_modules.cc      create/alter/drop procedure and function
//   parse_select.cc       select, its FROM list and joins
//   parse_expressions.cc  expressions, by precedence
#pragma once

#include <charconv>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "builtins.h"
#include "lexer.h"
#include "parser.h"
#include "types.h"

namespace tdslite::sql::parser_detail {

// Deep nesting is refused before it can exhaust the stack.
constexpr int kMaxDepth = 200;

struct Failure {};  // unwinds the parser to ParseBatch after an error is recorded

class Parser {
 public:
  Parser(std::vector<Token> tokens, ParseResult* result)
      : tokens_(std::move(tokens)), result_(result) {}

  void Run();
  // The server's database: the one prefix that names a table of its own.
  void SetDatabase(std::string_view name) { database_ = std::string(name); }
  // The batch's text: a procedure or function keeps it as its definition.
  void SetSource(std::string_view source) { source_ = source; }

 private:
  const Token& Peek(size_t ahead = 0) const;
  bool AtEnd() const { return Peek().kind == TokenKind::kEnd; }
  const Token& Advance();
  bool IsKw(std::string_view kw, size_t ahead = 0) const;
  bool IsOp(std::string_view op, size_t ahead = 0) const;
  // A non-reserved word such as TRAN's neighbours NOCOUNT, CAST, LEFT...
  bool IsWord(std::string_view word, size_t ahead = 0) const;
  bool AcceptKw(std::string_view kw);
  bool AcceptOp(std::string_view op);
  bool AcceptWord(std::string_view w);

  [[noreturn]] void SyntaxError() {
    // At the end of the batch SQL Server names the last token it read.
    const Token* t = &Peek();
    if (t->kind == TokenKind::kEnd && pos_ > 0) t = &tokens_[pos_ - 1];
    ParseError e;
    e.line = t->line;
    if (t->kind == TokenKind::kKeyword) {
      e.number = 156;
      e.text = "Incorrect syntax near the keyword '" + t->raw + "'.";
    } else {
      e.number = 102;
      std::string near =
          t->kind == TokenKind::kString || t->kind == TokenKind::kNString ? t->text : t->raw;
      if (t->kind == TokenKind::kEnd) near = "";
      e.text = "Incorrect syntax near '" + near + "'.";
    }
    result_->errors.push_back(e);
    throw Failure{};
  }
  [[noreturn]] void NotSupported(const std::string& what) {
    ParseError e;
    e.number = kNotSupportedNumber;
    e.severity = 16;
    e.state = 1;
    e.line = Peek().line;
    e.text = what + " is not supported by tdslite.";
    result_->errors.push_back(e);
    throw Failure{};
  }
  void ExpectOp(std::string_view op);
  void ExpectKw(std::string_view kw);
  std::string Identifier();
  // table, schema.table, db.schema.table or db..table. The server's own
  // database and dbo (for procedures sys as well) name the table itself;
  // any other prefix stays in the name, as written, so that it names no
  // table (208).
  std::string ObjectName(bool procedure = false);
  std::string database_ = "master";
  bool foreign_name_ = false;  // the last ObjectName kept its prefix

  struct DepthGuard {
    Parser* p;
    explicit DepthGuard(Parser* parser) : p(parser) {
      if (++p->depth_ > kMaxDepth) {
        ParseError e;
        e.number = 191;
        e.severity = 15;
        e.text =
            "Some part of your SQL statement is nested too deeply. Rewrite the query or "
            "break it up into smaller queries.";
        e.line = p->Peek().line;
        p->result_->errors.push_back(e);
        throw Failure{};
      }
    }
    ~DepthGuard() { --p->depth_; }
  };

  // ---- statements -------------------------------------------------------

  Stmt ParseStatement(bool first);

  static std::string ToUpper(std::string s);

  bool IsStatementStart() const;

  Stmt ParseExec(Stmt s);
  Stmt ParseWaitFor(Stmt s);

  // ---- procedures and functions (parse_modules.cc) ------------------------

  // create [or alter] procedure|function ..., alter procedure|function ...
  // (after the leading words).
  Stmt ParseCreateModule(Stmt s, Stmt::CreateMode mode);
  // The parameters of a procedure or function, up to AS or RETURNS.
  void ParseModuleParameters(Stmt* s, bool function);
  // drop procedure|function [if exists] name, ... (after DROP).
  Stmt ParseDropModule(Stmt s);
  // What a function body may not do (return rows, change tables).
  void CheckFunctionBody(const std::vector<Stmt>& body);

  // declare @v type [= value], ...
  Stmt ParseDeclare(Stmt s);

  // set @v = value, set @v += value
  Stmt ParseSetVariable(Stmt s);

  // The statements of a block up to `end` (consumed).
  void ParseBlockBody(std::vector<Stmt>* body);

  // begin try ... end try begin catch ... end catch (after `begin try`)
  Stmt ParseTry(Stmt s);

  [[noreturn]] void Fail(int number, int severity, const std::string& text) {
    ParseError e;
    e.number = number;
    e.severity = severity;
    e.line = Peek().line;
    e.text = text;
    result_->errors.push_back(e);
    throw Failure{};
  }

  Stmt ParseRaiserror(Stmt s);

  Stmt ParseSet(Stmt s);

  Stmt ParseInsert(Stmt s);

  Stmt ParseUpdate(Stmt s);

  Stmt ParseDelete(Stmt s);
  // output inserted.a, deleted.b [as name], ... of insert/update/delete.
  void ParseOutput(Stmt* s);

  Stmt ParseCreate(Stmt s);

  void ParseTypeInto(ColumnType* type, bool in_cast);

  Stmt ParseCreateTable(Stmt s);

  // The parenthesized columns and constraints of a table.
  Stmt ParseTableElements(Stmt s);

  int64_t SignedInteger();

  std::vector<std::string> ColumnList();

  Stmt ParseDrop(Stmt s);
  // [if exists] name, ... of drop table|view|procedure|function (names of
  // procedures and functions as ObjectName(true) takes them).
  void ParseDropNames(Stmt* s, bool procedure);

  Stmt ParseView(Stmt s, StmtKind kind);
  Stmt ParseAlter(Stmt s);
  // The columns and constraints of create table (in parentheses) and of
  // alter table ... add (without).
  Stmt ParseTableElementList(Stmt s, bool parenthesized);
  std::string TakeConstraintName(ColumnDef* col);
  // `null` or `not null` after a column's type: answers whether one was
  // there, and records it in `col`.
  bool AcceptNullability(ColumnDef* col);
  void ParseReferences(ForeignKeyDef* fk);
  bool first_statement_ = false;  // the statement being parsed opens its batch

  void SkipTableHint();

  // ---- select -----------------------------------------------------------

  std::unique_ptr<Select> ParseSelectStatement();

  ExprPtr ParseTop(bool* percent, bool* ties = nullptr);

  void ParseOrderList(std::vector<OrderItem>* out);

  std::vector<CommonTable> ParseWith();

  std::unique_ptr<Select> ParseRowConstructor();

  // over (partition by ... order by ... rows ...), after `over`
  std::unique_ptr<WindowSpec> ParseWindow();

  std::unique_ptr<Select> ParseSelectCore();

  SelectItem ParseSelectItem();

  void ParseFromList(std::vector<std::unique_ptr<TableRef>>* out);

  std::unique_ptr<TableRef> ParseJoinedTable();

  std::unique_ptr<TableRef> ParseTableFactor();

  // ---- expressions ------------------------------------------------------

  ExprPtr Make(ExprKind kind, const Token& at);

  ExprPtr Binary(std::string op, ExprPtr a, ExprPtr b);

  ExprPtr ParseExpr();

  // An expression where a value is expected: comparisons and logic are not
  // values in T-SQL, so they end the expression (and usually the statement).
  ExprPtr ParseValue();

  ExprPtr ParseAnd();

  ExprPtr ParseNot();

  ExprPtr ParsePredicate();

  ExprPtr ParseAdditive();

  ExprPtr ParseMultiplicative();

  ExprPtr ParseUnary();

  ExprPtr ParsePrimary();

  ExprPtr ParseFunctionCall();

  ExprPtr ParseUserFunctionCall(ExprPtr qualified);

  ExprPtr ParseCast();

  ExprPtr ParseConvert();

  ExprPtr ParseCase();

  std::vector<Token> tokens_;
  size_t pos_ = 0;
  int depth_ = 0;
  int loops_ = 0;
  bool into_allowed_ = false;  // the next select core may have INTO    // WHILE bodies around the
                               // statement being parsed
  int catches_ = 0;            // CATCH blocks around it
  bool first_ = false;         // the statement being parsed starts the batch
  bool in_module_ = false;     // inside a procedure or function body
  std::string_view source_;

  ParseResult* result_;
};

}  // namespace tdslite::sql::parser_detail
