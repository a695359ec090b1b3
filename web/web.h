// Web pages: what the rest of the package may use from web/.
#pragma once

#include "frame/frame.h"

namespace ktdb {

// ---- Bounds of KTH ----

// The file name: 255 characters and a terminator.
inline constexpr std::size_t kFileNameSize = 256;
// The closing tag name (the first word of the tag): 19 characters and a
// terminator.
inline constexpr std::size_t kClosingTagSize = 20;

// KTH: appends one piece of text, plain or tagged, to a file. Runs in every
// package state and touches no state of the package.
APIRET TaggedLine(const Arguments& args, Result& result);

// KTHTML. Called Busy, with the required arguments present; leaves the
// package Idle.
APIRET Html(const Arguments& args, Result& result);

}  // namespace ktdb
