#include <gtest/gtest.h>

#include <string>

#include "fake_rexx.h"
#include "server/server.h"

namespace {

char* Text(const char* text) {
  return const_cast<char*>(text);
}

std::string_view Held(const std::array<char, ktdb::kErrorTextSize>& field) {
  return field.data();
}

class ErrorCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_rexx::Reset();
    ktdb::ResetErrors();
    ktdb::ErrorCount = 0;
  }
};

TEST_F(ErrorCapture, ASecondErrorWithoutOperatingSystemTextKeepsTheFirstText) {
  EXPECT_EQ(ktdb::ErrorHandler(nullptr, 9, SYBECONN, 111, Text("Unable to connect"),
                               Text("Connection refused")),
            INT_CANCEL);
  EXPECT_EQ(ktdb::ErrorHandler(nullptr, 4, SYBECOFL, 5, Text("Data conversion overflow"), nullptr),
            INT_CANCEL);
  EXPECT_EQ(ktdb::CapturedErrors.dbErr, SYBECOFL);
  EXPECT_EQ(Held(ktdb::CapturedErrors.dbErrStr), "Data conversion overflow");
  EXPECT_EQ(ktdb::CapturedErrors.osErr, 5);
  EXPECT_EQ(Held(ktdb::CapturedErrors.osErrStr), "Connection refused");
  // The error handler does not record a severity; that is the message's.
  EXPECT_EQ(ktdb::CapturedErrors.severity, 0);
  EXPECT_EQ(ktdb::ErrorCount, 2);
}

TEST_F(ErrorCapture, ANullErrorTextKeepsTheEarlierOne) {
  ktdb::ErrorHandler(nullptr, 9, SYBECONN, 111, Text("first"), Text("os"));
  ktdb::ErrorHandler(nullptr, 9, SYBEREAD, 104, nullptr, Text("Connection reset"));
  EXPECT_EQ(ktdb::CapturedErrors.dbErr, SYBEREAD);
  EXPECT_EQ(Held(ktdb::CapturedErrors.dbErrStr), "first");
  EXPECT_EQ(Held(ktdb::CapturedErrors.osErrStr), "Connection reset");
}

TEST_F(ErrorCapture, NoOperatingSystemErrorRecordsNoOperatingSystemText) {
  // FreeTDS passes strerror(0), "Success", when no system call failed.
  ktdb::ErrorHandler(nullptr, 4, SYBECSYN, 0, Text("syntax error in source field"),
                     Text("Success"));
  EXPECT_EQ(ktdb::CapturedErrors.osErr, 0);
  EXPECT_EQ(Held(ktdb::CapturedErrors.osErrStr), "");
  ktdb::ErrorHandler(nullptr, 4, SYBECSYN, DBNOERR, Text("again"), Text("anything"));
  EXPECT_EQ(ktdb::CapturedErrors.osErr, DBNOERR);
  EXPECT_EQ(Held(ktdb::CapturedErrors.osErrStr), "");
}

TEST_F(ErrorCapture, AMessageAfterAnErrorKeepsBothAndCountsThree) {
  ktdb::ErrorHandler(nullptr, 7, SYBECNOR, 22, Text("Column number out of range"),
                     Text("Invalid argument"));
  EXPECT_EQ(ktdb::MessageHandler(nullptr, 208, 1, 16, Text("Invalid object name 't'."), Text("srv"),
                                 Text("proc"), 3),
            0);
  EXPECT_EQ(ktdb::CapturedErrors.msgNo, 208);
  EXPECT_EQ(ktdb::CapturedErrors.msgState, 1);
  EXPECT_EQ(ktdb::CapturedErrors.severity, 16);
  EXPECT_EQ(Held(ktdb::CapturedErrors.msgText), "Invalid object name 't'.");
  EXPECT_EQ(ktdb::CapturedErrors.dbErr, SYBECNOR);
  EXPECT_EQ(Held(ktdb::CapturedErrors.osErrStr), "Invalid argument");
  EXPECT_EQ(ktdb::ErrorCount, 3);
}

TEST_F(ErrorCapture, TheServerMessageRepeatedAsAnErrorIsNotASecondError) {
  // A severity 16 message arrives in the message handler, then once more in
  // the error handler as SYBESMSG.
  ktdb::MessageHandler(nullptr, 208, 1, 16, Text("Invalid object name 't'."), nullptr, nullptr, 1);
  ktdb::ErrorHandler(nullptr, 16, SYBESMSG, -1, Text("General SQL Server error"), nullptr);
  EXPECT_EQ(ktdb::CapturedErrors.dbErr, 0);
  EXPECT_EQ(ktdb::CapturedErrors.osErr, 0);
  EXPECT_EQ(Held(ktdb::CapturedErrors.dbErrStr), "");
  EXPECT_EQ(ktdb::ErrorCount, 2);
}

TEST_F(ErrorCapture, ATimeOutIsCancelledWithoutClosingTheConnection) {
  ktdb::CancelAsked = false;
  EXPECT_EQ(ktdb::ErrorHandler(nullptr, 6, SYBETIME, 0, Text("timed out"), nullptr), INT_TIMEOUT);
  EXPECT_EQ(ktdb::CapturedErrors.dbErr, SYBETIME);
  EXPECT_EQ(ktdb::ErrorCount, 1);
  EXPECT_TRUE(ktdb::CancelAsked);
  // A second time-out in the same call: the cancel went unanswered, and the
  // connection is given up rather than waited on for ever.
  EXPECT_EQ(ktdb::ErrorHandler(nullptr, 6, SYBETIME, 0, Text("timed out"), nullptr), INT_CANCEL);
  // During a login a time-out always ends the attempt.
  ktdb::CancelAsked = false;
  ktdb::LoginInProgress = true;
  EXPECT_EQ(ktdb::ErrorHandler(nullptr, 6, SYBETIME, 0, Text("timed out"), nullptr), INT_CANCEL);
  ktdb::LoginInProgress = false;
  ktdb::CancelAsked = false;
}

TEST_F(ErrorCapture, LongTextsAreCutAt255BytesOnACharacterBoundary) {
  const std::string longText(300, 'x');
  ktdb::MessageHandler(nullptr, 1, 1, 10, Text(longText.c_str()), nullptr, nullptr, 0);
  EXPECT_EQ(Held(ktdb::CapturedErrors.msgText), std::string(255, 'x'));
  // A two-byte character at bytes 254 and 255 does not fit whole.
  const std::string utf8 = std::string(254, 'a') + "\xc3\xa9" + "tail";
  ktdb::ErrorHandler(nullptr, 1, SYBECSYN, 0, Text(utf8.c_str()), nullptr);
  EXPECT_EQ(Held(ktdb::CapturedErrors.dbErrStr), std::string(254, 'a'));
}

TEST_F(ErrorCapture, APackageErrorJoinsItsPiecesAndCutsOnACharacterBoundary) {
  ktdb::CapturedErrors.osErr = 5;
  ktdb::NotePackageError(SYBENULP, {"The variable ", "S.3", " is not set"});
  EXPECT_EQ(ktdb::CapturedErrors.dbErr, SYBENULP);
  EXPECT_EQ(Held(ktdb::CapturedErrors.dbErrStr), "The variable S.3 is not set");
  EXPECT_EQ(ktdb::CapturedErrors.osErr, 0);
  EXPECT_EQ(ktdb::ErrorCount, 1);
  // A long name is cut whole characters first, and nothing follows it.
  const std::string name = std::string(251, 'N') + "\xE2\x82\xAC" + "rest";
  ktdb::NotePackageError(SYBENULP, {"ab", name, " tail"});
  EXPECT_EQ(Held(ktdb::CapturedErrors.dbErrStr), "ab" + std::string(251, 'N'));
}

TEST_F(ErrorCapture, AnInformationalMessageDoesNotHideAnError) {
  const struct {
    int firstSeverity;
    int secondSeverity;
    int keptNumber;  // 1: the first message, 2: the second
  } cases[] = {
      {14, 0, 1},   // 2627 then 3621: the duplicate key stays
      {16, 10, 1},  // severity 10 is informational
      {16, 11, 2},  // a later error replaces an error
      {0, 0, 2},    // informational messages replace each other
      {10, 16, 2},  // an error replaces an informational message
  };
  for (const auto& c : cases) {
    ktdb::ResetErrors();
    ktdb::MessageHandler(nullptr, 1, 1, c.firstSeverity, Text("first"), nullptr, nullptr, 0);
    ktdb::MessageHandler(nullptr, 2, 2, c.secondSeverity, Text("second"), nullptr, nullptr, 0);
    const bool first = c.keptNumber == 1;
    EXPECT_EQ(ktdb::CapturedErrors.msgNo, c.keptNumber) << c.firstSeverity << c.secondSeverity;
    EXPECT_EQ(ktdb::CapturedErrors.msgState, c.keptNumber);
    EXPECT_EQ(ktdb::CapturedErrors.severity, first ? c.firstSeverity : c.secondSeverity);
    EXPECT_EQ(Held(ktdb::CapturedErrors.msgText), first ? "first" : "second");
  }
  EXPECT_EQ(ktdb::ErrorCount, 2 * 2 * 5);
}

TEST_F(ErrorCapture, AConsequenceKeepsItsCause) {
  const struct {
    int cause;
    int consequence;
    bool kept;
  } cases[] = {
      {SYBETIME, SYBEFCON, true},  // login time-out, then "connection failed"
      {SYBEREAD, SYBEFCON, true},  // read failed during the login
      {SYBESEOF, SYBEFCON, true},  // the server closed the connection during it
      {SYBEWRIT, SYBEFCON, true},  // write failed during it
      {SYBECONN, SYBEFCON, true},  // (with "tds version = auto")
      {SYBESEOF, SYBEDDNE, true},  // the connection died, then "dead"
      {SYBEREAD, SYBEDDNE, true},  {SYBETIME, SYBEDDNE, true},
      {SYBEFCON, SYBEDDNE, true},  {SYBECOFL, SYBEFCON, false},  // unrelated errors: the later one
      {SYBEDDNE, SYBESEOF, false}, {SYBETIME, SYBECOFL, false},
  };
  for (const auto& c : cases) {
    ktdb::ResetErrors();
    ktdb::ErrorHandler(nullptr, 9, c.cause, 111, Text("cause"), Text("os cause"));
    ktdb::ErrorHandler(nullptr, 9, c.consequence, 0, Text("consequence"), Text("Success"));
    EXPECT_EQ(ktdb::CapturedErrors.dbErr, c.kept ? c.cause : c.consequence)
        << c.cause << " " << c.consequence;
    EXPECT_EQ(Held(ktdb::CapturedErrors.dbErrStr), c.kept ? "cause" : "consequence");
    EXPECT_EQ(ktdb::CapturedErrors.osErr, c.kept ? 111 : 0);
  }
}

TEST_F(ErrorCapture, TheSetMessageHoldsTheLastErrorOnly) {
  ktdb::ResetSetMessage();
  ktdb::MessageHandler(nullptr, 5701, 1, 0, Text("context"), nullptr, nullptr, 0);
  EXPECT_EQ(ktdb::SetMessage.msgNo, 0);
  ktdb::MessageHandler(nullptr, 2627, 1, 14, Text("duplicate"), nullptr, nullptr, 0);
  ktdb::MessageHandler(nullptr, 3621, 0, 0, Text("terminated"), nullptr, nullptr, 0);
  EXPECT_EQ(ktdb::SetMessage.msgNo, 2627);
  EXPECT_EQ(ktdb::SetMessage.severity, 14);
  EXPECT_STREQ(ktdb::SetMessage.text.data(), "duplicate");
  ktdb::MessageHandler(nullptr, 8134, 1, 16, Text("divide"), nullptr, nullptr, 0);
  EXPECT_EQ(ktdb::SetMessage.msgNo, 8134);
  ktdb::ResetSetMessage();
  EXPECT_EQ(ktdb::SetMessage.msgNo, 0);
  EXPECT_STREQ(ktdb::SetMessage.text.data(), "");
}

TEST_F(ErrorCapture, ResetErrorsLeavesErrorCountAndTheVariablesAlone) {
  ktdb::MessageHandler(nullptr, 1, 2, 3, Text("m"), nullptr, nullptr, 0);
  ktdb::ErrorHandler(nullptr, 1, SYBECSYN, 4, Text("e"), Text("o"));
  ktdb::ResetErrors();
  EXPECT_EQ(ktdb::ErrorCount, 3);
  EXPECT_TRUE(fake_rexx::sets.empty());
  ASSERT_TRUE(ktdb::PublishErrors());
  const std::vector<std::pair<std::string, std::string>> reset = {
      {"KT.!SEVERITY", "0"}, {"KT.!DBERR", "0"}, {"KT.!OSERR", "0"},    {"KT.!DBERRSTR", ""},
      {"KT.!OSERRSTR", ""},  {"KT.!MSGNO", "0"}, {"KT.!MSGSTATE", "0"}, {"KT.!MSGTEXT", ""}};
  EXPECT_EQ(fake_rexx::sets, reset);
}

TEST_F(ErrorCapture, PublishesTheEightVariablesInOrder) {
  ktdb::ErrorHandler(nullptr, 9, SYBECONN, -111, Text("dberr text"), Text("os text"));
  ktdb::MessageHandler(nullptr, -2147483647 - 1, 127, 2147483647, Text("msg text"), nullptr,
                       nullptr, 0);
  ASSERT_TRUE(ktdb::PublishErrors());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"KT.!SEVERITY", "2147483647"}, {"KT.!DBERR", std::to_string(SYBECONN)},
      {"KT.!OSERR", "-111"},          {"KT.!DBERRSTR", "dberr text"},
      {"KT.!OSERRSTR", "os text"},    {"KT.!MSGNO", "-2147483648"},
      {"KT.!MSGSTATE", "127"},        {"KT.!MSGTEXT", "msg text"}};
  EXPECT_EQ(fake_rexx::sets, expected);
}

TEST_F(ErrorCapture, PublicationStopsAtTheFirstFailedSet) {
  for (int failing = 0; failing < 8; ++failing) {
    fake_rexx::Reset();
    fake_rexx::failingSet = failing;
    EXPECT_FALSE(ktdb::PublishErrors()) << failing;
    // The failed set is the last one attempted; nothing after it is set.
    EXPECT_EQ(fake_rexx::sets.size(), static_cast<std::size_t>(failing + 1)) << failing;
    EXPECT_EQ(fake_rexx::variables.size(), static_cast<std::size_t>(failing)) << failing;
  }
}

}  // namespace
