// WAITFOR DELAY and WAITFOR TIME: the session sleeps in the sink, which
// ends the wait as soon as the client cancels or goes away.
#include "session_impl.h"

namespace tdslite::session_detail {

SessionImpl::Flow SessionImpl::RunWaitFor(const Stmt& stmt, ResultSink& sink) {
  std::optional<std::string> text;
  ColumnType type;
  int64_t serial = 0;
  Message error;
  bool abort = false;
  if (!Evaluate(stmt, *stmt.args[0], std::nullopt, &text, &type, &serial, &error, &abort)) {
    return Failed(sink, stmt, error, 0, abort);
  }
  std::optional<int64_t> at;  // milliseconds since midnight
  if (text && (type.id == TypeId::kDateTime || type.id == TypeId::kSmallDateTime)) {
    // A datetime variable holds a time of day when its date is 1900-01-01.
    if (serial >= 0 && serial < sql::kTicksPerDay) at = serial * 10 / 3;
    text = sql::FormatDateTime(serial, 121, type.id == TypeId::kSmallDateTime);
  } else if (text && (type.id == TypeId::kChar || type.id == TypeId::kVarChar ||
                      type.id == TypeId::kNChar || type.id == TypeId::kNVarChar)) {
    at = sql::ParseWaitTime(*text);
  }
  if (!at) {
    return Failed(sink, stmt, MakeMessage(148, 1, 15, sql::WaitTimeError(text.value_or(""))), 0,
                  false);
  }
  constexpr int64_t kDayMs = sql::kTicksPerDay * 10 / 3;
  int64_t wait = *at;  // DELAY: the time string is the length of the wait
  if (stmt.on) {
    // TIME: until the next time the clock shows it, today or tomorrow.
    const int64_t now = sql::CurrentDateTime() % sql::kTicksPerDay * 10 / 3;
    wait = ((*at - now) % kDayMs + kDayMs) % kDayMs;
  }
  if (!sink.Pause(wait)) return Flow::kStop;
  return Ok(sink, 0);
}

}  // namespace tdslite::session_detail
