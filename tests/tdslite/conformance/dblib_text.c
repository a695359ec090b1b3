/* Text and image values through db-lib: text pointers and timestamps in
 * rows, dbwritetext/dbmoretext/dbsqlok on a second connection while the
 * first still has the row pending, refusals that leave the old value, and
 * SET TEXTSIZE.
 *
 * Usage: dblib_text PORT 70|74 [BIG-MiB]
 * With BIG-MiB only one image value of that many MiB is written and read
 * back (the memory test drives this mode). */
#include <stdint.h>

#include "dblib_check.h"

static int run(DBPROCESS* dbproc, const char* sql) {
  int ok;
  dbcmd(dbproc, sql);
  ok = dbsqlexec(dbproc) == SUCCEED;
  while (dbresults(dbproc) != NO_MORE_RESULTS) {
    while (dbnextrow(dbproc) != NO_MORE_ROWS) {
    }
  }
  return ok;
}

/* Deterministic bytes with binary zeros in them. */
static void fill(BYTE* p, DBINT n, unsigned seed) {
  DBINT i;
  uint32_t x = seed * 2654435761u + 1;
  for (i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    p[i] = (i % 7 == 0) ? 0 : (BYTE)(x >> 16);
  }
}

/* Selects `col` of row `id` on `reader` and leaves the row pending. */
static int select_pending(DBPROCESS* reader, const char* col, int id) {
  char sql[200];
  snprintf(sql, sizeof sql, "select %s, textptr(%s) from tx where id = %d", col, col, id);
  dbcmd(reader, sql);
  if (dbsqlexec(reader) != SUCCEED || dbresults(reader) != SUCCEED) return 0;
  return dbnextrow(reader) == REG_ROW;
}

static void finish(DBPROCESS* dbproc) {
  dbcancel(dbproc);
}

/* Writes n bytes with dbwritetext + dbmoretext pieces; answers dbsqlok's result. */
static RETCODE write_pieces(DBPROCESS* writer, const char* object, DBBINARY* ptr, DBBINARY* ts,
                            const BYTE* data, DBINT n, DBINT announced, DBINT piece) {
  DBINT at = 0;
  RETCODE rc;
  if (dbwritetext(writer, (char*)object, ptr, DBTXPLEN, ts, TRUE, announced, NULL) != SUCCEED)
    return FAIL;
  while (at < n) {
    DBINT k = n - at < piece ? n - at : piece;
    if (dbmoretext(writer, k, (BYTE*)data + at) != SUCCEED) return FAIL;
    at += k;
  }
  rc = dbsqlok(writer);
  while (dbresults(writer) != NO_MORE_RESULTS) {
  }
  return rc;
}

/* Reads the image of row `id` back (unlimited textsize) and compares. */
static void check_value(DBPROCESS* reader, const char* col, int id, const BYTE* data, DBINT n,
                        const char* what) {
  char sql[200];
  snprintf(sql, sizeof sql, "select %s from tx where id = %d", col, id);
  dbcmd(reader, sql);
  CHECK_INT(dbsqlexec(reader), SUCCEED);
  CHECK_INT(dbresults(reader), SUCCEED);
  CHECK_INT(dbnextrow(reader), REG_ROW);
  if (dbdatlen(reader, 1) != n || (n > 0 && memcmp(dbdata(reader, 1), data, (size_t)n) != 0)) {
    fprintf(stderr, "%s: value differs (length %d, expected %d)\n", what, (int)dbdatlen(reader, 1),
            (int)n);
    ++g_failures;
  }
  finish(reader);
}

static void test_round_trips(DBPROCESS* a, DBPROCESS* b, int with_big) {
  static const DBINT kSizes[] = {0, 1, 1300, 1 << 20, 64 << 20};
  size_t i;
  for (i = 0; i < sizeof kSizes / sizeof kSizes[0]; ++i) {
    DBINT n = kSizes[i];
    BYTE* data;
    DBBINARY ptr[DBTXPLEN], ts[DBTXTSLEN];
    char what[64];
    if (n > (1 << 20) && !with_big) continue;
    data = (BYTE*)malloc((size_t)n + 1);
    fill(data, n, (unsigned)i);
    snprintf(what, sizeof what, "image of %d bytes", (int)n);
    CHECK(select_pending(a, "i", 1));
    CHECK(dbtxptr(a, 1) != NULL && dbtxtimestamp(a, 1) != NULL);
    if (dbtxptr(a, 1) == NULL || dbtxtimestamp(a, 1) == NULL) {
      free(data);
      finish(a);
      continue;
    }
    /* textptr() in the same row names the same value. */
    CHECK_INT(dbdatlen(a, 2), DBTXPLEN);
    CHECK(memcmp(dbdata(a, 2), dbtxptr(a, 1), DBTXPLEN) == 0);
    memcpy(ptr, dbtxptr(a, 1), DBTXPLEN);
    memcpy(ts, dbtxtimestamp(a, 1), DBTXTSLEN);
    /* The write happens while `a` still has its row pending. */
    if (n == 0) {
      /* db-lib refuses to send an empty value; an update empties it. */
      CHECK(run(b, "update tx set i = 0x where id = 1"));
    } else if (n <= 1300) {
      CHECK_INT(dbwritetext(b, "tx.i", ptr, DBTXPLEN, ts, TRUE, n, data), SUCCEED);
      while (dbresults(b) != NO_MORE_RESULTS) {
      }
    } else {
      CHECK_INT(write_pieces(b, "tx.i", ptr, ts, data, n, n, 60000), SUCCEED);
    }
    finish(a);
    check_value(a, "i", 1, data, n, what);
    /* The old timestamp is stale now (unless the value did not change). */
    if (n > 0) {
      g_last_error_msgno = -1;
      CHECK_INT(dbwritetext(b, "tx.i", ptr, DBTXPLEN, ts, TRUE, 1, (BYTE*)"x"), FAIL);
      CHECK_INT(g_last_error_msgno, 7129);
      while (dbresults(b) != NO_MORE_RESULTS) {
      }
      check_value(a, "i", 1, data, n, "after a stale timestamp");
    }
    free(data);
  }
}

static void test_refusals(DBPROCESS* a, DBPROCESS* b, int port, int version) {
  static BYTE old[5000];
  DBBINARY ptr[DBTXPLEN], ts[DBTXTSLEN], bad[DBTXPLEN];
  DBPROCESS* c;
  fill(old, sizeof old, 42);
  CHECK(select_pending(a, "i", 2));
  memcpy(ptr, dbtxptr(a, 1), DBTXPLEN);
  memcpy(ts, dbtxtimestamp(a, 1), DBTXTSLEN);
  finish(a);
  CHECK_INT(dbwritetext(b, "tx.i", ptr, DBTXPLEN, ts, FALSE, sizeof old, old), SUCCEED);
  while (dbresults(b) != NO_MORE_RESULTS) {
  }
  CHECK(select_pending(a, "i", 2));
  memcpy(ts, dbtxtimestamp(a, 1), DBTXTSLEN);
  finish(a);

  /* A pointer naming no row, and one naming another column. */
  memcpy(bad, ptr, DBTXPLEN);
  bad[0] ^= 0x55;
  g_last_error_msgno = -1;
  CHECK_INT(dbwritetext(b, "tx.i", bad, DBTXPLEN, ts, TRUE, 1, (BYTE*)"x"), FAIL);
  CHECK_INT(g_last_error_msgno, 7123);
  while (dbresults(b) != NO_MORE_RESULTS) {
  }
  g_last_error_msgno = -1;
  CHECK_INT(dbwritetext(b, "tx.t", ptr, DBTXPLEN, ts, TRUE, 1, (BYTE*)"x"), FAIL);
  CHECK_INT(g_last_error_msgno, 7123);
  while (dbresults(b) != NO_MORE_RESULTS) {
  }
  check_value(a, "i", 2, old, sizeof old, "after bad pointers");

  /* Fewer bytes than announced: db-lib flushes the message at dbsqlok, the
   * server refuses it (the error may reach the client after dbsqlok). */
  c = connect_to(port, version, "sa", "");
  CHECK(c != NULL);
  if (c) {
    write_pieces(c, "tx.i", ptr, ts, old, 100, 200, 50);
    dbclose(c);
  }
  check_value(a, "i", 2, old, sizeof old, "after a short transfer");

  /* A client that goes away mid-transfer. */
  c = connect_to(port, version, "sa", "");
  CHECK(c != NULL);
  if (c) {
    CHECK_INT(dbwritetext(c, "tx.i", ptr, DBTXPLEN, ts, TRUE, 100000, NULL), SUCCEED);
    CHECK_INT(dbmoretext(c, 1000, old), SUCCEED);
    dbclose(c);
  }
  check_value(a, "i", 2, old, sizeof old, "after a disconnect mid-transfer");

  /* A NULL value has no text pointer. */
  CHECK(select_pending(a, "i", 3));
  CHECK(dbtxptr(a, 1) == NULL);
  CHECK_INT(dbdatlen(a, 2), 0);
  finish(a);
}

static void test_text_columns(DBPROCESS* a, DBPROCESS* b) {
  DBBINARY ptr[DBTXPLEN], ts[DBTXTSLEN];
  static const BYTE ucs2[] = {'h', 0, 0xE9, 0, 'x', 0};
  CHECK(select_pending(a, "t", 1));
  memcpy(ptr, dbtxptr(a, 1), DBTXPLEN);
  memcpy(ts, dbtxtimestamp(a, 1), DBTXTSLEN);
  finish(a);
  CHECK_INT(dbwritetext(b, "tx.t", ptr, DBTXPLEN, ts, TRUE, 11, (BYTE*)"hello world"), SUCCEED);
  while (dbresults(b) != NO_MORE_RESULTS) {
  }
  check_value(a, "t", 1, (const BYTE*)"hello world", 11, "text column");
  CHECK(select_pending(a, "n", 1));
  memcpy(ptr, dbtxptr(a, 1), DBTXPLEN);
  memcpy(ts, dbtxtimestamp(a, 1), DBTXTSLEN);
  finish(a);
  CHECK_INT(dbwritetext(b, "dbo.tx.n", ptr, DBTXPLEN, ts, TRUE, sizeof ucs2, (BYTE*)ucs2), SUCCEED);
  while (dbresults(b) != NO_MORE_RESULTS) {
  }
  dbcmd(a, "select datalength(n), convert(nvarchar(10), n) from tx where id = 1");
  CHECK_INT(dbsqlexec(a), SUCCEED);
  CHECK_INT(dbresults(a), SUCCEED);
  CHECK_INT(dbnextrow(a), REG_ROW);
  CHECK_STR(column_text(a, 1), "6");
  CHECK_STR(column_text(a, 2), "h\xc3\xa9x");
  finish(a);
}

static void test_textsize(DBPROCESS* a) {
  static BYTE data[5000];
  static const struct {
    const char* set;
    DBINT expected;
  } kCases[] = {
      {"set textsize 100", 100}, {"set textsize 0", 4096}, {"set textsize 2147483647", 5000}};
  size_t i;
  fill(data, sizeof data, 42);
  for (i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    CHECK(run(a, kCases[i].set));
    check_value(a, "i", 2, data, kCases[i].expected, kCases[i].set);
  }
}

int main(int argc, char** argv) {
  int port, version, big_mib = 0;
  DBPROCESS *a, *b;
  start(argc, argv, "dblib_text PORT 70|74 [BIG-MiB]", &port, &version);
  if (argc > 3) big_mib = atoi(argv[3]);
  a = connect_or_exit(port, version);
  b = connect_or_exit(port, version);
  CHECK(run(a, "set textsize 2147483647"));
  CHECK(run(a,
            "create table tx (id int not null primary key, i image null, t text null, "
            "n ntext null)"));
  CHECK(run(a, "insert into tx values (1, 0x, '', N'')"));
  CHECK(run(a, "insert into tx values (2, 0x00, 'x', N'x')"));
  CHECK(run(a, "insert into tx values (3, null, null, null)"));
  if (big_mib > 0) {
    DBINT n = (DBINT)big_mib << 20;
    BYTE* data = (BYTE*)malloc((size_t)n);
    DBBINARY ptr[DBTXPLEN], ts[DBTXTSLEN];
    fill(data, n, 7);
    CHECK(select_pending(a, "i", 1));
    memcpy(ptr, dbtxptr(a, 1), DBTXPLEN);
    memcpy(ts, dbtxtimestamp(a, 1), DBTXTSLEN);
    finish(a);
    CHECK_INT(write_pieces(b, "tx.i", ptr, ts, data, n, n, 1 << 20), SUCCEED);
    check_value(a, "i", 1, data, n, "big image");
    free(data);
  } else {
    test_round_trips(a, b, 1);
    test_refusals(a, b, port, version);
    test_text_columns(a, b);
    test_textsize(a);
  }
  dbclose(a);
  dbclose(b);
  dbexit();
  if (g_failures) fprintf(stderr, "%d failures\n", g_failures);
  return g_failures ? 1 : 0;
}
