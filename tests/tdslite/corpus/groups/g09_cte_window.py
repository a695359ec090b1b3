# Common table expressions and window functions.
from casekit import C, D, STANDARD

FEATURE = "9. CTEs and window functions"
SETUP = STANDARD

CASES = [
    C("cte.simple", "with c as (select id, name from emp where dept_id = 10)"
      " select name from c order by name", cols="name", rows=[("Alice",), ("Bob",)]),
    C("cte.column_list", "with c (a, b) as (select 1, 2) select a, b from c", cols="a, b",
      rows=[(1, 2)]),
    C("cte.two", "with a as (select id from emp where dept_id = 10), b as (select id from a"
      " where id > 1) select id from b", cols="id", rows=[(2,)]),
    C("cte.twice", "with c as (select id from emp where dept_id = 20) select count(*) as n"
      " from c x join c y on x.id <= y.id", cols="n", rows=[(3,)]),
    C("cte.recursive_numbers", "with c (n) as (select 1 union all select n + 1 from c where n < 5)"
      " select sum(n) as s from c", cols="s", rows=[(15,)]),
    C("cte.recursive_tree", "with h as (select id, name, 0 as lvl from emp where manager_id is null"
      " and dept_id is not null union all select e.id, e.name, h.lvl + 1 from emp e join h"
      " on e.manager_id = h.id) select name, lvl from h order by lvl, name", cols="name, lvl",
      rows=[("Alice", 0), ("Bob", 1), ("Carol", 1), ("Dave", 2)]),
    C("cte.max_recursion", "with c (n) as (select 1 union all select n + 1 from c)"
      " select max(n) from c", error=(530, 16)),
    C("cte.maxrecursion_option", "with c (n) as (select 1 union all select n + 1 from c"
      " where n < 200) select count(*) as n from c option (maxrecursion 500)", cols="n",
      rows=[(200,)]),
    C("cte.dates", "with d (day) as (select cast('2024-02-27' as datetime) union all"
      " select dateadd(day, 1, day) from d where day < '2024-03-01') select count(*) as n from d",
      cols="n", rows=[(4,)]),
    C("cte.insert", "with c as (select id, name from emp where dept_id = 20)"
      " insert into ci select id, name from c",
      prep=["create table ci (id int, name varchar(30))"],
      then=("select count(*) from ci", [(2,)])),
    C("cte.delete_duplicates", "with d as (select n, row_number() over (partition by n order by n)"
      " as rn from dupl) delete from d where rn > 1",
      prep=["create table dupl (n int)", "insert into dupl values (1), (1), (2), (2), (2)"],
      then=("select n, count(*) from dupl group by n order by n", [(1, 1), (2, 1)])),
    C("cte.update", "with c as (select v from cu where k = 1) update c set v = 9",
      prep=["create table cu (k int, v int)", "insert into cu values (1, 0), (2, 0)"],
      then=("select k, v from cu order by k", [(1, 9), (2, 0)])),
    C("win.row_number", "select name, row_number() over (order by salary desc) as rn from emp"
      " where salary is not null order by rn", cols="name, rn:bigint",
      rows=[("Carol", 1), ("Alice", 2), ("Bob", 3), ("Dave", 4)]),
    C("win.row_number_partition", "select id, row_number() over (partition by dept_id order by id)"
      " as rn from emp where dept_id is not null order by id", cols="id, rn",
      rows=[(1, 1), (2, 2), (3, 1), (4, 2)]),
    C("win.rank", "select v, rank() over (order by v) as r from (select 1 as v union all select 1"
      " union all select 2) t order by v, r", cols="v, r:bigint", rows=[(1, 1), (1, 1), (2, 3)]),
    C("win.dense_rank", "select v, dense_rank() over (order by v) as r from (select 1 as v"
      " union all select 1 union all select 2) t order by v, r", cols="v, r:bigint",
      rows=[(1, 1), (1, 1), (2, 2)]),
    C("win.ntile", "select id, ntile(2) over (order by id) as t from emp order by id",
      cols="id, t:bigint", rows=[(1, 1), (2, 1), (3, 1), (4, 2), (5, 2)]),
    C("win.lag", "select id, lag(name) over (order by id) as prev from emp order by id",
      cols="id, prev", rows=[(1, None), (2, "Alice"), (3, "Bob"), (4, "Carol"), (5, "Dave")]),
    C("win.lead_default", "select id, lead(id, 1, 0) over (order by id) as nxt from emp order by id",
      cols="id, nxt", rows=[(1, 2), (2, 3), (3, 4), (4, 5), (5, 0)]),
    C("win.sum_partition", "select id, sum(salary) over (partition by dept_id) as s from emp"
      " where dept_id is not null order by id", cols="id, s:decimal(38,2)",
      rows=[(1, D("9200.50")), (2, D("9200.50")), (3, D("10000.00")), (4, D("10000.00"))]),
    C("win.count_all", "select id, count(*) over () as n from emp order by id", cols="id, n:int",
      rows=[(1, 5), (2, 5), (3, 5), (4, 5), (5, 5)]),
    C("win.running_total", "select id, sum(id) over (order by id rows unbounded preceding) as s"
      " from emp order by id", cols="id, s", rows=[(1, 1), (2, 3), (3, 6), (4, 10), (5, 15)]),
    C("win.running_default_frame", "select id, sum(id) over (order by id) as s from emp"
      " order by id", cols="id, s", rows=[(1, 1), (2, 3), (3, 6), (4, 10), (5, 15)]),
    C("win.top_per_group", "with r as (select name, dept_id, row_number() over (partition by"
      " dept_id order by salary desc) as rn from emp where dept_id is not null) select name"
      " from r where rn = 1 order by name", cols="name", rows=[("Alice",), ("Carol",)]),
    C("win.first_value", "select id, first_value(name) over (order by id) as f from emp"
      " where id <= 2 order by id", cols="id, f", rows=[(1, "Alice"), (2, "Alice")]),
    C("win.max_partition", "select id, max(salary) over (partition by dept_id) as m from emp"
      " where dept_id = 10 order by id", cols="id, m:decimal(10,2)",
      rows=[(1, D("5000.00")), (2, D("5000.00"))]),
    C("win.paging", "select id from (select id, row_number() over (order by id) as rn from emp) t"
      " where rn between 2 and 3 order by id", cols="id", rows=[(2,), (3,)]),
    C("win.percent_of_total", "select id, cast(100.0 * salary / sum(salary) over () as"
      " decimal(5,2)) as pct from emp where id = 1", cols="id, pct:decimal(5,2)",
      rows=[(1, D("100.00"))], note="the window sees only the rows WHERE leaves"),
    C("win.percent_of_all", "select id, pct from (select id, cast(100.0 * salary / sum(salary)"
      " over () as decimal(5,2)) as pct from emp) t where id = 1", cols="id, pct:decimal(5,2)",
      rows=[(1, D("26.04"))]),
]
