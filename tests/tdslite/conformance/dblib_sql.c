/* db-lib against the real tdslite, as the package uses it: results, row
 * counts, column metadata, dbconvert, byte-exact UTF-8 text, errors through
 * the handlers, and dbcancel mid-result.
 * Usage: dblib_sql PORT 70|74 */
#include "dblib_check.h"

/* Runs a batch and drains every result; answers the last dbcount and
 * whether every dbresults succeeded. */
static int run(DBPROCESS* dbproc, const char* sql, DBINT* count) {
  RETCODE rc;
  int ok;
  dbcmd(dbproc, sql);
  ok = dbsqlexec(dbproc) == SUCCEED;
  while ((rc = dbresults(dbproc)) != NO_MORE_RESULTS) {
    if (rc == FAIL) {
      ok = 0;
      if (dbdead(dbproc)) break; /* FAIL forever once the connection is gone */
      continue;
    }
    while (dbnextrow(dbproc) == REG_ROW) {
    }
    if (count) *count = DBCOUNT(dbproc);
  }
  return ok;
}

static void test_counts(DBPROCESS* dbproc) {
  DBINT count = -2;
  CHECK(run(dbproc, "create table t1 (id int not null primary key, v varchar(10) null)", &count));
  CHECK_INT(count, -1);
  CHECK(run(dbproc, "insert into t1 values (1, 'a'), (2, 'b'), (3, 'c')", &count));
  CHECK_INT(count, 3);
  CHECK(run(dbproc, "update t1 set v = 'x' where id >= 2", &count));
  CHECK_INT(count, 2);
  CHECK(run(dbproc, "select * from t1", &count));
  CHECK_INT(count, 3);
  CHECK(run(dbproc, "delete from t1 where id = 3", &count));
  CHECK_INT(count, 1);

  /* Two result sets from one batch without separators. */
  CHECK_FIRST_ROW(dbproc, "select 1 select 'two'");
  CHECK_STR(column_text(dbproc, 1), "1");
  CHECK_INT(dbnextrow(dbproc), NO_MORE_ROWS);
  CHECK_INT(dbresults(dbproc), SUCCEED);
  CHECK_INT(dbcoltype(dbproc, 1), SYBCHAR);
  CHECK_INT(dbnextrow(dbproc), REG_ROW);
  CHECK_STR(column_text(dbproc, 1), "two");
  CHECK_INT(dbnextrow(dbproc), NO_MORE_ROWS);
  CHECK_INT(dbresults(dbproc), NO_MORE_RESULTS);
}

static void test_types(DBPROCESS* dbproc, int version) {
  static const char* kValues[] = {"255",
                                  "-9223372036854775808",
                                  "-922337203685477.5808",
                                  "Feb 29 2024  1:45:07:123PM",
                                  "-123456.789",
                                  "1"};
  DBCOL info;
  int i;
  CHECK(run(dbproc,
            "create table tt (a tinyint not null, b bigint null, m money null, d datetime null,"
            " n numeric(12,3) null, f bit null, c char(4) null, v varchar(20) null,"
            " nv nvarchar(20) null, tx text null, ntx ntext null, bn varbinary(8) null)",
            NULL));
  CHECK(run(dbproc,
            "insert into tt values (255, -9223372036854775808, -922337203685477.5808,"
            " '2024-02-29 13:45:07.123', -123456.789, 1, 'ab', 'gr\xc3\xbc\xc3\x9f \xe2\x82\xac ',"
            " N'\xe6\x97\xa5\xe6\x9c\xac', 'caf\xc3\xa9', N'\xe2\x82\xac\xe6\x97\xa5', 0x00ff00)",
            NULL));
  CHECK(run(dbproc, "insert into tt (a) values (0)", NULL));
  dbcmd(dbproc, "select * from tt order by a desc");
  CHECK_INT(dbsqlexec(dbproc), SUCCEED);
  CHECK_INT(dbresults(dbproc), SUCCEED);
  CHECK_INT(dbnumcols(dbproc), 12);
  CHECK_INT(dbcoltype(dbproc, 1), SYBINT1);
  CHECK_INT(dbcoltype(dbproc, 2), version == 70 ? SYBDECIMAL : SYBINT8);
  CHECK_INT(dbcoltype(dbproc, 3), SYBMONEY);
  CHECK_INT(dbcoltype(dbproc, 4), SYBDATETIME);
  CHECK_INT(dbcoltype(dbproc, 5), SYBNUMERIC);
  CHECK_INT(dbcoltype(dbproc, 6), SYBBIT);
  CHECK_INT(dbcoltype(dbproc, 7), SYBCHAR);
  CHECK_INT(dbcoltype(dbproc, 10), SYBTEXT);
  CHECK_INT(dbcoltype(dbproc, 12), SYBBINARY);
  CHECK_INT(dbcollen(dbproc, 7), 16); /* char(4), UTF-8 client */
  CHECK_INT(dbcollen(dbproc, 9), 80); /* nvarchar(20) */
  CHECK_INT(dbcollen(dbproc, 12), 8);
  memset(&info, 0, sizeof info);
  info.SizeOfStruct = sizeof info;
  CHECK_INT(dbcolinfo(dbproc, CI_REGULAR, 5, 0, &info), SUCCEED);
  CHECK_STR(info.Name, "n");
  CHECK_INT(info.Precision, 12);
  CHECK_INT(info.Scale, 3);
  CHECK_INT(info.Null, TRUE);
  CHECK_INT(dbcolinfo(dbproc, CI_REGULAR, 1, 0, &info), SUCCEED);
  CHECK_INT(info.Null, FALSE);

  CHECK_INT(dbnextrow(dbproc), REG_ROW);
  for (i = 0; i < 5; ++i) CHECK_STR(column_text(dbproc, i + 1), kValues[i]);
  CHECK_STR(column_text(dbproc, 6), kValues[5]);
  CHECK_INT(dbdatlen(dbproc, 7), 4); /* char(4) arrives padded */
  CHECK(dbdata(dbproc, 7) && memcmp(dbdata(dbproc, 7), "ab  ", 4) == 0);
  CHECK_INT(dbdatlen(dbproc, 8), 11);
  CHECK(dbdata(dbproc, 8) &&
        memcmp(dbdata(dbproc, 8), "gr\xc3\xbc\xc3\x9f \xe2\x82\xac ", 11) == 0);
  CHECK_INT(dbdatlen(dbproc, 9), 6);
  CHECK(dbdata(dbproc, 9) && memcmp(dbdata(dbproc, 9), "\xe6\x97\xa5\xe6\x9c\xac", 6) == 0);
  CHECK_INT(dbdatlen(dbproc, 10), 5);
  CHECK(dbdata(dbproc, 10) && memcmp(dbdata(dbproc, 10), "caf\xc3\xa9", 5) == 0);
  CHECK_INT(dbdatlen(dbproc, 11), 6);
  CHECK(dbdata(dbproc, 11) && memcmp(dbdata(dbproc, 11), "\xe2\x82\xac\xe6\x97\xa5", 6) == 0);
  CHECK_INT(dbdatlen(dbproc, 12), 3);
  CHECK(dbdata(dbproc, 12) && memcmp(dbdata(dbproc, 12), "\x00\xff\x00", 3) == 0);

  CHECK_INT(dbnextrow(dbproc), REG_ROW);
  for (i = 2; i <= 12; ++i) {
    CHECK(dbdata(dbproc, i) == NULL);
    CHECK_INT(dbdatlen(dbproc, i), 0);
  }
  CHECK_INT(dbnextrow(dbproc), NO_MORE_ROWS);
  CHECK_INT(dbcount(dbproc), 2);
  CHECK_INT(dbresults(dbproc), NO_MORE_RESULTS);
}

static void test_errors(DBPROCESS* dbproc) {
  /* `fails`: a dbsqlexec or dbresults answers FAIL. A runtime error inside
   * a select comes after its column metadata, so that result succeeds. */
  static const struct {
    const char* sql;
    int number;
    int severity;
    int fails;
  } kCases[] = {
      {"select * from nosuch", 208, 16, 1},
      {"select 1 +", 102, 15, 1},
      {"select * from where", 156, 15, 1},
      {"selec 1", 2812, 16, 1}, /* a leading name is a procedure call */
      {"select 1/0", 8134, 16, 0},
      {"insert into t1 values (1, 'dup')", 2627, 14, 1},
      {"raiserror('boom', 16, 1)", 50000, 16, 1},
  };
  size_t i;
  for (i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    int failed;
    g_last_error_msgno = -1;
    g_last_dberr = -1;
    failed = !run(dbproc, kCases[i].sql, NULL);
    if (failed != kCases[i].fails || g_last_error_msgno != kCases[i].number ||
        g_last_error_severity != kCases[i].severity) {
      fprintf(stderr, "%s: failed=%d msg %d severity %d, expected %d/%d/%d\n", kCases[i].sql,
              failed, g_last_error_msgno, g_last_error_severity, kCases[i].fails, kCases[i].number,
              kCases[i].severity);
      ++g_failures;
    }
    CHECK_INT(g_last_dberr, 20018);
  }
  /* PRINT reaches the message handler with severity 0 and no failure. */
  g_last_msgno = -1;
  CHECK(run(dbproc, "print 'hello'", NULL));
  CHECK_INT(g_last_msgno, 0);
  CHECK_STR(g_last_msgtext, "hello");
}

static void test_cancel(DBPROCESS* dbproc) {
  int i;
  DBINT count = 0;
  CHECK(run(dbproc, "create table big (id int not null, v varchar(20) null)", NULL));
  CHECK(run(dbproc, "insert into big values (1, 'some text')", NULL));
  for (i = 0; i < 16; ++i) {
    CHECK(run(dbproc, "insert into big select id + (select max(id) from big), v from big", NULL));
  }
  CHECK(run(dbproc, "select count(*) from big", &count));
  dbcmd(dbproc, "select * from big");
  CHECK_INT(dbsqlexec(dbproc), SUCCEED);
  CHECK_INT(dbresults(dbproc), SUCCEED);
  for (i = 0; i < 5; ++i) CHECK_INT(dbnextrow(dbproc), REG_ROW);
  CHECK_INT(dbcancel(dbproc), SUCCEED);
  CHECK(!dbdead(dbproc));
  CHECK_FIRST_ROW(dbproc, "select count(*) from big where id <= 10");
  CHECK_STR(column_text(dbproc, 1), "10");
  CHECK_INT(dbnextrow(dbproc), NO_MORE_ROWS);
  CHECK_INT(dbresults(dbproc), NO_MORE_RESULTS);
}

/* db-lib logins start with TEXTSIZE 4096, as SQL Server's do; `set
 * textsize` changes how much of a text value a select returns. */
static void test_textsize(DBPROCESS* dbproc) {
  static char sql[6000];
  static const struct {
    const char* set;
    int text_bytes;
    int ntext_bytes; /* UTF-8 bytes of 'e' characters: one each */
  } kCases[] = {{NULL, 4096, 2048}, {"set textsize 101", 101, 50}, {"set textsize 0", 4096, 2048}};
  size_t i;
  memcpy(sql, "insert into txt values ('", 25);
  memset(sql + 25, 'a', 5000);
  strcpy(sql + 5025, "', N'");
  memset(sql + 5030, 'e', 600);
  strcpy(sql + 5630, "')");
  CHECK(run(dbproc, "create table txt (t text null, n ntext null)", NULL));
  CHECK(run(dbproc, sql, NULL));
  for (i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    if (kCases[i].set) CHECK(run(dbproc, kCases[i].set, NULL));
    CHECK_FIRST_ROW(dbproc, "select t, n from txt");
    CHECK_INT(dbdatlen(dbproc, 1), kCases[i].text_bytes);
    CHECK_INT(dbdatlen(dbproc, 2), kCases[i].ntext_bytes < 600 ? kCases[i].ntext_bytes : 600);
    while (dbnextrow(dbproc) == REG_ROW) {
    }
    while (dbresults(dbproc) == SUCCEED) {
    }
  }
}

/* A stored procedure called by RPC (dbrpcinit) and from a batch: its rows,
 * its return status, its output parameters, and its errors naming it. */
static void test_procedures(DBPROCESS* dbproc) {
  DBINT a = 20, r = 0;
  char name[32] = "";
  CHECK(run(dbproc, "drop procedure if exists p_rpc", NULL));
  CHECK(run(dbproc,
            "create procedure p_rpc @a int, @r int output, @s varchar(20) output as begin\n"
            "select @a + 1 as n; set @r = @a * 2; set @s = 'got ' + cast(@a as varchar(9));\n"
            "return 7 end",
            NULL));
  CHECK_INT(dbrpcinit(dbproc, "p_rpc", 0), SUCCEED);
  CHECK_INT(dbrpcparam(dbproc, "@a", 0, SYBINT4, -1, -1, (BYTE*)&a), SUCCEED);
  CHECK_INT(dbrpcparam(dbproc, "@r", DBRPCRETURN, SYBINT4, -1, -1, (BYTE*)&r), SUCCEED);
  CHECK_INT(dbrpcparam(dbproc, "@s", DBRPCRETURN, SYBVARCHAR, 20, 0, (BYTE*)name), SUCCEED);
  CHECK_INT(dbrpcsend(dbproc), SUCCEED);
  CHECK_INT(dbsqlok(dbproc), SUCCEED);
  CHECK_INT(dbresults(dbproc), SUCCEED);
  CHECK_INT(dbnextrow(dbproc), REG_ROW);
  CHECK_INT(*(DBINT*)dbdata(dbproc, 1), 21);
  CHECK_INT(dbnextrow(dbproc), NO_MORE_ROWS);
  while (dbresults(dbproc) == SUCCEED) {
  }
  CHECK_INT(dbhasretstat(dbproc), TRUE);
  CHECK_INT(dbretstatus(dbproc), 7);
  CHECK_INT(dbnumrets(dbproc), 2);
  CHECK_STR(dbretname(dbproc, 1), "@r");
  CHECK_INT(dbrettype(dbproc, 1), SYBINT4);
  CHECK_INT(*(DBINT*)dbretdata(dbproc, 1), 40);
  CHECK_INT(dbretlen(dbproc, 2), 6);
  CHECK(dbretdata(dbproc, 2) != NULL && memcmp(dbretdata(dbproc, 2), "got 20", 6) == 0);
  /* From a batch: the status too, and an error inside names the procedure
   * and its line. */
  CHECK(run(dbproc, "declare @x int, @y varchar(20); exec p_rpc 1, @x output, @y output", NULL));
  CHECK_INT(dbretstatus(dbproc), 7);
  CHECK(run(dbproc, "create procedure p_fail as\nselect 1 / 0", NULL) ||
        g_last_error_msgno == 2714);
  g_last_msgproc[0] = '\0';
  run(dbproc, "exec p_fail", NULL);
  CHECK_INT(g_last_error_msgno, 8134);
  CHECK_STR(g_last_msgproc, "p_fail");
  CHECK_INT(g_last_msgline, 2);
  /* An unknown procedure by RPC is an error, and the connection goes on. */
  g_last_error_msgno = -1;
  CHECK_INT(dbrpcinit(dbproc, "p_nosuch", 0), SUCCEED);
  CHECK_INT(dbrpcsend(dbproc), SUCCEED);
  dbsqlok(dbproc);
  while (dbresults(dbproc) != NO_MORE_RESULTS) {
  }
  CHECK_INT(g_last_error_msgno, 2812);
  CHECK(run(dbproc, "select 1", NULL));
}

int main(int argc, char** argv) {
  int port, version;
  DBPROCESS* dbproc;
  start(argc, argv, "dblib_sql PORT 70|74", &port, &version);
  dbproc = connect_or_exit(port, version);
  test_counts(dbproc);
  test_types(dbproc, version);
  test_errors(dbproc);
  test_cancel(dbproc);
  test_textsize(dbproc);
  test_procedures(dbproc);
  dbclose(dbproc);
  dbexit();
  if (g_failures) fprintf(stderr, "%d check(s) failed\n", g_failures);
  return g_failures ? 1 : 0;
}
