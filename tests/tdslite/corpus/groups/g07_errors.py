# try/catch, throw, @@error and which errors end the batch.
from casekit import C, R, STANDARD

FEATURE = "7. errors, try/catch, throw"
SETUP = STANDARD

CASES = [
    C("err.catch_divide",
      "declare @x int; begin try set @x = 1 / 0 end try begin catch select error_number() as n,"
      " error_severity() as s, error_state() as st, error_message() as m end catch",
      cols="n:int, s:int, st:int, m:nvarchar(4000)",
      rows=[(8134, 16, 1, "Divide by zero error encountered.")]),
    C("err.catch_raiserror", "begin try raiserror('oops', 16, 1) end try begin catch"
      " select error_number() as n, error_message() as m end catch", cols="n, m",
      rows=[(50000, "oops")]),
    C("err.catch_raiserror_args", "begin try raiserror('Value %d is %s', 16, 1, 42, 'bad')"
      " end try begin catch select error_message() as m end catch", cols="m",
      rows=[("Value 42 is bad",)]),
    C("err.info_not_caught", "begin try raiserror('info', 10, 1); select 1 as after end try"
      " begin catch select 2 as caught end catch", cols="after", rows=[(1,)]),
    C("err.catch_throw", "begin try throw 51000, 'bad thing', 1 end try begin catch"
      " select error_number() as n, error_severity() as s, error_message() as m end catch",
      cols="n, s, m", rows=[(51000, 16, "bad thing")]),
    C("err.catch_conversion", "declare @v int; begin try set @v = cast('abc' as int) end try"
      " begin catch select error_number() as n end catch", cols="n", rows=[(245,)]),
    C("err.catch_duplicate", "begin try insert into cd values (1); insert into cd values (1)"
      " end try begin catch select error_number() as n, error_severity() as s end catch",
      prep=["create table cd (n int primary key)"], cols="n, s", rows=[(2627, 14)]),
    # A name resolved when the statement runs fails at the level of the try block: not caught.
    C("err.missing_table_not_caught", "begin try select count(*) as n from nosuch_t"
      " end try begin catch select error_number() as n end catch", error=(208, 16)),
    C("err.throw_uncaught", "throw 51000, 'stop here', 1", error=(51000, 16)),
    C("err.throw_ends_batch", "insert into th values (1); throw 51000, 'x', 1;"
      " insert into th values (2)", prep=["create table th (n int)"], error=(51000, 16),
      then=("select count(*) from th", [(1,)])),
    C("err.rethrow", "declare @x int; begin try set @x = 1 / 0 end try begin catch throw end catch",
      error=(8134, 16)),
    C("err.throw_out_of_range", "throw 1000, 'x', 1", error=(35100, 16)),
    C("err.nested_try", "declare @x int; begin try begin try set @x = 1 / 0 end try begin catch"
      " throw 50001, 'inner', 1 end catch end try begin catch select error_number() as n,"
      " error_message() as m end catch", cols="n, m", rows=[(50001, "inner")]),
    C("err.number_outside_catch", "select error_number() as n", cols="n", rows=[(None,)]),
    C("err.catch_rollback",
      "begin try begin tran; insert into tc values (1); insert into tc values (1); commit"
      " end try begin catch if @@trancount > 0 rollback; select error_number() as n end catch",
      prep=["create table tc (n int primary key)"], cols="n", rows=[(2627,)],
      then=("select count(*) from tc", [(0,)])),
    C("err.xact_state_doomed",
      "set xact_abort on; begin try begin tran; insert into xs values (1); insert into xs"
      " values (1) end try begin catch select xact_state() as s; rollback end catch",
      prep=["create table xs (n int primary key)"], cols="s:smallint", rows=[(-1,)]),
    C("err.at_error_value", "declare @x int; set @x = 1 / 0; insert into er values (@@error)",
      prep=["create table er (e int)"], error=(8134, 16),
      then=("select e from er", [(8134,)])),
    C("err.at_error_zero", "select 1 as a; select @@error as e",
      results=[R("a", [(1,)]), R("e:int", [(0,)])]),
    C("err.at_error_after_insert", "insert into ez values (1); select @@error as e",
      prep=["create table ez (n int)"], cols="e", rows=[(0,)]),
    C("err.at_error_reset", "declare @x int; set @x = 1 / 0; set @x = 1; insert into er2"
      " values (@@error)", prep=["create table er2 (e int)"], error=(8134, 16),
      then=("select e from er2", [(0,)])),
    C("err.duplicate", "insert into dup values (1); insert into dup values (1)",
      prep=["create table dup (n int primary key)"], error=(2627, 14)),
    C("err.null_not_null", "insert into nn values (null)", prep=["create table nn (n int not null)"],
      error=(515, 16)),
    C("err.too_long", "insert into tl values ('toolong')", prep=["create table tl (s varchar(3))"],
      error=(8152, 16), then=("select count(*) from tl", [(0,)])),
    C("err.overflow_tinyint", "select cast(300 as tinyint)", error=(220, 16)),
    C("err.overflow_numeric", "select cast(12345.6 as decimal(4,1))", error=(8115, 16)),
    C("err.divide_continues", "insert into cb values (1); select 1 / 0; insert into cb values (2)",
      prep=["create table cb (n int)"], error=(8134, 16),
      then=("select count(*) from cb", [(2,)])),
    C("err.duplicate_continues",
      "insert into cb2 values (1); insert into cb2 values (1); insert into cb2 values (2)",
      prep=["create table cb2 (n int primary key)"], error=(2627, 14),
      then=("select count(*) from cb2", [(2,)])),
    C("err.null_continues", "insert into cb4 values (1); insert into cb4 values (null);"
      " insert into cb4 values (2)", prep=["create table cb4 (n int not null)"], error=(515, 16),
      then=("select count(*) from cb4", [(2,)])),
    C("err.too_long_continues", "insert into cb5 values ('a'); insert into cb5 values ('toolong');"
      " insert into cb5 values ('b')", prep=["create table cb5 (s varchar(3))"], error=(8152, 16),
      then=("select count(*) from cb5", [(2,)])),
    C("err.at_error_duplicate", "insert into cb6 values (1); insert into cb6 values (1);"
      " insert into cb6_log values (@@error)",
      prep=["create table cb6 (n int primary key)", "create table cb6_log (e int)"],
      error=(2627, 14), then=("select e from cb6_log", [(2627,)])),
    C("err.overflow_continues", "insert into cb7 values (1); insert into cb7 select cast(300 as"
      " tinyint); insert into cb7 values (2)", prep=["create table cb7 (n int)"],
      error=(220, 16), then=("select count(*) from cb7", [(2,)])),
    C("err.conversion_ends_batch",
      "insert into cb3 values (1); insert into cb3 values ('x'); insert into cb3 values (2)",
      prep=["create table cb3 (n int)"], error=(245, 16),
      then=("select count(*) from cb3", [(1,)])),
    C("err.raiserror_continues", "raiserror('x', 16, 1); insert into rb values (1)",
      prep=["create table rb (n int)"], error=(50000, 16),
      then=("select count(*) from rb", [(1,)])),
    C("err.raiserror_severity", "raiserror('custom', 11, 1)", error=(50000, 11)),
    C("err.syntax_whole_batch", "insert into sx values (1); selec 2",
      prep=["create table sx (n int)"], error=(102, 15),
      then=("select count(*) from sx", [(0,)])),
    C("err.catch_in_proc", "exec p_safe",
      prep=["create procedure p_safe as begin declare @x int; begin try set @x = 1 / 0"
            " end try begin catch select error_number() as n end catch end"],
      cols="n", rows=[(8134,)]),
]
