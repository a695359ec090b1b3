// Who runs the server and who is logged in: the command line's settings and
// a session's login.
#pragma once

#include <cstdint>
#include <string>

namespace tdslite {

// Server-wide settings from the command line.
struct ServerConfig {
  std::string database_path;  // SQLite file; empty: a private temporary file
  std::string database_name = "master";
  std::string server_name;  // @@servername
  std::string file_root;    // empty: web tasks are refused
  // The largest value (string or binary) the engine builds or stores.
  uint64_t max_value_bytes = uint64_t{1} << 30;
  bool verbose = false;
};

// Who is logged in on a session.
struct SessionInfo {
  int32_t spid = 0;
  std::string login;
  std::string app_name;
  std::string host_name;
  uint32_t tds_version = 0x70000000;  // as in LOGIN7, e.g. 0x74000004
  // LOGIN7 carried the fODBC flag (tsql, python3-tds; not db-lib): SQL Server
  // then starts the session with ODBC defaults (unlimited TEXTSIZE, ANSI
  // options on) instead of DB-Library's (TEXTSIZE 4096, ANSI options off).
  bool odbc = false;
};

}  // namespace tdslite
