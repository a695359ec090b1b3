// Variable tails and the stem variables the statement functions write.
#include <charconv>

#include "statements/statements.h"

namespace ktdb {
namespace {

// Appends a number (and a period before it unless it is the first) to the
// tail; the tail holds three numbers with their periods.
void Append(Tail& tail, std::int32_t number) {
  char* const end = tail.text.data() + tail.text.size();
  char* out = tail.text.data() + tail.length;
  if (tail.length > 0) *out++ = '.';
  out = std::to_chars(out, end, number).ptr;
  tail.length = static_cast<std::size_t>(out - tail.text.data());
}

}  // namespace

Tail MakeTail(std::int32_t first) {
  Tail tail{};
  Append(tail, first);
  return tail;
}

Tail MakeTail(std::int32_t first, std::int32_t second) {
  Tail tail = MakeTail(first);
  Append(tail, second);
  return tail;
}

Tail MakeTail(std::int32_t first, std::int32_t second, std::int32_t third) {
  Tail tail = MakeTail(first, second);
  Append(tail, third);
  return tail;
}

bool SetStemNumber(StemName& names, const Tail& tail, std::int32_t value) {
  return SetStemText(names, tail, Decimal(value).View());
}

bool SetStemText(StemName& names, const Tail& tail, std::string_view value) {
  return names.SetSuffix(tail.View()) && SetVariable(names.Name(), value);
}

}  // namespace ktdb
