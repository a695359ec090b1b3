// Text escaped for markup (XML and HTML): &, < and > and a few more as entities.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace tdslite::sql {

struct CharEntity {
  char c;
  std::string_view entity;
};

// `text` with &, < and > replaced by their entities, and each character of
// `more` by the entity given with it (HTML attributes: the double quote;
// FOR XML: the carriage return).
inline std::string EscapeMarkup(std::string_view text, std::initializer_list<CharEntity> more) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    std::string_view entity = c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : "";
    for (const CharEntity& e : more) {
      if (e.c == c) entity = e.entity;
    }
    if (entity.empty()) {
      out += c;
    } else {
      out += entity;
    }
  }
  return out;
}

}  // namespace tdslite::sql
