#include "compile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

#include "lexer.h"
#include "parser.h"
#include "values.h"

namespace tdslite::sql {

std::string QuoteText(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) {
    return "CAST(" + QuoteBlob(text) + " AS TEXT)";
  }
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

std::string QuoteBlob(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "X'";
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  out += '\'';
  return out;
}

namespace {

struct Failure {
  CompileError error;
};

Message Msg(int number, int state, int severity, std::string text) {
  Message m;
  m.number = number;
  m.state = static_cast<uint8_t>(state);
  m.severity = static_cast<uint8_t>(severity);
  m.text = std::move(text);
  return m;
}

[[noreturn]] void Throw(int number, int state, int severity, std::string text,
                        bool abort_batch = true) {
  throw Failure{CompileError{Msg(number, state, severity, std::move(text)), abort_batch}};
}

[[noreturn]] void NotSupported(const std::string& what) {
  Throw(kNotSupportedNumber, 1, 16, what + " is not supported by tdslite.");
}

// A typed SQLite expression.
struct Typed {
  std::string sql;
  ExprType t;
  bool predicate = false;
  bool aggregate = false;  // contains an aggregate function
  // Columns referenced outside aggregates: (sql, display name).
  std::vector<std::pair<std::string, std::string>> bare;
  // Set for a plain column reference.
  std::string column_name;
  std::string table;
  bool identity = false;
  // An integer literal: SQL Server types it as decimal(digits, 0), not as
  // int's decimal(10, 0), when it meets a decimal in arithmetic.
  int literal_digits = 0;
  // A text/ntext/image column of a base table: the row's rowid, for the
  // value's text pointer.
  std::string rowid_sql;
};

struct SourceColumn {
  std::string name;
  ExprType type;
  std::string sql;
  bool identity = false;
  std::string table;      // base table name, for text pointers
  std::string rowid_sql;  // base tables only
};

struct Source {
  std::string exposed;  // alias, or the table name
  std::string table;    // base table name; empty for derived tables
  std::string sql_alias;
  std::vector<SourceColumn> columns;
};

struct Scope {
  std::vector<Source> sources;
  const Scope* parent = nullptr;
};

struct CoreResult {
  std::vector<Typed> items;
  std::vector<std::string> names;
  std::vector<bool> named;
  std::string from_and_rest;  // " FROM ... WHERE ... GROUP BY ... HAVING ..."
  bool distinct = false;
  Scope scope;
  bool grouped = false;
  std::vector<std::string> group_sqls;
};

ExprType Make(ColumnType type, bool nullable) {
  ExprType t;
  t.type = type;
  t.nullable = nullable;
  return t;
}

class ExprCompiler {
 public:
  ExprCompiler(sqlite3* db, const SessionVars& vars, int* alias_counter)
      : db_(db), vars_(vars), alias_counter_(alias_counter) {}

  // ---- conversion ----------------------------------------------------------

  // Converts `e` to `to`. `assign`: the value goes into a column.
  Typed Convert(const Typed& e, const ColumnType& to, bool assign = false, int style = -1) {
    Typed out = e;
    out.column_name.clear();
    out.identity = false;
    out.rowid_sql.clear();
    out.t.type = to;
    out.t.null_literal = false;
    if (e.t.null_literal) {
      out.sql = "NULL";
      return out;
    }
    const ColumnType& from = e.t.type;
    if (!NeedsConversion(from, to, assign) && style < 0) return out;
    CheckConvertible(from, to);
    out.sql = "tds_cvt(" + e.sql + "," + std::to_string(PackType(from)) + "," +
              std::to_string(PackType(to)) + "," + (style < 0 ? "NULL" : std::to_string(style)) +
              "," + (assign ? "1" : "0") + ")";
    return out;
  }

  static bool NeedsConversion(const ColumnType& from, const ColumnType& to, bool assign) {
    Storage sf = StorageOf(from.id), st = StorageOf(to.id);
    if (sf != st) return true;
    switch (st) {
      case Storage::kInteger:
        // Widening is free; narrowing needs a range check; bit needs 0/1.
        if (to.id == TypeId::kBit) return from.id != TypeId::kBit;
        return Precedence(to.id) < Precedence(from.id);
      case Storage::kMoney:
        return to.id == TypeId::kSmallMoney && from.id == TypeId::kMoney;
      case Storage::kReal:
        return to.id == TypeId::kReal && from.id == TypeId::kFloat;
      case Storage::kDecimalText:
        return !(from.scale == to.scale && from.precision <= to.precision);
      case Storage::kDateTicks:
        return to.id == TypeId::kSmallDateTime && from.id == TypeId::kDateTime;
      case Storage::kText:
        if (IsUnicodeType(from.id) != IsUnicodeType(to.id) && !IsUnicodeType(to.id)) {
          // nvarchar -> varchar: SQLite keeps the UTF-8 text as it is.
        }
        if (IsLobType(to.id)) return false;
        if (to.id == TypeId::kChar || to.id == TypeId::kNChar) {
          return !((from.id == TypeId::kChar || from.id == TypeId::kNChar) &&
                   from.length == to.length);
        }
        if (IsLobType(from.id)) return true;
        (void)assign;
        return from.length > to.length;
      case Storage::kBlob:
        if (IsLobType(to.id)) return false;
        if (to.id == TypeId::kBinary)
          return !(from.id == TypeId::kBinary && from.length == to.length);
        if (IsLobType(from.id)) return true;
        return from.length > to.length;
    }
    return true;
  }

  static void CheckConvertible(const ColumnType& from, const ColumnType& to) {
    auto refuse = [&]() {
      Throw(529, 2, 16,
            "Explicit conversion from data type " + TypeName(from.id) + " to " + TypeName(to.id) +
                " is not allowed.");
    };
    if (IsLobType(from.id) && !IsCharType(to.id) && !IsBinaryType(to.id)) refuse();
    if (from.id == TypeId::kImage && IsCharType(to.id) && IsLobType(to.id)) refuse();
    if (IsLobType(to.id) && !IsCharType(from.id) && !IsBinaryType(from.id)) refuse();
    if (IsBinaryType(from.id) && (IsFloatType(to.id) || IsDecimalType(to.id))) refuse();
    if (IsFloatType(from.id) && IsBinaryType(to.id)) refuse();
    if (IsDateType(from.id) && IsBinaryType(to.id)) return;
  }

  // Adds the collation a comparison of this type needs.
  static std::string Collated(const std::string& sql, const ColumnType& t) {
    switch (StorageOf(t.id)) {
      case Storage::kText:
        return "(" + sql + " COLLATE TDSCI)";
      case Storage::kDecimalText:
        return "(" + sql + " COLLATE TDSDEC)";
      default:
        return sql;
    }
  }

  // ---- expressions -----------------------------------------------------------

  // Expression trees deeper than this, or whose compilation would use more
  // stack than this, are refused as SQL Server refuses them: the recursion
  // below must stay within the connection thread's stack (whose frames are
  // far larger in a sanitizer build). A chain of binary operators is parsed
  // without recursion but compiled with it, so its length counts here.
  static constexpr int kMaxExpressionDepth = 1000;
  static constexpr uintptr_t kMaxStackBytes = 3u << 20;
  int depth_ = 0;
  uintptr_t stack_start_ = 0;

  struct DepthGuard {
    ExprCompiler* c;
    explicit DepthGuard(ExprCompiler* compiler) : c(compiler) {
      char marker = 0;
      const auto here = reinterpret_cast<uintptr_t>(&marker);
      if (c->depth_++ == 0) c->stack_start_ = here;
      const uintptr_t used = c->stack_start_ > here ? c->stack_start_ - here : 0;
      if (c->depth_ > kMaxExpressionDepth || used > kMaxStackBytes) {
        --c->depth_;
        Throw(191, 1, 15,
              "Some part of your SQL statement is nested too deeply. Rewrite the query or "
              "break it up into smaller queries.");
      }
    }
    ~DepthGuard() { --c->depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
  };

  Typed Compile(const Expr& e, const Scope* scope, bool allow_aggregate) {
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
        int64_t chars = Utf8Length(e.text);
        Typed t;
        t.sql = QuoteText(e.text);
        ColumnType type;
        if (chars > (unicode ? 4000 : 8000)) {
          type.id = unicode ? TypeId::kNText : TypeId::kText;
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
        Typed arg = Value(*e.args[0], scope, allow_aggregate);
        int style = -1;
        if (e.args.size() > 1) {
          Typed s = Value(*e.args[1], scope, false);
          std::optional<int64_t> v = ConstantInteger(*e.args[1]);
          if (!v) NotSupported("A CONVERT style that is not a constant");
          style = static_cast<int>(*v);
          (void)s;
        }
        if (style >= 0 && !IsDateType(arg.t.type.id)) style = -1;
        if (style >= 0 && !IsCharType(e.cast_type.id)) style = -1;
        if (IsDateType(arg.t.type.id) && IsCharType(e.cast_type.id) && e.args.size() > 1 &&
            style < 0) {
          // A negative style is refused like any other invalid one.
          auto v = ConstantInteger(*e.args[1]);
          Throw(281, 1, 16,
                std::to_string(v ? *v : -1) + " is not a valid style number when converting from " +
                    TypeName(arg.t.type.id) + " to a character string.");
        }
        if (IsDateType(arg.t.type.id) && IsCharType(e.cast_type.id) && style >= 0 &&
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
        CoreSelectSql sub = Subquery(*e.subquery, scope);
        if (sub.columns.size() != 1) {
          Throw(116, 1, 16,
                "Only one expression can be specified in the select list when the subquery is "
                "not introduced with EXISTS.");
        }
        Typed out;
        out.sql = "(" + sub.sql + ")";
        out.t = Make(sub.columns[0].type, true);
        return out;
      }
    }
    Throw(102, 1, 15, "Incorrect syntax near '" + e.raw + "'.");
  }

  // A value (not a predicate).
  Typed Value(const Expr& e, const Scope* scope, bool allow_aggregate) {
    Typed t = Compile(e, scope, allow_aggregate);
    if (t.predicate) {
      Throw(4145, 1, 15,
            "An expression of non-boolean type specified in a context where a condition is "
            "expected.");
    }
    return t;
  }

  // A condition (where, having, on, when).
  Typed Condition(const Expr& e, const Scope* scope, bool allow_aggregate) {
    Typed t = Compile(e, scope, allow_aggregate);
    if (!t.predicate) {
      Throw(4145, 1, 15,
            "An expression of non-boolean type specified in a context where a condition is "
            "expected, near '" +
                (e.raw.empty() ? std::string(")") : e.raw) + "'.");
    }
    return t;
  }

  std::optional<int64_t> ConstantInteger(const Expr& e) {
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

  struct CoreSelectSql {
    std::string sql;
    std::vector<ExprType> columns;
    std::vector<ColumnDesc> descs;
    std::vector<int> rowid_columns;  // per column: hidden rowid column, or -1
    std::vector<std::string> source_columns;
    std::vector<bool> streamed;
  };

  // Compiles a full select (with unions and order by); `parent` gives
  // correlated subqueries their outer columns.
  CoreSelectSql Subquery(const Select& s, const Scope* parent) {
    NoOrderBy(s);
    return SelectSql(s, parent, -1);
  }

  static void NoOrderBy(const Select& s) {
    if (!s.order_by.empty() && !s.top) {
      Throw(1033, 1, 15,
            "The ORDER BY clause is invalid in views, inline functions, derived tables, "
            "subqueries, and common table expressions, unless TOP, OFFSET or FOR XML is also "
            "specified.");
    }
  }

  // Set for the outermost select of a query whose rows go to a client: only
  // there may image values be left in their rows to be read in pieces.
  bool stream_images_ = false;

  CoreSelectSql SelectSql(const Select& s, const Scope* parent, int64_t extra_limit) {
    const bool stream_images = stream_images_;
    stream_images_ = false;
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
        if (i < streamed.size() && streamed[i]) item = "length(" + item + ")";
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
        streamed[i] =
            stream_images && item.t.type.id == TypeId::kImage && !item.column_name.empty();
      }
    }
    std::string sql = emit_core(first, is_union, hidden, streamed);
    for (size_t k = 0; k < rest.size(); ++k) {
      sql += s.unions[k].first ? " UNION ALL " : " UNION ";
      sql += emit_core(rest[k], true, "", {});
    }
    // ORDER BY: output names and positions, or (single selects) expressions.
    if (!s.order_by.empty()) {
      std::string order;
      for (const OrderItem& item : s.order_by) {
        if (!order.empty()) order += ", ";
        order += OrderTerm(item, first, types, is_union) + (item.descending ? " DESC" : "");
      }
      sql += " ORDER BY " + order;
    }
    // TOP
    int64_t limit = -1;
    if (s.top) {
      auto v = ConstantInteger(*s.top);
      if (!v) {
        if (s.top->kind == ExprKind::kDecimal || s.top->kind == ExprKind::kFloat) {
          Throw(1060, 1, 15,
                "The number of rows provided for a TOP or FETCH clauses row count parameter must "
                "be an integer.");
        }
        NotSupported("TOP with an expression");
      }
      if (*v < 0) {
        Throw(1060, 1, 15,
              "The number of rows provided for a TOP or FETCH clauses row count parameter must be "
              "an integer.");
      }
      limit = *v;
    }
    if (extra_limit >= 0 && (limit < 0 || extra_limit < limit)) limit = extra_limit;
    if (limit >= 0) {
      if (is_union) {
        // TOP applies to the first select of a union in T-SQL.
        NotSupported("TOP in a UNION");
      }
      sql += " LIMIT " + std::to_string(limit);
    }
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
    return out;
  }

  std::string OrderTerm(const OrderItem& item, const CoreResult& core,
                        const std::vector<ExprType>& types, bool is_union) {
    std::string term = OrderTermSql(item, core, types, is_union);
    if (order_type_is_lob_) {
      Throw(306, 2, 16,
            "The text, ntext, and image data types cannot be compared or sorted, except when "
            "using IS NULL or LIKE operator.");
    }
    return term;
  }

  std::string OrderTermSql(const OrderItem& item, const CoreResult& core,
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
        if (core.named[i] && EqualsNoCase(core.names[i], e.names[0])) {
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

  void CheckGrouped(const Typed& t, const std::vector<std::string>& groups, int number,
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
  CoreResult Core(const Select& s, const Scope* parent) {
    CoreResult r;
    r.scope.parent = parent;
    r.distinct = s.distinct;
    std::string from;
    for (size_t i = 0; i < s.from.size(); ++i) {
      if (i > 0) from += ", ";
      from += TableRefSql(*s.from[i], &r.scope);
    }
    // Select list
    for (const SelectItem& item : s.items) {
      if (item.expr->kind == ExprKind::kStar) {
        ExpandStar(*item.expr, r);
        continue;
      }
      Typed t = Value(*item.expr, &r.scope, true);
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
    if (r.items.empty()) Throw(102, 1, 15, "Incorrect syntax near 'from'.");
    return r;
  }

  void ExpandStar(const Expr& star, CoreResult& r) {
    bool any = false;
    for (const Source& src : r.scope.sources) {
      if (!star.names.empty() && !EqualsNoCase(src.exposed, star.names[0])) continue;
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

  std::string NextAlias() { return "t" + std::to_string((*alias_counter_)++); }

  void AddSource(Scope* scope, Source src) {
    for (const Source& s : scope->sources) {
      if (EqualsNoCase(s.exposed, src.exposed)) {
        Throw(1013, 1, 16,
              "The objects \"" + s.exposed + "\" and \"" + src.exposed +
                  "\" in the FROM clause have the same exposed names. Use correlation names to "
                  "distinguish them.");
      }
    }
    scope->sources.push_back(std::move(src));
  }

  // Emits a FROM item and adds its sources to the scope.
  std::string TableRefSql(const TableRef& ref, Scope* scope) {
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
    Source src;
    src.sql_alias = NextAlias();
    if (ref.subquery) {
      NoOrderBy(*ref.subquery);
      CoreSelectSql sub = SelectSql(*ref.subquery, nullptr, -1);
      src.exposed = ref.alias;
      for (size_t i = 0; i < sub.descs.size(); ++i) {
        if (sub.descs[i].name.empty()) {
          Throw(8155, 2, 16,
                "No column name was specified for column " + std::to_string(i + 1) + " of '" +
                    ref.alias + "'.");
        }
        SourceColumn c;
        c.name = sub.descs[i].name;
        c.type = sub.columns[i];
        c.sql = src.sql_alias + ".\"_c" + std::to_string(i + 1) + "\"";
        src.columns.push_back(c);
      }
      std::string sql = "(" + sub.sql + ") AS " + src.sql_alias;
      AddSource(scope, std::move(src));
      return sql;
    }
    auto table = LookupTable(db_, ref.name);
    if (!table) Throw(208, 1, 16, "Invalid object name '" + ref.name + "'.");
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

  Typed ResolveColumn(const Expr& e, const Scope* scope) {
    const std::string& name = e.names.back();
    std::string qualifier = e.names.size() >= 2 ? e.names[e.names.size() - 2] : "";
    for (const Scope* s = scope; s != nullptr; s = s->parent) {
      const SourceColumn* found = nullptr;
      const Source* found_src = nullptr;
      bool qualifier_seen = false;
      for (const Source& src : s->sources) {
        if (!qualifier.empty() && !EqualsNoCase(src.exposed, qualifier)) continue;
        qualifier_seen = true;
        for (const SourceColumn& c : src.columns) {
          if (!EqualsNoCase(c.name, name)) continue;
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
        for (const Source& src : s->sources) known = known || EqualsNoCase(src.exposed, qualifier);
      }
      if (!known) {
        std::string full;
        for (size_t i = 0; i < e.names.size(); ++i) full += (i ? "." : "") + e.names[i];
        Throw(4104, 1, 16, "The multi-part identifier \"" + full + "\" could not be bound.");
      }
    }
    Throw(207, 1, 16, "Invalid column name '" + name + "'.");
  }

  Typed IntegerLiteral(const std::string& digits) {
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

  Typed DecimalLiteral(const std::string& text) {
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

  static Typed Constant(std::string sql, ColumnType type, bool nullable) {
    Typed t;
    t.sql = std::move(sql);
    t.t = Make(type, nullable);
    return t;
  }

  Typed Variable(const Expr& e) {
    const std::string& n = e.text;
    if (n == "@@rowcount")
      return Constant(std::to_string(vars_.rowcount), IntType(TypeId::kInt), false);
    if (n == "@@trancount")
      return Constant(std::to_string(vars_.trancount), IntType(TypeId::kInt), false);
    if (n == "@@error") return Constant(std::to_string(vars_.error), IntType(TypeId::kInt), false);
    if (n == "@@spid")
      return Constant(std::to_string(vars_.spid), IntType(TypeId::kSmallInt), false);
    if (n == "@@textsize")
      return Constant(std::to_string(vars_.textsize), IntType(TypeId::kInt), false);
    if (n == "@@max_precision") return Constant("38", IntType(TypeId::kTinyInt), false);
    if (n == "@@datefirst") return Constant("7", IntType(TypeId::kTinyInt), false);
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
    Throw(137, 2, 15, "Must declare the scalar variable \"" + n + "\".");
  }

  Typed Identity() {
    if (!vars_.identity) return Constant("NULL", DecimalType(38, 0), true);
    return Constant(QuoteText(std::to_string(*vars_.identity)), DecimalType(38, 0), true);
  }

  // The union of several typed values' flags.
  static Typed Combine(std::initializer_list<const Typed*> parts) {
    Typed out;
    for (const Typed* p : parts) {
      out.aggregate = out.aggregate || p->aggregate;
      out.bare.insert(out.bare.end(), p->bare.begin(), p->bare.end());
      out.t.nullable = out.t.nullable || p->t.nullable;
    }
    out.t.nullable = false;
    for (const Typed* p : parts) out.t.nullable = out.t.nullable || p->t.nullable;
    return out;
  }

  static ColumnType Unify(const Typed& a, const Typed& b) {
    if (a.t.null_literal) return b.t.type;
    if (b.t.null_literal) return a.t.type;
    return UnifyTypes(a.t.type, b.t.type);
  }

  // Converts a non-string value to varchar for string functions.
  Typed AsString(const Typed& a) {
    if (IsCharType(a.t.type.id) || a.t.null_literal) return a;
    if (IsBinaryType(a.t.type.id))
      return Convert(a, VarCharType(std::max(a.t.type.length, 1), false));
    return Convert(a, VarCharType(IsDateType(a.t.type.id) ? 30 : 60, false));
  }

  Typed Unary(const Expr& e, const Scope* scope, bool allow_aggregate) {
    if (e.text == "not") {
      Typed a = Condition(*e.args[0], scope, allow_aggregate);
      a.sql = "(NOT " + a.sql + ")";
      return a;
    }
    Typed a = Value(*e.args[0], scope, allow_aggregate);
    a.column_name.clear();
    a.identity = false;
    if (e.text == "+") return a;
    if (a.t.null_literal) return a;
    if (IsCharType(a.t.type.id) || IsBinaryType(a.t.type.id) || IsDateType(a.t.type.id)) {
      Throw(8117, 1, 16,
            "Operand data type " + TypeName(a.t.type.id) + " is invalid for " +
                (e.text == "~" ? "~" : "minus") + " operator.");
    }
    if (e.text == "~") {
      if (!IsIntegerType(a.t.type.id)) {
        Throw(8117, 1, 16,
              "Operand data type " + TypeName(a.t.type.id) + " is invalid for ~ operator.");
      }
      if (a.t.type.id == TypeId::kBit) {
        a.sql = "(1 - " + a.sql + ")";
      } else if (a.t.type.id == TypeId::kTinyInt) {
        a.sql = "(255 - " + a.sql + ")";
      } else {
        a.sql = "(~" + a.sql + ")";
      }
      return a;
    }
    // Unary minus of a decimal literal keeps its type; of bit it is an int.
    if (a.t.type.id == TypeId::kBit || a.t.type.id == TypeId::kTinyInt) {
      a = Convert(a, IntType(TypeId::kInt));
    }
    a.sql = "tds_neg(" + a.sql + "," + std::to_string(PackType(a.t.type)) + ")";
    return a;
  }

  Typed Comparison(const std::string& op, const Typed& a, const Typed& b) {
    if (IsLobType(a.t.type.id) || IsLobType(b.t.type.id)) {
      Throw(402, 1, 16,
            "The data types " + TypeName(a.t.type.id) + " and " + TypeName(b.t.type.id) +
                " are incompatible in the " + OperatorName(op) + " operator.");
    }
    ColumnType u = Unify(a, b);
    Typed out = Combine({&a, &b});
    out.sql = "(" + Collated(Convert(a, u).sql, u) + " " + op + " " + Convert(b, u).sql + ")";
    out.predicate = true;
    return out;
  }

  static std::string OperatorName(const std::string& op) {
    if (op == "=") return "equal to";
    if (op == "<>") return "not equal to";
    if (op == "<") return "less than";
    if (op == ">") return "greater than";
    if (op == "<=") return "less than or equal to";
    if (op == ">=") return "greater than or equal to";
    if (op == "+") return "add";
    if (op == "-") return "subtract";
    if (op == "*") return "multiply";
    if (op == "/") return "divide";
    if (op == "%") return "modulo";
    return op;
  }

  Typed BinaryOp(const Expr& e, const Scope* scope, bool allow_aggregate) {
    const std::string& op = e.text;
    if (op == "and" || op == "or") {
      Typed a = Condition(*e.args[0], scope, allow_aggregate);
      Typed b = Condition(*e.args[1], scope, allow_aggregate);
      Typed out = Combine({&a, &b});
      out.sql = "(" + a.sql + (op == "and" ? " AND " : " OR ") + b.sql + ")";
      out.predicate = true;
      return out;
    }
    Typed a = Value(*e.args[0], scope, allow_aggregate);
    Typed b = Value(*e.args[1], scope, allow_aggregate);
    if (op == "=" || op == "<>" || op == "<" || op == ">" || op == "<=" || op == ">=") {
      return Comparison(op, a, b);
    }
    return Arithmetic(op, a, b);
  }

  Typed Arithmetic(const std::string& op, Typed a, Typed b) {
    Typed out = Combine({&a, &b});
    // An untyped NULL takes the other operand's type.
    if (a.t.null_literal && !b.t.null_literal) a.t.type = b.t.type;
    if (b.t.null_literal && !a.t.null_literal) b.t.type = a.t.type;
    const ColumnType ta = a.t.type, tb = b.t.type;
    auto incompatible = [&]() {
      Throw(402, 1, 16,
            "The data types " + TypeName(ta.id) + " and " + TypeName(tb.id) +
                " are incompatible in the " + OperatorName(op) + " operator.");
    };
    if (IsLobType(ta.id) || IsLobType(tb.id)) incompatible();
    const bool sa = IsCharType(ta.id), sb = IsCharType(tb.id);
    if (op == "+" && sa && sb) {
      bool unicode = IsUnicodeType(ta.id) || IsUnicodeType(tb.id);
      int limit = unicode ? 4000 : 8000;
      out.t.type = VarCharType(std::min(ta.length + tb.length, limit), unicode);
      out.sql = "(" + a.sql + " || " + b.sql + ")";
      return out;
    }
    if (op == "+" && IsBinaryType(ta.id) && IsBinaryType(tb.id)) {
      ColumnType t;
      t.id = TypeId::kVarBinary;
      t.length = std::min(ta.length + tb.length, 8000);
      out.t.type = t;
      out.sql = "CAST((" + a.sql + " || " + b.sql + ") AS BLOB)";
      return out;
    }
    if (sa && sb) {
      Throw(8117, 1, 16,
            "Operand data type " + TypeName(ta.id) + " is invalid for " + OperatorName(op) +
                " operator.");
    }
    if (IsBinaryType(ta.id) || IsBinaryType(tb.id)) {
      NotSupported("Arithmetic on binary values");
    }
    // Strings take the other operand's type.
    if (sa) a = Convert(a, tb);
    if (sb) b = Convert(b, ta);
    ColumnType na = a.t.type, nb = b.t.type;
    if (IsDateType(na.id) || IsDateType(nb.id)) {
      if (op != "+" && op != "-") incompatible();
      if (IsDateType(na.id) && IsDateType(nb.id)) {
        out.t.type = IntType(TypeId::kDateTime);
        out.sql = "(" + a.sql + " " + op + " " + b.sql + ")";
        return out;
      }
      if (IsDateType(nb.id) && op == "-") incompatible();
      const Typed& date = IsDateType(na.id) ? a : b;
      const Typed& num = IsDateType(na.id) ? b : a;
      Typed days = Convert(num, IntType(TypeId::kFloat));
      out.t.type = date.t.type;
      out.sql = "tds_cvt((" + date.sql + " " + op + " CAST(round(" + days.sql + " * " +
                std::to_string(kTicksPerDay) + ") AS INTEGER)), " +
                std::to_string(PackType(IntType(TypeId::kDateTime))) + "," +
                std::to_string(PackType(date.t.type)) + ",NULL,0)";
      return out;
    }
    if (op == "&" || op == "|" || op == "^") {
      if (!IsIntegerType(na.id) || !IsIntegerType(nb.id)) {
        Throw(402, 1, 16,
              "The data types " + TypeName(na.id) + " and " + TypeName(nb.id) +
                  " are incompatible in the boolean " +
                  (op == "&"   ? "AND"
                   : op == "|" ? "OR"
                               : "XOR") +
                  " operator.");
      }
      ColumnType t = Precedence(na.id) >= Precedence(nb.id) ? na : nb;
      out.t.type = t;
      out.sql =
          "tds_op('" + op + "'," + a.sql + "," + b.sql + "," + std::to_string(PackType(t)) + ")";
      return out;
    }
    if (IsDecimalType(na.id) || IsDecimalType(nb.id)) {
      if (a.literal_digits > 0) na = DecimalType(a.literal_digits, 0);
      if (b.literal_digits > 0) nb = DecimalType(b.literal_digits, 0);
    }
    ColumnType result = ArithmeticType(op[0], na, nb);
    if (op == "%" && IsFloatType(result.id)) NotSupported("The modulo of float values");
    Typed ca, cb;
    switch (StorageOf(result.id)) {
      case Storage::kDecimalText:
        // Each operand keeps its own scale; the function rescales exactly.
        ca = Convert(a, AsDecimal(na));
        cb = Convert(b, AsDecimal(nb));
        break;
      default:
        ca = Convert(a, result);
        cb = Convert(b, result);
        break;
    }
    out.t.type = result;
    out.sql = "tds_op('" + op + "'," + ca.sql + "," + cb.sql + "," +
              std::to_string(PackType(result)) + ")";
    return out;
  }

  Typed Case(const Expr& e, const Scope* scope, bool allow_aggregate) {
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
      out.aggregate = out.aggregate || conditions[k].aggregate || results[k].aggregate;
      out.t.nullable = out.t.nullable || results[k].t.nullable;
      out.bare.insert(out.bare.end(), conditions[k].bare.begin(), conditions[k].bare.end());
      out.bare.insert(out.bare.end(), results[k].bare.begin(), results[k].bare.end());
    }
    if (otherwise) {
      sql += " ELSE " + Convert(*otherwise, out.t.type).sql;
      out.aggregate = out.aggregate || otherwise->aggregate;
      out.t.nullable = out.t.nullable || otherwise->t.nullable;
      out.bare.insert(out.bare.end(), otherwise->bare.begin(), otherwise->bare.end());
    }
    out.sql = sql + " END)";
    return out;
  }

  Typed In(const Expr& e, const Scope* scope, bool allow_aggregate) {
    Typed a = Value(*e.args[0], scope, allow_aggregate);
    if (e.subquery) {
      CoreSelectSql sub = Subquery(*e.subquery, scope);
      if (sub.columns.size() != 1) {
        Throw(116, 1, 16,
              "Only one expression can be specified in the select list when the subquery is not "
              "introduced with EXISTS.");
      }
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
      out.aggregate = out.aggregate || list[i].aggregate;
      out.bare.insert(out.bare.end(), list[i].bare.begin(), list[i].bare.end());
    }
    out.sql = sql + "))";
    out.predicate = true;
    return out;
  }

  void ArgCount(const Expr& e, size_t min, size_t max) {
    if (e.args.size() < min || e.args.size() > max) {
      Throw(174, 1, 15,
            "The " + e.text + " function requires " +
                (min == max ? std::to_string(min)
                            : std::to_string(min) + " to " + std::to_string(max)) +
                " argument(s).");
    }
  }

  Typed Function(const Expr& e, const Scope* scope, bool allow_aggregate) {
    const std::string& f = e.text;
    if (f == "count" || f == "sum" || f == "avg" || f == "min" || f == "max") {
      return Aggregate(e, scope, allow_aggregate);
    }
    if (f == "getdate") {
      ArgCount(e, 0, 0);
      return Constant("tds_getdate()", IntType(TypeId::kDateTime), false);
    }
    if (f == "db_name") {
      ArgCount(e, 0, 1);
      if (!e.args.empty()) NotSupported("db_name() with an argument");
      return Constant(QuoteText(vars_.database), VarCharType(128, true), true);
    }
    if (f == "suser_sname" || f == "system_user" || f == "suser_name") {
      ArgCount(e, 0, 0);
      return Constant(QuoteText(vars_.login), VarCharType(128, true), true);
    }
    if (f == "user_name" || f == "user" || f == "current_user" || f == "session_user") {
      ArgCount(e, 0, 0);
      return Constant("'dbo'", VarCharType(128, true), true);
    }
    if (f == "host_name") {
      ArgCount(e, 0, 0);
      return Constant(QuoteText(vars_.host), VarCharType(128, true), true);
    }
    if (f == "app_name") {
      ArgCount(e, 0, 0);
      return Constant(QuoteText(vars_.app), VarCharType(128, true), true);
    }
    if (f == "scope_identity") {
      ArgCount(e, 0, 0);
      return Identity();
    }
    std::vector<Typed> args;
    for (const ExprPtr& a : e.args) args.push_back(Value(*a, scope, allow_aggregate));
    Typed out;
    for (const Typed& a : args) {
      out.aggregate = out.aggregate || a.aggregate;
      out.bare.insert(out.bare.end(), a.bare.begin(), a.bare.end());
      out.t.nullable = out.t.nullable || a.t.nullable;
    }
    out.t.nullable = false;
    for (const Typed& a : args) out.t.nullable = out.t.nullable || a.t.nullable;
    auto packed = [](const ColumnType& t) { return std::to_string(PackType(t)); };
    auto int_arg = [&](size_t i) { return Convert(args[i], IntType(TypeId::kBigInt)).sql; };
    auto no_lob = [&](size_t i) {
      if (IsLobType(args[i].t.type.id)) {
        Throw(8116, 1, 16,
              "Argument data type " + TypeName(args[i].t.type.id) + " is invalid for argument " +
                  std::to_string(i + 1) + " of " + f + " function.");
      }
    };
    auto string_result = [&](const Typed& s) {
      // char(n) results come back as varchar(n).
      ColumnType t = s.t.type;
      if (t.id == TypeId::kChar) t.id = TypeId::kVarChar;
      if (t.id == TypeId::kNChar) t.id = TypeId::kNVarChar;
      return t;
    };
    if (f == "isnull") {
      ArgCount(e, 2, 2);
      ColumnType t = args[0].t.null_literal ? args[1].t.type : args[0].t.type;
      out.t.type = t;
      out.t.nullable = args[0].t.nullable && args[1].t.nullable;
      out.sql = "coalesce(" + args[0].sql + "," + Convert(args[1], t).sql + ")";
      if (args[0].t.null_literal) out.sql = Convert(args[1], t).sql;
      return out;
    }
    if (f == "coalesce") {
      if (args.size() < 2)
        Throw(189, 1, 15, "The coalesce function requires 2 to 2147483647 arguments.");
      Typed acc = args[0];
      bool nullable = true;
      for (size_t i = 1; i < args.size(); ++i)
        acc.t.type = Unify(acc, args[i]),
        acc.t.null_literal = acc.t.null_literal && args[i].t.null_literal;
      for (const Typed& a : args) nullable = nullable && a.t.nullable;
      out.t.type = acc.t.type;
      out.t.nullable = nullable;
      out.sql = "coalesce(";
      for (size_t i = 0; i < args.size(); ++i) {
        out.sql += (i ? "," : "") + Convert(args[i], acc.t.type).sql;
      }
      out.sql += ")";
      return out;
    }
    if (f == "nullif") {
      ArgCount(e, 2, 2);
      ColumnType u = Unify(args[0], args[1]);
      out.t.type = args[0].t.type;
      out.t.nullable = true;
      out.sql = "(CASE WHEN " + Collated(Convert(args[0], u).sql, u) + " = " +
                Convert(args[1], u).sql + " THEN NULL ELSE " + args[0].sql + " END)";
      return out;
    }
    if (f == "len") {
      ArgCount(e, 1, 1);
      no_lob(0);
      out.t.type = IntType(TypeId::kInt);
      if (IsBinaryType(args[0].t.type.id)) {
        out.sql = "length(" + args[0].sql + ")";
      } else {
        out.sql = "length(rtrim(" + AsString(args[0]).sql + ", ' '))";
      }
      return out;
    }
    if (f == "textptr") {
      ArgCount(e, 1, 1);
      out.t.type = ColumnType{.id = TypeId::kVarBinary, .length = 16, .precision = 0, .scale = 0};
      out.t.nullable = true;
      const Typed& a = args[0];
      if (!IsLobType(a.t.type.id)) {
        Throw(8116, 1, 16,
              "Argument data type " + TypeName(a.t.type.id) +
                  " is invalid for argument 1 of textptr function.");
      }
      if (a.rowid_sql.empty() || a.column_name.empty() || a.table.empty()) {
        out.sql = "NULL";
      } else {
        // length() does not make SQLite load the value to see whether it is NULL.
        out.sql = "tds_textptr(" + a.rowid_sql + ", " + QuoteText(a.table) + ", " +
                  QuoteText(a.column_name) + ", length(" + a.sql + "))";
      }
      return out;
    }
    if (f == "datalength") {
      ArgCount(e, 1, 1);
      out.t.type = IntType(TypeId::kInt);
      out.sql = "tds_datalength(" + args[0].sql + "," + packed(args[0].t.type) + ")";
      return out;
    }
    if (f == "upper" || f == "lower") {
      ArgCount(e, 1, 1);
      no_lob(0);
      Typed s = AsString(args[0]);
      out.t.type = s.t.null_literal ? VarCharType(1, false) : s.t.type;
      out.sql = "tds_" + f + "(" + s.sql + ")";
      return out;
    }
    if (f == "ltrim" || f == "rtrim") {
      ArgCount(e, 1, 1);
      no_lob(0);
      Typed s = AsString(args[0]);
      out.t.type = s.t.null_literal ? VarCharType(1, false) : string_result(s);
      out.sql = f + "(" + s.sql + ", ' ')";
      return out;
    }
    if (f == "substring") {
      ArgCount(e, 3, 3);
      Typed s = args[0];
      if (!IsBinaryType(s.t.type.id)) s = AsString(s);
      ColumnType t = s.t.null_literal ? VarCharType(1, false) : string_result(s);
      if (t.id == TypeId::kText) t = VarCharType(8000, false);
      if (t.id == TypeId::kNText) t = VarCharType(4000, true);
      if (t.id == TypeId::kImage || t.id == TypeId::kBinary) {
        t.id = TypeId::kVarBinary;
        if (t.length == 0) t.length = 8000;
      }
      out.t.type = t;
      out.sql = "tds_substring(" + s.sql + "," + int_arg(1) + "," + int_arg(2) + ")";
      return out;
    }
    if (f == "left" || f == "right") {
      ArgCount(e, 2, 2);
      no_lob(0);
      Typed s = AsString(args[0]);
      out.t.type = s.t.null_literal ? VarCharType(1, false) : string_result(s);
      out.sql = "tds_" + f + "(" + s.sql + "," + int_arg(1) + ")";
      return out;
    }
    if (f == "replace") {
      ArgCount(e, 3, 3);
      bool unicode = false;
      for (size_t i = 0; i < 3; ++i) {
        no_lob(i);
        unicode = unicode || IsUnicodeType(args[i].t.type.id);
      }
      out.t.type = VarCharType(unicode ? 4000 : 8000, unicode);
      out.sql = "tds_replace(" + AsString(args[0]).sql + "," + AsString(args[1]).sql + "," +
                AsString(args[2]).sql + ")";
      return out;
    }
    if (f == "charindex") {
      ArgCount(e, 2, 3);
      out.t.type = IntType(TypeId::kInt);
      out.sql = "tds_charindex(" + AsString(args[0]).sql + "," + AsString(args[1]).sql;
      if (args.size() == 3) out.sql += "," + int_arg(2);
      out.sql += ")";
      return out;
    }
    if (f == "abs" || f == "sign" || f == "floor" || f == "ceiling" || f == "round") {
      ArgCount(e, f == "round" ? 2 : 1, f == "round" ? 3 : 1);
      Typed x = args[0];
      if (IsCharType(x.t.type.id) || x.t.null_literal) x = Convert(x, IntType(TypeId::kFloat));
      if (!IsNumericType(x.t.type.id)) {
        Throw(8116, 1, 16,
              "Argument data type " + TypeName(x.t.type.id) + " is invalid for argument 1 of " + f +
                  " function.");
      }
      ColumnType t = x.t.type;
      if (t.id == TypeId::kBit) {
        x = Convert(x, IntType(TypeId::kInt));
        t = x.t.type;
      }
      if (f == "round" && IsDecimalType(t.id)) {
        ColumnType r = DecimalType(std::min(38, t.precision + 1), t.scale);
        r.id = t.id;
        x = Convert(x, r);
        t = r;
      }
      if ((f == "floor" || f == "ceiling") && IsDecimalType(t.id)) {
        ColumnType r = DecimalType(std::min(38, std::max(1, t.precision - t.scale + 1)), 0);
        r.id = t.id;
        out.t.type = r;
        out.sql = "tds_" + f + "(" + x.sql + "," + packed(t) + ")";
        return out;
      }
      out.t.type = t;
      if (f == "round") {
        out.sql = "tds_round(" + x.sql + "," + int_arg(1) + "," +
                  (args.size() == 3 ? int_arg(2) : std::string("0")) + "," + packed(t) + ")";
      } else {
        out.sql = "tds_" + f + "(" + x.sql + "," + packed(t) + ")";
      }
      return out;
    }
    if (f == "year" || f == "month" || f == "day") {
      ArgCount(e, 1, 1);
      Typed d = Convert(args[0], IntType(TypeId::kDateTime));
      out.t.type = IntType(TypeId::kInt);
      out.sql = "tds_datepart('" + f.substr(0, 1) + "'," + d.sql + ")";
      return out;
    }
    if (f == "space") {
      ArgCount(e, 1, 1);
      out.t.type = VarCharType(8000, false);
      out.sql = "tds_space(" + int_arg(0) + ")";
      return out;
    }
    if (f == "reverse") {
      ArgCount(e, 1, 1);
      no_lob(0);
      Typed s = AsString(args[0]);
      out.t.type = s.t.null_literal ? VarCharType(1, false) : string_result(s);
      out.sql = "tds_reverse(" + s.sql + ")";
      return out;
    }
    if (f == "ascii" || f == "unicode") {
      ArgCount(e, 1, 1);
      out.t.type = IntType(TypeId::kInt);
      out.sql = "tds_ascii(" + AsString(args[0]).sql + ")";
      return out;
    }
    if (f == "char" || f == "nchar") {
      ArgCount(e, 1, 1);
      ColumnType t;
      t.id = f == "char" ? TypeId::kChar : TypeId::kNChar;
      t.length = 1;
      out.t.type = t;
      out.t.nullable = true;
      out.sql = "tds_" + f + "(" + int_arg(0) + ")";
      return out;
    }
    NotSupported("The function " + f + "()");
  }

  Typed Aggregate(const Expr& e, const Scope* scope, bool allow_aggregate) {
    const std::string& f = e.text;
    if (!allow_aggregate) {
      Throw(147, 1, 15,
            "An aggregate may not appear in the WHERE clause unless it is in a subquery "
            "contained in a HAVING clause or a select list, and the column being aggregated is "
            "an outer reference.");
    }
    Typed out;
    out.aggregate = true;
    const std::string distinct = e.distinct ? "DISTINCT " : "";
    if (e.star) {
      if (f != "count") Throw(102, 1, 15, "Incorrect syntax near '*'.");
      out.t = Make(IntType(TypeId::kInt), false);
      out.sql = "count(*)";
      return out;
    }
    if (e.args.size() != 1) {
      Throw(174, 1, 15, "The " + f + " function requires 1 argument(s).");
    }
    Typed a = Value(*e.args[0], scope, false);
    if (a.aggregate) {
      Throw(130, 1, 16,
            "Cannot perform an aggregate function on an expression containing an aggregate or a "
            "subquery.");
    }
    if (f == "count") {
      out.t = Make(IntType(TypeId::kInt), false);
      out.sql = "count(" + distinct + a.sql + ")";
      return out;
    }
    const ColumnType t = a.t.null_literal ? IntType(TypeId::kInt) : a.t.type;
    out.t = Make(t, true);
    if (f == "min" || f == "max") {
      if (IsLobType(t.id) || t.id == TypeId::kBit) {
        Throw(8117, 1, 16,
              "Operand data type " + TypeName(t.id) + " is invalid for " + f + " operator.");
      }
      out.sql = f + "(" + distinct + Collated(a.sql, t) + ")";
      return out;
    }
    if (!IsNumericType(t.id) || t.id == TypeId::kBit) {
      Throw(8117, 1, 16,
            "Operand data type " + TypeName(t.id) + " is invalid for " + f + " operator.");
    }
    if (f == "sum") {
      switch (StorageOf(t.id)) {
        case Storage::kInteger: {
          ColumnType r = t.id == TypeId::kBigInt ? t : IntType(TypeId::kInt);
          out.t.type = r;
          out.sql = "tds_cvt(sum(" + distinct + a.sql + ")," +
                    std::to_string(PackType(IntType(TypeId::kBigInt))) + "," +
                    std::to_string(PackType(r)) + ",NULL,0)";
          return out;
        }
        case Storage::kMoney:
          out.t.type = IntType(TypeId::kMoney);
          out.sql = "sum(" + distinct + a.sql + ")";
          return out;
        case Storage::kDecimalText: {
          ColumnType r = DecimalType(38, t.scale);
          r.id = t.id;
          out.t.type = r;
          out.sql = "tds_dsum(" + distinct + a.sql + ")";
          return out;
        }
        default:
          out.t.type = IntType(TypeId::kFloat);
          out.sql = "sum(" + distinct + a.sql + ")";
          return out;
      }
    }
    // avg
    switch (StorageOf(t.id)) {
      case Storage::kInteger: {
        ColumnType r = t.id == TypeId::kBigInt ? t : IntType(TypeId::kInt);
        out.t.type = r;
        out.sql = "(sum(" + distinct + a.sql + ") / count(" + distinct + a.sql + "))";
        return out;
      }
      case Storage::kMoney:
        out.t.type = IntType(TypeId::kMoney);
        out.sql = "(sum(" + distinct + a.sql + ") / count(" + distinct + a.sql + "))";
        return out;
      case Storage::kDecimalText: {
        ColumnType r = DecimalType(38, std::max<int>(6, t.scale));
        r.id = t.id;
        out.t.type = r;
        out.sql = "tds_davg(" + distinct + a.sql + ")";
        return out;
      }
      default:
        out.t.type = IntType(TypeId::kFloat);
        out.sql = "avg(" + distinct + a.sql + ")";
        return out;
    }
  }

  sqlite3* db_;
  const SessionVars& vars_;
  int* alias_counter_;
  bool order_type_is_lob_ = false;  // set by OrderTermSql for the term it made
};

std::string GeneratedName(const char* prefix, std::string_view table) {
  // SQL Server names unnamed constraints PK__table__<16 hex digits>.
  uint64_t h = 1469598103934665603ull;
  for (char c : table) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  h ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&h));
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(h));
  return std::string(prefix) + "__" + std::string(table.substr(0, 8)) + "__" + hex;
}

std::string SqliteDeclaration(const ColumnType& t) {
  switch (StorageOf(t.id)) {
    case Storage::kInteger:
    case Storage::kMoney:
    case Storage::kDateTicks:
      // "INT", not "INTEGER": an INTEGER PRIMARY KEY would become SQLite's
      // rowid, which turns an inserted NULL into a new key instead of an error.
      return "INT";
    case Storage::kReal:
      return "REAL";
    case Storage::kDecimalText:
      return "TEXT COLLATE TDSDEC";
    case Storage::kText:
      return "TEXT COLLATE TDSCI";
    case Storage::kBlob:
      return "BLOB";
  }
  return "";
}

}  // namespace

// ---- Compiler ----------------------------------------------------------------

bool Compiler::CompileSelect(const Select& select, CompiledSelect* out, CompileError* error) {
  int counter = 0;
  ExprCompiler c(db_, vars_, &counter);
  try {
    c.stream_images_ = true;
    auto r = c.SelectSql(select, nullptr, -1);
    out->sql = r.sql;
    out->columns = r.descs;
    out->rowid_columns = r.rowid_columns;
    out->source_columns = r.source_columns;
    out->streamed = r.streamed;
    return true;
  } catch (const Failure& f) {
    *error = f.error;
    return false;
  }
}

bool Compiler::CompileValue(const Expr& expr, std::optional<ColumnType> to, std::string* sql,
                            ExprType* type, CompileError* error) {
  int counter = 0;
  ExprCompiler c(db_, vars_, &counter);
  try {
    Scope empty;
    Typed t = c.Value(expr, &empty, false);
    if (to) t = c.Convert(t, *to);
    *sql = "SELECT " + t.sql;
    *type = t.t;
    return true;
  } catch (const Failure& f) {
    *error = f.error;
    return false;
  }
}

bool Compiler::CompileCondition(const Expr& expr, std::string* sql, CompileError* error) {
  int counter = 0;
  ExprCompiler c(db_, vars_, &counter);
  try {
    Scope empty;
    Typed t = c.Condition(expr, &empty, false);
    *sql = "SELECT CASE WHEN " + t.sql + " THEN 1 ELSE 0 END";
    return true;
  } catch (const Failure& f) {
    *error = f.error;
    return false;
  }
}

bool Compiler::CompileInsert(const Stmt& stmt, CompiledDml* out, CompileError* error) {
  int counter = 0;
  ExprCompiler c(db_, vars_, &counter);
  try {
    auto table = LookupTable(db_, stmt.table);
    if (!table) Throw(208, 1, 16, "Invalid object name '" + stmt.table + "'.");
    out->table = *table;
    out->has_identity = table->identity_column >= 0;
    std::vector<int> targets;
    if (!stmt.columns.empty()) {
      for (const std::string& name : stmt.columns) {
        int idx = table->FindColumn(name);
        if (idx < 0) Throw(207, 1, 16, "Invalid column name '" + name + "'.");
        if (std::find(targets.begin(), targets.end(), idx) != targets.end()) {
          Throw(264, 1, 16,
                "The column name '" + table->columns[static_cast<size_t>(idx)].name +
                    "' is specified more than once in the SET clause or column list of an "
                    "INSERT. A column cannot be assigned more than one value in the same clause.");
        }
        targets.push_back(idx);
      }
      for (int idx : targets) {
        if (table->columns[static_cast<size_t>(idx)].identity) {
          Throw(544, 1, 16,
                "Cannot insert explicit value for identity column in table '" + table->name +
                    "' when IDENTITY_INSERT is set to OFF.",
                false);
        }
      }
    } else if (!stmt.default_values) {
      for (size_t i = 0; i < table->columns.size(); ++i) {
        if (!table->columns[i].identity) targets.push_back(static_cast<int>(i));
      }
    }
    // Columns not given take their default (or NULL); identity is assigned by SQLite.
    std::vector<int> defaulted;
    for (size_t i = 0; i < table->columns.size(); ++i) {
      if (table->columns[i].identity) continue;
      if (std::find(targets.begin(), targets.end(), static_cast<int>(i)) == targets.end()) {
        defaulted.push_back(static_cast<int>(i));
      }
    }
    std::string head = "INSERT INTO " + QuoteIdent(table->name) + "(";
    bool first = true;
    for (int idx : targets) {
      head += (first ? "" : ",") + QuoteIdent(table->columns[static_cast<size_t>(idx)].name);
      first = false;
    }
    for (int idx : defaulted) {
      head += (first ? "" : ",") + QuoteIdent(table->columns[static_cast<size_t>(idx)].name);
      first = false;
    }
    head += ")";
    auto default_sql = [&](int idx) {
      const CatalogColumn& col = table->columns[static_cast<size_t>(idx)];
      return col.default_sql.empty() ? std::string("NULL") : col.default_sql;
    };
    // The key columns of the primary key, for the duplicate-key message.
    std::vector<int> key_columns;
    for (const CatalogKey& k : table->keys) {
      if (k.kind != 'P') continue;
      for (const std::string& n : k.columns) key_columns.push_back(table->FindColumn(n));
    }
    if (first && table->identity_column >= 0 && targets.empty() && defaulted.empty()) {
      // Only an identity column: DEFAULT VALUES.
      out->statements.push_back("INSERT INTO " + QuoteIdent(table->name) + " DEFAULT VALUES");
      out->key_probes.emplace_back();
      return true;
    }
    if (stmt.default_values) {
      std::string sql = head + " VALUES (";
      for (size_t i = 0; i < defaulted.size(); ++i)
        sql += (i ? "," : "") + default_sql(defaulted[i]);
      out->statements.push_back(sql + ")");
      out->key_probes.emplace_back();
      return true;
    }
    if (stmt.select) {
      auto sub = c.SelectSql(*stmt.select, nullptr, -1);
      if (sub.columns.size() != targets.size()) {
        if (stmt.columns.empty()) {
          Throw(213, 1, 16,
                "Column name or number of supplied values does not match table definition.");
        }
        if (sub.columns.size() < targets.size()) {
          Throw(120, 1, 15,
                "The select list for the INSERT statement contains fewer items than the insert "
                "list. The number of SELECT values must match the number of INSERT columns.");
        }
        Throw(121, 1, 15,
              "The select list for the INSERT statement contains more items than the insert "
              "list. The number of SELECT values must match the number of INSERT columns.");
      }
      std::string sql = head + " SELECT ";
      // The same rows with each value named after its column's position, so
      // that a duplicate key can be found and shown.
      std::string source = "SELECT ";
      for (size_t i = 0; i < targets.size(); ++i) {
        Typed v;
        v.sql = "s.\"_c" + std::to_string(i + 1) + "\"";
        v.t = sub.columns[i];
        std::string value =
            c.Convert(v, table->columns[static_cast<size_t>(targets[i])].type, true).sql;
        sql += (i ? "," : "") + value;
        source += (i ? "," : "") + value + " AS \"_v" + std::to_string(targets[i]) + "\"";
      }
      for (size_t i = 0; i < defaulted.size(); ++i) {
        const bool first_value = targets.empty() && i == 0;
        sql += (first_value ? "" : ",") + default_sql(defaulted[i]);
        source += (first_value ? "" : ",") + default_sql(defaulted[i]) + " AS \"_v" +
                  std::to_string(defaulted[i]) + "\"";
      }
      sql += " FROM (" + sub.sql + ") AS s WHERE 1";  // WHERE keeps SQLite's upsert parse away
      out->insert_source = source + " FROM (" + sub.sql + ") AS s";
      out->statements.push_back(sql);
      out->key_probes.emplace_back();
      return true;
    }
    Scope empty;
    for (const auto& row : stmt.rows) {
      if (row.size() != targets.size()) {
        if (stmt.columns.empty()) {
          Throw(213, 1, 16,
                "Column name or number of supplied values does not match table definition.");
        }
        if (row.size() < targets.size()) {
          Throw(109, 1, 15,
                "There are more columns in the INSERT statement than values specified in the "
                "VALUES clause. The number of values in the VALUES clause must match the number "
                "of columns specified in the INSERT statement.");
        }
        Throw(110, 1, 15,
              "There are fewer columns in the INSERT statement than values specified in the "
              "VALUES clause. The number of values in the VALUES clause must match the number "
              "of columns specified in the INSERT statement.");
      }
      std::vector<std::string> values(table->columns.size(), "NULL");
      std::string sql = head + " VALUES (";
      for (size_t i = 0; i < row.size(); ++i) {
        Typed v = c.Value(*row[i], &empty, false);
        if (v.aggregate) {
          Throw(147, 1, 15, "An aggregate may not appear in the VALUES list.");
        }
        std::string conv =
            c.Convert(v, table->columns[static_cast<size_t>(targets[i])].type, true).sql;
        values[static_cast<size_t>(targets[i])] = conv;
        sql += (i ? "," : "") + conv;
      }
      for (size_t i = 0; i < defaulted.size(); ++i) {
        std::string d = default_sql(defaulted[i]);
        values[static_cast<size_t>(defaulted[i])] = d;
        sql += (row.empty() && i == 0 ? "" : ",") + d;
      }
      out->statements.push_back(sql + ")");
      std::string probe;
      if (!key_columns.empty()) {
        probe = "SELECT ";
        for (size_t k = 0; k < key_columns.size(); ++k) {
          probe +=
              (k ? "," : "") + (key_columns[k] >= 0 ? values[static_cast<size_t>(key_columns[k])]
                                                    : std::string("NULL"));
        }
      }
      out->key_probes.push_back(probe);
      out->row_values.push_back(values);
    }
    return true;
  } catch (const Failure& f) {
    *error = f.error;
    return false;
  }
}

namespace {

// The part update and delete share: the target table as a scope source and
// the FROM list, with the row filter.
struct TargetPlan {
  CatalogTable table;
  Scope scope;
  std::string target_alias;  // SQL alias the target's columns are written with
  std::string from_sql;      // the FROM list when given
  bool target_in_from = false;
  std::string where_sql;
};

TargetPlan PlanTarget(ExprCompiler& c, sqlite3* db, const Stmt& stmt) {
  TargetPlan p;
  auto table = LookupTable(db, stmt.table);
  if (!table) Throw(208, 1, 16, "Invalid object name '" + stmt.table + "'.");
  p.table = *table;
  if (!stmt.from.empty()) {
    for (size_t i = 0; i < stmt.from.size(); ++i) {
      if (i > 0) p.from_sql += ", ";
      p.from_sql += c.TableRefSql(*stmt.from[i], &p.scope);
    }
    // `update t set ... from t join u` names the target inside the FROM list.
    for (const Source& s : p.scope.sources) {
      if (EqualsNoCase(s.exposed, stmt.table) && !s.table.empty()) {
        p.target_in_from = true;
        p.target_alias = s.sql_alias;
      }
    }
  }
  if (!p.target_in_from) {
    Source src;
    src.sql_alias = c.NextAlias();
    src.exposed = stmt.table;
    src.table = table->name;
    for (const CatalogColumn& col : table->columns) {
      SourceColumn sc;
      sc.name = col.name;
      sc.type.type = col.type;
      sc.type.nullable = col.nullable;
      sc.sql = src.sql_alias + "." + QuoteIdent(col.name);
      sc.identity = col.identity;
      sc.table = table->name;
      // textptr(col) in the condition names the row by its rowid.
      sc.rowid_sql = src.sql_alias + ".rowid";
      src.columns.push_back(sc);
    }
    p.target_alias = src.sql_alias;
    c.AddSource(&p.scope, std::move(src));
  }
  if (stmt.where) p.where_sql = c.Condition(*stmt.where, &p.scope, false).sql;
  return p;
}

int64_t TopLimit(ExprCompiler& c, const Stmt& stmt, int64_t rowcount_limit) {
  int64_t limit = rowcount_limit > 0 ? rowcount_limit : -1;
  if (stmt.top) {
    auto v = c.ConstantInteger(*stmt.top);
    if (!v) NotSupported("TOP with an expression");
    if (limit < 0 || *v < limit) limit = *v;
  }
  return limit;
}

// "rowid IN (SELECT ...)": the rows of the target the statement touches.
std::string RowFilter(const TargetPlan& p, int64_t limit) {
  std::string sel = "SELECT " + p.target_alias + ".rowid FROM ";
  if (p.target_in_from) {
    sel += p.from_sql;
  } else {
    sel += QuoteIdent(p.table.name) + " AS " + p.target_alias;
    if (!p.from_sql.empty()) sel += ", " + p.from_sql;
  }
  if (!p.where_sql.empty()) sel += " WHERE " + p.where_sql;
  if (limit >= 0) sel += " LIMIT " + std::to_string(limit);
  return "rowid IN (" + sel + ")";
}

}  // namespace

bool Compiler::CompileUpdate(const Stmt& stmt, int64_t rowcount_limit, CompiledDml* out,
                             CompileError* error) {
  int counter = 0;
  ExprCompiler c(db_, vars_, &counter);
  try {
    TargetPlan p = PlanTarget(c, db_, stmt);
    out->table = p.table;
    int64_t limit = TopLimit(c, stmt, rowcount_limit);
    std::string sets, columns, values;
    std::vector<int> seen;
    std::vector<std::string> new_values(p.table.columns.size());
    for (const auto& [name, expr] : stmt.assignments) {
      int idx = p.table.FindColumn(name);
      if (idx < 0) Throw(207, 1, 16, "Invalid column name '" + name + "'.");
      const CatalogColumn& col = p.table.columns[static_cast<size_t>(idx)];
      if (col.identity)
        Throw(8102, 1, 16, "Cannot update identity column '" + col.name + "'.", false);
      if (std::find(seen.begin(), seen.end(), idx) != seen.end()) {
        Throw(264, 1, 16,
              "The column name '" + col.name +
                  "' is specified more than once in the SET clause or column list of an UPDATE. "
                  "A column cannot be assigned more than one value in the same clause.");
      }
      seen.push_back(idx);
      Typed v = c.Value(*expr, &p.scope, false);
      std::string value = c.Convert(v, col.type, true).sql;
      new_values[static_cast<size_t>(idx)] = value;
      if (!sets.empty()) {
        sets += ", ";
        columns += ", ";
        values += ", ";
      }
      sets += QuoteIdent(col.name) + " = " + value;
      columns += QuoteIdent(col.name);
      values += value;
    }
    std::string sql;
    if (p.from_sql.empty() && limit < 0) {
      sql = "UPDATE " + QuoteIdent(p.table.name) + " AS " + p.target_alias + " SET " + sets;
      if (!p.where_sql.empty()) sql += " WHERE " + p.where_sql;
      // The rows as the update would leave them, to find a duplicate key.
      std::string source = "SELECT " + p.target_alias + ".rowid AS \"_rowid\"";
      for (size_t i = 0; i < p.table.columns.size(); ++i) {
        std::string v = new_values[i].empty()
                            ? p.target_alias + "." + QuoteIdent(p.table.columns[i].name)
                            : new_values[i];
        source += ", " + v + " AS \"_v" + std::to_string(i) + "\"";
      }
      source += " FROM " + QuoteIdent(p.table.name) + " AS " + p.target_alias;
      if (!p.where_sql.empty()) source += " WHERE " + p.where_sql;
      out->insert_source = source;
      out->updated_rows = true;
    } else if (p.from_sql.empty()) {
      sql = "UPDATE " + QuoteIdent(p.table.name) + " AS " + p.target_alias + " SET " + sets +
            " WHERE " + RowFilter(p, limit);
    } else {
      // UPDATE ... FROM: each target row takes its new values from its first
      // matching row of the FROM list (SQL Server leaves the choice open too).
      const std::string target = "__tdslite_target";
      std::string from =
          p.target_in_from ? p.from_sql
                           : QuoteIdent(p.table.name) + " AS " + p.target_alias + ", " + p.from_sql;
      std::string match = p.target_alias + ".rowid = " + target + ".rowid";
      if (!p.where_sql.empty()) match += " AND " + p.where_sql;
      sql = "UPDATE " + QuoteIdent(p.table.name) + " AS " + target + " SET (" + columns +
            ") = (SELECT " + values + " FROM " + from + " WHERE " + match + " LIMIT 1) WHERE " +
            target + "." + RowFilter(p, limit);
    }
    out->statements.push_back(sql);
    out->key_probes.emplace_back();
    return true;
  } catch (const Failure& f) {
    *error = f.error;
    return false;
  }
}

bool Compiler::CompileDelete(const Stmt& stmt, int64_t rowcount_limit, CompiledDml* out,
                             CompileError* error) {
  int counter = 0;
  ExprCompiler c(db_, vars_, &counter);
  try {
    TargetPlan p = PlanTarget(c, db_, stmt);
    out->table = p.table;
    int64_t limit = TopLimit(c, stmt, rowcount_limit);
    std::string sql;
    if (p.from_sql.empty() && limit < 0) {
      sql = "DELETE FROM " + QuoteIdent(p.table.name) + " AS " + p.target_alias;
      if (!p.where_sql.empty()) sql += " WHERE " + p.where_sql;
    } else {
      sql = "DELETE FROM " + QuoteIdent(p.table.name) + " WHERE " + RowFilter(p, limit);
    }
    out->statements.push_back(sql);
    out->key_probes.emplace_back();
    return true;
  } catch (const Failure& f) {
    *error = f.error;
    return false;
  }
}

bool Compiler::CompileCreateTable(const Stmt& stmt, std::string* ddl, CatalogTable* table,
                                  CompileError* error) {
  int counter = 0;
  ExprCompiler c(db_, vars_, &counter);
  try {
    if (LookupTable(db_, stmt.table)) {
      Throw(2714, 6, 16, "There is already an object named '" + stmt.table + "' in the database.",
            false);
    }
    table->name = stmt.table;
    std::vector<std::string> pk = stmt.primary_key;
    std::string pk_name = stmt.pk_name;
    for (const ColumnDef& def : stmt.column_defs) {
      for (const CatalogColumn& existing : table->columns) {
        if (EqualsNoCase(existing.name, def.name)) {
          Throw(2705, 3, 16,
                "Column names in each table must be unique. Column name '" + def.name +
                    "' in table '" + stmt.table + "' is specified more than once.",
                false);
        }
      }
      CatalogColumn col;
      col.name = def.name;
      col.type = def.type;
      col.nullable = def.nullable;
      col.identity = def.identity;
      if (def.primary_key) {
        if (!pk.empty()) {
          Throw(8110, 0, 16,
                "Cannot add multiple PRIMARY KEY constraints to table '" + stmt.table + "'.",
                false);
        }
        pk.push_back(def.name);
        pk_name = def.constraint_name;
      }
      if (def.identity) {
        if (table->identity_column >= 0) {
          Throw(2744, 2, 16,
                "Multiple identity columns specified for table '" + stmt.table +
                    "'. Only one identity column per table is allowed.",
                false);
        }
        bool integral = IsIntegerType(def.type.id) && def.type.id != TypeId::kBit;
        if (IsDecimalType(def.type.id) && def.type.scale == 0) integral = true;
        if (!integral || (def.null_specified && def.nullable)) {
          Throw(2749, 2, 16,
                "Identity column '" + def.name +
                    "' must be of data type int, bigint, smallint, tinyint, or decimal or numeric "
                    "with a scale of 0, and constrained to be nonnullable.",
                false);
        }
        if (def.identity_increment != 1) NotSupported("An IDENTITY increment other than 1");
        if (def.default_value) {
          Throw(1754, 0, 16,
                "Defaults cannot be created on columns with an IDENTITY attribute. Table '" +
                    stmt.table + "', column '" + def.name + "'.",
                false);
        }
        col.nullable = false;
        table->identity_column = static_cast<int>(table->columns.size());
        table->identity_seed = def.identity_seed;
        if (IsDecimalType(def.type.id))
          NotSupported("An IDENTITY column of type decimal or numeric");
      }
      if (def.default_value) {
        Scope empty;
        Typed v = c.Value(*def.default_value, &empty, false);
        col.default_sql = c.Convert(v, def.type, true).sql;
      }
      table->columns.push_back(std::move(col));
    }
    for (const std::string& k : pk) {
      int idx = table->FindColumn(k);
      if (idx < 0) {
        Throw(1911, 1, 16, "Column name '" + k + "' does not exist in the target table or view.",
              false);
      }
      CatalogColumn& col = table->columns[static_cast<size_t>(idx)];
      const ColumnDef& def = stmt.column_defs[static_cast<size_t>(idx)];
      if (def.null_specified && def.nullable) {
        Throw(8111, 1, 16,
              "Cannot define PRIMARY KEY constraint on nullable column in table '" + stmt.table +
                  "'.",
              false);
      }
      if (IsLobType(col.type.id)) {
        Throw(1919, 1, 16,
              "Column '" + col.name + "' in table '" + stmt.table +
                  "' is of a type that is invalid for use as a key column in an index.",
              false);
      }
      col.nullable = false;
    }
    std::string sql = "CREATE TABLE " + QuoteIdent(stmt.table) + " (";
    for (size_t i = 0; i < table->columns.size(); ++i) {
      const CatalogColumn& col = table->columns[i];
      if (i > 0) sql += ", ";
      sql += QuoteIdent(col.name) + " ";
      if (col.identity) {
        sql += "INTEGER PRIMARY KEY AUTOINCREMENT";
        continue;
      }
      sql += SqliteDeclaration(col.type);
      if (!col.nullable) sql += " NOT NULL";
    }
    auto column_list = [&](const std::vector<std::string>& cols) {
      std::string s = "(";
      for (size_t i = 0; i < cols.size(); ++i) {
        int idx = table->FindColumn(cols[i]);
        if (idx < 0) {
          Throw(1911, 1, 16,
                "Column name '" + cols[i] + "' does not exist in the target table or view.", false);
        }
        s += (i ? "," : "") + QuoteIdent(table->columns[static_cast<size_t>(idx)].name);
      }
      return s + ")";
    };
    if (!pk.empty()) {
      CatalogKey key;
      key.kind = 'P';
      key.name = pk_name.empty() ? GeneratedName("PK", stmt.table) : pk_name;
      for (const std::string& k : pk) {
        key.columns.push_back(table->columns[static_cast<size_t>(table->FindColumn(k))].name);
      }
      bool identity_pk = pk.size() == 1 && table->identity_column >= 0 &&
                         table->FindColumn(pk[0]) == table->identity_column;
      if (!identity_pk) {
        sql += std::string(table->identity_column >= 0 ? ", UNIQUE " : ", PRIMARY KEY ") +
               column_list(pk);
      }
      table->keys.push_back(key);
    }
    for (const ColumnDef& def : stmt.column_defs) {
      if (!def.unique) continue;
      CatalogKey key;
      key.kind = 'U';
      key.name =
          def.constraint_name.empty() ? GeneratedName("UQ", stmt.table) : def.constraint_name;
      key.columns.push_back(def.name);
      sql += ", UNIQUE " + column_list(key.columns);
      table->keys.push_back(key);
    }
    for (const auto& u : stmt.uniques) {
      CatalogKey key;
      key.kind = 'U';
      key.name = GeneratedName("UQ", stmt.table);
      key.columns = u;
      sql += ", UNIQUE " + column_list(u);
      table->keys.push_back(key);
    }
    sql += ")";
    *ddl = sql;
    return true;
  } catch (const Failure& f) {
    *error = f.error;
    return false;
  }
}

}  // namespace tdslite::sql
