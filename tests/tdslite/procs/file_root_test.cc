// Which names resolve inside the file root, that links (symbolic or hard)
// never lead a write or a read out of it, even while folders are being
// swapped, and HTML escaping.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tdslite/procs/file_root.h"
#include "tdslite/procs/html_page.h"

namespace tdslite::procs {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const fs::path& p, std::string_view text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

class FileRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "tdslite-root-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    base_ = fs::canonical(pattern);
    root_ = base_ / "root";
    fs::create_directories(root_ / "a" / "b");
    fs::create_directories(base_ / "out");
    r_ = root_.string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }
  fs::path base_, root_;
  std::string r_;
};

TEST_F(FileRoot, NamesAndWhereTheyLead) {
  fs::create_directory_symlink(base_ / "out", root_ / "away");
  fs::create_directory_symlink(root_ / "a", root_ / "near");
  const std::string out = (base_ / "out").string();
  struct Case {
    std::string name;
    std::string written;  // where the page lands, relative to the root; empty: refused
  } cases[] = {
      {"p.htm", "p.htm"},
      {"a/b/p.htm", "a/b/p.htm"},
      {"a//b/p.htm", "a/b/p.htm"},
      {r_ + "/a/p.htm", "a/p.htm"},
      {"near/p.htm", ""},  // a link, even one that stays inside, is not followed
      {"away/p.htm", ""},
      {"", ""},
      {"..", ""},
      {"../p.htm", ""},
      {"a/../p.htm", ""},
      {"a/..", ""},
      {".", ""},
      {"./a/p.htm", ""},
      {".bashrc", ""},  // dot files and folders
      {".ssh/authorized_keys", ""},
      {"a/.hidden/p.htm", ""},
      {out + "/p.htm", ""},
      {r_ + "x/p.htm", ""},  // a sibling whose name starts like the root
      {"/etc/passwd", ""},
      {"missing/p.htm", ""},
      {"a/", ""},
      {"a", ""},  // a folder
      {std::string(2000, 'x'), ""},
      {std::string("p\0q", 3), ""},
  };
  for (const Case& c : cases) {
    const WriteResult result = WriteInRoot(r_, c.name, "page");
    if (c.written.empty()) {
      EXPECT_EQ(result, WriteResult::kCannotOpen) << c.name;
    } else {
      EXPECT_EQ(result, WriteResult::kOk) << c.name;
      EXPECT_EQ(Slurp(root_ / c.written), "page") << c.name;
      std::string back;
      EXPECT_TRUE(ReadInRoot(r_, c.name, &back)) << c.name;
      EXPECT_EQ(back, "page") << c.name;
    }
  }
  EXPECT_TRUE(fs::is_empty(base_ / "out"));
  // No root at all: nothing resolves. A link or a trailing slash in the
  // root's own path does not matter.
  std::vector<std::string> parts;
  EXPECT_FALSE(NameInRoot("", "p.htm", &parts));
  EXPECT_EQ(WriteInRoot("", "p.htm", "x"), WriteResult::kCannotOpen);
  EXPECT_EQ(WriteInRoot(r_ + "/", "q.htm", "q"), WriteResult::kOk);
  EXPECT_EQ(WriteInRoot((root_ / "near").string(), "b/q.htm", "q"), WriteResult::kOk);
  EXPECT_EQ(Slurp(root_ / "a" / "b" / "q.htm"), "q");
  // No temporary file is left beside a page.
  for (const auto& e : fs::recursive_directory_iterator(root_)) {
    EXPECT_NE(e.path().filename().string().rfind(".tdslite-", 0), 0u) << e.path();
  }
}

TEST_F(FileRoot, LinkedTargetsAreNeverWritten) {
  // A hard link inside the root to a file outside it; a symbolic link to a
  // file outside; a FIFO.
  Spit(base_ / "out" / "victim", "secret");
  ASSERT_EQ(::link((base_ / "out" / "victim").c_str(), (root_ / "hard.htm").c_str()), 0);
  fs::create_symlink(base_ / "out" / "victim", root_ / "soft.htm");
  ASSERT_EQ(::mkfifo((root_ / "fifo.htm").c_str(), 0600), 0);
  for (const char* name : {"hard.htm", "soft.htm", "fifo.htm"}) {
    EXPECT_EQ(WriteInRoot(r_, name, "overwritten"), WriteResult::kCannotOpen) << name;
    std::string text;
    EXPECT_FALSE(ReadInRoot(r_, name, &text)) << name;
  }
  EXPECT_EQ(Slurp(base_ / "out" / "victim"), "secret");
  // An existing page is replaced whole and keeps its permissions.
  Spit(root_ / "page.htm", "an old and longer page");
  fs::permissions(root_ / "page.htm", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(WriteInRoot(r_, "page.htm", "new"), WriteResult::kOk);
  EXPECT_EQ(Slurp(root_ / "page.htm"), "new");
  EXPECT_EQ(fs::status(root_ / "page.htm").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(FileRoot, SwappingAFolderForALinkNeverLeadsOutside) {
  // Another local user swaps root/d (a folder) and root/x (a link to a
  // folder outside) back and forth while pages are written into d.
  fs::create_directory(root_ / "d");
  fs::create_directory_symlink(base_ / "out", root_ / "x");
  std::atomic<bool> stop{false};
  std::atomic<long> swaps{0};
  std::thread swapper([&] {
    while (!stop) {
      if (::renameat2(AT_FDCWD, (root_ / "d").c_str(), AT_FDCWD, (root_ / "x").c_str(),
                      RENAME_EXCHANGE) == 0) {
        ++swaps;
      }
    }
  });
  int written = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    if (WriteInRoot(r_, "d/p.htm", "page") == WriteResult::kOk) ++written;
    ReadInRoot(r_, "d/p.htm", &text);
  }
  stop = true;
  swapper.join();
  std::printf("%d of 3000 writes while the folder was swapped %ld times\n", written, swaps.load());
  EXPECT_GT(swaps.load(), 0);
  EXPECT_TRUE(fs::is_empty(base_ / "out"));
}

TEST(HtmlPage, Escape) {
  EXPECT_EQ(HtmlEscape("a<b>&\"c\"'"), "a&lt;b&gt;&amp;&quot;c&quot;'");
  EXPECT_EQ(HtmlEscape(""), "");
}

}  // namespace
}  // namespace tdslite::procs
