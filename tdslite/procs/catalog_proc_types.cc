// How sp_help and the ODBC catalog procedures (sp_columns) describe a type.
#include "catalog_procs_internal.h"

namespace tdslite::procs::catalog_detail {

bool IsNamed(const ColumnType& t, const char* name) {
  return sql::TypeName(t.id) == name;
}

int64_t StorageLength(const ColumnType& t) {
  if (sql::IsLobType(t.id)) return 16;
  if (sql::IsCharType(t.id) || sql::IsBinaryType(t.id)) {
    if (t.length <= 0) return -1;
    return sql::IsUnicodeType(t.id) ? 2 * t.length : t.length;
  }
  if (sql::IsDecimalType(t.id)) {
    return t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17;
  }
  switch (t.id) {
    case TypeId::kTinyInt:
    case TypeId::kBit:
      return 1;
    case TypeId::kSmallInt:
      return 2;
    case TypeId::kInt:
    case TypeId::kReal:
    case TypeId::kSmallMoney:
    case TypeId::kSmallDateTime:
      return 4;
    default:
      return 8;
  }
}

OdbcType Odbc(const ColumnType& t, bool nullable) {
  OdbcType o;
  const int64_t n = t.length;
  auto exact = [&](int code, int64_t precision, int64_t length, int ss, int ss_null) {
    o.data_type = code;
    o.precision = precision;
    o.length = length;
    o.scale = 0;
    o.radix = 10;
    o.ss_data_type = nullable ? ss_null : ss;
  };
  switch (t.id) {
    case TypeId::kTinyInt:
      exact(-6, 3, 1, 48, 38);
      break;
    case TypeId::kSmallInt:
      exact(5, 5, 2, 52, 38);
      break;
    case TypeId::kInt:
      exact(4, 10, 4, 56, 38);
      break;
    case TypeId::kBigInt:
      exact(-5, 19, 8, 127, 38);
      break;
    case TypeId::kBit:
      exact(-7, 1, 1, 50, 50);
      o.scale = std::nullopt;
      o.radix = std::nullopt;
      break;
    case TypeId::kDecimal:
    case TypeId::kNumeric:
      exact(t.id == TypeId::kDecimal ? 3 : 2, t.precision, t.precision + 2,
            t.id == TypeId::kDecimal ? 55 : 63, t.id == TypeId::kDecimal ? 106 : 108);
      o.scale = t.scale;
      break;
    case TypeId::kMoney:
      exact(3, 19, 21, 60, 110);
      o.scale = 4;
      break;
    case TypeId::kSmallMoney:
      exact(3, 10, 12, 122, 110);
      o.scale = 4;
      break;
    case TypeId::kFloat:
      exact(6, 15, 8, 62, 109);
      o.scale = std::nullopt;
      break;
    case TypeId::kReal:
      exact(7, 7, 4, 59, 109);
      o.scale = std::nullopt;
      break;
    case TypeId::kDateTime:
    case TypeId::kSmallDateTime:
      o.data_type = 11;
      o.precision = t.id == TypeId::kDateTime ? 23 : 16;
      o.length = 16;
      o.scale = t.id == TypeId::kDateTime ? 3 : 0;
      o.datetime_sub = 3;
      o.sql_data_type = 9;
      o.ss_data_type = nullable ? 111 : (t.id == TypeId::kDateTime ? 61 : 58);
      return o;
    default: {
      const bool unicode = sql::IsUnicodeType(t.id);
      const bool binary = sql::IsBinaryType(t.id);
      if (sql::IsLobType(t.id)) {
        o.data_type = t.id == TypeId::kText ? -1 : t.id == TypeId::kNText ? -10 : -4;
        o.precision = t.id == TypeId::kNText ? 1073741823 : 2147483647;
        o.length = 2147483647;
        if (!binary) o.octets = 2147483647;
        o.ss_data_type = t.id == TypeId::kText ? 35 : t.id == TypeId::kNText ? 99 : 34;
      } else if (sql::IsCharType(t.id) || binary) {
        const bool fixed =
            t.id == TypeId::kChar || t.id == TypeId::kNChar || t.id == TypeId::kBinary;
        o.data_type = binary ? (fixed ? -2 : -3) : unicode ? (fixed ? -8 : -9) : (fixed ? 1 : 12);
        o.precision = n;
        o.length = unicode ? 2 * n : n;
        if (!binary) o.octets = unicode ? 2 * n : n;
        o.ss_data_type = binary ? (fixed ? 45 : 37) : (fixed ? 47 : 39);
      } else {
        // The types SQL Server added later, described as ODBC 2 does:
        // as character strings.
        o.data_type = -9;
        o.precision = IsNamed(t, "date") ? 10 : 27;
        o.length = 2 * *o.precision;
        o.ss_data_type = 39;
      }
      o.sql_data_type = o.data_type;
      return o;
    }
  }
  o.sql_data_type = o.data_type;
  return o;
}

}  // namespace tdslite::procs::catalog_detail
