// The interpreter's side of a call, for tests and fuzzers that drive the
// package's exported functions directly: the arguments become RXSTRINGs, the
// result gets a buffer of the interpreter's default size, and the variable
// pool is the in-memory one of fake_rexx (where a set can be made to fail).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "frame/saa_types.h"

namespace harness {

// The size of the result buffer a REXX interpreter hands an external function.
inline constexpr std::size_t kResultBufferSize = ktdb::RXAUTOBUFLEN;

// One exported function of the package.
using Entry = ktdb::FunctionHandler*;

struct Function {
  const char* name;  // the REXX name
  Entry entry;
};

// Every function the package exports, KTLoadFuncs first.
const std::vector<Function>& Functions();

// The entry point of the named function (REXX name, any case); null when the
// package has none of that name.
Entry Find(std::string_view name);

struct Answer {
  ktdb::APIRET code;   // 0: the call ran; 40: incorrect call
  std::string result;  // the result string
};

// Calls the function with the arguments. An argument given as a null
// optional is omitted (a null RXSTRING), as when a script leaves it out.
Answer Call(Entry entry, const std::vector<std::string>& args);
Answer Call(std::string_view name, const std::vector<std::string>& args);

// A REXX variable of the in-memory pool; its own name when it has no value.
std::string Variable(const std::string& name);

}  // namespace harness
