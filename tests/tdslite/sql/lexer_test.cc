#include "tdslite/sql/lexer.h"

#include <gtest/gtest.h>

namespace tdslite::sql {
namespace {

std::string Describe(std::string_view sql) {
  LexResult r = Lex(sql);
  std::string out;
  for (const Token& t : r.tokens) {
    if (t.kind == TokenKind::kEnd) break;
    static constexpr const char* kNames[] = {"end", "id",  "kw",  "str",   "nstr", "int",
                                             "dec", "flt", "bin", "money", "var",  "op"};
    if (!out.empty()) out += " ";
    out += std::string(kNames[static_cast<int>(t.kind)]) + ":" + t.text;
  }
  if (r.unclosed_quote) out += " UNCLOSED:" + r.unclosed_text;
  return out;
}

TEST(LexerTest, Tokens) {
  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"select 1", "kw:select int:1"},
      {"SELECT [my col], \"q\"\"x\" FROM t", "kw:select id:my col op:, id:q\"x kw:from id:t"},
      {"'it''s' N'ab' n'c'", "str:it's nstr:ab nstr:c"},
      {"1 1.50 .5 1e3 2.5E-2", "int:1 dec:1.50 dec:.5 flt:1e3 flt:2.5E-2"},
      {"0x00ff 0x", "bin:00ff bin:"},
      {"@@ROWCOUNT @x", "var:@@rowcount var:@x"},
      {"a<>b!=c<=d>=e!<f!>g",
       "id:a op:<> id:b op:!= id:c op:<= id:d op:>= id:e op:!< id:f op:!> id:g"},
      {"a -- comment\n b /* x /* nested */ y */ c", "id:a id:b id:c"},
      {"[a]]b]", "id:a]b"},
      {"'abc", " UNCLOSED:abc"},
      {"[abc", " UNCLOSED:abc"},
      {"é1 #tmp", "id:é1 id:#tmp"},
  };
  for (const Case& c : cases) EXPECT_EQ(Describe(c.sql), c.expected) << c.sql;
}

TEST(LexerTest, LinesAreCounted) {
  LexResult r = Lex("select\n'a\nb'\n\n1");
  ASSERT_EQ(r.tokens.size(), 4u);
  EXPECT_EQ(r.tokens[0].line, 1);
  EXPECT_EQ(r.tokens[1].line, 2);
  EXPECT_EQ(r.tokens[2].line, 5);
}

// Arbitrary bytes never crash the lexer and always end in kEnd.
TEST(LexerTest, RandomBytes) {
  uint32_t seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::string s;
    int n = static_cast<int>(seed % 64);
    for (int i = 0; i < n; ++i) {
      seed = seed * 1103515245 + 12345;
      s.push_back(static_cast<char>(seed >> 16));
    }
    LexResult r = Lex(s);
    if (!r.unclosed_quote) {
      ASSERT_FALSE(r.tokens.empty());
      EXPECT_EQ(r.tokens.back().kind, TokenKind::kEnd);
    }
  }
}

}  // namespace
}  // namespace tdslite::sql
