// Reads a 1,000,000-row, 5-column select from tdslite over TDS 7.4 with
// db-lib twice each way, in one run: over a plain connection (encryption =
// off) and over one encrypted from start to end (encryption = require).
// Prints the best rows/s of each and the ratio TLS/plain.
//
// Usage: tls_bench [PATH/TO/tdslite] [ROWS]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "bench_dblib.h"
#include "tdslite_server.h"

namespace {

DBPROCESS* Open(const char* section) {
  LOGINREC* login = dblogin();
  DBSETLUSER(login, "ktdb");
  DBSETLPWD(login, "secret");
  DBPROCESS* dbproc = dbopen(login, section);
  dbloginfree(login);
  return dbproc;
}

// Rows per second of the whole select over a new connection of `section`;
// 0 when it failed or came back short.
double Measure(const char* section, long rows) {
  DBPROCESS* dbproc = Open(section);
  if (!dbproc) return 0;
  auto t0 = std::chrono::steady_clock::now();
  long checksum = 0;
  const long fetched = bench::FetchAll(dbproc, &checksum);
  const double seconds = bench::Seconds(t0);
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
    harness::TdsliteServer server(binary, {"--database", database});
    if (!server.Started()) {
      fprintf(stderr, "cannot start %s\n", binary.c_str());
      return 1;
    }
    {
      std::ofstream f(conf);
      for (const char* section : {"plain", "tls"}) {
        f << "[" << section << "]\n  host = 127.0.0.1\n  port = " << server.Port()
          << "\n  tds version = 7.4\n  encryption = "
          << (std::string(section) == "tls" ? "require" : "off") << "\n";
      }
    }
    setenv("FREETDSCONF", conf.c_str(), 1);
    unsetenv("TDSVER");
    dbinit();
    bench::InstallHandlers();
    DBPROCESS* setup = Open("plain");
    if (!setup || !bench::Populate(setup, rows)) {
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
