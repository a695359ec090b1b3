#include "bench_dblib.h"

#include <cstdio>

namespace bench {
namespace {

int OnError(DBPROCESS*, int, int dberr, int, char* text, char*) {
  fprintf(stderr, "db-lib error %d: %s\n", dberr, text ? text : "");
  return INT_CANCEL;
}

int OnMessage(DBPROCESS*, DBINT number, int, int severity, char* text, char*, char*, int) {
  if (severity > 10) fprintf(stderr, "server message %d: %s\n", static_cast<int>(number), text);
  return 0;
}

}  // namespace

void InstallHandlers() {
  dberrhandle(OnError);
  dbmsghandle(OnMessage);
}

bool Run(DBPROCESS* dbproc, const std::string& sql) {
  dbcmd(dbproc, sql.c_str());
  bool ok = dbsqlexec(dbproc) == SUCCEED;
  RETCODE rc;
  while ((rc = dbresults(dbproc)) != NO_MORE_RESULTS) {
    if (rc == FAIL) ok = false;
    while (rc == SUCCEED && dbnextrow(dbproc) != NO_MORE_ROWS) {
    }
  }
  return ok;
}

bool Populate(DBPROCESS* dbproc, long rows) {
  if (!Run(dbproc,
           "create table bench (id int not null primary key, name varchar(40) not null, "
           "amount decimal(12,2) null, created datetime not null, flag int null)")) {
    return false;
  }
  std::string sql;
  for (long base = 0; base < rows; base += 1000) {
    sql = "insert into bench values ";
    for (long i = base; i < base + 1000 && i < rows; ++i) {
      char row[160];
      snprintf(row, sizeof row, "%s(%ld, 'name %ld', %ld.%02ld, '2024-01-%02ld 10:%02ld:00', %ld)",
               i == base ? "" : ",", i, i, i % 100000, i % 100, 1 + i % 28, i % 60, i % 7);
      sql += row;
    }
    if (!Run(dbproc, sql)) return false;
  }
  return true;
}

long FetchAll(DBPROCESS* dbproc, long* checksum) {
  dbcmd(dbproc, kQuery);
  long fetched = 0;
  if (dbsqlexec(dbproc) == SUCCEED && dbresults(dbproc) == SUCCEED) {
    while (dbnextrow(dbproc) == REG_ROW) {
      ++fetched;
      for (int c = 1; c <= 5; ++c) *checksum += dbdatlen(dbproc, c);
    }
    while (dbresults(dbproc) == SUCCEED) {
    }
  }
  return fetched;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace bench
