#include "common/symlinks.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace quorvane {
namespace {

using test::RealPath;

using test::ScratchDir;
using test::WriteFile;

// "l" and the number, appended: GCC 12 at -O3 warns wrongly (-Wrestrict) on
// "l" + std::to_string(i).
std::string LinkName(int i) {
  std::string name = "l";
  name += std::to_string(i);
  return name;
}

// A small tree: d/ with sub/ and the file f, and links around it.
class SymlinksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = RealPath(scratch_.path());
    ASSERT_FALSE(root_.empty());
    ASSERT_EQ(mkdir(At("d").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(At("d/sub").c_str(), 0755), 0);
    WriteFile(At("d/f"), "x");
    Link("d", "rel");
    Link(At("d"), "abs");
    Link("chain2", "chain1");
    Link("rel", "chain2");
    Link("..", "d/up");
    Link("sub", "d/sublink");
    Link("loop2", "loop1");
    Link("loop1", "loop2");
    Link("nowhere", "dangling");
    Link(At("d/f"), "tofile");
  }

  std::string At(const std::string& rel) const { return root_ + "/" + rel; }
  void Link(const std::string& target, const std::string& name) {
    ASSERT_EQ(symlink(target.c_str(), At(name).c_str()), 0) << name;
  }

  ScratchDir scratch_;
  std::string root_;
};

TEST_F(SymlinksTest, ResolvesEveryLinkInThePath) {
  const std::pair<std::string, std::string> cases[] = {
      {"rel/f", "d/f"},              // relative target
      {"abs/sub", "d/sub"},          // absolute target restarts at the root
      {"chain1/sub", "d/sub"},       // a chain of links
      {"rel/sublink/..", "d"},       // ".." removes the element a link resolved to
      {"rel/../d/f", "d/f"},
      {"d/up/d/f", "d/f"},           // a link to ".."
      {"./d//sub/", "d/sub"},
      {"tofile", "d/f"},
      {"d/f/", "d/f"},               // a final "/" is no further element
      {"d", "d"},
  };
  for (const auto& [in, want] : cases) {
    Result<std::string> got = ResolveSymlinks(At(in));
    ASSERT_TRUE(got.ok()) << in << ": " << got.error().text();
    EXPECT_EQ(*got, At(want)) << in;
  }
}

TEST_F(SymlinksTest, RelativePathsStayRelative) {
  char old[PATH_MAX];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(root_.c_str()), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"rel/f", "d/f"}, {"rel/../rel/sub", "d/sub"}, {"d/up/..", ".."}, {"", "."},
      {"abs", At("d")},
  };
  for (const auto& [in, want] : cases) {
    Result<std::string> got = ResolveSymlinks(in);
    EXPECT_TRUE(got.ok() && *got == want) << in << " -> " << (got.ok() ? *got : got.error().text());
  }
  ASSERT_EQ(chdir(old), 0);
}

TEST_F(SymlinksTest, Failures) {
  struct Case {
    std::string in;
    std::string message;
    int errnum;
  };
  const Case cases[] = {
      {At("loop1"), "too many links", ELOOP},
      {At("loop1/x"), "too many links", ELOOP},
      {At("d/f/x"), "not a directory", ENOTDIR},
      {At("tofile/x"), "not a directory", ENOTDIR},
      {At("missing/x"), "lstat " + At("missing") + ": no such file or directory", ENOENT},
      {At("dangling"), "lstat " + At("nowhere") + ": no such file or directory", ENOENT},
  };
  for (const Case& c : cases) {
    Result<std::string> got = ResolveSymlinks(c.in);
    ASSERT_FALSE(got.ok()) << c.in << " -> " << *got;
    EXPECT_EQ(got.error().text(), c.message) << c.in;
    EXPECT_EQ(got.error().errnum, c.errnum) << c.in;
  }
}

TEST_F(SymlinksTest, FollowsAtMost255Links) {
  // l0 -> l1 -> ... -> l255 -> d: 256 links from l0, 255 from l1.
  for (int i = 0; i < 256; ++i) {
    Link(i == 255 ? "d" : LinkName(i + 1), LinkName(i));
  }
  Result<std::string> from_l1 = ResolveSymlinks(At("l1/f"));
  ASSERT_TRUE(from_l1.ok()) << from_l1.error().text();
  EXPECT_EQ(*from_l1, At("d/f"));
  Result<std::string> from_l0 = ResolveSymlinks(At("l0/f"));
  ASSERT_FALSE(from_l0.ok());
  EXPECT_EQ(from_l0.error().text(), "too many links");
}

}  // namespace
}  // namespace quorvane
