// Window functions (OVER), the row counts of TOP, OFFSET and FETCH, and the
// FOR XML PATH('') concatenation.
#include "compile_internal.h"

#include <cstdio>

namespace tdslite::sql::compiler_detail {

std::string ExprCompiler::OverSql(const WindowSpec& w, const Scope* scope, bool allow_aggregate,
                                  Typed* acc) {
  std::string sql = " OVER (";
  for (size_t i = 0; i < w.partition.size(); ++i) {
    Typed t = Value(*w.partition[i], scope, allow_aggregate);
    if (IsLobType(t.t.type.id)) {
      Throw(306, 2, 16,
            "The text, ntext, and image data types cannot be compared or sorted, except when "
            "using IS NULL or LIKE operator.");
    }
    TakeFlags(acc, t);
    sql += (i ? ", " : "PARTITION BY ") + Collated(t.sql, t.t.type);
  }
  for (size_t i = 0; i < w.order.size(); ++i) {
    const Expr& e = *w.order[i].expr;
    if (e.kind == ExprKind::kInteger) {
      Throw(5308, 1, 16,
            "Windowed functions, aggregates and NEXT VALUE FOR functions do not support integer "
            "indices as ORDER BY clause expressions.");
    }
    Typed t = Value(e, scope, allow_aggregate);
    if (IsLobType(t.t.type.id)) {
      Throw(306, 2, 16,
            "The text, ntext, and image data types cannot be compared or sorted, except when "
            "using IS NULL or LIKE operator.");
    }
    TakeFlags(acc, t);
    sql += std::string(i ? ", " : (w.partition.empty() ? "ORDER BY " : " ORDER BY ")) +
           Collated(t.sql, t.t.type) + (w.order[i].descending ? " DESC" : "");
  }
  if (!w.frame.empty()) sql += " " + w.frame;
  return sql + ")";
}

Typed ExprCompiler::Window(const Expr& e, const Scope* scope, bool allow_aggregate) {
  const std::string& f = e.text;
  if (!windows_allowed_) {
    Throw(4108, 1, 16, "Windowed functions can only appear in the SELECT or ORDER BY clauses.");
  }
  if (in_window_) {
    Throw(4109, 1, 16,
          "Windowed functions cannot be used in the context of another windowed function or "
          "aggregate.");
  }
  const Builtin* b = FindBuiltin(f);
  if (b == nullptr) NotSupported("The function " + f + "()");
  if (e.distinct) Throw(10759, 1, 15, "Use of DISTINCT is not allowed with the OVER clause.");
  in_window_ = true;
  struct Leave {
    bool* flag;
    ~Leave() { *flag = false; }
  } leave{&in_window_};
  if (b->kind == BuiltinKind::kAggregate) {
    Typed over;
    over_sql_ = OverSql(*e.over, scope, allow_aggregate, &over);
    Typed t = Aggregate(e, scope, allow_aggregate);
    over_sql_.clear();
    TakeFlags(&t, over);
    return t;
  }
  ArgCount(e, *b);
  const bool ranking = f == "row_number" || f == "rank" || f == "dense_rank" || f == "ntile" ||
                       f == "percent_rank" || f == "cume_dist";
  if (e.over->order.empty()) {
    Throw(4112, 1, 16, "The function '" + f + "' must have an OVER clause with ORDER BY.");
  }
  if (!e.over->frame.empty() && f != "first_value" && f != "last_value") {
    Throw(10752, 1, 15, "The function '" + f + "' may not have a window frame.");
  }
  Typed out;
  std::vector<Typed> args = Arguments(e, scope, allow_aggregate, &out);
  const std::string over = OverSql(*e.over, scope, allow_aggregate, &out);
  if (ranking) {
    out.t = Make(
        IntType(f == "percent_rank" || f == "cume_dist" ? TypeId::kFloat : TypeId::kBigInt), false);
    std::string call = f + "(";
    if (f == "ntile") {
      const Typed& n = args[0];
      if (!IsIntegerType(n.t.type.id) && !n.t.null_literal) {
        Throw(8116, 1, 16,
              "Argument data type " + TypeName(n.t.type.id) +
                  " is invalid for argument 1 of ntile function.");
      }
      call += n.sql;
    }
    out.sql = call + ")" + over;
    out.t.nullable = f == "ntile";
    return out;
  }
  const Typed& x = args[0];
  if (IsLobType(x.t.type.id)) {
    Throw(8116, 1, 16,
          "Argument data type " + TypeName(x.t.type.id) + " is invalid for argument 1 of " + f +
              " function.");
  }
  ColumnType t = x.t.null_literal ? IntType(TypeId::kInt) : x.t.type;
  out.t = Make(t, true);
  if (f == "first_value" || f == "last_value") {
    out.sql = f + "(" + x.sql + ")" + over;
    return out;
  }
  // lag / lead (value [, offset [, default]])
  std::string call = f + "(" + x.sql;
  if (args.size() > 1) {
    auto v = ConstantInteger(*e.args[1]);
    if (!IsIntegerType(args[1].t.type.id) || (v && *v < 0)) {
      Throw(8730, 1, 16, "Offset parameter for Lag and Lead functions cannot be a negative value.");
    }
    call += ", " + args[1].sql;
  }
  if (args.size() > 2) call += ", " + Convert(args[2], t).sql;
  out.sql = call + ")" + over;
  return out;
}

// A row count of TOP, OFFSET or FETCH: a constant or an expression of
// constants and variables, worked out now.
int64_t ExprCompiler::EvaluateInteger(const Expr& e) {
  if (auto v = ConstantInteger(e)) return *v;
  Scope empty;
  Typed t = Value(e, &empty, false);
  if (!IsIntegerType(t.t.type.id) && !t.t.null_literal) {
    Throw(1060, 1, 15,
          "The number of rows provided for a TOP or FETCH clauses row count parameter must be an "
          "integer.");
  }
  Typed v = Convert(t, IntType(TypeId::kBigInt));
  sqlite3_stmt* stmt = nullptr;
  const std::string sql = "SELECT " + v.sql;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    NotSupported("This row count expression");
  }
  int64_t out = -1;
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL) {
    out = sqlite3_column_int64(stmt, 0);
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_ROW) NotSupported("This row count expression");
  return out;
}

double ExprCompiler::EvaluateNumber(const Expr& e) {
  Scope empty;
  Typed t = Value(e, &empty, false);
  if (!IsNumericType(t.t.type.id) || t.t.type.id == TypeId::kBit) {
    Throw(1060, 1, 15,
          "The number of rows provided for a TOP or FETCH clauses row count parameter must be an "
          "integer.");
  }
  Typed v = Convert(t, IntType(TypeId::kFloat));
  sqlite3_stmt* stmt = nullptr;
  const std::string sql = "SELECT " + v.sql;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    NotSupported("This TOP expression");
  }
  double out = -1;
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL) {
    out = sqlite3_column_double(stmt, 0);
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_ROW) NotSupported("This TOP expression");
  return out;
}

// select ... for xml path(''): each row's values as XML text (a named column
// in its element), all rows in one string; no row gives NULL.
std::string ExprCompiler::ForXmlPath(const std::string& sql, const CoreResult& first,
                                     const std::vector<ExprType>& types) {
  std::string row;
  for (size_t i = 0; i < first.items.size(); ++i) {
    if (IsBinaryType(types[i].type.id) || IsLobType(types[i].type.id)) {
      NotSupported("FOR XML PATH('') of binary, text, ntext or image values");
    }
    const std::string column = "\"_c" + std::to_string(i + 1) + "\"";
    Typed value;
    value.sql = column;
    value.t = types[i];
    std::string text = AsString(value).sql;
    const bool named = first.named[i] && !first.names[i].empty();
    row += std::string(i ? " || " : "") + "coalesce(tds_xmltext(" + text +
           (named ? ", " + QuoteText(first.names[i]) : std::string()) + "), '')";
  }
  return "SELECT tds_xmlcap(group_concat(" + row + ", ''), " + std::to_string(kXmlPathLength) +
         ") AS \"_c1\" FROM (" + sql + ")";
}

}  // namespace tdslite::sql::compiler_detail
