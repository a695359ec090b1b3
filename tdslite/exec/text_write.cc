#include "text_write.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <vector>

#include "tdslite/common/text.h"
#include "tdslite/common/text_pointer.h"
#include "tdslite/sql/catalog.h"
#include "tdslite/sql/types.h"
#include "tdslite/sql/values.h"
#include "text_statements.h"

namespace tdslite {
namespace {

// Pieces SQLite blobs are read and hashed in.
constexpr size_t kPieceSize = 256 * 1024;
constexpr size_t kSizePrefix = 4;

Message Error(int number, int state, std::string text) {
  return MakeMessage(number, state, 16, std::move(text));
}

// UCS-2/UTF-16LE to UTF-8 for data that arrives in pieces: an odd byte or
// a high surrogate at the end of a piece waits for the next one. Converts
// U+FFFD replaces a lone surrogate.
class Ucs2Decoder {
 public:
  void Feed(std::string_view in, std::string& out) {
    for (char c : in) {
      if (!have_odd_) {
        odd_ = static_cast<unsigned char>(c);
        have_odd_ = true;
        continue;
      }
      have_odd_ = false;
      Unit(odd_ | (static_cast<uint32_t>(static_cast<unsigned char>(c)) << 8), out);
    }
  }
  // The data ended: a high surrogate without its partner is U+FFFD; an odd
  // last byte is dropped.
  void End(std::string& out) {
    if (high_ != 0) AppendUtf8(&out, 0xFFFD);
    high_ = 0;
  }

 private:
  void Unit(uint32_t u, std::string& out) {
    if (high_ != 0) {
      const uint32_t high = high_;
      high_ = 0;
      if (u >= 0xDC00 && u < 0xE000) {
        AppendUtf8(&out, 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
        return;
      }
      AppendUtf8(&out, 0xFFFD);
    }
    if (u >= 0xD800 && u < 0xDC00) {
      high_ = u;
      return;
    }
    AppendUtf8(&out, u >= 0xDC00 && u < 0xE000 ? 0xFFFD : u);
  }

  uint32_t odd_ = 0;
  bool have_odd_ = false;
  uint32_t high_ = 0;
};

class BlobLobSource final : public LobSource {
 public:
  explicit BlobLobSource(sqlite3_blob* blob) : blob_(blob) {}
  ~BlobLobSource() override { sqlite3_blob_close(blob_); }
  int64_t Size() override { return sqlite3_blob_bytes(blob_); }
  bool Read(int64_t offset, std::span<char> out) override {
    if (offset < 0 || static_cast<uint64_t>(offset) + out.size() > static_cast<uint64_t>(Size()))
      return false;
    return sqlite3_blob_read(blob_, out.data(), static_cast<int>(out.size()),
                             static_cast<int>(offset)) == SQLITE_OK;
  }

 private:
  sqlite3_blob* blob_;
};

// The value's current timestamp; nullopt when the row or value is gone
// (a NULL value has no text pointer, hence no timestamp either).
std::optional<std::string> CurrentTimestamp(sqlite3* db, const std::string& table,
                                            const std::string& column, int64_t rowid) {
  std::string probe = "SELECT " + sql::QuoteIdent(column) + " IS NULL FROM " +
                      sql::QuoteIdent(table) + " WHERE rowid = ?1";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, probe.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return std::nullopt;
  }
  sqlite3_bind_int64(st, 1, rowid);
  bool present = sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) == 0;
  sqlite3_finalize(st);
  if (!present) return std::nullopt;
  std::shared_ptr<LobSource> source = OpenLobSource(db, table, column, rowid);
  if (!source) return std::nullopt;
  std::string stamp = LobTimestamp(*source);
  if (stamp.empty()) return std::nullopt;
  return stamp;
}

// A transfer keeps what has arrived (converted to UTF-8 for text and
// ntext) in pieces in a temporary table of the session's own connection, and
// builds the value only once the whole message is in: nothing is allocated
// or written for bytes announced but not sent.
constexpr size_t kStagePiece = 1024 * 1024;
constexpr const char* kStageTable = "temp.tdslite_writetext";

class TextWriteImpl final : public TextWrite {
 public:
  TextWriteImpl(sqlite3* db, std::string table, std::string column, TypeId type, int64_t rowid,
                std::string stamp, uint64_t max_bytes)
      : db_(db),
        table_(std::move(table)),
        column_(std::move(column)),
        type_(type),
        rowid_(rowid),
        stamp_(std::move(stamp)),
        max_bytes_(max_bytes) {}

  ~TextWriteImpl() override { Abandon(); }

  bool Append(std::string_view bytes) override {
    if (failed_) return false;
    if (prefix_.size() < kSizePrefix) {
      size_t n = std::min(bytes.size(), kSizePrefix - prefix_.size());
      prefix_.append(bytes.substr(0, n));
      bytes.remove_prefix(n);
      if (prefix_.size() < kSizePrefix) return true;
      uint32_t size = 0;
      for (int i = 3; i >= 0; --i)
        size = (size << 8) | static_cast<unsigned char>(prefix_[static_cast<size_t>(i)]);
      if (size > 0x7FFFFFFFu) return Fail(SizeError(size, 0));
      if (size > max_bytes_) return Fail(TooLargeError());
      size_ = size;
      if (!Begin()) return false;
    }
    if (bytes.empty()) return true;
    if (received_ + bytes.size() > size_) {
      received_ += bytes.size();
      return Fail(SizeError(size_, received_));
    }
    received_ += bytes.size();
    if (type_ == TypeId::kImage) {
      piece_.append(bytes);
    } else if (type_ == TypeId::kNText) {
      ucs2_.Feed(bytes, piece_);
    } else {
      piece_ += sql::FromCodePage(bytes);
    }
    if (piece_.size() >= kStagePiece && !Stage()) return false;
    return true;
  }

  void Finish(ResultSink& sink) override {
    if (!failed_ && prefix_.size() < kSizePrefix) Fail(SizeError(0, 0));
    if (!failed_ && received_ != size_) Fail(SizeError(size_, received_));
    if (!failed_ && type_ == TypeId::kNText) ucs2_.End(piece_);
    if (!failed_ && Stage()) Store();
    Done done;
    if (failed_) {
      sink.Send(error_);
      done.status = kDoneError;
    }
    sink.Finish(done);
  }

 private:
  Message SizeError(uint64_t announced, uint64_t sent) {
    return Error(7124, 1,
                 "The text, ntext, or image data sent (" + std::to_string(sent) +
                     " bytes) does not match the length announced (" + std::to_string(announced) +
                     " bytes).");
  }

  Message TooLargeError() {
    return Error(7119, 1,
                 "Attempting to grow LOB beyond maximum allowed size of " +
                     std::to_string(max_bytes_) + " bytes.");
  }

  Message SqliteError() { return Error(50000, 1, std::string("SQLite: ") + sqlite3_errmsg(db_)); }

  bool Fail(Message m) {
    if (!failed_) error_ = std::move(m);
    failed_ = true;
    Abandon();
    return false;
  }

  bool Exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }

  // Runs one statement with `bind` applied; answers its final step result.
  template <typename Bind>
  int Run(const std::string& sql, Bind bind) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr);
    if (rc == SQLITE_OK) {
      bind(st);
      rc = sqlite3_step(st);
    }
    sqlite3_finalize(st);
    return rc;
  }

  // Opens the savepoint, checks the timestamp once more (another connection
  // may have written since the statement) and readies the staging table.
  bool Begin() {
    if (!Exec("SAVEPOINT tdslite_writetext")) return Fail(SqliteError());
    open_ = true;
    std::optional<std::string> now = CurrentTimestamp(db_, table_, column_, rowid_);
    if (!now) return Fail(Error(7123, 1, "Invalid text, ntext, or image pointer value."));
    if (*now != stamp_) return Fail(StaleError());
    if (!Exec(std::string("CREATE TABLE IF NOT EXISTS ") + kStageTable +
              "(seq INTEGER PRIMARY KEY, data BLOB NOT NULL)") ||
        !Exec(std::string("DELETE FROM ") + kStageTable)) {
      return Fail(SqliteError());
    }
    return true;
  }

  // Moves the piece in memory to the staging table.
  bool Stage() {
    if (piece_.empty()) return true;
    if (staged_ + piece_.size() > max_bytes_) return Fail(TooLargeError());
    int rc = Run(std::string("INSERT INTO ") + kStageTable + "(data) VALUES (?1)",
                 [&](sqlite3_stmt* st) {
                   sqlite3_bind_blob64(st, 1, piece_.data(), piece_.size(), SQLITE_STATIC);
                 });
    if (rc != SQLITE_DONE) return Fail(SqliteError());
    staged_ += piece_.size();
    piece_.clear();
    return true;
  }

  // Calls `use` with each staged piece in order; false when a read fails.
  template <typename Use>
  bool ForEachPiece(Use use) {
    sqlite3_stmt* st = nullptr;
    const std::string select = std::string("SELECT data FROM ") + kStageTable + " ORDER BY seq";
    if (sqlite3_prepare_v2(db_, select.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      sqlite3_finalize(st);
      return false;
    }
    int rc;
    bool ok = true;
    while (ok && (rc = sqlite3_step(st)) == SQLITE_ROW) {
      const char* data = static_cast<const char*>(sqlite3_column_blob(st, 0));
      ok = use(std::string_view(data == nullptr ? "" : data,
                                static_cast<size_t>(sqlite3_column_bytes(st, 0))));
    }
    sqlite3_finalize(st);
    return ok && rc == SQLITE_DONE;
  }

  void Store() {
    const std::string target = "UPDATE " + sql::QuoteIdent(table_) + " SET " +
                               sql::QuoteIdent(column_) + " = ?1 WHERE rowid = ?2";
    int rc;
    if (type_ == TypeId::kImage) {
      // Room for what arrived, then the pieces written into it.
      rc = Run(target, [&](sqlite3_stmt* st) {
        sqlite3_bind_zeroblob64(st, 1, staged_);
        sqlite3_bind_int64(st, 2, rowid_);
      });
      if (rc != SQLITE_DONE) return (void)Fail(SqliteError());
      if (staged_ > 0) {
        sqlite3_blob* blob = nullptr;
        if (sqlite3_blob_open(db_, "main", table_.c_str(), column_.c_str(), rowid_, 1, &blob) !=
            SQLITE_OK) {
          sqlite3_blob_close(blob);
          return (void)Fail(SqliteError());
        }
        int64_t at = 0;
        bool ok = ForEachPiece([&](std::string_view piece) {
          bool written = sqlite3_blob_write(blob, piece.data(), static_cast<int>(piece.size()),
                                            static_cast<int>(at)) == SQLITE_OK;
          at += static_cast<int64_t>(piece.size());
          return written;
        });
        if (sqlite3_blob_close(blob) != SQLITE_OK || !ok) return (void)Fail(SqliteError());
      }
    } else {
      // A text value is bound whole: its converted size, once, at the end.
      std::string text;
      text.reserve(staged_);
      if (!ForEachPiece([&](std::string_view piece) {
            text.append(piece);
            return true;
          }))
        return (void)Fail(SqliteError());
      rc = Run(target, [&](sqlite3_stmt* st) {
        sqlite3_bind_text64(st, 1, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
        sqlite3_bind_int64(st, 2, rowid_);
      });
      if (rc != SQLITE_DONE) return (void)Fail(SqliteError());
    }
    if (!Exec(std::string("DELETE FROM ") + kStageTable) || !Exec("RELEASE tdslite_writetext")) {
      Fail(SqliteError());
      return;
    }
    open_ = false;
  }

  Message StaleError() {
    return Error(7129, 2, "Synchronization time stamp does not agree with text data page values.");
  }

  // Drops whatever was staged or written: the old value stays.
  void Abandon() {
    if (open_) {
      Exec("ROLLBACK TO tdslite_writetext");
      Exec("RELEASE tdslite_writetext");
      open_ = false;
    }
    std::string().swap(piece_);
  }

  sqlite3* db_;
  std::string table_;
  std::string column_;
  TypeId type_;
  int64_t rowid_;
  std::string stamp_;
  uint64_t max_bytes_;
  std::string prefix_;
  uint64_t size_ = 0;
  uint64_t received_ = 0;
  uint64_t staged_ = 0;  // bytes of the value in the staging table
  std::string piece_;    // the value's bytes not yet staged
  Ucs2Decoder ucs2_;
  bool open_ = false;
  bool failed_ = false;
  Message error_;
};

}  // namespace

void TextDigest::Add(std::string_view bytes) {
  length_ += bytes.size();
  uint64_t h = h_;
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, bytes.data() + i, 8);
    h = (h ^ w) * 0x100000001B3ull;
    h ^= h >> 29;
  }
  for (; i < bytes.size(); ++i) {
    h = (h ^ static_cast<unsigned char>(bytes[i])) * 0x100000001B3ull;
    h ^= h >> 29;
  }
  h_ = h;
}

std::string TextDigest::Timestamp() const {
  uint64_t h = h_ ^ (length_ * 0xFF51AFD7ED558CCDull);
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i)
    out[static_cast<size_t>(i)] = static_cast<char>((h >> (8 * i)) & 0xFF);
  return out;
}

std::shared_ptr<LobSource> OpenLobSource(sqlite3* db, const std::string& table,
                                         const std::string& column, int64_t rowid) {
  sqlite3_blob* blob = nullptr;
  if (sqlite3_blob_open(db, "main", table.c_str(), column.c_str(), rowid, 0, &blob) != SQLITE_OK) {
    sqlite3_blob_close(blob);
    return nullptr;
  }
  return std::make_shared<BlobLobSource>(blob);
}

std::string LobTimestamp(LobSource& source) {
  TextDigest digest;
  const int64_t size = source.Size();
  std::string piece;
  for (int64_t at = 0; at < size;) {
    size_t n = static_cast<size_t>(std::min<int64_t>(size - at, kPieceSize));
    piece.resize(n);
    if (!source.Read(at, piece)) return {};
    digest.Add(piece);
    at += static_cast<int64_t>(n);
  }
  return digest.Timestamp();
}

std::unique_ptr<TextWrite> StartWriteText(sqlite3* db, std::string_view sql, Message* error,
                                          uint64_t max_value_bytes) {
  WriteTextStatement w;
  std::string near;
  if (!ParseWriteText(sql, &w, &near)) {
    *error = MakeMessage(102, 1, 15, "Incorrect syntax near '" + near + "'.");
    return nullptr;
  }
  const std::string& table_name = w.table;
  const std::string& column_name = w.column;
  const std::string& pointer = w.pointer;
  const std::string& stamp = w.stamp;
  std::optional<sql::CatalogTable> table = sql::LookupTable(db, table_name);
  if (!table) {
    *error = Error(208, 1, "Invalid object name '" + table_name + "'.");
    return nullptr;
  }
  int column = table->FindColumn(column_name);
  if (column < 0) {
    *error = Error(207, 1, "Invalid column name '" + column_name + "'.");
    return nullptr;
  }
  const sql::CatalogColumn& col = table->columns[static_cast<size_t>(column)];
  TextPointer parsed;
  const bool lob = sql::IsLobType(col.type.id);
  if (!lob || !ParseTextPointer(pointer, &parsed) || parsed.table_hash != NameHash(table->name) ||
      parsed.column_hash != NameHash(col.name)) {
    *error =
        Error(7123, 1, "Invalid text, ntext, or image pointer value " + HexLiteral(pointer) + ".");
    return nullptr;
  }
  std::optional<std::string> now = CurrentTimestamp(db, table->name, col.name, parsed.rowid);
  if (!now) {
    *error =
        Error(7123, 1, "Invalid text, ntext, or image pointer value " + HexLiteral(pointer) + ".");
    return nullptr;
  }
  if (*now != stamp) {
    *error =
        Error(7129, 2, "Synchronization time stamp does not agree with text data page values.");
    return nullptr;
  }
  return std::make_unique<TextWriteImpl>(db, table->name, col.name, col.type.id, parsed.rowid,
                                         stamp, max_value_bytes);
}

std::optional<std::string> TextValueTimestamp(sqlite3* db, const std::string& table,
                                              const std::string& column, int64_t rowid) {
  return CurrentTimestamp(db, table, column, rowid);
}

}  // namespace tdslite
