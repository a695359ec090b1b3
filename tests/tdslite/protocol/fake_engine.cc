// A scripted engine behind the real protocol layer: `tdslite_fake` answers a
// handful of fixed commands with known results, so that the client-driven
// protocol tests check every type's encoding, streaming, messages, DONE bits,
// transactions and attention without depending on the SQL engine.
//
//   types          one row of every type, then a row of NULLs (nullable types)
//   notnull        one row of every fixed-size type declared NOT NULL
//   rows N         N rows (int, varchar(20), float), streamed
//   multi          select 1 / print / insert count 3 / 8134 error, in one batch
//   error          error 208 ending the batch
//   proc           DONEINPROC, RETURNSTATUS 0, DONEPROC
//   use NAME       database change
//   begin tran | commit | rollback
//   anything else  one varchar(max 8000) row echoing the batch text
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tdslite/exec/session.h"

namespace tdslite {

namespace {

std::string Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

// Days since 1900-01-01 for a civil date.
int32_t Days(int y, int m, int d) {
  auto days_from_civil = [](int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
  };
  return days_from_civil(y, m, d) - days_from_civil(1900, 1, 1);
}

// A non-NULL value with `field` set to `v`.
template <typename Field, typename T>
Value NonNull(Field Value::*field, T v) {
  Value x;
  x.is_null = false;
  x.*field = std::move(v);
  return x;
}
Value Int(int64_t v) {
  return NonNull(&Value::i, v);
}
Value Flt(double v) {
  return NonNull(&Value::f, v);
}
Value Str(std::string v) {
  return NonNull(&Value::bytes, std::move(v));
}
Value Dec(__int128 v) {
  return NonNull(&Value::dec, v);
}
// 10^digits - 1: the largest decimal of that precision.
__int128 Nines(int digits) {
  __int128 v = 0;
  for (int i = 0; i < digits; ++i) v = v * 10 + 9;
  return v;
}

Value Dt(int32_t days, uint32_t ticks) {
  return NonNull(&Value::dt, DateTimeValue{days, ticks});
}

ColumnDesc Col(std::string name, TypeId id, int32_t length = 0, uint8_t p = 0, uint8_t s = 0,
               bool nullable = true) {
  ColumnDesc c;
  c.name = std::move(name);
  c.type = {id, length, p, s};
  c.nullable = nullable;
  return c;
}

void Done(ResultSink& sink, uint16_t status, uint64_t count, uint16_t cmd = 0xC1,
          DoneKind kind = DoneKind::kDone) {
  sink.Finish({.kind = kind, .status = status, .current_command = cmd, .row_count = count});
}

class FakeSession : public Session {
 public:
  explicit FakeSession(const SessionInfo& info) : info_(info) {}

  void ExecuteBatch(std::string_view sql, ResultSink& sink) override {
    std::string cmd = Trim(sql);
    std::string lower = cmd;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (lower == "types") return Types(sink);
    if (lower == "notnull") return NotNull(sink);
    if (lower.starts_with("rows ")) return Rows(std::stoll(lower.substr(5)), sink);
    if (lower == "multi") return Multi(sink);
    if (lower == "error") {
      sink.Send({.number = 208,
                 .state = 1,
                 .severity = 16,
                 .text = "Invalid object name 'nosuch'.",
                 .procedure = {},
                 .line = 1});
      return Done(sink, kDoneError, 0, 0);
    }
    if (lower == "proc") {
      sink.Columns(std::vector<ColumnDesc>{Col("x", TypeId::kInt)});
      Value v = Int(7);
      sink.Row({&v, 1});
      Done(sink, kDoneCount, 1, 0xC1, DoneKind::kDoneInProc);
      sink.ReturnStatus(0);
      return Done(sink, kDoneFinal, 0, 0, DoneKind::kDoneProc);
    }
    if (lower.starts_with("use ")) {
      std::string name = Trim(cmd.substr(4));
      sink.DatabaseChanged(db_, name);
      db_ = name;
      sink.Send({.number = 5701,
                 .state = 1,
                 .severity = 0,
                 .text = "Changed database context to '" + name + "'.",
                 .procedure = {},
                 .line = 1});
      return Done(sink, kDoneFinal, 0, 0);
    }
    if (lower == "begin tran") return Transaction(TransactionEvent::kBegin, sink);
    if (lower == "commit") return Transaction(TransactionEvent::kCommit, sink);
    if (lower == "rollback") return Transaction(TransactionEvent::kRollback, sink);
    std::vector<ColumnDesc> cols{Col("sql", TypeId::kVarChar, 8000)};
    cols.push_back(Col("nsql", TypeId::kNVarChar, 4000));
    cols.push_back(Col("spid", TypeId::kInt));
    cols.push_back(Col("odbc", TypeId::kInt));
    sink.Columns(cols);
    Value row[4] = {Str(std::string(sql)), Str(std::string(sql)), Int(info_.spid),
                    Int(info_.odbc ? 1 : 0)};
    if (sink.Row(row)) Done(sink, kDoneCount, 1);
  }

  void Transaction(TransactionEvent event, ResultSink& sink) override {
    if (event == TransactionEvent::kBegin) {
      in_tran_ = true;
      sink.TransactionChanged(event, ++descriptor_);
      return Done(sink, kDoneFinal, 0, 0);
    }
    if (!in_tran_) {
      bool commit = event == TransactionEvent::kCommit;
      sink.Send({.number = commit ? 3902 : 3903,
                 .state = 1,
                 .severity = 16,
                 .text = std::string("The ") + (commit ? "COMMIT" : "ROLLBACK") +
                         " TRANSACTION request has no corresponding BEGIN TRANSACTION.",
                 .procedure = {},
                 .line = 1});
      return Done(sink, kDoneError, 0, 0);
    }
    in_tran_ = false;
    sink.TransactionChanged(event, 0);
    Done(sink, kDoneFinal, 0, 0);
  }

  int32_t TextSize() const override { return 0; }
  const std::string& DatabaseName() const override { return db_; }

 private:
  static std::vector<ColumnDesc> TypeColumns() {
    ColumnDesc text = Col("c_text", TypeId::kText);
    text.table = "tt";
    return {Col("c_tinyint", TypeId::kTinyInt),
            Col("c_smallint", TypeId::kSmallInt),
            Col("c_int", TypeId::kInt),
            Col("c_bigint", TypeId::kBigInt),
            Col("c_bit", TypeId::kBit),
            Col("c_real", TypeId::kReal),
            Col("c_float", TypeId::kFloat),
            Col("c_smallmoney", TypeId::kSmallMoney),
            Col("c_money", TypeId::kMoney),
            Col("c_smalldatetime", TypeId::kSmallDateTime),
            Col("c_datetime", TypeId::kDateTime),
            Col("c_decimal", TypeId::kDecimal, 0, 38, 10),
            Col("c_numeric", TypeId::kNumeric, 0, 12, 3),
            Col("c_char", TypeId::kChar, 10),
            Col("c_varchar", TypeId::kVarChar, 20),
            Col("c_nchar", TypeId::kNChar, 5),
            Col("c_nvarchar", TypeId::kNVarChar, 20),
            Col("c_binary", TypeId::kBinary, 4),
            Col("c_varbinary", TypeId::kVarBinary, 10),
            text,
            Col("c_ntext", TypeId::kNText),
            Col("c_image", TypeId::kImage),
            Col("", TypeId::kInt)};
  }

  static std::vector<Value> TypeValues() {
    Value text = Str("caf\xc3\xa9 \xe2\x82\xac text");
    text.text_pointer =
        std::string("\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f", 16);
    text.text_timestamp = std::string("\x00\x01\x02\x03\x04\x05\x06\x07", 8);
    // 2024-02-29 13:45:07.123 is tick 14852137 (= round(49507.123 * 300)).
    return {Int(255),
            Int(-32768),
            Int(-2147483647 - 1),
            Int(INT64_MIN),
            Int(1),
            Flt(1.5),
            Flt(-2.25e100),
            Int(-2147483647 - 1),
            Int(-12345678),
            Dt(Days(2079, 6, 6), 23 * 60 * 18000 + 59 * 18000),
            Dt(Days(2024, 2, 29), 14852137),
            Dec(Nines(38)),
            Dec(-123456789),
            Str("ab        "),
            Str("gr\xc3\xbc\xc3\x9f \xe2\x82\xac "),
            Str("\xc3\xa9t\xc3\xa9 "),
            Str("\xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80"),
            Str(std::string("\x00\x01\xfe\x00", 4)),
            Str(std::string("\x00\x00", 2)),
            text,
            Str("\xe6\x97\xa5\xe6\x9c\xac ntext"),
            Str(std::string("\x00\xff\x00", 3)),
            Int(42)};
  }

  void Types(ResultSink& sink) {
    std::vector<ColumnDesc> cols = TypeColumns();
    sink.Columns(cols);
    std::vector<Value> values = TypeValues();
    if (!sink.Row(values)) return;
    std::vector<Value> nulls(cols.size());
    if (!sink.Row(nulls)) return;
    Done(sink, kDoneCount, 2);
  }

  void NotNull(ResultSink& sink) {
    std::vector<ColumnDesc> cols = TypeColumns();
    cols.resize(11);
    for (ColumnDesc& c : cols) c.nullable = false;
    sink.Columns(cols);
    std::vector<Value> values = TypeValues();
    values.resize(11);
    if (!sink.Row(values)) return;
    Done(sink, kDoneCount, 1);
  }

  void Rows(int64_t n, ResultSink& sink) {
    sink.Columns(std::vector<ColumnDesc>{Col("id", TypeId::kInt, 0, 0, 0, false),
                                         Col("name", TypeId::kVarChar, 20),
                                         Col("value", TypeId::kFloat)});
    Value row[3] = {Int(0), Str(""), Flt(0)};
    for (int64_t i = 0; i < n; ++i) {
      if (sink.Cancelled()) return;
      row[0].i = i;
      row[1].bytes = "row " + std::to_string(i);
      row[2].f = i * 0.5;
      if (!sink.Row(row)) return;
    }
    Done(sink, kDoneCount, static_cast<uint64_t>(n));
  }

  void Multi(ResultSink& sink) {
    sink.Columns(std::vector<ColumnDesc>{Col("", TypeId::kInt, 0, 0, 0, false)});
    Value one = Int(1);
    if (!sink.Row({&one, 1})) return;
    Done(sink, kDoneCount, 1);
    sink.Send(
        {.number = 0, .state = 1, .severity = 0, .text = "hello", .procedure = {}, .line = 2});
    Done(sink, kDoneFinal, 0, 0);
    Done(sink, kDoneCount, 3, 0xC3);
    sink.Send({.number = 8134,
               .state = 1,
               .severity = 16,
               .text = "Divide by zero error encountered.",
               .procedure = {},
               .line = 4});
    Done(sink, kDoneError, 0);
  }

  SessionInfo info_;
  std::string db_ = "master";
  bool in_tran_ = false;
  uint64_t descriptor_ = 0;
};

class FakeEngine : public Engine {
 public:
  std::unique_ptr<Session> NewSession(const SessionInfo& info) override {
    return std::make_unique<FakeSession>(info);
  }
  void Flush() override {}
};

}  // namespace

std::unique_ptr<Engine> Engine::Open(const ServerConfig&, std::string*) {
  return std::make_unique<FakeEngine>();
}

}  // namespace tdslite
