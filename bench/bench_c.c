#include "bench_c.h"

#include <stdio.h>
#include <time.h>

static int ErrorHandler(DBPROCESS* dbproc, int severity, int dberr, int oserr, char* dberrstr,
                        char* oserrstr) {
  (void)dbproc;
  (void)severity;
  (void)oserr;
  (void)oserrstr;
  if (dberr != SYBESMSG) fprintf(stderr, "db-lib error %d: %s\n", dberr, dberrstr);
  return INT_CANCEL;
}

static int MessageHandler(DBPROCESS* dbproc, DBINT msgno, int msgstate, int severity, char* msgtext,
                          char* srvname, char* proc, int line) {
  (void)dbproc;
  (void)msgstate;
  (void)srvname;
  (void)proc;
  (void)line;
  if (severity > 10) fprintf(stderr, "server message %d: %s\n", (int)msgno, msgtext);
  return 0;
}

int BenchInit(void) {
  if (dbinit() != SUCCEED) return 0;
  dberrhandle(ErrorHandler);
  dbmsghandle(MessageHandler);
  return 1;
}

LOGINREC* BenchLogin(void) {
  LOGINREC* login = dblogin();
  DBSETLUSER(login, "bench");
  DBSETLPWD(login, "bench");
  DBSETLCHARSET(login, "UTF-8");
  dbsetlversion(login, DBVERSION_70);
  return login;
}

int BenchRun(DBPROCESS* dbproc, const char* sql) {
  if (dbcmd(dbproc, sql) != SUCCEED || dbsqlexec(dbproc) != SUCCEED) return 0;
  while (dbresults(dbproc) != NO_MORE_RESULTS) {
    while (dbnextrow(dbproc) != NO_MORE_ROWS) {
    }
  }
  return 1;
}

double BenchNow(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}
