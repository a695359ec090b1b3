// Which names resolve inside the file root, and HTML escaping.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "tdslite/procs/file_root.h"
#include "tdslite/procs/html_page.h"

namespace tdslite::procs {
namespace {

namespace fs = std::filesystem;

TEST(FileRoot, ResolveInRoot) {
  std::string pattern = ::testing::TempDir() + "tdslite-root-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path base = fs::canonical(pattern);
  const fs::path root = base / "root";
  fs::create_directories(root / "a" / "b");
  fs::create_directories(base / "out");
  fs::create_directory_symlink(base / "out", root / "away");
  fs::create_directory_symlink(root / "a", root / "near");
  const std::string r = root.string();
  struct Case {
    std::string name;
    std::string expected;  // empty: refused
  } cases[] = {
      {"p.htm", r + "/p.htm"},
      {"a/b/p.htm", r + "/a/b/p.htm"},
      {"./a/./p.htm", r + "/a/p.htm"},
      {"near/p.htm", r + "/a/p.htm"},  // a link that stays inside
      {r + "/a/p.htm", r + "/a/p.htm"},
      {"", ""},
      {"..", ""},
      {"../p.htm", ""},
      {"a/../p.htm", ""},
      {"a/..", ""},
      {"away/p.htm", ""},
      {(base / "out" / "p.htm").string(), ""},
      {"/etc/passwd", ""},
      {"missing/p.htm", ""},
      {"a/", ""},
      {".", ""},
      {std::string(2000, 'x'), ""},
      {std::string("p\0q", 3), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolveInRoot(r, c.name), c.expected) << c.name;
  // The root itself is resolved first: a trailing slash or a link in it
  // does not matter.
  EXPECT_EQ(ResolveInRoot(r + "/", "p.htm"), r + "/p.htm");
  EXPECT_EQ(ResolveInRoot((root / "near").string(), "b/p.htm"), r + "/a/b/p.htm");
  EXPECT_EQ(ResolveInRoot((root / "near").string(), r + "/p.htm"), "");
  fs::remove_all(base);
}

TEST(HtmlPage, Escape) {
  EXPECT_EQ(HtmlEscape("a<b>&\"c\"'"), "a&lt;b&gt;&amp;&quot;c&quot;'");
  EXPECT_EQ(HtmlEscape(""), "");
}

}  // namespace
}  // namespace tdslite::procs
