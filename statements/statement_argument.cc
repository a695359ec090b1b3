// The statement argument: the SQL text itself, or the name of a REXX
// variable that holds it.
#include <cstring>

#include "statements/statements.h"

namespace ktdb {

bool StatementArgumentFits(std::string_view argument) {
  return argument.size() < kNameBufferSize && argument.find('\0') == std::string_view::npos;
}

void NoteStatementTooLong(std::string_view name) {
  // Sending the first 32765 bytes would run another statement than the
  // script's (a delete without its where clause): nothing is sent.
  NotePackageError(kValueCutError, {"The statement variable ", name,
                                    " is longer than 32765 bytes: nothing was sent"});
}

void NoteNoStatement(std::string_view name, bool unset) {
  NotePackageError(kNoStatementError, {"The statement variable ", name,
                                       unset ? " is not set" : " is empty", ": nothing was sent"});
}

TakenStatement TakeStatement(std::string_view argument) {
  constexpr TakenStatement kRefused{StatementTaken::kRefused, 0};
  // The caller has checked the argument with StatementArgumentFits.
  if (!CopyBounded(NameBuffer, argument)) return kRefused;
  // A blank anywhere (a tab is no blank) makes the argument the statement.
  if (argument.find(' ') != std::string_view::npos) {
    return {StatementTaken::kTaken, argument.size()};
  }

  // A single word names a variable; a stem name, and a word that is no
  // variable name at all (a constant such as 1abc), are refused without
  // asking the pool.
  if (argument.back() == '.') return kRefused;
  for (std::size_t i = 0; i < argument.size(); ++i) NameBuffer[i] = UpperAscii(NameBuffer[i]);
  // A direct fetch: a compound name is taken literally.
  const std::string_view name(NameBuffer.data(), argument.size());
  if (!IsVariableName(name)) return kRefused;
  bool unset = false;
  bool cut = false;
  const std::optional<std::size_t> length = FetchVariable(name, &unset, &cut);
  if (!length) return kRefused;
  if (cut) {
    NoteStatementTooLong(name);
    return {StatementTaken::kNotSet, 0};
  }
  // An unset variable delivers its own name, which is no statement.
  if (unset || *length == 0) {
    NoteNoStatement(name, unset);
    return {StatementTaken::kNotSet, 0};
  }
  // A NUL byte would cut the statement dbcmd sends.
  if (std::memchr(ValueBuffer.data(), '\0', *length) != nullptr) return kRefused;
  // At most kFetchLimit bytes: always fits.
  if (!CopyBounded(NameBuffer, std::string_view(ValueBuffer.data(), *length))) return kRefused;
  return {StatementTaken::kTaken, *length};
}

std::optional<RowCall> TakeRowCall(const Arguments& args, std::size_t longestTail) {
  RowCall call;
  call.statement = args.Text(1);
  call.stem = args.Text(2);
  if (!StatementArgumentFits(call.statement) ||
      call.stem.size() + longestTail >= kRowStemBufferSize) {
    return std::nullopt;
  }
  if (args.Present(3)) ParseDecimal(args.Text(3), call.maximumRows);
  if (call.maximumRows < 1) call.maximumRows = 1;
  SetNullSubstitute(args.Text(4));
  call.nullText = std::string_view(NullSubstitute.data());
  return call;
}

void SetNullSubstitute(std::string_view argument) {
  // The one first-character rule: a whole UTF-8 sequence, or the first byte
  // alone when the sequence is not whole.
  NullSubstitute[0] = '\0';
  CopyBounded(NullSubstitute, FirstCharacter(argument));
}

}  // namespace ktdb
