// The 14 exported entry points, one per REXX function, under the upper-case
// form of the function's REXX name (the interpreter resolves the registered
// name to it). The tests' interpreter double calls them directly.
#pragma once

#include "frame/saa_types.h"

#define KTDB_ENTRY_POINT extern "C" __attribute__((visibility("default"))) ktdb::FunctionHandler
KTDB_ENTRY_POINT KTLOADFUNCS;
KTDB_ENTRY_POINT KTDROPFUNCS;
KTDB_ENTRY_POINT KTCONNECT;
KTDB_ENTRY_POINT KTCONNECTRESET;
KTDB_ENTRY_POINT KTSELECTCOLS;
KTDB_ENTRY_POINT KTSELECTDATA;
KTDB_ENTRY_POINT KTSELECTFORM;
KTDB_ENTRY_POINT KTSELECTONE;
KTDB_ENTRY_POINT KTBATCH;
KTDB_ENTRY_POINT KTCURTIMESTAMP;
KTDB_ENTRY_POINT KTLOB2FILE;
KTDB_ENTRY_POINT KTFILE2LOB;
KTDB_ENTRY_POINT KTH;
KTDB_ENTRY_POINT KTHTML;
#undef KTDB_ENTRY_POINT
