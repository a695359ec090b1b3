// sp_makewebtask, sp_runwebtask and sp_dropwebtask through a session: the
// pages written, the tokens the client gets, the errors, the file root and
// tasks outliving the engine.
#include <unistd.h>

#include <regex>

#include "web_task_fixture.h"

namespace tdslite {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSetup =
    "create table staff (id int not null, name varchar(20) not null, note varchar(30) null, "
    "pay money null, hired datetime null, photo image null) "
    "insert into staff values (1, 'Ann', 'lead', 1234.5, '2024-01-31 13:45:00.123', 0x0102FF) "
    "insert into staff values (2, 'Bob', null, null, null, null) "
    "insert into staff values (3, 'Cy <&> \"Q\"', 'a<b>c', 0, '2000-02-29', 0x41) "
    "create table links (url varchar(40) not null, label varchar(20) not null) "
    "insert into links values ('http://a.example/?x=1&y=2', 'A & co') "
    "insert into links values ('b.htm', '<B>')";

// Every page parameter, each case writing one page compared with a file.
TEST_F(WebTaskTest, PagesMatchExpectedFiles) {
  ASSERT_EQ(Run(kSetup).find("error"), std::string::npos);
  Write(root_ / "tpl.htm",
        "<HTML><BODY>\n<P>Before\n<%insert_data_here%><P>After\n</BODY></HTML>\n");
  struct Case {
    const char* args;
    const char* file;
  } cases[] = {
      {"@outputfile='basic.htm', @query='select id, name from staff order by id', "
       "@lastupdated=0",
       "basic.htm"},
      {"@outputfile='formatted.htm', @query='select id, name from staff order by id', "
       "@lastupdated=0, @fixedfont=0, @bold=1, @italic=1, @htmlheader=3, "
       "@webpagetitle='Staff <list>', @resultstitle='All & every', @tabborder=0, @colheaders=0, "
       "@rowcnt=2",
       "formatted.htm"},
      {"@outputfile='types.htm', @query='select * from staff where id <> 2 order by id "
       "select count(*) as n from staff', @lastupdated=0, @bold=1, @url='http://x/?a=1&b=2', "
       "@reftext='Home & away'",
       "types.htm"},
      {"@outputfile='sub/urls.htm', @query='select name from staff where id = 1', "
       "@lastupdated=0, @table_urls=1, @url_query='select url, label from links order by label'",
       "urls.htm"},
      {"@outputfile='templated.htm', @query='select name from staff order by id', "
       "@lastupdated=0, @templatefile='tpl.htm', @webpagetitle='ignored with a template'",
       "templated.htm"},
      {"@outputfile='blobs.htm', @query='select id, photo from staff where id <> 2 order by id', "
       "@lastupdated=0, @blobfmt='%2% FILE=sub/photo.bin URL=http://h/p/'",
       "blobs.htm"},
      // Positional arguments take SQL Server's declared order; a bare word is a string.
      {"'positional.htm', 'select 1 as one', 1, 0, 0, 1, 0, 2, @procname = bareword",
       "positional.htm"},
      {"@outputfile='user.htm', @query='select 1 as one', @lastupdated=0, @username='nobody', "
       "@dbname='master', @maketask=0, @whentype=1",
       "user.htm"},
  };
  for (const Case& c : cases) {
    std::string out = Run(std::string("exec sp_makewebtask ") + c.args);
    EXPECT_EQ(out, "status 0\ndone E0") << c.args;
    fs::path written = root_ / c.file;
    if (!fs::exists(written)) written = root_ / "sub" / c.file;
    const std::string page = Read(written);
    EXPECT_EQ(page, Expected(c.file, page)) << c.args;
  }
  // @blobfmt wrote each value to its own numbered file.
  EXPECT_EQ(Read(root_ / "sub/photo1.bin"), std::string("\x01\x02\xFF", 3));
  EXPECT_EQ(Read(root_ / "sub/photo2.bin"), "A");
}

TEST_F(WebTaskTest, SingleRowWritesOnePagePerRow) {
  ASSERT_EQ(Run(kSetup).find("error"), std::string::npos);
  EXPECT_EQ(Run("sp_makewebtask @outputfile='row.htm', @query='select id, name from staff order "
                "by id', @lastupdated=0, @singlerow=1"),
            "status 0\ndone E0");
  EXPECT_EQ(Read(root_ / "row.htm"), Expected("row.htm", Read(root_ / "row.htm")));
  EXPECT_NE(Read(root_ / "row2.htm").find("<TD><TT>Bob</TT></TD>"), std::string::npos);
  EXPECT_NE(Read(root_ / "row3.htm").find("<TD><TT>3</TT></TD>"), std::string::npos);
  EXPECT_FALSE(fs::exists(root_ / "row4.htm"));
}

// A @blobfmt template gets each value, escaped, in place of its marker; the
// cell links to the file by its name when no URL is given.
TEST_F(WebTaskTest, BlobFormatWithTemplate) {
  ASSERT_EQ(Run(kSetup).find("error"), std::string::npos);
  Write(root_ / "note_tpl.htm", "<P>[<%insert_data_here%>]\n");
  EXPECT_EQ(Run("sp_makewebtask @outputfile='notes.htm', @query='select note from staff where id "
                "= 3', @lastupdated=0, @blobfmt='%1% FILE=sub/note.htm TPLT=note_tpl.htm'"),
            "status 0\ndone E0");
  EXPECT_EQ(Read(root_ / "sub/note1.htm"), "<P>[a&lt;b&gt;c]\n");
  EXPECT_NE(Read(root_ / "notes.htm").find("<TD><TT><A HREF=\"sub/note1.htm\">note</A></TT></TD>"),
            std::string::npos);
  // A value file outside the root is refused like the page itself.
  EXPECT_EQ(Run("sp_makewebtask @outputfile='notes2.htm', @query='select note from staff', "
                "@blobfmt='%1% FILE=../note.htm'")
                .substr(0, 9),
            "msg 16821");
  EXPECT_FALSE(fs::exists(dir_ / "note1.htm"));
}

TEST_F(WebTaskTest, LastUpdatedLineCarriesTheTime) {
  EXPECT_EQ(Run("sp_makewebtask @outputfile='dated.htm', @query='select 1 as one'"),
            "status 0\ndone E0");
  std::string page = Read(root_ / "dated.htm");
  std::regex when(R"(<P>Last updated: [A-Z][a-z]{2} [ 0-9]\d \d{4} [ 1]\d:\d\d[AP]M\n)");
  EXPECT_TRUE(std::regex_search(page, when)) << page;
  const std::string masked = std::regex_replace(page, when, "<P>Last updated: (masked)\n");
  EXPECT_EQ(masked, Expected("dated.htm", masked));
}

TEST_F(WebTaskTest, ProcedureCallTokens) {
  test_support::RecordingSink sink;
  session_->ExecuteBatch("exec sp_makewebtask @outputfile='t.htm', @query='select 1' select 2",
                         sink);
  ASSERT_EQ(sink.dones.size(), 2u);
  EXPECT_EQ(sink.dones[0].kind, DoneKind::kDoneProc);
  EXPECT_EQ(sink.dones[0].status, kDoneFinal);
  EXPECT_EQ(sink.dones[1].kind, DoneKind::kDone);
  // The query's own results go into the page, not to the client.
  EXPECT_EQ(sink.metadata.size(), 1u);
  EXPECT_EQ(Run("select @@error"), "cols :int!\nrow 0\ndone C1 count=1");
  // The package passes queries of up to 32765 characters.
  EXPECT_EQ(Run("sp_makewebtask @outputfile='long.htm', @query='select 1 as one" +
                std::string(32000, ' ') + "'"),
            "status 0\ndone E0");
  EXPECT_NE(Read(root_ / "long.htm").find("<TD><TT>1</TT></TD>"), std::string::npos);
}

// Errors: SQL Server's numbers, and the EXEC's DONE or the procedure's
// DONEINPROC, RETURNSTATUS and DONEPROC.
TEST_F(WebTaskTest, Errors) {
  ASSERT_EQ(Run(kSetup).find("error"), std::string::npos);
  Write(root_ / "nomarker.htm", "<HTML></HTML>");
  const std::string wa = "/11/1: SQL Web Assistant: ";
  struct Case {
    std::string sql;
    std::string expected;
  } cases[] = {
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @nosuch=1",
       "msg 8145/16/2: @nosuch is not a parameter for procedure sp_makewebtask.\ndone E0 error"},
      {"sp_makewebtask @query='select 1'",
       "msg 201/16/4: Procedure or function 'sp_makewebtask' expects parameter '@outputfile', "
       "which was not supplied.\ndone E0 error"},
      {"SP_MAKEWEBTASK @OutputFile='x.htm'",
       "msg 201/16/4: Procedure or function 'sp_makewebtask' expects parameter '@query', which "
       "was not supplied.\ndone E0 error"},
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @bold='yes'",
       "msg 8114/16/5: Error converting data type varchar to tinyint.\ndone E0 error"},
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @rowcnt=3000000000",
       "msg 220/16/2: Arithmetic overflow error for data type int, value = 3000000000.\n"
       "done E0 error"},
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @bold=1, @BOLD=0",
       "msg 8143/16/1: Parameter '@bold' was supplied multiple times.\ndone E0 error"},
      {"sp_runwebtask 'a', 'b', 'c'",
       "msg 8144/16/2: Procedure or function sp_runwebtask has too many arguments specified.\n"
       "done E0 error"},
      {"sp_runwebtask",
       "msg 16803/11/1: sp_runwebtask requires at least one of the parameters @outputfile or "
       "@procname to be defined.\ndone 0 error\nstatus 1\ndone E0"},
      {"sp_dropwebtask @procname=null",
       "msg 16801/11/1: sp_dropwebtask requires at least one of the parameters @outputfile or "
       "@procname to be defined.\ndone 0 error\nstatus 1\ndone E0"},
      {"sp_runwebtask @procname='nosuch'",
       "msg 16815" + wa + "@procname is not valid.\ndone 0 error\nstatus 16815\ndone E0"},
      {"sp_runwebtask @outputfile='nosuch.htm'",
       "msg 16816" + wa + "@outputfile is not valid.\ndone 0 error\nstatus 16816\ndone E0"},
      {"sp_dropwebtask 'nosuch'",
       "msg 16802/11/1: sp_dropwebtask cannot find the specified task.\ndone 0 error\n"
       "status 16802\ndone E0"},
      {"sp_makewebtask @outputfile='x.htm', @query='select * from nosuch'",
       "msg 16805" + wa +
           "Could not execute the SQL statement.\ndone 0 error\nstatus 16805\n"
           "done E0"},
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @dbname='otherdb'",
       "msg 16854" + wa +
           "The database given in @dbname does not exist.\ndone 0 error\n"
           "status 9\ndone E0"},
      {"sp_makewebtask @outputfile='x.htm', @query=''",
       "msg 16812" + wa +
           "The @query parameter must be specified.\ndone 0 error\n"
           "status 16812\ndone E0"},
      {"sp_makewebtask @outputfile='', @query='select 1'",
       "msg 16816" + wa + "@outputfile is not valid.\ndone 0 error\nstatus 16816\ndone E0"},
      {"sp_makewebtask @outputfile='" + std::string(256, 'x') + "', @query='select 1'",
       "msg 16816" + wa + "@outputfile is not valid.\ndone 0 error\nstatus 16816\ndone E0"},
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @procname='" +
           std::string(129, 'p') + "'",
       "msg 16815" + wa + "@procname is not valid.\ndone 0 error\nstatus 16815\ndone E0"},
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @table_urls=1, "
       "@url_query='select nosuch from links'",
       "msg 16805" + wa +
           "Could not execute the SQL statement.\ndone 0 error\nstatus 16805\n"
           "done E0"},
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @singlerow=2",
       "msg 16829" + wa + "@singlerow must be 0 or 1.\ndone 0 error\nstatus 16829\ndone E0"},
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @blobfmt='2 FILE=a'",
       "msg 16830" + wa +
           "The format given in @blobfmt is not valid.\ndone 0 error\n"
           "status 16830\ndone E0"},
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @blobfmt='%1% URL=a'",
       "msg 16831" + wa +
           "An output file name is mandatory for each column named in the "
           "@blobfmt parameter.\ndone 0 error\nstatus 16831\ndone E0"},
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @templatefile='none.htm'",
       "msg 16822" + wa +
           "Could not open the template file.\ndone 0 error\nstatus 16822\n"
           "done E0"},
      {"sp_makewebtask @outputfile='x.htm', @query='select 1', @templatefile='nomarker.htm'",
       "msg 16826" + wa +
           "Could not find the marker for data insertion in the template file.\n"
           "done 0 error\nstatus 16826\ndone E0"},
  };
  for (const Case& c : cases) EXPECT_EQ(Run(c.sql), c.expected) << c.sql;
  // Integer parameters take numeric strings (blank is 0), as SQL Server converts them.
  EXPECT_EQ(Run("sp_makewebtask @outputfile='blank.htm', @query='select 1', @bold='', "
                "@italic=' 1 ', @htmlheader=2.9"),
            "status 0\ndone E0");
  EXPECT_NE(Read(root_ / "blank.htm").find("<H2>"), std::string::npos);
  EXPECT_NE(Read(root_ / "blank.htm").find("<TT><I>1</I></TT>"), std::string::npos);
  // Values SQL Server's Web Assistant refuses as "parameters not valid".
  for (const char* extra :
       {"@htmlheader=0", "@htmlheader=7", "@whentype=11", "@unittype=5", "@maketask=3",
        "@rowcnt=-1", "@bold=2", "@url='a'", "@reftext='a'", "@table_urls=1",
        "@table_urls=1, @url_query='select 1', @url='a', @reftext='b'", "@targetdate=20240230",
        "@targettime=246000", "@dayflags=128", "@numunits=0"}) {
    EXPECT_EQ(Run(std::string("sp_makewebtask @outputfile='x.htm', @query='select 1', ") + extra),
              "msg 16814" + wa +
                  "The parameters are not valid.\ndone 0 error\nstatus 16814\n"
                  "done E0")
        << extra;
  }
  EXPECT_FALSE(fs::exists(root_ / "x.htm"));
  EXPECT_EQ(Run("sp_runwebtask @outputfile='blank.htm'"), "status 0\ndone E0");
  EXPECT_EQ(Run("sp_dropwebtask @outputfile='blank.htm'"), "status 0\ndone E0");
  // A refused call leaves no task behind, and @@error tells the last error.
  EXPECT_EQ(Run("sp_dropwebtask @outputfile='x.htm'").substr(0, 9), "msg 16802");
  EXPECT_EQ(Run("select @@error"), "cols :int!\nrow 16802\ndone C1 count=1");
}

TEST_F(WebTaskTest, FileRootEscapesAreRefused) {
  const fs::path outside = dir_ / "outside";
  fs::create_directory_symlink(outside, root_ / "link");
  fs::create_symlink(outside / "target.htm", root_ / "file_link.htm");
  Write(outside / "tpl.htm", "<%insert_data_here%>");
  const std::string refused =
      "msg 16821/11/1: SQL Web Assistant: Could not open the output file.\ndone 0 error\n"
      "status 16821\ndone E0";
  const std::string names[] = {
      "../escape.htm",
      "sub/../../escape.htm",
      (outside / "absolute.htm").string(),
      "link/through_link.htm",
      "file_link.htm",
      "nodir/x.htm",
      "sub",
      ".bashrc",
      ".ssh/authorized_keys",
      "sub/.hidden.htm",
      "./dot.htm",
      "hard.htm",
  };
  Write(outside / "victim", "secret");
  ASSERT_EQ(::link((outside / "victim").c_str(), (root_ / "hard.htm").c_str()), 0);
  for (const std::string& name : names) {
    EXPECT_EQ(Run("sp_makewebtask @outputfile='" + name + "', @query='select 1'"), refused) << name;
  }
  EXPECT_FALSE(fs::exists(dir_ / "escape.htm"));
  EXPECT_FALSE(fs::exists(outside / "absolute.htm"));
  EXPECT_FALSE(fs::exists(outside / "through_link.htm"));
  EXPECT_FALSE(fs::exists(outside / "target.htm"));
  EXPECT_FALSE(fs::exists(root_ / ".bashrc"));
  EXPECT_FALSE(fs::exists(root_ / "sub" / ".hidden.htm"));
  EXPECT_EQ(Read(outside / "victim"), "secret");
  // Dot names are refused in a template and in a @blobfmt file too.
  Write(root_ / ".tpl.htm", "<%insert_data_here%>");
  EXPECT_EQ(Run("sp_makewebtask @outputfile='t.htm', @query='select 1', @templatefile='.tpl.htm'")
                .substr(0, 9),
            "msg 16822");
  EXPECT_EQ(Run("sp_makewebtask @outputfile='t.htm', @query='select 1', "
              "@blobfmt='%1% FILE=.profile'")
                .substr(0, 9),
            "msg 16821");
  EXPECT_FALSE(fs::exists(root_ / ".profile1"));
  // Templates outside the root are not read either.
  EXPECT_EQ(
      Run("sp_makewebtask @outputfile='t.htm', @query='select 1', @templatefile='link/tpl.htm'")
          .substr(0, 9),
      "msg 16822");
  // An absolute name inside the root is fine.
  const std::string inside = (root_ / "sub" / "abs.htm").string();
  EXPECT_EQ(Run("sp_makewebtask @outputfile='" + inside + "', @query='select 1'"),
            "status 0\ndone E0");
  EXPECT_TRUE(fs::exists(root_ / "sub" / "abs.htm"));
  // An unwritable output file: the same error, the task is not stored.
  if (::geteuid() != 0) {
    Write(root_ / "ro.htm", "old");
    fs::permissions(root_ / "ro.htm", fs::perms::owner_read);
    EXPECT_EQ(Run("sp_makewebtask @outputfile='ro.htm', @query='select 1', @procname='ro'"),
              refused);
    EXPECT_EQ(Read(root_ / "ro.htm"), "old");
    EXPECT_EQ(Run("sp_dropwebtask 'ro'").substr(0, 9), "msg 16802");
  }
}

// A server started without --file-root writes no file and stores no task.
TEST_F(WebTaskTest, WithoutAFileRootNothingIsWritten) {
  ASSERT_EQ(Run("sp_makewebtask @outputfile='kept.htm', @query='select 1', @procname='kept'"),
            "status 0\ndone E0");
  fs::remove(root_ / "kept.htm");
  WithoutFileRoot();
  const std::string refused =
      "msg 50111/16/1: Web tasks are disabled: tdslite writes web pages only under the folder "
      "given with --file-root DIR, and was started without it.\ndone 0 error\nstatus 1\n"
      "done E0";
  const std::string calls[] = {
      "sp_makewebtask @outputfile='x.htm', @query='select 1'",
      "sp_makewebtask @outputfile='x.htm', @query='select 1', @whentype=5, @procname='later'",
      "sp_makewebtask @outputfile='" + (root_ / "abs.htm").string() + "', @query='select 1'",
      "sp_runwebtask @procname='kept'",
      "sp_runwebtask @outputfile='kept.htm'",
  };
  for (const std::string& call : calls) EXPECT_EQ(Run(call), refused) << call;
  EXPECT_TRUE(fs::is_empty(root_ / "sub"));
  for (const auto& e : fs::directory_iterator(root_)) EXPECT_TRUE(e.is_directory()) << e.path();
  // Dropping a task writes nothing: still allowed.
  EXPECT_EQ(Run("sp_dropwebtask 'kept'"), "status 0\ndone E0");
  EXPECT_EQ(Run("sp_dropwebtask 'later'").substr(0, 9), "msg 16802");
}

TEST_F(WebTaskTest, ScheduledTasksRunOnDemandAndSurviveARestart) {
  ASSERT_EQ(Run(kSetup).find("error"), std::string::npos);
  EXPECT_EQ(Run("sp_makewebtask @outputfile='later.htm', @query='select name from staff where id "
                "= 1', @lastupdated=0, @whentype=2, @targetdate=20300101, @procname='daily'"),
            "msg 50110/0/1: Web task 'daily' is stored, but tdslite does not schedule web tasks: "
            "run it with sp_runwebtask.\nstatus 0\ndone E0");
  EXPECT_FALSE(fs::exists(root_ / "later.htm"));
  EXPECT_EQ(Run("sp_makewebtask @outputfile='weekly.htm', @query='select 1', @whentype=3, "
                "@targetdate=20240131, @targettime=134500, @dayflags=42, @numunits=2, @unittype=2, "
                "@procname='weekly'")
                .substr(0, 9),
            "msg 50110");
  EXPECT_FALSE(fs::exists(root_ / "weekly.htm"));
  // On request only: stored quietly. Now and on request: written at once.
  EXPECT_EQ(Run("sp_makewebtask @outputfile='asked.htm', @query='select 1', @whentype=5, "
                "@procname='asked'"),
            "status 0\ndone E0");
  EXPECT_FALSE(fs::exists(root_ / "asked.htm"));
  EXPECT_EQ(Run("sp_makewebtask @outputfile='both.htm', @query='select 1', @whentype=9, "
                "@procname='both'"),
            "status 0\ndone E0");
  EXPECT_TRUE(fs::exists(root_ / "both.htm"));
  // Now and every day: written at once, and the later runs are not scheduled.
  EXPECT_EQ(Run("sp_makewebtask @outputfile='nowday.htm', @query='select 1', @whentype=7, "
                "@dayflags=127, @procname='nowday'")
                .substr(0, 9),
            "msg 50110");
  EXPECT_TRUE(fs::exists(root_ / "nowday.htm"));
  EXPECT_EQ(Run("sp_makewebtask @outputfile='other.htm', @query='select 1', @procname='DAILY'"),
            "msg 2714/16/6: There is already an object named 'DAILY' in the database.\n"
            "done 0 error\nstatus 1\ndone E0");

  Reopen();
  EXPECT_EQ(Run("sp_runwebtask @procname='daily'"), "status 0\ndone E0");
  EXPECT_EQ(Read(root_ / "later.htm"), Expected("later.htm", Read(root_ / "later.htm")));
  // Rerunning picks up changed data; by output file, and by both keys.
  ASSERT_EQ(Run("update staff set name = 'Anna' where id = 1"), "done C5 count=1");
  EXPECT_EQ(Run("sp_runwebtask @outputfile='later.htm'"), "status 0\ndone E0");
  EXPECT_NE(Read(root_ / "later.htm").find("Anna"), std::string::npos);
  fs::remove(root_ / "later.htm");
  EXPECT_EQ(Run("sp_runwebtask 'daily', 'later.htm'"), "status 0\ndone E0");
  EXPECT_TRUE(fs::exists(root_ / "later.htm"));
  EXPECT_EQ(Run("sp_runwebtask @procname='daily', @outputfile='weekly.htm'").substr(0, 9),
            "msg 16815");
  // Dropping by output file, then by name.
  EXPECT_EQ(Run("sp_dropwebtask @outputfile='weekly.htm'"), "status 0\ndone E0");
  EXPECT_EQ(Run("sp_dropwebtask @procname='daily'"), "status 0\ndone E0");
  EXPECT_EQ(Run("sp_runwebtask @procname='daily'").substr(0, 9), "msg 16815");
  Reopen();
  EXPECT_EQ(Run("sp_runwebtask @procname='weekly'").substr(0, 9), "msg 16815");
  EXPECT_EQ(Run("sp_runwebtask @procname='both'"), "status 0\ndone E0");
  EXPECT_EQ(Run("sp_runwebtask @procname='asked'"), "status 0\ndone E0");
  EXPECT_TRUE(fs::exists(root_ / "asked.htm"));
  // The task table is not a table of the database as clients see it.
  EXPECT_EQ(Run("select * from __tdslite_web_tasks").substr(0, 8), "msg 208/");
}

// Without @procname the task gets SQL Server's kind of name:
// web_<yyyymmddhhmmss><spid><4 digits>.
TEST_F(WebTaskTest, GeneratedTaskName) {
  std::string out = Run("sp_makewebtask @outputfile='gen.htm', @query='select 1', @whentype=4");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("Web task '(web_20\\d{12}51\\d{4})'"))) << out;
  EXPECT_EQ(Run("sp_runwebtask @procname='" + m[1].str() + "'"), "status 0\ndone E0");
  EXPECT_TRUE(fs::exists(root_ / "gen.htm"));
}

// A task whose query runs itself stops at SQL Server's nesting limit
// instead of exhausting the stack.
TEST_F(WebTaskTest, SelfRunningTaskStopsAtTheNestingLimit) {
  EXPECT_EQ(Run("sp_makewebtask @outputfile='loop.htm', @query='exec sp_runwebtask "
                "@procname=''loop''', @whentype=5, @procname='loop'"),
            "status 0\ndone E0");
  EXPECT_EQ(Run("sp_runwebtask 'loop'"),
            "msg 16805/11/1: SQL Web Assistant: Could not execute the SQL statement.\n"
            "done 0 error\nstatus 16805\ndone E0");
  EXPECT_FALSE(fs::exists(root_ / "loop.htm"));
}

}  // namespace
}  // namespace tdslite
