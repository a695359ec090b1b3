/* What the plain C DB-Library benchmarks (bench/package, bench/lob) share. */
#ifndef KTDB_BENCH_C_H
#define KTDB_BENCH_C_H

#include <sybdb.h>
#include <sybfront.h>

/* dbinit, and handlers that print DB-Library errors and server errors
 * (severity above 10) to stderr; 0 when dbinit failed. */
int BenchInit(void);

/* A login as bench/bench with TDS 7.0 and UTF-8, like the package's. */
LOGINREC* BenchLogin(void);

/* Runs the statement and reads every result to its end; 0 when it could not
 * be sent. */
int BenchRun(DBPROCESS* dbproc, const char* sql);

/* Seconds on the monotonic clock. */
double BenchNow(void);

#endif
