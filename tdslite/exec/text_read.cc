#include "text_read.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <optional>
#include <vector>

#include "tdslite/common/text.h"
#include "tdslite/common/text_pointer.h"
#include "tdslite/sql/catalog.h"
#include "tdslite/sql/types.h"
#include "text_statements.h"
#include "text_write.h"

namespace tdslite {
namespace {

// Bytes of the stored value read at a time while walking it.
constexpr int64_t kWalkPiece = 256 * 1024;
constexpr uint16_t kCmdReadText = 0x011D;
constexpr int32_t kDefaultTextSize = 4096;

Message Error(int number, int state, int severity, std::string text) {
  return MakeMessage(number, state, severity, std::move(text));
}

void Fail(ResultSink& sink, const Message& m) {
  sink.Send(m);
  Done d;
  d.status = kDoneError;
  d.current_command = kCmdReadText;
  sink.Finish(d);
}

// Length of the UTF-8 sequence a lead byte starts (1 for stray bytes).
int SequenceLength(unsigned char b) {
  if (b < 0xC0) return 1;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  return 4;
}

// READTEXT units of one stored character: ntext counts UTF-16 units.
int UnitsOf(int sequence, bool wide) {
  return wide && sequence == 4 ? 2 : 1;
}

// Walks the stored UTF-8 value in pieces.
class Walker {
 public:
  Walker(LobSource& source, int64_t offset) : source_(source), offset_(offset) {}
  // The length of the sequence at the current offset; 0 at the end.
  int Peek() {
    if (offset_ >= source_.Size()) return 0;
    if (offset_ < start_ || offset_ >= start_ + static_cast<int64_t>(piece_.size())) Load();
    if (piece_.empty()) return 0;
    return SequenceLength(
        static_cast<unsigned char>(piece_[static_cast<size_t>(offset_ - start_)]));
  }
  // The bytes of the sequence at the current offset (length n).
  std::string_view Take(int n) {
    if (offset_ + n > start_ + static_cast<int64_t>(piece_.size())) Load();
    const int64_t avail = std::min<int64_t>(n, source_.Size() - offset_);
    std::string_view s(piece_.data() + (offset_ - start_), static_cast<size_t>(avail));
    offset_ += avail;
    return s;
  }
  int64_t Offset() const { return offset_; }
  bool Failed() const { return failed_; }

 private:
  void Load() {
    start_ = offset_;
    const int64_t n = std::min<int64_t>(kWalkPiece, source_.Size() - offset_);
    piece_.resize(static_cast<size_t>(std::max<int64_t>(n, 0)));
    if (!piece_.empty() && !source_.Read(start_, piece_)) {
      failed_ = true;
      piece_.clear();
    }
  }
  LobSource& source_;
  int64_t offset_;
  int64_t start_ = 0;
  std::string piece_;
  bool failed_ = false;
};

// A lone UTF-16 unit written as the protocol layer's ntext encoder takes it.
void PutLoneUnit(std::string& out, uint32_t unit) {
  out += static_cast<char>(0xE0 | (unit >> 12));
  out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
  out += static_cast<char>(0x80 | (unit & 0x3F));
}

void SurrogatesOf(std::string_view four, uint32_t* high, uint32_t* low) {
  uint32_t cp = (static_cast<unsigned char>(four[0]) & 0x07u) << 18 |
                (static_cast<unsigned char>(four[1]) & 0x3Fu) << 12 |
                (static_cast<unsigned char>(four[2]) & 0x3Fu) << 6 |
                (static_cast<unsigned char>(four[3]) & 0x3Fu);
  cp -= 0x10000;
  *high = 0xD800 + (cp >> 10);
  *low = 0xDC00 + (cp & 0x3FF);
}

}  // namespace

void RunReadText(sqlite3* db, std::string_view sql, int32_t text_size, uint64_t commits,
                 ReadTextCursor* cursor, ResultSink& sink) {
  ReadTextStatement r;
  std::string near;
  if (!ParseReadText(sql, &r, &near)) {
    return Fail(sink, Error(102, 1, 15, "Incorrect syntax near '" + near + "'."));
  }
  const std::optional<int64_t> offset = r.offset;
  const std::optional<int64_t> size = r.size;
  const std::string* pointer = &r.pointer;
  const std::string& table_name = r.table;
  const std::string& column_name = r.column;
  std::optional<sql::CatalogTable> table = sql::LookupTable(db, table_name);
  if (!table) return Fail(sink, Error(208, 1, 16, "Invalid object name '" + table_name + "'."));
  const int column = table->FindColumn(column_name);
  if (column < 0)
    return Fail(sink, Error(207, 1, 16, "Invalid column name '" + column_name + "'."));
  const sql::CatalogColumn& col = table->columns[static_cast<size_t>(column)];
  const Message invalid_pointer = Error(
      7123, 1, 16, "Invalid text, ntext, or image pointer value " + HexLiteral(*pointer) + ".");
  TextPointer parsed;
  if (!sql::IsLobType(col.type.id) || !ParseTextPointer(*pointer, &parsed) ||
      parsed.table_hash != NameHash(table->name) || parsed.column_hash != NameHash(col.name)) {
    return Fail(sink, invalid_pointer);
  }
  if (*offset < 0 || *size < 0) {
    return Fail(sink, Error(7124, 1, 16,
                            "The offset and length specified in the READTEXT statement is "
                            "greater than the actual data length of 0."));
  }
  const bool image = col.type.id == TypeId::kImage;
  const bool wide = col.type.id == TypeId::kNText;
  const int64_t own_changes = sqlite3_total_changes64(db);
  const bool same = cursor->source && cursor->table == table->name && cursor->column == col.name &&
                    cursor->rowid == parsed.rowid && cursor->commits == commits &&
                    cursor->own_changes == own_changes;
  if (!same) {
    // A value met for the first time since the database last changed: its
    // timestamp, and its length in units, in one pass. Closing the value
    // kept open ends its read transaction, so that another connection's
    // change is seen (and its new timestamp reported, as SQL Server does).
    cursor->source.reset();
    std::optional<std::string> now = TextValueTimestamp(db, table->name, col.name, parsed.rowid);
    std::shared_ptr<LobSource> source = OpenLobSource(db, table->name, col.name, parsed.rowid);
    if (!now || !source) return Fail(sink, invalid_pointer);
    int64_t units = source->Size();
    if (!image) {
      units = 0;
      Walker walk(*source, 0);
      for (int n = walk.Peek(); n > 0; n = walk.Peek()) {
        walk.Take(n);
        units += UnitsOf(n, wide);
      }
      if (walk.Failed()) return Fail(sink, invalid_pointer);
    }
    *cursor = ReadTextCursor{};
    cursor->source = std::move(source);
    cursor->table = table->name;
    cursor->column = col.name;
    cursor->rowid = parsed.rowid;
    cursor->commits = commits;
    cursor->own_changes = own_changes;
    cursor->stored_size = cursor->source->Size();
    cursor->stamp = *now;
    cursor->units = units;
  }
  LobSource* source = cursor->source.get();
  int64_t want = *size;
  if (want == 0) {
    const int64_t bytes = text_size > 0 ? text_size : kDefaultTextSize;
    want =
        std::min<int64_t>(wide ? bytes / 2 : bytes, std::max<int64_t>(cursor->units - *offset, 0));
  }
  if (*offset > cursor->units || want > cursor->units - *offset) {
    return Fail(sink, Error(7124, 1, 16,
                            "The offset and length specified in the READTEXT statement is "
                            "greater than the actual data length of " +
                                std::to_string(cursor->units) + "."));
  }

  Value v;
  v.is_null = false;
  v.text_pointer = *pointer;
  v.text_timestamp = cursor->stamp;
  if (image) {
    v.bytes.resize(static_cast<size_t>(want));
    if (want > 0 && !source->Read(*offset, v.bytes)) return Fail(sink, invalid_pointer);
  } else {
    // From the known position nearest before the offset.
    if (*offset < cursor->unit) {
      cursor->unit = 0;
      cursor->offset = 0;
    }
    Walker walk(*source, cursor->offset);
    int64_t unit = cursor->unit;
    // A pair whose first unit lies before the offset gives its second one.
    bool low_first = false;
    while (unit < *offset) {
      const int n = walk.Peek();
      if (n == 0) break;
      if (UnitsOf(n, wide) == 2 && unit + 1 == *offset) {
        low_first = true;
        break;
      }
      walk.Take(n);
      unit += UnitsOf(n, wide);
    }
    int64_t taken = 0;
    if (low_first) {
      uint32_t high = 0, low = 0;
      SurrogatesOf(walk.Take(4), &high, &low);
      PutLoneUnit(v.bytes, low);
      taken = 1;
      unit = *offset + 1;
    }
    cursor->unit = unit;
    cursor->offset = walk.Offset();
    while (taken < want) {
      const int n = walk.Peek();
      if (n == 0) break;
      if (UnitsOf(n, wide) == 2 && taken + 1 == want) {
        // The piece ends between the two units of a pair: its first one.
        uint32_t high = 0, low = 0;
        std::string_view four = walk.Take(4);
        SurrogatesOf(four, &high, &low);
        PutLoneUnit(v.bytes, high);
        taken += 1;
        break;
      }
      v.bytes.append(walk.Take(n));
      taken += UnitsOf(n, wide);
      cursor->unit = *offset + taken;
      cursor->offset = walk.Offset();
    }
    if (walk.Failed()) return Fail(sink, invalid_pointer);
  }

  ColumnDesc desc;
  desc.name = col.name;
  desc.type = col.type;
  desc.nullable = true;
  desc.table = table->name;
  sink.Columns(std::span<const ColumnDesc>(&desc, 1));
  sink.Row(std::span<const Value>(&v, 1));
  Done d;
  d.status = kDoneCount;
  d.current_command = kCmdReadText;
  d.row_count = 1;
  sink.Finish(d);
}

}  // namespace tdslite
