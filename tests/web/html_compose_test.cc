// The procedure call KTHTML composes from a stem of variables: the exact
// text the server would receive, read from a fake variable pool.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "fake_rexx.h"
#include "web/web.h"

namespace {

using ktdb::WebAction;
using ktdb::WebIdentification;
using ktdb::WebTaskOutcome;

std::string sent;
int piecesUntilRefusal = -1;

bool Collect(const char* piece) {
  if (piecesUntilRefusal == 0) return false;
  if (piecesUntilRefusal > 0) --piecesUntilRefusal;
  sent += piece;
  return true;
}

struct Composed {
  WebTaskOutcome outcome;
  std::string text;
};

Composed Compose(const std::string& stem, WebAction action,
                 WebIdentification identification = WebIdentification::kProcName) {
  sent.clear();
  std::memcpy(ktdb::StemBuffer.data(), stem.data(), stem.size());
  ktdb::StemBuffer[stem.size()] = '\0';
  const WebTaskOutcome outcome = ktdb::ComposeWebTask(stem.size(), action, identification, Collect);
  return {outcome, sent};
}

class HtmlCompose : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_rexx::Reset();
    piecesUntilRefusal = -1;
  }
  // The variables of the worked example.
  static void Example() {
    fake_rexx::variables = {{"WEB.!PROCNAME", "daily"},
                            {"WEB.!OUTPUTFILE", "d:\\pages\\daily.htm"},
                            {"WEB.!QUERY", "select name from staff"},
                            {"WEB.!DBNAME", "office"},
                            {"WEB.!BOLD", "1"}};
  }
};

TEST_F(HtmlCompose, WorkedExampleForEveryActionAndIdentification) {
  Example();
  struct Case {
    WebAction action;
    WebIdentification identification;
    const char* expected;
  };
  const Case cases[] = {
      {WebAction::kMake, WebIdentification::kProcName,
       "sp_makewebtask @procname='daily',@outputfile='d:\\pages\\daily.htm',"
       "@query='select name from staff',@dbname='office',@bold=1"},
      // The identification is not consulted when a task is made.
      {WebAction::kMake, WebIdentification::kOutputFile,
       "sp_makewebtask @procname='daily',@outputfile='d:\\pages\\daily.htm',"
       "@query='select name from staff',@dbname='office',@bold=1"},
      {WebAction::kRun, WebIdentification::kProcName, "sp_runwebtask @procname='daily'"},
      {WebAction::kRun, WebIdentification::kOutputFile,
       "sp_runwebtask @outputfile='d:\\pages\\daily.htm'"},
      {WebAction::kRun, WebIdentification::kBoth,
       "sp_runwebtask @procname='daily',@outputfile='d:\\pages\\daily.htm'"},
      {WebAction::kDrop, WebIdentification::kProcName, "sp_dropwebtask @procname='daily'"},
      {WebAction::kDrop, WebIdentification::kOutputFile,
       "sp_dropwebtask @outputfile='d:\\pages\\daily.htm'"},
      {WebAction::kDrop, WebIdentification::kBoth,
       "sp_dropwebtask @procname='daily',@outputfile='d:\\pages\\daily.htm'"},
      // Any other action makes a task without name and output file.
      {WebAction::kOther, WebIdentification::kBoth,
       "sp_makewebtask @query='select name from staff',@dbname='office',@bold=1"},
  };
  for (const Case& c : cases) {
    const Composed composed = Compose("WEB.", c.action, c.identification);
    EXPECT_EQ(composed.outcome, WebTaskOutcome::kComposed) << c.expected;
    EXPECT_EQ(composed.text, c.expected);
  }
}

TEST_F(HtmlCompose, EveryParameterInTableOrderWithItsQuoting) {
  std::string expected = "sp_makewebtask ";
  for (std::size_t i = 0; i < ktdb::kWebTaskParameters.size(); ++i) {
    const auto& entry = ktdb::kWebTaskParameters[i];
    const std::string value = entry.quoted ? "v" + std::to_string(i) : std::to_string(i);
    fake_rexx::variables["S." + std::string(entry.tail)] = value;
    if (i > 0) expected += ",";
    expected += std::string(entry.parameter) + "=" + (entry.quoted ? "'" + value + "'" : value);
  }
  const Composed composed = Compose("S.", WebAction::kMake);
  EXPECT_EQ(composed.outcome, WebTaskOutcome::kComposed);
  EXPECT_EQ(composed.text, expected);
  // Run and drop fetch the first two variables only.
  fake_rexx::sets.clear();
  EXPECT_EQ(Compose("S.", WebAction::kRun).text, "sp_runwebtask @procname='v0'");
}

TEST_F(HtmlCompose, DoubledQuotesStillBoundTheCall) {
  // Doubling makes a value longer: a value of quotes that fits as it stands
  // may not fit doubled, and is then an incorrect call, never sent cut.
  const std::size_t room = ktdb::kNameBufferSize - 1 - std::strlen(",@query=''");
  fake_rexx::variables = {{"W.!OUTPUTFILE", "o"}, {"W.!QUERY", std::string(room / 2, '\'')}};
  EXPECT_EQ(Compose("W.", WebAction::kMake).outcome, WebTaskOutcome::kComposed);
  fake_rexx::variables = {{"W.!OUTPUTFILE", "o"}, {"W.!QUERY", std::string(room / 2 + 1, '\'')}};
  EXPECT_EQ(Compose("W.", WebAction::kMake).outcome, WebTaskOutcome::kTooLong);
}

TEST_F(HtmlCompose, UnsetVariablesAreLeftOutAndRequiredOnesEndTheCall) {
  struct Case {
    std::map<std::string, std::string> variables;
    WebAction action;
    WebIdentification identification;
    WebTaskOutcome outcome;
    const char* text;
  };
  const Case cases[] = {
      // No name: the output file is the first piece, without a comma.
      {{{"W.!OUTPUTFILE", "o.htm"}, {"W.!QUERY", "q"}},
       WebAction::kMake,
       WebIdentification::kProcName,
       WebTaskOutcome::kComposed,
       "sp_makewebtask @outputfile='o.htm',@query='q'"},
      // Empty, and holding its own name: both count as not set.
      {{{"W.!OUTPUTFILE", "o"}, {"W.!QUERY", "q"}, {"W.!BOLD", ""}, {"W.!ITALIC", "W.!ITALIC"}},
       WebAction::kMake,
       WebIdentification::kProcName,
       WebTaskOutcome::kComposed,
       "sp_makewebtask @outputfile='o',@query='q'"},
      // Its own name in another case is a value (and then not a number).
      {{{"W.!OUTPUTFILE", "o"}, {"W.!QUERY", "q"}, {"W.!ITALIC", "w.!italic"}},
       WebAction::kMake,
       WebIdentification::kProcName,
       WebTaskOutcome::kNotANumber,
       "sp_makewebtask @outputfile='o',@query='q'"},
      // The output file must be set for every action, even when not sent.
      {{{"W.!PROCNAME", "p"}},
       WebAction::kRun,
       WebIdentification::kProcName,
       WebTaskOutcome::kNotSet,
       "sp_runwebtask @procname='p'"},
      {{{"W.!PROCNAME", "p"}, {"W.!OUTPUTFILE", "o"}},
       WebAction::kMake,
       WebIdentification::kProcName,
       WebTaskOutcome::kNotSet,
       "sp_makewebtask @procname='p',@outputfile='o'"},
      // Run by name without a name: no parameter at all.
      {{{"W.!OUTPUTFILE", "o"}},
       WebAction::kDrop,
       WebIdentification::kProcName,
       WebTaskOutcome::kComposed,
       "sp_dropwebtask "},
      {{{"W.!OUTPUTFILE", "o"}},
       WebAction::kRun,
       WebIdentification::kBoth,
       WebTaskOutcome::kComposed,
       "sp_runwebtask @outputfile='o'"},
      // Every quote inside a quoted value is doubled, at its start and end
      // too, so that a value can never end its quotes early.
      {{{"W.!OUTPUTFILE", "o'"},
        {"W.!QUERY", "select 'it''s'"},
        {"W.!WEBPAGETITLE", "Bob's report"},
        {"W.!URL", "''',@bold=1;drop table t--"}},
       WebAction::kMake,
       WebIdentification::kProcName,
       WebTaskOutcome::kComposed,
       "sp_makewebtask @outputfile='o''',@query='select ''it''''s''',"
       "@webpagetitle='Bob''s report',@url=''''''',@bold=1;drop table t--'"},
      {{{"W.!PROCNAME", "'"}, {"W.!OUTPUTFILE", "o"}},
       WebAction::kRun,
       WebIdentification::kProcName,
       WebTaskOutcome::kComposed,
       "sp_runwebtask @procname=''''"},
      // A bare value must be a number: anything else ends the call before
      // its piece.
      {{{"W.!OUTPUTFILE", "o"},
        {"W.!QUERY", "q"},
        {"W.!BOLD", "-1"},
        {"W.!TARGETDATE", "20261208"}},
       WebAction::kMake,
       WebIdentification::kProcName,
       WebTaskOutcome::kComposed,
       "sp_makewebtask @outputfile='o',@query='q',@bold=-1,@targetdate=20261208"},
      {{{"W.!OUTPUTFILE", "o"}, {"W.!QUERY", "q"}, {"W.!BOLD", "1;drop table t"}},
       WebAction::kMake,
       WebIdentification::kProcName,
       WebTaskOutcome::kNotANumber,
       "sp_makewebtask @outputfile='o',@query='q'"},
      {{{"W.!OUTPUTFILE", "o"}, {"W.!QUERY", "q"}, {"W.!ROWCNT", " 5"}},
       WebAction::kMake,
       WebIdentification::kProcName,
       WebTaskOutcome::kNotANumber,
       "sp_makewebtask @outputfile='o',@query='q'"},
      // A NUL byte would cut the call dbcmd sends.
      {{{"W.!OUTPUTFILE", "o"}, {"W.!QUERY", std::string("a\0b", 3)}},
       WebAction::kMake,
       WebIdentification::kProcName,
       WebTaskOutcome::kUnusable,
       "sp_makewebtask @outputfile='o'"},
  };
  for (const Case& c : cases) {
    fake_rexx::variables = c.variables;
    const Composed composed = Compose("W.", c.action, c.identification);
    EXPECT_EQ(composed.outcome, c.outcome) << c.text;
    EXPECT_EQ(composed.text, c.text);
  }
}

TEST_F(HtmlCompose, RejectedNamesLongValuesAndRefusedPieces) {
  // The pool rejects a name with a blank (RXSHV_BADN).
  fake_rexx::variables = {{"A B.!OUTPUTFILE", "o"}, {"A B.!QUERY", "q"}};
  EXPECT_EQ(Compose("A B.", WebAction::kMake).outcome, WebTaskOutcome::kRejectedName);

  // A value at the fetch limit may have been cut: its piece never fits.
  fake_rexx::variables = {{"W.!OUTPUTFILE", "o"}, {"W.!QUERY", std::string(40000, 'x')}};
  EXPECT_EQ(Compose("W.", WebAction::kMake).outcome, WebTaskOutcome::kTooLong);
  // The longest value that fits with its comma, parameter name and quotes,
  // and one more.
  const std::size_t longest = ktdb::kNameBufferSize - 1 - std::strlen(",@query=''");
  fake_rexx::variables = {{"W.!OUTPUTFILE", "o"}, {"W.!QUERY", std::string(longest, 'x')}};
  EXPECT_EQ(Compose("W.", WebAction::kMake).outcome, WebTaskOutcome::kComposed);
  fake_rexx::variables = {{"W.!OUTPUTFILE", "o"}, {"W.!QUERY", std::string(longest + 1, 'x')}};
  EXPECT_EQ(Compose("W.", WebAction::kMake).outcome, WebTaskOutcome::kTooLong);
  // Even the shortest parameter name with a value of the fetch limit (which
  // may be a cut value) does not fit.
  fake_rexx::variables = {
      {"W.!OUTPUTFILE", "o"}, {"W.!QUERY", "q"}, {"W.!URL", std::string(ktdb::kFetchLimit, 'x')}};
  EXPECT_EQ(Compose("W.", WebAction::kMake).outcome, WebTaskOutcome::kTooLong);

  // A sink that refuses a piece ends the composition.
  fake_rexx::variables = {{"W.!OUTPUTFILE", "o"}, {"W.!QUERY", "q"}};
  piecesUntilRefusal = 1;
  EXPECT_EQ(Compose("W.", WebAction::kMake).outcome, WebTaskOutcome::kNotTaken);
}

TEST(HtmlAction, WholeTextsOnly) {
  EXPECT_EQ(ktdb::ParseWebAction("MAKE"), WebAction::kMake);
  EXPECT_EQ(ktdb::ParseWebAction("RUN"), WebAction::kRun);
  EXPECT_EQ(ktdb::ParseWebAction("DROP"), WebAction::kDrop);
  for (const char* other : {"CREATE", "MAKES", "RU", "DROP ", ""}) {
    EXPECT_EQ(ktdb::ParseWebAction(other), WebAction::kOther) << other;
  }
}

}  // namespace
