#include "types.h"

#include <algorithm>

namespace tdslite::sql {

bool IsIntegerType(TypeId id) {
  return id == TypeId::kTinyInt || id == TypeId::kSmallInt || id == TypeId::kInt ||
         id == TypeId::kBigInt || id == TypeId::kBit;
}
bool IsDecimalType(TypeId id) {
  return id == TypeId::kDecimal || id == TypeId::kNumeric;
}
bool IsMoneyType(TypeId id) {
  return id == TypeId::kMoney || id == TypeId::kSmallMoney;
}
bool IsFloatType(TypeId id) {
  return id == TypeId::kReal || id == TypeId::kFloat;
}
bool IsExactNumeric(TypeId id) {
  return IsIntegerType(id) || IsDecimalType(id) || IsMoneyType(id);
}
bool IsNumericType(TypeId id) {
  return IsExactNumeric(id) || IsFloatType(id);
}
bool IsDateType(TypeId id) {
  return id == TypeId::kDateTime || id == TypeId::kSmallDateTime;
}
bool IsCharType(TypeId id) {
  return id == TypeId::kChar || id == TypeId::kVarChar || id == TypeId::kText ||
         id == TypeId::kNChar || id == TypeId::kNVarChar || id == TypeId::kNText;
}
bool IsUnicodeType(TypeId id) {
  return id == TypeId::kNChar || id == TypeId::kNVarChar || id == TypeId::kNText;
}
bool IsBinaryType(TypeId id) {
  return id == TypeId::kBinary || id == TypeId::kVarBinary || id == TypeId::kImage;
}
bool IsLobType(TypeId id) {
  return id == TypeId::kText || id == TypeId::kNText || id == TypeId::kImage;
}
bool IsWideTimeType(TypeId id) {
  return id == TypeId::kDate || id == TypeId::kTime || id == TypeId::kDateTime2 ||
         id == TypeId::kDateTimeOffset;
}
bool IsTemporalType(TypeId id) {
  return IsDateType(id) || IsWideTimeType(id);
}
bool HasScale(TypeId id) {
  return id == TypeId::kTime || id == TypeId::kDateTime2 || id == TypeId::kDateTimeOffset;
}
bool IsMaxType(const ColumnType& t) {
  return t.length == kMaxLength &&
         (t.id == TypeId::kVarChar || t.id == TypeId::kNVarChar || t.id == TypeId::kVarBinary);
}

int Precedence(TypeId id) {
  switch (id) {
    case TypeId::kDateTimeOffset:
      return 36;
    case TypeId::kDateTime2:
      return 35;
    case TypeId::kDateTime:
      return 34;
    case TypeId::kSmallDateTime:
      return 33;
    case TypeId::kDate:
      return 32;
    case TypeId::kTime:
      return 31;
    case TypeId::kFloat:
      return 28;
    case TypeId::kReal:
      return 27;
    case TypeId::kDecimal:
      return 26;
    case TypeId::kNumeric:
      return 26;
    case TypeId::kMoney:
      return 25;
    case TypeId::kSmallMoney:
      return 24;
    case TypeId::kBigInt:
      return 23;
    case TypeId::kInt:
      return 22;
    case TypeId::kSmallInt:
      return 21;
    case TypeId::kTinyInt:
      return 20;
    case TypeId::kBit:
      return 19;
    case TypeId::kNText:
      return 18;
    case TypeId::kText:
      return 17;
    case TypeId::kImage:
      return 16;
    case TypeId::kUniqueIdentifier:
      return 15;
    case TypeId::kNVarChar:
      return 14;
    case TypeId::kNChar:
      return 13;
    case TypeId::kVarChar:
      return 12;
    case TypeId::kChar:
      return 11;
    case TypeId::kVarBinary:
      return 10;
    case TypeId::kBinary:
      return 9;
  }
  return 0;
}

std::string TypeName(TypeId id) {
  switch (id) {
    case TypeId::kTinyInt:
      return "tinyint";
    case TypeId::kSmallInt:
      return "smallint";
    case TypeId::kInt:
      return "int";
    case TypeId::kBigInt:
      return "bigint";
    case TypeId::kBit:
      return "bit";
    case TypeId::kReal:
      return "real";
    case TypeId::kFloat:
      return "float";
    case TypeId::kSmallMoney:
      return "smallmoney";
    case TypeId::kMoney:
      return "money";
    case TypeId::kSmallDateTime:
      return "smalldatetime";
    case TypeId::kDateTime:
      return "datetime";
    case TypeId::kDecimal:
      return "decimal";
    case TypeId::kNumeric:
      return "numeric";
    case TypeId::kChar:
      return "char";
    case TypeId::kVarChar:
      return "varchar";
    case TypeId::kNChar:
      return "nchar";
    case TypeId::kNVarChar:
      return "nvarchar";
    case TypeId::kBinary:
      return "binary";
    case TypeId::kVarBinary:
      return "varbinary";
    case TypeId::kText:
      return "text";
    case TypeId::kNText:
      return "ntext";
    case TypeId::kImage:
      return "image";
    case TypeId::kDate:
      return "date";
    case TypeId::kTime:
      return "time";
    case TypeId::kDateTime2:
      return "datetime2";
    case TypeId::kDateTimeOffset:
      return "datetimeoffset";
    case TypeId::kUniqueIdentifier:
      return "uniqueidentifier";
  }
  return "?";
}

std::string TypeDeclaration(const ColumnType& t) {
  std::string name = TypeName(t.id);
  if (IsDecimalType(t.id)) {
    return name + "(" + std::to_string(t.precision) + "," + std::to_string(t.scale) + ")";
  }
  if ((IsCharType(t.id) || IsBinaryType(t.id)) && !IsLobType(t.id)) {
    if (t.length == kMaxLength) return name + "(max)";
    return name + "(" + std::to_string(t.length) + ")";
  }
  if (HasScale(t.id)) return name + "(" + std::to_string(t.scale) + ")";
  return name;
}

ColumnType IntType(TypeId id) {
  ColumnType t;
  t.id = id;
  return t;
}

ColumnType DecimalType(int precision, int scale) {
  ColumnType t;
  t.id = TypeId::kNumeric;
  t.precision = static_cast<uint8_t>(std::clamp(precision, 1, 38));
  t.scale = static_cast<uint8_t>(std::clamp(scale, 0, static_cast<int>(t.precision)));
  return t;
}

ColumnType VarCharType(int length, bool unicode) {
  ColumnType t;
  t.id = unicode ? TypeId::kNVarChar : TypeId::kVarChar;
  t.length = std::clamp(length, 1, unicode ? 4000 : 8000);
  return t;
}

std::optional<ColumnType> MakeType(std::string_view name, int argc, const int64_t* args,
                                   bool in_cast, std::string* error) {
  struct Entry {
    const char* name;
    TypeId id;
  };
  static constexpr Entry kTypes[] = {
      {"tinyint", TypeId::kTinyInt},
      {"smallint", TypeId::kSmallInt},
      {"int", TypeId::kInt},
      {"integer", TypeId::kInt},
      {"bigint", TypeId::kBigInt},
      {"bit", TypeId::kBit},
      {"real", TypeId::kReal},
      {"float", TypeId::kFloat},
      {"smallmoney", TypeId::kSmallMoney},
      {"money", TypeId::kMoney},
      {"smalldatetime", TypeId::kSmallDateTime},
      {"datetime", TypeId::kDateTime},
      {"decimal", TypeId::kDecimal},
      {"dec", TypeId::kDecimal},
      {"numeric", TypeId::kNumeric},
      {"char", TypeId::kChar},
      {"character", TypeId::kChar},
      {"varchar", TypeId::kVarChar},
      {"nchar", TypeId::kNChar},
      {"nvarchar", TypeId::kNVarChar},
      {"binary", TypeId::kBinary},
      {"varbinary", TypeId::kVarBinary},
      {"text", TypeId::kText},
      {"ntext", TypeId::kNText},
      {"image", TypeId::kImage},
      {"sysname", TypeId::kNVarChar},
      {"date", TypeId::kDate},
      {"time", TypeId::kTime},
      {"datetime2", TypeId::kDateTime2},
      {"datetimeoffset", TypeId::kDateTimeOffset},
      {"uniqueidentifier", TypeId::kUniqueIdentifier},
  };
  const Entry* found = nullptr;
  for (const Entry& e : kTypes) {
    if (name == e.name) found = &e;
  }
  if (found == nullptr) {
    *error = "Column, parameter, or variable #1: Cannot find data type " + std::string(name) + ".";
    return std::nullopt;
  }
  ColumnType t;
  t.id = found->id;
  if (name == "sysname") {
    if (argc != 0) {
      *error = "Type sysname does not take arguments.";
      return std::nullopt;
    }
    t.length = 128;
    return t;
  }
  if (IsDecimalType(t.id)) {
    int64_t p = argc >= 1 ? args[0] : 18;
    int64_t s = argc >= 2 ? args[1] : 0;
    if (p < 1 || p > 38) {
      *error = "Specified column precision " + std::to_string(p) +
               " is greater than the maximum precision of 38.";
      return std::nullopt;
    }
    if (s < 0 || s > p) {
      *error = "The scale " + std::to_string(s) + " for column is out of range.";
      return std::nullopt;
    }
    t.precision = static_cast<uint8_t>(p);
    t.scale = static_cast<uint8_t>(s);
    return t;
  }
  if (t.id == TypeId::kFloat) {
    // float(n): 1..24 is real, 25..53 float.
    if (argc >= 1) {
      if (args[0] < 1 || args[0] > 53) {
        *error = "Invalid float precision.";
        return std::nullopt;
      }
      if (args[0] <= 24) t.id = TypeId::kReal;
    }
    return t;
  }
  if (HasScale(t.id)) {
    // time(n), datetime2(n), datetimeoffset(n): n fractional digits, 7 by default.
    int64_t n = argc >= 1 ? args[0] : 7;
    if (argc > 1 || n < 0 || n > 7) {
      *error = "Specified scale " + std::to_string(n) + " is invalid.";
      return std::nullopt;
    }
    t.scale = static_cast<uint8_t>(n);
    return t;
  }
  const bool sized = (IsCharType(t.id) || IsBinaryType(t.id)) && !IsLobType(t.id);
  if (!sized) {
    if (argc != 0) {
      *error = "Type " + std::string(name) + " does not take arguments.";
      return std::nullopt;
    }
    return t;
  }
  const int64_t limit = IsUnicodeType(t.id) ? 4000 : 8000;
  int64_t length = argc >= 1 ? args[0] : (in_cast ? 30 : 1);
  if (argc == 1 && length == kMaxLength && t.id != TypeId::kChar && t.id != TypeId::kNChar &&
      t.id != TypeId::kBinary) {
    t.length = kMaxLength;  // (max): the parser writes max as kMaxLength
    return t;
  }
  if (argc > 1) {
    *error = "Too many arguments for type " + std::string(name) + ".";
    return std::nullopt;
  }
  if (length < 1 || length > limit) {
    *error = "The size (" + std::to_string(length) + ") given to the type '" + std::string(name) +
             "' exceeds the maximum allowed for any data type (" + std::to_string(limit) + ").";
    return std::nullopt;
  }
  t.length = static_cast<int32_t>(length);
  return t;
}

ColumnType AsDecimal(const ColumnType& t) {
  switch (t.id) {
    case TypeId::kBit:
      return DecimalType(1, 0);
    case TypeId::kTinyInt:
      return DecimalType(3, 0);
    case TypeId::kSmallInt:
      return DecimalType(5, 0);
    case TypeId::kInt:
      return DecimalType(10, 0);
    case TypeId::kBigInt:
      return DecimalType(19, 0);
    case TypeId::kSmallMoney:
      return DecimalType(10, 4);
    case TypeId::kMoney:
      return DecimalType(19, 4);
    default:
      return t;
  }
}

namespace {

// SQL Server caps precision at 38 by giving up scale, keeping at least 6
// digits of scale when the scale was larger than that.
ColumnType CapDecimal(int p, int s, TypeId id) {
  if (p > 38) {
    int integral = p - s;
    int min_scale = std::min(s, 6);
    s = std::max(38 - integral, min_scale);
    p = 38;
  }
  ColumnType t = DecimalType(p, s);
  t.id = id;
  return t;
}

}  // namespace

ColumnType ArithmeticType(char op, const ColumnType& a, const ColumnType& b) {
  const ColumnType& hi = Precedence(a.id) >= Precedence(b.id) ? a : b;
  if (IsFloatType(hi.id) || IsDateType(hi.id)) return IntType(hi.id);
  if (IsMoneyType(hi.id)) {
    if (IsMoneyType(a.id) && IsMoneyType(b.id) && op == '/') return IntType(TypeId::kMoney);
    return IntType(TypeId::kMoney);
  }
  if (IsDecimalType(hi.id)) {
    ColumnType da = AsDecimal(a);
    ColumnType db = AsDecimal(b);
    int p1 = da.precision, s1 = da.scale, p2 = db.precision, s2 = db.scale;
    switch (op) {
      case '+':
      case '-': {
        int s = std::max(s1, s2);
        int p = s + std::max(p1 - s1, p2 - s2) + 1;
        return CapDecimal(p, s, hi.id);
      }
      case '*':
        return CapDecimal(p1 + p2 + 1, s1 + s2, hi.id);
      case '/': {
        int s = std::max(6, s1 + p2 + 1);
        int p = p1 - s1 + s2 + s;
        return CapDecimal(p, s, hi.id);
      }
      default: {  // %
        int s = std::max(s1, s2);
        int p = std::min(p1 - s1, p2 - s2) + s;
        return CapDecimal(p, s, hi.id);
      }
    }
  }
  if (IsIntegerType(hi.id)) {
    // bit op bit is int; otherwise the wider integer type.
    if (hi.id == TypeId::kBit) return IntType(TypeId::kInt);
    return IntType(hi.id);
  }
  return hi;
}

ColumnType UnifyTypes(const ColumnType& a, const ColumnType& b) {
  if (IsDecimalType(a.id) || IsDecimalType(b.id)) {
    if (Precedence(a.id) > Precedence(TypeId::kDecimal)) return a;
    if (Precedence(b.id) > Precedence(TypeId::kDecimal)) return b;
    ColumnType da = AsDecimal(a);
    ColumnType db = AsDecimal(b);
    if (!IsDecimalType(da.id)) return db;
    if (!IsDecimalType(db.id)) return da;
    int s = std::max(da.scale, db.scale);
    int p = s + std::max(da.precision - da.scale, db.precision - db.scale);
    return CapDecimal(p, s, IsDecimalType(a.id) ? a.id : b.id);
  }
  const ColumnType& hi = Precedence(a.id) >= Precedence(b.id) ? a : b;
  if ((IsCharType(a.id) || IsBinaryType(a.id)) && (IsCharType(b.id) || IsBinaryType(b.id)) &&
      !IsLobType(hi.id)) {
    ColumnType t = hi;
    // varchar wins over char when lengths differ (union of char(2) and char(5) is char(5)).
    if ((a.id == TypeId::kVarChar || b.id == TypeId::kVarChar) && t.id == TypeId::kChar) {
      t.id = TypeId::kVarChar;
    }
    if ((a.id == TypeId::kNVarChar || b.id == TypeId::kNVarChar) && t.id == TypeId::kNChar) {
      t.id = TypeId::kNVarChar;
    }
    t.length = std::max(a.length, b.length);
    if (IsUnicodeType(t.id) && t.length != kMaxLength) t.length = std::min(t.length, 4000);
    return t;
  }
  return hi;
}

Storage StorageOf(TypeId id) {
  if (id == TypeId::kDateTimeOffset) return Storage::kOffsetText;
  if (IsWideTimeType(id)) return Storage::kWideTime;
  if (id == TypeId::kUniqueIdentifier) return Storage::kGuid;
  if (IsIntegerType(id)) return Storage::kInteger;
  if (IsMoneyType(id)) return Storage::kMoney;
  if (IsFloatType(id)) return Storage::kReal;
  if (IsDecimalType(id)) return Storage::kDecimalText;
  if (IsDateType(id)) return Storage::kDateTicks;
  if (IsBinaryType(id)) return Storage::kBlob;
  return Storage::kText;
}

int64_t PackType(const ColumnType& t) {
  return static_cast<int64_t>(t.id) | (static_cast<int64_t>(t.precision) << 8) |
         (static_cast<int64_t>(t.scale) << 16) | (static_cast<int64_t>(t.length) << 24);
}

ColumnType UnpackType(int64_t packed) {
  ColumnType t;
  int64_t id = packed & 0xFF;
  if (id > static_cast<int64_t>(TypeId::kUniqueIdentifier)) id = static_cast<int64_t>(TypeId::kInt);
  t.id = static_cast<TypeId>(id);
  t.precision = static_cast<uint8_t>((packed >> 8) & 0xFF);
  t.scale = static_cast<uint8_t>((packed >> 16) & 0xFF);
  t.length = static_cast<int32_t>((packed >> 24) & 0x7FFFFFFF);
  return t;
}

}  // namespace tdslite::sql
