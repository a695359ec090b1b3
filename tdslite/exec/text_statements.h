// The two large-value statements the batch path recognises before the SQL
// front end sees it: `writetext bulk ...` (DB-Library's text update) and
// `readtext ...`. Both are read with the batch lexer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tdslite {

// `writetext bulk <[db.][owner.]table.column> 0x<pointer>
// timestamp = 0x<stamp> [with log]`
struct WriteTextStatement {
  std::string table;
  std::string column;
  std::string pointer;  // bytes
  std::string stamp;    // bytes
};

// `readtext <[db.][owner.]table.column> 0x<pointer> <offset> <size> [holdlock]`
struct ReadTextStatement {
  std::string table;
  std::string column;
  std::string pointer;  // bytes
  int64_t offset = 0;
  int64_t size = 0;
};

// True when the batch's first words are `writetext bulk` / `readtext`.
bool IsWriteTextBulk(std::string_view sql);
bool IsReadText(std::string_view sql);

// Each answers false with *near set to the text a syntax error names.
bool ParseWriteText(std::string_view sql, WriteTextStatement* out, std::string* near);
bool ParseReadText(std::string_view sql, ReadTextStatement* out, std::string* near);

// Bytes as 0x and lower-case hex digits, as error messages quote a pointer.
std::string HexLiteral(std::string_view bytes);

}  // namespace tdslite
