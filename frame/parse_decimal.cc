// ParseDecimal: the number parser for numeric arguments.
#include "frame/frame.h"

namespace ktdb {

bool ParseDecimal(std::string_view text, std::int32_t& out) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  // Nine digits at most, so the value always fits in 32 bits.
  if (text.empty() || text.size() > 9) return false;
  std::int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  out = negative ? -value : value;
  return true;
}

}  // namespace ktdb
