// SQL Server data types: names, precedence and the rules for expression
// result types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tdslite/common/result_sink.h"
#include "tdslite/common/types.h"

namespace tdslite::sql {

// What an expression is known to be during type inference. `null_literal`
// marks an untyped NULL (SQL Server types `select null` as int).
struct ExprType {
  ColumnType type;
  bool nullable = true;
  bool null_literal = false;
};

bool IsIntegerType(TypeId id);   // tinyint..bigint, bit
bool IsExactNumeric(TypeId id);  // integers, bit, money, decimal
bool IsNumericType(TypeId id);   // all of the number types
bool IsDecimalType(TypeId id);   // decimal, numeric
bool IsMoneyType(TypeId id);
bool IsFloatType(TypeId id);
bool IsDateType(TypeId id);
bool IsCharType(TypeId id);           // char, varchar, text, nchar, nvarchar, ntext
bool IsUnicodeType(TypeId id);        // nchar, nvarchar, ntext
bool IsBinaryType(TypeId id);         // binary, varbinary, image
bool IsLobType(TypeId id);            // text, ntext, image
bool IsWideTimeType(TypeId id);       // date, time, datetime2, datetimeoffset
bool IsTemporalType(TypeId id);       // those and datetime, smalldatetime
bool HasScale(TypeId id);             // time, datetime2, datetimeoffset
bool IsMaxType(const ColumnType& t);  // varchar(max), nvarchar(max), varbinary(max)

// SQL Server's data type precedence: higher wins an implicit conversion.
int Precedence(TypeId id);

// The name SQL Server uses in messages ("int", "varchar", "numeric", ...).
std::string TypeName(TypeId id);
// A full declaration such as "decimal(10,2)" or "varchar(20)".
std::string TypeDeclaration(const ColumnType& t);

// Looks up a type by name (lower-case) with its parenthesised arguments.
// `args` holds up to two numbers; `argc` how many were written. `in_cast`
// selects the default length of char types (30 in CAST/CONVERT, 1 elsewhere).
// Answers nullopt with *error set for an unknown or invalid type.
std::optional<ColumnType> MakeType(std::string_view name, int argc, const int64_t* args,
                                   bool in_cast, std::string* error);

ColumnType IntType(TypeId id);
ColumnType DecimalType(int precision, int scale);
ColumnType VarCharType(int length, bool unicode);

// The decimal(p,s) an exact numeric type converts to in arithmetic.
ColumnType AsDecimal(const ColumnType& t);

// Result type of `a op b` for + - * / %, per SQL Server's rules (without the
// string + string case, which the caller handles).
ColumnType ArithmeticType(char op, const ColumnType& a, const ColumnType& b);
// Type two operands are compared or unified as (union, case, coalesce).
ColumnType UnifyTypes(const ColumnType& a, const ColumnType& b);

// Storage: how a value of the type is kept in SQLite. kWideTime: date, time
// and datetime2 as one integer (see Value); kOffsetText: datetimeoffset as
// text that sorts by the UTC instant (see values.h); kGuid: 16 bytes in
// the order uniqueidentifier values sort in.
enum class Storage {
  kInteger,
  kReal,
  kDecimalText,
  kText,
  kBlob,
  kDateTicks,
  kMoney,
  kWideTime,
  kOffsetText,
  kGuid
};
Storage StorageOf(TypeId id);

// Packs a type into one integer to hand it to the SQL functions, and back.
int64_t PackType(const ColumnType& t);
ColumnType UnpackType(int64_t packed);

}  // namespace tdslite::sql
