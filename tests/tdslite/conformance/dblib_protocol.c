/* db-lib against tdslite_fake (the protocol layer over a scripted engine):
 * metadata, values and NULLs of every type, DONE counts and error bits,
 * messages, return status, database change, cancel mid-result and a
 * refused login, at the TDS version given on the command line.
 * Usage: dblib_protocol PORT 70|74 */
#include "dblib_check.h"

/* The column's bytes as a string (character data in the client charset). */
static const char* raw_text(DBPROCESS* dbproc, int col) {
  static char buffer[1024];
  DBINT len = dbdatlen(dbproc, col);
  if (dbdata(dbproc, col) == NULL) return "NULL";
  if (len >= (DBINT)sizeof buffer) return "(too long)";
  memcpy(buffer, dbdata(dbproc, col), (size_t)len);
  buffer[len] = '\0';
  return buffer;
}

static void test_types(DBPROCESS* dbproc, int version) {
  /* type, collen (UTF-8 client: character columns scaled x4 per byte,
   * or x2 per UCS-2 byte), text of the first row. */
  static const struct {
    const char* name;
    int type70, type74;
    int len70, len74;
    const char* text;
  } kColumns[] = {
      {"c_tinyint", 48, 48, 1, 1, "255"},
      {"c_smallint", 52, 52, 2, 2, "-32768"},
      {"c_int", 56, 56, 4, 4, "-2147483648"},
      /* TDS 7.0 has no bigint: it travels as decimal(19,0). */
      {"c_bigint", 106, 127, 9, 8, "-9223372036854775808"},
      {"c_bit", 50, 50, 1, 1, "1"},
      {"c_real", 59, 59, 4, 4, "1.5"},
      {"c_float", 62, 62, 8, 8, "-2.2500000000000002e+100"},
      {"c_smallmoney", 122, 122, 4, 4, "-214748.3648"},
      {"c_money", 60, 60, 8, 8, "-1234.5678"},
      {"c_smalldatetime", 58, 58, 4, 4, "Jun  6 2079 11:59:00:000PM"},
      {"c_datetime", 61, 61, 8, 8, "Feb 29 2024  1:45:07:123PM"},
      {"c_decimal", 106, 106, 17, 17, "9999999999999999999999999999.9999999999"},
      {"c_numeric", 108, 108, 9, 9, "-123456.789"},
      {"c_char", 47, 47, 40, 40, "ab        "},
      {"c_varchar", 47, 47, 80, 80, "gr\xc3\xbc\xc3\x9f \xe2\x82\xac "},
      {"c_nchar", 47, 47, 20, 20, "\xc3\xa9t\xc3\xa9 "},
      {"c_nvarchar", 47, 47, 80, 80, "\xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80"},
      {"c_binary", 45, 45, 4, 4, "0001fe00"},
      {"c_varbinary", 45, 45, 10, 10, "0000"},
      {"c_text", 35, 35, -1, -1, "caf\xc3\xa9 \xe2\x82\xac text"},
      {"c_ntext", 35, 35, -1, -1, "\xe6\x97\xa5\xe6\x9c\xac ntext"},
      {"c_image", 34, 34, -1, -1, "00ff00"},
      {"", 56, 56, 4, 4, "42"},
  };
  const int n = (int)(sizeof kColumns / sizeof kColumns[0]);
  int i;
  dbcmd(dbproc, "types");
  CHECK_INT(dbsqlexec(dbproc), SUCCEED);
  CHECK_INT(dbresults(dbproc), SUCCEED);
  CHECK_INT(dbnumcols(dbproc), n);
  for (i = 0; i < n; ++i) {
    int col = i + 1;
    DBCOL info;
    CHECK_STR(dbcolname(dbproc, col), kColumns[i].name);
    CHECK_INT(dbcoltype(dbproc, col), version == 70 ? kColumns[i].type70 : kColumns[i].type74);
    if (kColumns[i].len70 >= 0) {
      CHECK_INT(dbcollen(dbproc, col), version == 70 ? kColumns[i].len70 : kColumns[i].len74);
    }
    memset(&info, 0, sizeof info);
    info.SizeOfStruct = sizeof info;
    CHECK_INT(dbcolinfo(dbproc, CI_REGULAR, col, 0, &info), SUCCEED);
    CHECK_STR(info.Name, kColumns[i].name);
    CHECK_INT(info.Null, TRUE);
    if (strcmp(kColumns[i].name, "c_numeric") == 0) {
      CHECK_INT(info.Precision, 12);
      CHECK_INT(info.Scale, 3);
    }
  }
  CHECK_INT(dbnextrow(dbproc), REG_ROW);
  for (i = 0; i < n; ++i) {
    /* dbconvert drops trailing blanks: character data is compared raw. */
    const char* text = dbcoltype(dbproc, i + 1) == SYBCHAR || dbcoltype(dbproc, i + 1) == SYBTEXT
                           ? raw_text(dbproc, i + 1)
                           : column_text(dbproc, i + 1);
    if (strcmp(text, kColumns[i].text) != 0) {
      fprintf(stderr, "column %s: '%s', expected '%s'\n", kColumns[i].name, text, kColumns[i].text);
      ++g_failures;
    }
  }
  /* Character data arrives byte-exact in the client charset. */
  CHECK_INT(dbdatlen(dbproc, 15), 11);
  CHECK_INT(dbdatlen(dbproc, 18), 4);
  CHECK(memcmp(dbdata(dbproc, 18), "\x00\x01\xfe\x00", 4) == 0);
  CHECK_INT(dbnextrow(dbproc), REG_ROW);
  for (i = 0; i < n - 1; ++i) {
    CHECK(dbdata(dbproc, i + 1) == NULL);
    CHECK_INT(dbdatlen(dbproc, i + 1), 0);
  }
  CHECK_INT(dbnextrow(dbproc), NO_MORE_ROWS);
  CHECK_INT(dbcount(dbproc), 2);
  CHECK_INT(dbresults(dbproc), NO_MORE_RESULTS);
}

static void test_not_null(DBPROCESS* dbproc) {
  DBCOL info;
  dbcmd(dbproc, "notnull");
  CHECK_INT(dbsqlexec(dbproc), SUCCEED);
  CHECK_INT(dbresults(dbproc), SUCCEED);
  memset(&info, 0, sizeof info);
  info.SizeOfStruct = sizeof info;
  CHECK_INT(dbcolinfo(dbproc, CI_REGULAR, 3, 0, &info), SUCCEED);
  CHECK_INT(info.Null, FALSE);
  CHECK_INT(dbnextrow(dbproc), REG_ROW);
  CHECK_STR(column_text(dbproc, 9), "-1234.5678");
  CHECK_STR(column_text(dbproc, 11), "Feb 29 2024  1:45:07:123PM");
  CHECK_INT(dbnextrow(dbproc), NO_MORE_ROWS);
  CHECK_INT(dbresults(dbproc), NO_MORE_RESULTS);
}

static void test_multi(DBPROCESS* dbproc) {
  g_last_msgno = -1;
  g_last_dberr = -1;
  CHECK_FIRST_ROW(dbproc, "multi");
  CHECK_INT(dbnextrow(dbproc), NO_MORE_ROWS);
  CHECK_INT(dbcount(dbproc), 1);
  CHECK_INT(dbresults(dbproc), SUCCEED); /* the PRINT */
  CHECK_INT(g_last_msgno, 0);
  CHECK_STR(g_last_msgtext, "hello");
  CHECK_INT(dbcount(dbproc), -1);
  CHECK_INT(dbresults(dbproc), SUCCEED); /* the insert */
  CHECK_INT(dbcount(dbproc), 3);
  CHECK_INT(dbresults(dbproc), FAIL); /* divide by zero */
  CHECK_INT(g_last_msgno, 8134);
  CHECK_INT(g_last_msg_severity, 16);
  CHECK_INT(g_last_dberr, 20018);
  CHECK_INT(dbresults(dbproc), NO_MORE_RESULTS);
}

static void test_error_and_proc(DBPROCESS* dbproc) {
  dbcmd(dbproc, "error");
  CHECK_INT(dbsqlexec(dbproc), FAIL);
  CHECK_INT(g_last_msgno, 208);
  dbcancel(dbproc);

  CHECK_FIRST_ROW(dbproc, "proc");
  CHECK_STR(column_text(dbproc, 1), "7");
  CHECK_INT(dbnextrow(dbproc), NO_MORE_ROWS);
  while (dbresults(dbproc) == SUCCEED) {
  }
  CHECK_INT(dbhasretstat(dbproc), TRUE);
  CHECK_INT(dbretstatus(dbproc), 0);

  dbcmd(dbproc, "use otherdb");
  CHECK_INT(dbsqlexec(dbproc), SUCCEED);
  while (dbresults(dbproc) == SUCCEED) {
  }
  CHECK_STR(dbname(dbproc), "otherdb");
  CHECK_INT(g_last_msgno, 5701);
}

static void test_cancel(DBPROCESS* dbproc) {
  int i;
  dbcmd(dbproc, "rows 1000000");
  CHECK_INT(dbsqlexec(dbproc), SUCCEED);
  CHECK_INT(dbresults(dbproc), SUCCEED);
  for (i = 0; i < 10; ++i) CHECK_INT(dbnextrow(dbproc), REG_ROW);
  CHECK_INT(dbcancel(dbproc), SUCCEED);
  /* A small result read only partly, then cancelled after it was complete. */
  CHECK_FIRST_ROW(dbproc, "rows 3");
  CHECK_INT(dbcancel(dbproc), SUCCEED);
  /* Cancel with nothing pending: nothing is sent. */
  CHECK_INT(dbcancel(dbproc), SUCCEED);
  /* The connection goes on normally. */
  CHECK_FIRST_ROW(dbproc, "rows 2");
  CHECK_STR(column_text(dbproc, 2), "row 0");
  CHECK_INT(dbnextrow(dbproc), REG_ROW);
  CHECK_INT(dbnextrow(dbproc), NO_MORE_ROWS);
  CHECK_INT(dbcount(dbproc), 2);
  CHECK_INT(dbresults(dbproc), NO_MORE_RESULTS);
  CHECK(!dbdead(dbproc));
}

static void test_batch_text(DBPROCESS* dbproc) {
  /* A batch longer than a packet, with non-ASCII text, comes back whole. */
  static char sql[15001];
  size_t i;
  for (i = 0; i + 3 < sizeof sql - 1; i += 3) memcpy(sql + i, "\xc3\xa9x", 3);
  sql[i] = '\0';
  CHECK_FIRST_ROW(dbproc, sql);
  /* varchar(8000) holds the first 8000 characters. */
  CHECK_INT(dbdatlen(dbproc, 1), 8000 / 2 * 3);
  CHECK(memcmp(dbdata(dbproc, 1), sql, 12) == 0);
  while (dbnextrow(dbproc) == REG_ROW) {
  }
  CHECK_INT(dbresults(dbproc), NO_MORE_RESULTS);
}

int main(int argc, char** argv) {
  int port, version;
  DBPROCESS* dbproc;
  start(argc, argv, "dblib_protocol PORT 70|74", &port, &version);

  g_last_msgno = -1;
  dbproc = connect_to(port, version, "sa", "wrong");
  CHECK(dbproc == NULL);
  CHECK_INT(g_last_msgno, 18456);
  CHECK_INT(g_last_msg_severity, 14);
  CHECK_STR(g_last_msgtext, "Login failed for user 'sa'.");

  dbproc = connect_or_exit(port, version);
  CHECK(dbspid(dbproc) >= 51);
  CHECK_STR(dbname(dbproc), "master");
  test_types(dbproc, version);
  test_not_null(dbproc);
  test_multi(dbproc);
  test_error_and_proc(dbproc);
  test_cancel(dbproc);
  test_batch_text(dbproc);
  dbclose(dbproc);
  dbexit();
  if (g_failures) fprintf(stderr, "%d check(s) failed\n", g_failures);
  return g_failures ? 1 : 0;
}
