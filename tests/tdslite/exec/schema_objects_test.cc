// Views, check and foreign key constraints, alter table, and the functions
// isnumeric, patindex, translate, string_agg, try_cast and ident_current.
#include "session_fixture.h"

namespace tdslite {
namespace {

TEST_F(SessionTest, ViewsAreQueriesKeptByName) {
  ASSERT_EQ(Run("create table vt (id int primary key, g varchar(5))"
                "insert into vt values (1, 'a'), (2, 'b'), (3, 'b')"),
            "done C6\ndone C3 count=3");
  Check({
      {"create view v1 as select id, g from vt where id > 1", "done CF"},
      {"create view v2 (n, grp) as select count(*), g from v1 group by g", "done CF"},
      // A view over a view, with the names its column list gave.
      {"select grp, n from v2 order by grp",
       "cols grp:varchar(5) n:int!\nrow 'b'|2\ndone C1 count=1"},
      {"select x.id from v1 x join vt on vt.id = x.id where x.g = 'B' order by 1",
       "cols id:int!\nrow 2\nrow 3\ndone C1 count=2"},
      {"create view v1 as select 1 one",
       "msg 2714/16/3: There is already an object named 'v1' in the database.\ndone CF error"},
      {"create view vt as select 1 one",
       "msg 2714/16/3: There is already an object named 'vt' in the database.\ndone CF error"},
      {"select 1 create view v3 as select 1 one",
       "msg 111/15/1: 'CREATE VIEW' must be the first statement in a query batch.\ndone 0 error"},
      {"create view v3 as select 1, 2",
       "msg 4511/16/1: Create View or Function failed because no column name was specified for "
       "column 1.\ndone CF error"},
      {"create view v3 (a) as select 1, 2",
       "msg 8158/16/1: 'v3' has more columns than were specified in the column list.\n"
       "done CF error"},
      {"create view v3 as select id from vt order by id",
       "msg 1033/15/1: The ORDER BY clause is invalid in views, inline functions, derived "
       "tables, subqueries, and common table expressions, unless TOP, OFFSET or FOR XML is also "
       "specified.\ndone CF error"},
      {"insert into v1 values (9, 'z')",
       "msg 50100/16/1: INSERT, UPDATE or DELETE through a view is not supported by tdslite.\n"
       "done C3 error"},
      // alter view changes what the views above it read.
      {"alter view v1 as select id, g from vt where id = 1", "done CF"},
      {"select grp, n from v2", "cols grp:varchar(5) n:int!\nrow 'a'|1\ndone C1 count=1"},
      {"drop view v1", "done D0"},
      {"select * from v2", "msg 208/16/1: Invalid object name 'v1'.\ndone C1 error"},
      {"drop view v1",
       "msg 3701/11/5: Cannot drop the view 'v1', because it does not exist or you do not have "
       "permission.\ndone D0 error"},
      {"drop view if exists v1, v2", "done D0"},
  });
}

TEST_F(SessionTest, CheckAndForeignKeyConstraints) {
  ASSERT_EQ(Run("create table par (id int primary key, code varchar(3) unique)"
                "insert into par values (1, 'a'), (2, 'b')"),
            "done C6\ndone C3 count=2");
  Check({
      {"create table ch (id int, pid int constraint fk_p references par (id), "
       "q int constraint ck_q check (q > 0), constraint ck_pair check (q <> pid))",
       "done C6"},
      {"insert into ch values (1, 1, 5), (2, null, 3)", "done C3 count=2"},
      // NULL passes a check and a reference, as on SQL Server.
      {"insert into ch values (3, null, null)", "done C3 count=1"},
      {"insert into ch values (4, 9, 5)",
       "msg 547/16/0: The INSERT statement conflicted with the FOREIGN KEY constraint \"fk_p\". "
       "The conflict occurred in database \"master\", table \"dbo.par\", column 'id'.\n"
       "msg 3621/0/0: The statement has been terminated.\ndone C3 error"},
      {"update ch set q = -1 where id = 1",
       "msg 547/16/0: The UPDATE statement conflicted with the CHECK constraint \"ck_q\". The "
       "conflict occurred in database \"master\", table \"dbo.ch\", column 'q'.\n"
       "msg 3621/0/0: The statement has been terminated.\ndone C5 error"},
      {"insert into ch values (5, 2, 2)",
       "msg 547/16/0: The INSERT statement conflicted with the CHECK constraint \"ck_pair\". The "
       "conflict occurred in database \"master\", table \"dbo.ch\".\n"
       "msg 3621/0/0: The statement has been terminated.\ndone C3 error"},
      {"delete from par where id = 1",
       "msg 547/16/0: The DELETE statement conflicted with the REFERENCE constraint \"fk_p\". The "
       "conflict occurred in database \"master\", table \"dbo.ch\", column 'pid'.\n"
       "msg 3621/0/0: The statement has been terminated.\ndone C4 error"},
      {"delete from par where id = 2", "done C4 count=1"},
      {"drop table par",
       "msg 3726/16/1: Could not drop object 'dbo.par' because it is referenced by a FOREIGN KEY "
       "constraint.\ndone C7 error"},
      {"truncate table par",
       "msg 4712/16/1: Cannot truncate table 'par' because it is being referenced by a FOREIGN "
       "KEY constraint.\ndone 118 error"},
      // A reference must name a key of the other table.
      {"create table bad (pid int references par (code))", "done C6"},
      {"create table bad2 (x int references nosuch)",
       "msg 1767/16/0: Foreign key 'FK__bad2__093725C0B30A2F2E' references invalid table "
       "'nosuch'.\ndone C6 error"},
      {"create table bad3 (n varchar(3) references par (code), m int references par)", "done C6"},
      {"create table casc (pid int references par (id) on delete cascade)"
       "insert into casc values (1)",
       "done C6\ndone C3 count=1"},
      {"drop table ch delete from par where id = 1 select count(*) from casc",
       "done C7\ndone C4 count=1\ncols :int!\nrow 0\ndone C1 count=1"},
  });
}

TEST_F(SessionTest, AlterTable) {
  ASSERT_EQ(Run("create table at (a int not null, b varchar(10))"
                "insert into at values (1, 'x'), (2, 'yy')"),
            "done C6\ndone C3 count=2");
  Check({
      // Existing rows: the default for a NOT NULL column, NULL otherwise.
      {"alter table at add c int not null default 7, d varchar(3) null default 'q'", "done D8"},
      {"insert into at (a) values (3) select a, c, d from at order by a",
       "done C3 count=1\ncols a:int! c:int! d:varchar(3)\nrow 1|7|NULL\nrow 2|7|NULL\n"
       "row 3|7|'q'\ndone C1 count=3"},
      {"alter table at add e int not null",
       "msg 4901/16/1: ALTER TABLE only allows columns to be added that can contain nulls, or "
       "have a DEFAULT definition specified, or the column being added is an identity or "
       "timestamp column, or alternatively if none of the previous conditions are satisfied the "
       "table must be empty to allow addition of this column. Column 'e' cannot be added to "
       "non-empty table 'at' because it does not satisfy these conditions.\ndone D8 error"},
      {"alter table at add a int",
       "msg 2705/16/4: Column names in each table must be unique. Column name 'a' in table 'at' "
       "is specified more than once.\ndone D8 error"},
      // A narrower column checks the values there are.
      {"alter table at alter column b varchar(1) null",
       "msg 8152/16/14: String or binary data would be truncated.\n"
       "msg 3621/0/0: The statement has been terminated.\ndone D8 error"},
      {"alter table at alter column b varchar(2)", "done D8"},
      {"select b from at where a = 2", "cols b:varchar(2)\nrow 'yy'\ndone C1 count=1"},
      {"alter table at alter column b int",
       "msg 50100/16/1: ALTER COLUMN to a type stored otherwise is not supported by tdslite.\n"
       "done D8 error"},
      {"alter table at drop column d, c select * from at where a = 1",
       "done D8\ncols a:int! b:varchar(2)\nrow 1|'x'\ndone C1 count=1"},
      {"alter table at drop column zz",
       "msg 4924/16/1: ALTER TABLE DROP COLUMN failed because column 'zz' does not exist in "
       "table 'at'.\ndone D8 error"},
      {"alter table at add constraint pk_at primary key (a)", "done D8"},
      {"insert into at (a) values (1)",
       "msg 2627/14/1: Violation of PRIMARY KEY constraint 'pk_at'. Cannot insert duplicate key "
       "in object 'dbo.at'. The duplicate key value is (1).\n"
       "msg 3621/0/0: The statement has been terminated.\ndone C3 error"},
      {"alter table at drop column a",
       "msg 4922/16/9: ALTER TABLE DROP COLUMN a failed because one or more objects access this "
       "column.\ndone D8 error"},
      {"insert into at (a, b) values (5, 'x'), (6, 'x') alter table at add unique (b)",
       "done C3 count=2\nmsg 1505/16/1: The CREATE UNIQUE INDEX statement terminated because a "
       "duplicate key was found for the object name 'dbo.at' and the index name "
       "'UQ__at__A364D631911E3783'.\nmsg 3621/0/0: The statement has been terminated.\n"
       "done D8 error"},
  });
}

TEST_F(SessionTest, MoreStringAndConversionFunctions) {
  ASSERT_EQ(Run("create table sa (g int, s varchar(10), n nvarchar(5))"
                "insert into sa values (1, 'b', N'x'), (1, 'A', N'y'), (2, 'c', null), "
                "(2, null, N'z')"),
            "done C6\ndone C3 count=4");
  Check({
      {"select isnumeric('1,000.5'), isnumeric('-'), isnumeric('1e'), isnumeric('1d3'), "
       "isnumeric(null), isnumeric(2.5)",
       "cols :int! :int! :int! :int! :int! :int!\nrow 1|1|0|1|0|1\ndone C1 count=1"},
      {"select patindex('%b_d%', 'abcbed'), patindex('ab%', 'xabc'), patindex('%C', 'abc')",
       "cols :int :int :int\nrow 4|0|3\ndone C1 count=1"},
      {"select translate('abcABC', 'ab', 'xy')", "cols :varchar(6)\nrow 'xycxyC'\ndone C1 count=1"},
      {"select translate('abc', 'ab', 'x')",
       "cols :varchar(3)\nmsg 9828/16/1: The second and third arguments of the TRANSLATE "
       "built-in function must contain an equal number of characters.\ndone C1 error"},
      // Ordered by the collation, NULLs left out; each group its own.
      {"select g, string_agg(s, '-') within group (order by s desc) from sa group by g order by g",
       "cols g:int :varchar(8000)\nrow 1|'b-A'\nrow 2|'c'\ndone C1 count=2"},
      {"select string_agg(g, ',') within group (order by g desc) from sa",
       "cols :nvarchar(4000)\nrow '2,2,1,1'\ndone C1 count=1"},
      {"select string_agg(s, ',') from sa where g > 5",
       "cols :varchar(8000)\nrow NULL\ndone C1 count=1"},
      {"select string_agg(replicate('x', 5000), ',') from sa",
       "cols :varchar(8000)\nmsg 9829/16/1: STRING_AGG aggregation result exceeded the limit of "
       "8000 bytes. Use LOB types to avoid result truncation.\ndone C1 error"},
      {"select try_cast('12x' as int), try_convert(tinyint, 300), try_cast(n as int) from sa "
       "where g = 1 and s = 'b'",
       "cols :int :tinyint :int\nrow NULL|NULL|NULL\ndone C1 count=1"},
      // The conversion inside is not a try.
      {"select try_cast(cast('x' as int) as varchar(5))",
       "cols :varchar(5)\nmsg 245/16/1: Conversion failed when converting the varchar value 'x' "
       "to data type int.\ndone C1 error"},
      {"create table idc (id int identity(10, 1), v int)"
       "select ident_current('idc'), ident_current('dbo.idc'), ident_current('nosuch')",
       "done C6\ncols :numeric(38,0) :numeric(38,0) :numeric(38,0)\nrow 10|10|NULL\n"
       "done C1 count=1"},
      {"insert into idc (v) values (1), (2) select ident_current('idc')",
       "done C3 count=2\ncols :numeric(38,0)\nrow 11\ndone C1 count=1"},
  });
}

TEST_F(SessionTest, FormatPatterns) {
  Check({
      // Numbers: standard patterns, rounded half away from zero.
      {"select format(-1234.5, 'N1'), format(0.125, 'P1'), format(-5, 'C'), format(255, 'X4'), "
       "format(42, 'D5'), format(2.5, 'F0'), format(12345.678, 'E2')",
       "cols :nvarchar(4000) :nvarchar(4000) :nvarchar(4000) :nvarchar(4000) :nvarchar(4000) "
       ":nvarchar(4000) :nvarchar(4000)\nrow '-1,234.5'|'12.5 %'|'($5.00)'|'00FF'|'00042'|'3'|"
       "'1.23E+004'\ndone C1 count=1"},
      // Custom: digits laid from the right, optional digits, grouping, literals.
      {"select format(123456789, '###-##-####'), format(1234.5678, '#,##0.00'), "
       "format(0.5, '#.##'), format(7, '0000'), format(-3, '0;(0)'), format(1, 'yyyy')",
       "cols :nvarchar(4000) :nvarchar(4000) :nvarchar(4000) :nvarchar(4000) :nvarchar(4000) "
       ":nvarchar(4000)\nrow '123-45-6789'|'1,234.57'|'.5'|'0007'|'(3)'|'yyyy'\ndone C1 count=1"},
      // Dates: custom and standard patterns; one it cannot apply is NULL.
      {"select format(cast('2024-03-05 14:07:09.123' as datetime), 'dddd, MMMM d yyyy hh:mm tt'), "
       "format(cast('2024-03-05 14:07:09.123' as datetime), 'd'), "
       "format(cast('2024-03-05 14:07:09.123' as datetime), 'HH:mm:ss.fff'), "
       "format(cast('2024-03-05' as datetime), 'Q'), format(null, 'N')",
       "cols :nvarchar(4000) :nvarchar(4000) :nvarchar(4000) :nvarchar(4000) :nvarchar(4000)\n"
       "row 'Tuesday, March 5 2024 02:07 PM'|'3/5/2024'|'14:07:09.123'|NULL|NULL\n"
       "done C1 count=1"},
      {"select format(1, 'N', 'de-DE')",
       "msg 50100/16/1: format() with a culture other than en-US is not supported by tdslite.\n"
       "done C1 error"},
      {"select format('x', 'N')",
       "msg 8116/16/1: Argument data type varchar is invalid for argument 1 of format function.\n"
       "done C1 error"},
  });
}

TEST_F(SessionTest, IdentityInsertAndWaitFor) {
  ASSERT_EQ(Run("create table ii (id int identity(1,1), v varchar(5))"
                "create table ij (id int identity(1,1))"),
            "done C6\ndone C6");
  Check({
      {"set identity_insert ii on insert into ii (id, v) values (10, 'x')",
       "done B9\ndone C3 count=1"},
      {"insert into ii (v) values ('y')",
       "msg 545/16/1: Explicit value must be specified for identity column in table 'ii' either "
       "when IDENTITY_INSERT is set to ON or when a replication user is inserting into a NOT FOR "
       "REPLICATION identity column.\ndone C3 error"},
      {"insert into ii values (11, 'z')",
       "msg 8101/16/1: An explicit value for the identity column in table 'ii' can only be "
       "specified when a column list is used and IDENTITY_INSERT is ON.\ndone C3 error"},
      {"set identity_insert ij on",
       "msg 8107/16/1: IDENTITY_INSERT is already ON for table 'master.dbo.ii'. Cannot perform "
       "SET operation for table 'ij'.\ndone B9 error"},
      // Off again: numbering goes on after the largest value.
      {"set identity_insert ii off insert into ii (v) values ('y') select id, v from ii order by "
       "id",
       "done B9\ndone C3 count=1\ncols id:int! v:varchar(5)\nrow 10|'x'\nrow 11|'y'\n"
       "done C1 count=2"},
      {"insert into ii (id, v) values (12, 'w')",
       "msg 544/16/1: Cannot insert explicit value for identity column in table 'ii' when "
       "IDENTITY_INSERT is set to OFF.\ndone C3 error"},
      {"set identity_insert vt on",
       "msg 1088/16/11: Cannot find the object \"vt\" because it does not exist or you do not "
       "have permissions.\ndone B9 error"},
      {"waitfor delay '00:00:00.050' select 1", "done 0\ncols :int!\nrow 1\ndone C1 count=1"},
      {"waitfor delay '25:00'",
       "msg 148/15/1: Incorrect time syntax in time string '25:00' used with WAITFOR.\n"
       "done 0 error"},
  });
}

}  // namespace
}  // namespace tdslite
