/* Shared set-up for the db-lib conformance programs: handlers that record
 * what they were given (and answer INT_CANCEL so that FreeTDS never exits
 * the process), a connect helper and check macros. */
#ifndef TDSLITE_DBLIB_CHECK_H
#define TDSLITE_DBLIB_CHECK_H

#define MSDBLIB 1
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sybdb.h>
#include <sybfront.h>

static int g_failures = 0;
static int g_last_msgno = -1;
static int g_last_msg_severity = -1;
static char g_last_msgtext[1024];
static char g_last_msgproc[256]; /* the procedure a message names */
static int g_last_msgline = -1;
static int g_last_dberr = -1;
static int g_msg_count = 0;
static int g_last_error_msgno = -1; /* last message with severity > 10 */
static int g_last_error_severity = -1;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++g_failures;                                                            \
    }                                                                          \
  } while (0)

#define CHECK_INT(actual, expected)                                                              \
  do {                                                                                           \
    long long a_ = (long long)(actual), e_ = (long long)(expected);                              \
    if (a_ != e_) {                                                                              \
      fprintf(stderr, "%s:%d: %s = %lld, expected %lld\n", __FILE__, __LINE__, #actual, a_, e_); \
      ++g_failures;                                                                              \
    }                                                                                            \
  } while (0)

#define CHECK_STR(actual, expected)                                                     \
  do {                                                                                  \
    const char* a_ = (actual);                                                          \
    const char* e_ = (expected);                                                        \
    if (a_ == NULL || strcmp(a_, e_) != 0) {                                            \
      fprintf(stderr, "%s:%d: %s = '%s', expected '%s'\n", __FILE__, __LINE__, #actual, \
              a_ ? a_ : "(null)", e_);                                                  \
      ++g_failures;                                                                     \
    }                                                                                   \
  } while (0)

/* Sends `sql`, checks that it runs and that its first result set has a first
 * row, which is then the current row. */
#define CHECK_FIRST_ROW(dbproc, sql)       \
  do {                                     \
    dbcmd((dbproc), (sql));                \
    CHECK_INT(dbsqlexec(dbproc), SUCCEED); \
    CHECK_INT(dbresults(dbproc), SUCCEED); \
    CHECK_INT(dbnextrow(dbproc), REG_ROW); \
  } while (0)

static int on_error(DBPROCESS* dbproc, int severity, int dberr, int oserr, char* dberrstr,
                    char* oserrstr) {
  (void)dbproc, (void)severity, (void)oserr, (void)oserrstr;
  g_last_dberr = dberr;
  if (getenv("DBLIB_VERBOSE")) fprintf(stderr, "error %d: %s\n", dberr, dberrstr ? dberrstr : "");
  return INT_CANCEL;
}

static int on_message(DBPROCESS* dbproc, DBINT msgno, int msgstate, int severity, char* msgtext,
                      char* srvname, char* proc, int line) {
  (void)dbproc, (void)msgstate, (void)srvname;
  ++g_msg_count;
  snprintf(g_last_msgproc, sizeof g_last_msgproc, "%s", proc ? proc : "");
  g_last_msgline = line;
  g_last_msgno = msgno;
  g_last_msg_severity = severity;
  if (severity > 10) {
    g_last_error_msgno = msgno;
    g_last_error_severity = severity;
  }
  snprintf(g_last_msgtext, sizeof g_last_msgtext, "%s", msgtext ? msgtext : "");
  if (getenv("DBLIB_VERBOSE")) fprintf(stderr, "msg %d/%d: %s\n", (int)msgno, severity, msgtext);
  return 0;
}

/* Opens a connection to 127.0.0.1:port with the given TDS version (70 or
 * 74) and a UTF-8 client charset. */
static DBPROCESS* connect_to(int port, int version, const char* user, const char* password) {
  LOGINREC* login = dblogin();
  char server[64];
  DBPROCESS* dbproc;
  DBSETLUSER(login, user);
  DBSETLPWD(login, password);
  DBSETLAPP(login, "dblib-conformance");
  DBSETLCHARSET(login, "UTF-8");
  dbsetlversion(login, version == 70 ? DBVERSION_70 : DBVERSION_74);
  dbsetlogintime(10);
  snprintf(server, sizeof server, "127.0.0.1:%d", port);
  dbproc = dbopen(login, server);
  dbloginfree(login);
  if (dbproc) dbsettime(30);
  return dbproc;
}

static void start_dblib(void) {
  if (dbinit() == FAIL) {
    fprintf(stderr, "dbinit failed\n");
    exit(2);
  }
  dberrhandle(on_error);
  dbmsghandle(on_message);
}

/* The PORT and the TDS version (70 or 74) of the command line; any further
 * argument is the program's own. Exits with the usage when they are missing,
 * and starts DB-Library. */
static void start(int argc, char** argv, const char* usage, int* port, int* version) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s\n", usage);
    exit(2);
  }
  *port = atoi(argv[1]);
  *version = atoi(argv[2]);
  start_dblib();
}

/* A connection as sa, or the end of the program. */
static DBPROCESS* connect_or_exit(int port, int version) {
  DBPROCESS* dbproc = connect_to(port, version, "sa", "");
  if (dbproc == NULL) {
    fprintf(stderr, "cannot log in\n");
    exit(1);
  }
  return dbproc;
}

/* The column's value converted to text with dbconvert, "NULL" for NULL. */
static const char* column_text(DBPROCESS* dbproc, int col) {
  static char buffer[8192];
  int type = dbcoltype(dbproc, col);
  BYTE* data = dbdata(dbproc, col);
  DBINT len = dbdatlen(dbproc, col);
  DBINT n;
  if (data == NULL) return "NULL";
  /* The values the tests convert are far shorter than the buffer; -1 asks
   * for a terminated string without blank padding. */
  if (len > (DBINT)(sizeof buffer / 4)) return "(too long)";
  n = dbconvert(dbproc, type, data, len, SYBCHAR, (BYTE*)buffer, -1);
  if (n < 0) return "(conversion failed)";
  return buffer;
}

#endif
