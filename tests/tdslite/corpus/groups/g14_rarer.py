# Rarer statements scripts still send: apply, pivot, merge, cursors, rollup,
# output. tdslite may keep refusing these; the corpus measures them anyway.
from casekit import C, R, STANDARD

FEATURE = "x. apply, pivot, merge, cursors"
SETUP = STANDARD

CASES = [
    C("rare.cross_apply", "select d.name, x.n from dept d cross apply (select count(*) as n"
      " from emp e where e.dept_id = d.id) x order by d.id", cols="name, n:int",
      rows=[("Sales", 2), ("Research", 2), ("Accounting", 0)]),
    C("rare.outer_apply_top", "select d.name, x.top_earner from dept d outer apply (select top 1"
      " e.name as top_earner from emp e where e.dept_id = d.id order by e.salary desc) x"
      " order by d.id", cols="name, top_earner",
      rows=[("Sales", "Alice"), ("Research", "Carol"), ("Accounting", None)]),
    C("rare.pivot", "select [10] as s, [20] as r from (select dept_id, id from emp) src"
      " pivot (count(id) for dept_id in ([10], [20])) p", cols="s:int, r:int", rows=[(2, 2)]),
    C("rare.merge", "merge tgt as t using (values (1, 5), (2, 6)) as s (k, v) on t.k = s.k"
      " when matched then update set v = s.v when not matched then insert (k, v)"
      " values (s.k, s.v);",
      prep=["create table tgt (k int, v int)", "insert into tgt values (1, 0)"],
      then=("select k, v from tgt order by k", [(1, 5), (2, 6)])),
    C("rare.cursor_loop", "declare @id int, @s int = 0; declare c cursor local fast_forward for"
      " select id from emp order by id; open c; fetch next from c into @id;"
      " while @@fetch_status = 0 begin set @s = @s + @id; fetch next from c into @id end;"
      " close c; deallocate c; select @s as s", cols="s", rows=[(15,)]),
    C("rare.rollup", "select dept_id, count(*) as n from emp where dept_id is not null"
      " group by rollup (dept_id) order by grouping(dept_id), dept_id", cols="dept_id, n",
      rows=[(10, 2), (20, 2), (None, 4)]),
    C("rare.output_inserted", "insert into o_t (v) output inserted.id values ('a'), ('b')",
      prep=["create table o_t (id int identity(1,1), v varchar(5))"], cols="id:int",
      rows=[(1,), (2,)], ordered=False),
    C("rare.output_deleted", "delete from o_d output deleted.v where k = 2",
      prep=["create table o_d (k int, v varchar(5))", "insert into o_d values (1, 'a'), (2, 'b')"],
      cols="v:varchar(5)", rows=[("b",)]),
    C("rare.save_tran", "begin tran; insert into sv values (1); save tran s1; insert into sv"
      " values (2); rollback tran s1; commit", prep=["create table sv (n int)"],
      then=("select n from sv", [(1,)])),
    C("rare.group_by_grouping_sets", "select dept_id, count(*) as n from emp where dept_id is not"
      " null group by grouping sets ((dept_id), ()) order by grouping(dept_id), dept_id",
      cols="dept_id, n", rows=[(10, 2), (20, 2), (None, 4)]),
    C("rare.table_valued_function", "select id from dbo.tvf_dept(20) order by id",
      prep=["create function dbo.tvf_dept (@d int) returns table as return"
            " (select id from emp where dept_id = @d)"], cols="id", rows=[(3,), (4,)]),
    C("rare.computed_column", "select a, b, s from cc",
      prep=["create table cc (a int, b int, s as a + b)", "insert into cc (a, b) values (1, 2)"],
      cols="a, b, s:int", rows=[(1, 2, 3)]),
]
