// Queries: select lists, FROM and joins, grouping, ORDER BY and UNION;
// and the entry points for a query, a value and a condition.
#include "compile_internal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

namespace tdslite::sql::compiler_detail {

// Compiles a full select (with unions and order by); `parent` gives
// correlated subqueries their outer columns.
ExprCompiler::CoreSelectSql ExprCompiler::Subquery(const Select& s, const Scope* parent) {
  NoOrderBy(s);
  return SelectSql(s, parent, -1);
}

ExprCompiler::CoreSelectSql ExprCompiler::OneColumnSubquery(const Select& s, const Scope* parent) {
  CoreSelectSql sub = Subquery(s, parent);
  if (sub.columns.size() != 1) {
    Throw(116, 1, 16,
          "Only one expression can be specified in the select list when the subquery is not "
          "introduced with EXISTS.");
  }
  return sub;
}

void ExprCompiler::NoOrderBy(const Select& s) {
  if (!s.order_by.empty() && !s.top && !s.offset && !s.for_xml_path) {
    Throw(1033, 1, 15,
          "The ORDER BY clause is invalid in views, inline functions, derived tables, "
          "subqueries, and common table expressions, unless TOP, OFFSET or FOR XML is also "
          "specified.");
  }
}

ExprCompiler::CoreSelectSql ExprCompiler::SelectSql(const Select& s, const Scope* parent,
                                                    int64_t extra_limit) {
  const bool stream_images = stream_images_;
  stream_images_ = false;
  // The statement's common table expressions are seen by all of it.
  const size_t ctes_before = ctes_.size();
  for (const CommonTable& cte : s.with) ctes_.push_back(&cte);
  struct PopCtes {
    std::vector<const CommonTable*>* v;
    size_t n;
    ~PopCtes() { v->resize(n); }
  } pop_ctes{&ctes_, ctes_before};
  if (s.maxrecursion >= 0) maxrecursion_ = s.maxrecursion;
  CoreResult first = Core(s, parent);
  std::vector<CoreResult> rest;
  for (const auto& u : s.unions) {
    rest.push_back(Core(*u.second, parent));
    if (rest.back().items.size() != first.items.size()) {
      Throw(205, 1, 16,
            "All queries combined using a UNION, INTERSECT or EXCEPT operator must have an "
            "equal number of expressions in their target lists.");
    }
  }
  // Result types across the union.
  std::vector<ExprType> types;
  for (size_t i = 0; i < first.items.size(); ++i) {
    ExprType t = first.items[i].t;
    for (const CoreResult& r : rest) {
      const ExprType& o = r.items[i].t;
      if (t.null_literal) {
        t = o;
      } else if (!o.null_literal) {
        if (IsLobType(t.type.id) || IsLobType(o.type.id)) {
          NotSupported("UNION of text, ntext or image columns");
        }
        t.type = UnifyTypes(t.type, o.type);
        t.nullable = t.nullable || o.nullable;
      } else {
        t.nullable = true;
      }
    }
    types.push_back(t);
  }
  // `streamed`: per item, true when an image value is read from its row in
  // pieces later; the statement then only yields its length (SQLite does not
  // load a blob whose length alone is asked for).
  auto emit_core = [&](const CoreResult& r, bool convert, const std::string& hidden,
                       const std::vector<bool>& streamed) {
    std::string sql = "SELECT ";
    if (r.distinct) sql += "DISTINCT ";
    for (size_t i = 0; i < r.items.size(); ++i) {
      if (i > 0) sql += ", ";
      std::string item = convert ? Convert(r.items[i], types[i].type).sql : r.items[i].sql;
      if (i < streamed.size() && streamed[i]) {
        item = "length(" + item + ")";
      } else if (!IsLobType(types[i].type.id)) {
        // The collation goes with the value, so that DISTINCT, UNION and the
        // grouping of an outer query compare as the server does.
        item = Collated(item, convert ? types[i].type : r.items[i].t.type);
      }
      sql += item + " AS \"_c" + std::to_string(i + 1) + "\"";
    }
    sql += hidden + r.from_and_rest;
    return sql;
  };
  const bool is_union = !rest.empty();
  // Hidden rowids behind the columns, for text pointers of text/image values.
  std::vector<int> rowid_columns(first.items.size(), -1);
  std::vector<bool> streamed(first.items.size(), false);
  std::vector<std::string> source_columns(first.items.size());
  std::string hidden;
  if (!is_union && !first.distinct && !first.grouped) {
    int next = static_cast<int>(first.items.size());
    for (size_t i = 0; i < first.items.size(); ++i) {
      const Typed& item = first.items[i];
      if (!IsLobType(item.t.type.id) || item.rowid_sql.empty()) continue;
      hidden += ", " + item.rowid_sql + " AS \"_r" + std::to_string(i + 1) + "\"";
      rowid_columns[i] = next++;
      source_columns[i] = item.column_name;
      streamed[i] = stream_images && item.t.type.id == TypeId::kImage && !item.column_name.empty();
    }
  }
  // ORDER BY: output names and positions, or (single selects) expressions.
  // With TIES ranks the rows by the same terms, kept as hidden columns.
  std::vector<std::string> order_terms;
  if (!s.order_by.empty()) {
    const bool windows = windows_allowed_;
    windows_allowed_ = !is_union;
    for (const OrderItem& item : s.order_by) {
      order_terms.push_back(OrderTerm(item, first, types, is_union) +
                            (item.descending ? " DESC" : ""));
    }
    windows_allowed_ = windows;
  }
  if (s.top_ties) {
    if (s.order_by.empty()) {
      Throw(1062, 1, 16,
            "The TOP N WITH TIES clause is not allowed without a corresponding ORDER BY clause.");
    }
    if (is_union) NotSupported("TOP ... WITH TIES in a UNION");
  }
  // WITH TIES: each term as the wrapping query reads it: an output column
  // as it is, an expression through a hidden column.
  std::string rank_order;
  for (size_t k = 0; s.top_ties && k < order_terms.size(); ++k) {
    std::string term = order_terms[k];
    const bool desc = term.size() > 5 && term.compare(term.size() - 5, 5, " DESC") == 0;
    if (desc) term.resize(term.size() - 5);
    std::string outer = term;
    if (term.rfind("\"_c", 0) != 0 && term.rfind("(\"_c", 0) != 0) {
      const std::string name = "\"_o" + std::to_string(k + 1) + "\"";
      hidden += ", " + term + " AS " + name;
      outer = name;
      for (const char* coll : {" COLLATE TDSCI)", " COLLATE TDSDEC)"}) {
        const std::string c = coll;
        if (term.size() > c.size() && term.compare(term.size() - c.size(), c.size(), c) == 0) {
          outer = "(" + name + c;
        }
      }
    }
    rank_order += std::string(k ? ", " : "") + outer + (desc ? " DESC" : "");
  }
  std::string sql = emit_core(first, is_union, hidden, streamed);
  for (size_t k = 0; k < rest.size(); ++k) {
    const SetOp op = s.unions[k].second->set_op;
    sql += op == SetOp::kExcept      ? " EXCEPT "
           : op == SetOp::kIntersect ? " INTERSECT "
           : s.unions[k].first       ? " UNION ALL "
                                     : " UNION ";
    sql += emit_core(rest[k], true, "", {});
  }
  const std::string unordered = sql;
  if (!order_terms.empty()) {
    std::string order;
    for (const std::string& term : order_terms) order += (order.empty() ? "" : ", ") + term;
    sql += " ORDER BY " + order;
  }
  // TOP n [percent] [with ties], OFFSET ... FETCH, SET ROWCOUNT
  int64_t limit = -1;
  std::string limit_sql;  // TOP n PERCENT: counted from the rows
  if (s.top && s.top_percent) {
    double percent = EvaluateNumber(*s.top);
    if (!(percent >= 0 && percent <= 100)) {
      Throw(1031, 1, 16, "Percent values must be between 0 and 100.");
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", percent);
    const std::string share = "(count(*) * " + std::string(buf) + " / 100.0)";
    limit_sql = "(SELECT CAST(" + share + " AS INTEGER) + (" + share + " > CAST(" + share +
                " AS INTEGER)) FROM (" + unordered + "))";
  } else if (s.top) {
    auto v = ConstantInteger(*s.top);
    if (!v) {
      if (s.top->kind == ExprKind::kDecimal || s.top->kind == ExprKind::kFloat) {
        Throw(1060, 1, 15,
              "The number of rows provided for a TOP or FETCH clauses row count parameter must "
              "be an integer.");
      }
      v = EvaluateInteger(*s.top);
    }
    if (*v < 0) {
      Throw(1060, 1, 15,
            "The number of rows provided for a TOP or FETCH clauses row count parameter must be "
            "an integer.");
    }
    limit = *v;
  }
  int64_t offset = -1;
  if (s.offset) {
    offset = EvaluateInteger(*s.offset);
    if (offset < 0)
      Throw(10742, 1, 16, "The offset specified in a OFFSET clause may not be negative.");
    if (s.fetch) {
      limit = EvaluateInteger(*s.fetch);
      if (limit <= 0) {
        Throw(10744, 1, 16,
              "The number of rows provided for a FETCH clause must be greater then zero.");
      }
    }
  }
  if (s.top_ties) {
    // The rows that rank within the first n, by the ORDER BY terms.
    std::string columns;
    for (size_t i = 0; i < first.items.size(); ++i) {
      columns += std::string(i ? ", " : "") + "\"_c" + std::to_string(i + 1) + "\"";
    }
    for (size_t i = 0; i < rowid_columns.size(); ++i) {
      if (rowid_columns[i] >= 0) columns += ", \"_r" + std::to_string(i + 1) + "\"";
    }
    const std::string bound = limit_sql.empty() ? std::to_string(limit) : limit_sql;
    sql = "SELECT " + columns + " FROM (SELECT *, rank() OVER (ORDER BY " + rank_order +
          ") AS \"_rk\" FROM (" + unordered + ")) WHERE \"_rk\" <= " + bound + " ORDER BY " +
          rank_order;
    limit = -1;
    limit_sql.clear();
  }
  if (extra_limit >= 0 && limit_sql.empty() && (limit < 0 || extra_limit < limit)) {
    limit = extra_limit;
  }
  if ((limit >= 0 || !limit_sql.empty()) && s.top && is_union) {
    // TOP applies to the first select of a union in T-SQL.
    NotSupported("TOP in a UNION");
  }
  if (!limit_sql.empty()) {
    sql += " LIMIT " + limit_sql;
    if (extra_limit >= 0) sql = "SELECT * FROM (" + sql + ") LIMIT " + std::to_string(extra_limit);
  } else if (limit >= 0 || offset >= 0) {
    sql += " LIMIT " + std::to_string(limit);
  }
  if (offset >= 0) sql += " OFFSET " + std::to_string(offset);
  if (s.for_xml_path) sql = ForXmlPath(sql, first, types);
  CoreSelectSql out;
  out.sql = sql;
  out.columns = types;
  out.rowid_columns = rowid_columns;
  out.source_columns = source_columns;
  out.streamed = streamed;
  for (size_t i = 0; i < first.items.size(); ++i) {
    ColumnDesc d;
    d.name = first.names[i];
    d.type = types[i].type;
    d.nullable = types[i].nullable;
    d.identity = !is_union && first.items[i].identity;
    if (IsLobType(d.type.id)) d.table = first.items[i].table;
    out.descs.push_back(d);
  }
  if (s.for_xml_path) {
    ColumnDesc d;
    d.type = VarCharType(kXmlPathLength, true);
    d.nullable = true;
    out.descs = {d};
    out.columns = {Make(d.type, true)};
    out.rowid_columns = {-1};
    out.source_columns = {""};
    out.streamed = {false};
  }
  return out;
}

std::string ExprCompiler::OrderTerm(const OrderItem& item, const CoreResult& core,
                                    const std::vector<ExprType>& types, bool is_union) {
  std::string term = OrderTermSql(item, core, types, is_union);
  if (order_type_is_lob_) {
    Throw(306, 2, 16,
          "The text, ntext, and image data types cannot be compared or sorted, except when "
          "using IS NULL or LIKE operator.");
  }
  return term;
}

std::string ExprCompiler::OrderTermSql(const OrderItem& item, const CoreResult& core,
                                       const std::vector<ExprType>& types, bool is_union) {
  const Expr& e = *item.expr;
  order_type_is_lob_ = false;
  if (e.kind == ExprKind::kInteger) {
    auto v = ConstantInteger(e);
    if (!v || *v < 1 || *v > static_cast<int64_t>(types.size())) {
      Throw(108, 1, 16,
            "The ORDER BY position number " + e.text +
                " is out of range of the number of items in the select list.");
    }
    order_type_is_lob_ = IsLobType((types[static_cast<size_t>(*v - 1)].type).id);
    return Collated("\"_c" + std::to_string(*v) + "\"", types[static_cast<size_t>(*v - 1)].type);
  }
  if (e.kind == ExprKind::kColumn && e.names.size() == 1) {
    for (size_t i = 0; i < core.names.size(); ++i) {
      if (core.named[i] && EqualsIgnoreCase(core.names[i], e.names[0])) {
        order_type_is_lob_ = IsLobType((types[i].type).id);
        return Collated("\"_c" + std::to_string(i + 1) + "\"", types[i].type);
      }
    }
  }
  if (is_union) {
    // Must match a select item.
    Typed t = Value(e, &core.scope, core.grouped);
    for (size_t i = 0; i < core.items.size(); ++i) {
      if (core.items[i].sql == t.sql) {
        order_type_is_lob_ = IsLobType((types[i].type).id);
        return Collated("\"_c" + std::to_string(i + 1) + "\"", types[i].type);
      }
    }
    Throw(104, 1, 16,
          "ORDER BY items must appear in the select list if the statement contains a UNION, "
          "INTERSECT or EXCEPT operator.");
  }
  Typed t = Value(e, &core.scope, true);
  if (t.aggregate && !core.grouped) {
    // An aggregate in ORDER BY makes the query grouped; keep it simple.
    NotSupported("An aggregate in ORDER BY of a query without GROUP BY");
  }
  if (core.grouped) CheckGrouped(t, core.group_sqls, 8127, "ORDER BY clause");
  if (core.distinct) {
    bool found = false;
    for (const Typed& item : core.items) found = found || item.sql == t.sql;
    if (!found) {
      Throw(145, 1, 15,
            "ORDER BY items must appear in the select list if SELECT DISTINCT is specified.");
    }
  }
  order_type_is_lob_ = IsLobType((t.t.type).id);
  return Collated(t.sql, t.t.type);
}

void ExprCompiler::CheckGrouped(const Typed& t, const std::vector<std::string>& groups, int number,
                                const char* where) {
  for (const std::string& g : groups) {
    if (g == t.sql) return;
  }
  for (const auto& [sql, display] : t.bare) {
    bool ok = false;
    for (const std::string& g : groups) ok = ok || g == sql;
    if (!ok) {
      if (number == 8127) {
        Throw(number, 1, 16,
              "Column \"" + display + "\" is invalid in the " + where +
                  " because it is not contained in either an aggregate function or the GROUP "
                  "BY clause.");
      }
      Throw(number, 1, 16,
            "Column '" + display + "' is invalid in the " + where +
                " because it is not contained in either an aggregate function or the GROUP BY "
                "clause.");
    }
  }
}

// One select without union/order by.
CoreResult ExprCompiler::Core(const Select& s, const Scope* parent) {
  const bool windows_before = windows_allowed_;
  windows_allowed_ = false;
  CoreResult r;
  r.scope.parent = parent;
  r.distinct = s.distinct;
  std::string from;
  for (size_t i = 0; i < s.from.size(); ++i) {
    if (i > 0) from += ", ";
    from += TableRefSql(*s.from[i], &r.scope);
  }
  // Select list: the one place, with ORDER BY, for window functions.
  const bool outer_windows = windows_before;
  for (const SelectItem& item : s.items) {
    if (item.expr->kind == ExprKind::kStar) {
      ExpandStar(*item.expr, r);
      continue;
    }
    windows_allowed_ = true;
    Typed t = Value(*item.expr, &r.scope, true);
    windows_allowed_ = false;
    if (!item.assign.empty()) {
      // select @v = expr: the value as the variable's type.
      const LocalVariable* v = nullptr;
      if (vars_.locals != nullptr) {
        auto it = vars_.locals->find(item.assign);
        if (it != vars_.locals->end()) v = &it->second;
      }
      if (v == nullptr)
        Throw(137, 1, 15, "Must declare the scalar variable \"" + item.assign + "\".");
      const bool aggregate = t.aggregate;
      auto bare = t.bare;
      t = Convert(t, v->type);
      t.aggregate = aggregate;
      t.bare = bare;
    }
    r.items.push_back(t);
    if (item.has_alias) {
      r.names.push_back(item.alias);
      r.named.push_back(true);
    } else {
      r.names.push_back(t.column_name);
      r.named.push_back(!t.column_name.empty());
    }
  }
  if (r.distinct) {
    for (const Typed& t : r.items) {
      if (IsLobType(t.t.type.id)) {
        Throw(421, 1, 16,
              "The " + TypeName(t.t.type.id) +
                  " data type cannot be selected as DISTINCT because it is not comparable.");
      }
    }
  }
  std::string rest;
  if (!from.empty()) rest += " FROM " + from;
  if (s.where) {
    Typed w = Condition(*s.where, &r.scope, false);
    rest += " WHERE " + w.sql;
  }
  bool any_aggregate = false;
  for (const Typed& t : r.items) any_aggregate = any_aggregate || t.aggregate;
  std::optional<Typed> having;
  if (s.having) {
    having = Condition(*s.having, &r.scope, true);
    any_aggregate = true;
  }
  if (!s.group_by.empty() || any_aggregate) {
    r.grouped = true;
    std::string group;
    for (const ExprPtr& g : s.group_by) {
      Typed t = Value(*g, &r.scope, false);
      if (IsLobType(t.t.type.id)) {
        Throw(306, 2, 16,
              "The text, ntext, and image data types cannot be compared or sorted, except when "
              "using IS NULL or LIKE operator.");
      }
      r.group_sqls.push_back(t.sql);
      if (!group.empty()) group += ", ";
      group += Collated(t.sql, t.t.type);
    }
    for (const Typed& t : r.items) CheckGrouped(t, r.group_sqls, 8120, "select list");
    if (having) CheckGrouped(*having, r.group_sqls, 8121, "HAVING clause");
    if (!group.empty()) rest += " GROUP BY " + group;
    if (having) rest += " HAVING " + having->sql;
  }
  r.from_and_rest = rest;
  windows_allowed_ = outer_windows;
  if (r.items.empty()) Throw(102, 1, 15, "Incorrect syntax near 'from'.");
  return r;
}

void ExprCompiler::ExpandStar(const Expr& star, CoreResult& r) {
  bool any = false;
  for (const Source& src : r.scope.sources) {
    if (!star.names.empty() && !EqualsIgnoreCase(src.exposed, star.names[0])) continue;
    any = true;
    for (const SourceColumn& c : src.columns) {
      Typed t;
      t.sql = c.sql;
      t.t = c.type;
      t.column_name = c.name;
      t.table = c.table;
      t.identity = c.identity;
      t.rowid_sql = c.rowid_sql;
      t.bare.emplace_back(c.sql, src.exposed + "." + c.name);
      r.items.push_back(t);
      r.names.push_back(c.name);
      r.named.push_back(true);
    }
  }
  if (!any) {
    if (star.names.empty()) {
      Throw(263, 1, 16, "Must specify table to select from.");
    }
    Throw(4104, 1, 16, "The multi-part identifier \"" + star.names[0] + "\" could not be bound.");
  }
}

void ExprCompiler::AddSource(Scope* scope, Source src) {
  for (const Source& s : scope->sources) {
    if (EqualsIgnoreCase(s.exposed, src.exposed)) {
      Throw(1013, 1, 16,
            "The objects \"" + s.exposed + "\" and \"" + src.exposed +
                "\" in the FROM clause have the same exposed names. Use correlation names to "
                "distinguish them.");
    }
  }
  scope->sources.push_back(std::move(src));
}

// Emits a FROM item and adds its sources to the scope.
std::string ExprCompiler::TableRefSql(const TableRef& ref, Scope* scope) {
  if (ref.join != JoinKind::kNone) {
    std::string left = TableRefSql(*ref.left, scope);
    size_t right_first = scope->sources.size();
    std::string right = TableRefSql(*ref.right, scope);
    size_t right_end = scope->sources.size();
    auto make_nullable = [&](size_t a, size_t b) {
      for (size_t k = a; k < b; ++k) {
        for (SourceColumn& c : scope->sources[k].columns) c.type.nullable = true;
      }
    };
    std::string kw;
    switch (ref.join) {
      case JoinKind::kInner:
        kw = " JOIN ";
        break;
      case JoinKind::kLeft:
        kw = " LEFT JOIN ";
        make_nullable(right_first, right_end);
        break;
      case JoinKind::kRight:
        kw = " RIGHT JOIN ";
        make_nullable(0, right_first);
        break;
      case JoinKind::kFull:
        kw = " FULL JOIN ";
        make_nullable(0, right_end);
        break;
      default:
        kw = " CROSS JOIN ";
        break;
    }
    // Left-deep joins go unparenthesized: SQLite turns a parenthesized join
    // into a subquery, which hides the tables' rowids.
    if (ref.right->join != JoinKind::kNone) right = "(" + right + ")";
    std::string sql = left + kw + right;
    if (ref.on) sql += " ON " + Condition(*ref.on, scope, false).sql;
    return sql;
  }
  if (ref.subquery) {
    NoOrderBy(*ref.subquery);
    CoreSelectSql sub = SelectSql(*ref.subquery, nullptr, -1);
    return DerivedTable(sub, ref.alias, ref.column_aliases, scope);
  }
  if (ref.function) return SplitTable(ref, scope);
  {
    std::string sql;
    if (CommonTableRef(ref, scope, &sql)) return sql;
  }
  Source src;
  src.sql_alias = NextAlias();
  const bool qualified = ref.name.find('.') != std::string::npos;
  auto table = qualified ? std::nullopt : LookupTable(db_, ref.name);
  if (!table) {
    if (auto view = FindCatalogView(ref.name, vars_.database)) {
      return CatalogViewSql(ref, *view, scope);
    }
    if (ClassifyCatalogView("", ToLower(ref.name)) == CatalogViewStatus::kNotBuilt) {
      NotSupported("The catalog view '" + ref.name + "'");
    }
    std::string sql;
    if (!qualified && ViewRef(ref, scope, &sql)) return sql;
    Throw(208, 1, 16, "Invalid object name '" + ref.name + "'.");
  }
  src.exposed = ref.alias.empty() ? ref.name : ref.alias;
  src.table = table->name;
  for (const CatalogColumn& col : table->columns) {
    SourceColumn c;
    c.name = col.name;
    c.type = Make(col.type, col.nullable);
    c.sql = src.sql_alias + "." + QuoteIdent(col.name);
    c.identity = col.identity;
    c.table = table->name;
    c.rowid_sql = src.sql_alias + ".rowid";
    src.columns.push_back(c);
  }
  std::string sql = QuoteIdent(table->name) + " AS " + src.sql_alias;
  AddSource(scope, std::move(src));
  return sql;
}

// A catalog view: a derived table over the catalog, named by its last part.
std::string ExprCompiler::CatalogViewSql(const TableRef& ref, const CatalogView& view,
                                         Scope* scope) {
  Source src;
  src.sql_alias = NextAlias();
  src.exposed = ref.alias;
  if (src.exposed.empty()) src.exposed = ref.name.substr(ref.name.rfind('.') + 1);
  for (const CatalogViewColumn& col : view.columns) {
    SourceColumn c;
    c.name = col.name;
    c.type = Make(col.type, col.nullable);
    c.sql = src.sql_alias + "." + QuoteIdent(col.name);
    src.columns.push_back(c);
  }
  std::string sql = "(" + view.sql + ") AS " + src.sql_alias;
  AddSource(scope, std::move(src));
  return sql;
}

}  // namespace tdslite::sql::compiler_detail

namespace tdslite::sql {

using namespace compiler_detail;

bool Compiler::CompileSelect(const Select& select, CompiledSelect* out, CompileError* error) {
  return CompileWith(db_, vars_, error, [&](ExprCompiler& c) {
    c.stream_images_ = true;
    auto r = c.SelectSql(select, nullptr, -1);
    out->sql = r.sql;
    out->columns = r.descs;
    out->rowid_columns = r.rowid_columns;
    out->source_columns = r.source_columns;
    out->streamed = r.streamed;
    return true;
  });
}

bool Compiler::CompileValue(const Expr& expr, std::optional<ColumnType> to, std::string* sql,
                            ExprType* type, CompileError* error) {
  return CompileWith(db_, vars_, error, [&](ExprCompiler& c) {
    Scope empty;
    Typed t = c.Value(expr, &empty, false);
    if (to) t = c.Convert(t, *to);
    *sql = "SELECT " + t.sql;
    *type = t.t;
    return true;
  });
}

bool Compiler::CompileCondition(const Expr& expr, std::string* sql, CompileError* error) {
  return CompileWith(db_, vars_, error, [&](ExprCompiler& c) {
    Scope empty;
    Typed t = c.Condition(expr, &empty, false);
    *sql = "SELECT CASE WHEN " + t.sql + " THEN 1 ELSE 0 END";
    return true;
  });
}

}  // namespace tdslite::sql
