// Requests whose declared lengths do not fit their types are refused as
// malformed by the decoders, never read past or thrown over.
#include <gtest/gtest.h>

#include <string>

#include "tdslite/protocol/codec.h"

namespace tdslite::protocol {
namespace {

// sp_executesql (by id) with its statement, its declaration and one value of
// a nullable fixed-size type with the given data length.
std::string ExecuteSqlWith(uint8_t type, uint8_t length) {
  std::string r;
  PutU16(r, 0xFFFF);
  PutU16(r, 10);
  PutU16(r, 0);
  auto nvarchar = [&](std::string_view text) {
    PutBVarchar(r, "");
    PutU8(r, 0);
    PutU8(r, 0xE7);
    PutU16(r, 8000);
    r.append("\x09\x04\xd0\x00\x34", 5);
    const std::string utf16 = Utf8ToUtf16(text);
    PutU16(r, static_cast<uint16_t>(utf16.size()));
    r += utf16;
  };
  nvarchar("select @p");
  nvarchar("@p int");
  PutBVarchar(r, "@p");
  PutU8(r, 0);
  PutU8(r, type);
  PutU8(r, 8);  // max length
  PutU8(r, length);
  r.append(length, '\x01');
  return r;
}

TEST(DecoderRobustness, NullableFixedTypesTakeOnlyTheirOwnLengths) {
  struct Case {
    uint8_t type;
    uint8_t length;
    bool valid;
  } cases[] = {
      {0x26, 1, true},  {0x26, 2, true},  {0x26, 4, true},  {0x26, 8, true},  {0x26, 3, false},
      {0x26, 5, false}, {0x26, 7, false}, {0x68, 1, true},  {0x68, 2, false}, {0x6D, 4, true},
      {0x6D, 8, true},  {0x6D, 3, false}, {0x6D, 5, false}, {0x6E, 4, true},  {0x6E, 8, true},
      {0x6E, 3, false}, {0x6E, 6, false}, {0x6F, 4, true},  {0x6F, 8, true},  {0x6F, 2, false},
  };
  for (const Case& c : cases) {
    RpcCall call;
    RpcParseResult result = RpcParseResult::kOk;
    EXPECT_NO_THROW(result = ParseRpc(ExecuteSqlWith(c.type, c.length), TdsVersion::k74, &call))
        << int(c.type) << "/" << int(c.length);
    if (c.valid) {
      EXPECT_EQ(result, RpcParseResult::kOk) << int(c.type) << "/" << int(c.length);
    } else {
      EXPECT_NE(result, RpcParseResult::kOk) << int(c.type) << "/" << int(c.length);
    }
  }
}

}  // namespace
}  // namespace tdslite::protocol
