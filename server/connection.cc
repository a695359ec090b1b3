// KTConnect and KTConnectReset: one login, its two connections, and their
// release.
#include <strings.h>

#include <cstdlib>
#include <string>

#include "server/server.h"

namespace ktdb {
namespace {

// Closes whatever connections are open and forgets them.
void CloseConnections() {
  if (MainConnection != nullptr) dbclose(MainConnection);
  if (SecondConnection != nullptr) dbclose(SecondConnection);
  MainConnection = nullptr;
  SecondConnection = nullptr;
}

// The server to open: the caller's, or else the environment's default
// server (TDSQUERY, DSQUERY), or else the local host.
const char* ServerToOpen(bool given) {
  if (given) return ServerName.data();
  for (const char* variable : {"TDSQUERY", "DSQUERY"}) {
    const char* name = std::getenv(variable);
    if (name != nullptr && *name != '\0') return name;
  }
  return kDefaultServer;
}

// Records why the package attempted no login: a DB-Library-style error
// (connection failed) with the package's own text.
void RecordRefusedLogin(const std::string& text) {
  CapturedErrors.dbErr = SYBEFCON;
  CapturedErrors.osErr = 0;
  CopyCut(CapturedErrors.dbErrStr, text.c_str());
  CapturedErrors.osErrStr[0] = '\0';
}

}  // namespace

APIRET Connect(const Arguments& args, Result& result) {
  // Every text is checked before anything is done, so that an incorrect call
  // changes nothing.
  const bool serverGiven = args.Present(3);
  if (!CopyLoginText(UserName, args.Text(1)) || !CopyLoginText(PasswordText, args.Text(2)) ||
      !FormServerName(ServerName, args.Text(3))) {
    return LeaveCall(kIncorrectCall);
  }
  std::int32_t loginTimeout = kDefaultLoginTimeout;
  if (args.Present(4)) ParseDecimal(args.Text(4), loginTimeout);
  if (loginTimeout < 1) loginTimeout = kDefaultLoginTimeout;

  ResetErrors();
  result.SetNumber(0);
  // The handlers are in force from here on, so a failed login publishes its
  // reason, and no error of the login can end the process.
  if (!EnsureLibrary()) return PublishAndLeave();
  dbsetlogintime(loginTimeout);

  LOGINREC* login = dblogin();
  // The login record keeps its own copy: the password stays in the package's
  // memory no longer than that.
  if (login != nullptr) DBSETLPWD(login, PasswordText.data());
  PasswordText.fill('\0');
  if (login == nullptr) return PublishAndLeave();
  DBSETLUSER(login, UserName.data());
  DBSETLAPP(login, kApplicationName);
  const char* server = ServerToOpen(serverGiven);
  // TDS 7.4, unless freetds.conf names a version ("auto" names none);
  // TDSVER, applied by FreeTDS after the login record, overrides both.
  const std::string configuredVersion = ConfiguredOption(server, "tds version");
  const bool ownVersion =
      configuredVersion.empty() || strcasecmp(configuredVersion.c_str(), "auto") == 0;
  if (ownVersion) dbsetlversion(login, kProtocolVersion);
  const char* tdsver = std::getenv("TDSVER");
  const std::string version = (tdsver != nullptr && *tdsver != '\0') ? tdsver
                              : ownVersion                           ? "7.4"
                                                                     : configuredVersion;
  // FreeTDS would log in without encryption (the password merely scrambled)
  // under a version that has none, though the file requires encryption:
  // no login is attempted then.
  const bool mustEncrypt = EncryptionRequired(ConfiguredOption(server, "encryption"));
  if (mustEncrypt && VersionBelow71(version)) {
    dbloginfree(login);
    RecordRefusedLogin("freetds.conf says encryption = require for this server, but TDS " +
                       version + " (TDSVER or tds version) cannot encrypt: no login was attempted");
    return PublishAndLeave();
  }
  std::string charset = ConfiguredClientCharset(server);
  if (charset.empty()) {
    charset = kClientCharset;
    DBSETLCHARSET(login, kClientCharset);
  }

  CancelAsked = false;
  LoginInProgress = true;
  MainConnection = dbopen(login, server);
  // The second connection only beside a main one: a second attempt after a
  // failed login would only double the wait and count one more failed login
  // against the account, and its connection would be left open unused.
  SecondConnection = MainConnection != nullptr ? dbopen(login, server) : nullptr;
  LoginInProgress = false;
  WatchInterrupts(MainConnection);
  WatchInterrupts(SecondConnection);
  dbloginfree(login);

  // Should FreeTDS still have chosen a version without encryption (a setting
  // read differently than above), the connections are not used.
  if (mustEncrypt && MainConnection != nullptr && dbtds(MainConnection) < DBTDS_7_1) {
    CloseConnections();
    RecordRefusedLogin(
        "freetds.conf says encryption = require for this server, but the login used a TDS "
        "version that cannot encrypt: the connection was closed");
  }
  if (!PublishErrors()) {
    // ConnectedFlag stays 0 when the call ends in error 40: no connection may
    // be left open that nothing can reach any more.
    CloseConnections();
    return LeaveCall(kIncorrectCall);
  }
  if (MainConnection != nullptr) {
    ClientCharacterBytes = MaxBytesPerCharacter(charset);
    if (!CopyBounded(ClientCharset, charset)) ClientCharset[0] = '\0';
    ConnectedFlag = 1;
    result.SetNumber(1);
  }
  return LeaveCall(kCallRan);
}

APIRET ConnectReset(const Arguments& /*args*/, Result& result) {
  ResetErrors();
  // dbclose on a connection the server dropped is safe, but the handlers
  // must be in force for whatever it reports.
  InstallHandlers();
  CloseConnections();
  // dbexit frees the rest of the library's state; the next KTConnect runs
  // dbinit again.
  dbexit();
  LibraryInitialised = false;
  ConnectedFlag = 0;
  result.SetNumber(1);
  return PublishAndLeave();
}

}  // namespace ktdb
