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

}  // namespace
