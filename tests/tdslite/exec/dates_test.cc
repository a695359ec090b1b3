// The date and time types, the date functions, uniqueidentifier and the
// (max) types, run through a session: values, types, and SQL Server's
// errors.
#include <gtest/gtest.h>

#include "session_fixture.h"

namespace tdslite {
namespace {

std::string One(const char* type, const char* value) {
  return std::string("cols :") + type + "\nrow " + value + "\ndone C1 count=1";
}

// dateadd keeps the month's end, counts in the argument's own type and
// refuses what leaves the type's range.
TEST_F(SessionTest, DateAdd) {
  Check({
      {"select dateadd(month, 1, cast('2024-01-31' as date))",
       One("date!", "'2024-02-29'").c_str()},
      {"select dateadd(year, 1, cast('2024-02-29' as datetime2(0)))",
       One("datetime2(0)!", "'2025-02-28 00:00:00'").c_str()},
      {"select dateadd(quarter, -1, cast('2024-05-31 10:00' as smalldatetime))",
       One("smalldatetime!", "2024-02-29 10:00:00.000").c_str()},
      {"select dateadd(ms, 2, cast('2024-01-01 00:00:00.997' as datetime))",
       One("datetime!", "2024-01-01 00:00:01.000").c_str()},
      {"select dateadd(hour, 25, cast('23:30' as time(0)))", One("time(0)!", "'00:30:00'").c_str()},
      {"select dateadd(minute, 90, cast('2024-03-05 23:00 +05:30' as datetimeoffset(0)))",
       One("datetimeoffset(0)!", "'2024-03-06 00:30:00 +05:30'").c_str()},
      // Nanoseconds round to the nearest 100 ns.
      {"declare @d datetime2 = '2007-01-01 13:10:10.1111111' select dateadd(ns, 49, @d), "
       "dateadd(ns, 50, @d), dateadd(ns, 150, @d)",
       "cols :datetime2(7) :datetime2(7) :datetime2(7)\nrow '2007-01-01 "
       "13:10:10.1111111'|'2007-01-01 13:10:10.1111112'|'2007-01-01 13:10:10.1111113'\ndone C1 "
       "count=1"},
      {"select dateadd(week, 1, '2024-02-26')",
       One("datetime!", "2024-03-04 00:00:00.000").c_str()},
      {"select dateadd(day, 2.9, cast('2024-01-01' as date))",
       One("date!", "'2024-01-03'").c_str()},
      {"select dateadd(day, 1, cast('9999-12-31' as date))",
       "cols :date!\nmsg 517/16/1: Adding a value to a 'date' column caused an overflow.\n"
       "done C1 error"},
      {"select dateadd(hour, 1, cast('2024-01-01' as date))",
       "cols :date!\nmsg 9810/16/1: The datepart hour is not supported by date function dateadd "
       "for data type date.\ndone C1 error"},
      {"select dateadd(fortnight, 1, getdate())",
       "msg 155/15/1: 'fortnight' is not a recognized dateadd option.\ndone C1 error"},
      {"select dateadd('day', 1, getdate())",
       "msg 1023/15/1: Invalid parameter 1 specified for dateadd.\ndone C1 error"},
  });
}

// datediff counts the boundaries crossed; weeks start on Sunday whatever
// datefirst says; datetimeoffset values count in UTC.
TEST_F(SessionTest, DateDiff) {
  Check({
      {"select datediff(year, '2023-12-31 23:59', '2024-01-01'), datediff(quarter, '2024-03-31', "
       "'2024-04-01'), datediff(hour, '2024-01-01 10:59', '2024-01-01 11:00')",
       "cols :int! :int! :int!\nrow 1|1|1\ndone C1 count=1"},
      {"select datediff(week, '2024-01-06', '2024-01-07'), datediff(week, '2024-01-07', "
       "'2024-01-13')",
       "cols :int! :int!\nrow 1|0\ndone C1 count=1"},
      {"set datefirst 1 select datediff(week, '2024-01-06', '2024-01-07')",
       "done B9\ncols :int!\nrow 1\ndone C1 count=1"},
      {"select datediff(minute, cast('2024-01-01 10:00 +02:00' as datetimeoffset), "
       "cast('2024-01-01 08:30 +00:00' as datetimeoffset))",
       "cols :int!\nrow 30\ndone C1 count=1"},
      {"select datediff(day, cast('0001-01-01' as date), cast('9999-12-31' as date))",
       "cols :int!\nrow 3652058\ndone C1 count=1"},
      {"select datediff(second, cast('0001-01-01' as datetime2), cast('9999-12-31' as datetime2))",
       "cols :int!\nmsg 535/16/0: The datediff function resulted in an overflow. The number of "
       "dateparts separating two date/time instances is too large. Try to use datediff with a less "
       "precise datepart.\ndone C1 error"},
      {"select datediff_big(second, cast('0001-01-01' as datetime2), cast('9999-12-31' as "
       "datetime2))",
       "cols :bigint!\nrow 315537811200\ndone C1 count=1"},
      {"select datediff(ms, cast('13:00' as time), cast('13:00:01.5' as time))",
       "cols :int!\nrow 1500\ndone C1 count=1"},
  });
}

// datepart and datename: weekday and week follow @@datefirst, iso_week the
// ISO calendar; a part the type lacks is refused.
TEST_F(SessionTest, DatePartAndName) {
  Check({
      {"select datepart(weekday, '2024-03-05'), datepart(week, '2024-01-07'), "
       "datepart(dayofyear, '2024-12-31')",
       "cols :int! :int! :int!\nrow 3|2|366\ndone C1 count=1"},
      {"set datefirst 1 select datepart(dw, '2024-03-05'), datepart(wk, '2024-01-07'), @@datefirst",
       "done B9\ncols :int! :int! :tinyint!\nrow 2|1|1\ndone C1 count=1"},
      {"select datepart(iso_week, '2021-01-03'), datepart(isowk, '2020-12-31'), "
       "datepart(isoww, '2024-12-30')",
       "cols :int! :int! :int!\nrow 53|53|1\ndone C1 count=1"},
      {"select datepart(ns, cast('10:00:00.1234567' as time)), datepart(mcs, "
       "cast('10:00:00.1234567' as time)), datepart(tz, cast('2024-01-01 +05:45' as "
       "datetimeoffset))",
       "cols :int! :int! :int!\nrow 123456700|123456|345\ndone C1 count=1"},
      {"select datename(month, cast('2024-09-01' as date)), datename(dw, '2024-09-01'), "
       "datename(year, '2024-09-01'), datename(tzoffset, cast('2024-01-01 -03:30' as "
       "datetimeoffset))",
       "cols :nvarchar(30)! :nvarchar(30)! :nvarchar(30)! :nvarchar(30)!\n"
       "row 'September'|'Sunday'|'2024'|'-03:30'\ndone C1 count=1"},
      {"select year(cast('0001-02-03' as date)), month(cast('0001-02-03' as datetime2)), "
       "day(cast('0001-02-03 +01:00' as datetimeoffset))",
       "cols :int! :int! :int!\nrow 1|2|3\ndone C1 count=1"},
      {"select datepart(year, cast('10:00' as time))",
       "cols :int!\nmsg 9810/16/1: The datepart year is not supported by date function datepart "
       "for data type time.\ndone C1 error"},
  });
}

// eomonth, the fromparts family and isdate.
TEST_F(SessionTest, DateConstruction) {
  Check({
      {"select eomonth('2023-02-10'), eomonth(cast('2024-12-31' as datetime2), 2)",
       "cols :date! :date!\nrow '2023-02-28'|'2025-02-28'\ndone C1 count=1"},
      {"select datetime2fromparts(2024, 3, 5, 13, 45, 30, 5, 1), timefromparts(23, 59, 59, 99, 2)",
       "cols :datetime2(1) :time(2)\nrow '2024-03-05 13:45:30.5'|'23:59:59.99'\ndone C1 count=1"},
      {"select smalldatetimefromparts(2024, 3, 5, 13, 45), datefromparts(2024, 3, null)",
       "cols :smalldatetime :date\nrow 2024-03-05 13:45:00.000|NULL\ndone C1 count=1"},
      {"select datefromparts(2023, 2, 29)",
       "cols :date\nmsg 289/16/1: Cannot construct data type date, some of the arguments have "
       "values which are not valid.\ndone C1 error"},
      {"select datetimefromparts(1752, 12, 31, 0, 0, 0, 0)",
       "cols :datetime\nmsg 289/16/1: Cannot construct data type datetime, some of the arguments "
       "have values which are not valid.\ndone C1 error"},
      {"select isdate('2024-02-29'), isdate('2023-02-29'), isdate('1700-01-01'), isdate(null), "
       "isdate('13:45')",
       "cols :int! :int! :int! :int! :int!\nrow 1|0|0|0|1\ndone C1 count=1"},
      // '' converts to 1900-01-01 but is no date to isdate(); ISO 8601's Z.
      {"select isdate(''), isdate(' '), cast('2023-04-05T13:07:09.123Z' as datetime), "
       "cast('' as datetime)",
       "cols :int! :int! :datetime! :datetime!\nrow 0|0|2023-04-05 13:07:09.123|1900-01-01 "
       "00:00:00.000\ndone C1 count=1"},
  });
}

// The four types convert among themselves and to and from strings, with
// their own text forms, rounding to the declared scale.
TEST_F(SessionTest, DateTimeConversions) {
  Check({
      {"select cast('2024-03-05 23:59:59.99999999' as datetime2)",
       "cols :datetime2(7)!\nmsg 241/16/1: Conversion failed when converting date and/or time "
       "from character string.\ndone C1 error"},
      {"select cast('2024-03-05 23:59:59.9999999' as datetime2(6))",
       One("datetime2(6)!", "'2024-03-06 00:00:00.000000'").c_str()},
      {"select cast('2024-02-30' as date)",
       "cols :date!\nmsg 241/16/1: Conversion failed when converting date and/or time from "
       "character string.\ndone C1 error"},
      {"select cast(cast('2024-03-05 10:00 +02:00' as datetimeoffset(0)) as datetime2(0)), "
       "cast(cast('2024-03-05 10:00' as datetime2(0)) as datetimeoffset(0))",
       "cols :datetime2(0)! :datetimeoffset(0)!\n"
       "row '2024-03-05 10:00:00'|'2024-03-05 10:00:00 +00:00'\ndone C1 count=1"},
      {"select cast(cast('2024-03-05 10:00:00.9999999' as datetime2) as datetime), "
       "cast(cast('1700-01-01' as date) as varchar(10))",
       "cols :datetime! :varchar(10)!\nrow 2024-03-05 10:00:01.000|'1700-01-01'\ndone C1 count=1"},
      {"select cast(cast('1700-01-01' as date) as datetime)",
       "cols :datetime!\nmsg 242/16/3: The conversion of a date data type to a datetime data type "
       "resulted in an out-of-range value.\ndone C1 error"},
      {"select convert(varchar(30), cast('2024-03-05 13:45:30.5' as datetime2(2)), 126), "
       "convert(varchar(30), cast('2024-03-05' as date), 106), convert(varchar(30), "
       "cast('2024-03-05 13:45 +00:00' as datetimeoffset(0)), 127)",
       "cols :varchar(30)! :varchar(30)! :varchar(30)!\n"
       "row '2024-03-05T13:45:30.50'|'05 Mar 2024'|'2024-03-05T13:45:00Z'\ndone C1 count=1"},
      {"select cast(cast('13:45' as time) as date)",
       "msg 529/16/2: Explicit conversion from data type time to date is not allowed.\n"
       "done C1 error"},
      {"select cast(cast('2024-01-01' as date) as int)",
       "msg 529/16/2: Explicit conversion from data type date to int is not allowed.\n"
       "done C1 error"},
      {"select case when cast('2024-03-05 10:00 +02:00' as datetimeoffset) = "
       "cast('2024-03-05 08:00:00 +00:00' as datetimeoffset) then 1 else 0 end, "
       "case when cast('2024-03-05' as date) < cast('2024-03-05 00:00:01' as datetime) then 1 "
       "else 0 end",
       "cols :int! :int!\nrow 1|1\ndone C1 count=1"},
  });
}

// Columns of the types: stored, compared, ordered and read back; datetimeoffset
// values order by their instant.
TEST_F(SessionTest, DateTimeColumns) {
  Check({
      {"create table d (a date, t time(3), x datetime2(2), o datetimeoffset(0))", "done C6"},
      {"insert into d values ('2024-03-05', '10:20:30.1239', '0001-01-01 00:00:00.005', "
       "'2024-03-05 10:00 +05:00'), ('1999-12-31', '23:59:59.9999', '9999-12-31 23:59:59.99', "
       "'2024-03-05 06:00 +00:00')",
       "done C3 count=2"},
      {"select a, t, x, o from d order by o",
       "cols a:date t:time(3) x:datetime2(2) o:datetimeoffset(0)\n"
       "row '2024-03-05'|'10:20:30.124'|'0001-01-01 00:00:00.01'|'2024-03-05 10:00:00 +05:00'\n"
       "row '1999-12-31'|'00:00:00.000'|'9999-12-31 23:59:59.99'|'2024-03-05 06:00:00 +00:00'\n"
       "done C1 count=2"},
      {"select count(*) from d where a between '1999-01-01' and '2000-01-01' and t < '01:00'",
       "cols :int!\nrow 1\ndone C1 count=1"},
      {"select min(a), max(x) from d",
       "cols :date :datetime2(2)\nrow '1999-12-31'|'9999-12-31 23:59:59.99'\ndone C1 count=1"},
      {"update d set a = dateadd(day, 1, a) where o = '2024-03-05 05:00 +00:00'",
       "done C5 count=1"},
      {"select a from d order by a",
       "cols a:date\nrow '1999-12-31'\nrow '2024-03-06'\n"
       "done C1 count=2"},
  });
}

// uniqueidentifier: text in either case, the order SQL Server sorts in (the
// last group first), conversions and their errors.
TEST_F(SessionTest, UniqueIdentifier) {
  Check({
      {"create table g (id uniqueidentifier constraint pk_g primary key, n int)", "done C6"},
      {"insert into g values ('00000000-0000-0000-0000-000000000002', 1), "
       "('ffffffff-ffff-ffff-ffff-000000000001', 2), ('00000000-0000-0001-0000-000000000001', 3), "
       "('{00000000-0000-0000-0100-000000000001}', 4)",
       "done C3 count=4"},
      {"select n from g order by id", "cols n:int\nrow 3\nrow 4\nrow 2\nrow 1\ndone C1 count=4"},
      {"select n from g where id = '00000000-0000-0000-0000-000000000002'",
       "cols n:int\nrow 1\ndone C1 count=1"},
      {"insert into g values ('00000000-0000-0000-0000-000000000002', 5)",
       "msg 2627/14/1: Violation of PRIMARY KEY constraint 'pk_g'. Cannot insert duplicate key in "
       "object 'dbo.g'. The duplicate key value is (00000000-0000-0000-0000-000000000002).\n"
       "msg 3621/0/0: The statement has been terminated.\ndone C3 error"},
      {"select cast('6f9619ff-8b86-d011-b42d-00c04fc964ff' as uniqueidentifier), "
       "cast(cast('6F9619FF-8B86-D011-B42D-00C04FC964FF' as uniqueidentifier) as varbinary(16))",
       "cols :uniqueidentifier! :varbinary(16)!\nrow {6F9619FF-8B86-D011-B42D-00C04FC964FF}|"
       "0xFF19966F868B11D0B42D00C04FC964FF\ndone C1 count=1"},
      {"select cast('6F9619FF-8B86-D011-B42D-00C04FC964FF' as uniqueidentifier)",
       One("uniqueidentifier!", "{6F9619FF-8B86-D011-B42D-00C04FC964FF}").c_str()},
      {"select cast('6F9619FF-8B86-D011-B42D-00C04FC964F' as uniqueidentifier)",
       "cols :uniqueidentifier!\nmsg 8169/16/2: Conversion failed when converting from a "
       "character string to uniqueidentifier.\ndone C1 error"},
      {"select cast(newid() as char(10))",
       "cols :char(10)!\nmsg 8170/16/2: Insufficient result space to convert uniqueidentifier "
       "value to char.\ndone C1 error"},
      {"select cast(newid() as int)",
       "msg 529/16/2: Explicit conversion from data type uniqueidentifier to int is not allowed.\n"
       "done C1 error"},
      {"select count(distinct x) from (select newid() as x union all select newid()) as t",
       "cols :int!\nrow 2\ndone C1 count=1"},
  });
}

// The (max) types hold more than 8000 bytes; what is built from them stays
// (max), and lengths come as bigint.
TEST_F(SessionTest, MaxTypes) {
  Check({
      {"select len(replicate(cast('ab' as varchar(max)), 5000)), "
       "datalength(replicate(cast(N'x' as nvarchar(max)), 5000)), len(replicate('ab', 5000))",
       "cols :bigint! :bigint! :int!\nrow 10000|10000|8000\ndone C1 count=1"},
      {"select len(cast('a' as varchar(max)) + replicate('b', 8000)), "
       "len(concat(cast('a' as varchar(max)), replicate('b', 8000)))",
       "cols :bigint! :bigint!\nrow 8001|8001\ndone C1 count=1"},
      {"create table m (v varchar(max), b varbinary(max))", "done C6"},
      {"insert into m values (replicate(cast('x' as varchar(max)), 9000) + 'end', "
       "cast(replicate(cast('y' as varchar(max)), 9000) as varbinary(max)))",
       "done C3 count=1"},
      {"select right(v, 4), datalength(b), charindex('end', v) from m",
       "cols :varchar(max) :bigint :bigint\nrow 'xend'|9000|9001\ndone C1 count=1"},
      {"select cast('x' as char(max))",
       "msg 2750/16/1: The size (2147483647) given to the type 'char' exceeds the maximum allowed "
       "for any data type (8000).\ndone 0 error"},
  });
}

}  // namespace
}  // namespace tdslite

namespace tdslite {
namespace {

// The newer types take part in no arithmetic, and uniqueidentifier in no
// min or max.
TEST_F(SessionTest, NewerTypesRefuseArithmetic) {
  Check({
      {"select cast('2024-01-01' as date) + 1",
       "msg 206/16/2: Operand type clash: date is incompatible with int\ndone C1 error"},
      {"select cast('2024-01-01' as datetime2) - cast('2024-01-01' as datetime)",
       "msg 402/16/1: The data types datetime2 and datetime are incompatible in the subtract "
       "operator.\ndone C1 error"},
      {"select 'a' + newid()",
       "msg 402/16/1: The data types varchar and uniqueidentifier are incompatible in the add "
       "operator.\ndone C1 error"},
      {"select -cast('10:00' as time)",
       "msg 8117/16/1: Operand data type time is invalid for minus operator.\ndone C1 error"},
      {"select max(newid())",
       "msg 8117/16/1: Operand data type uniqueidentifier is invalid for max operator.\n"
       "done C1 error"},
  });
}

}  // namespace
}  // namespace tdslite
