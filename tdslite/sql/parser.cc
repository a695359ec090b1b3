#include "parser.h"

#include <charconv>

#include "lexer.h"
#include "types.h"

namespace tdslite::sql {
namespace {

// Deep nesting is refused before it can exhaust the stack.
constexpr int kMaxDepth = 200;

struct Failure {};  // unwinds the parser to ParseBatch after an error is recorded

// The functions tdslite evaluates.
bool IsKnownFunction(std::string_view name) {
  static constexpr const char* kKnown[] = {
      "getdate",   "isnull",    "coalesce",  "nullif",  "len",         "datalength",
      "upper",     "lower",     "ltrim",     "rtrim",   "substring",   "left",
      "right",     "replace",   "charindex", "abs",     "round",       "floor",
      "ceiling",   "year",      "month",     "day",     "count",       "sum",
      "avg",       "min",       "max",       "db_name", "suser_sname", "scope_identity",
      "user_name", "host_name", "app_name",  "space",   "reverse",     "sign",
      "ascii",     "char",      "nchar",     "unicode", "textptr"};
  for (const char* k : kKnown) {
    if (name == k) return true;
  }
  return false;
}

// Built-in functions of SQL Server that tdslite does not evaluate.
bool IsSqlServerFunction(std::string_view name) {
  static constexpr const char* kOther[] = {"dateadd",
                                           "datediff",
                                           "datepart",
                                           "datename",
                                           "newid",
                                           "isnumeric",
                                           "isdate",
                                           "str",
                                           "stuff",
                                           "patindex",
                                           "soundex",
                                           "difference",
                                           "quotename",
                                           "replicate",
                                           "power",
                                           "sqrt",
                                           "exp",
                                           "log",
                                           "log10",
                                           "pi",
                                           "rand",
                                           "sin",
                                           "cos",
                                           "tan",
                                           "asin",
                                           "acos",
                                           "atan",
                                           "atn2",
                                           "degrees",
                                           "radians",
                                           "square",
                                           "object_id",
                                           "object_name",
                                           "db_id",
                                           "user_id",
                                           "suser_name",
                                           "suser_id",
                                           "host_id",
                                           "col_length",
                                           "col_name",
                                           "datalength_big",
                                           "count_big",
                                           "stdev",
                                           "stdevp",
                                           "var",
                                           "varp",
                                           "checksum",
                                           "binary_checksum",
                                           "grouping",
                                           "row_number",
                                           "rank",
                                           "dense_rank",
                                           "ntile",
                                           "getutcdate",
                                           "sysdatetime",
                                           "iif",
                                           "choose",
                                           "concat",
                                           "format",
                                           "try_cast",
                                           "try_convert",
                                           "parse",
                                           "eomonth",
                                           "datefromparts",
                                           "textptr",
                                           "textvalid",
                                           "ident_current",
                                           "ident_seed",
                                           "ident_incr",
                                           "serverproperty",
                                           "databaseproperty",
                                           "databasepropertyex",
                                           "objectproperty",
                                           "columnproperty",
                                           "typeproperty",
                                           "is_member",
                                           "is_srvrolemember",
                                           "permissions",
                                           "has_dbaccess",
                                           "fulltextcatalogproperty",
                                           "isjson",
                                           "json_value",
                                           "string_agg",
                                           "trim",
                                           "translate",
                                           "string_split",
                                           "cast"};
  for (const char* k : kOther) {
    if (name == k) return true;
  }
  return false;
}

class Parser {
 public:
  Parser(std::vector<Token> tokens, ParseResult* result)
      : tokens_(std::move(tokens)), result_(result) {}

  void Run() {
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

 private:
  const Token& Peek(size_t ahead = 0) const {
    size_t i = pos_ + ahead;
    return i < tokens_.size() ? tokens_[i] : tokens_.back();
  }
  bool AtEnd() const { return Peek().kind == TokenKind::kEnd; }
  const Token& Advance() {
    const Token& t = Peek();
    if (pos_ < tokens_.size() - 1) ++pos_;
    return t;
  }
  bool IsKw(std::string_view kw, size_t ahead = 0) const {
    return Peek(ahead).kind == TokenKind::kKeyword && Peek(ahead).text == kw;
  }
  bool IsOp(std::string_view op, size_t ahead = 0) const {
    return Peek(ahead).kind == TokenKind::kOperator && Peek(ahead).text == op;
  }
  // A non-reserved word such as TRAN's neighbours NOCOUNT, CAST, LEFT...
  bool IsWord(std::string_view word, size_t ahead = 0) const {
    const Token& t = Peek(ahead);
    return (t.kind == TokenKind::kIdentifier && !t.quoted && ToLower(t.text) == word) ||
           (t.kind == TokenKind::kKeyword && t.text == word);
  }
  bool AcceptKw(std::string_view kw) {
    if (!IsKw(kw)) return false;
    Advance();
    return true;
  }
  bool AcceptOp(std::string_view op) {
    if (!IsOp(op)) return false;
    Advance();
    return true;
  }
  bool AcceptWord(std::string_view w) {
    if (!IsWord(w)) return false;
    Advance();
    return true;
  }

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
  void ExpectOp(std::string_view op) {
    if (!AcceptOp(op)) SyntaxError();
  }
  void ExpectKw(std::string_view kw) {
    if (!AcceptKw(kw)) SyntaxError();
  }
  std::string Identifier() {
    if (Peek().kind != TokenKind::kIdentifier) SyntaxError();
    return Advance().text;
  }
  // schema.table or db.schema.table: only the last part names the table.
  std::string ObjectName() {
    std::string name = Identifier();
    int parts = 1;
    while (IsOp(".")) {
      Advance();
      if (IsOp(".")) continue;  // db..table
      name = Identifier();
      if (++parts > 4) SyntaxError();
    }
    if (!name.empty() && name[0] == '#') NotSupported("The temporary table '" + name + "'");
    return name;
  }

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

  Stmt ParseStatement(bool first) {
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
        s.select = ParseSelectStatement();
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
      if (kw == "drop") return ParseDrop(std::move(s));
      if (kw == "begin") {
        Advance();
        if (AcceptKw("tran") || AcceptKw("transaction")) {
          s.kind = StmtKind::kBeginTran;
          if (Peek().kind == TokenKind::kIdentifier && !IsStatementStart()) Advance();
          return s;
        }
        if (IsWord("distributed")) NotSupported("BEGIN DISTRIBUTED TRANSACTION");
        if (IsKw("try") || IsWord("try")) NotSupported("BEGIN TRY");
        // BEGIN ... END groups statements (the body of an IF).
        s.kind = StmtKind::kBlock;
        DepthGuard guard(this);
        while (!IsKw("end")) {
          if (AtEnd()) SyntaxError();
          if (AcceptOp(";")) continue;
          s.body.push_back(ParseStatement(false));
        }
        Advance();
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
      if (kw == "commit" || kw == "rollback") {
        Advance();
        s.kind = kw == "commit" ? StmtKind::kCommit : StmtKind::kRollback;
        if (AcceptKw("tran") || AcceptKw("transaction") || AcceptWord("work")) {
          if (Peek().kind == TokenKind::kIdentifier && !IsStatementStart()) Advance();
        }
        return s;
      }
      if (kw == "save") NotSupported("SAVE TRANSACTION");
      if (kw == "set") return ParseSet(std::move(s));
      if (kw == "print") {
        Advance();
        s.kind = StmtKind::kPrint;
        s.args.push_back(ParseValue());
        return s;
      }
      if (kw == "raiserror") return ParseRaiserror(std::move(s));
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
          "declare",    "while",      "alter",       "grant",   "revoke",   "deny",
          "goto",       "return",     "waitfor",     "open",    "fetch",    "close",
          "deallocate", "dbcc",       "backup",      "restore", "merge",    "with",
          "writetext",  "updatetext", "readtext",    "break",   "continue", "checkpoint",
          "kill",       "shutdown",   "reconfigure", "bulk",    "setuser",  "revert"};
      for (const char* r : kRefused) {
        if (kw == r) NotSupported("The " + ToUpper(kw) + " statement");
      }
      SyntaxError();
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

  static std::string ToUpper(std::string s) {
    for (char& c : s) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
  }

  bool IsStatementStart() const {
    const Token& t = Peek();
    if (t.kind != TokenKind::kKeyword) return false;
    static constexpr const char* kStarts[] = {
        "select", "insert", "update",   "delete",  "truncate", "create", "drop",
        "begin",  "commit", "rollback", "save",    "set",      "print",  "raiserror",
        "use",    "exec",   "execute",  "declare", "if",       "while",  "alter",
        "grant",  "return", "with",     "else",    "end"};
    for (const char* k : kStarts) {
      if (t.text == k) return true;
    }
    return false;
  }

  Stmt ParseExec(Stmt s) {
    s.kind = StmtKind::kExec;
    if (Peek().kind == TokenKind::kVariable) NotSupported("EXEC with a return status variable");
    if (IsOp("(")) NotSupported("EXEC of a string");
    s.name = ObjectName();
    // Arguments: [@name =] expr [output], ...
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
        if (IsKw("default")) NotSupported("DEFAULT as a procedure argument");
        s.arg_names.push_back(name);
        s.args.push_back(ParseValue());
        if (IsWord("output") || IsWord("out")) NotSupported("An OUTPUT argument");
        if (!AcceptOp(",")) break;
      }
    }
    return s;
  }

  Stmt ParseRaiserror(Stmt s) {
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

  Stmt ParseSet(Stmt s) {
    Advance();
    s.kind = StmtKind::kSet;
    if (Peek().kind == TokenKind::kVariable) NotSupported("SET of a variable");
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
    if (s.name == "identity_insert") NotSupported("SET IDENTITY_INSERT");
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

  Stmt ParseInsert(Stmt s) {
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
    if (IsWord("output")) NotSupported("The OUTPUT clause");
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
    if (IsKw("exec") || IsKw("execute")) NotSupported("INSERT ... EXEC");
    SyntaxError();
  }

  Stmt ParseUpdate(Stmt s) {
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
    if (AcceptKw("from")) ParseFromList(&s.from);
    if (AcceptKw("where")) {
      if (IsKw("current")) NotSupported("WHERE CURRENT OF");
      s.where = ParseExpr();
    }
    return s;
  }

  Stmt ParseDelete(Stmt s) {
    Advance();
    s.kind = StmtKind::kDelete;
    if (AcceptKw("top")) s.top = ParseTop(nullptr);
    AcceptKw("from");
    s.table = ObjectName();
    if (IsKw("with")) SkipTableHint();
    if (AcceptKw("from")) ParseFromList(&s.from);
    if (AcceptKw("where")) s.where = ParseExpr();
    return s;
  }

  Stmt ParseCreate(Stmt s) {
    Advance();
    if (AcceptKw("table")) return ParseCreateTable(std::move(s));
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
    const Token& t = Peek();
    if (t.kind == TokenKind::kKeyword || t.kind == TokenKind::kIdentifier) {
      NotSupported("CREATE " + ToUpper(ToLower(t.text)));
    }
    SyntaxError();
  }

  void ParseTypeInto(ColumnType* type, bool in_cast) {
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
        if (IsWord("max")) NotSupported("The (max) types");
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
    static constexpr const char* kOther[] = {
        "date",      "time",        "datetime2", "datetimeoffset", "uniqueidentifier",
        "xml",       "sql_variant", "timestamp", "rowversion",     "hierarchyid",
        "geography", "geometry",    "cursor",    "table"};
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

  Stmt ParseCreateTable(Stmt s) {
    s.kind = StmtKind::kCreateTable;
    s.table = ObjectName();
    ExpectOp("(");
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
        } else if (IsKw("foreign")) {
          NotSupported("A FOREIGN KEY constraint");
        } else if (IsKw("check")) {
          NotSupported("A CHECK constraint");
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
          NotSupported("A FOREIGN KEY constraint");
        } else if (IsKw("check")) {
          NotSupported("A CHECK constraint");
        } else {
          break;
        }
      }
      s.column_defs.push_back(std::move(col));
    } while (AcceptOp(","));
    ExpectOp(")");
    if (IsKw("on") || IsKw("with")) NotSupported("Table storage options");
    return s;
  }

  int64_t SignedInteger() {
    bool negative = AcceptOp("-");
    if (Peek().kind != TokenKind::kInteger) SyntaxError();
    const std::string& d = Advance().text;
    int64_t v = 0;
    auto r = std::from_chars(d.data(), d.data() + d.size(), v);
    if (r.ec != std::errc()) SyntaxError();
    return negative ? -v : v;
  }

  std::vector<std::string> ColumnList() {
    std::vector<std::string> cols;
    ExpectOp("(");
    do {
      cols.push_back(Identifier());
      if (!AcceptKw("asc")) AcceptKw("desc");
    } while (AcceptOp(","));
    ExpectOp(")");
    return cols;
  }

  Stmt ParseDrop(Stmt s) {
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
    if (AcceptKw("index")) NotSupported("DROP INDEX");
    const Token& t = Peek();
    if (t.kind == TokenKind::kKeyword || t.kind == TokenKind::kIdentifier) {
      NotSupported("DROP " + ToUpper(ToLower(t.text)));
    }
    SyntaxError();
  }

  void SkipTableHint() {
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

  // ---- select -----------------------------------------------------------

  std::unique_ptr<Select> ParseSelectStatement() {
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

  ExprPtr ParseTop(bool* percent) {
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

  std::unique_ptr<Select> ParseSelectCore() {
    auto sel = std::make_unique<Select>();
    sel->line = Peek().line;
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
    if (AcceptKw("into")) NotSupported("SELECT ... INTO");
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

  SelectItem ParseSelectItem() {
    SelectItem item;
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

  void ParseFromList(std::vector<std::unique_ptr<TableRef>>* out) {
    do {
      out->push_back(ParseJoinedTable());
    } while (AcceptOp(","));
  }

  std::unique_ptr<TableRef> ParseJoinedTable() {
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

  std::unique_ptr<TableRef> ParseTableFactor() {
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

  // ---- expressions ------------------------------------------------------

  ExprPtr Make(ExprKind kind, const Token& at) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->line = at.line;
    e->raw = at.raw;
    return e;
  }

  ExprPtr Binary(std::string op, ExprPtr a, ExprPtr b) {
    auto e = std::make_unique<Expr>();
    e->kind = ExprKind::kBinaryOp;
    e->line = a->line;
    e->text = std::move(op);
    e->args.push_back(std::move(a));
    e->args.push_back(std::move(b));
    return e;
  }

  ExprPtr ParseExpr() {
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
  ExprPtr ParseValue() {
    DepthGuard guard(this);
    return ParseAdditive();
  }

  ExprPtr ParseAnd() {
    auto left = ParseNot();
    while (IsKw("and")) {
      Advance();
      left = Binary("and", std::move(left), ParseNot());
    }
    return left;
  }

  ExprPtr ParseNot() {
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

  ExprPtr ParsePredicate() {
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

  ExprPtr ParseAdditive() {
    auto left = ParseMultiplicative();
    while (IsOp("+") || IsOp("-") || IsOp("&") || IsOp("|") || IsOp("^")) {
      std::string op = Advance().text;
      left = Binary(op, std::move(left), ParseMultiplicative());
    }
    return left;
  }

  ExprPtr ParseMultiplicative() {
    auto left = ParseUnary();
    while (IsOp("*") || IsOp("/") || IsOp("%")) {
      std::string op = Advance().text;
      left = Binary(op, std::move(left), ParseUnary());
    }
    return left;
  }

  ExprPtr ParseUnary() {
    if (IsOp("-") || IsOp("+") || IsOp("~")) {
      DepthGuard guard(this);
      const Token& t = Advance();
      auto e = Make(ExprKind::kUnary, t);
      e->text = t.text;
      e->args.push_back(ParseUnary());
      return e;
    }
    return ParsePrimary();
  }

  ExprPtr ParsePrimary() {
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
        if (t.text.rfind("@@", 0) != 0) NotSupported("The variable " + t.raw);
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
          if (IsOp("(")) NotSupported("A qualified function name");
        }
        e->raw = e->names.back();
        return e;
      }
      default:
        SyntaxError();
    }
  }

  ExprPtr ParseFunctionCall() {
    const Token& t = Advance();
    auto e = Make(ExprKind::kFunction, t);
    e->text = ToLower(t.text);
    if (!IsKnownFunction(e->text)) {
      if (IsSqlServerFunction(e->text)) NotSupported("The function " + e->text + "()");
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
      return e;
    }
    if (AcceptKw("distinct")) {
      e->distinct = true;
    } else {
      AcceptKw("all");
    }
    if (!IsOp(")")) {
      do {
        e->args.push_back(ParseValue());
      } while (AcceptOp(","));
    }
    ExpectOp(")");
    if (IsKw("over")) NotSupported("Window functions (OVER)");
    return e;
  }

  ExprPtr ParseCast() {
    const Token& t = Advance();
    auto e = Make(ExprKind::kCast, t);
    ExpectOp("(");
    e->args.push_back(ParseValue());
    ExpectKw("as");
    ParseTypeInto(&e->cast_type, true);
    ExpectOp(")");
    return e;
  }

  ExprPtr ParseConvert() {
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

  ExprPtr ParseCase() {
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

  std::vector<Token> tokens_;
  size_t pos_ = 0;
  int depth_ = 0;
  ParseResult* result_;
};

}  // namespace

ParseResult ParseBatch(std::string_view sql) {
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
  parser.Run();
  return result;
}

}  // namespace tdslite::sql
