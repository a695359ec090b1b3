// Random statements run through a session: whatever they say, the session
// answers with a complete response and stays usable.
#include "session_fixture.h"

namespace tdslite {
namespace {

TEST_F(SessionTest, RandomStatementsAlwaysFinish) {
  ASSERT_EQ(Run("create table r (a int, b varchar(10), c decimal(10,2), d datetime, e varbinary(4))"
                " insert into r values (1, 'x', 1.5, '2024-01-01', 0x01), (null, null, null, null, "
                "null)"),
            "done C6\ndone C3 count=2");
  static constexpr const char* kPieces[] = {"select",
                                            "from r",
                                            "where",
                                            "a",
                                            "b",
                                            "c",
                                            "d",
                                            "e",
                                            "(",
                                            ")",
                                            ",",
                                            "'x'",
                                            "1",
                                            "0",
                                            "1.5",
                                            "null",
                                            "=",
                                            "<",
                                            "+",
                                            "-",
                                            "*",
                                            "/",
                                            "%",
                                            "and",
                                            "or",
                                            "not",
                                            "is",
                                            "in",
                                            "like",
                                            "between",
                                            "case",
                                            "when",
                                            "then",
                                            "else",
                                            "end",
                                            "cast(",
                                            "as int)",
                                            "convert(varchar,",
                                            "isnull(",
                                            "len(",
                                            "count(*)",
                                            "sum(a)",
                                            "group by",
                                            "order by",
                                            "having",
                                            "union",
                                            "insert into r",
                                            "values",
                                            "update r set",
                                            "delete r",
                                            "top 1",
                                            "distinct",
                                            "0x00",
                                            "N'ü'",
                                            "getdate()",
                                            "@@rowcount",
                                            "substring(",
                                            "exists",
                                            "(select",
                                            "begin tran",
                                            "commit",
                                            "rollback",
                                            "print",
                                            "raiserror('m',16,1)",
                                            ";"};
  uint32_t seed = 99;
  for (int round = 0; round < 1500; ++round) {
    std::string sql;
    seed = seed * 1103515245 + 12345;
    int n = 2 + static_cast<int>((seed >> 16) % 14);
    for (int i = 0; i < n; ++i) {
      seed = seed * 1103515245 + 12345;
      sql += kPieces[(seed >> 16) % (sizeof kPieces / sizeof kPieces[0])];
      sql += ' ';
    }
    RecordingSink sink;
    session_->ExecuteBatch(sql, sink);
    ASSERT_FALSE(sink.dones.empty()) << sql;
    ASSERT_EQ(sink.lines.back().rfind("done", 0), 0u) << sql;
    // An error DONE always comes after an ERROR message.
    for (const Done& d : sink.dones) {
      if (d.status & kDoneError) {
        ASSERT_FALSE(sink.messages.empty()) << sql;
      }
    }
  }
  Run("rollback");
  EXPECT_EQ(Run("select 1"), "cols :int!\nrow 1\ndone C1 count=1");
}

TEST_F(SessionTest, Extremes) {
  Check({
      {"select 99999999999999999999999999999999999999 + 1",
       "cols :numeric(38,0)!\nmsg 8115/16/2: Arithmetic overflow error converting expression to "
       "data type numeric.\ndone C1 error"},
      {"select 999999999999999999999999999999999999999",
       "msg 1007/15/1: The number '999999999999999999999999999999999999999' is out of the range "
       "for numeric representation (maximum precision 38).\ndone C1 error"},
      {"select cast(9223372036854775807 as bigint) + 1",
       "cols :bigint!\nmsg 8115/16/2: Arithmetic overflow error converting expression to data "
       "type bigint.\ndone C1 error"},
      {"select cast(300 as tinyint)",
       "cols :tinyint!\nmsg 220/16/1: Arithmetic overflow error for data type tinyint, value = "
       "300.\ndone C1 error"},
      {"select cast(123.456 as decimal(3,1))",
       "cols :decimal(3,1)!\nmsg 8115/16/2: Arithmetic overflow error converting numeric to data "
       "type numeric.\ndone C1 error"},
      {"select 1.0 / 3, -2.0 / 3",
       "cols :numeric(7,6)! :numeric(7,6)!\nrow 0.333333|-0.666667\ndone C1 count=1"},
      {"select cast(-922337203685477.5808 as money) - 1",
       "cols :money!\nmsg 8115/16/2: Arithmetic overflow error converting expression to data "
       "type money.\ndone C1 error"},
      {"select substring('abc', 1, -1)",
       "cols :varchar(3)!\nmsg 537/16/3: Invalid length parameter passed to the substring "
       "function.\ndone C1 error"},
      {"select 'x' where 'a%b' like '%' + '%'", "cols :varchar(1)!\nrow 'x'\ndone C1 count=1"},
  });
  std::string deep = "select " + std::string(300, '(') + "1" + std::string(300, ')');
  EXPECT_EQ(Run(deep).substr(0, 8), "msg 191/");
  std::string long_literal = "select '" + std::string(9000, 'x') + "'";
  RecordingSink sink;
  session_->ExecuteBatch(long_literal, sink);
  ASSERT_EQ(sink.metadata.size(), 1u);
  // A literal past 8,000 bytes is varchar(max), and whole.
  EXPECT_EQ(sink.metadata[0][0].type.id, TypeId::kVarChar);
  EXPECT_EQ(sink.metadata[0][0].type.length, kMaxLength);
  ASSERT_EQ(sink.rows.size(), 1u);
  EXPECT_EQ(sink.rows[0][0].bytes.size(), 9000u);
  EXPECT_EQ(sink.rows[0][0].bytes.size(), 9000u);
}

// Statements that would build a value beyond the server's limit fail with a
// clear error, and the session goes on; a LIKE that recursed once per '%'
// killed the server.
TEST_F(SessionTest, HugeValuesAndPatternsFailCleanly) {
  const std::string too_big =
      "msg 7119/16/1: Attempting to grow LOB beyond maximum allowed size of ";
  std::string out = Run("select len(replace(replace(space(8000),' ',space(8000)),' ',space(100)))");
  EXPECT_NE(out.find(too_big), std::string::npos) << out;
  EXPECT_EQ(out.find("internal"), std::string::npos) << out;
  Check({
      {"select 1 where replace(replace(space(400),' ',space(400)),' ','a') like "
       "replace(replace(space(400),' ',space(400)),' ','%a')",
       "cols :int!\nrow 1\ndone C1 count=1"},
      {"select substring('abc', 2, 9223372036854775807)",
       "cols :varchar(3)!\nrow 'bc'\ndone C1 count=1"},
      {"select 1", "cols :int!\nrow 1\ndone C1 count=1"},
  });
}

}  // namespace
}  // namespace tdslite
