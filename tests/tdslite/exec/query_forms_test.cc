// Common table expressions, window functions, paging, set operators, row
// constructors, string_split and FOR XML PATH(''): answers and errors.
#include "session_fixture.h"

namespace tdslite {
namespace {

class QueryFormsTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    ASSERT_EQ(Run("create table m (k int, g varchar(5), d decimal(10,2))"
                  "insert into m values (1, 'a', 1.50), (2, 'A', 2.25), (3, 'b', 10.00), "
                  "(4, 'b', null)"),
              "done C6\ndone C3 count=4");
  }
};

TEST_F(QueryFormsTest, RecursionStopsAtItsLimit) {
  Check({
      // Level 100 is the last one MAXRECURSION 100 allows: 101 rows.
      {"with c (n) as (select 1 union all select n + 1 from c where n < 101) "
       "select count(*) from c",
       "cols :int!\nrow 101\ndone C1 count=1"},
      {"with c (n) as (select 1 union all select n + 1 from c where n < 102) "
       "select count(*) from c",
       "cols :int!\nmsg 530/16/1: The statement terminated. The maximum recursion 100 has been "
       "exhausted "
       "before statement completion.\ndone C1 error"},
      {"with c (n) as (select 1 union all select n + 1 from c where n < 6) "
       "select count(*) from c option (maxrecursion 4)",
       "cols :int!\nmsg 530/16/1: The statement terminated. The maximum recursion 4 has been "
       "exhausted "
       "before statement completion.\ndone C1 error"},
      {"with c (n) as (select 1 union all select n + 1 from c where n < 6) "
       "select count(*) from c option (maxrecursion 5)",
       "cols :int!\nrow 6\ndone C1 count=1"},
      // MAXRECURSION 0 has no limit on SQL Server; here it still has one.
      {"with c (n) as (select 1 union all select n + 1 from c) select max(n) from c "
       "option (maxrecursion 0)",
       "cols :int\nmsg 50100/16/1: A recursion deeper than 32767 levels is not supported by "
       "tdslite.\n"
       "done C1 error"},
  });
}

TEST_F(QueryFormsTest, CommonTableExpressionRules) {
  Check({
      // The recursive part must keep the anchor's exact types.
      {"with c (s) as (select 'a' union all select s + 'a' from c where len(s) < 3) "
       "select s from c",
       "msg 240/16/1: Types don't match between the anchor and the recursive part in column "
       "\"s\" of recursive query \"c\".\ndone C1 error"},
      {"with c (s) as (select cast('a' as varchar(10)) union all "
       "select cast(s + 'a' as varchar(10)) from c where len(s) < 3) select s from c",
       "cols s:varchar(10)\nrow 'a'\nrow 'aa'\nrow 'aaa'\ndone C1 count=3"},
      {"with c (n) as (select 1 union select n + 1 from c where n < 3) select n from c",
       "msg 252/16/1: Recursive common table expression 'c' does not contain a top-level UNION "
       "ALL operator.\ndone C1 error"},
      {"with a as (select 1 x), a as (select 2 x) select x from a",
       "msg 239/16/1: Duplicate common table expression name 'a' was specified.\ndone 0 error"},
      {"with c (a, b) as (select 1) select a from c",
       "msg 8159/16/1: 'c' has fewer columns than were specified in the column list.\n"
       "done C1 error"},
      {"with c as (select 1) select * from c",
       "msg 8155/16/2: No column name was specified for column 1 of 'c'.\ndone C1 error"},
      // A later one sees an earlier one; not the other way round.
      {"with a as (select k from m where k > 1), b as (select k from a where k < 4) "
       "select count(*) from b",
       "cols :int!\nrow 2\ndone C1 count=1"},
      {"with b as (select k from a), a as (select 1 k) select k from b",
       "msg 208/16/1: Invalid object name 'a'.\ndone C1 error"},
      {"with c as (select k from m order by k) select k from c",
       "msg 1033/15/1: The ORDER BY clause is invalid in views, inline functions, derived "
       "tables, subqueries, and common table expressions, unless TOP, OFFSET or FOR XML is also "
       "specified.\ndone C1 error"},
      {"with c as (select g, count(*) n from m group by g) select g, n from c order by g",
       "cols g:varchar(5) n:int!\nrow 'a'|2\nrow 'b'|2\ndone C1 count=2"},
  });
}

TEST_F(QueryFormsTest, WindowFunctions) {
  Check({
      // Partitions follow the collation: 'a' and 'A' are one.
      {"select k, row_number() over (partition by g order by k desc) rn, "
       "count(*) over (partition by g) n from m order by k",
       "cols k:int rn:bigint! n:int!\nrow 1|2|2\nrow 2|1|2\nrow 3|2|2\nrow 4|1|2\n"
       "done C1 count=4"},
      // A sliding frame takes values out of an exact decimal sum again.
      {"select k, sum(d) over (order by k rows between 1 preceding and current row) s "
       "from m order by k",
       "cols k:int s:decimal(38,2)\nrow 1|1.50\nrow 2|3.75\nrow 3|12.25\nrow 4|10.00\n"
       "done C1 count=4"},
      {"select k, rank() over (order by g) r, dense_rank() over (order by g) dr from m order by k",
       "cols k:int r:bigint! dr:bigint!\nrow 1|1|1\nrow 2|1|1\nrow 3|3|2\nrow 4|3|2\n"
       "done C1 count=4"},
      {"select k, lag(d, 1, 0) over (order by k) p, lead(g) over (order by k) n from m "
       "where k < 3 order by k",
       "cols k:int p:decimal(10,2) n:varchar(5)\nrow 1|0.00|'A'\nrow 2|1.50|NULL\n"
       "done C1 count=2"},
      // A window sees the grouped rows.
      {"select g, count(*) n, sum(count(*)) over () t from m group by g order by g",
       "cols g:varchar(5) n:int! t:int\nrow 'a'|2|4\nrow 'b'|2|4\ndone C1 count=2"},
      {"select k from m where row_number() over (order by k) > 1",
       "msg 4108/16/1: Windowed functions can only appear in the SELECT or ORDER BY clauses.\n"
       "done C1 error"},
      {"select row_number() over (partition by g) from m",
       "msg 4112/16/1: The function 'row_number' must have an OVER clause with ORDER BY.\n"
       "done C1 error"},
      {"select row_number() from m",
       "msg 10753/15/1: The function 'row_number' must have an OVER clause.\ndone 0 error"},
      {"select len(g) over (order by k) from m",
       "msg 4113/15/1: The function 'len' is not a valid windowing function, and cannot be used "
       "with the OVER clause.\ndone 0 error"},
  });
}

TEST_F(QueryFormsTest, PagingAndTop) {
  Check({
      {"declare @n int = 2; select k from m order by k offset @n - 1 rows "
       "fetch next @n rows only",
       "cols k:int\nrow 2\nrow 3\ndone C1 count=2"},
      {"select k from m order by k offset -1 rows",
       "msg 10742/16/1: The offset specified in a OFFSET clause may not be negative.\n"
       "done C1 error"},
      {"select k from m order by k offset 0 rows fetch next 0 rows only",
       "msg 10744/16/1: The number of rows provided for a FETCH clause must be greater then "
       "zero.\ndone C1 error"},
      {"select k from m order by k fetch first 1 rows only",
       "msg 153/15/1: Invalid usage of the option FIRST in the FETCH statement.\ndone 0 error"},
      {"select top 1 k from m order by k offset 1 rows",
       "msg 10741/15/1: A TOP can not be used in the same query or sub-query as a OFFSET.\n"
       "done 0 error"},
      // A share of the rows is rounded up.
      {"select top 50 percent k from m order by k", "cols k:int\nrow 1\nrow 2\ndone C1 count=2"},
      {"select top 26 percent k from m order by k", "cols k:int\nrow 1\nrow 2\ndone C1 count=2"},
      {"select top 101 percent k from m",
       "msg 1031/16/1: Percent values must be between 0 and 100.\ndone C1 error"},
      // Ties by the collation, and by an expression that is not in the list.
      {"select top 1 with ties k from m order by g", "cols k:int\nrow 1\nrow 2\ndone C1 count=2"},
      {"select top 1 with ties k from m order by upper(g) desc",
       "cols k:int\nrow 3\nrow 4\ndone C1 count=2"},
      {"select top 1 with ties k from m",
       "msg 1062/16/1: The TOP N WITH TIES clause is not allowed without a corresponding ORDER "
       "BY clause.\ndone C1 error"},
  });
}

TEST_F(QueryFormsTest, SetOperatorsAndRowConstructors) {
  Check({
      {"select g from m except select 'A'", "cols g:varchar(5)\nrow 'b'\ndone C1 count=1"},
      {"select g from m intersect select 'B' order by g",
       "cols g:varchar(5)\nrow 'b'\ndone C1 count=1"},
      {"select 1 union select 2 intersect select 2",
       "msg 50100/16/1: INTERSECT after UNION or EXCEPT is not supported by tdslite.\n"
       "done 0 error"},
      {"select n, s from (values (1, 'a'), (2, 'bb'), (null, null)) v (n, s) order by n",
       "cols n:int s:varchar(2)\nrow NULL|NULL\nrow 1|'a'\nrow 2|'bb'\ndone C1 count=3"},
      {"select * from (values (1, 2), (3)) v (a, b)",
       "msg 10709/16/1: The number of columns for each row in a table value constructor must be "
       "the same.\ndone 0 error"},
      {"select a from (values (1, 2)) v (a, a)",
       "msg 8156/16/1: The column 'a' was specified multiple times for 'v'.\ndone C1 error"},
  });
}

TEST_F(QueryFormsTest, SplitAndXmlConcatenation) {
  Check({
      {"select value from string_split('a,,b', ',')",
       "cols value:varchar(4)!\nrow 'a'\nrow ''\nrow 'b'\ndone C1 count=3"},
      {"select count(*) from string_split(null, ',')", "cols :int!\nrow 0\ndone C1 count=1"},
      {"select value from string_split('a,b', ',;')",
       "msg 214/16/1: Procedure expects parameter 'separator' of type 'nchar(1)/nvarchar(1)'.\n"
       "done C1 error"},
      {"select string_split('a', ',')",
       "msg 195/15/10: 'string_split' is not a recognized built-in function name.\ndone 0 error"},
      // XML text: &, < and > escaped; a named column in its element; NULL left out.
      {"select stuff((select ',' + g + '<&>' from m order by k for xml path('')), 1, 1, '')",
       "cols :nvarchar(4000)\nrow 'a&lt;&amp;&gt;,A&lt;&amp;&gt;,b&lt;&amp;&gt;,b&lt;&amp;&gt;'\n"
       "done C1 count=1"},
      {"select (select ',' + g + '<&>' from m where k = 1 for xml path(''))",
       "cols :nvarchar(4000)\nrow ',a&lt;&amp;&gt;'\ndone C1 count=1"},
      {"select (select g, d from m where k > 2 order by k for xml path(''))",
       "cols :nvarchar(4000)\nrow '<g>b</g><d>10.00</d><g>b</g>'\ndone C1 count=1"},
      {"select (select g from m where k > 9 for xml path(''))",
       "cols :nvarchar(4000)\nrow NULL\ndone C1 count=1"},
  });
}

}  // namespace
}  // namespace tdslite
