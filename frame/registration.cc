// KTLoadFuncs and KTDropFuncs: registration of the package's functions.
#include "frame/frame.h"

namespace ktdb {

APIRET LoadFuncs(Result& result) {
  ResetErrors();
  // Each REXX name serves as the entry-point name as well; the interpreter
  // resolves it to the upper-case export. Answers are ignored: a name that
  // does not register does not stop the others.
  for (const char* name : kFunctionTable) RexxRegisterFunctionDll(name, kModuleName, name);
  result.SetNumber(1);
  return PublishAndLeave();
}

APIRET DropFuncs(Result& result) {
  for (const char* name : kFunctionTable) RexxDeregisterFunction(name);
  RexxDeregisterFunction("KTLoadFuncs");
  result.SetNumber(1);
  const APIRET code = LeaveCall(kCallRan);
  PackageState = State::kUnloaded;
  return code;
}

}  // namespace ktdb
