// The catalog as clients read it: object ids by every form of name, the
// views over tables that come and go, and the names that are not the
// catalog.
#include "session_fixture.h"

namespace tdslite {
namespace {

class CatalogTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    ASSERT_EQ(Run("create table emp (id int not null, name varchar(30) not null,"
                  " constraint pk_emp primary key (id, name))"),
              "done C6");
  }
  // The single value of a one-row, one-column query, as RecordingSink writes it.
  std::string Value(const std::string& expr) {
    RecordingSink sink;
    session_->ExecuteBatch("select " + expr, sink);
    if (sink.rows.size() != 1 || sink.metadata.empty()) return "no row: " + Run("select " + expr);
    return test_support::ValueText(sink.metadata[0][0], sink.rows[0][0]);
  }
};

TEST_F(CatalogTest, ObjectIdNameForms) {
  const std::string id = Value("object_id('emp')");
  ASSERT_NE(id, "NULL");
  struct Form {
    const char* name;
    bool found;
  } forms[] = {
      {"dbo.emp", true},
      {"master.dbo.emp", true},
      {"master..emp", true},
      {"[dbo].[emp]", true},
      {"\"emp\"", true},
      {" EMP ", true},
      {"otherdb.dbo.emp", false},
      {"nosuchschema.emp", false},
      {"tempdb..emp", false},
      {"sys.emp", false},
      {"a.b.c.emp", false},
      {"[emp", false},
      {"", false},
      {"emp.", false},
  };
  for (const Form& f : forms) {
    EXPECT_EQ(Value(std::string("object_id('") + f.name + "')"), f.found ? id : "NULL") << f.name;
  }
  // The type argument filters; a key constraint is an object of its own.
  EXPECT_NE(Value("object_id('pk_emp', 'PK')"), "NULL");
  const struct {
    std::string expr;
    std::string expected;
  } cases[] = {
      {"object_id('emp', 'U')", id},
      {"object_id('emp', 'u ')", id},
      {"object_id('emp', 'P')", "NULL"},
      {"object_name(object_id('pk_emp'))", "'pk_emp'"},
      {"objectproperty(object_id('pk_emp'), 'IsPrimaryKey')", "1"},
      {"objectproperty(object_id('emp'), 'TableHasPrimaryKey')", "1"},
      {"object_id(null)", "NULL"},
      {"object_name(12345)", "NULL"},
      {"object_name(" + id + ", db_id())", "'emp'"},
      {"object_name(" + id + ", 2)", "NULL"},
      {"col_name(" + id + ", 2)", "'name'"},
      {"col_name(" + id + ", 3)", "NULL"},
  };
  for (const auto& c : cases) EXPECT_EQ(Value(c.expr), c.expected) << c.expr;
}

TEST_F(CatalogTest, TemporaryTablesLiveInTempdb) {
  ASSERT_EQ(Run("create table #t (n int) create table ##g (n int)"), "done C6\ndone C6");
  const std::string id = Value("object_id('tempdb..#t')");
  EXPECT_NE(id, "NULL");
  EXPECT_EQ(id[0], '-');  // as the server numbers them
  EXPECT_EQ(Value("object_name(" + id + ")"), "'#t'");
  EXPECT_EQ(Value("col_length('tempdb..#t', 'n')"), "4");
  EXPECT_NE(Value("object_id('tempdb.dbo.##g')"), "NULL");
  // Without tempdb the name means the user database, which has neither.
  EXPECT_EQ(Value("object_id('#t')"), "NULL");
  EXPECT_EQ(Value("object_id('master..#t')"), "NULL");
  // Another connection has a #t of its own, or none.
  auto other = NewSession(52);
  EXPECT_EQ(RunBatch(*other, "select object_id('tempdb..#t')"),
            "cols :int\nrow NULL\ndone C1 count=1");
  Check({
      {"select count(*) from sys.objects where name like '#%'",
       "cols :int!\nrow 0\ndone C1 count=1"},
      {"select table_name from information_schema.tables",
       "cols TABLE_NAME:nvarchar(128)!\nrow "
       "'emp'\ndone C1 count=1"},
  });
}

TEST_F(CatalogTest, ColumnSizesAndTypes) {
  ASSERT_EQ(Run("create table ty (a nchar(5), b varbinary(7), c decimal(38,4), d decimal(5,1),"
                " e text, f ntext, g money, h float, i real, j bit, k smalldatetime, l char(3),"
                " m bigint identity)"),
            "done C6");
  Check({
      {"select c.name, t.name, c.max_length, c.precision, c.scale, c.is_identity"
       " from sys.columns c join sys.types t on t.user_type_id = c.user_type_id"
       " where c.object_id = object_id('ty') order by c.column_id",
       "cols name:nvarchar(128) name:nvarchar(128)! max_length:smallint! precision:tinyint! "
       "scale:tinyint! is_identity:bit!\n"
       "row 'a'|'nchar'|10|0|0|0\nrow 'b'|'varbinary'|7|0|0|0\nrow 'c'|'decimal'|17|38|4|0\n"
       "row 'd'|'decimal'|5|5|1|0\nrow 'e'|'text'|16|0|0|0\nrow 'f'|'ntext'|16|0|0|0\n"
       "row 'g'|'money'|8|19|4|0\nrow 'h'|'float'|8|53|0|0\nrow 'i'|'real'|4|24|0|0\n"
       "row 'j'|'bit'|1|1|0|0\nrow 'k'|'smalldatetime'|4|16|0|0\nrow 'l'|'char'|3|0|0|0\n"
       "row 'm'|'bigint'|8|19|0|1\ndone C1 count=13"},
      {"select column_name, character_maximum_length, character_octet_length,"
       " numeric_precision, numeric_precision_radix, numeric_scale, datetime_precision,"
       " character_set_name from information_schema.columns where table_name = 'ty'"
       " and column_name in ('a', 'b', 'e', 'f', 'g', 'h', 'j', 'k') order by ordinal_position",
       "cols COLUMN_NAME:nvarchar(128) CHARACTER_MAXIMUM_LENGTH:int CHARACTER_OCTET_LENGTH:int "
       "NUMERIC_PRECISION:tinyint NUMERIC_PRECISION_RADIX:smallint NUMERIC_SCALE:int "
       "DATETIME_PRECISION:smallint CHARACTER_SET_NAME:nvarchar(128)\n"
       "row 'a'|5|10|NULL|NULL|NULL|NULL|'UNICODE'\n"
       "row 'b'|7|7|NULL|NULL|NULL|NULL|NULL\n"
       "row 'e'|2147483647|2147483647|NULL|NULL|NULL|NULL|'iso_1'\n"
       "row 'f'|1073741823|2147483646|NULL|NULL|NULL|NULL|'UNICODE'\n"
       "row 'g'|NULL|NULL|19|10|4|NULL|NULL\n"
       "row 'h'|NULL|NULL|53|2|NULL|NULL|NULL\n"
       "row 'j'|NULL|NULL|NULL|NULL|NULL|NULL|NULL\n"
       "row 'k'|NULL|NULL|NULL|NULL|NULL|0|NULL\ndone C1 count=8"},
      {"select col_length('ty', 'a'), col_length('ty', 'c'), col_length('nosuch', 'a'),"
       " type_name(type_id('sysname')), type_id('dbo.int'), type_id('x.int'), type_name(0)",
       "cols :smallint :smallint :smallint :nvarchar(128) :int :int :nvarchar(128)\n"
       "row 10|17|NULL|'sysname'|56|NULL|NULL\ndone C1 count=1"},
  });
}

TEST_F(CatalogTest, DefaultsAsTheirDefinitions) {
  ASSERT_EQ(Run("create table d (a nvarchar(5) default N'abc', b money default 2,"
                " c datetime default getdate(), e decimal(5,2) default 1.5, g varchar(9)"
                " default 'it''s', h int null)"),
            "done C6");
  EXPECT_EQ(Run("select column_default from information_schema.columns where table_name = 'd'"
                " order by ordinal_position"),
            "cols COLUMN_DEFAULT:nvarchar(4000)\nrow '(N'abc')'\nrow '((2))'\n"
            "row '(getdate())'\nrow '((1.5))'\nrow '('it''s')'\nrow NULL\ndone C1 count=6");
}

TEST_F(CatalogTest, ViewsAreObjectsWithText) {
  ASSERT_EQ(Run("create view v_e as select id from emp"), "done CF");
  Check({
      {"select table_name, table_type from information_schema.tables order by 1",
       "cols TABLE_NAME:nvarchar(128)! TABLE_TYPE:varchar(10)\nrow 'emp'|'BASE TABLE'\n"
       "row 'v_e'|'VIEW'\ndone C1 count=2"},
      {"select case when object_id('v_e', 'V') = object_id('dbo.v_e') then 1 end,"
       " object_id('v_e', 'U'), objectproperty(object_id('v_e'), 'IsView')",
       "cols :int :int :int\nrow 1|NULL|1\ndone C1 count=1"},
      {"select type_desc from sys.objects where name = 'v_e'",
       "cols type_desc:nvarchar(60)\nrow 'VIEW'\ndone C1 count=1"},
      {"exec sp_helptext 'v_e'",
       "cols Text:nvarchar(255)\nrow 'create view v_e as select id from emp'\ndone C1 count=1\n"
       "status 0\ndone E0"},
  });
}

TEST_F(CatalogTest, KeysAndConstraints) {
  Check({
      {"select constraint_name, constraint_type from information_schema.table_constraints",
       "cols CONSTRAINT_NAME:nvarchar(128)! CONSTRAINT_TYPE:varchar(11)\n"
       "row 'pk_emp'|'PRIMARY KEY'\ndone C1 count=1"},
      {"select column_name, ordinal_position from information_schema.key_column_usage"
       " where table_name = 'emp' order by ordinal_position",
       "cols COLUMN_NAME:nvarchar(128) ORDINAL_POSITION:int!\nrow 'id'|1\nrow 'name'|2\n"
       "done C1 count=2"},
      {"select o.type, o.type_desc, object_name(o.parent_object_id) from sys.objects o"
       " where o.name = 'pk_emp'",
       "cols type:char(2) type_desc:nvarchar(60) :nvarchar(128)\n"
       "row 'PK'|'PRIMARY_KEY_CONSTRAINT'|'emp'\ndone C1 count=1"},
      {"select xtype, type from sysobjects where name = 'pk_emp'",
       "cols xtype:char(2)! type:char(2)\nrow 'PK'|'K '\ndone C1 count=1"},
  });
}

TEST_F(CatalogTest, IndexesNumberedAsTheServerDoes) {
  ASSERT_EQ(Run("create table a (x int not null, y int, constraint uq_a unique (y, x))"
                " create index ix_a on a (y) create table h (n int)"),
            "done C6\ndone CA\ndone C6");
  Check({
      // A table without a primary key is a heap (index 0); the others
      // follow from 2, the primary key being the clustered index 1.
      {"select object_name(object_id), name, index_id, type_desc, is_unique,"
       " is_unique_constraint from sys.indexes order by 1, 3",
       "cols :nvarchar(128) name:nvarchar(128) index_id:int! type_desc:nvarchar(60) "
       "is_unique:bit is_unique_constraint:bit\n"
       "row 'a'|NULL|0|'HEAP'|0|0\nrow 'a'|'uq_a'|2|'NONCLUSTERED'|1|1\n"
       "row 'a'|'ix_a'|3|'NONCLUSTERED'|0|0\nrow 'emp'|'pk_emp'|1|'CLUSTERED'|1|0\n"
       "row 'h'|NULL|0|'HEAP'|0|0\ndone C1 count=5"},
      {"select index_id, key_ordinal, col_name(object_id, column_id) from sys.index_columns"
       " where object_id = object_id('a') order by 1, 2",
       "cols index_id:int! key_ordinal:tinyint! :nvarchar(128)\nrow 2|1|'y'\nrow 2|2|'x'\n"
       "row 3|1|'y'\ndone C1 count=3"},
      {"select name, type, unique_index_id from sys.key_constraints order by name",
       "cols name:nvarchar(128)! type:char(2) unique_index_id:int\nrow 'pk_emp'|'PK'|1\n"
       "row 'uq_a'|'UQ'|2\ndone C1 count=2"},
      // A named table constraint keeps its name, in the duplicate key message too.
      {"insert a values (1, 1), (1, 1)",
       "msg 2627/14/1: Violation of UNIQUE KEY constraint 'uq_a'. Cannot insert duplicate key "
       "in object 'dbo.a'. The duplicate key value is (1, 1).\nmsg 3621/0/0: The statement has "
       "been "
       "terminated.\ndone C3 error"},
  });
}

TEST_F(CatalogTest, ViewsFollowTheTables) {
  Check({
      {"drop table emp select count(*) from sys.tables",
       "done C7\ncols :int!\nrow 0\ndone C1 "
       "count=1"},
      {"create table emp (x int) select c.name from sys.columns c join sys.tables t"
       " on t.object_id = c.object_id",
       "done C6\ncols name:nvarchar(128)\nrow 'x'\ndone C1 count=1"},
      {"select count(*) from syscolumns where id = object_id('emp')",
       "cols :int!\nrow 1\ndone C1 count=1"},
  });
}

TEST_F(CatalogTest, NamesThatAreNotUserTables) {
  Check({
      {"select * from otherdb.dbo.emp",
       "msg 208/16/1: Invalid object name 'otherdb.dbo.emp'.\ndone C1 error"},
      {"select * from nosuchschema.emp",
       "msg 208/16/1: Invalid object name 'nosuchschema.emp'.\ndone C1 error"},
      {"select * from sys.nosuch",
       "msg 208/16/1: Invalid object name 'sys.nosuch'.\ndone C1 error"},
      {"select * from otherdb.sys.tables",
       "msg 208/16/1: Invalid object name 'otherdb.sys.tables'.\ndone C1 error"},
      {"select * from sys.foreign_keys",
       "msg 50100/16/1: The catalog view 'sys.foreign_keys' is not supported by tdslite.\n"
       "done 0 error"},
      {"select * from tempdb.sys.objects",
       "msg 50100/16/1: The catalog view 'tempdb.sys.objects' is not supported by tdslite.\n"
       "done 0 error"},
      {"select * from sysindexes",
       "msg 50100/16/1: The catalog view 'sysindexes' is not supported by tdslite.\ndone C1 "
       "error"},
      {"select name from master.sys.tables",
       "cols name:nvarchar(128)!\nrow 'emp'\ndone C1 count=1"},
      {"select count(*) from master.information_schema.columns",
       "cols :int!\nrow 2\ndone C1 count=1"},
      // The views are read only.
      {"delete from sys.tables", "msg 208/16/1: Invalid object name 'sys.tables'.\ndone C4 error"},
      {"update sysobjects set name = 'x'",
       "msg 208/16/1: Invalid object name 'sysobjects'.\ndone C5 error"},
      {"select count(*) from dbo.sysobjects where type = 'U'",
       "cols :int!\nrow 1\ndone C1 count=1"},
  });
}

TEST_F(CatalogTest, ServerAndDatabase) {
  Check({
      {"select db_id(), db_id('tempdb'), db_id('nosuch'), db_name(2), db_name(99), schema_id(),"
       " schema_name(4), schema_id('sys')",
       "cols :int! :int :int :nvarchar(128) :nvarchar(128) :int! :nvarchar(128) :int\n"
       "row 1|2|NULL|'tempdb'|NULL|1|'sys'|4\ndone C1 count=1"},
      {"select serverproperty('ProductVersion'), serverproperty('servername'),"
       " serverproperty('nosuch')",
       "cols :nvarchar(128) :nvarchar(128) :nvarchar(128)\n"
       "row '10.50.1600.1'|'TESTSRV'|NULL\ndone C1 count=1"},
      {"select name from sys.databases order by database_id",
       "cols name:nvarchar(128)!\nrow 'master'\nrow 'tempdb'\ndone C1 count=2"},
  });
}

}  // namespace
}  // namespace tdslite
