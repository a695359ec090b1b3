// isnumeric, patindex, soundex, translate, checksum, ident_current,
// string_agg, and try_cast / try_convert.
#include "compile_internal.h"

namespace tdslite::sql::compiler_detail {

Typed ExprCompiler::TryConversion(const Expr& e, const Scope* scope, bool allow_aggregate) {
  Typed arg = Value(*e.args[0], scope, allow_aggregate);
  trying_ = true;
  Typed t;
  try {
    t = Compile(e, scope, allow_aggregate);
  } catch (const Failure& f) {
    trying_ = false;
    // A constant that does not convert answers NULL, as at run time.
    switch (f.error.message.number) {
      case 220:
      case 241:
      case 242:
      case 245:
      case 248:
      case 8114:
      case 8115:
        return Constant("NULL", e.cast_type, true);
      default:
        throw;
    }
  }
  trying_ = false;
  if (t.sql != arg.sql && t.sql.rfind("tds_cvt(", 0) == 0) {
    t.sql = "tds_trycvt(" + t.sql.substr(8);
  }
  t.t.nullable = true;
  return t;
}

Typed ExprCompiler::Misc(const Expr& e, const Scope* scope, bool allow_aggregate) {
  const std::string& f = e.text;
  const Builtin* b = FindBuiltin(f);
  if (e.star) NotSupported(f + "(*)");
  ArgCount(e, *b);
  if (f == "string_agg") return StringAgg(e, scope, allow_aggregate);
  if (f == "ident_current") return IdentCurrent(e);
  Typed out;  // nullable unless a function below says otherwise
  std::vector<Typed> args = Arguments(e, scope, allow_aggregate, &out);
  auto no_lob = [&](size_t i) {
    if (IsLobType(args[i].t.type.id)) {
      Throw(8116, 1, 16,
            "Argument data type " + TypeName(args[i].t.type.id) + " is invalid for argument " +
                std::to_string(i + 1) + " of " + f + " function.");
    }
  };
  if (f == "format") return Format(e, args);
  if (f == "isnumeric") {
    no_lob(0);
    const Typed& a = args[0];
    out.t = Make(IntType(TypeId::kInt), false);
    if (a.t.null_literal || IsDateType(a.t.type.id) || IsBinaryType(a.t.type.id)) {
      out.sql = "0";
    } else if (IsCharType(a.t.type.id)) {
      out.sql = "tds_isnumeric(" + a.sql + ")";
    } else {
      out.sql = "(CASE WHEN " + a.sql + " IS NULL THEN 0 ELSE 1 END)";
    }
    return out;
  }
  if (f == "patindex") {
    no_lob(0);
    out.t.type = IntType(TypeId::kInt);
    out.sql = "tds_patindex(" + AsString(args[0]).sql + "," + AsString(args[1]).sql + ")";
    return out;
  }
  if (f == "soundex") {
    no_lob(0);
    out.t.type = VarCharType(4, false);
    out.sql = "tds_soundex(" + AsString(args[0]).sql + ")";
    return out;
  }
  if (f == "translate") {
    for (size_t i = 0; i < 3; ++i) no_lob(i);
    Typed s = AsString(args[0]);
    ColumnType t = s.t.null_literal ? VarCharType(1, false) : s.t.type;
    if (t.id == TypeId::kChar) t.id = TypeId::kVarChar;
    if (t.id == TypeId::kNChar) t.id = TypeId::kNVarChar;
    out.t.type = t;
    out.sql =
        "tds_translate(" + s.sql + "," + AsString(args[1]).sql + "," + AsString(args[2]).sql + ")";
    return out;
  }
  // checksum, binary_checksum
  out.t = Make(IntType(TypeId::kInt), true);
  out.sql = std::string("tds_checksum(") + (f == "binary_checksum" ? "1" : "0");
  for (size_t i = 0; i < args.size(); ++i) {
    if (IsLobType(args[i].t.type.id)) {
      Throw(8184, 1, 16,
            "Error in " + f + ". There are no comparable columns in the " + f + " input.");
    }
    out.sql += "," + args[i].sql;
  }
  out.sql += ")";
  return out;
}

// ident_current('table'): the last identity value made for the table by
// any connection; its seed before the first row; NULL for no such table.
Typed ExprCompiler::IdentCurrent(const Expr& e) {
  const Expr& a = *e.args[0];
  std::string name;
  if (a.kind == ExprKind::kString || a.kind == ExprKind::kNString) {
    name = a.text;
  } else if (a.kind == ExprKind::kVariable && vars_.locals != nullptr &&
             vars_.locals->count(a.text) != 0 && vars_.locals->at(a.text).kind == SQLITE_TEXT) {
    name = vars_.locals->at(a.text).bytes;
  } else if (a.kind == ExprKind::kNull) {
    return Constant("NULL", DecimalType(38, 0), true);
  } else {
    NotSupported("ident_current() of a name that is not a constant or a variable");
  }
  for (const char* prefix : {"dbo.", "[dbo]."}) {
    if (name.size() > std::string(prefix).size() &&
        EqualsIgnoreCase(name.substr(0, std::string(prefix).size()), prefix)) {
      name = name.substr(std::string(prefix).size());
    }
  }
  auto table = LookupTable(db_, name);
  if (!table || table->identity_column < 0) return Constant("NULL", DecimalType(38, 0), true);
  const std::string seed = std::to_string(table->identity_seed);
  Typed v = Constant("(SELECT CASE WHEN max(seq) IS NULL OR max(seq) < " + seed + " THEN " + seed +
                         " ELSE max(seq) END FROM " + SchemaOf(table->name) +
                         ".sqlite_sequence WHERE name = " + QuoteText(table->name) + ")",
                     IntType(TypeId::kBigInt), true);
  Typed out = Convert(v, DecimalType(38, 0));
  out.t.nullable = true;
  return out;
}

// string_agg(value, separator) [within group (order by ...)]
Typed ExprCompiler::StringAgg(const Expr& e, const Scope* scope, bool allow_aggregate) {
  if (!allow_aggregate) {
    Throw(147, 1, 15,
          "An aggregate may not appear in the WHERE clause unless it is in a subquery "
          "contained in a HAVING clause or a select list, and the column being aggregated is "
          "an outer reference.");
  }
  if (e.distinct) Throw(102, 1, 15, "Incorrect syntax near 'distinct'.");
  Typed v = Value(*e.args[0], scope, false);
  Typed sep = Value(*e.args[1], scope, false);
  if (v.aggregate || sep.aggregate) {
    Throw(130, 1, 16,
          "Cannot perform an aggregate function on an expression containing an aggregate or a "
          "subquery.");
  }
  if (IsLobType(v.t.type.id) || IsLobType(sep.t.type.id)) {
    Throw(8116, 1, 16,
          "Argument data type " + TypeName(IsLobType(v.t.type.id) ? v.t.type.id : sep.t.type.id) +
              " is invalid for argument " + (IsLobType(v.t.type.id) ? "1" : "2") +
              " of string_agg function.");
  }
  const bool unicode =
      !IsCharType(v.t.type.id) || IsUnicodeType(v.t.type.id) || IsUnicodeType(sep.t.type.id);
  const ColumnType t = VarCharType(unicode ? 4000 : 8000, unicode);
  std::string value = IsCharType(v.t.type.id) ? v.sql : Convert(v, t).sql;
  std::string keys, key_kinds;
  if (e.within) {
    for (const OrderItem& item : e.within->order) {
      Typed k = Value(*item.expr, scope, false);
      if (IsLobType(k.t.type.id)) {
        Throw(306, 2, 16,
              "The text, ntext, and image data types cannot be compared or sorted, except when "
              "using IS NULL or LIKE operator.");
      }
      char code = 'n';
      if (StorageOf(k.t.type.id) == Storage::kText) code = 't';
      if (StorageOf(k.t.type.id) == Storage::kDecimalText) code = 'd';
      if (item.descending) code = static_cast<char>(code - 32);
      key_kinds += code;
      keys += "," + k.sql;
    }
  }
  Typed out;
  out.aggregate = true;
  out.t = Make(t, true);
  out.sql = "tds_stragg(" + value + "," + AsString(sep).sql + "," +
            std::to_string(unicode ? 4000 : 8000) + ",'" + key_kinds + "'" + keys + ")";
  return out;
}

// format(value, pattern[, culture]): en-US patterns (function_format.cc).
Typed ExprCompiler::Format(const Expr& e, const std::vector<Typed>& args) {
  Typed out;
  for (const Typed& a : args) TakeFlags(&out, a);
  out.t = Make(VarCharType(4000, true), true);
  if (args.size() > 2) {
    const Expr& c = *e.args[2];
    const bool constant = c.kind == ExprKind::kString || c.kind == ExprKind::kNString;
    if (!constant || (!EqualsIgnoreCase(c.text, "en-US") && !EqualsIgnoreCase(c.text, "en"))) {
      NotSupported("format() with a culture other than en-US");
    }
  }
  const Typed& v = args[0];
  const TypeId id = v.t.type.id;
  if (v.t.null_literal) {
    out.sql = "NULL";
    return out;
  }
  std::string kind, value;
  if (id == TypeId::kTime || id == TypeId::kDateTimeOffset) {
    NotSupported("format() of a " + TypeName(id) + " value");
  }
  if (IsDateType(id) || IsWideTimeType(id)) {
    kind = "w";
    value = Convert(v, VarCharType(40, false), false, 121).sql;
  } else if (IsIntegerType(id)) {
    kind = "i";
    value = v.sql;
  } else if (IsFloatType(id)) {
    kind = "f";
    value = v.sql;
  } else if (IsDecimalType(id) || IsMoneyType(id)) {
    kind = "n";
    Typed exact = IsMoneyType(id) ? Convert(v, DecimalType(19, 4)) : v;
    value = Convert(exact, VarCharType(60, false)).sql;
  } else {
    Throw(8116, 1, 16,
          "Argument data type " + TypeName(id) + " is invalid for argument 1 of format function.");
  }
  out.sql = "tds_format(" + value + ",'" + kind + "'," + AsString(args[1]).sql + ")";
  return out;
}

}  // namespace tdslite::sql::compiler_detail
