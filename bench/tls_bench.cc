// Reads a 1,000,000-row, 5-column select from tdslite over TDS 7.4 with
// db-lib twice each way, in one run: over a plain connection (encryption =
// off) and over one encrypted from start to end (encryption = require).
// Prints the best rows/s of each and the ratio TLS/plain.
//
// Usage: tls_bench [PATH/TO/tdslite] [ROWS]
#define MSDBLIB 1
#include <signal.h>
#include <stdlib.h>
#include <sybdb.h>
#include <sybfront.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

struct ServerProcess {
  pid_t pid = -1;
  int port = 0;
  FILE* out = nullptr;

  bool Start(const std::string& binary, const std::string& database) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid = fork();
    if (pid == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
      execl(binary.c_str(), binary.c_str(), "--port", "0", "--database", database.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    out = fdopen(fds[0], "r");
    char line[256];
    if (!out || !fgets(line, sizeof line, out)) return false;
    const char* colon = strrchr(line, ':');
    if (strncmp(line, "tdslite listening on ", 21) != 0 || !colon) return false;
    port = atoi(colon + 1);
    return port > 0;
  }

  ~ServerProcess() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    if (out) fclose(out);
  }
};

int OnError(DBPROCESS*, int, int dberr, int, char* text, char*) {
  fprintf(stderr, "db-lib error %d: %s\n", dberr, text ? text : "");
  return INT_CANCEL;
}

int OnMessage(DBPROCESS*, DBINT number, int, int severity, char* text, char*, char*, int) {
  if (severity > 10) fprintf(stderr, "server message %d: %s\n", static_cast<int>(number), text);
  return 0;
}

DBPROCESS* Open(const char* section) {
  LOGINREC* login = dblogin();
  DBSETLUSER(login, "sa");
  DBSETLPWD(login, "");
  DBPROCESS* dbproc = dbopen(login, section);
  dbloginfree(login);
  return dbproc;
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

// Rows per second of the whole select over a new connection of `section`;
// 0 when it failed or came back short.
double Measure(const char* section, long rows) {
  DBPROCESS* dbproc = Open(section);
  if (!dbproc) return 0;
  auto t0 = std::chrono::steady_clock::now();
  dbcmd(dbproc, "select id, name, amount, created, flag from bench");
  long fetched = 0;
  long checksum = 0;
  if (dbsqlexec(dbproc) == SUCCEED && dbresults(dbproc) == SUCCEED) {
    while (dbnextrow(dbproc) == REG_ROW) {
      ++fetched;
      for (int c = 1; c <= 5; ++c) checksum += dbdatlen(dbproc, c);
    }
    while (dbresults(dbproc) == SUCCEED) {
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  dbclose(dbproc);
  printf("  %-8s %ld rows in %.2f s = %.0f rows/s (checksum %ld)\n", section, fetched, seconds,
         fetched / seconds, checksum);
  return fetched == rows ? fetched / seconds : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string binary = argc > 1 ? argv[1] : "build/tdslite";
  long rows = argc > 2 ? atol(argv[2]) : 1000000;
  char dir[] = "/tmp/tls-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string database = std::string(dir) + "/bench.db";
  std::string conf = std::string(dir) + "/freetds.conf";

  int status = 1;
  {
    ServerProcess server;
    if (!server.Start(binary, database)) {
      fprintf(stderr, "cannot start %s\n", binary.c_str());
      return 1;
    }
    {
      std::ofstream f(conf);
      for (const char* section : {"plain", "tls"}) {
        f << "[" << section << "]\n  host = 127.0.0.1\n  port = " << server.port
          << "\n  tds version = 7.4\n  encryption = "
          << (std::string(section) == "tls" ? "require" : "off") << "\n";
      }
    }
    setenv("FREETDSCONF", conf.c_str(), 1);
    unsetenv("TDSVER");
    dbinit();
    dberrhandle(OnError);
    dbmsghandle(OnMessage);
    DBPROCESS* setup = Open("plain");
    if (!setup || !Populate(setup, rows)) {
      fprintf(stderr, "cannot create the benchmark table\n");
      return 1;
    }
    dbclose(setup);
    printf("select of %ld rows, 5 columns, TDS 7.4:\n", rows);
    double plain = 0;
    double tls = 0;
    for (int round = 0; round < 2; ++round) {
      plain = std::max(plain, Measure("plain", rows));
      tls = std::max(tls, Measure("tls", rows));
    }
    dbexit();
    printf("best plain: %.0f rows/s, best TLS: %.0f rows/s\n", plain, tls);
    if (plain > 0 && tls > 0) {
      printf("ratio TLS/plain: %.2f\n", tls / plain);
      status = 0;
    }
  }
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    unlink((database + suffix).c_str());
  }
  unlink(conf.c_str());
  rmdir(dir);
  return status;
}
