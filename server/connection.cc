// KTConnect and KTConnectReset: one login, its two connections, and their
// release.
#include <cstdlib>

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
  // TDS 7.0, the protocol version the package was designed for.
  dbsetlversion(login, DBVERSION_70);
  const char* server = ServerToOpen(serverGiven);
  std::string charset = ConfiguredClientCharset(server);
  if (charset.empty()) {
    charset = kClientCharset;
    DBSETLCHARSET(login, kClientCharset);
  }

  LoginInProgress = true;
  MainConnection = dbopen(login, server);
  // The second connection only beside a main one: a second attempt after a
  // failed login would only double the wait and count one more failed login
  // against the account, and its connection would be left open unused.
  SecondConnection = MainConnection != nullptr ? dbopen(login, server) : nullptr;
  LoginInProgress = false;
  dbloginfree(login);

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
