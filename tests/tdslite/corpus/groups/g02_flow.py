# Control of flow: while, break, continue, if exists, return.
from casekit import C, R, STANDARD

FEATURE = "2. control of flow"
SETUP = STANDARD

CASES = [
    C("flow.while", "declare @i int = 0; while @i < 5 set @i = @i + 1; select @i as i",
      cols="i", rows=[(5,)]),
    C("flow.while_break",
      "declare @i int = 0; while 1 = 1 begin set @i = @i + 1; if @i = 3 break end; select @i as i",
      cols="i", rows=[(3,)]),
    C("flow.while_continue",
      "declare @i int = 0, @s int = 0; while @i < 5 begin set @i = @i + 1; if @i = 2 continue;"
      " set @s = @s + @i end; select @s as s", cols="s", rows=[(13,)]),
    C("flow.while_nested",
      "declare @i int = 0, @j int, @n int = 0; while @i < 3 begin set @j = 0; while @j < 4"
      " begin set @n = @n + 1; set @j = @j + 1 end; set @i = @i + 1 end; select @n as n",
      cols="n", rows=[(12,)]),
    C("flow.break_inner_only",
      "declare @i int = 0, @n int = 0; while @i < 3 begin set @i = @i + 1; while 1 = 1 begin"
      " set @n = @n + 1; break end end; select @n as n", cols="n", rows=[(3,)]),
    C("flow.while_insert",
      "declare @i int = 1; while @i <= 10 begin insert into lp values (@i); set @i = @i + 1 end",
      prep=["create table lp (n int)"], then=("select count(*), sum(n) from lp", [(10, 55)])),
    C("flow.while_results",
      "declare @i int = 0; while @i < 2 begin select @i as i; set @i = @i + 1 end",
      results=[R("i", [(0,)]), R("i", [(1,)])]),
    C("flow.while_exists",
      "while exists (select * from wq where n > 0) delete top (1) from wq where n > 0",
      prep=["create table wq (n int)", "insert into wq values (1), (2), (0)"],
      then=("select n from wq", [(0,)])),
    C("flow.if_exists", "if exists (select * from emp where id = 1) select 'yes' as a"
      " else select 'no' as a", cols="a:varchar(3)", rows=[("yes",)]),
    C("flow.if_not_exists", "if not exists (select 1 from emp where id = 99) select 1 as missing",
      cols="missing", rows=[(1,)]),
    C("flow.if_subquery", "if (select count(*) from emp) > 3 select 'many' as c else"
      " select 'few' as c", cols="c", rows=[("many",)]),
    C("flow.if_false_nothing", "if 1 = 0 select 1 as a", results=[]),
    C("flow.else_if",
      "declare @x int = 2; if @x = 1 select 'one' as r else if @x = 2 select 'two' as r"
      " else select 'other' as r", cols="r", rows=[("two",)]),
    C("flow.if_block",
      "declare @n int = 0; if exists (select * from dept where id = 30) begin set @n = 1;"
      " set @n = @n + 1 end; select @n as n", cols="n", rows=[(2,)]),
    C("flow.if_create_table",
      "if not exists (select * from information_schema.tables where table_name = 'made')"
      " create table made (n int)", then=("select count(*) from made", [(0,)])),
    C("flow.return", "select 1 as a; return; select 2 as b", cols="a", rows=[(1,)]),
    C("flow.return_in_if", "if 1 = 1 return; select 1 as a", results=[]),
    C("flow.return_skips_insert", "insert into rs values (1); return; insert into rs values (2)",
      prep=["create table rs (n int)"], then=("select count(*) from rs", [(1,)])),
    C("flow.begin_end", "begin select 1 as a end", cols="a", rows=[(1,)]),
    C("flow.if_rowcount",
      "update ru set n = 2 where n = 5; if @@rowcount = 0 insert into ru values (5)",
      prep=["create table ru (n int)"], then=("select n from ru", [(5,)])),
    C("flow.upsert",
      "if exists (select * from up where k = 1) update up set v = 'new' where k = 1"
      " else insert into up values (1, 'ins')",
      prep=["create table up (k int, v varchar(5))", "insert into up values (1, 'old')"],
      then=("select v from up", [("new",)])),
    C("flow.loop_over_rows",
      "declare @id int = 0, @s varchar(100) = ''; while 1 = 1 begin select @id = min(id)"
      " from emp where id > @id; if @id is null break; set @s = @s + cast(@id as varchar(5))"
      " end; select @s as s", cols="s", rows=[("12345",)]),
]
