// Arithmetic with SQL Server's overflow and divide-by-zero errors, rounding,
// abs, sign, and exact sums and averages of decimals.
#include "functions_internal.h"

namespace tdslite::sql::function_detail {

Message DivideByZero() {
  return MakeMessage(8134, 1, 16, "Divide by zero error encountered.");
}

namespace {

// + and - as they are, *, / and % (any other operator) by the storage's own rules.
template <typename T, typename Times, typename Divide, typename Remainder>
T Apply(char op, T a, T b, Times times, Divide divide, Remainder remainder) {
  switch (op) {
    case '+':
      return a + b;
    case '-':
      return a - b;
    case '*':
      return times(a, b);
    case '/':
      return divide(a, b);
    default:
      return remainder(a, b);
  }
}

// One operand or result of the arithmetic below, in its type's storage:
// integers and money as int64, float and real as double, decimals as
// their canonical text.
struct Number {
  bool null = false;
  int64_t i = 0;
  double f = 0;
  std::string text;
};

Number ReadNumber(sqlite3_value* v, Storage storage) {
  Number n;
  if (sqlite3_value_type(v) == SQLITE_NULL) {
    n.null = true;
    return n;
  }
  switch (storage) {
    case Storage::kReal:
      n.f = sqlite3_value_double(v);
      break;
    case Storage::kDecimalText:
      n.text = ValueText(v);
      break;
    default:
      n.i = sqlite3_value_int64(v);
      break;
  }
  return n;
}

// a op b in result type t; throws Failure on overflow or a zero divisor.
Number Calculate(char o, const Number& x, const Number& y, const ColumnType& t) {
  Number out;
  if (x.null || y.null) {
    out.null = true;
    return out;
  }
  switch (StorageOf(t.id)) {
    case Storage::kInteger: {
      const int64_t a = x.i, b = y.i;
      int64_t r = 0;
      bool overflow = false;
      switch (o) {
        case '+':
          overflow = __builtin_add_overflow(a, b, &r);
          break;
        case '-':
          overflow = __builtin_sub_overflow(a, b, &r);
          break;
        case '*':
          overflow = __builtin_mul_overflow(a, b, &r);
          break;
        case '/':
        case '%':
          if (b == 0) throw Failure{DivideByZero()};
          if (a == std::numeric_limits<int64_t>::min() && b == -1) {
            overflow = true;
          } else {
            r = o == '/' ? a / b : a % b;
          }
          break;
        case '&':
          r = a & b;
          break;
        case '|':
          r = a | b;
          break;
        case '^':
          r = a ^ b;
          break;
        default:
          break;
      }
      if (overflow || !IntegerFits(r, t.id)) throw Failure{Overflow(t)};
      out.i = r;
      return out;
    }
    case Storage::kReal: {
      const double r = Apply(
          o, x.f, y.f, [](double a, double b) { return a * b; },
          [](double a, double b) {
            if (b == 0) throw Failure{DivideByZero()};
            return a / b;
          },
          [](double a, double b) { return std::fmod(a, b); });
      if (std::isinf(r) || std::isnan(r)) {
        throw Failure{MakeMessage(
            8115, 2, 16, "Arithmetic overflow error converting expression to data type float.")};
      }
      out.f = t.id == TypeId::kReal ? static_cast<float>(r) : r;
      return out;
    }
    case Storage::kMoney: {
      const Int128 a = x.i, b = y.i;
      // Four decimal places: a product has eight, a quotient is scaled up first.
      const Int128 r = Apply(
          o, a, b, [](Int128 p, Int128 q) { return Rescale(p * q, 8, 4); },
          [](Int128 p, Int128 q) {
            if (q == 0) throw Failure{DivideByZero()};
            return p * 10000 / q;
          },
          [](Int128 p, Int128 q) {
            if (q == 0) throw Failure{DivideByZero()};
            return p % q;
          });
      if (!MoneyFits(r, t.id)) throw Failure{Overflow(t)};
      out.i = static_cast<int64_t>(r);
      return out;
    }
    case Storage::kDecimalText: {
      Int128 a = 0, b = 0;
      int sa = 0, sb = 0;
      if (!ParseCanonical(x.text, &a, &sa) || !ParseCanonical(y.text, &b, &sb)) {
        throw Failure{Overflow(t)};
      }
      const int s = t.scale;
      Int128 r = 0;
      auto fits = [](Int128 v, int extra) { return DigitCount(v) + extra <= 38; };
      switch (o) {
        case '+':
        case '-': {
          int m = sa > sb ? sa : sb;
          if (!fits(a, m - sa) || !fits(b, m - sb)) throw Failure{Overflow(t)};
          Int128 p = a * Pow10(m - sa), q = b * Pow10(m - sb);
          r = Rescale(o == '+' ? p + q : p - q, m, s);
          break;
        }
        case '*': {
          Int128 product = 0;
          if (__builtin_mul_overflow(a, b, &product)) throw Failure{Overflow(t)};
          r = Rescale(product, sa + sb, s);
          break;
        }
        case '/': {
          if (b == 0) throw Failure{DivideByZero()};
          // a/b at scale s: a * 10^(s + sb - sa) / b, rounded; one extra digit for rounding.
          int k = s + sb - sa + 1;
          Int128 num = a;
          if (k >= 0) {
            if (!fits(a, k)) throw Failure{Overflow(t)};
            num = a * Pow10(k);
          } else {
            num = a / Pow10(-k);
          }
          Int128 q = num / b;
          r = Rescale(q, 1, 0);
          break;
        }
        default: {
          if (b == 0) throw Failure{DivideByZero()};
          int m = sa > sb ? sa : sb;
          Int128 p = a * Pow10(m - sa), q = b * Pow10(m - sb);
          r = Rescale(p % q, m, s);
          break;
        }
      }
      if (DigitCount(r) > t.precision || DigitCount(r) > 38) throw Failure{Overflow(t)};
      out.text = FormatScaled(r, s);
      return out;
    }
    default:
      out.null = true;
      return out;
  }
}

void ResultNumber(sqlite3_context* ctx, const Number& n, const ColumnType& t) {
  if (n.null) {
    sqlite3_result_null(ctx);
    return;
  }
  switch (StorageOf(t.id)) {
    case Storage::kReal:
      sqlite3_result_double(ctx, n.f);
      return;
    case Storage::kDecimalText:
      ResultText(ctx, n.text);
      return;
    default:
      sqlite3_result_int64(ctx, n.i);
      return;
  }
}

}  // namespace

// tds_op(op, a, b, result type): arithmetic on operands already in the
// result type's storage (decimals keep their own scale in their text).
void OpFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc != 4) return;
  const std::string op = ValueText(argv[0]);
  const ColumnType t = UnpackType(sqlite3_value_int64(argv[3]));
  const Storage storage = StorageOf(t.id);
  try {
    ResultNumber(ctx,
                 Calculate(op.empty() ? '+' : op[0], ReadNumber(argv[1], storage),
                           ReadNumber(argv[2], storage), t),
                 t);
  } catch (const Failure& f) {
    Fail(ctx, f.msg);
  }
}

// tds_ops(a, op1, b1, type1, op2, b2, type2, ...): a chain of operators
// applied from the left, as a op1 b1 op2 b2 ... is evaluated: one call
// instead of calls nested as deep as the chain is long. Each step's left
// operand is the step before, already in that step's storage.
void OpsFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc < 4 || (argc - 1) % 3 != 0) return;
  try {
    ColumnType t = UnpackType(sqlite3_value_int64(argv[3]));
    Number value = ReadNumber(argv[0], StorageOf(t.id));
    for (int k = 1; k + 2 < argc; k += 3) {
      t = UnpackType(sqlite3_value_int64(argv[k + 2]));
      const std::string op = ValueText(argv[k]);
      value =
          Calculate(op.empty() ? '+' : op[0], value, ReadNumber(argv[k + 1], StorageOf(t.id)), t);
    }
    ResultNumber(ctx, value, t);
  } catch (const Failure& f) {
    Fail(ctx, f.msg);
  }
}

// tds_neg(x, type)
void NegFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  switch (StorageOf(t.id)) {
    case Storage::kDecimalText: {
      Int128 v;
      int s;
      if (!ParseCanonical(ValueText(argv[0]), &v, &s)) v = 0, s = 0;
      ResultText(ctx, FormatScaled(-v, s));
      return;
    }
    case Storage::kReal:
      sqlite3_result_double(ctx, -sqlite3_value_double(argv[0]));
      return;
    default: {
      int64_t v = sqlite3_value_int64(argv[0]);
      if (v == std::numeric_limits<int64_t>::min() || !IntegerFits(-v, t.id)) {
        Fail(ctx, Overflow(t));
        return;
      }
      sqlite3_result_int64(ctx, -v);
    }
  }
}

// tds_round(x, digits, truncate, type), tds_floor(x, type), tds_ceiling(x, type)
void RoundFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  int64_t digits = sqlite3_value_int64(argv[1]);
  bool truncate = sqlite3_value_type(argv[2]) != SQLITE_NULL && sqlite3_value_int64(argv[2]) != 0;
  ColumnType t = UnpackType(sqlite3_value_int64(argv[argc - 1]));
  if (digits > 38) digits = 38;
  if (digits < -38) digits = -38;
  auto round_scaled = [&](Int128 v, int scale) -> Int128 {
    // Keep `digits` places after the point.
    int drop = scale - static_cast<int>(digits);
    if (drop <= 0) return v;
    if (drop > 38) return 0;
    Int128 p = Pow10(drop);
    Int128 q = v / p;
    Int128 r = v % p;
    if (!truncate) {
      if (r < 0) r = -r;
      if (r * 2 >= p) q += v < 0 ? -1 : 1;
    }
    return q * p;
  };
  switch (StorageOf(t.id)) {
    case Storage::kInteger: {
      Int128 v = round_scaled(sqlite3_value_int64(argv[0]), 0);
      if (!IntegerFits(static_cast<int64_t>(v), t.id)) {
        Fail(ctx, Overflow(t));
        return;
      }
      sqlite3_result_int64(ctx, static_cast<int64_t>(v));
      return;
    }
    case Storage::kMoney:
      sqlite3_result_int64(ctx,
                           static_cast<int64_t>(round_scaled(sqlite3_value_int64(argv[0]), 4)));
      return;
    case Storage::kDecimalText: {
      Int128 v;
      int s;
      if (!ParseCanonical(ValueText(argv[0]), &v, &s)) v = 0, s = 0;
      // The result keeps the argument's type: a carry into a new digit
      // overflows it, as on the server.
      Int128 r = Rescale(round_scaled(v, s), s, t.scale);
      if (DigitCount(r) > t.precision) {
        Fail(ctx, Overflow(t));
        return;
      }
      ResultText(ctx, FormatScaled(r, t.scale));
      return;
    }
    default: {
      double v = sqlite3_value_double(argv[0]);
      double p = std::pow(10.0, static_cast<double>(digits));
      double r = truncate ? std::trunc(v * p) / p : std::round(v * p) / p;
      sqlite3_result_double(ctx, r);
    }
  }
}

void FloorCeil(sqlite3_context* ctx, sqlite3_value** argv, bool ceiling) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  auto adjust = [&](Int128 v, int scale) -> Int128 {
    Int128 p = Pow10(scale);
    Int128 q = v / p;
    Int128 r = v % p;
    if (r != 0 && ceiling && v > 0) q += 1;
    if (r != 0 && !ceiling && v < 0) q -= 1;
    return q;
  };
  switch (StorageOf(t.id)) {
    case Storage::kInteger:
      sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
      return;
    case Storage::kMoney:
      sqlite3_result_int64(ctx,
                           static_cast<int64_t>(adjust(sqlite3_value_int64(argv[0]), 4) * 10000));
      return;
    case Storage::kDecimalText: {
      Int128 v;
      int s;
      if (!ParseCanonical(ValueText(argv[0]), &v, &s)) v = 0, s = 0;
      ResultText(ctx, FormatScaled(adjust(v, s), 0));
      return;
    }
    default: {
      double v = sqlite3_value_double(argv[0]);
      sqlite3_result_double(ctx, ceiling ? std::ceil(v) : std::floor(v));
    }
  }
}

void FloorFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  FloorCeil(ctx, argv, false);
}

void CeilingFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  FloorCeil(ctx, argv, true);
}

// tds_abs(x, type)
void AbsFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  switch (StorageOf(t.id)) {
    case Storage::kDecimalText: {
      Int128 v;
      int s;
      if (!ParseCanonical(ValueText(argv[0]), &v, &s)) v = 0, s = 0;
      ResultText(ctx, FormatScaled(v < 0 ? -v : v, s));
      return;
    }
    case Storage::kReal:
      sqlite3_result_double(ctx, std::fabs(sqlite3_value_double(argv[0])));
      return;
    default: {
      int64_t v = sqlite3_value_int64(argv[0]);
      if (v < 0 && (v == std::numeric_limits<int64_t>::min() || !IntegerFits(-v, t.id))) {
        Fail(ctx, Overflow(t));
        return;
      }
      sqlite3_result_int64(ctx, v < 0 ? -v : v);
    }
  }
}

Int128 LoadSum(const DecimalAccumulator& acc) {
  Int128 v;
  std::memcpy(&v, acc.sum, sizeof v);
  return v;
}

void StoreSum(DecimalAccumulator* acc, Int128 v) {
  std::memcpy(acc->sum, &v, sizeof v);
}

DecimalAccumulator* DecimalArgument(sqlite3_context* ctx, sqlite3_value* arg, Int128* v,
                                    int* scale) {
  // Zero-filled on first use, which is a sum of 0 at scale 0.
  auto* acc =
      static_cast<DecimalAccumulator*>(sqlite3_aggregate_context(ctx, sizeof(DecimalAccumulator)));
  if (acc == nullptr || sqlite3_value_type(arg) == SQLITE_NULL) return nullptr;
  if (!ParseCanonical(ValueText(arg), v, scale)) return nullptr;
  return acc;
}

void DecimalStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Int128 v;
  int s;
  DecimalAccumulator* acc = DecimalArgument(ctx, argv[0], &v, &s);
  if (acc == nullptr) return;
  Int128 sum = LoadSum(*acc);
  if (s > acc->scale) {
    sum = Rescale(sum, acc->scale, s);
    acc->scale = s;
  } else if (s < acc->scale) {
    v = Rescale(v, s, acc->scale);
  }
  if (__builtin_add_overflow(sum, v, &sum) || DigitCount(sum) > 38) acc->overflow = true;
  StoreSum(acc, sum);
  ++acc->count;
}

void DecimalFinal(sqlite3_context* ctx, bool average) {
  auto* acc = static_cast<DecimalAccumulator*>(sqlite3_aggregate_context(ctx, 0));
  if (acc == nullptr || acc->count == 0) {
    sqlite3_result_null(ctx);
    return;
  }
  if (acc->overflow) {
    Fail(ctx, MakeMessage(8115, 2, 16,
                          "Arithmetic overflow error converting expression to data type numeric."));
    return;
  }
  const Int128 sum = LoadSum(*acc);
  if (!average) {
    ResultText(ctx, FormatScaled(sum, acc->scale));
    return;
  }
  // SQL Server's avg of decimal(p,s) has scale max(s, 6).
  int scale = acc->scale < 6 ? 6 : acc->scale;
  Int128 num = Rescale(sum, acc->scale, scale);
  Int128 q = num / acc->count;
  ResultText(ctx, FormatScaled(q, scale));
}

void DecimalSumFinal(sqlite3_context* ctx) {
  DecimalFinal(ctx, false);
}
void DecimalAvgFinal(sqlite3_context* ctx) {
  DecimalFinal(ctx, true);
}

// tds_sign(x, type)
void SignFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  int sign = 0;
  switch (StorageOf(t.id)) {
    case Storage::kDecimalText: {
      Int128 v;
      int s;
      if (!ParseCanonical(ValueText(argv[0]), &v, &s)) v = 0, s = 0;
      sign = v > 0 ? 1 : v < 0 ? -1 : 0;
      ResultText(ctx, FormatScaled(Int128(sign) * Pow10(t.scale), t.scale));
      return;
    }
    case Storage::kReal: {
      double v = sqlite3_value_double(argv[0]);
      sqlite3_result_double(ctx, v > 0 ? 1.0 : v < 0 ? -1.0 : 0.0);
      return;
    }
    case Storage::kMoney: {
      int64_t v = sqlite3_value_int64(argv[0]);
      sqlite3_result_int64(ctx, v > 0 ? 10000 : v < 0 ? -10000 : 0);
      return;
    }
    default: {
      int64_t v = sqlite3_value_int64(argv[0]);
      sqlite3_result_int64(ctx, v > 0 ? 1 : v < 0 ? -1 : 0);
    }
  }
}

// tds_fmath(op, x[, y]): the float functions. A result that is not a
// number (the logarithm of 0, the square root of -1) is the server's
// "invalid floating point operation".
void FloatMathFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  for (int k = 1; k < argc; ++k) {
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
  }
  const std::string op = ValueText(argv[0]);
  const double x = argc > 1 ? sqlite3_value_double(argv[1]) : 0;
  const double y = argc > 2 ? sqlite3_value_double(argv[2]) : 0;
  double r = 0;
  if (op == "power") {
    r = std::pow(x, y);
  } else if (op == "sqrt") {
    r = x < 0 ? std::nan("") : std::sqrt(x);
  } else if (op == "square") {
    r = x * x;
  } else if (op == "exp") {
    r = std::exp(x);
  } else if (op == "log") {
    r = x <= 0 || (argc > 2 && (y <= 0 || y == 1)) ? std::nan("")
        : argc > 2                                 ? std::log(x) / std::log(y)
                                                   : std::log(x);
  } else if (op == "log10") {
    r = x <= 0 ? std::nan("") : std::log10(x);
  } else if (op == "pi") {
    r = 3.141592653589793;
  }
  if (std::isnan(r)) {
    Fail(ctx, MakeMessage(3623, 1, 16, "An invalid floating point operation occurred."));
    return;
  }
  if (std::isinf(r)) {
    Fail(ctx, MakeMessage(8115, 2, 16,
                          "Arithmetic overflow error converting expression to data type float."));
    return;
  }
  sqlite3_result_double(ctx, r);
}

}  // namespace tdslite::sql::function_detail
