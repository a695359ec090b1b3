// Reads a 1,000,000-row, 5-column select from tdslite with a plain db-lib
// loop, and the same query stepped directly in SQLite on the same database
// file, in one run. Prints rows/s of each, their ratio, and tdslite's peak
// memory (VmHWM) during the run.
//
// Usage: tdslite_bench [PATH/TO/tdslite] [ROWS]
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench_dblib.h"
#include "tdslite_server.h"

namespace {

using bench::Seconds;

// Peak resident set size in kB of a process, from /proc.
long PeakKb(pid_t pid) {
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

}  // namespace

int main(int argc, char** argv) {
  std::string binary = argc > 1 ? argv[1] : "build/tdslite";
  long rows = argc > 2 ? atol(argv[2]) : 1000000;
  char dir[] = "/tmp/tdslite-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string database = std::string(dir) + "/bench.db";

  int status = 1;
  {
    harness::TdsliteServer server(binary, {"--database", database});
    if (!server.Started()) {
      fprintf(stderr, "cannot start %s\n", binary.c_str());
      return 1;
    }
    dbinit();
    bench::InstallHandlers();
    LOGINREC* login = dblogin();
    DBSETLUSER(login, "ktdb");
    DBSETLPWD(login, "secret");
    dbsetlversion(login, DBVERSION_70);
    DBPROCESS* dbproc = dbopen(login, server.Address().c_str());
    dbloginfree(login);
    if (!dbproc) {
      fprintf(stderr, "cannot log in\n");
      return 1;
    }
    auto t0 = std::chrono::steady_clock::now();
    if (!bench::Populate(dbproc, rows)) {
      fprintf(stderr, "cannot create the benchmark table\n");
      return 1;
    }
    printf("populated %ld rows in %.1f s\n", rows, Seconds(t0));

    // db-lib through tdslite: fetch every row and touch every column.
    t0 = std::chrono::steady_clock::now();
    long checksum = 0;
    const long fetched = bench::FetchAll(dbproc, &checksum);
    double tds_seconds = Seconds(t0);
    long peak_kb = PeakKb(server.Pid());
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
    if (opened && sqlite3_prepare_v2(db, bench::kQuery, -1, &stmt, nullptr) == SQLITE_OK) {
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
