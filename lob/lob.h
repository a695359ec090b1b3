// Large objects: what the rest of the package may use from lob/.
#pragma once

#include "frame/frame.h"

namespace ktdb {

// KTLOB2File and KTFile2LOB. Each is called Busy, with its required
// arguments present, and leaves the package Idle.
APIRET Lob2File(const Arguments& args, Result& result);
APIRET File2Lob(const Arguments& args, Result& result);

}  // namespace ktdb
