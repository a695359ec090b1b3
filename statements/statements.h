// Statements and result sets: what the rest of the package may use from
// statements/.
#pragma once

#include "frame/frame.h"

namespace ktdb {

// The statement functions. Each is called Busy, with its required arguments
// present, and leaves the package Idle.
APIRET SelectCols(const Arguments& args, Result& result);
APIRET SelectData(const Arguments& args, Result& result);
APIRET SelectForm(const Arguments& args, Result& result);
APIRET SelectOne(const Arguments& args, Result& result);
APIRET Batch(const Arguments& args, Result& result);
APIRET CurTimeStamp(const Arguments& args, Result& result);

}  // namespace ktdb
