// The DB-Library declarations, in the one build mode the package uses.
//
// FreeTDS's libsybdb serves as DB-Library. Its constants differ from the
// numbers other DB-Library implementations use, so the package always uses
// the header's symbols (SYBETIME, INT_CANCEL, NTBSTRINGBIND ...), never
// literal values. Every file that calls DB-Library includes this header, not
// sybdb.h directly.
#pragma once

#ifndef MSDBLIB
// Without MSDBLIB, dbopen() gives connections Sybase error semantics, under
// which several handler answers end the process.
#error "the package is compiled with -DMSDBLIB"
#endif

#include <sybdb.h>
#include <sybfront.h>
