// Operators: unary, comparison, AND/OR and arithmetic, with SQL Server's
// result types; chains of one operator compile flat.
#include "compile_internal.h"

#include <algorithm>

namespace tdslite::sql::compiler_detail {

Typed ExprCompiler::Unary(const Expr& e, const Scope* scope, bool allow_aggregate) {
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
  if (IsCharType(a.t.type.id) || IsBinaryType(a.t.type.id) || IsTemporalType(a.t.type.id) ||
      a.t.type.id == TypeId::kUniqueIdentifier) {
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

Typed ExprCompiler::Comparison(const std::string& op, const Typed& a, const Typed& b) {
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

std::string ExprCompiler::OperatorName(const std::string& op) {
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

Typed ExprCompiler::BinaryOp(const Expr& e, const Scope* scope, bool allow_aggregate) {
  const std::string& op = e.text;
  if (op == "and" || op == "or") {
    Typed a = Condition(*e.args[0], scope, allow_aggregate);
    Typed b = Condition(*e.args[1], scope, allow_aggregate);
    Typed out = Combine({&a, &b});
    const std::string word = op == "and" ? " AND " : " OR ";
    // a OR b OR c ... as one parenthesis: SQLite's parser has a fixed stack,
    // and each nested parenthesis takes from it.
    if (a.chain_kind == op && a.sql == a.chain_sql) {
      out.sql = a.sql.substr(0, a.sql.size() - 1) + word + b.sql + ")";
    } else {
      out.sql = "(" + a.sql + word + b.sql + ")";
    }
    out.chain_kind = op;
    out.chain_sql = out.sql;
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

Typed ExprCompiler::Arithmetic(const std::string& op, Typed a, Typed b) {
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
  // date, time, datetime2, datetimeoffset and uniqueidentifier take part in
  // no arithmetic: with a string or one another the operator refuses them,
  // with anything else the operands clash.
  auto plain = [](TypeId id) { return IsWideTimeType(id) || id == TypeId::kUniqueIdentifier; };
  if (plain(ta.id) || plain(tb.id)) {
    auto dateish = [](TypeId id) { return IsTemporalType(id) || id == TypeId::kUniqueIdentifier; };
    if (sa || sb || (dateish(ta.id) && dateish(tb.id))) incompatible();
    Throw(206, 2, 16,
          "Operand type clash: " + TypeName(ta.id) + " is incompatible with " + TypeName(tb.id));
  }
  if (op == "+" && sa && sb) {
    bool unicode = IsUnicodeType(ta.id) || IsUnicodeType(tb.id);
    int limit = unicode ? 4000 : 8000;
    const int64_t length = int64_t{ta.length} + tb.length;
    out.t.type = VarCharType(static_cast<int>(std::min<int64_t>(length, limit)), unicode);
    // x || y || z as one parenthesis, as AND and OR chains.
    // From a chain already cut only when this step is cut too: a (max)
    // operand keeps what came before as it was cut.
    const bool max = IsMaxType(ta) || IsMaxType(tb);
    if (a.chain_kind == "concat" &&
        (a.sql == a.chain_sql || (!max && !a.chain_cut_sql.empty() && a.sql == a.chain_cut_sql))) {
      out.sql = a.chain_sql.substr(0, a.chain_sql.size() - 1) + " || " + b.sql + ")";
    } else {
      out.sql = "(" + a.sql + " || " + b.sql + ")";
    }
    out.chain_kind = "concat";
    out.chain_sql = out.sql;
    if (max) {
      // A (max) operand makes a (max) result: nothing is cut.
      out.t.type.length = kMaxLength;
    } else if (length > limit) {
      // Past 8,000 bytes (4,000 characters) the result is cut there, as
      // SQL Server cuts it.
      Typed whole = out;
      whole.t.type.length = kMaxLength;
      out = Convert(whole, out.t.type);
      out.chain_cut_sql = out.sql;
    }
    return out;
  }
  if (op == "+" && IsBinaryType(ta.id) && IsBinaryType(tb.id)) {
    ColumnType t;
    t.id = TypeId::kVarBinary;
    t.length = IsMaxType(ta) || IsMaxType(tb)
                   ? kMaxLength
                   : static_cast<int32_t>(std::min<int64_t>(int64_t{ta.length} + tb.length, 8000));
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
    ArithmeticStep(a, op, b.sql, t, &out);
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
  ArithmeticStep(ca, op, cb.sql, result, &out);
  return out;
}

// a + b + c ... as one call, tds_ops(a, '+', b, type, '+', c, type, ...), not
// as calls nested as deep as the chain is long: SQLite's parser has a fixed
// stack. A step joins its left operand's chain when that operand is the
// chain unchanged (not converted) and keeps its storage; a call takes at
// most 127 arguments, so a long chain goes on in a new call.
void ExprCompiler::ArithmeticStep(const Typed& left, const std::string& op,
                                  const std::string& right_sql, const ColumnType& t, Typed* out) {
  constexpr int kMaxSteps = 40;
  const std::string step = ",'" + op + "'," + right_sql + "," + std::to_string(PackType(t)) + ")";
  if (left.chain_kind == "ops" && left.sql == left.chain_sql && left.chain_steps < kMaxSteps &&
      StorageOf(left.chain_type.id) == StorageOf(t.id)) {
    out->sql = left.sql.substr(0, left.sql.size() - 1) + step;
    out->chain_steps = left.chain_steps + 1;
  } else {
    out->sql = "tds_ops(" + left.sql + step;
    out->chain_steps = 1;
  }
  out->chain_kind = "ops";
  out->chain_sql = out->sql;
  out->chain_type = t;
}

}  // namespace tdslite::sql::compiler_detail
