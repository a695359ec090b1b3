#include <gtest/gtest.h>

#include <string>

#include "fake_rexx.h"
#include "frame/frame.h"

namespace {

class Variables : public ::testing::Test {
 protected:
  void SetUp() override { fake_rexx::Reset(); }
};

TEST_F(Variables, SetSucceedsForNewAndExistingVariablesOnly) {
  EXPECT_TRUE(ktdb::SetVariable("A", "1"));  // RXSHV_NEWV
  EXPECT_TRUE(ktdb::SetVariable("A", "2"));  // RXSHV_OK
  EXPECT_EQ(fake_rexx::variables["A"], "2");
  EXPECT_FALSE(ktdb::SetVariable("A B", "3"));  // RXSHV_BADN
  fake_rexx::failingSet = static_cast<int>(fake_rexx::sets.size());
  EXPECT_FALSE(ktdb::SetVariable("C", "4"));  // RXSHV_MEMFL
}

TEST_F(Variables, SetPassesNameAndValueByLength) {
  const std::string value("x\0y", 3);
  ASSERT_TRUE(ktdb::SetVariable(std::string_view("NAMEX", 4), value));
  ASSERT_EQ(fake_rexx::sets.size(), 1u);
  EXPECT_EQ(fake_rexx::sets[0].first, "NAME");
  EXPECT_EQ(fake_rexx::sets[0].second, value);
  EXPECT_EQ(ktdb::RequestBlock.shvnext, nullptr);
}

TEST_F(Variables, FetchDeliversTheTerminatedValue) {
  fake_rexx::variables["STMT"] = "select 1";
  ktdb::ValueBuffer.fill('#');
  const auto length = ktdb::FetchVariable("STMT");
  ASSERT_TRUE(length.has_value());
  EXPECT_EQ(*length, 8u);
  EXPECT_STREQ(ktdb::ValueBuffer.data(), "select 1");
}

TEST_F(Variables, FetchCutsALongValueAtTheFetchLimit) {
  fake_rexx::variables["BIG"] = std::string(40000, 'v');
  ktdb::ValueBuffer.fill('#');
  const auto length = ktdb::FetchVariable("BIG");
  ASSERT_TRUE(length.has_value());
  EXPECT_EQ(*length, 32765u);
  EXPECT_EQ(ktdb::ValueBuffer[32764], 'v');
  EXPECT_EQ(ktdb::ValueBuffer[32765], '\0');
  EXPECT_EQ(ktdb::ValueBuffer[32766], '#');
}

TEST_F(Variables, FetchOfAnUnsetVariableIsNoFailureButABadNameIs) {
  const auto length = ktdb::FetchVariable("NEVERSET");
  ASSERT_TRUE(length.has_value());
  EXPECT_STREQ(ktdb::ValueBuffer.data(), "NEVERSET");
  EXPECT_FALSE(ktdb::FetchVariable("NOT A NAME").has_value());
}

// Names on which the two interpreters' pools disagree are refused before
// the pool is asked, so that a script sees the same under both.
TEST_F(Variables, OnlyNamesBothInterpretersTakeReachThePool) {
  const struct {
    std::string name;
    bool taken;
  } cases[] = {
      {"A", true},
      {"KT.!SEVERITY", true},
      {"ROWS.0.0", true},
      {"ROWS.", true},
      {"_X?!9", true},
      {"S.abc", true},   // a tail is taken literally, in any case
      {"S.A..B", true},  // empty tail parts
      {std::string(250, 'S'), true},
      {std::string(251, 'S'), false},  // beyond REXX's symbol length
      {std::string(248, 'S') + ".1", true},
      {std::string(248, 'S') + ".12", false},
      {"", false},
      {"42", false},  // constant symbols
      {"3.5", false},
      {".ABC", false},
      {"1ROWS.1", false},
      {"s.1", false},  // a lower-case stem
      {"@X", false},   // Regina's extra symbol characters
      {"X$", false},
      {"A B", false},  // a blank, in the stem and in a tail
      {"T.A B", false},
      {"A.-1", false},
      {"A.B+C", false},
      {std::string("A\0B", 3), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_rexx::Reset();
    EXPECT_EQ(ktdb::IsVariableName(c.name), c.taken);
    EXPECT_EQ(ktdb::SetVariable(c.name, "v"), c.taken);
    EXPECT_EQ(ktdb::FetchVariable(c.name).has_value(), c.taken);
    // A refused name never reaches the pool.
    EXPECT_EQ(fake_rexx::sets.size(), c.taken ? 1u : 0u);
  }
}

TEST_F(Variables, FetchTellsAnUnsetVariableFromASetOne) {
  fake_rexx::variables = {{"SET", "v"}, {"EMPTY", ""}};
  const struct {
    const char* name;
    bool unset;
  } cases[] = {{"SET", false}, {"EMPTY", false}, {"NEVERSET", true}};
  for (const auto& c : cases) {
    bool unset = !c.unset;
    ASSERT_TRUE(ktdb::FetchVariable(c.name, &unset).has_value()) << c.name;
    EXPECT_EQ(unset, c.unset) << c.name;
  }
}

TEST_F(Variables, ACompoundSetIsFollowedByAFetchInTheSameCall) {
  const struct {
    const char* name;
    int fetches;  // chained behind the set
  } cases[] = {{"ROWS.1.2", 1}, {"KT.!DBERR", 1}, {"SIMPLE", 0}, {"STEM.", 0}};
  for (const auto& c : cases) {
    fake_rexx::Reset();
    ASSERT_TRUE(ktdb::SetVariable(c.name, "value")) << c.name;
    EXPECT_EQ(fake_rexx::fetches, c.fetches) << c.name;
    EXPECT_EQ(fake_rexx::variables[c.name], "value") << c.name;
    // The set itself was made once, and nothing stays chained.
    EXPECT_EQ(fake_rexx::sets.size(), 1u) << c.name;
    EXPECT_EQ(ktdb::RequestBlock.shvnext, nullptr) << c.name;
  }
}

TEST_F(Variables, TheSetsOwnAnswerDecidesNotTheChainedFetch) {
  // A set that fails while its fetch succeeds (the old value is there).
  fake_rexx::variables["R.1"] = "old";
  fake_rexx::failingSet = 0;
  EXPECT_FALSE(ktdb::SetVariable("R.1", "new"));
  EXPECT_EQ(fake_rexx::variables["R.1"], "old");
  // A bad compound name fails as before.
  EXPECT_FALSE(ktdb::SetVariable("A B.1", "v"));
  // A new and an existing compound variable succeed although the fetch,
  // offered no room, answers truncated.
  EXPECT_TRUE(ktdb::SetVariable("R.2", "v"));
  EXPECT_TRUE(ktdb::SetVariable("R.2", "w"));
  EXPECT_EQ(fake_rexx::variables["R.2"], "w");
  // An empty value stays empty.
  EXPECT_TRUE(ktdb::SetVariable("R.3", ""));
  EXPECT_EQ(fake_rexx::variables.at("R.3"), "");
}

}  // namespace
