// The date functions (dateadd, datediff, datepart, datename, year, month,
// day, eomonth, the fromparts family, isdate, switchoffset), the clocks and
// newid(): their types, dateparts and SQL.
#include "compile_internal.h"
#include "date_parts.h"

namespace tdslite::sql::compiler_detail {

using R = BuiltinRule;

namespace {

ColumnType Scaled(TypeId id, int scale) {
  ColumnType t = IntType(id);
  t.scale = static_cast<uint8_t>(scale);
  return t;
}

// The datepart a call names in its first argument: a bare word, not a string.
DatePart PartArgument(const Expr& e, const std::string& function) {
  const Expr& a = *e.args[0];
  if (a.kind != ExprKind::kColumn || a.names.size() != 1) {
    Throw(1023, 1, 15, "Invalid parameter 1 specified for " + function + ".");
  }
  const std::string name = AsciiLower(a.names[0]);
  std::optional<DatePart> part = FindDatePart(name);
  if (!part) Throw(155, 1, 15, "'" + a.names[0] + "' is not a recognized " + function + " option.");
  return *part;
}

}  // namespace

bool ExprCompiler::IsDateRule(BuiltinRule rule) {
  switch (rule) {
    case R::kDatePart:
    case R::kDateAdd:
    case R::kDateDiff:
    case R::kDateName:
    case R::kEoMonth:
    case R::kFromParts:
    case R::kIsDate:
    case R::kClock:
    case R::kSwitchOffset:
    case R::kNewId:
      return true;
    default:
      return false;
  }
}

Typed ExprCompiler::DateArgument(const Typed& a, const ColumnType& as, const std::string& function,
                                 int position) {
  const TypeId id = a.t.type.id;
  if (a.t.null_literal) return Convert(a, as);
  if (IsTemporalType(id)) return a;
  if ((IsCharType(id) && !IsLobType(id)) || IsNumericType(id)) return Convert(a, as);
  Throw(8116, 1, 16,
        "Argument data type " + TypeName(id) + " is invalid for argument " +
            std::to_string(position) + " of " + function + " function.");
}

Typed ExprCompiler::DateFunction(const Expr& e, const Builtin& b, const Scope* scope,
                                 bool allow_aggregate) {
  const std::string& f = e.text;
  ArgCount(e, b);
  auto packed = [](const ColumnType& t) { return std::to_string(PackType(t)); };
  // Clocks and newid(): no arguments.
  if (b.rule == R::kClock) {
    ColumnType t = f == "getutcdate"          ? IntType(TypeId::kDateTime)
                   : f == "sysdatetimeoffset" ? Scaled(TypeId::kDateTimeOffset, 7)
                                              : Scaled(TypeId::kDateTime2, 7);
    const bool utc = f == "getutcdate" || f == "sysutcdatetime";
    return Constant("tds_now(" + packed(t) + "," + (utc ? "1" : "0") + ")", t, false);
  }
  if (b.rule == R::kNewId) {
    return Constant("tds_newid()", IntType(TypeId::kUniqueIdentifier), false);
  }
  // The datepart is a word, not a value: compile the other arguments only.
  const bool has_part = b.rule == R::kDateAdd || b.rule == R::kDateDiff || b.rule == R::kDateName;
  DatePart part = DatePart::kYear;
  if (has_part) part = PartArgument(e, f);
  std::vector<Typed> args;
  for (size_t i = has_part ? 1 : 0; i < e.args.size(); ++i) {
    args.push_back(Value(*e.args[i], scope, allow_aggregate));
  }
  Typed out;
  out.t.nullable = false;
  for (const Typed& a : args) {
    TakeFlags(&out, a);
    out.t.nullable = out.t.nullable || a.t.nullable;
  }
  const ColumnType wide = Scaled(TypeId::kDateTime2, 7);
  const std::string part_sql = std::to_string(static_cast<int>(part));
  const std::string datefirst = std::to_string(vars_.datefirst);
  auto int_arg = [&](size_t i, TypeId id = TypeId::kInt) {
    if (!args[i].t.null_literal && !IsNumericType(args[i].t.type.id) &&
        !IsCharType(args[i].t.type.id)) {
      Throw(8116, 1, 16,
            "Argument data type " + TypeName(args[i].t.type.id) + " is invalid for argument " +
                std::to_string(i + (has_part ? 2 : 1)) + " of " + f + " function.");
    }
    return Convert(args[i], IntType(id)).sql;
  };
  switch (b.rule) {
    case R::kDatePart: {  // year(), month(), day()
      Typed d = DateArgument(args[0], IntType(TypeId::kDateTime), f, 1);
      const DatePart p = f == "year"    ? DatePart::kYear
                         : f == "month" ? DatePart::kMonth
                                        : DatePart::kDay;
      out.t.type = IntType(TypeId::kInt);
      out.sql = "tds_datepart(" + std::to_string(static_cast<int>(p)) + "," + d.sql + "," +
                packed(d.t.type) + "," + datefirst + ")";
      return out;
    }
    case R::kDateName: {
      const bool name = f == "datename";
      const ColumnType as = part == DatePart::kTzOffset ? Scaled(TypeId::kDateTimeOffset, 7) : wide;
      Typed d = DateArgument(args[0], as, f, 2);
      out.t.type = name ? VarCharType(30, true) : IntType(TypeId::kInt);
      out.sql = std::string(name ? "tds_datename(" : "tds_datepart(") + part_sql + "," + d.sql +
                "," + packed(d.t.type) + "," + datefirst + ")";
      return out;
    }
    case R::kDateAdd: {
      if (part == DatePart::kTzOffset || part == DatePart::kIsoWeek) {
        Throw(155, 1, 15, "'" + e.args[0]->names[0] + "' is not a recognized dateadd option.");
      }
      // A string (or NULL) is taken as datetime, and so is the result.
      Typed d = DateArgument(args[1], IntType(TypeId::kDateTime), f, 3);
      out.t.type = d.t.type;
      out.sql =
          "tds_dateadd(" + part_sql + "," + int_arg(0) + "," + d.sql + "," + packed(d.t.type) + ")";
      return out;
    }
    case R::kDateDiff: {
      Typed a = DateArgument(args[0], wide, f, 2);
      Typed c = DateArgument(args[1], wide, f, 3);
      const bool big = f == "datediff_big";
      out.t.type = IntType(big ? TypeId::kBigInt : TypeId::kInt);
      out.sql = "tds_datediff(" + part_sql + "," + a.sql + "," + packed(a.t.type) + "," + c.sql +
                "," + packed(c.t.type) + "," + (big ? "1" : "0") + ")";
      return out;
    }
    case R::kEoMonth: {
      Typed d = DateArgument(args[0], IntType(TypeId::kDate), f, 1);
      out.t.type = IntType(TypeId::kDate);
      out.sql = "tds_eomonth(" + d.sql + "," + packed(d.t.type) + "," +
                (args.size() > 1 ? int_arg(1) : std::string("0")) + ")";
      return out;
    }
    case R::kFromParts: {
      ColumnType t = f == "datefromparts"            ? IntType(TypeId::kDate)
                     : f == "datetimefromparts"      ? IntType(TypeId::kDateTime)
                     : f == "smalldatetimefromparts" ? IntType(TypeId::kSmallDateTime)
                     : f == "timefromparts"          ? Scaled(TypeId::kTime, 7)
                                                     : Scaled(TypeId::kDateTime2, 7);
      size_t count = args.size();
      if (HasScale(t.id)) {
        // The precision: an integer constant from 0 to 7.
        std::optional<int64_t> p = ConstantInteger(*e.args.back());
        if (!p || *p < 0 || *p > 7) {
          Throw(10760, 1, 16,
                "Scale argument is not valid. Valid expressions for data type " + TypeName(t.id) +
                    " scale argument are integer constants and integer constant expressions.");
        }
        t.scale = static_cast<uint8_t>(*p);
        --count;
      }
      out.t.type = t;
      out.t.nullable = true;
      out.sql = "tds_fromparts(" + packed(t);
      for (size_t i = 0; i < count; ++i) out.sql += "," + int_arg(i, TypeId::kBigInt);
      out.sql += ")";
      return out;
    }
    case R::kIsDate: {
      const TypeId id = args[0].t.type.id;
      out.t.type = IntType(TypeId::kInt);
      out.t.nullable = false;
      if (IsTemporalType(id) && !args[0].t.null_literal) {
        // A date or time value is a date (not null) unless it is a time.
        out.sql = id == TypeId::kTime ? "0" : "(" + args[0].sql + " IS NOT NULL)";
        return out;
      }
      out.sql = "tds_isdate(" + AsString(args[0]).sql + ")";
      return out;
    }
    case R::kSwitchOffset: {
      const bool keep_local = f == "todatetimeoffset";
      Typed d = DateArgument(args[0], keep_local ? wide : Scaled(TypeId::kDateTimeOffset, 7), f, 1);
      if (!keep_local && d.t.type.id != TypeId::kDateTimeOffset) {
        d = Convert(d, Scaled(TypeId::kDateTimeOffset, 7));
      }
      const Typed& z = args[1];
      std::string zone;
      if (z.t.null_literal) {
        zone = "NULL";
      } else if (IsCharType(z.t.type.id)) {
        zone = z.sql;
      } else {
        zone = int_arg(1);
      }
      const int scale = HasScale(d.t.type.id)              ? d.t.type.scale
                        : d.t.type.id == TypeId::kDateTime ? 3
                                                           : 0;
      out.t.type = Scaled(TypeId::kDateTimeOffset, scale);
      out.sql = "tds_offset(" + d.sql + "," + packed(d.t.type) + "," + zone + "," +
                (keep_local ? "1" : "0") + ")";
      return out;
    }
    default:
      break;
  }
  NotSupported("The function " + f + "()");
}

}  // namespace tdslite::sql::compiler_detail
