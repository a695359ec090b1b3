#include "interpreter.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "entry/entry_points.h"
#include "fake_rexx.h"

namespace harness {

const std::vector<Function>& Functions() {
  static const std::vector<Function> functions = {
#define KTDB_FUNCTION(name, entry) {#name, entry},
#include "frame/functions.def"
#undef KTDB_FUNCTION
  };
  return functions;
}

Entry Find(std::string_view name) {
  for (const Function& f : Functions()) {
    const std::string_view known(f.name);
    if (known.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      same = std::toupper(static_cast<unsigned char>(known[i])) ==
             std::toupper(static_cast<unsigned char>(name[i]));
    }
    if (same) return f.entry;
  }
  return nullptr;
}

Answer Call(Entry entry, const std::vector<std::string>& args) {
  std::vector<ktdb::RXSTRING> argv(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    // An empty argument stands for an omitted one: REXX hands a null string.
    argv[i].strptr = args[i].empty() ? nullptr : const_cast<char*>(args[i].data());
    argv[i].strlength = args[i].size();
  }
  // The interpreter's default buffer, filled with a pattern so that a result
  // left unset shows.
  char buffer[kResultBufferSize];
  std::memset(buffer, '?', sizeof buffer);
  ktdb::RXSTRING result{sizeof buffer, buffer};
  Answer answer;
  answer.code =
      entry("FUNCTION", argv.size(), argv.empty() ? nullptr : argv.data(), "QUEUE", &result);
  if (result.strptr != nullptr) answer.result.assign(result.strptr, result.strlength);
  // A result too long for the interpreter's buffer came from RexxAllocateMemory
  // and is now the interpreter's to free.
  if (result.strptr != buffer) RexxFreeMemory(result.strptr);
  return answer;
}

Answer Call(std::string_view name, const std::vector<std::string>& args) {
  const Entry entry = Find(name);
  if (entry == nullptr) std::abort();
  return Call(entry, args);
}

std::string Variable(const std::string& name) {
  const auto found = fake_rexx::variables.find(name);
  return found == fake_rexx::variables.end() ? name : found->second;
}

}  // namespace harness
