// WRITETEXT BULK at the session boundary: the transfer is fed the BULK
// message in arbitrary pieces, and every refusal leaves the old value.
#include <fstream>
#include <string>

#include "session_fixture.h"

namespace tdslite {
namespace {

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

  // A transfer into row 1's image, begun and not yet fed.
  std::unique_ptr<TextWrite> BeginWrite() {
    auto [pointer, stamp] = PointerOf("i", 1);
    RecordingSink sink;
    session_->ExecuteBatch("writetext bulk tw.i " + HexOf(pointer) + " timestamp = " + HexOf(stamp),
                           sink);
    return session_->TakeTextWrite();
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
      {"beyond the value limit", "tw.i", pointer, stamp, SizePrefix(0x50000000) + "x", "7119"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Write(c.object, c.pointer, c.stamp, c.message, 2), c.expected) << c.what;
    EXPECT_EQ(Stored("i"), before) << c.what;
  }
}

// The statement is read by the batch lexer: any spelling of its words,
// comments, brackets and qualifiers; anything else is a syntax error.
TEST_F(TextWriteTest, StatementForms) {
  auto [pointer, stamp] = PointerOf("i", 1);
  const std::string p = HexOf(pointer), t = HexOf(stamp);
  struct Case {
    std::string sql;
    const char* expected;  // "accepted" or the message number
  } cases[] = {
      {"writetext bulk tw.i " + p + " timestamp = " + t, "accepted"},
      {"WRITETEXT BULK [tw].[i] " + p + " TIMESTAMP=" + t + " WITH LOG;", "accepted"},
      {"writetext /* c */ bulk master.dbo.tw.i\n" + p + "\ttimestamp = " + t + " -- end",
       "accepted"},
      {"writetext bulk tw " + p + " timestamp = " + t, "102"},              // no column
      {"writetext bulk tw.i " + p + " " + t, "102"},                        // no timestamp =
      {"writetext bulk tw.i " + p + " timestamp = " + t + " with", "102"},  // with what?
      {"writetext bulk tw.i " + p + " timestamp = " + t + " extra", "102"},
      {"writetext bulk tw.i " + p + "0 timestamp = " + t, "102"},  // odd digits
      {"writetext bulk tw.i 'x' timestamp = " + t, "102"},
      {"writetext bulk nosuch.i " + p + " timestamp = " + t, "208"},
      {"writetext bulk tw.nosuch " + p + " timestamp = " + t, "207"},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    session_->ExecuteBatch(c.sql, sink);
    std::unique_ptr<TextWrite> write = session_->TakeTextWrite();
    const std::string got = write                   ? "accepted"
                            : sink.messages.empty() ? "nothing"
                                                    : std::to_string(sink.messages[0].number);
    EXPECT_EQ(got, c.expected) << c.sql;
  }
}

TEST_F(TextWriteTest, AbandonedTransferKeepsTheOldValue) {
  const std::string before = Stored("i");
  std::unique_ptr<TextWrite> write = BeginWrite();
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

// Bytes written by this process so far (the kernel's count).
uint64_t BytesWritten() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "wchar:") return value;
  }
  return 0;
}

// A client that announces 900 MB and sends four bytes costs the server
// four bytes, not 900 MB of zeros on disk.
TEST_F(TextWriteTest, BytesNotSentAreNeitherAllocatedNorWritten) {
  const std::string before = Stored("i");
  std::unique_ptr<TextWrite> write = BeginWrite();
  ASSERT_TRUE(write);
  const uint64_t start = BytesWritten();
  write->Append(SizePrefix(900000000) + "abcd");
  RecordingSink done;
  write->Finish(done);
  const uint64_t written = BytesWritten() - start;
  EXPECT_LT(written, 16u << 20) << written << " bytes written for 4 sent";
  ASSERT_EQ(done.messages.size(), 1u);
  EXPECT_EQ(done.messages[0].number, 7124);
  EXPECT_EQ(Stored("i"), before);
}

// ntext arrives as UTF-16 in pieces that may split a character or a
// surrogate pair anywhere; text as Windows-1252. Both are converted piece by
// piece, as the whole would be.
TEST_F(TextWriteTest, TextAndNTextConvertedInPieces) {
  Run("create table nt (id int not null primary key, n ntext null, t text null)");
  Run("insert into nt values (1, N'old', 'old')");
  auto pointer_of = [&](const char* column) {
    RecordingSink sink;
    session_->ExecuteBatch("select " + std::string(column) + " from nt where id = 1", sink);
    return std::make_pair(sink.rows[0][0].text_pointer, sink.rows[0][0].text_timestamp);
  };
  auto stored = [&](const char* column) {
    std::string all = Run("select " + std::string(column) + " from nt where id = 1");
    size_t start = all.find("\nrow ");
    return all.substr(start + 1, all.find('\n', start + 1) - start - 1);
  };
  // "a", U+20AC, U+1F600 (a surrogate pair), a lone high surrogate, "z".
  const std::string utf16("a\0\xac\x20\x3d\xd8\x00\xde\x3d\xd8z\0", 12);
  const std::string cp1252("a\x80\xe9z" + std::string(3 << 20, 'x'));  // past one stage piece
  for (size_t piece : {1u, 2u, 3u, 5u, 4096u}) {
    auto [np, ns] = pointer_of("n");
    EXPECT_EQ(Write("nt.n", np, ns, SizePrefix(utf16.size()) + utf16, piece), "ok") << piece;
    EXPECT_EQ(stored("n"), "row 'a\u20ac\U0001F600\ufffdz'") << piece;
    if (piece < 4096) continue;
    auto [tp, ts] = pointer_of("t");
    EXPECT_EQ(Write("nt.t", tp, ts, SizePrefix(cp1252.size()) + cp1252, piece), "ok");
    EXPECT_EQ(stored("substring(t, 1, 5)"), "row 'a\u20ac\u00e9zx'");
    EXPECT_EQ(stored("datalength(t)"), "row " + std::to_string(cp1252.size()));
  }
}

TEST_F(TextWriteTest, TextColumnsTakeWindows1252) {
  auto [pointer, stamp] = PointerOf("t", 1);
  EXPECT_EQ(Write("dbo.tw.t", pointer, stamp, SizePrefix(4) + "caf\xe9", 3), "ok");
  EXPECT_EQ(Stored("t"), "row 'caf\u00e9'");
}

}  // namespace
}  // namespace tdslite
