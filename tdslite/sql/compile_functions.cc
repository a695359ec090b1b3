// Built-in and aggregate functions.
#include "compile_internal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

namespace tdslite::sql::compiler_detail {

using R = BuiltinRule;

void ExprCompiler::ArgCount(const Expr& e, const Builtin& b) {
  const size_t min = static_cast<size_t>(b.min_args);
  const size_t max = b.max_args < 0 ? SIZE_MAX : static_cast<size_t>(b.max_args);
  if (e.args.size() < min || e.args.size() > max) {
    Throw(174, 1, 15,
          "The " + e.text + " function requires " +
              (min == max ? std::to_string(min)
                          : std::to_string(min) + " to " + std::to_string(max)) +
              " argument(s).");
  }
}

Typed ExprCompiler::Function(const Expr& e, const Scope* scope, bool allow_aggregate) {
  const std::string& f = e.text;
  if (!e.names.empty()) return UserFunction(e, scope, allow_aggregate);
  // The parser lets through only the names FindBuiltin knows.
  const Builtin* b = FindBuiltin(f);
  if (b == nullptr || b->kind == BuiltinKind::kRefused) NotSupported("The function " + f + "()");
  if (e.over) return Window(e, scope, allow_aggregate);
  if (b->rule == R::kMisc) return Misc(e, scope, allow_aggregate);
  if (b->kind == BuiltinKind::kAggregate) return Aggregate(e, scope, allow_aggregate);
  if (IsDateRule(b->rule)) return DateFunction(e, *b, scope, allow_aggregate);
  // Values of the session and the server: no arguments to compile.
  switch (b->rule) {
    case R::kGetDate: {
      ArgCount(e, *b);
      return Constant("tds_getdate()", IntType(TypeId::kDateTime), false);
    }
    case R::kDbName: {
      ArgCount(e, *b);
      if (!e.args.empty()) return CatalogFunction(e, *b, scope, allow_aggregate);
      return Constant(QuoteText(vars_.database), VarCharType(128, true), true);
    }
    case R::kErrorInfo: {
      ArgCount(e, *b);
      const CaughtError* c = vars_.caught;
      if (f == "error_message" || f == "error_procedure") {
        ColumnType type = VarCharType(f == "error_message" ? 4000 : 128, true);
        if (c == nullptr || f == "error_procedure") return Constant("NULL", type, true);
        return Constant(QuoteText(c->message), type, true);
      }
      if (c == nullptr) return Constant("NULL", IntType(TypeId::kInt), true);
      const int v = f == "error_number"     ? c->number
                    : f == "error_severity" ? c->severity
                    : f == "error_state"    ? c->state
                                            : c->line;
      return Constant(std::to_string(v), IntType(TypeId::kInt), true);
    }
    case R::kXactState: {
      ArgCount(e, *b);
      return Constant(std::to_string(vars_.xact_state), IntType(TypeId::kSmallInt), false);
    }
    case R::kLogin: {
      ArgCount(e, *b);
      return Constant(QuoteText(vars_.login), VarCharType(128, true), true);
    }
    case R::kUserName: {
      ArgCount(e, *b);
      return Constant("'dbo'", VarCharType(128, true), true);
    }
    case R::kHostName: {
      ArgCount(e, *b);
      return Constant(QuoteText(vars_.host), VarCharType(128, true), true);
    }
    case R::kAppName: {
      ArgCount(e, *b);
      return Constant(QuoteText(vars_.app), VarCharType(128, true), true);
    }
    case R::kCatalog:
      return CatalogFunction(e, *b, scope, allow_aggregate);
    case R::kScopeIdentity: {
      ArgCount(e, *b);
      return Identity();
    }
    case R::kIif: {
      // iif(condition, a, b) is CASE WHEN condition THEN a ELSE b END.
      ArgCount(e, *b);
      Typed cond = Condition(*e.args[0], scope, allow_aggregate);
      Typed yes = Value(*e.args[1], scope, allow_aggregate);
      Typed no = Value(*e.args[2], scope, allow_aggregate);
      Typed out = Combine({&cond, &yes, &no});
      const ColumnType t = Unify(yes, no);
      out.t.type = t;
      out.t.nullable = yes.t.nullable || no.t.nullable;
      out.sql = "(CASE WHEN " + cond.sql + " THEN " + Convert(yes, t).sql + " ELSE " +
                Convert(no, t).sql + " END)";
      return out;
    }
    default:
      break;
  }
  Typed out;
  std::vector<Typed> args = Arguments(e, scope, allow_aggregate, &out);
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
  switch (b->rule) {
    case R::kIsNull: {
      ArgCount(e, *b);
      ColumnType t = args[0].t.null_literal ? args[1].t.type : args[0].t.type;
      out.t.type = t;
      out.t.nullable = args[0].t.nullable && args[1].t.nullable;
      out.sql = "coalesce(" + args[0].sql + "," + Convert(args[1], t).sql + ")";
      if (args[0].t.null_literal) out.sql = Convert(args[1], t).sql;
      return out;
    }
    case R::kCoalesce: {
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
    case R::kNullIf: {
      ArgCount(e, *b);
      ColumnType u = Unify(args[0], args[1]);
      out.t.type = args[0].t.type;
      out.t.nullable = true;
      out.sql = "(CASE WHEN " + Collated(Convert(args[0], u).sql, u) + " = " +
                Convert(args[1], u).sql + " THEN NULL ELSE " + args[0].sql + " END)";
      return out;
    }
    case R::kLen: {
      ArgCount(e, *b);
      no_lob(0);
      // The (max) types measure in bigint.
      out.t.type = IntType(IsMaxType(args[0].t.type) ? TypeId::kBigInt : TypeId::kInt);
      if (IsBinaryType(args[0].t.type.id)) {
        out.sql = "length(" + args[0].sql + ")";
      } else {
        // In UTF-16 code units, and past a NUL (SQLite's length() stops there).
        out.sql = "tds_ulen(rtrim(" + AsString(args[0]).sql + ", ' '))";
      }
      return out;
    }
    case R::kTextPtr: {
      ArgCount(e, *b);
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
    case R::kDataLength: {
      ArgCount(e, *b);
      out.t.type = IntType(IsMaxType(args[0].t.type) ? TypeId::kBigInt : TypeId::kInt);
      // An image value is stored as it is: SQLite's length() gives its size
      // without loading it (a value of 2 GiB would be read whole).
      out.sql = args[0].t.type.id == TypeId::kImage
                    ? "length(" + args[0].sql + ")"
                    : "tds_datalength(" + args[0].sql + "," + packed(args[0].t.type) + ")";
      return out;
    }
    case R::kUpperLower: {
      ArgCount(e, *b);
      no_lob(0);
      Typed s = AsString(args[0]);
      out.t.type = s.t.null_literal ? VarCharType(1, false) : s.t.type;
      out.sql = "tds_" + f + "(" + s.sql + ")";
      return out;
    }
    case R::kTrim: {
      ArgCount(e, *b);
      no_lob(0);
      Typed s = AsString(args[0]);
      out.t.type = s.t.null_literal ? VarCharType(1, false) : string_result(s);
      out.sql = f + "(" + s.sql + ", ' ')";
      return out;
    }
    case R::kSubstring: {
      ArgCount(e, *b);
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
    case R::kLeftRight: {
      ArgCount(e, *b);
      no_lob(0);
      Typed s = AsString(args[0]);
      out.t.type = s.t.null_literal ? VarCharType(1, false) : string_result(s);
      out.sql = "tds_" + f + "(" + s.sql + "," + int_arg(1) + ")";
      return out;
    }
    case R::kReplace: {
      ArgCount(e, *b);
      bool unicode = false;
      for (size_t i = 0; i < 3; ++i) {
        no_lob(i);
        unicode = unicode || IsUnicodeType(args[i].t.type.id);
      }
      out.t.type = VarCharType(unicode ? 4000 : 8000, unicode);
      if (IsMaxType(args[0].t.type)) out.t.type.length = kMaxLength;
      out.sql = "tds_replace(" + AsString(args[0]).sql + "," + AsString(args[1]).sql + "," +
                AsString(args[2]).sql + ")";
      return out;
    }
    case R::kCharIndex: {
      ArgCount(e, *b);
      out.t.type = IntType(IsMaxType(args[1].t.type) ? TypeId::kBigInt : TypeId::kInt);
      out.sql = "tds_charindex(" + AsString(args[0]).sql + "," + AsString(args[1]).sql;
      if (args.size() == 3) out.sql += "," + int_arg(2);
      out.sql += ")";
      return out;
    }
    case R::kMath: {
      ArgCount(e, *b);
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
    case R::kChoose: {
      // choose(i, v1, v2, ...): the i-th value, NULL outside the list.
      ArgCount(e, *b);
      if (!IsIntegerType(args[0].t.type.id) && !args[0].t.null_literal) {
        args[0] = Convert(args[0], IntType(TypeId::kInt));
      }
      Typed acc = args[1];
      for (size_t i = 2; i < args.size(); ++i) {
        acc.t.type = Unify(acc, args[i]);
        acc.t.null_literal = acc.t.null_literal && args[i].t.null_literal;
      }
      out.t.type = acc.t.type;
      out.t.nullable = true;
      out.sql = "(CASE " + args[0].sql;
      for (size_t i = 1; i < args.size(); ++i) {
        out.sql += " WHEN " + std::to_string(i) + " THEN " + Convert(args[i], acc.t.type).sql;
      }
      out.sql += " END)";
      return out;
    }
    case R::kConcat:
    case R::kConcatWs: {
      // Every value as a string; NULL counts as ''. The result is never NULL.
      const bool ws = b->rule == R::kConcatWs;
      bool unicode = false;
      bool any_max = false;
      int64_t length = 0;
      std::vector<std::string> parts;
      for (size_t i = 0; i < args.size(); ++i) {
        no_lob(i);
        Typed a = AsString(args[i]);
        unicode = unicode || IsUnicodeType(a.t.type.id);
        any_max = any_max || IsMaxType(a.t.type);
        const int64_t n = a.t.null_literal ? 0 : a.t.type.length;
        length += ws && i == 0 ? n * static_cast<int64_t>(args.size() - 2) : n;
        parts.push_back(a.t.null_literal ? "NULL" : a.sql);
      }
      const int64_t limit = unicode ? 4000 : 8000;
      const bool cut = !any_max && length > limit;
      if (any_max || cut) {
        out.t.type = VarCharType(1, unicode);
        out.t.type.length = kMaxLength;
      } else {
        out.t.type = VarCharType(static_cast<int>(std::max<int64_t>(length, 1)), unicode);
      }
      out.t.nullable = false;
      if (ws) {
        out.sql = "tds_concat_ws(";
        for (size_t i = 0; i < parts.size(); ++i) out.sql += (i ? "," : "") + parts[i];
        out.sql += ")";
      } else {
        out.sql = "(";
        for (size_t i = 0; i < parts.size(); ++i) {
          out.sql += (i ? " || " : "") + std::string("coalesce(") + parts[i] + ",'')";
        }
        out.sql += ")";
      }
      // Past 8,000 bytes (4,000 characters) the result is cut there.
      if (cut) out = Convert(out, VarCharType(static_cast<int>(limit), unicode));
      return out;
    }
    case R::kReplicate: {
      ArgCount(e, *b);
      no_lob(0);
      Typed s = AsString(args[0]);
      const bool unicode = IsUnicodeType(s.t.type.id);
      const bool max = IsMaxType(s.t.type);
      out.t.type = VarCharType(unicode ? 4000 : 8000, unicode);
      if (max) out.t.type.length = kMaxLength;
      out.sql = "tds_replicate(" + s.sql + "," + int_arg(1) + "," +
                std::to_string((unicode ? 1 : 0) + (max ? 2 : 0)) + ")";
      return out;
    }
    case R::kStuff: {
      ArgCount(e, *b);
      no_lob(0);
      no_lob(3);
      Typed s = AsString(args[0]);
      Typed insert = AsString(args[3]);
      const bool unicode = IsUnicodeType(s.t.type.id) || IsUnicodeType(insert.t.type.id);
      const int64_t limit = unicode ? 4000 : 8000;
      const int64_t length = (s.t.null_literal ? 1 : s.t.type.length) +
                             (insert.t.null_literal ? 0 : insert.t.type.length);
      out.t.type = VarCharType(static_cast<int>(std::min(length, limit)), unicode);
      if (IsMaxType(s.t.type) || IsMaxType(insert.t.type)) out.t.type.length = kMaxLength;
      out.t.nullable = true;
      out.sql = "tds_stuff(" + s.sql + "," + int_arg(1) + "," + int_arg(2) + "," + insert.sql + ")";
      return out;
    }
    case R::kQuoteName: {
      ArgCount(e, *b);
      no_lob(0);
      out.t.type = VarCharType(258, true);
      out.t.nullable = true;
      out.sql = "tds_quotename(" + AsString(args[0]).sql + "," +
                (args.size() > 1 ? AsString(args[1]).sql : std::string("'['")) + ")";
      return out;
    }
    case R::kStr: {
      ArgCount(e, *b);
      int64_t length = 10;
      if (args.size() > 1) {
        std::optional<int64_t> v = ConstantInteger(*e.args[1]);
        if (!v) NotSupported("str() with a length that is not a constant");
        length = *v;
      }
      if (IsCharType(args[0].t.type.id) || IsBinaryType(args[0].t.type.id) ||
          IsDateType(args[0].t.type.id)) {
        Throw(8116, 1, 16,
              "Argument data type " + TypeName(args[0].t.type.id) +
                  " is invalid for argument 1 of str function.");
      }
      out.t.type = VarCharType(static_cast<int>(std::clamp<int64_t>(length, 1, 8000)), false);
      out.t.nullable = true;
      out.sql = "tds_str(" + Convert(args[0], IntType(TypeId::kFloat)).sql + "," +
                (args.size() > 1 ? int_arg(1) : std::string("10")) + "," +
                (args.size() > 2 ? int_arg(2) : std::string("0")) + ")";
      return out;
    }
    case R::kFloatMath: {
      ArgCount(e, *b);
      const ColumnType flt = IntType(TypeId::kFloat);
      std::string sql = "tds_fmath('" + f + "'";
      for (size_t i = 0; i < args.size(); ++i) {
        if (!IsNumericType(args[i].t.type.id) && !IsCharType(args[i].t.type.id) &&
            !args[i].t.null_literal) {
          Throw(8116, 1, 16,
                "Argument data type " + TypeName(args[i].t.type.id) + " is invalid for argument " +
                    std::to_string(i + 1) + " of " + f + " function.");
        }
        sql += "," + Convert(args[i], flt).sql;
      }
      sql += ")";
      out.t.type = flt;
      out.sql = sql;
      if (f == "power" && !args[0].t.null_literal) {
        // power() answers in its first argument's type: int stays int,
        // decimal(p,s) becomes decimal(38,s), a string becomes float.
        ColumnType t = args[0].t.type;
        if (IsCharType(t.id)) t = flt;
        if (t.id == TypeId::kBit || t.id == TypeId::kTinyInt || t.id == TypeId::kSmallInt) {
          t = IntType(TypeId::kInt);
        }
        if (IsDecimalType(t.id)) t = DecimalType(38, t.scale);
        if (t.id == TypeId::kReal) t = flt;
        out.t.type = t;
        Typed raw = out;
        raw.t.type = flt;
        out.sql = Convert(raw, t).sql;
      }
      return out;
    }
    case R::kSpace: {
      ArgCount(e, *b);
      out.t.type = VarCharType(8000, false);
      out.sql = "tds_space(" + int_arg(0) + ")";
      return out;
    }
    case R::kReverse: {
      ArgCount(e, *b);
      no_lob(0);
      Typed s = AsString(args[0]);
      out.t.type = s.t.null_literal ? VarCharType(1, false) : string_result(s);
      out.sql = "tds_reverse(" + s.sql + ")";
      return out;
    }
    case R::kAscii: {
      ArgCount(e, *b);
      out.t.type = IntType(TypeId::kInt);
      out.t.nullable = true;  // NULL for ''
      out.sql =
          std::string(f == "ascii" ? "tds_ascii(" : "tds_unicode(") + AsString(args[0]).sql + ")";
      return out;
    }
    case R::kChar: {
      ArgCount(e, *b);
      ColumnType t;
      t.id = f == "char" ? TypeId::kChar : TypeId::kNChar;
      t.length = 1;
      out.t.type = t;
      out.t.nullable = true;
      out.sql = "tds_" + f + "(" + int_arg(0) + ")";
      return out;
    }
    default:
      break;
  }
  NotSupported("The function " + f + "()");
}

Typed ExprCompiler::Aggregate(const Expr& e, const Scope* scope, bool allow_aggregate) {
  const std::string& f = e.text;
  if (!allow_aggregate) {
    Throw(147, 1, 15,
          "An aggregate may not appear in the WHERE clause unless it is in a subquery "
          "contained in a HAVING clause or a select list, and the column being aggregated is "
          "an outer reference.");
  }
  Typed out;
  // An aggregate with OVER (over_sql_) is a window function: its SQL
  // carries the window after each call, and it does not group the query.
  const std::string w = over_sql_;
  over_sql_.clear();
  out.aggregate = w.empty();
  const std::string distinct = e.distinct ? "DISTINCT " : "";
  const ColumnType count_type = IntType(f == "count_big" ? TypeId::kBigInt : TypeId::kInt);
  if (e.star) {
    if (f != "count" && f != "count_big") Throw(102, 1, 15, "Incorrect syntax near '*'.");
    out.t = Make(count_type, false);
    out.sql = "count(*)" + w;
    return out;
  }
  ArgCount(e, *FindBuiltin(f));
  Typed a = Value(*e.args[0], scope, w.empty() ? false : allow_aggregate);
  if (!w.empty()) {
    out.aggregate = a.aggregate;
    out.bare = a.bare;
  } else if (a.aggregate) {
    Throw(130, 1, 16,
          "Cannot perform an aggregate function on an expression containing an aggregate or a "
          "subquery.");
  }
  if (f == "count" || f == "count_big") {
    out.t = Make(count_type, false);
    out.sql =
        "count(" + distinct + (distinct.empty() ? a.sql : Collated(a.sql, a.t.type)) + ")" + w;
    return out;
  }
  const ColumnType t = a.t.null_literal ? IntType(TypeId::kInt) : a.t.type;
  out.t = Make(t, true);
  if (f == "min" || f == "max") {
    if (IsLobType(t.id) || t.id == TypeId::kBit || t.id == TypeId::kUniqueIdentifier) {
      Throw(8117, 1, 16,
            "Operand data type " + TypeName(t.id) + " is invalid for " + f + " operator.");
    }
    out.sql = f + "(" + distinct + Collated(a.sql, t) + ")" + w;
    return out;
  }
  if (!IsNumericType(t.id) || t.id == TypeId::kBit) {
    Throw(8117, 1, 16,
          "Operand data type " + TypeName(t.id) + " is invalid for " + f + " operator.");
  }
  // sum and avg.
  const bool sum = f == "sum";
  const std::string arg = distinct + a.sql;
  switch (StorageOf(t.id)) {
    case Storage::kInteger:
      out.t.type = t.id == TypeId::kBigInt ? t : IntType(TypeId::kInt);
      break;
    case Storage::kMoney:
      out.t.type = IntType(TypeId::kMoney);
      break;
    case Storage::kDecimalText: {
      // sum keeps the argument's scale, avg gives at least six decimals.
      ColumnType r = DecimalType(38, sum ? t.scale : std::max<int>(6, t.scale));
      r.id = t.id;
      out.t.type = r;
      const char* fn =
          sum ? (w.empty() ? "tds_dsum(" : "tds_wdsum(") : (w.empty() ? "tds_davg(" : "tds_wdavg(");
      out.sql = fn + arg + ")" + w;
      return out;
    }
    default:
      out.t.type = IntType(TypeId::kFloat);
      out.sql = f + "(" + arg + ")" + w;
      return out;
  }
  // Integers and money: avg divides in the result type.
  if (!sum) {
    out.sql = "(sum(" + arg + ")" + w + " / count(" + arg + ")" + w + ")";
  } else if (StorageOf(t.id) == Storage::kInteger) {
    out.sql = "tds_cvt(sum(" + arg + ")" + w + "," +
              std::to_string(PackType(IntType(TypeId::kBigInt))) + "," +
              std::to_string(PackType(out.t.type)) + ",NULL,0)";
  } else {
    out.sql = "sum(" + arg + ")" + w;
  }
  return out;
}

}  // namespace tdslite::sql::compiler_detail
