#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>  // getpid

#include "web/web.h"

namespace {

namespace fs = std::filesystem;
using ktdb::APIRET;
using ktdb::RXAUTOBUFLEN;
using ktdb::RXSTRING;
using Args = std::vector<std::optional<std::string>>;

struct Answer {
  APIRET code;
  std::string result;
};

Answer Kth(const Args& args) {
  std::vector<RXSTRING> argv;
  for (const auto& arg : args) {
    argv.push_back(arg ? RXSTRING{arg->size(), const_cast<char*>(arg->data())}
                       : RXSTRING{0, nullptr});
  }
  char buffer[RXAUTOBUFLEN] = "zz";
  RXSTRING result{RXAUTOBUFLEN, buffer};
  const ktdb::Arguments arguments(argv.size(), argv.data());
  ktdb::Result out(&result);
  const APIRET code = ktdb::TaggedLine(arguments, out);
  return {code, std::string(result.strptr, result.strlength)};
}

std::optional<std::string> Contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class TaggedLine : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ktdb_web_test_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(TaggedLine, WritesTheFourFormsExactly) {
  const struct {
    Args args;  // file name added in front
    std::string expected;
  } cases[] = {
      {{"1", "Total", "td align=right"}, "<TD ALIGN=RIGHT>Total</TD>\n"},
      {{"", "Total", "b"}, "<B>Total</B>"},
      {{std::nullopt, "Total", "b"}, "<B>Total</B>"},
      {{"x", "Total"}, "Total\n"},
      {{"0", "Total", ""}, "Total\n"},
      {{std::nullopt, "Total"}, "Total"},
      // Nothing is escaped; a tag beginning with a blank has no closing name.
      {{"1", "a<&>b", " lead"}, "< LEAD>a<&>b</>\n"},
      // Only a to z change case; the first word ends at the first blank only.
      {{"", "t", "h\xe4\tx y"}, "<H\xe4\tX Y>t</H\xe4\tX>"},
      // Text and tag are taken by their length, NUL bytes included.
      {{"", std::string("a\0b", 3), "p"}, std::string("<P>a\0b</P>", 10)},
      {{"", " ", "abcdefghijklmnopqrs attr"}, "<ABCDEFGHIJKLMNOPQRS ATTR> </ABCDEFGHIJKLMNOPQRS>"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string file = (dir_ / ("page" + std::to_string(n++) + ".htm")).string();
    Args args = c.args;
    args.insert(args.begin(), file);
    const Answer answer = Kth(args);
    EXPECT_EQ(answer.code, ktdb::kCallRan) << c.expected;
    EXPECT_EQ(answer.result, file);
    EXPECT_EQ(Contents(file), c.expected);
  }
}

TEST_F(TaggedLine, AppendsInCallOrder) {
  const std::string file = (dir_ / "page.htm").string();
  ASSERT_EQ(Kth({file, "", "Total", "b"}).code, ktdb::kCallRan);
  ASSERT_EQ(Kth({file, "1", ": 5"}).code, ktdb::kCallRan);
  ASSERT_EQ(Kth({file, "1", "end"}).code, ktdb::kCallRan);
  EXPECT_EQ(Contents(file), "<B>Total</B>: 5\nend\n");
}

}  // namespace
