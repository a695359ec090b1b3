// WRITETEXT BULK at the session boundary: the transfer is fed the BULK
// message in arbitrary pieces, and every refusal leaves the old value.
#include <string>

#include "session_fixture.h"

namespace tdslite {
namespace {

std::string HexOf(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out = "0x";
  for (char c : bytes) {
    out += kDigits[(static_cast<unsigned char>(c) >> 4) & 0xF];
    out += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return out;
}

std::string SizePrefix(uint32_t n) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i)
    out[static_cast<size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xFF);
  return out;
}

class TextWriteTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    Run("create table tw (id int not null primary key, i image null, t text null)");
    Run("insert into tw values (1, 0x0102, 'old')");
    Run("insert into tw values (2, null, null)");
  }

  // The pointer and timestamp of row `id`'s column as a select sends them.
  std::pair<std::string, std::string> PointerOf(const char* column, int id) {
    RecordingSink sink;
    session_->ExecuteBatch(
        "select " + std::string(column) + " from tw where id = " + std::to_string(id), sink);
    if (sink.rows.size() != 1) return {};
    return {sink.rows[0][0].text_pointer, sink.rows[0][0].text_timestamp};
  }

  // Runs `writetext bulk` then feeds `message` in pieces of `piece` bytes.
  std::string Write(const std::string& object, const std::string& pointer, const std::string& stamp,
                    const std::string& message, size_t piece) {
    RecordingSink sink;
    session_->ExecuteBatch("writetext bulk " + object + " " + HexOf(pointer) +
                               " timestamp = " + HexOf(stamp) + " with log",
                           sink);
    std::unique_ptr<TextWrite> write = session_->TakeTextWrite();
    if (!write) return sink.messages.empty() ? "refused" : std::to_string(sink.messages[0].number);
    for (size_t at = 0; at < message.size(); at += piece) write->Append(message.substr(at, piece));
    RecordingSink done;
    write->Finish(done);
    return done.messages.empty() ? "ok" : std::to_string(done.messages[0].number);
  }

  // The row line of row 1's `expr`, without the metadata.
  std::string Stored(const char* expr) {
    std::string all = Run("select " + std::string(expr) + " from tw where id = 1");
    size_t start = all.find("\nrow ");
    if (start == std::string::npos) return all;
    return all.substr(start + 1, all.find('\n', start + 1) - start - 1);
  }
};

TEST_F(TextWriteTest, ReplacesTheValueFromPiecesOfAnySize) {
  const std::string data(
      "a\0b\0\xff"
      "cdef",
      9);
  for (size_t piece : {1u, 3u, 4u, 5u, 100u}) {
    auto [pointer, stamp] = PointerOf("i", 1);
    ASSERT_EQ(pointer.size(), 16u);
    ASSERT_EQ(stamp.size(), 8u);
    std::string value = data + std::to_string(piece);
    EXPECT_EQ(Write("tw.i", pointer, stamp, SizePrefix(value.size()) + value, piece), "ok");
    EXPECT_EQ(Stored("datalength(i)"), "row " + std::to_string(value.size()));
    EXPECT_NE(PointerOf("i", 1).second, stamp) << "the timestamp must change with the value";
  }
}

TEST_F(TextWriteTest, RefusalsLeaveTheOldValue) {
  auto [pointer, stamp] = PointerOf("i", 1);
  std::string other_row = pointer;
  other_row[0] = 9;
  const std::string before = Stored("i");
  struct Case {
    const char* what;
    std::string object, pointer, stamp, message;
    const char* expected;
  } cases[] = {
      {"another row", "tw.i", other_row, stamp, SizePrefix(1) + "x", "7123"},
      {"another column", "tw.t", pointer, stamp, SizePrefix(1) + "x", "7123"},
      {"short pointer", "tw.i", pointer.substr(0, 8), stamp, SizePrefix(1) + "x", "7123"},
      {"stale timestamp", "tw.i", pointer, std::string(8, '\x5a'), SizePrefix(1) + "x", "7129"},
      {"no such table", "nope.i", pointer, stamp, SizePrefix(1) + "x", "208"},
      {"no such column", "tw.zz", pointer, stamp, SizePrefix(1) + "x", "207"},
      {"too few bytes", "tw.i", pointer, stamp, SizePrefix(5) + "abc", "7124"},
      {"too many bytes", "tw.i", pointer, stamp, SizePrefix(2) + "abc", "7124"},
      {"no size", "tw.i", pointer, stamp, "ab", "7124"},
      {"size beyond 2 GiB", "tw.i", pointer, stamp, std::string("\xff\xff\xff\xff", 4), "7124"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Write(c.object, c.pointer, c.stamp, c.message, 2), c.expected) << c.what;
    EXPECT_EQ(Stored("i"), before) << c.what;
  }
}

TEST_F(TextWriteTest, AbandonedTransferKeepsTheOldValue) {
  auto [pointer, stamp] = PointerOf("i", 1);
  const std::string before = Stored("i");
  RecordingSink sink;
  session_->ExecuteBatch("writetext bulk tw.i " + HexOf(pointer) + " timestamp = " + HexOf(stamp),
                         sink);
  std::unique_ptr<TextWrite> write = session_->TakeTextWrite();
  ASSERT_TRUE(write);
  write->Append(SizePrefix(1000) + std::string(500, 'z'));
  write.reset();  // the client went away
  EXPECT_EQ(Stored("i"), before);
  // The session is usable, and no savepoint is left open.
  EXPECT_EQ(Run("select @@trancount"), Run("select 0"));
}

TEST_F(TextWriteTest, NullValuesHaveNoPointer) {
  auto [pointer, stamp] = PointerOf("i", 2);
  EXPECT_TRUE(pointer.empty());
  EXPECT_EQ(Run("select textptr(i) from tw where id = 2"),
            Run("select convert(varbinary(16), null)"));
  RecordingSink sink;
  session_->ExecuteBatch("select textptr(i) from tw where id = 1", sink);
  ASSERT_EQ(sink.rows.size(), 1u);
  EXPECT_EQ(sink.rows[0][0].bytes, PointerOf("i", 1).first);
}

TEST_F(TextWriteTest, TextPointerFindsItsRowInUpdateAndDelete) {
  // An empty value cannot go through writetext; clients empty it with an
  // update that names the row by its text pointer.
  const std::string pointer = HexOf(PointerOf("i", 1).first);
  EXPECT_EQ(Run("update tw set i = 0x where textptr(i) = " + pointer),
            Run("update tw set t = t where id = 1"));
  EXPECT_EQ(Stored("datalength(i)"), "row 0");
  EXPECT_EQ(Run("delete from tw where textptr(i) = " + HexOf(PointerOf("i", 2).first)),
            Run("delete from tw where 1 = 0"));
}

TEST_F(TextWriteTest, TextColumnsTakeWindows1252) {
  auto [pointer, stamp] = PointerOf("t", 1);
  EXPECT_EQ(Write("dbo.tw.t", pointer, stamp, SizePrefix(4) + "caf\xe9", 3), "ok");
  EXPECT_EQ(Stored("t"), "row 'caf\u00e9'");
}

}  // namespace
}  // namespace tdslite
