// The types as the catalog describes them: sizes, precisions, tds_type_attr().
#include "catalog_views_internal.h"
#include "functions_internal.h"

namespace tdslite::sql::catalog_detail {

const SystemType* FindSystemType(std::string_view name) {
  for (const SystemType& t : kSystemTypes) {
    if (EqualsIgnoreCase(t.name, name)) return &t;
  }
  return nullptr;
}

const SystemType* FindSystemTypeId(int64_t user_type_id) {
  for (const SystemType& t : kSystemTypes) {
    if (t.user_type_id == user_type_id) return &t;
  }
  return nullptr;
}

bool Named(const ColumnType& t, std::string_view name) {
  return TypeName(t.id) == name;
}

// The fractional-second types (time, datetime2, datetimeoffset) keep their
// scale in `scale`.
bool IsFractionalTime(const ColumnType& t) {
  return Named(t, "time") || Named(t, "datetime2") || Named(t, "datetimeoffset");
}

// A (max) type or one without a stored length.
bool IsMaxLength(const ColumnType& t) {
  if (IsLobType(t.id) || !(IsCharType(t.id) || IsBinaryType(t.id))) return false;
  return t.length <= 0 || t.length > (IsUnicodeType(t.id) ? 4000 : 8000);
}

int DecimalBytes(int precision) {
  return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

// sys.columns.max_length: the column's size in bytes.
int64_t MaxLength(const ColumnType& t) {
  if (IsMaxLength(t)) return -1;
  if (IsLobType(t.id)) return 16;
  if (IsCharType(t.id) || IsBinaryType(t.id)) return IsUnicodeType(t.id) ? 2 * t.length : t.length;
  if (IsDecimalType(t.id)) return DecimalBytes(t.precision);
  if (IsFractionalTime(t)) {
    const int base = t.scale <= 2 ? 3 : t.scale <= 4 ? 4 : 5;
    return Named(t, "time") ? base : Named(t, "datetime2") ? base + 3 : base + 5;
  }
  const SystemType* s = FindSystemType(TypeName(t.id));
  return s != nullptr ? s->max_length : 0;
}

int64_t Precision(const ColumnType& t) {
  if (IsDecimalType(t.id)) return t.precision;
  if (IsFractionalTime(t)) {
    const int extra = t.scale == 0 ? 0 : t.scale + 1;
    return (Named(t, "time") ? 8 : Named(t, "datetime2") ? 19 : 26) + extra;
  }
  const SystemType* s = FindSystemType(TypeName(t.id));
  return s != nullptr && !s->collated ? s->precision : 0;
}

int64_t Scale(const ColumnType& t) {
  if (IsDecimalType(t.id) || IsFractionalTime(t)) return t.scale;
  const SystemType* s = FindSystemType(TypeName(t.id));
  return s != nullptr && !s->collated ? s->scale : 0;
}

void TypeAttr(sqlite3_context* ctx, const ColumnType& t, int attr) {
  const bool chars = IsCharType(t.id);
  const bool sized = chars || IsBinaryType(t.id);
  const bool integer = IsIntegerType(t.id) && t.id != TypeId::kBit;
  switch (attr) {
    case kAttrName:
      return function_detail::ResultText(ctx, TypeName(t.id));
    case kAttrSystemTypeId: {
      const SystemType* s = FindSystemType(TypeName(t.id));
      return sqlite3_result_int(ctx, s != nullptr ? s->system_type_id : 0);
    }
    case kAttrMaxLength:
      return sqlite3_result_int64(ctx, MaxLength(t));
    case kAttrPrecision:
      return sqlite3_result_int64(ctx, Precision(t));
    case kAttrScale:
      return sqlite3_result_int64(ctx, Scale(t));
    case kAttrCharMaxLength:
    case kAttrOctetLength: {
      if (!sized) return sqlite3_result_null(ctx);
      if (IsMaxLength(t)) return sqlite3_result_int(ctx, -1);
      const bool octets = attr == kAttrOctetLength;
      if (t.id == TypeId::kNText)
        return sqlite3_result_int64(ctx, octets ? 2147483646 : 1073741823);
      if (IsLobType(t.id)) return sqlite3_result_int64(ctx, 2147483647);
      return sqlite3_result_int64(ctx, octets && IsUnicodeType(t.id) ? 2 * t.length : t.length);
    }
    case kAttrNumericPrecision:
    case kAttrRadix:
    case kAttrNumericScale: {
      const bool floating = IsFloatType(t.id);
      if (!(integer || floating || IsDecimalType(t.id) || IsMoneyType(t.id))) {
        return sqlite3_result_null(ctx);
      }
      if (attr == kAttrNumericPrecision) return sqlite3_result_int64(ctx, Precision(t));
      if (attr == kAttrRadix) return sqlite3_result_int(ctx, floating ? 2 : 10);
      if (floating) return sqlite3_result_null(ctx);
      return sqlite3_result_int64(ctx, Scale(t));
    }
    case kAttrDatetimePrecision:
      if (t.id == TypeId::kDateTime) return sqlite3_result_int(ctx, 3);
      if (t.id == TypeId::kSmallDateTime || Named(t, "date")) return sqlite3_result_int(ctx, 0);
      if (IsFractionalTime(t)) return sqlite3_result_int(ctx, t.scale);
      return sqlite3_result_null(ctx);
    case kAttrCharacterSet:
      if (!chars) return sqlite3_result_null(ctx);
      return function_detail::ResultText(ctx, IsUnicodeType(t.id) ? "UNICODE" : "iso_1");
    case kAttrCollation:
      if (!chars) return sqlite3_result_null(ctx);
      return function_detail::ResultText(ctx, kCollation);
    default:
      return sqlite3_result_null(ctx);
  }
}

}  // namespace tdslite::sql::catalog_detail
