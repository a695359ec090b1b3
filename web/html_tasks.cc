// KTHTML(stem, [action], [option]): makes, runs or drops one of the server's
// web tasks.
//
// The script puts each parameter it wants into a variable under its stem
// (WEB.!QUERY, WEB.!BOLD ...). The package reads them in a fixed order,
// leaves out those not set (empty, or holding their own name, which is what
// REXX hands back for a variable never given a value), and sends one call of
// sp_makewebtask, sp_runwebtask or sp_dropwebtask with the others as named
// parameters. A value sent between single quotes has each quote inside it
// doubled, so that the server receives it as the script gave it; a value
// sent bare must be a number.
#include <cstring>

#include "server/server.h"
#include "web/web.h"

namespace ktdb {
namespace {

// The option: one character and a terminator.
constexpr std::size_t kOptionSize = 2;
// Entries of kWebTaskParameters with a rule of their own.
constexpr std::size_t kProcName = 0;
constexpr std::size_t kOutputFile = 1;
constexpr std::size_t kQuery = 2;

std::string_view ProcedureOf(WebAction action) {
  switch (action) {
    case WebAction::kDrop:
      return "sp_dropwebtask ";
    case WebAction::kRun:
      return "sp_runwebtask ";
    default:
      return "sp_makewebtask ";
  }
}

// Whether entry `index` is appended for the action and identification.
bool Appended(std::size_t index, WebAction action, WebIdentification identification) {
  const bool runOrDrop = action == WebAction::kRun || action == WebAction::kDrop;
  if (index == kProcName) {
    return action == WebAction::kMake ||
           (runOrDrop && identification != WebIdentification::kOutputFile);
  }
  if (index == kOutputFile) {
    return action == WebAction::kMake ||
           (runOrDrop && identification != WebIdentification::kProcName);
  }
  return !runOrDrop;
}

// Appends texts to NameBuffer, keeping room for the terminator.
class Piece {
 public:
  Piece& Add(std::string_view text) {
    if (!fits_ || text.size() >= NameBuffer.size() - length_) {
      fits_ = false;
      return *this;
    }
    std::memcpy(NameBuffer.data() + length_, text.data(), text.size());
    length_ += text.size();
    NameBuffer[length_] = '\0';
    return *this;
  }
  // Adds the text with every single quote doubled.
  Piece& AddQuoted(std::string_view text) {
    for (std::size_t start = 0; fits_ && start <= text.size();) {
      const std::size_t quote = text.find('\'', start);
      if (quote == std::string_view::npos) return Add(text.substr(start));
      Add(text.substr(start, quote + 1 - start)).Add("'");
      start = quote + 1;
    }
    return *this;
  }
  bool Fits() const { return fits_; }

 private:
  std::size_t length_ = 0;
  bool fits_ = true;
};

bool AppendToCommand(const char* piece) {
  return dbcmd(MainConnection, piece) == SUCCEED;
}

}  // namespace

WebAction ParseWebAction(std::string_view upperAction) {
  if (upperAction == "MAKE") return WebAction::kMake;
  if (upperAction == "RUN") return WebAction::kRun;
  if (upperAction == "DROP") return WebAction::kDrop;
  return WebAction::kOther;
}

WebTaskOutcome ComposeWebTask(std::size_t stemLength, WebAction action,
                              WebIdentification identification, PieceSink sink) {
  const std::string_view stem(StemBuffer.data(), stemLength);
  if (!sink(ProcedureOf(action).data())) return WebTaskOutcome::kNotTaken;
  const bool runOrDrop = action == WebAction::kRun || action == WebAction::kDrop;
  // Run and drop read the name and the output file only.
  const std::size_t entries = runOrDrop ? kQuery : kWebTaskParameters.size();
  bool anyAppended = false;

  for (std::size_t index = 0; index < entries; ++index) {
    const WebTaskParameter& entry = kWebTaskParameters[index];
    // The stem holds at most 255 characters and the tails are short: the
    // name always fits.
    Piece name;
    if (!name.Add(stem).Add(entry.tail).Fits()) return WebTaskOutcome::kTooLong;
    const std::string_view variable(NameBuffer.data(), stem.size() + entry.tail.size());
    const std::optional<std::size_t> length = FetchVariable(variable);
    if (!length) return WebTaskOutcome::kRejectedName;
    const std::string_view value(ValueBuffer.data(), *length);

    if (value.empty() || value == variable) {
      if (index == kOutputFile || index == kQuery) return WebTaskOutcome::kNotSet;
      continue;
    }
    if (!Appended(index, action, identification)) continue;
    // dbcmd takes terminated text: a NUL byte would silently cut the call.
    if (value.find('\0') != std::string_view::npos) return WebTaskOutcome::kUnusable;

    // A bare value is placed into the call as it stands: only a number may
    // stand there.
    std::int32_t number = 0;
    if (!entry.quoted && !ParseDecimal(value, number)) {
      NotePackageError(kNotANumberError, {"The value of ", variable,
                                          " is not a number (an optional minus sign and 1 to 9 "
                                          "digits): nothing was sent"});
      return WebTaskOutcome::kNotANumber;
    }

    // A value at the fetch limit may have been cut by the fetch; with the
    // parameter name around it, it can never fit, so no cut value is sent.
    Piece piece;
    piece.Add(anyAppended ? "," : "").Add(entry.parameter).Add("=");
    if (entry.quoted) {
      piece.Add("'").AddQuoted(value).Add("'");
    } else {
      piece.Add(value);
    }
    if (!piece.Fits()) return WebTaskOutcome::kTooLong;
    if (!sink(NameBuffer.data())) return WebTaskOutcome::kNotTaken;
    anyAppended = true;
  }
  return WebTaskOutcome::kComposed;
}

APIRET Html(const Arguments& args, Result& result) {
  // Every argument must fit its field; the stem also leaves room for the
  // period added behind it.
  const std::string_view stemArgument = args.Text(1);
  const bool addPeriod = stemArgument.back() != '.';
  if (stemArgument.find('\0') != std::string_view::npos ||
      stemArgument.size() + (addPeriod ? 1 : 0) >= kStemBufferSize) {
    return LeaveCall(kIncorrectCall);
  }
  std::array<char, kActionSize> actionText;
  const std::string_view actionArgument = args.Present(2) ? args.Text(2) : "MAKE";
  if (!CopyBounded(actionText, actionArgument)) return LeaveCall(kIncorrectCall);
  for (std::size_t i = 0; i < actionArgument.size(); ++i) actionText[i] = UpperAscii(actionText[i]);
  const WebAction action = ParseWebAction({actionText.data(), actionArgument.size()});

  WebIdentification identification = WebIdentification::kProcName;
  if (action == WebAction::kRun || action == WebAction::kDrop) {
    std::array<char, kOptionSize> option;
    const std::string_view optionArgument = args.Present(3) ? args.Text(3) : "P";
    if (!CopyBounded(option, optionArgument)) return LeaveCall(kIncorrectCall);
    const char chosen = UpperAscii(option[0]);
    if (chosen == 'O') identification = WebIdentification::kOutputFile;
    if (chosen == 'B') identification = WebIdentification::kBoth;
  }

  StatementPreamble();
  std::size_t stemLength = stemArgument.size();
  for (std::size_t i = 0; i < stemLength; ++i) StemBuffer[i] = UpperAscii(stemArgument[i]);
  if (addPeriod) StemBuffer[stemLength++] = '.';
  StemBuffer[stemLength] = '\0';

  const WebTaskOutcome outcome =
      ComposeWebTask(stemLength, action, identification, AppendToCommand);
  if (outcome != WebTaskOutcome::kComposed) {
    // What was appended so far never reaches the server.
    dbfreebuf(MainConnection);
    if (outcome == WebTaskOutcome::kTooLong) return LeaveCall(kIncorrectCall);
    result.SetNumber(0);
    return PublishAndLeave();
  }

  if (dbsqlexec(MainConnection) == SUCCEED) {
    // Every answer of the procedure is read, so that an error it reports
    // after its first result still reaches the KT.! variables. The first
    // failure ends the reading: a dead connection fails for ever.
    for (;;) {
      const RETCODE answer = dbresults(MainConnection);
      if (answer == NO_MORE_RESULTS) break;
      if (answer == FAIL) {
        NoteSilentLoss(MainConnection);
        dbcancel(MainConnection);
        break;
      }
      dbcanquery(MainConnection);
    }
  } else {
    NoteSilentLoss(MainConnection);
    dbcancel(MainConnection);
  }
  // The call was handed to the server: what it made of it is in the KT.!
  // variables.
  result.SetNumber(1);
  return PublishAndLeave();
}

}  // namespace ktdb
