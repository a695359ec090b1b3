// Reads a 1,000,000-row, 5-column select from tdslite with a plain db-lib
// loop, and the same query stepped directly in SQLite on the same database
// file, in one run. Prints rows/s of each, their ratio, and tdslite's peak
// memory (VmHWM) during the run.
//
// Usage: tdslite_bench [PATH/TO/tdslite] [ROWS]
#define MSDBLIB 1
#include <signal.h>
#include <sqlite3.h>
#include <sybdb.h>
#include <sybfront.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// The server under test: started on a free port over a scratch database.
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

  // Peak resident set size in kB, from /proc.
  long PeakKb() const {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
      if (key == "VmHWM:") {
        long kb = 0;
        status >> kb;
        return kb;
      }
      status.ignore(4096, '\n');
    }
    return -1;
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

// Fills bench(id, name, amount, created, flag) with `rows` rows through
// tdslite itself, 1000 rows per insert statement.
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

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

constexpr const char* kQuery = "select id, name, amount, created, flag from bench";

}  // namespace

int main(int argc, char** argv) {
  std::string binary = argc > 1 ? argv[1] : "build/tdslite";
  long rows = argc > 2 ? atol(argv[2]) : 1000000;
  char dir[] = "/tmp/tdslite-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string database = std::string(dir) + "/bench.db";

  int status = 1;
  {
    ServerProcess server;
    if (!server.Start(binary, database)) {
      fprintf(stderr, "cannot start %s\n", binary.c_str());
      return 1;
    }
    dbinit();
    dberrhandle(OnError);
    dbmsghandle(OnMessage);
    LOGINREC* login = dblogin();
    DBSETLUSER(login, "sa");
    DBSETLPWD(login, "");
    dbsetlversion(login, DBVERSION_70);
    std::string address = "127.0.0.1:" + std::to_string(server.port);
    DBPROCESS* dbproc = dbopen(login, address.c_str());
    dbloginfree(login);
    if (!dbproc) {
      fprintf(stderr, "cannot log in\n");
      return 1;
    }
    auto t0 = std::chrono::steady_clock::now();
    if (!Populate(dbproc, rows)) {
      fprintf(stderr, "cannot create the benchmark table\n");
      return 1;
    }
    printf("populated %ld rows in %.1f s\n", rows, Seconds(t0));

    // db-lib through tdslite: fetch every row and touch every column.
    t0 = std::chrono::steady_clock::now();
    dbcmd(dbproc, kQuery);
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
    double tds_seconds = Seconds(t0);
    long peak_kb = server.PeakKb();
    dbclose(dbproc);
    dbexit();

    // The same query stepped directly in SQLite on the same file.
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    long direct = 0;
    long direct_checksum = 0;
    t0 = std::chrono::steady_clock::now();
    // Read-write like the server's own connections: a WAL database needs
    // its shared-memory index writable even for readers.
    bool opened =
        sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    if (opened) sqlite3_busy_timeout(db, 10000);
    if (opened && sqlite3_prepare_v2(db, kQuery, -1, &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        ++direct;
        for (int c = 0; c < 5; ++c) {
          if (sqlite3_column_type(stmt, c) == SQLITE_TEXT) {
            direct_checksum += sqlite3_column_bytes(stmt, c);
          } else {
            direct_checksum += sqlite3_column_int64(stmt, c) & 1;
          }
        }
      }
    } else {
      fprintf(stderr, "sqlite: %s\n", db ? sqlite3_errmsg(db) : "cannot open");
    }
    double sqlite_seconds = Seconds(t0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);

    double tds_rate = fetched / tds_seconds;
    double sqlite_rate = direct / sqlite_seconds;
    printf("tdslite + db-lib: %ld rows in %.2f s = %.0f rows/s (checksum %ld)\n", fetched,
           tds_seconds, tds_rate, checksum);
    printf("SQLite direct:    %ld rows in %.2f s = %.0f rows/s (checksum %ld)\n", direct,
           sqlite_seconds, sqlite_rate, direct_checksum);
    if (tds_rate > 0) printf("ratio SQLite/tdslite: %.2f\n", sqlite_rate / tds_rate);
    printf("tdslite peak memory (VmHWM): %ld kB\n", peak_kb);
    status = fetched == rows && direct == rows ? 0 : 1;
  }
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    unlink((database + suffix).c_str());
  }
  rmdir(dir);
  return status;
}
