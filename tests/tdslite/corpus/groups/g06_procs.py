# Procedures, functions and exec.
from casekit import C, OUT, R, STANDARD

FEATURE = "6. procedures, functions, exec"
SETUP = STANDARD + [
    "create table plog (n int)",
]

P_ADD = "create procedure p_add @a int, @b int as select @a + @b as s"
P_OUT = "create procedure p_out @a int, @r int output as set @r = @a * 2"
P_ONE = "create procedure p_one as select 1 as one"

CASES = [
    C("proc.exec", "exec p1", prep=["create procedure p1 as select 1 as one"], cols="one:int",
      rows=[(1,)]),
    C("proc.execute_dbo", "execute dbo.p1b", prep=["create procedure p1b as select 1 as one"],
      cols="one", rows=[(1,)]),
    C("proc.positional", "exec p_add 2, 3", prep=[P_ADD], cols="s:int", rows=[(5,)]),
    C("proc.named", "exec p_add @b = 3, @a = 10", prep=[P_ADD], cols="s", rows=[(13,)]),
    C("proc.default", "exec p_def 1",
      prep=["create procedure p_def @a int, @b int = 100 as select @a + @b as s"],
      cols="s", rows=[(101,)]),
    C("proc.default_keyword", "exec p_def2 1, default",
      prep=["create procedure p_def2 @a int, @b int = 100 as select @a + @b as s"],
      cols="s", rows=[(101,)]),
    C("proc.output", "declare @x int; exec p_out 21, @x output; select @x as x", prep=[P_OUT],
      cols="x", rows=[(42,)]),
    C("proc.return_code", "declare @rc int; exec @rc = p_ret; select @rc as rc",
      prep=["create procedure p_ret as return 7"], cols="rc", rows=[(7,)]),
    C("proc.return_zero", "declare @rc int; exec @rc = p_one; select @rc as rc", prep=[P_ONE],
      results=[R("one", [(1,)]), R("rc", [(0,)])]),
    C("proc.missing_param", "exec p_add 1", prep=[P_ADD], error=(201, 16)),
    C("proc.not_found", "exec nosuchproc", error=(2812, 16)),
    C("proc.exists_already", P_ONE, prep=[P_ONE], error=(2714, 16)),
    C("proc.create_or_alter", "create or alter procedure p_coa as select 2 as v",
      prep=["create procedure p_coa as select 1 as v"], then=("exec p_coa", [(2,)])),
    C("proc.alter", "alter procedure p_alt as select 3 as v",
      prep=["create procedure p_alt as select 1 as v"], then=("exec p_alt", [(3,)])),
    C("proc.drop", "drop procedure p_drop", prep=["create procedure p_drop as select 1 as v"],
      then=("select count(*) from sys.procedures where name = 'p_drop'", [(0,)])),
    C("proc.drop_missing", "drop procedure p_never", error=(3701, 11)),
    C("proc.dml", "exec p_ins 4; exec p_ins 5",
      prep=["create procedure p_ins @n int as insert into plog values (@n)"],
      then=("select sum(n) from plog", [(9,)])),
    C("proc.two_results", "exec p_two", prep=["create procedure p_two as begin select 1 as a;"
                                              " select 'x' as b end"],
      results=[R("a", [(1,)]), R("b", [("x",)])]),
    C("proc.nested", "exec p_outer", prep=[P_ONE, "create procedure p_outer as exec p_one"],
      cols="one", rows=[(1,)]),
    C("proc.raiserror", "exec p_err", prep=["create procedure p_err as raiserror('boom', 16, 1)"],
      error=(50000, 16)),
    C("proc.optional_filter", "exec p_filter; exec p_filter 10",
      prep=["create procedure p_filter @dept int = null as select count(*) as c from emp"
            " where @dept is null or dept_id = @dept"],
      results=[R("c", [(5,)]), R("c", [(2,)])]),
    C("proc.nocount_body", "exec p_nc",
      prep=["create procedure p_nc as begin set nocount on; declare @n int; select @n = count(*)"
            " from emp; select @n as n end"], cols="n", rows=[(5,)]),
    C("proc.if_in_body", "exec p_if 1; exec p_if 0",
      prep=["create procedure p_if @f bit as begin if @f = 1 select 'on' as s else"
            " select 'off' as s end"], results=[R("s", [("on",)]), R("s", [("off",)])]),
    C("proc.varchar_param", "exec p_name 'Bob'",
      prep=["create procedure p_name @n varchar(30) as select id from emp where name = @n"],
      cols="id", rows=[(2,)]),
    C("proc.exec_string", "exec ('select 1 as x')", cols="x", rows=[(1,)]),
    C("proc.exec_variable", "declare @sql varchar(100) = 'select count(*) as c from emp';"
      " exec (@sql)", cols="c", rows=[(5,)]),
    C("proc.exec_concat", "declare @t varchar(20) = 'dept'; exec ('select count(*) as c from ' + @t)",
      cols="c", rows=[(3,)]),
    C("proc.executesql", "exec sp_executesql N'select @a + 1 as r', N'@a int', @a = 41",
      cols="r", rows=[(42,)]),
    C("proc.executesql_positional",
      "exec sp_executesql N'select name from emp where id = @id', N'@id int', 3",
      cols="name", rows=[("Carol",)]),
    C("proc.executesql_output",
      "declare @c int; exec sp_executesql N'select @c = count(*) from emp', N'@c int output',"
      " @c = @c output; select @c as c", cols="c", rows=[(5,)]),
    C("proc.executesql_noparams", "exec sp_executesql N'select 2 as two'", cols="two",
      rows=[(2,)]),
    C("func.scalar", "select dbo.f_double(21) as d",
      prep=["create function dbo.f_double (@n int) returns int as begin return @n * 2 end"],
      cols="d:int", rows=[(42,)]),
    C("func.in_where", "select name from emp where dbo.f_dbl(id) = 6",
      prep=["create function dbo.f_dbl (@n int) returns int as begin return @n * 2 end"],
      cols="name", rows=[("Carol",)]),
    C("func.varchar", "select dbo.f_full('a', 'b') as s",
      prep=["create function dbo.f_full (@a varchar(10), @b varchar(10)) returns varchar(21)"
            " as begin return @a + ' ' + @b end"], cols="s:varchar(21)", rows=[("a b",)]),
    C("func.lookup", "select dbo.f_dname(20) as n",
      prep=["create function dbo.f_dname (@id int) returns varchar(30) as begin"
            " declare @n varchar(30); select @n = name from dept where id = @id; return @n end"],
      cols="n", rows=[("Research",)]),
    C("func.no_schema", "select f_nos(2)",
      prep=["create function dbo.f_nos (@n int) returns int as begin return @n end"],
      error=(195, 15)),
    C("func.drop", "drop function dbo.f_gone",
      prep=["create function dbo.f_gone (@n int) returns int as begin return @n end"],
      then=("select object_id('dbo.f_gone')", [(None,)])),
    C("func.in_select_list", "select name, dbo.f_band(salary) as band from emp where id in (1, 2)"
      " order by id",
      prep=["create function dbo.f_band (@s decimal(10,2)) returns varchar(4) as begin"
            " return case when @s >= 4500 then 'high' else 'low' end end"],
      cols="name, band", rows=[("Alice", "high"), ("Bob", "low")]),
    # The same procedures called as RPCs.
    C("rpc.positional", rpc=("p_add_r", (2, 3)),
      prep=["create procedure p_add_r @a int, @b int as select @a + @b as s"],
      cols="s", rows=[(5,)], status=0),
    C("rpc.named", rpc=("p_add_n", {"@b": 3, "@a": 10}),
      prep=["create procedure p_add_n @a int, @b int as select @a + @b as s"],
      cols="s", rows=[(13,)]),
    C("rpc.output", rpc=("p_out_r", (21, OUT("int"))),
      prep=["create procedure p_out_r @a int, @r int output as set @r = @a * 2"],
      outputs=[42], status=0),
    C("rpc.return_status", rpc=("p_ret_r", ()), prep=["create procedure p_ret_r as return 7"],
      status=7),
    C("rpc.result_and_status", rpc=("p_both", ()),
      prep=["create procedure p_both as begin select 1 as a; return 3 end"],
      cols="a", rows=[(1,)], status=3),
    C("rpc.not_found", rpc=("nosuchproc_r", ()), error=(2812, 16)),
]
