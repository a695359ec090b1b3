// The boundary between tdslite's protocol layer and its SQL engine.
//
// The protocol layer (tdslite/protocol) owns sockets, packets, login and the
// encoding of tokens for the negotiated TDS version. The engine (tdslite/sql
// and tdslite/exec) owns the catalog, parsing, typing and execution against
// SQLite. They meet here: the protocol layer hands a session a batch of SQL
// text (already decoded from UCS-2 to UTF-8) and a ResultSink; the session
// reports everything the client must see through the sink, in order.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tdslite {

// SQL Server data types tdslite can store and send. The protocol layer maps
// each to the wire type for the negotiated TDS version.
enum class TypeId : uint8_t {
  kTinyInt,
  kSmallInt,
  kInt,
  kBigInt,
  kBit,
  kReal,
  kFloat,
  kSmallMoney,
  kMoney,
  kSmallDateTime,
  kDateTime,
  kDecimal,
  kNumeric,
  kChar,
  kVarChar,
  kNChar,
  kNVarChar,
  kBinary,
  kVarBinary,
  kText,
  kNText,
  kImage,
};

// A column's declared type. `length` is the declared length in characters for
// char/varchar/nchar/nvarchar (1..8000, nchar/nvarchar 1..4000) and in bytes for
// binary/varbinary; it is unused for fixed-size types and text/ntext/image.
struct ColumnType {
  TypeId id = TypeId::kInt;
  int32_t length = 0;
  uint8_t precision = 0;  // decimal/numeric only (1..38)
  uint8_t scale = 0;      // decimal/numeric only (0..precision)
};

struct ColumnDesc {
  std::string name;  // UTF-8; empty for an unnamed expression column
  ColumnType type;
  bool nullable = true;
  bool identity = false;
  // For text/ntext/image columns read straight from a table: the table the
  // value lives in, so that text pointers can be made (see TextPointer).
  std::string table;
};

// Calendar values as SQL Server keeps them: days since 1900-01-01 (negative
// before it) and 1/300-second ticks since midnight (0..25919999).
struct DateTimeValue {
  int32_t days = 0;
  uint32_t ticks = 0;
};

// A text/image value read from its row in pieces, so that a large value
// never has to be held whole. The sink asks for the bytes while it encodes
// the row, before the next row is fetched.
class LobSource {
 public:
  virtual ~LobSource() = default;
  // The stored value's size in bytes.
  virtual int64_t Size() = 0;
  // Reads out.size() bytes starting at `offset` (offset + out.size() <=
  // Size()). Answers false when the row is gone or SQLite fails.
  virtual bool Read(int64_t offset, std::span<char> out) = 0;
};

// One value of a row. The active member follows the column's TypeId:
//  - integer types and bit: `i`
//  - real/float: `f`
//  - smallmoney/money: `i`, the amount times 10000
//  - decimal/numeric: `dec`, the unscaled integer (value = dec / 10^scale)
//  - smalldatetime/datetime: `dt` (smalldatetime: ticks a multiple of 18000)
//  - char/varchar/text/nchar/nvarchar/ntext: `bytes` holds UTF-8 text
//  - binary/varbinary/image: `bytes` holds the raw bytes
// char(n)/nchar(n) values arrive already padded with blanks to n characters.
struct Value {
  bool is_null = true;
  int64_t i = 0;
  double f = 0;
  __int128 dec = 0;
  DateTimeValue dt;
  std::string bytes;
  // text/ntext/image only: the 16-byte text pointer and 8-byte timestamp the
  // protocol layer sends before a non-NULL value. Empty when not applicable.
  std::string text_pointer;
  std::string text_timestamp;
  // image only, instead of `bytes`: the stored value, read in pieces.
  std::shared_ptr<LobSource> lob;
};

// An ERROR or INFO token. `severity` is SQL Server's class: above 10 the
// protocol layer sends ERROR, otherwise INFO.
struct Message {
  int32_t number = 0;
  uint8_t state = 1;
  uint8_t severity = 0;
  std::string text;       // UTF-8
  std::string procedure;  // UTF-8, empty outside a procedure
  int32_t line = 1;
};

// DONE token status bits (TDS values). DONE_MORE is not the engine's business:
// the sink sets it itself, because only the sink knows whether another token
// follows in the same response.
enum DoneStatus : uint16_t {
  kDoneFinal = 0x00,
  kDoneError = 0x02,
  kDoneInXact = 0x04,
  kDoneCount = 0x10,
  kDoneAttn = 0x20,
  kDoneSrvError = 0x100,
};

enum class DoneKind : uint8_t {
  kDone,        // a statement of the batch ended (DONE)
  kDoneInProc,  // a statement inside a procedure ended (DONEINPROC)
  kDoneProc,    // a procedure call ended (DONEPROC)
};

struct Done {
  DoneKind kind = DoneKind::kDone;
  uint16_t status = kDoneFinal;  // DoneStatus bits
  uint16_t current_command = 0;  // SQL Server's CurCmd: 0xC1 select, 0xC3 insert, ...
  uint64_t row_count = 0;        // meaningful when status has kDoneCount
};

enum class TransactionEvent : uint8_t { kBegin, kCommit, kRollback };

// Everything a statement produces, in order. The protocol layer implements it
// and streams tokens as they come: a session never holds a result's rows.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  // COLMETADATA: a result set begins.
  virtual void Columns(std::span<const ColumnDesc> columns) = 0;
  // ROW. Answers false when the client cancelled (attention) or went away: the
  // session then stops the batch at once and emits nothing more.
  virtual bool Row(std::span<const Value> values) = 0;
  virtual void Send(const Message& message) = 0;
  virtual void Finish(const Done& done) = 0;
  virtual void ReturnStatus(int32_t status) = 0;
  // ENVCHANGE for `use` (database) and transaction begin/commit/rollback.
  // `descriptor` is the 8-byte transaction descriptor (0 after commit/rollback).
  virtual void DatabaseChanged(std::string_view old_name, std::string_view new_name) = 0;
  virtual void TransactionChanged(TransactionEvent event, uint64_t descriptor) = 0;
  // Polled between rows and statements; true once an attention has arrived.
  virtual bool Cancelled() = 0;
  // True when Row() reads Value::lob itself; otherwise the session fills
  // `bytes` with the whole value.
  virtual bool AcceptsLobSource() const { return false; }
};

// Server-wide settings from the command line.
struct ServerConfig {
  std::string database_path;  // SQLite file; empty: a private temporary file
  std::string database_name = "master";
  std::string server_name;  // @@servername
  std::string file_root = ".";
  bool verbose = false;
};

// Who is logged in on a session.
struct SessionInfo {
  int32_t spid = 0;
  std::string login;
  std::string app_name;
  std::string host_name;
  uint32_t tds_version = 0x70000000;  // as in LOGIN7, e.g. 0x74000004
  // LOGIN7 carried the fODBC flag (tsql, python3-tds; not db-lib): SQL Server
  // then starts the session with ODBC defaults (unlimited TEXTSIZE, ANSI
  // options on) instead of DB-Library's (TEXTSIZE 4096, ANSI options off).
  bool odbc = false;
};

class Engine;

// The data of a WRITETEXT BULK: the session accepted the statement, and the
// client's BULK message follows. The protocol layer hands it every byte of
// that message in order (the 4-byte size first), then calls Finish. Destroyed
// without Finish (client gone, attention), it leaves the old value intact.
class TextWrite {
 public:
  virtual ~TextWrite() = default;
  // Answers false when the transfer has already failed; the caller may keep
  // feeding (the bytes are then dropped) so that the message is consumed.
  virtual bool Append(std::string_view bytes) = 0;
  // The message ended: stores the value, or reports why not, and finishes
  // the reply with a DONE.
  virtual void Finish(ResultSink& sink) = 0;
};

// One client connection's SQL state: its own SQLite connection, its SET
// options, its transaction and its @@ variables. Used by one thread at a time.
class Session {
 public:
  virtual ~Session() = default;
  // Runs one SQL batch (UTF-8). Reports every result, message and DONE through
  // `sink`; the last thing reported is a Finish() unless the sink cancelled.
  virtual void ExecuteBatch(std::string_view sql, ResultSink& sink) = 0;
  // A transaction manager request (TDS packet type 14).
  virtual void Transaction(TransactionEvent event, ResultSink& sink) = 0;
  // `set textsize` as currently in force for this session (bytes).
  virtual int32_t TextSize() const = 0;
  virtual const std::string& DatabaseName() const = 0;
  // After a batch that was `writetext bulk ...` and accepted: the transfer
  // waiting for the BULK message. Null otherwise. The session keeps none.
  virtual std::unique_ptr<TextWrite> TakeTextWrite() { return nullptr; }
};

// The shared database: opened once per server process.
class Engine {
 public:
  virtual ~Engine() = default;
  // Opens (creating when missing) the SQLite database. On failure answers null
  // and puts a one-line reason into *error.
  static std::unique_ptr<Engine> Open(const ServerConfig& config, std::string* error);
  virtual std::unique_ptr<Session> NewSession(const SessionInfo& info) = 0;
  // Makes sure everything committed is on disk; called at shutdown.
  virtual void Flush() = 0;
};

}  // namespace tdslite
