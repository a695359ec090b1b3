// PRELOGIN, LOGIN7 and the login reply.
#include <string>

#include "tdslite/protocol/codec.h"

namespace tdslite::protocol {

namespace {

enum PreloginOption : uint8_t {
  kOptVersion = 0x00,
  kOptEncryption = 0x01,
  kOptInstance = 0x02,
  kOptThreadId = 0x03,
  kOptMars = 0x04,
  kOptTerminator = 0xFF,
};

// A PRELOGIN has seven known options; anything much longer is not a client.
constexpr int kMaxPreloginOptions = 32;

// Fixed part of LOGIN7 before and from TDS 7.2 (which added the change
// password and long SSPI fields).
constexpr size_t kLogin7FixedSize70 = 86;
constexpr size_t kLogin7FixedSize72 = 94;

}  // namespace

std::optional<PreloginRequest> ParsePrelogin(std::string_view payload) {
  PreloginRequest request;
  ByteReader reader(payload);
  for (int i = 0;; ++i) {
    if (i > kMaxPreloginOptions) return std::nullopt;
    uint8_t option = reader.U8();
    if (!reader.ok()) return std::nullopt;
    if (option == kOptTerminator) break;
    uint16_t offset = reader.U16BE();
    uint16_t length = reader.U16BE();
    if (!reader.ok() || size_t{offset} + length > payload.size()) return std::nullopt;
    std::string_view data = payload.substr(offset, length);
    if (option == kOptEncryption && length >= 1) request.encryption = static_cast<uint8_t>(data[0]);
    if (option == kOptMars) request.has_mars = true;
  }
  return request;
}

std::string BuildPreloginReply(const PreloginRequest& request, uint8_t encryption) {
  struct Option {
    uint8_t id;
    std::string data;
  };
  // The version is SQL Server 2008 R2's; clients only store it.
  std::vector<Option> options = {
      {kOptVersion, std::string("\x0a\x32\x06\x40\x00\x00", 6)},
      {kOptEncryption, std::string(1, static_cast<char>(encryption))},
      {kOptInstance, std::string(1, '\0')},
      {kOptThreadId, std::string()},
  };
  // MARS is answered only when asked, and always off: a 1 would switch the
  // client to SMP framing.
  if (request.has_mars) options.push_back({kOptMars, std::string(1, '\0')});
  std::string out;
  uint16_t offset = static_cast<uint16_t>(options.size() * 5 + 1);
  for (const Option& o : options) {
    PutU8(out, o.id);
    PutU16BE(out, offset);
    PutU16BE(out, static_cast<uint16_t>(o.data.size()));
    offset = static_cast<uint16_t>(offset + o.data.size());
  }
  PutU8(out, kOptTerminator);
  for (const Option& o : options) out += o.data;
  return out;
}

std::optional<TdsVersion> NegotiateVersion(uint32_t requested) {
  switch (requested >> 24) {
    case 0x70:
      return TdsVersion::k70;
    case 0x71:
      return TdsVersion::k71;
    case 0x72:
      return TdsVersion::k72;
    case 0x73:
      return TdsVersion::k73;
    case 0x74:
      return TdsVersion::k74;
    default:
      // A newer 7.x revision is answered as 7.4, which it must also speak.
      if ((requested >> 24) > 0x74 && (requested >> 24) <= 0x7F) return TdsVersion::k74;
      return std::nullopt;
  }
}

uint32_t LoginAckVersion(uint32_t requested) {
  switch (requested >> 24) {
    case 0x70:
      return 0x07000000;
    case 0x71:
      return requested == 0x71000000 ? 0x07010000 : 0x71000001;
    case 0x72:
      return 0x72090002;
    case 0x73:
      return requested == 0x730A0003 ? 0x730A0003 : 0x730B0003;
    default:
      return 0x74000004;
  }
}

uint32_t NegotiatePacketSize(uint32_t requested) {
  if (requested == 0) return kDefaultPacketSize;
  if (requested < kMinPacketSize) return kMinPacketSize;
  if (requested > kMaxPacketSize) return kMaxPacketSize;
  return requested;
}

namespace {

// Reads the UCS-2 string an (offset, character count) pair of the fixed part
// points at; false when it lies outside the login record.
bool ReadLoginString(std::string_view payload, ByteReader& fixed, std::string* out,
                     bool scrambled = false) {
  uint16_t offset = fixed.U16();
  uint16_t chars = fixed.U16();
  if (!fixed.ok()) return false;
  size_t bytes = size_t{chars} * 2;
  if (offset > payload.size() || bytes > payload.size() - offset) return false;
  std::string raw(payload.substr(offset, bytes));
  if (scrambled) {
    // The client swapped the nibbles of every byte and XORed it with 0xA5.
    for (char& c : raw) {
      uint8_t b = static_cast<uint8_t>(c) ^ 0xA5;
      c = static_cast<char>(((b & 0x0F) << 4) | (b >> 4));
    }
  }
  *out = Utf16ToUtf8(raw);
  return true;
}

}  // namespace

LoginParseError ParseLogin7(std::string_view payload, Login7* login) {
  ByteReader head(payload);
  uint32_t length = head.U32();
  login->tds_version = head.U32();
  if (!head.ok()) return LoginParseError::kMalformed;
  std::optional<TdsVersion> version = NegotiateVersion(login->tds_version);
  if (!version) return LoginParseError::kUnknownVersion;
  size_t fixed_size = *version >= TdsVersion::k72 ? kLogin7FixedSize72 : kLogin7FixedSize70;
  // The record may be followed by padding, never cut short.
  if (length < fixed_size || length > payload.size()) return LoginParseError::kMalformed;
  payload = payload.substr(0, length);

  ByteReader fixed(payload);
  fixed.Skip(8);
  login->packet_size = fixed.U32();
  fixed.Skip(12);  // client program version, process id, connection id
  login->option_flags1 = fixed.U8();
  login->option_flags2 = fixed.U8();
  fixed.Skip(1);  // type flags
  login->option_flags3 = fixed.U8();
  fixed.Skip(8);  // time zone, LCID
  std::string unused;
  bool ok = ReadLoginString(payload, fixed, &login->host_name) &&
            ReadLoginString(payload, fixed, &login->user_name) &&
            ReadLoginString(payload, fixed, &login->password, true) &&
            ReadLoginString(payload, fixed, &login->app_name) &&
            ReadLoginString(payload, fixed, &login->server_name);
  if (!ok) return LoginParseError::kMalformed;
  fixed.Skip(4);  // 7.4 extension pointer (offset, byte count): FeatureExt is not used
  ok = ReadLoginString(payload, fixed, &login->library_name) &&
       ReadLoginString(payload, fixed, &login->language) &&
       ReadLoginString(payload, fixed, &login->database);
  if (!ok || !fixed.ok()) return LoginParseError::kMalformed;
  return LoginParseError::kNone;
}

void EncodeLoginAck(uint32_t ack_version, std::string& out) {
  // Clients compute the program name's length from the token length, so the
  // length must be exact: interface, version, name, program version.
  static constexpr std::string_view kProgram = "Microsoft SQL Server";
  PutU8(out, kTokenLoginAck);
  PutU16(out, static_cast<uint16_t>(1 + 4 + 1 + 2 * kProgram.size() + 4));
  PutU8(out, 1);  // SQL_TSQL: the only interface value every client accepts
  PutU32BE(out, ack_version);
  PutBVarchar(out, kProgram);
  out.append("\x0a\x32\x06\x40", 4);  // 10.50.1600
}

std::string BuildLoginResponse(const LoginReply& reply) {
  std::string out;
  const TdsVersion v = reply.version;
  EncodeEnvChange(kEnvDatabase, reply.database, "master", out);
  EncodeMessage({.number = 5701,
                 .state = 2,
                 .severity = 0,
                 .text = "Changed database context to '" + reply.database + "'.",
                 .procedure = {},
                 .line = 1},
                reply.server_name, v, out);
  if (v >= TdsVersion::k71) {
    EncodeEnvChangeBytes(kEnvCollation,
                         std::string_view(reinterpret_cast<const char*>(kCollation), 5), {}, out);
  }
  EncodeEnvChange(kEnvLanguage, "us_english", "", out);
  EncodeMessage({.number = 5703,
                 .state = 1,
                 .severity = 0,
                 .text = "Changed language setting to us_english.",
                 .procedure = {},
                 .line = 1},
                reply.server_name, v, out);
  if (v == TdsVersion::k70) {
    // A 7.0 login has no collations: the single-byte character set (iso_1,
    // which clients take as Windows-1252 for TDS 7) and the Unicode locale
    // and comparison style are announced instead.
    EncodeEnvChange(kEnvCharset, "iso_1", "", out);
    EncodeEnvChange(kEnvUnicodeLcid, "1033", "", out);
    EncodeEnvChange(kEnvUnicodeCompare, "196609", "", out);
  }
  EncodeLoginAck(reply.ack_version, out);
  EncodeEnvChange(kEnvPacketSize, std::to_string(reply.packet_size),
                  std::to_string(kDefaultPacketSize), out);
  EncodeDone(kTokenDone, 0, 0, 0, v, out);
  return out;
}

std::string BuildLoginFailure(std::span<const Message> messages, std::string_view server_name,
                              TdsVersion version) {
  std::string out;
  for (const Message& m : messages) EncodeMessage(m, server_name, version, out);
  EncodeDone(kTokenDone, kDoneError, 0, 0, version, out);
  return out;
}

}  // namespace tdslite::protocol
