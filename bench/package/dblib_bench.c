/* The plain DB-Library side of the package benchmark: what a C program
 * pays for the same work, without an interpreter.
 *
 *   dblib_bench SERVER fill        create and fill the table b (100,000 rows)
 *   dblib_bench SERVER select      fetch every row of b, each value converted
 *                                  to text as the package does; prints seconds
 *   dblib_bench SERVER one N       N round trips of "select 1", value
 *                                  converted; prints seconds
 *   dblib_bench SERVER wide N      fetch every row of wN (100,000 values in
 *                                  N = 5, 16 or 50 columns), each value
 *                                  converted; prints seconds
 *
 * Logs in as bench/bench with TDS 7.0 and UTF-8, like the package. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench_c.h"

/* Reads every row of the current statement, converting each value to text
 * into one buffer; answers the number of values converted. */
static long ConvertAll(DBPROCESS* dbproc) {
  static char text[32768];
  long values = 0;
  while (dbresults(dbproc) != NO_MORE_RESULTS) {
    const int columns = dbnumcols(dbproc);
    while (dbnextrow(dbproc) != NO_MORE_ROWS) {
      for (int j = 1; j <= columns; ++j) {
        BYTE* data = dbdata(dbproc, j);
        const DBINT length = dbdatlen(dbproc, j);
        if (data != NULL && length > 0) {
          const DBINT n =
              dbconvert(dbproc, dbcoltype(dbproc, j), data, length, SYBCHAR, (BYTE*)text, 64);
          if (n >= 0) text[n] = '\0';
        }
        ++values;
      }
    }
  }
  return values;
}

/* The wide tables: wN has N columns (odd ones int, even ones varchar) and
 * 100,000 / N rows, numbered from 0 in n. */
static const int kWidths[] = {5, 16, 50};

static int FillWide(DBPROCESS* dbproc, int width) {
  static char sql[65536];
  int at = snprintf(sql, sizeof sql, "create table w%d (", width);
  for (int j = 1; j <= width; ++j) {
    at += snprintf(sql + at, sizeof sql - (size_t)at, "%sc%d %s", j > 1 ? ", " : "", j,
                   j % 2 == 1 ? "int" : "varchar(20)");
  }
  snprintf(sql + at, sizeof sql - (size_t)at, ")");
  if (!BenchRun(dbproc, sql)) return 0;
  const char* n = "(a.n + 10*b2.n + 100*c.n + 1000*e.n + 10000*f.n)";
  at = snprintf(sql, sizeof sql, "insert into w%d select ", width);
  for (int j = 1; j <= width; ++j) {
    if (j % 2 == 1) {
      at += snprintf(sql + at, sizeof sql - (size_t)at, "%s%s * 100 + %d", j > 1 ? ", " : "", n, j);
    } else {
      at += snprintf(sql + at, sizeof sql - (size_t)at, "%s'v%d.' + cast(%s as varchar(10))",
                     j > 1 ? ", " : "", j, n);
    }
  }
  snprintf(sql + at, sizeof sql - (size_t)at, " from d a, d b2, d c, d e, d f where %s < %d", n,
           100000 / width);
  return BenchRun(dbproc, sql);
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s SERVER fill|select|one N\n", argv[0]);
    return 2;
  }
  if (!BenchInit()) return 1;
  dbsetlogintime(10);
  LOGINREC* login = BenchLogin();
  DBSETLAPP(login, "dblib_bench");
  DBPROCESS* dbproc = dbopen(login, argv[1]);
  dbloginfree(login);
  if (dbproc == NULL) return 1;

  const char* mode = argv[2];
  if (strcmp(mode, "fill") == 0) {
    const char* steps[] = {
        "create table d (n int)",
        "insert into d values (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)",
        "create table b (id int, name varchar(20), x float, at datetime, amount decimal(12,2))",
        "insert into b select a.n + 10*b2.n + 100*c.n + 1000*e.n + 10000*f.n,"
        " 'name ' + cast(a.n + 10*b2.n + 100*c.n as varchar(10)),"
        " cast(a.n + 10*f.n as float) / 7,"
        " cast('2024-01-1' + cast(a.n as varchar(1)) + ' 10:0' + cast(c.n as varchar(1))"
        " + ':00.333' as datetime),"
        " (a.n + 100*e.n) * 3.25 from d a, d b2, d c, d e, d f",
    };
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
      if (!BenchRun(dbproc, steps[i])) return 1;
    }
    for (size_t i = 0; i < sizeof kWidths / sizeof kWidths[0]; ++i) {
      if (!FillWide(dbproc, kWidths[i])) return 1;
    }
  } else if (strcmp(mode, "select") == 0) {
    const double start = BenchNow();
    if (dbcmd(dbproc, "select id, name, x, at, amount from b") != SUCCEED ||
        dbsqlexec(dbproc) != SUCCEED) {
      return 1;
    }
    const long values = ConvertAll(dbproc);
    const double seconds = BenchNow() - start;
    if (values != 500000) fprintf(stderr, "dblib_bench: %ld values\n", values);
    printf("%.6f\n", seconds);
  } else if (strcmp(mode, "wide") == 0 && argc > 3) {
    const int width = atoi(argv[3]);
    char sql[64];
    snprintf(sql, sizeof sql, "select * from w%d", width);
    const double start = BenchNow();
    if (dbcmd(dbproc, sql) != SUCCEED || dbsqlexec(dbproc) != SUCCEED) return 1;
    const long values = ConvertAll(dbproc);
    const double seconds = BenchNow() - start;
    if (width <= 0 || values != 100000 / width * width) {
      fprintf(stderr, "dblib_bench: %ld values\n", values);
    }
    printf("%.6f\n", seconds);
  } else if (strcmp(mode, "one") == 0 && argc > 3) {
    const long rounds = atol(argv[3]);
    const double start = BenchNow();
    for (long i = 0; i < rounds; ++i) {
      if (dbcmd(dbproc, "select 1") != SUCCEED || dbsqlexec(dbproc) != SUCCEED) return 1;
      ConvertAll(dbproc);
    }
    printf("%.6f\n", BenchNow() - start);
  } else {
    return 2;
  }
  dbclose(dbproc);
  dbexit();
  return 0;
}
