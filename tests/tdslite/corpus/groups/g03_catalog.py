# Existence checks and the catalog views clients read.
from casekit import C, R, STANDARD

FEATURE = "3. existence and catalog"
SETUP = STANDARD

CASES = [
    # First, while the group's database holds only the two standard tables.
    C("cat.is_tables_count", "select count(*) as n from information_schema.tables"
      " where table_type = 'BASE TABLE'", cols="n", rows=[(2,)]),
    C("cat.sys_tables_list", "select name from sys.tables order by name",
      cols="name:nvarchar(128)", rows=[("dept",), ("emp",)]),
    C("cat.object_id_found", "select case when object_id('emp') is not null then 1 else 0 end as f",
      cols="f", rows=[(1,)]),
    C("cat.object_id_missing", "select object_id('nosuch') as i", cols="i:int", rows=[(None,)]),
    C("cat.object_id_type_u", "if object_id('dbo.emp', 'U') is not null select 1 as f",
      cols="f", rows=[(1,)]),
    C("cat.object_id_type_v", "select object_id('emp', 'V') as i", cols="i", rows=[(None,)]),
    C("cat.object_name", "select object_name(object_id('emp')) as n", cols="n:nvarchar(128)",
      rows=[("emp",)]),
    C("cat.col_length", "select col_length('emp', 'name') as l", cols="l:smallint", rows=[(30,)]),
    C("cat.col_length_int", "select col_length('emp', 'id') as l", cols="l", rows=[(4,)]),
    C("cat.col_length_missing", "select col_length('emp', 'nosuch') as l", cols="l",
      rows=[(None,)]),
    C("cat.col_length_nvarchar", "select col_length('cl', 's') as l",
      prep=["create table cl (s nvarchar(20) null)"], cols="l", rows=[(40,)]),
    C("cat.schema_name", "select schema_name() as s", cols="s:nvarchar(128)", rows=[("dbo",)]),
    C("cat.type_name", "select type_name(56) as a, type_name(167) as b", cols="a, b",
      rows=[("int", "varchar")]),
    C("cat.db_id", "select db_id() as a, db_id('master') as b", cols="a:int, b:int",
      rows=[(1, 1)]),
    C("cat.db_name", "select db_name() as d", cols="d:nvarchar(128)", rows=[("master",)]),
    C("cat.serverproperty",
      "select case when serverproperty('ProductVersion') is not null then 1 else 0 end as f",
      cols="f", rows=[(1,)]),
    C("cat.is_tables_row", "select table_catalog as c, table_schema as s, table_name as n,"
      " table_type as t from information_schema.tables where table_name = 'emp'",
      cols="c, s, n, t:varchar(10)", rows=[("master", "dbo", "emp", "BASE TABLE")]),
    C("cat.is_columns_count", "select count(*) as n from information_schema.columns"
      " where table_name = 'emp'", cols="n", rows=[(6,)]),
    C("cat.is_columns_list",
      "select column_name as c, data_type as t, character_maximum_length as l"
      " from information_schema.columns where table_name = 'emp' order by ordinal_position",
      cols="c, t, l", rows=[("id", "int", None), ("name", "varchar", 30), ("dept_id", "int", None),
                            ("salary", "decimal", None), ("hired", "datetime", None),
                            ("manager_id", "int", None)]),
    C("cat.is_columns_numeric", "select numeric_precision as p, numeric_scale as s"
      " from information_schema.columns where table_name = 'emp' and column_name = 'salary'",
      cols="p, s", rows=[(10, 2)]),
    C("cat.is_columns_nullable", "select is_nullable as n from information_schema.columns"
      " where table_name = 'emp' and column_name in ('name', 'dept_id') order by ordinal_position",
      cols="n", rows=[("NO",), ("YES",)]),
    C("cat.is_tables_exists", "if exists (select * from information_schema.tables"
      " where table_name = 'emp') select 'present' as p", cols="p", rows=[("present",)]),
    C("cat.is_routines", "select routine_name as n, routine_type as t"
      " from information_schema.routines where routine_name = 'p_r'",
      prep=["create procedure p_r as select 1 as one"], cols="n, t", rows=[("p_r", "PROCEDURE")]),
    C("cat.sys_tables", "select count(*) as n from sys.tables where name = 'emp'", cols="n",
      rows=[(1,)]),
    C("cat.sys_columns", "select name from sys.columns where object_id = object_id('dept')"
      " order by column_id", cols="name", rows=[("id",), ("name",)]),
    C("cat.sys_columns_types",
      "select c.name, t.name as type, c.max_length, c.precision, c.scale, c.is_nullable"
      " from sys.columns c join sys.types t on c.user_type_id = t.user_type_id"
      " where c.object_id = object_id('emp') order by c.column_id",
      cols="name, type, max_length:smallint, precision:tinyint, scale:tinyint, is_nullable:bit",
      rows=[("id", "int", 4, 10, 0, False), ("name", "varchar", 30, 0, 0, False),
            ("dept_id", "int", 4, 10, 0, True), ("salary", "decimal", 9, 10, 2, True),
            ("hired", "datetime", 8, 23, 3, True), ("manager_id", "int", 4, 10, 0, True)]),
    C("cat.sys_objects", "select type_desc from sys.objects where name = 'emp'",
      cols="type_desc", rows=[("USER_TABLE",)]),
    C("cat.sys_objects_type", "select type from sys.objects where name = 'dept'",
      cols="type:char(2)", rows=[("U ",)]),
    C("cat.sys_procedures", "select count(*) as n from sys.procedures where name = 'p_x'",
      prep=["create procedure p_x as select 1 as one"], cols="n", rows=[(1,)]),
    C("cat.sys_databases", "select name from sys.databases where database_id = db_id()",
      cols="name", rows=[("master",)]),
    C("cat.sys_types", "select max_length from sys.types where name = 'int'", cols="max_length",
      rows=[(4,)]),
    C("cat.sys_tables_schema", "select schema_name(schema_id) as s from sys.tables"
      " where name = 'emp'", cols="s", rows=[("dbo",)]),
    C("cat.sysobjects", "select count(*) as n from sysobjects where name = 'emp' and type = 'U'",
      cols="n", rows=[(1,)]),
    C("cat.syscolumns", "select name from syscolumns where id = object_id('dept') order by colid",
      cols="name", rows=[("id",), ("name",)]),
    C("cat.drop_if_exists_idiom",
      "if object_id('dx') is not null drop table dx; create table dx (m int)",
      prep=["create table dx (n int)"], then=("select col_length('dx', 'm')", [(4,)])),
    C("cat.sys_missing_view", "select name from sys.nosuch", error=(208, 16)),
    C("cat.is_views", "select table_name as n from information_schema.views",
      prep=["create view v_c as select id from emp"], cols="n", rows=[("v_c",)]),
    C("cat.objectproperty",
      "select objectproperty(object_id('emp'), 'IsUserTable') as u", cols="u:int", rows=[(1,)]),
]
