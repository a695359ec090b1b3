// The OUTPUT clause of insert, update and delete.
#include "session_fixture.h"

namespace tdslite {
namespace {

TEST_F(SessionTest, OutputClauseSendsTheWrittenRows) {
  ASSERT_EQ(Run("create table o (id int identity(10, 1) primary key, v varchar(5) not null,"
                " t text null)"),
            "done C6");
  Check({
      {"insert into o (v) output inserted.id, inserted.v as val values ('a'), ('b')",
       "cols id:int! val:varchar(5)!\nrow 10|'a'\nrow 11|'b'\ndone C3 count=2"},
      {"insert o (v) output inserted.v select v + 'x' from o where id = 10",
       "cols v:varchar(5)!\nrow 'ax'\ndone C3 count=1"},
      {"update o set v = upper(v) output inserted.* where id > 10",
       "msg 50100/16/1: A text, ntext or image column in the OUTPUT clause is not supported by "
       "tdslite.\ndone C5 error"},
      {"update o set v = upper(v) output inserted.v where id > 10",
       "cols v:varchar(5)!\nrow 'B'\nrow 'AX'\ndone C5 count=2"},
      {"delete from o output deleted.id where v = 'B'", "cols id:int!\nrow 11\ndone C4 count=1"},
      {"delete o output deleted.id where 1 = 0", "cols id:int!\ndone C4 count=0"},
      // What cannot be answered is refused before anything changes.
      {"delete from o output inserted.id",
       "msg 4104/16/1: The multi-part identifier \"inserted.id\" could not be bound.\n"
       "done C4 error"},
      {"update o set v = 'z' output deleted.v",
       "msg 50100/16/1: deleted.* in the OUTPUT clause of UPDATE is not supported by tdslite.\n"
       "done C5 error"},
      {"insert into o (v) output inserted.nosuch values ('q')",
       "msg 207/16/1: Invalid column name 'nosuch'.\ndone C3 error"},
      {"insert into o (v) output inserted.id into @t values ('q')",
       "msg 50100/16/1: OUTPUT ... INTO is not supported by tdslite.\ndone 0 error"},
      {"delete o output 1",
       "msg 50100/16/1: An OUTPUT column other than inserted.column or "
       "deleted.column is not supported by tdslite.\ndone 0 error"},
      {"select id, v from o order by id",
       "cols id:int! v:varchar(5)!\nrow 10|'a'\nrow 12|'AX'\ndone C1 count=2"},
  });
  // A statement that fails after its first rows were sent leaves nothing behind.
  ASSERT_EQ(Run("create table u (k int primary key)"), "done C6");
  EXPECT_EQ(Run("insert into u output inserted.k values (1), (1)").substr(0, 31),
            "cols k:int!\nrow 1\nmsg 2627/14/1");
  EXPECT_EQ(Run("select count(*) from u"), "cols :int!\nrow 0\ndone C1 count=1");
}

}  // namespace
}  // namespace tdslite
