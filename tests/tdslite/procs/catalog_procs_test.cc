// The catalog procedures through a session: how arguments bind, what each
// answers for tables of several shapes, and the messages of
// sp_addmessage that raiserror raises by number.
#include <string>

#include "session_fixture.h"

namespace tdslite {
namespace {

class CatalogProcsTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    ASSERT_EQ(
        Run("create table item (id int identity(100, 1) not null constraint pk_item primary key,"
            " code nchar(4) not null constraint uq_item unique, price decimal(9,3) null,"
            " note text null)"),
        "done C6");
  }
  // The recorded lines of a batch that contain `what`.
  std::string Lines(std::string_view sql, const std::string& what) {
    RecordingSink sink;
    session_->ExecuteBatch(sql, sink);
    std::string out;
    for (const std::string& l : sink.lines) {
      if (l.find(what) != std::string::npos) out += (out.empty() ? "" : "\n") + l;
    }
    return out;
  }
};

TEST_F(CatalogProcsTest, ArgumentsBindByPositionAndName) {
  Check({
      {"exec sp_pkeys @table_name = 'item'",
       "cols TABLE_QUALIFIER:nvarchar(128) TABLE_OWNER:nvarchar(128) TABLE_NAME:nvarchar(128) "
       "COLUMN_NAME:nvarchar(128) KEY_SEQ:smallint PK_NAME:nvarchar(128)\n"
       "row 'master'|'dbo'|'item'|'id'|1|'pk_item'\ndone C1 count=1\nstatus 0\ndone E0"},
      {"exec sp_pkeys 'item', 'other'",
       "cols TABLE_QUALIFIER:nvarchar(128) TABLE_OWNER:nvarchar(128) TABLE_NAME:nvarchar(128) "
       "COLUMN_NAME:nvarchar(128) KEY_SEQ:smallint PK_NAME:nvarchar(128)\ndone C1 count=0\n"
       "status 0\ndone E0"},
      {"exec sp_pkeys @nosuch = 'item'",
       "msg 8145/16/2: @nosuch is not a parameter for procedure sp_pkeys.\ndone E0 error"},
      {"exec sp_help 'item', 'x'",
       "msg 8144/16/2: Procedure or function sp_help has too many arguments specified.\n"
       "done E0 error"},
      {"exec sp_columns",
       "msg 201/16/4: Procedure or function 'sp_columns' expects parameter '@table_name', which "
       "was not supplied.\ndone 0 error\nstatus 1\ndone E0"},
  });
}

TEST_F(CatalogProcsTest, HelpDescribesTablesTypesAndMissingObjects) {
  // The columns as sp_help lists them: sizes in bytes, precision only for
  // numbers, trailing-blank rules only for sized strings.
  EXPECT_EQ(Lines("exec sp_help 'dbo.item'", "row"),
            "row 'item'|'dbo'|'user table'\n"
            "row 'id'|'int'|'no'|4|'10   '|'0    '|'no'|'(n/a)'|'(n/a)'|NULL\n"
            "row 'code'|'nchar'|'no'|8|'     '|'     '|'no'|'no'|'no'|"
            "'SQL_Latin1_General_CP1_CI_AS'\n"
            "row 'price'|'decimal'|'no'|5|'9    '|'3    '|'yes'|'(n/a)'|'(n/a)'|NULL\n"
            "row 'note'|'text'|'no'|16|'     '|'     '|'yes'|'(n/a)'|'(n/a)'|"
            "'SQL_Latin1_General_CP1_CI_AS'\n"
            "row 'id'|100|1|0\n"
            "row 'No rowguidcol column defined.'\n"
            "row 'PRIMARY'\n"
            "row 'pk_item'|'clustered, unique, primary key located on PRIMARY'|'id'\n"
            "row 'uq_item'|'nonclustered, unique, unique key located on PRIMARY'|'code'\n"
            "row 'PRIMARY KEY (clustered)'|'pk_item'|'(n/a)'|'(n/a)'|'(n/a)'|'(n/a)'|'id'\n"
            "row 'UNIQUE (non-clustered)'|'uq_item'|'(n/a)'|'(n/a)'|'(n/a)'|'(n/a)'|'code'");
  Check({
      {"exec sp_help 'varchar'",
       "cols Type_name:nvarchar(128)! Storage_type:nvarchar(128)! Length:smallint! Prec:int! "
       "Scale:int Nullable:varchar(35)! Default_name:nvarchar(128) Rule_name:nvarchar(128) "
       "Collation:nvarchar(128)\nrow 'varchar'|'varchar'|8000|0|NULL|'yes'|'none'|'none'|"
       "'SQL_Latin1_General_CP1_CI_AS'\ndone C1 count=1\nstatus 0\ndone E0"},
      {"exec sp_help 'other.dbo.item'",
       "msg 15009/16/1: The object 'other.dbo.item' does not exist in database 'master' or is "
       "invalid for this operation.\ndone 0 error\nstatus 1\ndone E0"},
      {"create table #t (n int) exec sp_help '#t'",
       "done C6\nmsg 15009/16/1: The object '#t' does not exist in database 'master' or is "
       "invalid for this operation.\ndone 0 error\nstatus 1\ndone E0"},
      {"exec sp_helptext 'item'",
       "msg 15197/16/1: There is no text for object 'item'.\ndone 0 error\nstatus 1\ndone E0"},
  });
  EXPECT_EQ(Lines("create table heap (n int) exec sp_helpindex heap", "msg"),
            "msg 15472/10/1: The object 'heap' does not have any indexes, or you do not have "
            "permissions.");
}

TEST_F(CatalogProcsTest, ColumnsAndTablesByPattern) {
  ASSERT_EQ(Run("create table items_old (d datetime not null, s nvarchar(10) null)"), "done C6");
  EXPECT_EQ(Lines("exec sp_columns 'item%', @column_name = '[dp]%'", "row"),
            "row 'master'|'dbo'|'item'|'price'|3|'decimal'|9|11|3|10|1|NULL|NULL|3|NULL|NULL|3|"
            "'YES'|106\n"
            "row 'master'|'dbo'|'items_old'|'d'|11|'datetime'|23|16|3|NULL|0|NULL|NULL|9|3|"
            "NULL|1|'NO'|61");
  EXPECT_EQ(Lines("exec sp_columns items_old, @column_name = 's'", "row"),
            "row 'master'|'dbo'|'items_old'|'s'|-9|'nvarchar'|10|20|NULL|NULL|1|NULL|NULL|-9|"
            "NULL|20|2|'YES'|39");
  EXPECT_EQ(Lines("exec sp_columns 'item', @column_name = 'id'", "row"),
            "row 'master'|'dbo'|'item'|'id'|4|'int identity'|10|4|0|10|0|NULL|NULL|4|NULL|NULL|1|"
            "'NO'|56");
  EXPECT_EQ(Lines("exec sp_columns 'item', 'nosuchowner'", "row"), "");
  EXPECT_EQ(Lines("create table #tmp (n int) exec sp_tables '%'", "row"),
            "row 'master'|'dbo'|'item'|'TABLE'|NULL\n"
            "row 'master'|'dbo'|'items_old'|'TABLE'|NULL");
  EXPECT_EQ(Lines("exec sp_tables @table_name = 'items[_]%', @table_qualifier = 'master'", "row"),
            "row 'master'|'dbo'|'items_old'|'TABLE'|NULL");
  EXPECT_EQ(Lines("exec sp_tables 'item', @table_qualifier = 'other'", "row"), "");
}

TEST_F(CatalogProcsTest, AddedMessagesAreRaisedByNumber) {
  Check({
      {"exec sp_addmessage 50001, 16, 'Load of %s failed at row %d.'", "status 0\ndone E0"},
      {"raiserror(50001, 11, 3, 'orders', 42)",
       "msg 50001/11/3: Load of orders failed at row 42.\ndone AC error"},
      {"exec sp_addmessage 50001, 16, 'again'",
       "msg 15043/16/1: You must specify 'REPLACE' to overwrite an existing message.\n"
       "done 0 error\nstatus 1\ndone E0"},
      {"exec sp_addmessage @msgnum = 50001, @severity = 10, @msgtext = 'Note %s',"
       " @replace = 'REPLACE'",
       "status 0\ndone E0"},
      {"exec sp_addmessage 50000, 16, 'x'",
       "msg 15040/16/1: User-defined error messages must have an ID greater than 50000.\n"
       "done 0 error\nstatus 1\ndone E0"},
      {"exec sp_addmessage 50002, 26, 'x'",
       "msg 15041/16/1: User-defined error messages must have a severity level between 1 and "
       "25.\ndone 0 error\nstatus 1\ndone E0"},
      {"exec sp_dropmessage 50009",
       "msg 15179/16/1: Message number 50009 does not exist.\ndone 0 error\nstatus 1\ndone E0"},
  });
  std::string long_text(256, 'x');
  EXPECT_EQ(Lines("exec sp_addmessage 50003, 16, '" + long_text + "'", "msg"),
            "msg 8152/16/2: String or binary data would be truncated.");
  // Every connection sees the message; once dropped, raiserror no longer finds it.
  auto other = NewSession(52);
  EXPECT_EQ(RunBatch(*other, "raiserror(50001, 10, 1, 'x')"), "msg 50001/10/1: Note x\ndone AC");
  EXPECT_EQ(Run("exec sp_dropmessage 50001"), "status 0\ndone E0");
  EXPECT_EQ(Lines("raiserror(50001, 16, 1)", "msg").substr(0, 21), "msg 18054/16/1: Error");
}

TEST_F(CatalogProcsTest, ServerProcedures) {
  EXPECT_EQ(Lines("exec sp_who", "row"), "row 51|0|'runnable                      '|'sa'|'" +
                                             std::string(128, ' ') +
                                             "'|'0    '|'master'|'SELECT          '|0");
  EXPECT_EQ(Lines("exec sp_who 'nobody'", "row"), "");
  EXPECT_EQ(Lines("exec sp_server_info 1", "row"), "row 1|'DBMS_NAME'|'Microsoft SQL Server'");
  EXPECT_EQ(Lines("exec sp_spaceused 'item'", "row '").substr(0, 34),
            "row 'item'|'0                   '|");
}

}  // namespace
}  // namespace tdslite
