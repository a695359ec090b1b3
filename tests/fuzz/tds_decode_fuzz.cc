// tdslite's request decoders with arbitrary payloads: PRELOGIN, LOGIN7, RPC
// (under each protocol revision) and the parameter substitution behind it.
// The first byte picks the decoder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tdslite/protocol/codec.h"

using namespace tdslite::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view payload(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 4) {
    case 0: {
      if (const auto request = ParsePrelogin(payload)) BuildPreloginReply(*request);
      break;
    }
    case 1: {
      Login7 login;
      if (ParseLogin7(payload, &login) == LoginParseError::kNone) {
        NegotiateVersion(login.tds_version);
        NegotiatePacketSize(login.packet_size);
      }
      break;
    }
    case 2: {
      for (const auto version : {0x70000000u, 0x71000001u, 0x72090002u, 0x730B0003u, 0x74000004u}) {
        const auto revision = NegotiateVersion(version);
        if (!revision) continue;
        RpcCall call;
        if (ParseRpc(payload, *revision, &call) == RpcParseResult::kOk) {
          SubstituteParameters(call.sql, call.parameters);
        }
      }
      break;
    }
    case 3: {
      Utf16ToUtf8(payload);
      Utf8ToUtf16(payload);
      Utf8ToCp1252(payload);
      break;
    }
  }
  return 0;
}
