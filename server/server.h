// Server access: what the rest of the package may use from server/.
//
// The DB-Library declarations themselves are in server/dblib.h, which this
// header includes.
#pragma once

#include "frame/frame.h"
#include "server/dblib.h"

namespace ktdb {

// ---- Process-wide state of the server subsystem ----

// LibraryInitialised: false when the library is mapped. Set by
// EnsureLibrary() after the process's one dbinit(); nothing clears it yet (the
// library is released only by the connection reset, which still has to come).
extern bool LibraryInitialised;

// ---- The DB-Library wrapper ----

// Installs MessageHandler with dbmsghandle, then ErrorHandler with
// dberrhandle. dbinit() puts the default error handler back, and the default
// one ends the process on several errors, so this runs after every dbinit and
// before any other DB-Library call of an external function.
void InstallHandlers();

// Makes DB-Library usable: the first call of the process runs dbinit(); every
// call installs the handlers. Answers false when dbinit fails, in which case
// no other DB-Library call may be made.
bool EnsureLibrary();

// ---- External functions of the subsystem (entered through the call frame) ----

// KTConnect and KTConnectReset. Called Busy, with the required arguments
// present; each leaves the package Idle.
APIRET Connect(const Arguments& args, Result& result);
APIRET ConnectReset(const Arguments& args, Result& result);

}  // namespace ktdb
