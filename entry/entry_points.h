// The exported entry points, one per REXX function (frame/functions.def), under the upper-case
// form of the function's REXX name (the interpreter resolves the registered
// name to it). The tests' interpreter double calls them directly.
#pragma once

#include "frame/saa_types.h"

#define KTDB_FUNCTION(name, entry) \
  extern "C" __attribute__((visibility("default"))) ktdb::FunctionHandler entry;
#include "frame/functions.def"
#undef KTDB_FUNCTION
