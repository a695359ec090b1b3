// Server access: what the rest of the package may use from server/.
//
// The DB-Library declarations themselves are in server/dblib.h, which this
// header includes.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "frame/frame.h"
#include "server/dblib.h"

namespace ktdb {

// ---- Limits and fixed values of the login ----

// User name, password and server name: 128 bytes and a terminator. 128 is
// SQL Server's own limit for names and passwords, and the most dbsetlname
// accepts for any login item.
inline constexpr std::size_t kLoginTextSize = 129;
// Seconds a login may take when the caller gives no usable time-out.
inline constexpr std::int32_t kDefaultLoginTimeout = 4;
// The application name every login announces.
inline constexpr const char* kApplicationName = "RexxKTDB";
// The client character set asked for unless freetds.conf names one.
inline constexpr const char* kClientCharset = "UTF-8";
// The protocol version asked for unless freetds.conf names one (TDSVER
// overrides both): 7.4, with which FreeTDS negotiates encryption.
inline constexpr int kProtocolVersion = DBVERSION_74;
// The server name used when the caller names none and the environment names
// no default server either (FreeTDS would otherwise look for a host called
// "SYBASE").
inline constexpr const char* kDefaultServer = "localhost";

// ---- Process-wide state of the server subsystem ----

// LibraryInitialised: false when the library is mapped. Set by
// EnsureLibrary() after its dbinit(); cleared by KTConnectReset after its
// dbexit(), so that the next KTConnect initialises the library again.
extern bool LibraryInitialised;

// MainConnection: null when the library is mapped. Set by a KTConnect whose
// login succeeded; every statement runs on it. Set back to null by
// KTConnectReset. Valid exactly while ConnectedFlag is 1.
extern DBPROCESS* MainConnection;

// SecondConnection: opened by KTConnect right after MainConnection with the
// same login (null when that open failed or the main one did); closed and set
// to null by KTConnectReset.
extern DBPROCESS* SecondConnection;

// UserName, PasswordText, ServerName: the terminated login texts KTConnect
// takes from its arguments before it logs in; meaningful only during that
// call. KTConnect clears PasswordText as soon as the login record holds the
// password. ServerName holds the name in FreeTDS's notation (host:port).
extern std::array<char, kLoginTextSize> UserName;
extern std::array<char, kLoginTextSize> PasswordText;
extern std::array<char, kLoginTextSize> ServerName;

// ClientCharacterBytes: the most bytes one character takes in the client
// character set of MainConnection (4 for UTF-8, 1 for single-byte sets). Set
// by KTConnect when the main login succeeded; the width rules divide
// character column lengths by it to recover the declared length.
extern std::int32_t ClientCharacterBytes;

// LoginInProgress: false when the library is mapped. KTConnect sets it while
// its dbopen calls run and clears it after them; read by ErrorHandler, which
// must end a login that times out instead of waiting on.
extern bool LoginInProgress;

// ErrorCount: 0 when the library is mapped. ErrorHandler adds 1 per
// DB-Library error, MessageHandler 2 per server message. Only the
// large-object functions set it to 0 and read it.
extern std::int32_t ErrorCount;

// ClientCharset: the name of the client character set of MainConnection, as
// the login asked for it (empty when the name was too long to keep). Set by
// KTConnect when the main login succeeded; the large-object functions
// convert a file's text from it.
extern std::array<char, kLoginTextSize> ClientCharset;

// Records an error the package itself found, as a DB-Library error would be
// (counted in ErrorCount): the number into dbErr, the pieces of text one behind the other (cut at
// 255 bytes on a character boundary) into dbErrStr; osErr and osErrStr emptied.
void NotePackageError(std::int32_t number, std::initializer_list<std::string_view> text);

// CancelAsked, CancelAskedAt: false at the start of every statement call
// (StatementPreamble) and of KTConnect. ErrorHandler sets them when it
// answers a time-out by cancelling the statement (a query time-out, or an
// interrupt, which the interrupt check turns into one); a second time-out in
// the same call, or a cancel unanswered for kCancelGrace, gives the
// connection up instead of waiting on.
extern bool CancelAsked;
extern std::chrono::steady_clock::time_point CancelAskedAt;
inline constexpr std::chrono::seconds kCancelGrace{5};

// Lets DB-Library's network wait on dbproc notice an interrupt (Ctrl-C)
// and an unanswered cancel: dbsetinterrupt with the package's check, which
// DB-Library runs once a second and when a signal ends the wait.
void WatchInterrupts(DBPROCESS* dbproc);

// Asked by every loop that reads rows or pieces: true when an interrupt
// (Ctrl-C) has arrived. Rows that keep arriving never leave DB-Library
// waiting, where the check above would see it; so the loop stops here: the
// interrupt is recorded as 20003, as in a wait, and the statement cancelled
// (dbcancel, which reads what the server sends until it answers the cancel).
bool StopForInterrupt(DBPROCESS* dbproc);

// ---- The DB-Library wrapper ----

// Installs MessageHandler with dbmsghandle, then ErrorHandler with
// dberrhandle. dbinit() puts the default error handler back, and the default
// one ends the process on several errors, so this runs after every dbinit and
// before any other DB-Library call of an external function.
void InstallHandlers();

// The DB-Library error and message handlers (installed by InstallHandlers).
int ErrorHandler(DBPROCESS* dbproc, int severity, int dberr, int oserr, char* dberrstr,
                 char* oserrstr);
int MessageHandler(DBPROCESS* dbproc, DBINT msgno, int msgstate, int severity, char* msgtext,
                   char* srvname, char* proc, int line);

// Makes DB-Library usable: the first call after the library was mapped or
// released runs dbinit(); every call installs the handlers. Answers false
// when dbinit fails, in which case no other DB-Library call may be made.
bool EnsureLibrary();

// The statement preamble of every function that works on MainConnection:
// handlers installed, whatever an earlier call left pending discarded
// (dbcancel), the command buffer emptied (dbcancel keeps text that was
// appended but never sent), then ResetErrors.
void StatementPreamble();

// After a DB-Library call on dbproc failed: when the connection is dead and
// the call captured no DB-Library error, records the loss (SYBEDDNE) as
// ErrorHandler would. FreeTDS marks a connection that the server closed
// while a command was being sent dead without reporting anything, and a
// call that publishes must not then look like one that merely found no rows.
void NoteSilentLoss(DBPROCESS* dbproc);

// dbnextrow's answers that end the rows: the end itself, and the failures of
// a connection that broke while rows were read.
inline bool EndOfRows(STATUS answer) {
  return answer == NO_MORE_ROWS || answer == FAIL || answer == BUF_FULL;
}

// ---- Login helpers (exposed for their unit tests) ----

// Copies a login text (user name or password) into its field. Answers false
// when it is longer than 128 bytes or holds a NUL byte, which DB-Library
// would silently cut at.
bool CopyLoginText(std::span<char> field, std::string_view text);

// Puts the server argument into FreeTDS's notation: SQL Server's "host,port"
// becomes "host:port"; "host:port", "host\instance" and freetds.conf section
// names pass unchanged. Answers false under the same rules as CopyLoginText.
bool FormServerName(std::span<char> field, std::string_view server);

// The value the freetds.conf that FreeTDS reads gives an option (e.g.
// "tds version") for this server, in its own section or in [global], or the
// empty string.
std::string ConfiguredOption(std::string_view server, std::string_view option);

// ConfiguredOption(server, "client charset").
std::string ConfiguredClientCharset(std::string_view server);

// True for a FreeTDS protocol version setting (freetds.conf `tds version`,
// TDSVER) older than 7.1: those have no PRELOGIN and so no encryption.
bool VersionBelow71(std::string_view version);

// True for a FreeTDS `encryption` setting that requires encryption.
bool EncryptionRequired(std::string_view setting);

// The most bytes one character takes in the named character set.
std::int32_t MaxBytesPerCharacter(std::string_view charset);

// ---- External functions of the subsystem (entered through the call frame) ----

// KTConnect and KTConnectReset. Called Busy, with the required arguments
// present; each leaves the package Idle.
APIRET Connect(const Arguments& args, Result& result);
APIRET ConnectReset(const Arguments& args, Result& result);

}  // namespace ktdb
