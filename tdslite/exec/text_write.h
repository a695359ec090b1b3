// Text and image values in their rows: the text timestamp that versions a
// value, reading an image value in pieces, and WRITETEXT BULK, which replaces
// a value with the data of the client's BULK message.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session.h"

namespace tdslite {

// Folds bytes into a running 64-bit digest; text timestamps are digests of
// the stored bytes, so a timestamp changes whenever its value does.
class TextDigest {
 public:
  void Add(std::string_view bytes);
  // The 8-byte text timestamp of everything added.
  std::string Timestamp() const;

 private:
  uint64_t h_ = 0x9E3779B97F4A7C15ull;
  uint64_t length_ = 0;
};

// The value of `column` in row `rowid` of `table`, read in pieces. Answers
// null when SQLite cannot open it.
std::shared_ptr<LobSource> OpenLobSource(sqlite3* db, const std::string& table,
                                         const std::string& column, int64_t rowid);

// The text timestamp of a value read through `source` (reads it all, in
// pieces). Empty when the read fails.
std::string LobTimestamp(LobSource& source);

// The largest value a transfer may store unless the server says otherwise.
constexpr uint64_t kDefaultMaxValueBytes = uint64_t{1} << 30;

// Checks a `writetext bulk <table.column> 0x<pointer> timestamp = 0x<ts>
// [with log]` statement against the database. Answers the transfer waiting
// for the BULK message, or null with *error set. A value announced or
// converted larger than `max_value_bytes` fails with error 7119.
std::unique_ptr<TextWrite> StartWriteText(sqlite3* db, std::string_view sql, Message* error,
                                          uint64_t max_value_bytes = kDefaultMaxValueBytes);

// The timestamp of the value of `column` in row `rowid` of `table`; nullopt
// when the row or the value is gone.
std::optional<std::string> TextValueTimestamp(sqlite3* db, const std::string& table,
                                              const std::string& column, int64_t rowid);

}  // namespace tdslite
