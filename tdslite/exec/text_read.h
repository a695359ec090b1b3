// READTEXT: a piece of a text, ntext or image value, named by its text
// pointer, as SQL Server reads it: offsets and sizes count bytes for text
// and image values and UTF-16 units for ntext values.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "session.h"

namespace tdslite {

// Where the last READTEXT of a session left off, so that a client reading a
// value piece after piece costs the server the piece, not the value up to it.
// Valid while the database is unchanged: no connection of the engine has
// committed since (own changes are counted too, as they may come without a
// commit inside a transaction).
// The value stays open between READTEXTs (a value read at an offset from a
// newly opened handle costs SQLite a walk over every page before it), which
// keeps a read transaction: the session closes it (source.reset()) before
// any other statement.
struct ReadTextCursor {
  std::shared_ptr<LobSource> source;
  std::string table;
  std::string column;
  int64_t rowid = 0;
  uint64_t commits = 0;
  int64_t own_changes = -1;
  int64_t stored_size = -1;
  std::string stamp;   // the value's text timestamp
  int64_t units = 0;   // the value's length in READTEXT's units
  int64_t unit = 0;    // a known position: this many units from the start
  int64_t offset = 0;  // are this many bytes of the stored value
};

// Runs `readtext <table.column> 0x<pointer> <offset> <size> [holdlock]`:
// one result of one row holding the piece, with its text pointer and the
// value's timestamp, and a DONE; or an error and a DONE. Size 0 reads up to
// `text_size` bytes. `commits`: the engine's count of commits so far (the
// value kept open holds a read transaction, which shows none of them).
void RunReadText(sqlite3* db, std::string_view sql, int32_t text_size, uint64_t commits,
                 ReadTextCursor* cursor, ResultSink& sink);

}  // namespace tdslite
