// Conversion rules: which type converts to which, implicitly or by
// CAST/CONVERT, and the SQLite SQL that does it.
#include "compile_internal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

namespace tdslite::sql::compiler_detail {

// Converts `e` to `to`. `assign`: the value goes into a column.
Typed ExprCompiler::Convert(const Typed& e, const ColumnType& to, bool assign, int style) {
  Typed out = e;
  out.column_name.clear();
  out.identity = false;
  out.rowid_sql.clear();
  out.literal_digits = 0;  // a converted literal has its target's type
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

bool ExprCompiler::NeedsConversion(const ColumnType& from, const ColumnType& to, bool assign) {
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
    case Storage::kWideTime:
    case Storage::kOffsetText:
      // Same type, no fewer fractional digits: the stored value is the same.
      return from.id != to.id || from.scale > to.scale;
    case Storage::kGuid:
      return false;
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

void ExprCompiler::CheckConvertible(const ColumnType& from, const ColumnType& to) {
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
  // The date and time types convert to and from strings and each other;
  // uniqueidentifier to and from strings and binary values.
  const bool fw = IsTemporalType(from.id), tw = IsTemporalType(to.id);
  if ((IsWideTimeType(from.id) || IsWideTimeType(to.id)) && fw != tw) {
    const TypeId other = fw ? to.id : from.id;
    if (!IsCharType(other) || IsLobType(other)) refuse();
  }
  if ((from.id == TypeId::kTime && to.id == TypeId::kDate) ||
      (from.id == TypeId::kDate && to.id == TypeId::kTime)) {
    refuse();
  }
  const bool fg = from.id == TypeId::kUniqueIdentifier, tg = to.id == TypeId::kUniqueIdentifier;
  if (fg != tg) {
    const TypeId other = fg ? to.id : from.id;
    if (!(IsCharType(other) || IsBinaryType(other)) || IsLobType(other)) refuse();
  }
}

// Adds the collation a comparison of this type needs.
std::string ExprCompiler::Collated(const std::string& sql, const ColumnType& t) {
  switch (StorageOf(t.id)) {
    case Storage::kText:
      return "(" + sql + " COLLATE TDSCI)";
    case Storage::kDecimalText:
      return "(" + sql + " COLLATE TDSDEC)";
    case Storage::kOffsetText:
      return "(" + sql + " COLLATE TDSDTO)";
    default:
      return sql;
  }
}

}  // namespace tdslite::sql::compiler_detail
