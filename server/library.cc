// DB-Library initialisation and the installation of the package's handlers.
#include "server/server.h"

namespace ktdb {

bool LibraryInitialised = false;

void InstallHandlers() {
  dbmsghandle(MessageHandler);
  dberrhandle(ErrorHandler);
}

bool EnsureLibrary() {
  if (!LibraryInitialised) {
    if (dbinit() != SUCCEED) return false;
    LibraryInitialised = true;
  }
  InstallHandlers();
  return true;
}

}  // namespace ktdb
