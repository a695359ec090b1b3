// READTEXT at the session boundary: pieces of text, ntext and image values
// by their text pointer, offsets and sizes in bytes or (ntext) UTF-16 units,
// and SQL Server's refusals.
#include <string>

#include "session_fixture.h"

namespace tdslite {
namespace {

class TextReadTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    Run("create table tr (id int not null primary key, i image null, t text null, n ntext null)");
    // n: 'a', an emoji (two UTF-16 units), 'b'.
    Run("insert into tr values (1, 0x00010203040506070809, 'caf\xC3\xA9 \xE2\x82\xAC', "
        "N'a\xF0\x9F\x98\x80"
        "b')");
    Run("insert into tr values (2, null, null, null)");
  }

  // The pointer and timestamp of row `id`'s column as a select sends them.
  std::pair<std::string, std::string> PointerOf(const std::string& column, int id) {
    RecordingSink sink;
    session_->ExecuteBatch("select " + column + " from tr where id = " + std::to_string(id), sink);
    if (sink.rows.size() != 1) return {};
    return {sink.rows[0][0].text_pointer, sink.rows[0][0].text_timestamp};
  }

  struct Answer {
    std::string bytes;  // the piece (UTF-8 for text and ntext), or "error N"
    std::string pointer, stamp;
  };
  Answer Read(const std::string& column, const std::string& pointer, const std::string& numbers) {
    RecordingSink sink;
    session_->ExecuteBatch("readtext tr." + column + " " + HexOf(pointer) + " " + numbers, sink);
    Answer a;
    if (!sink.messages.empty()) {
      a.bytes = "error " + std::to_string(sink.messages[0].number);
    } else if (sink.rows.size() == 1 && sink.rows[0].size() == 1) {
      a.bytes = sink.rows[0][0].bytes;
      a.pointer = sink.rows[0][0].text_pointer;
      a.stamp = sink.rows[0][0].text_timestamp;
    } else {
      a.bytes = "no row";
    }
    return a;
  }
};

TEST_F(TextReadTest, PiecesInBytesOrUtf16Units) {
  struct Case {
    const char* column;
    const char* numbers;
    std::string expected;
  };
  const Case cases[] = {
      {"i", "0 10", std::string("\0\1\2\3\4\5\6\7\x08\x09", 10)},
      {"i", "3 2", "\3\4"},
      {"i", "9 1", "\x09"},
      {"t", "0 4", "caf\xC3\xA9"},
      {"t", "3 3", "\xC3\xA9 \xE2\x82\xAC"},
      {"n", "0 1", "a"},
      {"n", "1 2", "\xF0\x9F\x98\x80"},
      {"n", "0 4",
       "a\xF0\x9F\x98\x80"
       "b"},
      // A piece that ends or begins inside the pair: the lone unit, in the
      // three-byte form the protocol layer sends as that unit.
      {"n", "0 2", "a\xED\xA0\xBD"},
      {"n", "2 2",
       "\xED\xB8\x80"
       "b"},
  };
  for (const Case& c : cases) {
    auto [pointer, stamp] = PointerOf(c.column, 1);
    const Answer a = Read(c.column, pointer, c.numbers);
    EXPECT_EQ(HexOf(a.bytes), HexOf(c.expected)) << c.column << " " << c.numbers;
    EXPECT_EQ(a.pointer, pointer) << c.column << " " << c.numbers;
    EXPECT_EQ(a.stamp, stamp) << c.column << " " << c.numbers;
  }
}

TEST_F(TextReadTest, RefusalsAsSqlServerGivesThem) {
  const std::string pointer = PointerOf("i", 1).first;
  const std::string other = PointerOf("t", 1).first;
  struct Case {
    std::string statement;
    const char* expected;
  };
  const Case cases[] = {
      {"readtext tr.i " + HexOf(pointer) + " 11 0", "error 7124"},                 // offset beyond
      {"readtext tr.i " + HexOf(pointer) + " 8 3", "error 7124"},                  // beyond the end
      {"readtext tr.n " + HexOf(PointerOf("n", 1).first) + " 3 2", "error 7124"},  // 4 units
      {"readtext tr.i " + HexOf(other) + " 0 1", "error 7123"},  // another column's pointer
      {"readtext tr.i 0x0102 0 1", "error 7123"},
      {"readtext tr.i " + HexOf(pointer) + " -1 1", "error 7124"},
      {"readtext nosuch.i " + HexOf(pointer) + " 0 1", "error 208"},
      {"readtext tr.nosuch " + HexOf(pointer) + " 0 1", "error 207"},
      {"readtext tr.i " + HexOf(pointer) + " 0", "error 102"},
      {"readtext tr.i zz 0 1", "error 102"},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    session_->ExecuteBatch(c.statement, sink);
    ASSERT_FALSE(sink.messages.empty()) << c.statement;
    EXPECT_EQ("error " + std::to_string(sink.messages[0].number), c.expected) << c.statement;
    EXPECT_TRUE(sink.rows.empty()) << c.statement;
  }
  // The session serves the next statement.
  EXPECT_EQ(Read("i", pointer, "0 1").bytes, std::string("\0", 1));
}

TEST_F(TextReadTest, SizeZeroReadsUpToTheTextSize) {
  const std::string pointer = PointerOf("i", 1).first;
  Run("set textsize 4");
  EXPECT_EQ(HexOf(Read("i", pointer, "2 0").bytes), "0x02030405");
  EXPECT_EQ(HexOf(Read("i", pointer, "8 0").bytes), "0x0809");  // the rest
  Run("set textsize 2");
  EXPECT_EQ(Read("n", PointerOf("n", 1).first, "3 0").bytes, "b");  // one unit
}

TEST_F(TextReadTest, AChangedValueCarriesANewTimestamp) {
  auto [pointer, stamp] = PointerOf("t", 1);
  EXPECT_EQ(Read("t", pointer, "0 2").stamp, stamp);
  // Another session changes the value: once this session has run another
  // statement, READTEXT sees the new value with its new timestamp (the
  // pointer names the row, which is still there).
  std::unique_ptr<Session> other = NewSession(52);
  RunBatch(*other, "update tr set t = 'new value' where id = 1");
  Run("select 1");
  const Answer after = Read("t", pointer, "0 3");
  EXPECT_EQ(after.bytes, "new");
  EXPECT_NE(after.stamp, stamp);
  // Between two pieces, with nothing else run in between (the value this
  // session keeps open must not hide the change): a value of the same
  // length, told apart by its timestamp.
  auto [image, image_stamp] = PointerOf("i", 1);
  EXPECT_EQ(Read("i", image, "0 2").stamp, image_stamp);
  RunBatch(*other, "update tr set i = 0x0a0b0c0d0e0f10111213 where id = 1");
  const Answer changed = Read("i", image, "2 2");
  EXPECT_EQ(changed.bytes, "\x0c\x0d");
  EXPECT_NE(changed.stamp, image_stamp);
  // The row gone: its pointer is no longer valid.
  Run("delete from tr where id = 1");
  EXPECT_EQ(Read("t", pointer, "0 1").bytes, "error 7123");
}

TEST_F(TextReadTest, ANullValueHasNoValidPointer) {
  // Row 2's values are NULL: a select gives no pointer; a made-up one for
  // the row is refused.
  EXPECT_EQ(PointerOf("i", 2).first, "");
  const std::string row1 = PointerOf("i", 1).first;
  std::string row2 = row1;
  row2[0] = static_cast<char>(row2[0] + 1);  // the next rowid
  EXPECT_EQ(Read("i", row2, "0 1").bytes, "error 7123");
}

}  // namespace
}  // namespace tdslite
