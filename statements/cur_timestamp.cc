// KTCurTimeStamp([style]): the server's current date and time as the REXX
// result, formatted by the server in one of its date styles:
// select convert(char(26), getdate(), style).
//
// A style that is absent or not a decimal number of at most 9 digits is 0;
// any other number, negative ones included, is passed on for the server to
// judge. Every failure (a style the server refuses, a lost connection) gives
// the empty result. The call publishes nothing: the KT.! variables keep what
// the previous call left in them.
#include <cstring>

#include "statements/statements.h"

namespace ktdb {

std::array<char, kTimeBufferSize> TimeBuffer = {};

namespace {

constexpr std::string_view kQueryStart = "select convert(char(26), getdate(), ";
constexpr std::string_view kQueryEnd = ")";

// The time text of the row just read: the bound column, without blanks.
std::string_view BoundTime() {
  std::string_view text(TimeBuffer.data(), strnlen(TimeBuffer.data(), TimeBuffer.size()));
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

APIRET CurTimeStamp(const Arguments& args, Result& result) {
  std::int32_t style = 0;
  if (args.Present(1)) ParseDecimal(args.Text(1), style);

  // The statement preamble: the handlers (they only record what DB-Library
  // reports, which this call does not publish; without them FreeTDS ends
  // the process on some errors), dbcancel, an empty command buffer (nothing
  // an earlier call appended goes out with the query) and reset errors.
  StatementPreamble();
  LineWriter query(NameBuffer, kNameBufferSize - 1);
  query.Append(kQueryStart);
  query.Append(Decimal(style).View());
  query.Append(kQueryEnd);
  query.Finish();  // a few dozen bytes: always fits

  if (dbcmd(MainConnection, NameBuffer.data()) != SUCCEED) return LeaveCall(kCallRan);
  if (dbsqlexec(MainConnection) != SUCCEED) return LeaveCall(kCallRan);
  if (dbresults(MainConnection) != SUCCEED) return LeaveCall(kCallRan);
  // Bound with the buffer's size: a longer text than char(26) allows is cut
  // by DB-Library, never written past the buffer.
  TimeBuffer[0] = '\0';
  if (dbbind(MainConnection, 1, NTBSTRINGBIND, static_cast<DBINT>(TimeBuffer.size()),
             reinterpret_cast<BYTE*>(TimeBuffer.data())) != SUCCEED) {
    return LeaveCall(kCallRan);
  }
  // Only a row holds a time; a failed read (a lost connection) is no row.
  if (dbnextrow(MainConnection) != REG_ROW) return LeaveCall(kCallRan);
  result.SetAllocated(BoundTime());
  // Reading on to the end of the one-row reply leaves the connection idle,
  // so that the next call's dbcancel need not interrupt the server.
  dbnextrow(MainConnection);
  return LeaveCall(kCallRan);
}

}  // namespace ktdb
