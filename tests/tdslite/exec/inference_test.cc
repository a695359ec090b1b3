// Result types and nullability of expressions over table columns, and the
// values that come back for each kind of data.
#include "session_fixture.h"

namespace tdslite {
namespace {

class InferenceTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    ASSERT_EQ(Run("create table x (i int not null, n int, ti tinyint, bi bigint, d decimal(10,2), "
                  "m money, f float, r real, c char(4), v varchar(10), nv nvarchar(8), "
                  "dt datetime, sd smalldatetime, b varbinary(6), tx text)"
                  " insert into x values (1, null, 2, 3, 1.25, 2.5, 0.5, 0.25, 'ab', 'xyz', N'ü', "
                  "'2024-02-29 13:45', '2024-02-29 13:45', 0x0001, 'long')"),
              "done C6\ndone C3 count=1");
  }
};

TEST_F(InferenceTest, ColumnExpressions) {
  struct Case {
    const char* select_list;
    const char* cols;
  } cases[] = {
      {"i, n", "i:int! n:int"},
      {"i + 1, n + 1, i + n", ":int! :int :int"},
      {"i + ti, ti + ti, bi * i", ":int :tinyint :bigint"},
      {"i * d, d + d, d / i", ":decimal(21,2) :decimal(11,2) :decimal(21,13)"},
      {"m + i, m * d, m + f", ":money :decimal(30,6) :float"},
      {"f * r, r * i", ":float :real"},
      {"c + v, v + nv, c + 'x'", ":varchar(14) :nvarchar(18) :varchar(5)"},
      {"isnull(n, 0), isnull(v, 'none'), coalesce(n, i), coalesce(n, ti)",
       ":int! :varchar(10)! :int! :int"},
      {"case when i = 1 then v else c end, case when i = 1 then d else i end",
       ":varchar(10) :decimal(12,2)"},
      {"count(*), count(n), sum(ti), sum(bi), sum(d), sum(m), sum(f)",
       ":int! :int! :int :bigint :decimal(38,2) :money :float"},
      {"avg(i), avg(d), avg(m), avg(r), min(c), max(dt)",
       ":int :decimal(38,6) :money :float :char(4) :datetime"},
      {"len(v), datalength(nv), upper(c), substring(v, 1, 2), left(nv, 1)",
       ":int :int :char(4) :varchar(10) :nvarchar(8)"},
      {"cast(i as varchar(5)), convert(char(26), dt, 109), cast(d as int), cast(v as text)",
       ":varchar(5)! :char(26) :int :text"},
      {"dt + 1, year(dt), sd, b + 0x02", ":datetime :int sd:smalldatetime :varbinary(7)"},
      {"x.i as alias, (select max(i) from x) sub, 1 + 1 expr", "alias:int! sub:int expr:int!"},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    session_->ExecuteBatch(std::string("select ") + c.select_list + " from x", sink);
    ASSERT_EQ(sink.lines.size(), 3u) << c.select_list << ": " << sink.lines[0];
    EXPECT_EQ(sink.lines[0], std::string("cols ") + c.cols) << c.select_list;
  }
}

TEST_F(InferenceTest, Values) {
  Check({
      {"select i * d, d / i, m * d, c + v, v + nv from x",
       "cols :decimal(21,2) :decimal(21,13) :decimal(30,6) :varchar(14) :nvarchar(18)\n"
       "row 1.25|1.2500000000000|3.125000|'ab  xyz'|'xyzü'\ndone C1 count=1"},
      {"select isnull(n, 0), coalesce(n, ti), case when i = 1 then d else i end from x",
       "cols :int! :int :decimal(12,2)\nrow 0|2|1.25\ndone C1 count=1"},
      {"select dt + 1, sd, b + 0x02, convert(char(26), dt, 109) from x",
       "cols :datetime sd:smalldatetime :varbinary(7) :char(26)\n"
       "row 2024-03-01 13:45:00.000|2024-02-29 13:45:00.000|0x000102|'Feb 29 2024  1:45:00:000PM'\n"
       "done C1 count=1"},
      {"select avg(d), avg(m), avg(r), sum(f) from x",
       "cols :decimal(38,6) :money :float :float\nrow 1.250000|2.5000|0.25|0.5\ndone C1 count=1"},
  });
}

TEST_F(InferenceTest, Comparisons) {
  Check({
      // Dates compare with string literals in SQL Server's formats.
      {"select i from x where dt > '2024-02-29' and dt < '20240301' and sd = dt",
       "cols i:int!\nrow 1\ndone C1 count=1"},
      {"select i from x where dt between 'Feb 29 2024 1:00PM' and 'Feb 29 2024 2:00PM'",
       "cols i:int!\nrow 1\ndone C1 count=1"},
      // char and varchar compare without trailing blanks; numbers by value.
      {"select i from x where c = 'ab' and c = 'AB   ' and v > 'XY' and d = 1.250 and m = 2.5",
       "cols i:int!\nrow 1\ndone C1 count=1"},
      {"select i from x where b = 0x0001 and b <> 0x000100 and n is null and tx like 'lo%'",
       "cols i:int!\nrow 1\ndone C1 count=1"},
      {"select i from x where v = 1",
       "cols i:int!\nmsg 245/16/1: Conversion failed when converting the varchar value 'xyz' to "
       "data type int.\ndone C1 error"},
      {"select i from x where tx = 'long'",
       "msg 402/16/1: The data types text and varchar are incompatible in the equal to "
       "operator.\ndone C1 error"},
  });
}

TEST_F(SessionTest, PrintAndRaiserrorFormatting) {
  Check({
      {"print 12", "msg 0/0/1: 12\ndone A9"},
      {"print 1.50", "msg 0/0/1: 1.50\ndone A9"},
      {"print null", "msg 0/0/1: \ndone A9"},
      {"print 'a' + 'b'", "msg 0/0/1: ab\ndone A9"},
      {"print cast('2024-01-05 09:05' as datetime)", "msg 0/0/1: Jan  5 2024  9:05AM\ndone A9"},
      {"raiserror('[%5d][%-3s][%x][%%][%s]', 1, 1, 42, 'ab', 255)",
       "msg 50000/1/1: [   42][ab ][ff][%][(null)]\ndone AC"},
      {"raiserror('neg %d', -5, 300)", "msg 50000/0/255: neg (null)\ndone AC"},
      {"raiserror(50001, 16, 1)",
       "msg 18054/16/1: Error 50001, severity 16, state 1 was raised, but no message with that "
       "error number was found in sys.messages. If error is larger than 50000, make sure the "
       "user-defined message is added using sp_addmessage.\ndone AC error"},
      {"raiserror('x')", "msg 102/15/1: Incorrect syntax near ')'.\ndone 0 error"},
  });
}

TEST_F(SessionTest, IdentitySeedsAndScope) {
  Check({
      {"select scope_identity(), @@identity",
       "cols :numeric(38,0) :numeric(38,0)\nrow NULL|NULL\ndone C1 count=1"},
      {"create table a (id bigint identity(1000, 1), v int) create table b (v int)",
       "done C6\ndone C6"},
      {"insert into a (v) values (1), (2) select scope_identity()",
       "done C3 count=2\ncols :numeric(38,0)\nrow 1001\ndone C1 count=1"},
      // An insert into a table without identity leaves it unchanged.
      {"insert into b values (5) select scope_identity()",
       "done C3 count=1\ncols :numeric(38,0)\nrow 1001\ndone C1 count=1"},
      {"delete from a insert into a (v) values (3) select id from a",
       "done C4 count=2\ndone C3 count=1\ncols id:bigint!\nrow 1002\ndone C1 count=1"},
      {"truncate table a insert into a (v) values (4) select id from a",
       "done 118\ndone C3 count=1\ncols id:bigint!\nrow 1000\ndone C1 count=1"},
      {"truncate table nope",
       "msg 4701/16/1: Cannot find the object \"nope\" because it does not exist or you do not "
       "have permissions.\ndone 118 error"},
  });
}

TEST_F(SessionTest, UnionsAndOrdering) {
  ASSERT_EQ(Run("create table u (a int, s varchar(5), d decimal(5,2))"
                " insert into u values (2, 'b', 10.5), (1, 'B', 9.99), (3, 'a', -1)"),
            "done C6\ndone C3 count=3");
  Check({
      // 'b' and 'B' are equal under the case-insensitive collation: a decides.
      {"select s from u order by s, a desc",
       "cols s:varchar(5)\nrow 'a'\nrow 'b'\nrow 'B'\ndone C1 count=3"},
      {"select d from u order by d",
       "cols d:decimal(5,2)\nrow -1.00\nrow 9.99\nrow 10.50\ndone C1 count=3"},
      {"select a, s from u union all select 1.5, 'long text' order by 1",
       "cols a:numeric(11,1) s:varchar(9)\nrow 1.0|'B'\nrow 1.5|'long text'\nrow 2.0|'b'\n"
       "row 3.0|'a'\ndone C1 count=4"},
      {"select a from u union select s from u",
       "cols a:int\nmsg 245/16/1: Conversion failed when converting the varchar value 'b' to "
       "data type int.\ndone C1 error"},
      {"select a from u union select a, s from u",
       "msg 205/16/1: All queries combined using a UNION, INTERSECT or EXCEPT operator must have "
       "an equal number of expressions in their target lists.\ndone C1 error"},
      {"select a from u order by 3",
       "msg 108/16/1: The ORDER BY position number 3 is out of range of the number of items in "
       "the select list.\ndone C1 error"},
      {"select distinct s from u order by a",
       "msg 145/15/1: ORDER BY items must appear in the select list if SELECT DISTINCT is "
       "specified.\ndone C1 error"},
      {"select a from u union select a from u order by s",
       "msg 104/16/1: ORDER BY items must appear in the select list if the statement contains a "
       "UNION, INTERSECT or EXCEPT operator.\ndone C1 error"},
      {"select max(d), min(s), count(distinct s) from u",
       "cols :decimal(5,2) :varchar(5) :int!\nrow 10.50|'a'|2\ndone C1 count=1"},
  });
}

}  // namespace
}  // namespace tdslite
