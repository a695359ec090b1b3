# Temporary tables and select ... into.
from casekit import C, D, R, STANDARD

FEATURE = "5. temp tables, select into"
SETUP = STANDARD

CASES = [
    C("temp.create_use", "create table #t (id int, v varchar(10)); insert into #t values (1, 'a');"
      " select id, v from #t", cols="id:int, v:varchar(10)", rows=[(1, "a")]),
    C("temp.across_batches", "insert into #p values (5); select n from #p",
      prep=["create table #p (n int)"], cols="n", rows=[(5,)]),
    C("temp.private", "select * from #priv", prep=["create table #priv (n int)"], apart=True,
      error=(208, 16)),
    C("temp.same_name_two_sessions", "create table #same (m int); insert into #same values (1);"
      " select m from #same", prep=["create table #same (n int)"], apart=True, cols="m",
      rows=[(1,)]),
    C("temp.global_visible", "select count(*) as n from ##glob",
      prep=["create table ##glob (n int)", "insert into ##glob values (1)"], apart=True,
      cols="n", rows=[(1,)]),
    C("temp.global_dropped_at_disconnect", "select count(*) from ##gone",
      prep=["create table ##gone (n int)"], apart="closed", error=(208, 16)),
    C("temp.identity", "create table #i (id int identity(1,1), v varchar(5));"
      " insert into #i (v) values ('a'), ('b'); select id, v from #i order by id",
      cols="id, v", rows=[(1, "a"), (2, "b")]),
    C("temp.drop", "drop table #d; select * from #d", prep=["create table #d (n int)"],
      error=(208, 16)),
    C("temp.object_id_tempdb",
      "select case when object_id('tempdb..#ex') is not null then 1 else 0 end as f",
      prep=["create table #ex (n int)"], cols="f", rows=[(1,)]),
    C("temp.object_id_tempdb_missing",
      "select case when object_id('tempdb..#nope') is not null then 1 else 0 end as f",
      cols="f", rows=[(0,)]),
    C("temp.drop_if_exists_idiom",
      "if object_id('tempdb..#t2') is not null drop table #t2; create table #t2 (m int);"
      " select m from #t2", prep=["create table #t2 (n int)"], cols="m:int", rows=[]),
    C("temp.drop_table_if_exists", "drop table if exists #t3; create table #t3 (m int);"
      " select m from #t3", prep=["create table #t3 (n int)"], cols="m", rows=[]),
    C("temp.join_permanent", "create table #ids (id int); insert into #ids values (1), (3);"
      " select e.name from emp e join #ids i on e.id = i.id order by e.name",
      cols="name", rows=[("Alice",), ("Carol",)]),
    C("temp.update_delete", "update #u set v = v * 10 where n = 1; delete from #u where n = 2;"
      " select n, v from #u order by n",
      prep=["create table #u (n int, v int)", "insert into #u values (1, 1), (2, 2), (3, 3)"],
      cols="n, v", rows=[(1, 10), (3, 3)]),
    C("temp.truncate", "truncate table #tr; select count(*) as n from #tr",
      prep=["create table #tr (n int)", "insert into #tr values (1)"], cols="n", rows=[(0,)]),
    C("temp.pk_violation", "insert into #pk values (1); insert into #pk values (1)",
      prep=["create table #pk (n int primary key)"], error=(2627, 14)),
    C("temp.not_in_sys_tables", "select count(*) as n from sys.tables where name like '#%'",
      prep=["create table #hidden (n int)"], cols="n", rows=[(0,)]),
    C("into.copy", "select id, name into emp_copy from emp where dept_id = 10;"
      " select count(*) as n from emp_copy", cols="n", rows=[(2,)]),
    C("into.temp", "select * into #e from emp; select count(*) as n from #e", cols="n",
      rows=[(5,)]),
    C("into.column_types", "select id, name, salary, hired into ec2 from emp where 1 = 0;"
      " select * from ec2", cols="id:int, name:varchar(30), salary:decimal(10,2), hired:datetime",
      rows=[]),
    C("into.expression", "select id, salary * 2 as dbl into ec3 from emp where id = 1;"
      " select dbl from ec3", cols="dbl", rows=[(D("10000.00"),)]),
    C("into.aggregate", "select dept_id, count(*) as n into #cnt from emp where dept_id is not null"
      " group by dept_id; select dept_id, n from #cnt order by dept_id", cols="dept_id, n:int",
      rows=[(10, 2), (20, 2)]),
    C("into.exists_already", "select * into emp from dept", error=(2714, 16)),
    C("into.identity_kept", "select * into #idc from src_i; insert into #idc (v) values ('c');"
      " select id, v from #idc order by id",
      prep=["create table src_i (id int identity(1,1), v varchar(5))",
            "insert into src_i (v) values ('a'), ('b')"],
      cols="id, v", rows=[(1, "a"), (2, "b"), (3, "c")]),
    C("into.rowcount", "select id into #rc from emp; select @@rowcount as n", cols="n",
      rows=[(5,)]),
    C("temp.create_exists", "create table #twice (n int)", prep=["create table #twice (n int)"],
      error=(2714, 16)),
    C("temp.insert_exec", "insert into #r exec p_one; select one from #r",
      prep=["create procedure p_one as select 1 as one", "create table #r (one int)"],
      cols="one", rows=[(1,)]),
]
