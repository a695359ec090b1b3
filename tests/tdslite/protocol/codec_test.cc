// Byte-exact checks of the TDS codec against known client and server bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "tdslite/protocol/codec.h"

namespace tdslite::protocol {
namespace {

std::string Hex(std::string_view bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Bytes(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    i += 2;
  }
  return out;
}

std::string Ucs2(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

TEST(Prelogin, AnswersFreeTdsWithoutEncryptionAndMarsOff) {
  // FreeTDS 7.4 PRELOGIN: version, encryption off, instance, thread id, MARS.
  std::string request =
      Bytes(
          "00 00 1a 00 06 01 00 20 00 01 02 00 21 00 0c 03 00 2d 00 04 04 00 31 00 01 ff"
          " 09 00 00 00 00 00 00") +
      "MSSQLServer" + std::string(1, '\0') + Bytes("01 02 03 04 00");
  auto parsed = ParsePrelogin(request);
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(parsed->has_mars);
  EXPECT_EQ(parsed->encryption, 0);
  EXPECT_EQ(Hex(BuildPreloginReply(*parsed)),
            "00 00 1a 00 06 01 00 20 00 01 02 00 21 00 01 03 00 22 00 00 04 00 22 00 01 ff "
            "0a 32 06 40 00 00 02 00 00");

  // TDS 7.1 clients send no MARS option and get none back.
  PreloginRequest no_mars;
  std::string reply = BuildPreloginReply(no_mars);
  EXPECT_EQ(Hex(reply.substr(0, 21)),
            "00 00 15 00 06 01 00 1b 00 01 02 00 1c 00 01 03 00 1d 00 00 ff");
  EXPECT_EQ(reply.size(), 0x1du);
}

TEST(Prelogin, RejectsMalformedOptionTables) {
  const char* cases[] = {
      "",                   // no terminator
      "00 00 06",           // entry cut short
      "00 00 10 00 06 ff",  // data beyond the payload
      "01 ff ff 00 01 ff",  // offset beyond the payload
  };
  for (const char* hex : cases) EXPECT_FALSE(ParsePrelogin(Bytes(hex))) << hex;
  std::string many(200, '\0');  // 40 options pointing at offset 0, no terminator
  EXPECT_FALSE(ParsePrelogin(many));
}

// A LOGIN7 laid out as FreeTDS does: host, user, password, app, server,
// [extension], library, language, database.
std::string MakeLogin(uint32_t version, std::string_view user, std::string_view password,
                      std::string_view database, bool fixed94) {
  size_t fixed = fixed94 ? 94 : 86;
  std::string data;
  std::string table;
  auto add = [&](std::string_view s, bool scramble = false) {
    std::string raw = Ucs2(s);
    if (scramble) {
      for (char& c : raw) {
        uint8_t b = static_cast<uint8_t>(c);
        c = static_cast<char>((((b << 4) & 0xF0) | (b >> 4)) ^ 0xA5);
      }
    }
    PutU16(table, static_cast<uint16_t>(fixed + data.size()));
    PutU16(table, static_cast<uint16_t>(s.size()));
    data += raw;
  };
  add("host");
  add(user);
  add(password, true);
  add("app");
  add("srv");
  PutU32(table, 0);  // extension
  add("DB-Library");
  add("us_english");
  add(database);
  table += std::string(6, '\0');               // client id
  table += std::string(8, '\0');               // SSPI, attach file
  if (fixed94) table += std::string(8, '\0');  // change password, long SSPI
  std::string head;
  PutU32(head, static_cast<uint32_t>(fixed + data.size()));
  PutU32(head, version);
  PutU32(head, 4096);
  PutU32(head, 0);
  PutU32(head, 1234);
  PutU32(head, 0);
  head += Bytes("e0 01 00 00 88 ff ff ff 36 04 00 00");
  return head + table + data;
}

TEST(Login7, ParsesEveryVersionsLayout) {
  struct Case {
    uint32_t version;
    bool fixed94;
    TdsVersion negotiated;
    uint32_t ack;
  } cases[] = {
      {0x70000000, false, TdsVersion::k70, 0x07000000},
      {0x71000000, false, TdsVersion::k71, 0x07010000},
      {0x71000001, false, TdsVersion::k71, 0x71000001},
      {0x72090002, true, TdsVersion::k72, 0x72090002},
      {0x730A0003, true, TdsVersion::k73, 0x730A0003},
      {0x730B0003, true, TdsVersion::k73, 0x730B0003},
      {0x74000004, true, TdsVersion::k74, 0x74000004},
      {0x75000000, true, TdsVersion::k74, 0x74000004},
  };
  for (const Case& c : cases) {
    Login7 login;
    std::string payload = MakeLogin(c.version, "sa", "secret", "testdb", c.fixed94);
    ASSERT_EQ(ParseLogin7(payload, &login), LoginParseError::kNone) << std::hex << c.version;
    EXPECT_EQ(login.tds_version, c.version);
    EXPECT_EQ(login.user_name, "sa");
    EXPECT_EQ(login.password, "secret");
    EXPECT_EQ(login.database, "testdb");
    EXPECT_EQ(login.library_name, "DB-Library");
    EXPECT_EQ(login.language, "us_english");
    EXPECT_EQ(login.packet_size, 4096u);
    EXPECT_EQ(login.option_flags2, 0x01);
    EXPECT_EQ(NegotiateVersion(c.version), c.negotiated);
    EXPECT_EQ(LoginAckVersion(c.version), c.ack);
  }
}

TEST(Login7, DescramblesThePasswordBytesFreeTdsSends) {
  std::string payload = MakeLogin(0x70000000, "sa", "secret", "", false);
  // The scrambled "secret" as observed on the wire.
  EXPECT_NE(payload.find(Bytes("92 a5 f3 a5 93 a5 82 a5 f3 a5 e2 a5")), std::string::npos);
}

TEST(Login7, RefusesBadRecordsWithoutReadingOutside) {
  Login7 login;
  EXPECT_EQ(ParseLogin7(MakeLogin(0x06000000, "sa", "", "", false), &login),
            LoginParseError::kUnknownVersion);
  EXPECT_EQ(ParseLogin7(MakeLogin(0x80000000, "sa", "", "", true), &login),
            LoginParseError::kUnknownVersion);
  // A 7.2 record must have the 94-byte fixed part.
  std::string short72 = MakeLogin(0x72090002, "sa", "", "", false);
  short72.resize(90);
  PutU32(short72, 0);
  short72.replace(0, 4, std::string("\x5a\x00\x00\x00", 4));
  EXPECT_EQ(ParseLogin7(short72.substr(0, 90), &login), LoginParseError::kMalformed);
  // An offset past the end.
  std::string bad = MakeLogin(0x74000004, "sa", "", "", true);
  bad[40] = '\xf0';
  bad[41] = '\xff';
  EXPECT_EQ(ParseLogin7(bad, &login), LoginParseError::kMalformed);
  // Every truncation of a valid record is refused, never read past.
  std::string good = MakeLogin(0x74000004, "user", "pw", "db", true);
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_NE(ParseLogin7(std::string_view(good).substr(0, n), &login), LoginParseError::kNone)
        << n;
  }
}

TEST(Login, PacketSizeIsKeptWithinWhatClientsAccept) {
  EXPECT_EQ(NegotiatePacketSize(0), 4096u);
  EXPECT_EQ(NegotiatePacketSize(100), 512u);
  EXPECT_EQ(NegotiatePacketSize(8192), 8192u);
  EXPECT_EQ(NegotiatePacketSize(65535), 32767u);
}

TEST(LoginReply, AnnouncesCharsetAt70AndCollationFrom71) {
  LoginReply reply;
  reply.database = "master";
  reply.server_name = "srv";
  reply.version = TdsVersion::k70;
  reply.ack_version = 0x07000000;
  std::string r70 = BuildLoginResponse(reply);
  std::string iso1 = std::string("\xe3\x0d\x00\x03\x05", 5) + Ucs2("iso_1") + std::string(1, '\0');
  EXPECT_NE(r70.find(iso1), std::string::npos);
  EXPECT_NE(r70.find(std::string("\x05\x04") + Ucs2("1033")), std::string::npos);
  EXPECT_EQ(r70.find(std::string("\x07\x05\x09\x04\xd0\x00\x34", 7)), std::string::npos);
  // LOGINACK: exact length, interface 1, version big-endian, then DONE (4-byte count).
  size_t ack = r70.find('\xad');
  ASSERT_NE(ack, std::string::npos);
  EXPECT_EQ(Hex(r70.substr(ack, 8)), "ad 32 00 01 07 00 00 00");
  EXPECT_EQ(Hex(r70.substr(r70.size() - 9)), "fd 00 00 00 00 00 00 00 00");

  reply.version = TdsVersion::k74;
  reply.ack_version = 0x74000004;
  reply.packet_size = 8192;
  std::string r74 = BuildLoginResponse(reply);
  EXPECT_NE(r74.find(std::string("\xe3\x08\x00\x07\x05\x09\x04\xd0\x00\x34\x00", 11)),
            std::string::npos);
  EXPECT_EQ(r74.find(iso1), std::string::npos);
  EXPECT_NE(r74.find(std::string("\xe3\x13\x00\x04\x04", 5) + Ucs2("8192") + "\x04" + Ucs2("4096")),
            std::string::npos);
  EXPECT_EQ(Hex(r74.substr(r74.size() - 13)), "fd 00 00 00 00 00 00 00 00 00 00 00 00");
}

TEST(Tokens, EnvChangeMessageAndDoneWidthsFollowTheVersion) {
  std::string env;
  EncodeEnvChange(kEnvDatabase, "testdb", "master", env);
  EXPECT_EQ(Hex(env),
            "e3 1b 00 01 06 74 00 65 00 73 00 74 00 64 00 62 00 06 6d 00 61 00 73 00 74 00 65 00 "
            "72 00");

  Message m{.number = 8134, .state = 1, .severity = 16, .text = "x", .procedure = {}, .line = 3};
  std::string m70, m72;
  EncodeMessage(m, "s", TdsVersion::k71, m70);
  EncodeMessage(m, "s", TdsVersion::k72, m72);
  EXPECT_EQ(Hex(m70), "aa 10 00 c6 1f 00 00 01 10 01 00 78 00 01 73 00 00 03 00");
  EXPECT_EQ(Hex(m72), "aa 12 00 c6 1f 00 00 01 10 01 00 78 00 01 73 00 00 03 00 00 00");
  std::string info;
  m.severity = 10;
  EncodeMessage(m, "", TdsVersion::k74, info);
  EXPECT_EQ(static_cast<uint8_t>(info[0]), kTokenInfo);

  std::string d71, d72;
  EncodeDone(kTokenDone, 0x11, 0xC1, 5, TdsVersion::k71, d71);
  EncodeDone(kTokenDoneProc, 0x11, 0xC1, 5, TdsVersion::k72, d72);
  EXPECT_EQ(Hex(d71), "fd 11 00 c1 00 05 00 00 00");
  EXPECT_EQ(Hex(d72), "fe 11 00 c1 00 05 00 00 00 00 00 00 00");
}

TEST(Tokens, ReturnValueCarriesOrdinalNameTypeAndValue) {
  ReturnedValue v;
  v.ordinal = 1;
  v.name = "@r";
  v.column.type = ColumnType{TypeId::kInt, 4, 0, 0};
  v.value.is_null = false;
  v.value.i = 42;
  std::string r71, r74, text, null;
  EncodeReturnValue(v, TdsVersion::k71, r71);
  EncodeReturnValue(v, TdsVersion::k74, r74);
  // ordinal, name, status (output), user type (2 bytes before 7.2, then 4),
  // flags (nullable), intn(4), the value.
  EXPECT_EQ(Hex(r71), "ac 01 00 02 40 00 72 00 01 00 00 01 00 26 04 04 2a 00 00 00");
  EXPECT_EQ(Hex(r74), "ac 01 00 02 40 00 72 00 01 00 00 00 00 01 00 26 04 04 2a 00 00 00");
  v.value.is_null = true;
  EncodeReturnValue(v, TdsVersion::k74, null);
  EXPECT_EQ(Hex(null), "ac 01 00 02 40 00 72 00 01 00 00 00 00 01 00 26 04 00");
  v.ordinal = 0;
  v.name = "@s";
  v.column.type = ColumnType{TypeId::kVarChar, 10, 0, 0};
  v.value.is_null = false;
  v.value.bytes = "ab";
  EncodeReturnValue(v, TdsVersion::k74, text);
  EXPECT_EQ(Hex(text),
            "ac 00 00 02 40 00 73 00 01 00 00 00 00 01 00 a7 0a 00 09 04 d0 00 34 02 00 61 62");
}

ColumnDesc Column(TypeId id, int32_t length = 0, uint8_t precision = 0, uint8_t scale = 0,
                  bool nullable = true) {
  ColumnDesc c;
  c.name = "c";
  c.type = {id, length, precision, scale};
  c.nullable = nullable;
  return c;
}

Value V() {
  Value v;
  v.is_null = false;
  return v;
}

// COLMETADATA after the count and ROW after the token byte, for one column.
struct Encoded {
  std::string meta;
  std::string row;
};
Encoded EncodeOne(const ColumnDesc& column, const Value& value, TdsVersion version,
                  int32_t text_size = 0) {
  std::string meta;
  std::vector<WireColumn> wire;
  EncodeColMetadata({&column, 1}, version, meta, &wire);
  std::string row;
  EncodeRow({&value, 1}, wire, text_size, row);
  return {meta.substr(3), row.substr(1)};
}

TEST(Tokens, ValuesAreEncodedAsClientsDecodeThem) {
  Value money = V();
  money.i = -12345678;  // -1234.5678
  Value dec = V();
  dec.dec = 123456789;  // 123456.789
  Value big = V();
  big.i = INT64_MIN;
  Value dt = V();
  dt.dt = {45349, 14852137};  // 2024-02-29 13:45:07.123
  Value sdt = V();
  sdt.dt = {45349, 49500 * 300};  // 13:45
  Value text = V();
  text.bytes = "\xc3\xa9\xe2\x82\xac\xe6\x97\xa5";  // é € 日
  Value null;
  struct Case {
    const char* what;
    ColumnDesc column;
    Value value;
    TdsVersion version;
    const char* meta;  // after UserType: flags, type info, name
    const char* row;
  } cases[] = {
      {"money not null", Column(TypeId::kMoney, 0, 0, 0, false), money, TdsVersion::k70,
       "00 00 08 00 3c 01 63 00", "ff ff ff ff b2 9e 43 ff"},
      {"money nullable", Column(TypeId::kMoney), money, TdsVersion::k74,
       "00 00 00 00 09 00 6e 08 01 63 00", "08 ff ff ff ff b2 9e 43 ff"},
      {"decimal(12,3)", Column(TypeId::kDecimal, 0, 12, 3), dec, TdsVersion::k74,
       "00 00 00 00 09 00 6a 09 0c 03 01 63 00", "09 01 15 cd 5b 07 00 00 00 00"},
      {"bigint at 7.0 is decimal(19,0)", Column(TypeId::kBigInt), big, TdsVersion::k70,
       "00 00 09 00 6a 09 13 00 01 63 00", "09 00 00 00 00 00 00 00 00 80"},
      {"bigint at 7.1", Column(TypeId::kBigInt, 0, 0, 0, false), big, TdsVersion::k71,
       "00 00 08 00 7f 01 63 00", "00 00 00 00 00 00 00 80"},
      {"datetime", Column(TypeId::kDateTime), dt, TdsVersion::k70, "00 00 09 00 6f 08 01 63 00",
       "08 25 b1 00 00 29 a0 e2 00"},
      {"smalldatetime", Column(TypeId::kSmallDateTime, 0, 0, 0, false), sdt, TdsVersion::k70,
       "00 00 08 00 3a 01 63 00", "25 b1 39 03"},
      {"int NULL", Column(TypeId::kInt), null, TdsVersion::k74, "00 00 00 00 09 00 26 04 01 63 00",
       "00"},
      {"varchar is code page 1252", Column(TypeId::kVarChar, 5), text, TdsVersion::k70,
       "00 00 09 00 a7 05 00 01 63 00", "03 00 e9 80 3f"},
      {"varchar carries the collation from 7.1", Column(TypeId::kVarChar, 5), null, TdsVersion::k71,
       "00 00 09 00 a7 05 00 09 04 d0 00 34 01 63 00", "ff ff"},
      {"nvarchar is UCS-2, max in bytes", Column(TypeId::kNVarChar, 2), text, TdsVersion::k70,
       "00 00 09 00 e7 04 00 01 63 00", "04 00 e9 00 ac 20"},
      {"text at 7.0: one table name", Column(TypeId::kText), null, TdsVersion::k70,
       "00 00 09 00 23 ff ff ff 7f 00 00 01 63 00", "00"},
      {"image at 7.2: part count", Column(TypeId::kImage), null, TdsVersion::k72,
       "00 00 00 00 09 00 22 ff ff ff 7f 00 01 63 00", "00"},
      {"binary keeps zero bytes", Column(TypeId::kBinary, 3), V(), TdsVersion::k74,
       "00 00 00 00 09 00 ad 03 00 01 63 00", "00 00"},
  };
  for (const Case& c : cases) {
    Encoded e = EncodeOne(c.column, c.value, c.version);
    EXPECT_EQ(Hex(e.meta), c.meta) << c.what;
    EXPECT_EQ(Hex(e.row), c.row) << c.what;
  }
}

// The date and time types travel as themselves from 7.3 and as their text
// before; uniqueidentifier in every version; the (max) types in chunks from
// 7.2 and as text, ntext and image before.
TEST(Tokens, NewerTypesFollowTheVersion) {
  constexpr int64_t kDay = 864000000000;  // 100 ns units
  const int64_t days = 738949;            // 2024-03-05
  const int64_t units = 495301230000;     // 13:45:30.123
  Value date = V();
  date.i = days;
  date.bytes = "2024-03-05";
  Value time = V();
  time.i = units;
  Value dt2 = V();
  dt2.i = days * kDay + units;
  Value dto = V();  // 2024-03-05 13:45:30 +02:00: UTC on the wire
  dto.i = days * kDay + (11 * 3600 + 45 * 60 + 30) * 10000000LL;
  dto.offset = 120;
  Value guid = V();
  guid.bytes = std::string("\xff\x19\x96\x6f\x86\x8b\x11\xd0\xb4\x2d\x00\xc0\x4f\xc9\x64\xff", 16);
  Value abc = V();
  abc.bytes = "abc";
  Value empty = V();
  Value null;
  auto scaled = [](TypeId id, uint8_t scale) { return Column(id, 0, 0, scale); };
  auto max = [](TypeId id) { return Column(id, kMaxLength); };
  struct Case {
    const char* what;
    ColumnDesc column;
    Value value;
    TdsVersion version;
    const char* meta;
    const char* row;
  } cases[] = {
      {"date", Column(TypeId::kDate), date, TdsVersion::k74, "00 00 00 00 09 00 28 01 63 00",
       "03 85 46 0b"},
      {"date NULL", Column(TypeId::kDate), null, TdsVersion::k73, "00 00 00 00 09 00 28 01 63 00",
       "00"},
      {"time(3): 4 bytes of milliseconds", scaled(TypeId::kTime, 3), time, TdsVersion::k74,
       "00 00 00 00 09 00 29 03 01 63 00", "04 0b c5 f3 02"},
      {"datetime2(7): time, then date", scaled(TypeId::kDateTime2, 7), dt2, TdsVersion::k74,
       "00 00 00 00 09 00 2a 07 01 63 00", "08 b0 fd 40 52 73 85 46 0b"},
      {"datetimeoffset(0): UTC and the offset", scaled(TypeId::kDateTimeOffset, 0), dto,
       TdsVersion::k74, "00 00 00 00 09 00 2b 00 01 63 00", "08 5a a5 00 85 46 0b 78 00"},
      {"date at 7.2 is nvarchar(10)", Column(TypeId::kDate), date, TdsVersion::k72,
       "00 00 00 00 09 00 e7 14 00 09 04 d0 00 34 01 63 00",
       "14 00 32 00 30 00 32 00 34 00 2d 00 30 00 33 00 2d 00 30 00 35 00"},
      {"datetimeoffset(7) at 7.1 is nvarchar(34)", scaled(TypeId::kDateTimeOffset, 7), null,
       TdsVersion::k71, "00 00 09 00 e7 44 00 09 04 d0 00 34 01 63 00", "ff ff"},
      {"uniqueidentifier at 7.0", Column(TypeId::kUniqueIdentifier), guid, TdsVersion::k70,
       "00 00 09 00 24 10 01 63 00", "10 ff 19 96 6f 86 8b 11 d0 b4 2d 00 c0 4f c9 64 ff"},
      {"uniqueidentifier NULL", Column(TypeId::kUniqueIdentifier), null, TdsVersion::k74,
       "00 00 00 00 09 00 24 10 01 63 00", "00"},
      {"varchar(max): length, one chunk, end", max(TypeId::kVarChar), abc, TdsVersion::k72,
       "00 00 00 00 09 00 a7 ff ff 09 04 d0 00 34 01 63 00",
       "03 00 00 00 00 00 00 00 03 00 00 00 61 62 63 00 00 00 00"},
      {"varchar(max) empty: no chunk", max(TypeId::kVarChar), empty, TdsVersion::k74,
       "00 00 00 00 09 00 a7 ff ff 09 04 d0 00 34 01 63 00", "00 00 00 00 00 00 00 00 00 00 00 00"},
      {"varbinary(max) NULL", max(TypeId::kVarBinary), null, TdsVersion::k74,
       "00 00 00 00 09 00 a5 ff ff 01 63 00", "ff ff ff ff ff ff ff ff"},
      {"nvarchar(max) at 7.1 is ntext", max(TypeId::kNVarChar), abc, TdsVersion::k71,
       "00 00 09 00 63 fe ff ff 7f 09 04 d0 00 34 00 00 01 63 00",
       "10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 06 00 00 00 61 "
       "00 62 00 63 00"},
  };
  for (const Case& c : cases) {
    Encoded e = EncodeOne(c.column, c.value, c.version);
    EXPECT_EQ(Hex(e.meta), c.meta) << c.what;
    EXPECT_EQ(Hex(e.row), c.row) << c.what;
  }
  // set textsize cuts a (max) value as it cuts text.
  Encoded cut = EncodeOne(max(TypeId::kVarChar), abc, TdsVersion::k74, 2);
  EXPECT_EQ(Hex(cut.row), "02 00 00 00 00 00 00 00 02 00 00 00 61 62 00 00 00 00");
}

TEST(Tokens, TextValuesCarryPointerAndObeyTextSize) {
  ColumnDesc column = Column(TypeId::kNText);
  column.table = "t";
  Value v = V();
  v.bytes = "abc";
  v.text_pointer = std::string(16, '\x11');
  v.text_timestamp = std::string(8, '\x22');
  Encoded e = EncodeOne(column, v, TdsVersion::k72, 4);
  EXPECT_EQ(Hex(e.meta),
            "00 00 00 00 09 00 63 fe ff ff 7f 09 04 d0 00 34 01 05 00 64 00 62 00 6f 00 2e 00 "
            "74 00 01 63 00");
  EXPECT_EQ(Hex(e.row),
            "10 " + Hex(v.text_pointer) + " " + Hex(v.text_timestamp) + " 04 00 00 00 61 00 62 00");
  // An odd text size never splits a UCS-2 character.
  EXPECT_EQ(Hex(EncodeOne(column, v, TdsVersion::k72, 3).row).substr(75), "02 00 00 00 61 00");
}

// An image value served from memory as if read from its row.
class StringLob final : public LobSource {
 public:
  explicit StringLob(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
  bool Read(int64_t offset, std::span<char> out) override {
    ++reads;
    if (offset < 0 || static_cast<size_t>(offset) + out.size() > bytes_.size()) return false;
    std::memcpy(out.data(), bytes_.data() + offset, out.size());
    return true;
  }
  int reads = 0;

 private:
  std::string bytes_;
};

TEST(Tokens, StreamedImagesMatchTheWholeValueAndGoOutInPieces) {
  ColumnDesc column = Column(TypeId::kImage);
  column.table = "t";
  std::string bytes(300000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 % 251);
  for (int32_t text_size : {0, 1, 4096, 200000, 2147483647}) {
    Value whole = V();
    whole.bytes = bytes;
    whole.text_pointer = std::string(16, '\x11');
    whole.text_timestamp = std::string(8, '\x22');
    Value streamed = whole;
    streamed.bytes.clear();
    auto lob = std::make_shared<StringLob>(bytes);
    streamed.lob = lob;
    std::string meta;
    std::vector<WireColumn> wire;
    EncodeColMetadata({&column, 1}, TdsVersion::k74, meta, &wire);
    std::string expected;
    EncodeRow({&whole, 1}, wire, text_size, expected);
    std::string sent;
    std::string out;
    size_t largest = 0;
    EncodeRow({&streamed, 1}, wire, text_size, out, [&](std::string& piece) {
      largest = std::max(largest, piece.size());
      sent += piece;
      piece.clear();
    });
    sent += out;
    EXPECT_EQ(sent, expected) << "textsize " << text_size;
    EXPECT_LE(largest, 128u * 1024) << "textsize " << text_size;
  }
}

TEST(Text, ConversionsHandleEveryRange) {
  struct Case {
    const char* utf8;
    const char* cp1252;
    const char* utf16;
  } cases[] = {
      {"abc", "61 62 63", "61 00 62 00 63 00"},
      {"\xc3\xa9", "e9", "e9 00"},
      {"\xe2\x82\xac\xc5\x93", "80 9c", "ac 20 53 01"},
      {"\xe6\x97\xa5", "3f", "e5 65"},
      {"\xf0\x9f\x98\x80", "3f", "3d d8 00 de"},
      {"\xff", "3f", "fd ff"},  // invalid byte
      {"\xc3", "3f", "fd ff"},  // truncated sequence
      // An encoded surrogate: no character of code page 1252; in UTF-16 the
      // lone unit it names (a readtext piece of ntext may end inside a pair).
      {"\xed\xa0\x80", "3f 3f 3f", "00 d8"},
      {"\xed\xbf\xbf", "3f 3f 3f", "ff df"},
      {"\xc0\xaf", "3f 3f", "fd ff fd ff"},  // overlong
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hex(Utf8ToCp1252(c.utf8)), c.cp1252) << c.utf8;
    EXPECT_EQ(Hex(Utf8ToUtf16(c.utf8)), c.utf16) << c.utf8;
  }
  EXPECT_EQ(Utf16ToUtf8(Bytes("e9 00 3d d8 00 de 61")), "\xc3\xa9\xf0\x9f\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(Bytes("00 d8 61 00")),
            "\xef\xbf\xbd"
            "a");  // lone surrogate
  EXPECT_EQ(Utf16Units("a\xf0\x9f\x98\x80"), 3u);
}

}  // namespace
}  // namespace tdslite::protocol
