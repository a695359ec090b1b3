// Expressions: literals, columns, variables, CASE and IN (operators are in
// compile_operators.cc).
#include "compile_internal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

namespace tdslite::sql::compiler_detail {

Typed ExprCompiler::Compile(const Expr& e, const Scope* scope, bool allow_aggregate) {
  DepthGuard guard(this);
  switch (e.kind) {
    case ExprKind::kNull: {
      Typed t;
      t.sql = "NULL";
      t.t = Make(IntType(TypeId::kInt), true);
      t.t.null_literal = true;
      return t;
    }
    case ExprKind::kInteger:
      return IntegerLiteral(e.text);
    case ExprKind::kDecimal:
      return DecimalLiteral(e.text);
    case ExprKind::kFloat: {
      Typed t;
      double v = std::strtod(e.text.c_str(), nullptr);
      if (std::isinf(v)) {
        Throw(1007, 1, 15,
              "The number '" + e.text +
                  "' is out of the range for numeric representation "
                  "(maximum precision 38).");
      }
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17e", v);
      t.sql = buf;
      t.t = Make(IntType(TypeId::kFloat), false);
      return t;
    }
    case ExprKind::kString:
    case ExprKind::kNString: {
      const bool unicode = e.kind == ExprKind::kNString;
      int64_t chars = unicode ? Utf16Length(e.text) : Utf8Length(e.text);
      Typed t;
      t.sql = QuoteText(e.text);
      ColumnType type;
      if (chars > (unicode ? 4000 : 8000)) {
        // A longer literal is varchar(max) (nvarchar(max)), as SQL Server types it.
        type.id = unicode ? TypeId::kNVarChar : TypeId::kVarChar;
        type.length = kMaxLength;
      } else {
        type = VarCharType(static_cast<int>(std::max<int64_t>(chars, 1)), unicode);
      }
      t.t = Make(type, false);
      return t;
    }
    case ExprKind::kBinary: {
      std::string hex = e.text;
      if (hex.size() % 2 != 0) hex.insert(hex.begin(), '0');
      std::string bytes;
      for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        auto nib = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
        bytes.push_back(static_cast<char>(nib(hex[i]) * 16 + nib(hex[i + 1])));
      }
      Typed t;
      t.sql = QuoteBlob(bytes);
      ColumnType type;
      if (bytes.size() > 8000) {
        type.id = TypeId::kImage;
      } else {
        type.id = TypeId::kVarBinary;
        type.length = static_cast<int32_t>(std::max<size_t>(bytes.size(), 1));
      }
      t.t = Make(type, false);
      return t;
    }
    case ExprKind::kMoney: {
      auto v = ParseScaled(e.text, 4, false);
      if (!v || *v > std::numeric_limits<int64_t>::max()) {
        Throw(8115, 2, 16, "Arithmetic overflow error converting expression to data type money.");
      }
      Typed t;
      t.sql = std::to_string(static_cast<int64_t>(*v));
      t.t = Make(IntType(TypeId::kMoney), false);
      return t;
    }
    case ExprKind::kColumn:
      return ResolveColumn(e, scope);
    case ExprKind::kStar:
      Throw(102, 1, 15, "Incorrect syntax near '*'.");
    case ExprKind::kVariable:
      return Variable(e);
    case ExprKind::kUnary:
      return Unary(e, scope, allow_aggregate);
    case ExprKind::kBinaryOp:
      return BinaryOp(e, scope, allow_aggregate);
    case ExprKind::kFunction:
      return Function(e, scope, allow_aggregate);
    case ExprKind::kCast: {
      if (e.try_conversion && !trying_) return TryConversion(e, scope, allow_aggregate);
      Typed arg = Value(*e.args[0], scope, allow_aggregate);
      int style = -1;
      if (e.args.size() > 1) {
        Typed s = Value(*e.args[1], scope, false);
        std::optional<int64_t> v = ConstantInteger(*e.args[1]);
        if (!v) NotSupported("A CONVERT style that is not a constant");
        style = static_cast<int>(*v);
        (void)s;
      }
      // Styles shape dates to and from strings and money to strings.
      const bool date_to_text = IsTemporalType(arg.t.type.id) && IsCharType(e.cast_type.id);
      const bool text_to_date = IsCharType(arg.t.type.id) && IsTemporalType(e.cast_type.id);
      const bool money_to_text = IsMoneyType(arg.t.type.id) && IsCharType(e.cast_type.id);
      if (!date_to_text && !text_to_date && !money_to_text) style = -1;
      if (IsTemporalType(arg.t.type.id) && IsCharType(e.cast_type.id) && e.args.size() > 1 &&
          style < 0) {
        // A negative style is refused like any other invalid one.
        auto v = ConstantInteger(*e.args[1]);
        Throw(281, 1, 16,
              std::to_string(v ? *v : -1) + " is not a valid style number when converting from " +
                  TypeName(arg.t.type.id) + " to a character string.");
      }
      if (IsTemporalType(arg.t.type.id) && IsCharType(e.cast_type.id) && style >= 0 &&
          !FormatDateTime(0, style, false)) {
        Throw(281, 1, 16,
              std::to_string(style) + " is not a valid style number when converting from " +
                  TypeName(arg.t.type.id) + " to a character string.");
      }
      Typed out = Convert(arg, e.cast_type, false, style);
      out.t.nullable = arg.t.nullable;
      return out;
    }
    case ExprKind::kCase:
      return Case(e, scope, allow_aggregate);
    case ExprKind::kIn:
      return In(e, scope, allow_aggregate);
    case ExprKind::kBetween: {
      Typed a = Value(*e.args[0], scope, allow_aggregate);
      Typed lo = Value(*e.args[1], scope, allow_aggregate);
      Typed hi = Value(*e.args[2], scope, allow_aggregate);
      Typed alo = a;
      alo.t.type = Unify(a, lo);
      alo.t.null_literal = a.t.null_literal && lo.t.null_literal;
      ColumnType u = Unify(alo, hi);
      Typed out = Combine({&a, &lo, &hi});
      out.sql = "(" + Collated(Convert(a, u).sql, u) + (e.negated ? " NOT" : "") + " BETWEEN " +
                Convert(lo, u).sql + " AND " + Convert(hi, u).sql + ")";
      out.predicate = true;
      return out;
    }
    case ExprKind::kLike: {
      Typed a = Value(*e.args[0], scope, allow_aggregate);
      Typed p = Value(*e.args[1], scope, allow_aggregate);
      std::string sql = "tds_like(" + AsString(a).sql + "," + AsString(p).sql;
      Typed out = Combine({&a, &p});
      if (e.args.size() > 2) {
        Typed esc = Value(*e.args[2], scope, allow_aggregate);
        sql += "," + AsString(esc).sql;
      }
      sql += ")";
      out.sql = "(" + sql + (e.negated ? " = 0)" : " = 1)");
      out.predicate = true;
      return out;
    }
    case ExprKind::kIsNull: {
      Typed a = Value(*e.args[0], scope, allow_aggregate);
      Typed out = a;
      out.sql = "(" + a.sql + (e.negated ? " IS NOT NULL)" : " IS NULL)");
      out.predicate = true;
      out.column_name.clear();
      return out;
    }
    case ExprKind::kExists: {
      CoreSelectSql sub = Subquery(*e.subquery, scope);
      Typed out;
      out.sql = std::string(e.negated ? "(NOT " : "(") + "EXISTS (" + sub.sql + "))";
      out.predicate = true;
      return out;
    }
    case ExprKind::kSubquery: {
      CoreSelectSql sub = OneColumnSubquery(*e.subquery, scope);
      Typed out;
      // A second row is error 512, as it is for SQL Server. A query that
      // gives one row at most needs no look (nor the nesting it takes).
      out.sql = AtMostOneRow(*e.subquery)
                    ? "(" + sub.sql + ")"
                    : "(SELECT tds_single(s.\"_c1\") FROM (" + sub.sql + ") AS s)";
      out.t = Make(sub.columns[0].type, true);
      return out;
    }
  }
  Throw(102, 1, 15, "Incorrect syntax near '" + e.raw + "'.");
}

// True when `s` gives one row at most: no FROM, top (1), or an aggregate
// (count, max, ...) over ungrouped rows; and no union.
bool ExprCompiler::AtMostOneRow(const Select& s) {
  if (!s.unions.empty() || s.items.size() != 1) return false;
  if (s.from.empty()) return true;  // (select @x), (select 1 where ...)
  if (s.top && s.top->kind == ExprKind::kInteger && s.top->text == "1" && !s.top_percent &&
      !s.top_ties) {
    return true;
  }
  const Expr* item = s.items[0].expr.get();
  if (item == nullptr || !s.group_by.empty() || s.having || item->kind != ExprKind::kFunction ||
      item->over) {
    return false;
  }
  static constexpr const char* kAggregates[] = {"count", "count_big", "max", "min", "sum", "avg"};
  for (const char* a : kAggregates) {
    if (item->text == a) return true;
  }
  return false;
}

// A value (not a predicate).
Typed ExprCompiler::Value(const Expr& e, const Scope* scope, bool allow_aggregate) {
  Typed t = Compile(e, scope, allow_aggregate);
  if (t.predicate) {
    Throw(4145, 1, 15,
          "An expression of non-boolean type specified in a context where a condition is "
          "expected.");
  }
  return t;
}

// A condition (where, having, on, when).
Typed ExprCompiler::Condition(const Expr& e, const Scope* scope, bool allow_aggregate) {
  Typed t = Compile(e, scope, allow_aggregate);
  if (!t.predicate) {
    Throw(4145, 1, 15,
          "An expression of non-boolean type specified in a context where a condition is "
          "expected, near '" +
              (e.raw.empty() ? std::string(")") : e.raw) + "'.");
  }
  return t;
}

std::optional<int64_t> ExprCompiler::ConstantInteger(const Expr& e) {
  if (e.kind == ExprKind::kVariable && vars_.locals != nullptr) {
    auto it = vars_.locals->find(e.text);
    if (it == vars_.locals->end()) return std::nullopt;
    const LocalVariable& v = it->second;
    if (!IsIntegerType(v.type.id)) return std::nullopt;
    if (v.kind == SQLITE_INTEGER) return v.integer;
    return -1;  // NULL: refused like a negative count
  }
  if (e.kind == ExprKind::kInteger) {
    int64_t v = 0;
    auto r = std::from_chars(e.text.data(), e.text.data() + e.text.size(), v);
    if (r.ec == std::errc()) return v;
    return std::nullopt;
  }
  if (e.kind == ExprKind::kUnary && e.text == "-" && !e.args.empty()) {
    auto v = ConstantInteger(*e.args[0]);
    if (v) return -*v;
  }
  if (e.kind == ExprKind::kUnary && e.text == "+" && !e.args.empty()) {
    return ConstantInteger(*e.args[0]);
  }
  return std::nullopt;
}

Typed ExprCompiler::ResolveColumn(const Expr& e, const Scope* scope) {
  const std::string& name = e.names.back();
  std::string qualifier = e.names.size() >= 2 ? e.names[e.names.size() - 2] : "";
  for (const Scope* s = scope; s != nullptr; s = s->parent) {
    const SourceColumn* found = nullptr;
    const Source* found_src = nullptr;
    bool qualifier_seen = false;
    for (const Source& src : s->sources) {
      if (!qualifier.empty() && !EqualsIgnoreCase(src.exposed, qualifier)) continue;
      qualifier_seen = true;
      for (const SourceColumn& c : src.columns) {
        if (!EqualsIgnoreCase(c.name, name)) continue;
        if (found != nullptr) {
          Throw(209, 1, 16, "Ambiguous column name '" + name + "'.");
        }
        found = &c;
        found_src = &src;
      }
    }
    if (found != nullptr) {
      Typed t;
      t.sql = found->sql;
      t.t = found->type;
      t.column_name = found->name;
      t.table = found->table;
      t.identity = found->identity;
      t.rowid_sql = found->rowid_sql;
      if (s == scope) t.bare.emplace_back(found->sql, found_src->exposed + "." + found->name);
      return t;
    }
    if (!qualifier.empty() && qualifier_seen) break;
  }
  if (!qualifier.empty()) {
    bool known = false;
    for (const Scope* s = scope; s != nullptr; s = s->parent) {
      for (const Source& src : s->sources)
        known = known || EqualsIgnoreCase(src.exposed, qualifier);
    }
    if (!known) {
      std::string full;
      for (size_t i = 0; i < e.names.size(); ++i) full += (i ? "." : "") + e.names[i];
      Throw(4104, 1, 16, "The multi-part identifier \"" + full + "\" could not be bound.");
    }
  }
  Throw(207, 1, 16, "Invalid column name '" + name + "'.");
}

Typed ExprCompiler::IntegerLiteral(const std::string& digits) {
  Typed t;
  auto v = ParseScaled(digits, 0, false);
  if (!v) {
    Throw(1007, 1, 15,
          "The number '" + digits +
              "' is out of the range for numeric representation (maximum precision 38).");
  }
  if (*v <= 2147483647) {
    t.sql = std::to_string(static_cast<int64_t>(*v));
    t.t = Make(IntType(TypeId::kInt), false);
    t.literal_digits = DigitCount(*v);
    return t;
  }
  t.sql = QuoteText(FormatScaled(*v, 0));
  t.t = Make(DecimalType(DigitCount(*v), 0), false);
  return t;
}

Typed ExprCompiler::DecimalLiteral(const std::string& text) {
  size_t point = text.find('.');
  int scale = static_cast<int>(text.size() - point - 1);
  std::string integral = text.substr(0, point);
  size_t nz = integral.find_first_not_of('0');
  int int_digits = nz == std::string::npos ? 0 : static_cast<int>(integral.size() - nz);
  int precision = std::max(int_digits + scale, 1);
  if (precision > 38) {
    Throw(1007, 1, 15,
          "The number '" + text +
              "' is out of the range for numeric representation (maximum precision 38).");
  }
  auto v = ParseScaled(text, scale, false);
  if (!v)
    Throw(1007, 1, 15,
          "The number '" + text +
              "' is out of the range for numeric representation (maximum precision 38).");
  Typed t;
  t.sql = QuoteText(FormatScaled(*v, scale));
  t.t = Make(DecimalType(precision, scale), false);
  return t;
}

Typed ExprCompiler::Constant(std::string sql, ColumnType type, bool nullable) {
  Typed t;
  t.sql = std::move(sql);
  t.t = Make(type, nullable);
  return t;
}

Typed ExprCompiler::Variable(const Expr& e) {
  const std::string& n = e.text;
  if (n == "@@rowcount")
    return Constant(std::to_string(vars_.rowcount), IntType(TypeId::kInt), false);
  if (n == "@@trancount")
    return Constant(std::to_string(vars_.trancount), IntType(TypeId::kInt), false);
  if (n == "@@error") return Constant(std::to_string(vars_.error), IntType(TypeId::kInt), false);
  if (n == "@@spid") return Constant(std::to_string(vars_.spid), IntType(TypeId::kSmallInt), false);
  if (n == "@@textsize")
    return Constant(std::to_string(vars_.textsize), IntType(TypeId::kInt), false);
  if (n == "@@max_precision") return Constant("38", IntType(TypeId::kTinyInt), false);
  if (n == "@@datefirst") {
    return Constant(std::to_string(vars_.datefirst), IntType(TypeId::kTinyInt), false);
  }
  if (n == "@@nestlevel") {
    return Constant(std::to_string(vars_.nestlevel), IntType(TypeId::kInt), false);
  }
  if (n == "@@langid") return Constant("0", IntType(TypeId::kSmallInt), false);
  if (n == "@@options") return Constant("0", IntType(TypeId::kInt), false);
  if (n == "@@version") {
    return Constant(QuoteText(vars_.version), VarCharType(300, true), false);
  }
  if (n == "@@servername") {
    return Constant(QuoteText(vars_.server), VarCharType(128, true), true);
  }
  if (n == "@@language") return Constant("'us_english'", VarCharType(128, true), false);
  if (n == "@@identity") return Identity();
  if (vars_.locals != nullptr && n.rfind("@@", 0) != 0) {
    auto it = vars_.locals->find(n);
    if (it != vars_.locals->end()) {
      Typed t = Constant(VariableLiteral(it->second), it->second.type, true);
      // A value that SQLite must see with its storage class (an empty string
      // and a number alike) keeps it through CAST.
      return t;
    }
  }
  Throw(137, 2, 15, "Must declare the scalar variable \"" + n + "\".");
}

Typed ExprCompiler::Identity() {
  if (!vars_.identity) return Constant("NULL", DecimalType(38, 0), true);
  return Constant(QuoteText(std::to_string(*vars_.identity)), DecimalType(38, 0), true);
}

// The union of several typed values' flags.
Typed ExprCompiler::Combine(std::initializer_list<const Typed*> parts) {
  Typed out;
  out.t.nullable = false;
  for (const Typed* p : parts) {
    TakeFlags(&out, *p);
    out.t.nullable = out.t.nullable || p->t.nullable;
  }
  return out;
}

void ExprCompiler::TakeFlags(Typed* out, const Typed& part) {
  out->aggregate = out->aggregate || part.aggregate;
  out->bare.insert(out->bare.end(), part.bare.begin(), part.bare.end());
}

std::vector<Typed> ExprCompiler::Arguments(const Expr& e, const Scope* scope, bool allow_aggregate,
                                           Typed* out) {
  std::vector<Typed> args;
  for (const ExprPtr& a : e.args) {
    args.push_back(Value(*a, scope, allow_aggregate));
    TakeFlags(out, args.back());
  }
  return args;
}

ColumnType ExprCompiler::Unify(const Typed& a, const Typed& b) {
  if (a.t.null_literal) return b.t.type;
  if (b.t.null_literal) return a.t.type;
  return UnifyTypes(a.t.type, b.t.type);
}

// Converts a non-string value to varchar for string functions.
Typed ExprCompiler::AsString(const Typed& a) {
  if (IsCharType(a.t.type.id) || a.t.null_literal) return a;
  if (IsBinaryType(a.t.type.id))
    return Convert(a, VarCharType(std::max(a.t.type.length, 1), false));
  return Convert(a, VarCharType(IsDateType(a.t.type.id) ? 30 : 60, false));
}

Typed ExprCompiler::Case(const Expr& e, const Scope* scope, bool allow_aggregate) {
  size_t i = 0;
  std::optional<Typed> operand;
  if (e.case_has_operand) operand = Value(*e.args[i++], scope, allow_aggregate);
  size_t end = e.args.size() - (e.case_has_else ? 1 : 0);
  std::vector<Typed> conditions, results;
  for (; i + 1 < end + 1 && i < end; i += 2) {
    if (operand) {
      Typed w = Value(*e.args[i], scope, allow_aggregate);
      conditions.push_back(Comparison("=", *operand, w));
    } else {
      conditions.push_back(Condition(*e.args[i], scope, allow_aggregate));
    }
    results.push_back(Value(*e.args[i + 1], scope, allow_aggregate));
  }
  std::optional<Typed> otherwise;
  if (e.case_has_else) otherwise = Value(*e.args.back(), scope, allow_aggregate);
  // The result type: the highest precedence among the results.
  Typed typed;
  bool have = false;
  for (const Typed& r : results) {
    if (!have) {
      typed = r;
      have = true;
    } else {
      typed.t.type = Unify(typed, r);
      if (!r.t.null_literal) typed.t.null_literal = false;
    }
  }
  if (otherwise) {
    typed.t.type = Unify(typed, *otherwise);
    if (!otherwise->t.null_literal) typed.t.null_literal = false;
  }
  Typed out;
  out.t.type = typed.t.type;
  out.t.null_literal = false;
  out.t.nullable = !otherwise.has_value();
  std::string sql = "(CASE";
  for (size_t k = 0; k < conditions.size(); ++k) {
    Typed rc = Convert(results[k], out.t.type);
    sql += " WHEN " + conditions[k].sql + " THEN " + rc.sql;
    TakeFlags(&out, conditions[k]);
    TakeFlags(&out, results[k]);
    out.t.nullable = out.t.nullable || results[k].t.nullable;
  }
  if (otherwise) {
    sql += " ELSE " + Convert(*otherwise, out.t.type).sql;
    TakeFlags(&out, *otherwise);
    out.t.nullable = out.t.nullable || otherwise->t.nullable;
  }
  out.sql = sql + " END)";
  return out;
}

Typed ExprCompiler::In(const Expr& e, const Scope* scope, bool allow_aggregate) {
  Typed a = Value(*e.args[0], scope, allow_aggregate);
  if (e.subquery) {
    CoreSelectSql sub = OneColumnSubquery(*e.subquery, scope);
    Typed probe;
    probe.t = sub.columns[0];
    ColumnType u = Unify(a, probe);
    std::string inner = sub.sql;
    if (ExprCompiler::NeedsConversion(sub.columns[0].type, u, false)) {
      probe.sql = "s.\"_c1\"";
      inner = "SELECT " + Convert(probe, u).sql + " FROM (" + sub.sql + ") AS s";
    }
    Typed out = a;
    out.column_name.clear();
    out.sql =
        "(" + Collated(Convert(a, u).sql, u) + (e.negated ? " NOT IN (" : " IN (") + inner + "))";
    out.predicate = true;
    return out;
  }
  std::vector<Typed> list;
  ColumnType u = a.t.type;
  bool all_null = a.t.null_literal;
  for (size_t i = 1; i < e.args.size(); ++i) {
    list.push_back(Value(*e.args[i], scope, allow_aggregate));
    if (all_null) {
      u = list.back().t.type;
      all_null = list.back().t.null_literal;
    } else if (!list.back().t.null_literal) {
      u = UnifyTypes(u, list.back().t.type);
    }
  }
  Typed out = a;
  out.column_name.clear();
  std::string sql = "(" + Collated(Convert(a, u).sql, u) + (e.negated ? " NOT IN (" : " IN (");
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += Convert(list[i], u).sql;
    TakeFlags(&out, list[i]);
  }
  out.sql = sql + "))";
  out.predicate = true;
  return out;
}

}  // namespace tdslite::sql::compiler_detail

namespace tdslite::sql {

std::string VariableLiteral(const LocalVariable& v) {
  switch (v.kind) {
    case SQLITE_INTEGER:
      return std::to_string(v.integer);
    case SQLITE_FLOAT: {
      if (!std::isfinite(v.real)) return "NULL";
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17e", v.real);
      return buf;
    }
    case SQLITE_TEXT:
      return QuoteText(v.bytes);
    case SQLITE_BLOB:
      return QuoteBlob(v.bytes);
    default:
      return "NULL";
  }
}

}  // namespace tdslite::sql
