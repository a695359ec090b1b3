// A fake of the interpreter's side of the SAA interface, linked into the unit
// tests instead of libregina: variable sets and fetches go to a map, every
// request is recorded, and a set can be made to fail.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace fake_rexx {

struct Registration {
  std::string name;
  std::string module;
  std::string entry;
};

// Every set request, in order, as (name, value).
extern std::vector<std::pair<std::string, std::string>> sets;
// The variables of the "script".
extern std::map<std::string, std::string> variables;
// The number of the set (counted from 0 since Reset) that fails with
// RXSHV_MEMFL; -1 for none.
extern int failingSet;
extern std::vector<Registration> registered;
extern std::vector<std::string> deregistered;
// Every fetch request since Reset, chained ones included.
extern int fetches;

void Reset();

}  // namespace fake_rexx

// Frees a result the package allocated with RexxAllocateMemory, as the
// interpreter does after the call.
extern "C" int RexxFreeMemory(void* block);
