// Common table expressions, derived tables with column names, row
// constructors and string_split in FROM.
#include "compile_internal.h"
#include "views.h"

namespace tdslite::sql::compiler_detail {

namespace {

// Whether a FROM list names `name` as a table (a recursive reference).
bool NamesTable(const TableRef& ref, const std::string& name) {
  if (ref.join != JoinKind::kNone) {
    return NamesTable(*ref.left, name) || NamesTable(*ref.right, name);
  }
  if (ref.subquery || ref.function) return false;
  return EqualsIgnoreCase(ref.name, name);
}

bool CoreNames(const Select& s, const std::string& name) {
  for (const auto& ref : s.from) {
    if (NamesTable(*ref, name)) return true;
  }
  return false;
}

}  // namespace

std::string ExprCompiler::DerivedTable(const CoreSelectSql& sub, const std::string& exposed,
                                       const std::vector<std::string>& aliases, Scope* scope) {
  Source src;
  src.sql_alias = NextAlias();
  src.exposed = exposed;
  if (!aliases.empty() && aliases.size() != sub.descs.size()) {
    if (aliases.size() < sub.descs.size()) {
      Throw(8158, 1, 16,
            "'" + exposed + "' has more columns than were specified in the column list.");
    }
    Throw(8159, 1, 16,
          "'" + exposed + "' has fewer columns than were specified in the column list.");
  }
  for (size_t i = 0; i < sub.descs.size(); ++i) {
    SourceColumn c;
    c.name = aliases.empty() ? sub.descs[i].name : aliases[i];
    if (c.name.empty()) {
      Throw(8155, 2, 16,
            "No column name was specified for column " + std::to_string(i + 1) + " of '" + exposed +
                "'.");
    }
    for (const SourceColumn& other : src.columns) {
      if (EqualsIgnoreCase(other.name, c.name)) {
        Throw(8156, 1, 16,
              "The column '" + c.name + "' was specified multiple times for '" + exposed + "'.");
      }
    }
    c.type = sub.columns[i];
    c.sql = src.sql_alias + ".\"_c" + std::to_string(i + 1) + "\"";
    src.columns.push_back(c);
  }
  std::string sql = "(" + sub.sql + ") AS " + src.sql_alias;
  AddSource(scope, std::move(src));
  return sql;
}

bool ExprCompiler::CommonTableRef(const TableRef& ref, Scope* scope, std::string* sql) {
  const std::string exposed = ref.alias.empty() ? ref.name : ref.alias;
  // The member of a recursive query that reads the rows made so far.
  for (auto it = recursive_.rbegin(); it != recursive_.rend(); ++it) {
    if (!EqualsIgnoreCase(it->name, ref.name)) continue;
    if (it->used) {
      Throw(253, 1, 16,
            "Recursive member of a common table expression '" + it->name +
                "' has multiple recursive references.");
    }
    it->used = true;
    Source src;
    src.sql_alias = NextAlias();
    src.exposed = exposed;
    for (size_t i = 0; i < it->names.size(); ++i) {
      SourceColumn c;
      c.name = it->names[i];
      c.type = it->types[i];
      c.sql = src.sql_alias + ".\"_c" + std::to_string(i + 1) + "\"";
      src.columns.push_back(c);
    }
    *sql = it->sql_name + " AS " + src.sql_alias;
    it->level_sql = src.sql_alias + ".\"_lvl\"";
    AddSource(scope, std::move(src));
    return true;
  }
  size_t index = ctes_.size();
  while (index > 0 && !EqualsIgnoreCase(ctes_[index - 1]->name, ref.name)) --index;
  if (index == 0) return false;
  const CommonTable& cte = *ctes_[index - 1];
  // A common table expression sees the ones before it, and itself.
  std::vector<const CommonTable*> saved = ctes_;
  ctes_.resize(index - 1);
  const Select& s = *cte.select;
  bool recursive = CoreNames(s, cte.name);
  for (const auto& u : s.unions) recursive = recursive || CoreNames(*u.second, cte.name);
  if (!recursive) {
    NoOrderBy(s);
    CoreSelectSql sub = SelectSql(s, nullptr, -1);
    *sql = DerivedTable(sub, exposed, cte.columns, scope);
    ctes_ = saved;
    return true;
  }
  *sql = RecursiveTable(cte, exposed, scope);
  ctes_ = saved;
  return true;
}

// anchor UNION ALL recursive member(s), as SQLite's WITH RECURSIVE, with a
// hidden level column that stops the recursion at MAXRECURSION (error 530).
std::string ExprCompiler::RecursiveTable(const CommonTable& cte, const std::string& exposed,
                                         Scope* scope) {
  const Select& s = *cte.select;
  if (CoreNames(s, cte.name)) {
    Throw(252, 1, 16,
          "Recursive common table expression '" + cte.name +
              "' does not contain a top-level UNION ALL operator.");
  }
  for (size_t k = 0; k < s.unions.size(); ++k) {
    const bool names = CoreNames(*s.unions[k].second, cte.name);
    if (k == 0 && !names) {
      NotSupported("A recursive common table expression with several anchor members");
    }
    if (!names) {
      Throw(246, 1, 16, "No anchor member was specified for recursive query \"" + cte.name + "\".");
    }
    if (!s.unions[k].first || s.unions[k].second->set_op != SetOp::kUnion) {
      Throw(252, 1, 16,
            "Recursive common table expression '" + cte.name +
                "' does not contain a top-level UNION ALL operator.");
    }
  }
  if (!s.order_by.empty() || s.top || s.offset) {
    NoOrderBy(s);
    NotSupported("TOP or ORDER BY in a recursive common table expression");
  }
  CoreResult anchor = Core(s, nullptr);
  RecursiveRef rec;
  rec.name = cte.name;
  rec.sql_name = "\"_rc" + std::to_string((*alias_counter_)++) + "\"";
  if (!cte.columns.empty() && cte.columns.size() != anchor.items.size()) {
    if (cte.columns.size() < anchor.items.size()) {
      Throw(8158, 1, 16,
            "'" + cte.name + "' has more columns than were specified in the column list.");
    }
    Throw(8159, 1, 16,
          "'" + cte.name + "' has fewer columns than were specified in the column list.");
  }
  for (size_t i = 0; i < anchor.items.size(); ++i) {
    std::string name = cte.columns.empty() ? anchor.names[i] : cte.columns[i];
    if (name.empty()) {
      Throw(8155, 2, 16,
            "No column name was specified for column " + std::to_string(i + 1) + " of '" +
                cte.name + "'.");
    }
    rec.names.push_back(name);
    ExprType t = anchor.items[i].t;
    if (t.null_literal) t = Make(IntType(TypeId::kInt), true);
    t.null_literal = false;
    t.nullable = true;
    rec.types.push_back(t);
  }
  auto core_sql = [&](const CoreResult& r, const std::string& level) {
    std::string sql = "SELECT ";
    for (size_t i = 0; i < r.items.size(); ++i) {
      sql += r.items[i].sql + " AS \"_c" + std::to_string(i + 1) + "\", ";
    }
    return sql + level + " AS \"_lvl\"" + r.from_and_rest;
  };
  std::string body = core_sql(anchor, "0");
  const int64_t limit = maxrecursion_ == 0 ? kMaxRecursionLevels : maxrecursion_;
  for (const auto& u : s.unions) {
    recursive_.push_back(rec);
    CoreResult member = Core(*u.second, nullptr);
    const RecursiveRef used = recursive_.back();
    recursive_.pop_back();
    if (member.grouped) {
      Throw(467, 1, 16,
            "GROUP BY, HAVING, or aggregate functions are not allowed in the recursive part of a "
            "recursive common table expression '" +
                cte.name + "'.");
    }
    if (member.items.size() != rec.types.size()) {
      Throw(205, 1, 16,
            "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an equal "
            "number of expressions in their target lists.");
    }
    for (size_t i = 0; i < member.items.size(); ++i) {
      const ColumnType& a = rec.types[i].type;
      const ColumnType& b = member.items[i].t.type;
      if (!member.items[i].t.null_literal && (a.id != b.id || a.length != b.length ||
                                              a.precision != b.precision || a.scale != b.scale)) {
        Throw(240, 1, 16,
              "Types don't match between the anchor and the recursive part in column \"" +
                  rec.names[i] + "\" of recursive query \"" + cte.name + "\".");
      }
    }
    const std::string level = "tds_recursion(" + used.level_sql + " + 1, " + std::to_string(limit) +
                              ", " + (maxrecursion_ == 0 ? "1" : "0") + ")";
    body += " UNION ALL " + core_sql(member, level);
  }
  std::string columns;
  for (size_t i = 0; i < rec.names.size(); ++i) {
    columns += std::string(i ? ", " : "") + "\"_c" + std::to_string(i + 1) + "\"";
  }
  CoreSelectSql sub;
  sub.sql = "WITH RECURSIVE " + rec.sql_name + " AS (" + body + ") SELECT " + columns + " FROM " +
            rec.sql_name;
  for (size_t i = 0; i < rec.names.size(); ++i) {
    ColumnDesc d;
    d.name = rec.names[i];
    d.type = rec.types[i].type;
    d.nullable = true;
    sub.descs.push_back(d);
    sub.columns.push_back(rec.types[i]);
  }
  return DerivedTable(sub, exposed, {}, scope);
}

// string_split(text, separator): one row per piece, column `value`.
std::string ExprCompiler::SplitTable(const TableRef& ref, Scope* scope) {
  const Expr& call = *ref.function;
  if (call.kind != ExprKind::kFunction || call.args.size() < 2) {
    Throw(313, 1, 16,
          "An insufficient number of arguments were supplied for the procedure or function "
          "string_split.");
  }
  if (call.args.size() > 2) NotSupported("string_split() with enable_ordinal");
  Scope empty;
  empty.parent = nullptr;
  Typed text = AsString(Value(*call.args[0], &empty, false));
  Typed sep = AsString(Value(*call.args[1], &empty, false));
  if (IsLobType(text.t.type.id)) {
    Throw(8116, 1, 16,
          "Argument data type " + TypeName(text.t.type.id) +
              " is invalid for argument 1 of string_split function.");
  }
  if (!sep.t.null_literal && sep.t.type.length != 1) {
    Throw(214, 1, 16, "Procedure expects parameter 'separator' of type 'nchar(1)/nvarchar(1)'.");
  }
  const std::string cte = "\"_ss" + std::to_string((*alias_counter_)++) + "\"";
  const std::string rest = cte + ".r";
  const std::string at = "instr(" + rest + ", " + sep.sql + ")";
  CoreSelectSql sub;
  sub.sql = "WITH RECURSIVE " + cte + "(v, r) AS (SELECT NULL, " + text.sql + " || " + sep.sql +
            " UNION ALL SELECT substr(" + rest + ", 1, " + at + " - 1), substr(" + rest + ", " +
            at + " + 1) FROM " + cte + " WHERE " + rest + " <> '') SELECT v AS \"_c1\" FROM " +
            cte + " WHERE v IS NOT NULL";
  ColumnType t = text.t.null_literal ? VarCharType(1, false) : text.t.type;
  if (t.id == TypeId::kChar) t.id = TypeId::kVarChar;
  if (t.id == TypeId::kNChar) t.id = TypeId::kNVarChar;
  ColumnDesc d;
  d.name = "value";
  d.type = t;
  sub.descs.push_back(d);
  sub.columns.push_back(Make(t, false));
  return DerivedTable(sub, ref.alias.empty() ? "string_split" : ref.alias, {}, scope);
}

// A FROM name that is a view: its query, read again, as a derived table.
bool ExprCompiler::ViewRef(const TableRef& ref, Scope* scope, std::string* sql) {
  auto view = LookupUserView(db_, ref.name);
  if (!view) return false;
  if (view_depth_ >= kMaxViewDepth) {
    Throw(217, 1, 16,
          "Maximum stored procedure, function, trigger, or view nesting level exceeded (limit " +
              std::to_string(kMaxViewDepth) + ").");
  }
  ParseResult parsed = ParseBatch(view->body, vars_.database);
  if (!parsed.ok() || parsed.statements.size() != 1 || !parsed.statements[0].select) {
    Throw(4413, 1, 16,
          "Could not use view or function '" + view->name + "' because of binding errors.");
  }
  // The view sees none of the query's common table expressions.
  std::vector<const CommonTable*> ctes = std::move(ctes_);
  std::vector<RecursiveRef> recursive = std::move(recursive_);
  ctes_.clear();
  recursive_.clear();
  ++view_depth_;
  const Select& s = *parsed.statements[0].select;
  NoOrderBy(s);
  CoreSelectSql sub = SelectSql(s, nullptr, -1);
  --view_depth_;
  ctes_ = std::move(ctes);
  recursive_ = std::move(recursive);
  *sql = DerivedTable(sub, ref.alias.empty() ? view->name : ref.alias, view->columns, scope);
  return true;
}

void ExprCompiler::NoViewTarget(const std::string& name) {
  if (LookupUserView(db_, name)) NotSupported("INSERT, UPDATE or DELETE through a view");
}

}  // namespace tdslite::sql::compiler_detail

namespace tdslite::sql {

using namespace compiler_detail;

bool Compiler::CompileView(const Select& select, std::vector<ColumnDesc>* columns,
                           CompileError* error) {
  return CompileWith(db_, vars_, error, [&](ExprCompiler& c) {
    c.NoOrderBy(select);
    if (select.for_xml_path) NotSupported("FOR XML in a view");
    auto r = c.SelectSql(select, nullptr, -1);
    *columns = r.descs;
    return true;
  });
}

}  // namespace tdslite::sql
