/* The interpreter functions librexxktdb.so leaves undefined, and nothing
   else may be: the link check (ktdb_link_check) links the package against
   these stand-ins with --no-undefined, so that any other undefined symbol
   fails the build. They are never part of librexxktdb.so, which takes the
   real functions from the interpreter that loads it (frame/saa.h). */
void RexxRegisterFunctionDll(void) {}
void RexxDeregisterFunction(void) {}
void RexxVariablePool(void) {}
void RexxAllocateMemory(void) {}
