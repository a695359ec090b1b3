// The select and the object name the large-object functions compose: the
// exact text, and the bounds of the fixed buffers they are composed in.
#include <gtest/gtest.h>

#include <string>

#include "lob/lob.h"

namespace {

TEST(LobCompose, SelectWithAndWithoutCondition) {
  struct Case {
    std::string column, table, condition, expected;
  };
  const Case cases[] = {
      {"i", "b", "id = 1", "Select i from b where id = 1"},
      {"i", "b", "", "Select i from b"},
      {"c", "db..t x", "x.id in (1, 2) order by x.id",
       "Select c from db..t x where x.id in (1, 2) order by x.id"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(ktdb::ComposeLobSelect(c.column, c.table, c.condition)) << c.expected;
    EXPECT_EQ(std::string(ktdb::NameBuffer.data()), c.expected);
  }
}

TEST(LobCompose, SelectBoundsAndNulBytes) {
  // "Select i from b where " is 22 characters; the terminator needs one
  // byte more.
  const std::size_t room = ktdb::kNameBufferSize - 1 - 22;
  EXPECT_TRUE(ktdb::ComposeLobSelect("i", "b", std::string(room, 'x')));
  EXPECT_EQ(std::string(ktdb::NameBuffer.data()).size(), ktdb::kNameBufferSize - 1);
  EXPECT_FALSE(ktdb::ComposeLobSelect("i", "b", std::string(room + 1, 'x')));
  EXPECT_FALSE(ktdb::ComposeLobSelect(std::string(ktdb::kNameBufferSize, 'c'), "b", ""));
  EXPECT_FALSE(ktdb::ComposeLobSelect(std::string("i\0j", 3), "b", ""));
  EXPECT_FALSE(ktdb::ComposeLobSelect("i", std::string("b\0", 2), ""));
  EXPECT_FALSE(ktdb::ComposeLobSelect("i", "b", std::string("id = 1\0; drop table b", 22)));
}

TEST(LobCompose, ObjectNameFitsTheStemBuffer) {
  ASSERT_TRUE(ktdb::ComposeObjectName("dbo.b", "i"));
  EXPECT_EQ(std::string(ktdb::StemBuffer.data()), "dbo.b.i");
  // 255 characters with the period, and one more.
  EXPECT_TRUE(ktdb::ComposeObjectName(std::string(250, 't'), "cccc"));
  EXPECT_FALSE(ktdb::ComposeObjectName(std::string(250, 't'), "ccccc"));
  EXPECT_FALSE(ktdb::ComposeObjectName("b", std::string("i\0", 2)));
}

TEST(LobCompose, TheStatementsOfAPieceWiseRead) {
  const char* pointer = "0x0102030405060708090a0b0c0d0e0f10";
  ASSERT_TRUE(ktdb::ComposeDescription("t", "db..b", "id = 1 order by id"));
  EXPECT_EQ(std::string(ktdb::NameBuffer.data()),
            "Select textptr(t), datalength(t) from db..b where id = 1 order by id");
  ASSERT_TRUE(ktdb::ComposeDescription("t", "b", ""));
  EXPECT_EQ(std::string(ktdb::NameBuffer.data()), "Select textptr(t), datalength(t) from b");
  ASSERT_TRUE(ktdb::ComposeReadText("b.t", pointer, " 1048576 524288"));
  EXPECT_EQ(std::string(ktdb::NameBuffer.data()),
            std::string("readtext b.t ") + pointer + " 1048576 524288");
  ASSERT_TRUE(ktdb::ComposeLengthQuestion("t", "b", pointer));
  EXPECT_EQ(std::string(ktdb::NameBuffer.data()),
            std::string("Select datalength(t) from b where textptr(t) = ") + pointer);
  ASSERT_TRUE(ktdb::ComposeKindQuestion("t", "b", pointer));
  EXPECT_EQ(std::string(ktdb::NameBuffer.data()),
            std::string("Select datalength(substring(t, 1, 0) + 'x') from b where textptr(t) = ") +
                pointer);
  // The column appears twice in the questions: each must fit whole.
  const std::string half(ktdb::kNameBufferSize / 2, 'c');
  EXPECT_FALSE(ktdb::ComposeLengthQuestion(half, "b", pointer));
  EXPECT_FALSE(ktdb::ComposeKindQuestion(half, "b", pointer));
  EXPECT_FALSE(ktdb::ComposeDescription(half, "b", ""));
  EXPECT_FALSE(ktdb::ComposeDescription("t", std::string("b\0", 2), ""));
}

}  // namespace
