// What the C++ benchmarks share: DB-Library handlers that print to stderr,
// statements run to their end, the benchmark table, and a timed full read.
#pragma once

#define MSDBLIB 1
#include <sybdb.h>
#include <sybfront.h>

#include <chrono>
#include <string>

namespace bench {

// Installs handlers that print DB-Library errors and server errors (severity
// above 10) to stderr.
void InstallHandlers();

// Runs `sql` and reads every result to its end; false when any part failed.
bool Run(DBPROCESS* dbproc, const std::string& sql);

// Creates bench(id, name, amount, created, flag) and fills it with `rows`
// rows, 1000 rows per insert statement.
bool Populate(DBPROCESS* dbproc, long rows);

constexpr const char* kQuery = "select id, name, amount, created, flag from bench";

// Runs kQuery, fetching every row and touching every column; counts the rows
// and adds up the data lengths into *checksum.
long FetchAll(DBPROCESS* dbproc, long* checksum);

double Seconds(std::chrono::steady_clock::time_point since);

}  // namespace bench
