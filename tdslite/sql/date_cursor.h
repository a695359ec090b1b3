// Reading date and time literals: the cursor both date parsers move over the
// text (datetime's in datetime.cc, the wider types' in temporal.cc) and the
// month names they both accept.
#pragma once

#include <cstddef>
#include <string_view>

namespace tdslite::sql {

struct DateCursor {
  std::string_view s;
  size_t i = 0;
  bool AtEnd() const { return i >= s.size(); }
  char Peek() const { return i < s.size() ? s[i] : '\0'; }
  bool IsDigit() const { return Peek() >= '0' && Peek() <= '9'; }
  void SkipBlanks() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  }
  // Whether only blanks are left (they are passed over).
  bool OnlyBlanksLeft() {
    SkipBlanks();
    return AtEnd();
  }
  // Reads up to `max` digits; answers how many.
  int Number(int max, int* value) {
    int count = 0, v = 0;
    while (i < s.size() && count < max && s[i] >= '0' && s[i] <= '9') {
      v = v * 10 + (s[i] - '0');
      ++i;
      ++count;
    }
    *value = v;
    return count;
  }
  bool Eat(char c) {
    if (Peek() != c) return false;
    ++i;
    return true;
  }
};

// The month named at the cursor, in any case: "jan".."dec" or
// "january".."december", 1 to 12; 0 when the word there is none of them.
int MonthByName(DateCursor& c);

}  // namespace tdslite::sql
