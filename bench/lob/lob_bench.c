/* The plain DB-Library side of the large-object benchmark: the same text
 * transfers the package makes, without an interpreter, with a piece size of
 * the caller's choice.
 *
 *   lob_bench SERVER setup              create lobbench (id int, img image)
 *                                       with one row whose value is 0x00
 *   lob_bench SERVER write FILE PIECE   the file into that value: dbwritetext
 *                                       then dbmoretext pieces; prints seconds
 *   lob_bench SERVER read FILE PIECE    the value into the file: dbreadtext
 *                                       pieces; prints seconds
 *
 * Logs in as bench/bench with TDS 7.0 and UTF-8, like the package. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "bench_c.h"

static DBPROCESS* Open(LOGINREC* login, const char* server) {
  DBPROCESS* dbproc = dbopen(login, server);
  if (dbproc == NULL) {
    fprintf(stderr, "lob_bench: cannot log in to %s\n", server);
    exit(1);
  }
  return dbproc;
}

/* The file into the value, written through a second connection while the
 * select's row is pending on the first, as the package does. */
static int Write(DBPROCESS* select, DBPROCESS* update, const char* name, size_t piece) {
  FILE* file = fopen(name, "rb");
  struct stat status;
  if (file == NULL || fstat(fileno(file), &status) != 0 || status.st_size <= 0 ||
      status.st_size > 2147483647) {
    fprintf(stderr, "lob_bench: cannot use %s\n", name);
    return 0;
  }
  unsigned char* buffer = malloc(piece);
  int ok = buffer != NULL && dbcmd(select, "select img from lobbench where id = 1") == SUCCEED &&
           dbsqlexec(select) == SUCCEED && dbresults(select) == SUCCEED &&
           dbnextrow(select) == REG_ROW && dbdata(select, 1) != NULL;
  unsigned char pointer[DBTXPLEN], timestamp[DBTXTSLEN];
  if (ok) {
    memcpy(pointer, dbtxptr(select, 1), DBTXPLEN);
    memcpy(timestamp, dbtxtimestamp(select, 1), DBTXTSLEN);
    const DBINT size = (DBINT)status.st_size;
    ok = dbwritetext(update, "lobbench.img", pointer, DBTXPLEN, timestamp, FALSE, size, NULL) ==
         SUCCEED;
    size_t got;
    while (ok && (got = fread(buffer, 1, piece, file)) > 0) {
      ok = dbmoretext(update, (DBINT)got, buffer) == SUCCEED;
    }
    ok = ok && dbsqlok(update) == SUCCEED;
    while (ok && dbresults(update) == SUCCEED) {
    }
  }
  dbcancel(select);
  free(buffer);
  fclose(file);
  return ok;
}

static int Read(DBPROCESS* dbproc, const char* name, size_t piece) {
  FILE* file = fopen(name, "wb");
  unsigned char* buffer = malloc(piece);
  int ok = file != NULL && buffer != NULL && BenchRun(dbproc, "set textsize 2147483647") &&
           dbcmd(dbproc, "select img from lobbench where id = 1") == SUCCEED &&
           dbsqlexec(dbproc) == SUCCEED && dbresults(dbproc) == SUCCEED;
  /* The value is known to be an image and not NULL: dbreadtext is safe. */
  STATUS got;
  while (ok && (got = dbreadtext(dbproc, buffer, (DBINT)piece)) > 0) {
    ok = fwrite(buffer, 1, (size_t)got, file) == (size_t)got;
  }
  dbcancel(dbproc);
  free(buffer);
  if (file != NULL && fclose(file) != 0) ok = 0;
  return ok;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: lob_bench SERVER setup | write FILE PIECE | read FILE PIECE\n");
    return 2;
  }
  if (!BenchInit()) return 1;
  LOGINREC* login = BenchLogin();
  DBPROCESS* dbproc = Open(login, argv[1]);

  int ok = 0;
  if (strcmp(argv[2], "setup") == 0) {
    ok = BenchRun(dbproc, "create table lobbench (id int, img image null)") &&
         BenchRun(dbproc, "insert into lobbench values (1, 0x00)");
  } else if (argc == 5 && (strcmp(argv[2], "write") == 0 || strcmp(argv[2], "read") == 0)) {
    const size_t piece = (size_t)strtoul(argv[4], NULL, 10);
    if (piece == 0) return 2;
    const double start = BenchNow();
    if (strcmp(argv[2], "write") == 0) {
      DBPROCESS* second = Open(login, argv[1]);
      ok = Write(dbproc, second, argv[3], piece);
      dbclose(second);
    } else {
      ok = Read(dbproc, argv[3], piece);
    }
    if (ok) printf("%.3f\n", BenchNow() - start);
  }
  dbloginfree(login);
  dbexit();
  return ok ? 0 : 1;
}
