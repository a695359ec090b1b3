#include "fake_rexx.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "frame/saa.h"

namespace fake_rexx {

std::vector<std::pair<std::string, std::string>> sets;
std::map<std::string, std::string> variables;
int failingSet = -1;
std::vector<Registration> registered;
std::vector<std::string> deregistered;
int fetches = 0;

ktdb::ApiAnswer Serve(ktdb::PSHVBLOCK block);

void Reset() {
  fetches = 0;
  sets.clear();
  variables.clear();
  failingSet = -1;
  registered.clear();
  deregistered.clear();
}

ktdb::ApiAnswer Serve(ktdb::PSHVBLOCK block) {
  using namespace ktdb;
  const std::string name(block->shvname.strptr, block->shvname.strlength);
  // As in REXX, a name with a blank is not a variable name.
  if (name.empty() || name.find(' ') != std::string::npos) return RXSHV_BADN;
  if (block->shvcode == RXSHV_SET) {
    const std::string value(block->shvvalue.strptr, block->shvvalue.strlength);
    const bool fail = static_cast<int>(sets.size()) == failingSet;
    sets.emplace_back(name, value);
    if (fail) return RXSHV_MEMFL;
    const bool isNew = variables.count(name) == 0;
    variables[name] = value;
    return isNew ? RXSHV_NEWV : RXSHV_OK;
  }
  if (block->shvcode == RXSHV_FETCH) {
    ++fetches;
    const auto found = variables.find(name);
    // A variable without a value has its own name as value.
    const std::string value = found == variables.end() ? name : found->second;
    const std::size_t length = std::min<std::size_t>(value.size(), block->shvvaluelen);
    if (length > 0) std::memcpy(block->shvvalue.strptr, value.data(), length);
    block->shvvalue.strlength = length;
    block->shvvaluelen = length;
    ApiAnswer answer = found == variables.end() ? RXSHV_NEWV : RXSHV_OK;
    if (length < value.size()) answer |= RXSHV_TRUNC;
    return answer;
  }
  return RXSHV_BADF;
}

}  // namespace fake_rexx

using ktdb::ApiAnswer;
using ktdb::PCSZ;

extern "C" {

ApiAnswer RexxVariablePool(ktdb::PSHVBLOCK chain) {
  using namespace fake_rexx;
  // A chain of requests is served in order; each block gets its own answer,
  // the call answers them all combined.
  ApiAnswer combined = 0;
  for (ktdb::PSHVBLOCK block = chain; block != nullptr; block = block->shvnext) {
    block->shvret = static_cast<unsigned char>(Serve(block));
    combined |= block->shvret;
  }
  return combined;
}

ApiAnswer RexxRegisterFunctionDll(PCSZ name, PCSZ module, PCSZ entry) {
  fake_rexx::registered.push_back({name, module, entry});
  return 0;
}

ApiAnswer RexxDeregisterFunction(PCSZ name) {
  fake_rexx::deregistered.emplace_back(name);
  return 0;
}

void* RexxAllocateMemory(std::size_t size) {
  return std::malloc(size == 0 ? 1 : size);
}

int RexxFreeMemory(void* block) {
  std::free(block);
  return 0;
}

}  // extern "C"
