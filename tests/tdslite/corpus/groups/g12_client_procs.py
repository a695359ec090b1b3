# The system procedures client tools call.
from casekit import C, R, STANDARD

FEATURE = "12. client procedures"
SETUP = STANDARD

CASES = [
    C("sp.help_table", "exec sp_help 'emp'", first=True,
      results=[R("Name, Owner, Type", [("emp", "dbo", "user table")], subset=True)]),
    C("sp.columns", "exec sp_columns 'dept'",
      results=[R("TABLE_OWNER, TABLE_NAME, COLUMN_NAME, TYPE_NAME, PRECISION, LENGTH, NULLABLE,"
                 " ORDINAL_POSITION, IS_NULLABLE",
                 [("dbo", "dept", "id", "int", 10, 4, 0, 1, "NO"),
                  ("dbo", "dept", "name", "varchar", 30, 30, 0, 2, "NO")], subset=True)]),
    C("sp.columns_named", "exec sp_columns @table_name = 'emp', @column_name = 'salary'",
      results=[R("COLUMN_NAME, TYPE_NAME, PRECISION, SCALE, NULLABLE, IS_NULLABLE",
                 [("salary", "decimal", 10, 2, 1, "YES")], subset=True)]),
    C("sp.tables", "exec sp_tables 'emp'",
      cols="TABLE_QUALIFIER, TABLE_OWNER, TABLE_NAME, TABLE_TYPE, REMARKS",
      rows=[("master", "dbo", "emp", "TABLE", None)]),
    C("sp.tables_pattern", "exec sp_tables @table_name = 'de%'",
      results=[R("TABLE_NAME", [("dept",)], subset=True)]),
    C("sp.who_columns", "exec sp_who",
      results=[R("spid, ecid, status, loginame, hostname, blk, dbname, cmd, request_id", None)]),
    C("sp.helptext_view", "exec sp_helptext 'v_h'",
      prep=["create view v_h as select 1 as one"], cols="Text:nvarchar(255)",
      rows=[("create view v_h as select 1 as one",)]),
    C("sp.helptext_proc", "exec sp_helptext 'p_h'",
      prep=["create procedure p_h as select 2 as two"], cols="Text:nvarchar(255)",
      rows=[("create procedure p_h as select 2 as two",)]),
    C("sp.pkeys", "exec sp_pkeys 'dept'",
      results=[R("TABLE_NAME, COLUMN_NAME, KEY_SEQ", [("dept", "id", 1)], subset=True)]),
    C("sp.help_missing", "exec sp_help 'nosuch'", error=(15009, 16)),
    C("sp.columns_missing", "exec sp_columns 'nosuch'",
      results=[R("TABLE_NAME, COLUMN_NAME", [], subset=True)]),
]
