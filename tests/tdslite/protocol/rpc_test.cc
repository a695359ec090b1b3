// sp_executesql: parameter decoding and substitution into the statement.
#include <gtest/gtest.h>

#include "tdslite/protocol/codec.h"

namespace tdslite::protocol {
namespace {

TEST(Rpc, SubstitutesParametersOutsideLiteralsAndComments) {
  std::vector<RpcParameter> p = {{"@P1", "42"}, {"@name", "N'x'"}};
  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"select @P1", "select 42"},
      {"select @p1, @NAME", "select 42, N'x'"},  // names are case-insensitive
      {"select '@P1', [@P1], \"@P1\"", "select '@P1', [@P1], \"@P1\""},
      {"select 'it''s @P1' + @P1", "select 'it''s @P1' + 42"},
      {"select @P10, @@P1, x@P1", "select @P10, @@P1, x@P1"},
      {"select 1 -- @P1\n, @P1", "select 1 -- @P1\n, 42"},
      {"select /* @P1 /* nested */ @P1 */ @P1", "select /* @P1 /* nested */ @P1 */ 42"},
      {"select 'unterminated @P1", "select 'unterminated @P1"},
      {"select N'@P1', 0x40, @P1\n\t+@P1", "select N'@P1', 0x40, 42\n\t+42"},
  };
  for (const Case& c : cases) EXPECT_EQ(SubstituteParameters(c.sql, p), c.expected) << c.sql;
}

// A call of a procedure by its id (10: sp_executesql), no option flags.
void PutProcId(std::string& r, uint16_t id) {
  PutU16(r, 0xFFFF);
  PutU16(r, id);
  PutU16(r, 0);
}

// A parameter's name, status byte (not output) and type byte.
void PutParamHeader(std::string& r, std::string_view name, uint8_t type) {
  PutBVarchar(r, name);
  PutU8(r, 0);
  PutU8(r, type);
}

// An NVARCHAR(4000) parameter's header, TYPE_INFO and collation.
void PutNVarcharHeader(std::string& r, std::string_view name) {
  PutParamHeader(r, name, 0xE7);
  PutU16(r, 8000);
  r.append("\x09\x04\xd0\x00\x34", 5);
}

// An NVARCHAR(4000) parameter holding `text` (UTF-16 on the wire).
void PutNVarchar(std::string& r, std::string_view name, std::string_view text) {
  PutNVarcharHeader(r, name);
  const std::string utf16 = Utf8ToUtf16(text);
  PutU16(r, static_cast<uint16_t>(utf16.size()));
  r += utf16;
}

// sp_executesql `sql` with the declarations `decl` and one parameter `name`:
// `typed` is its type byte, TYPE_INFO and value.
std::string OneParameterRequest(std::string_view sql, std::string_view decl, std::string_view name,
                                std::string_view typed) {
  std::string r;
  PutProcId(r, 10);
  PutNVarchar(r, "", sql);
  PutNVarchar(r, "", decl);
  PutParamHeader(r, name, static_cast<uint8_t>(typed[0]));
  r += typed.substr(1);
  return r;
}

// sp_executesql by id, statement as NVARCHAR(max) (PLP), declarations, then
// an INTN(8), a NULL NVARCHAR(4000) and a DATETIMN.
std::string ExecuteSqlRequest() {
  std::string r;
  PutProcId(r, 10);
  std::string stmt = Utf8ToUtf16("select @a, @b, @c");
  PutParamHeader(r, "", 0xE7);
  PutU16(r, 0xFFFF);
  r.append("\x09\x04\xd0\x00\x34", 5);
  PutU64(r, stmt.size());
  PutU32(r, 4);
  r.append(stmt.substr(0, 4));
  PutU32(r, static_cast<uint32_t>(stmt.size() - 4));
  r.append(stmt.substr(4));
  PutU32(r, 0);
  PutNVarchar(r, "", "@a bigint");
  PutParamHeader(r, "@a", 0x26);
  PutU8(r, 8);
  PutU8(r, 8);
  PutU64(r, static_cast<uint64_t>(-5));
  PutNVarcharHeader(r, "@b");
  PutU16(r, 0xFFFF);
  PutParamHeader(r, "@c", 0x6F);
  PutU8(r, 8);
  PutU8(r, 8);
  PutU32(r, 45349);     // 2024-02-29
  PutU32(r, 14852137);  // 13:45:07.123
  return r;
}

TEST(Rpc, DecodesExecuteSqlParameters) {
  RpcCall call;
  std::string request = ExecuteSqlRequest();
  ASSERT_EQ(ParseRpc(request, TdsVersion::k74, &call), RpcParseResult::kOk);
  EXPECT_EQ(call.sql, "select @a, @b, @c");
  ASSERT_EQ(call.parameters.size(), 3u);
  EXPECT_EQ(SubstituteParameters(call.sql, call.parameters),
            "select cast(-5 as bigint), NULL, cast('2024-02-29 13:45:07.1230000' as datetime)");
  // Every truncation is refused, never read past, except where it falls on a
  // parameter boundary (a shorter but valid call).
  int complete = 0;
  for (size_t n = 0; n < request.size(); ++n) {
    RpcCall partial;
    if (ParseRpc(std::string_view(request).substr(0, n), TdsVersion::k74, &partial) ==
        RpcParseResult::kOk) {
      ++complete;
      EXPECT_LT(partial.parameters.size(), 3u) << n;
    }
  }
  EXPECT_EQ(complete, 4);
}

// sp_executesql 'select @f' with one float parameter of `bytes` (FLTN).
std::string FloatRequest(std::string_view bytes) {
  const char size = static_cast<char>(bytes.size());
  return OneParameterRequest("select @f", "@f float", "@f",
                             std::string{'\x6D', size, size} + std::string(bytes));
}

// A NaN or an infinity has no literal: refused with a message, never turned
// into a name such as nanE0.
TEST(Rpc, NonFiniteFloatParametersAreRefused) {
  auto bits = [](auto v) {
    std::string out(sizeof v, '\0');
    __builtin_memcpy(out.data(), &v, sizeof v);
    return out;
  };
  const double inf = __builtin_inf();
  const struct {
    std::string bytes;
    const char* literal;  // nullptr: refused
  } cases[] = {
      {bits(1.5), "select 1.5E0"},
      {bits(-0.25f), "select -0.25E0"},
      {bits(__builtin_nan("")), nullptr},
      {bits(-__builtin_nan("")), nullptr},
      {bits(inf), nullptr},
      {bits(-inf), nullptr},
      {bits(__builtin_nanf("")), nullptr},
      {bits(__builtin_inff()), nullptr},
  };
  for (const auto& c : cases) {
    RpcCall call;
    RpcParseResult result = ParseRpc(FloatRequest(c.bytes), TdsVersion::k74, &call);
    if (c.literal != nullptr) {
      ASSERT_EQ(result, RpcParseResult::kOk) << c.literal;
      EXPECT_EQ(SubstituteParameters(call.sql, call.parameters), c.literal);
    } else {
      EXPECT_EQ(result, RpcParseResult::kUnsupported) << c.bytes.size();
      EXPECT_NE(call.error.find("NaN or infinity"), std::string::npos) << call.error;
    }
  }
}

TEST(Rpc, OtherProceduresByNameCarryTheirArgumentsInOrder) {
  std::string r;
  PutUsVarchar(r, "dbo.p_out");
  PutU16(r, 0);
  // @a = 21 (int4), then an output int with no name.
  PutParamHeader(r, "@a", kIntN);
  PutU8(r, 4);
  PutU8(r, 4);
  PutU32(r, 21);
  PutBVarchar(r, "");
  PutU8(r, 0x01);
  PutU8(r, kIntN);
  PutU8(r, 4);
  PutU8(r, 0);
  RpcCall call;
  ASSERT_EQ(ParseRpc(r, TdsVersion::k74, &call), RpcParseResult::kOk);
  EXPECT_TRUE(call.by_name);
  EXPECT_EQ(call.procedure, "dbo.p_out");
  ASSERT_EQ(call.parameters.size(), 2u);
  EXPECT_EQ(call.parameters[0].name, "@a");
  EXPECT_EQ(call.parameters[0].literal, "21");
  EXPECT_FALSE(call.parameters[0].output);
  EXPECT_EQ(call.parameters[1].name, "");
  EXPECT_EQ(call.parameters[1].literal, "NULL");
  EXPECT_TRUE(call.parameters[1].output);
  // Cut short inside a parameter: malformed, not a call with fewer arguments.
  RpcCall cut;
  EXPECT_EQ(ParseRpc(r.substr(0, r.size() - 3), TdsVersion::k74, &cut), RpcParseResult::kMalformed);
}

TEST(Rpc, RefusesProcedureIdsOtherThanExecuteSql) {
  std::string r;
  PutProcId(r, 12);  // sp_prepexec
  RpcCall call;
  EXPECT_EQ(ParseRpc(r, TdsVersion::k74, &call), RpcParseResult::kUnsupported);
}

// Date, time and uniqueidentifier parameters keep their type (and every
// digit); values outside the types' ranges are malformed.
TEST(Rpc, DateTimeAndGuidParametersAreTyped) {
  using namespace std::string_literals;
  const struct {
    const char* what;
    std::string typed;
    const char* sql;  // nullptr: malformed
  } cases[] = {
      {"uniqueidentifier",
       "\x24\x10\x10\xff\x19\x96\x6f\x86\x8b\x11\xd0\xb4\x2d\x00\xc0\x4f\xc9\x64\xff"s,
       "select cast('6F9619FF-8B86-D011-B42D-00C04FC964FF' as uniqueidentifier)"},
      {"uniqueidentifier NULL", "\x24\x10\x00"s, "select NULL"},
      {"uniqueidentifier of 15 bytes", "\x24\x10\x0f"s + std::string(15, 'x'), nullptr},
      {"date", "\x28\x03\x85\x46\x0b"s, "select cast('2024-03-05' as date)"},
      {"time(7)", "\x29\x07\x05\xb0\xfd\x40\x52\x73"s,
       "select cast('13:45:30.1230000' as time(7))"},
      {"datetime2(3)", "\x2a\x03\x07\x0b\xc5\xf3\x02\x85\x46\x0b"s,
       "select cast('2024-03-05 13:45:30.1230000' as datetime2(3))"},
      {"datetimeoffset(0): local time from UTC", "\x2b\x00\x08\x5a\xa5\x00\x85\x46\x0b\x78\x00"s,
       "select cast('2024-03-05 13:45:30.0000000 +02:00' as datetimeoffset(0))"},
      {"datetimeoffset crossing midnight", "\x2b\x00\x08\x00\x00\x00\x85\x46\x0b\x88\xff"s,
       "select cast('2024-03-04 22:00:00.0000000 -02:00' as datetimeoffset(0))"},
      {"datetime2 NULL", "\x2a\x07\x00"s, "select NULL"},
      {"scale 8", "\x29\x08\x05\x00\x00\x00\x00\x00"s, nullptr},
      {"time past midnight", "\x29\x00\x03\x80\x51\x01"s, nullptr},
      {"length against scale", "\x2a\x07\x07\x00\x00\x00\x00\x00\x00\x00"s, nullptr},
  };
  for (const auto& c : cases) {
    RpcCall call;
    RpcParseResult result =
        ParseRpc(OneParameterRequest("select @p", "@p int", "@p", c.typed), TdsVersion::k74, &call);
    if (c.sql == nullptr) {
      EXPECT_EQ(result, RpcParseResult::kMalformed) << c.what;
      continue;
    }
    ASSERT_EQ(result, RpcParseResult::kOk) << c.what;
    EXPECT_EQ(SubstituteParameters(call.sql, call.parameters), c.sql) << c.what;
  }
}

}  // namespace
}  // namespace tdslite::protocol
