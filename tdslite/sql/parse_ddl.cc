// Definitions: create, alter, drop of tables, indexes and views; column types.
#include "parser_internal.h"
#include "values.h"

namespace tdslite::sql::parser_detail {

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

bool Parser::AcceptNullability(ColumnDef* col) {
  const bool not_null = IsKw("not") && IsKw("null", 1);
  if (not_null) Advance();
  if (!AcceptKw("null")) return false;
  col->nullable = !not_null;
  col->null_specified = true;
  return true;
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
      if (AcceptNullability(&col)) continue;
      if (AcceptKw("identity")) {
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

void Parser::ParseDropNames(Stmt* s, bool procedure) {
  if (IsKw("if") && IsKw("exists", 1)) {
    Advance();
    Advance();
    s->if_exists = true;
  }
  do {
    s->names.push_back(ObjectName(procedure));
  } while (AcceptOp(","));
}

Stmt Parser::ParseDrop(Stmt s) {
  Advance();
  const bool table = AcceptKw("table");
  if (table || AcceptKw("view")) {
    s.kind = table ? StmtKind::kDropTable : StmtKind::kDropView;
    ParseDropNames(&s, false);
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
    AcceptNullability(&col);
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
