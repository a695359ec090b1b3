// Query shapes, row counts and the SET options that change them.
#include "session_fixture.h"

namespace tdslite {
namespace {

TEST_F(SessionTest, RowCountsNoCountAndRowCount) {
  ASSERT_EQ(Run("create table t (a int)"), "done C6");
  Check({
      {"insert into t values (1), (2), (3)", "done C3 count=3"},
      {"insert into t select a + 10 from t", "done C3 count=3"},
      {"update t set a = a + 1 where a > 10", "done C5 count=3"},
      {"delete from t where a > 100", "done C4 count=0"},
      {"select @@rowcount", "cols :int!\nrow 0\ndone C1 count=1"},
      {"set nocount on select a from t where a = 1 update t set a = 1 where a = 1",
       "done B9\ncols a:int\nrow 1\ndone C1\ndone C5"},
      {"set nocount off set rowcount 2 select a from t order by a",
       "done B9\ndone B9\ncols a:int\nrow 1\nrow 2\ndone C1 count=2"},
      {"delete from t where a > 10 select @@rowcount",
       "done C4 count=2\ncols :int!\nrow 2\ndone C1 count=1"},
      {"set rowcount 0 select count(*) from t", "done B9\ncols :int!\nrow 4\ndone C1 count=1"},
      {"print 'x' select @@rowcount", "msg 0/0/1: x\ndone A9\ncols :int!\nrow 0\ndone C1 count=1"},
      {"select top 1 a from t order by a", "cols a:int\nrow 1\ndone C1 count=1"},
      {"select top (2) a from t order by a", "cols a:int\nrow 1\nrow 2\ndone C1 count=2"},
  });
  EXPECT_EQ(session_->TextSize(), 4096);
  Run("set textsize 100");
  EXPECT_EQ(session_->TextSize(), 100);
  Run("set textsize 0");
  EXPECT_EQ(session_->TextSize(), 4096);
  SessionInfo odbc;
  odbc.odbc = true;
  EXPECT_EQ(engine_->NewSession(odbc)->TextSize(), 2147483647);
  EXPECT_EQ(session_->DatabaseName(), "master");
  EXPECT_EQ(Run("use master"),
            "env master->master\nmsg 5701/0/1: Changed database context to 'master'.\ndone C0");
  EXPECT_EQ(Run("use other"),
            "msg 911/16/1: Database 'other' does not exist. Make sure that the name is entered "
            "correctly.\ndone C0 error");
}

TEST_F(SessionTest, QueryShapes) {
  ASSERT_EQ(Run("create table a (id int primary key, v varchar(10))"
                "insert into a values (1, 'one'), (2, 'two'), (3, null)"),
            "done C6\ndone C3 count=3");
  Check({
      {"select x.id, y.v from a x join a y on x.id = y.id + 1 order by x.id",
       "cols id:int! v:varchar(10)\nrow 2|'one'\nrow 3|'two'\ndone C1 count=2"},
      {"select x.id, y.id from a x left join a y on x.id = y.id + 10 where x.id < 3",
       "cols id:int! id:int\nrow 1|NULL\nrow 2|NULL\ndone C1 count=2"},
      {"select id from a union select 10 union all select 10 order by 1",
       "cols id:int!\nrow 1\nrow 2\nrow 3\nrow 10\nrow 10\ndone C1 count=5"},
      {"select 'a' union select 'abc'", "cols :varchar(3)!\nrow 'a'\nrow 'abc'\ndone C1 count=2"},
      {"select v, count(*) n from a group by v having count(*) > 0 order by n desc, v",
       "cols v:varchar(10) n:int!\nrow NULL|1\nrow 'one'|1\nrow 'two'|1\ndone C1 count=3"},
      {"select id, v from a group by id",
       "msg 8120/16/1: Column 'a.v' is invalid in the select list because it is not contained "
       "in either an aggregate function or the GROUP BY clause.\ndone C1 error"},
      {"select (select max(id) from a) m, id from a where id in (select id from a where id > 1) "
       "and exists (select 1 from a b where b.id = a.id)",
       "cols m:int id:int!\nrow 3|2\nrow 3|3\ndone C1 count=2"},
      {"select * from (select id * 2 as d from a) t where t.d > 2 order by d desc",
       "cols d:int!\nrow 6\nrow 4\ndone C1 count=2"},
      {"select distinct v from a where v is not null order by v",
       "cols v:varchar(10)\nrow 'one'\nrow 'two'\ndone C1 count=2"},
      {"select sum(id), avg(id), min(v), max(v), count(v) from a",
       "cols :int :int :varchar(10) :varchar(10) :int!\nrow 6|2|'one'|'two'|2\ndone C1 count=1"},
      {"select v from a where v = 'ONE'", "cols v:varchar(10)\nrow 'one'\ndone C1 count=1"},
      {"select a.* from a where id = 1",
       "cols id:int! v:varchar(10)\nrow 1|'one'\ndone C1 count=1"},
      {"select id from a x, a y", "msg 209/16/1: Ambiguous column name 'id'.\ndone C1 error"},
      {"select z.id from a",
       "msg 4104/16/1: The multi-part identifier \"z.id\" could not be bound.\ndone C1 error"},
      {"delete a from a join a b on a.id = b.id where b.v = 'two'", "done C4 count=1"},
      {"update a set v = 'x' from a join a b on a.id = b.id where b.id = 1", "done C5 count=1"},
      {"update top (1) a set v = 'y' where v is null", "done C5 count=1"},
      {"select id, v from a order by id",
       "cols id:int! v:varchar(10)\nrow 1|'x'\nrow 3|'y'\ndone C1 count=2"},
  });
}

TEST_F(SessionTest, IndexesAndKeys) {
  Check({
      {"create table k (a int, b varchar(5), unique (b))", "done C6"},
      {"create unique index ix_a on k (a)", "done CA"},
      {"create index ix_a on k (b)",
       "msg 1913/16/1: The operation failed because an index or statistics with name 'ix_a' "
       "already exists on table 'k'.\ndone CA error"},
      {"insert into k values (1, 'x') insert into k values (1, 'y')",
       "done C3 count=1\nmsg 2601/14/1: Cannot insert duplicate key row in object 'dbo.k' with "
       "unique index 'ix_a'. The duplicate key value is (1).\nmsg 3621/0/0: The statement has "
       "been terminated.\ndone C3 error"},
      {"create index ix_c on k (c)",
       "msg 1911/16/1: Column name 'c' does not exist in the target table or view.\ndone CA error"},
      {"drop table k select * from k",
       "done C7\nmsg 208/16/1: Invalid object name 'k'.\ndone C1 error"},
  });
}

// Concatenation stops at 8,000 bytes (4,000 characters) unless an operand
// is (max), as SQL Server's does; len() counts past a NUL.
TEST_F(SessionTest, StringLengthsAtTheLimits) {
  ASSERT_EQ(Run("create table w (v varchar(8000))"), "done C6");
  Check({
      {"select len('abc' + replicate('x', 8000)), len(N'a' + replicate(N'x', 4000)), "
       "len(cast('abc' as varchar(max)) + replicate('x', 8000))",
       "cols :int! :int! :bigint!\nrow 8000|4000|8003\ndone C1 count=1"},
      // What was cut stays cut when a (max) value follows.
      {"select len(replicate('x', 5000) + replicate('y', 5000) + cast('z' as varchar(max)))",
       "cols :bigint!\nrow 8001\ndone C1 count=1"},
      {"declare @v varchar(8000) = replicate('x', 7999) set @v = @v + 'yz' select len(@v)",
       "cols :int\nrow 8000\ndone C1 count=1"},
      {"insert w values (replicate('x', 8000) + 'y') select len(v), right(v, 1) from w",
       "done C3 count=1\ncols :int :varchar(8000)\nrow 8000|'x'\ndone C1 count=1"},
      {"select len(concat(replicate('a', 5000), replicate('b', 5000))), "
       "len(concat_ws(',', replicate('a', 5000), replicate('b', 5000)))",
       "cols :int! :int!\nrow 8000|8000\ndone C1 count=1"},
      // char() is the code page's byte; ascii('') is NULL.
      {"select ascii(char(128)), unicode(cast(char(150) as nvarchar(1))), ascii(''), "
       "unicode(N'')",
       "cols :int :int :int :int\nrow 128|8211|NULL|NULL\ndone C1 count=1"},
      {"select 'a' collate Latin1_General_CS_AS",
       "msg 50100/16/1: COLLATE is not supported by tdslite.\ndone 0 error"},
      {"declare @s varchar(10) = 'ab' + char(0) + 'cd' select len(@s), datalength(@s)",
       "cols :int :int\nrow 5|5\ndone C1 count=1"},
  });
}

}  // namespace
}  // namespace tdslite
