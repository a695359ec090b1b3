// The SAA application interface of the interpreter that loaded the library.
//
// The package calls four functions of it. librexxktdb.so links no
// interpreter library: these four stay undefined in it and are bound, when
// the interpreter loads the library, to the interpreter's own (Regina's
// libregina, ooRexx's librexx and librexxapi). entry/saa_imports.c holds the
// same list for the link check; nothing else may stay undefined.
#pragma once

#include "frame/saa_types.h"

extern "C" {
ktdb::RegisterFunctionDll RexxRegisterFunctionDll;
ktdb::DeregisterFunction RexxDeregisterFunction;
ktdb::VariablePool RexxVariablePool;
ktdb::AllocateMemory RexxAllocateMemory;
}
