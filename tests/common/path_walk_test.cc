#include "common/path_walk.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "support/test_support.h"

namespace quorvane {
namespace {

using test::RealPath;

using test::Exists;
using test::ModeOf;
using test::ScratchDir;
using test::UmaskTest;
using test::WriteFile;

// "l" and the number, appended: GCC 12 at -O3 warns wrongly (-Wrestrict) on
// "l" + std::to_string(i).
std::string LinkName(int i) {
  std::string name = "l";
  name += std::to_string(i);
  return name;
}

// A small tree: d/ with sub/ and the file f, and links around it.
class PathWalkTest : public ::testing::Test {
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

// The walk as the installer's own path takes it: links resolved, any file
// at the end, nobody's ownership checked.
Result<std::string> ResolveSymlinks(const std::string& path) {
  WalkOptions any_file;
  any_file.want_directory = false;
  Result<WalkedPath> walked = WalkPath(path, any_file);
  if (!walked.ok()) return walked.error();
  return walked->resolved;
}

TEST_F(PathWalkTest, ResolvesEveryLinkInThePath) {
  const std::pair<std::string, std::string> cases[] = {
      {"rel/f", "d/f"},         // relative target
      {"abs/sub", "d/sub"},     // absolute target restarts at the root
      {"chain1/sub", "d/sub"},  // a chain of links
      {"rel/sublink/..", "d"},  // ".." removes the element a link resolved to
      {"rel/../d/f", "d/f"},
      {"d/up/d/f", "d/f"},  // a link to ".."
      {"./d//sub/", "d/sub"},
      {"tofile", "d/f"},
      {"d/f/", "d/f"},  // a final "/" is no further element
      {"d", "d"},
  };
  for (const auto& [in, want] : cases) {
    Result<std::string> got = ResolveSymlinks(At(in));
    ASSERT_TRUE(got.ok()) << in << ": " << got.error().message;
    EXPECT_EQ(*got, At(want)) << in;
  }
}

TEST_F(PathWalkTest, RelativePathsStayRelative) {
  char old[PATH_MAX];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(root_.c_str()), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"rel/f", "d/f"}, {"rel/../rel/sub", "d/sub"}, {"d/up/..", ".."}, {"", "."}, {"abs", At("d")},
  };
  for (const auto& [in, want] : cases) {
    Result<std::string> got = ResolveSymlinks(in);
    EXPECT_TRUE(got.ok() && *got == want)
        << in << " -> " << (got.ok() ? *got : got.error().message);
  }
  ASSERT_EQ(chdir(old), 0);
}

TEST_F(PathWalkTest, Failures) {
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
    EXPECT_EQ(got.error().message, c.message) << c.in;
    EXPECT_EQ(got.error().errnum, c.errnum) << c.in;
  }
}

TEST_F(PathWalkTest, FollowsAtMost255Links) {
  // l0 -> l1 -> ... -> l255 -> d: 256 links from l0, 255 from l1.
  for (int i = 0; i < 256; ++i) {
    Link(i == 255 ? "d" : LinkName(i + 1), LinkName(i));
  }
  Result<std::string> from_l1 = ResolveSymlinks(At("l1/f"));
  ASSERT_TRUE(from_l1.ok()) << from_l1.error().message;
  EXPECT_EQ(*from_l1, At("d/f"));
  Result<std::string> from_l0 = ResolveSymlinks(At("l0/f"));
  ASSERT_FALSE(from_l0.ok());
  EXPECT_EQ(from_l0.error().message, "too many links");
}

constexpr uid_t kOther = 65534;

// Layouts that another user may have prepared, walked with the ownership
// rule; the scratch tree itself is root's.
class SafeWalkTest : public PathWalkTest {
 protected:
  void Own(const std::string& rel, uid_t uid) {
    ASSERT_EQ(lchown(At(rel).c_str(), uid, uid), 0) << rel;
  }
  void Dir(const std::string& rel, mode_t mode, uid_t uid = 0) {
    ASSERT_EQ(mkdir(At(rel).c_str(), 0700), 0) << rel;
    ASSERT_EQ(chmod(At(rel).c_str(), mode), 0) << rel;
    Own(rel, uid);
  }

  struct Outcome {
    bool ok;
    WalkStop stop;
    std::string text;  // the resolved path, or the error
  };
  Outcome Walk(const std::string& rel, std::optional<mode_t> create = std::nullopt) {
    WalkOptions options;
    options.check_owners = true;
    options.create_mode = create;
    WalkStop stop = WalkStop::kLookup;
    Result<WalkedPath> walked = WalkPath(At(rel), options, &stop);
    if (!walked.ok()) return {false, stop, walked.error().message};
    EXPECT_TRUE(walked->fd.valid()) << rel;
    return {true, stop, walked->resolved};
  }
};

TEST_F(SafeWalkTest, EveryElementAndLinkIsCheckedOnTheWay) {
  Dir("theirs", 0755, kOther);
  Dir("open", 0777);
  Dir("sticky", 01777);
  Dir("sticky/mine", 0755);
  Dir("sticky/their_sub", 0755, kOther);
  Link("d", "sticky/their_link");
  Own("sticky/their_link", kOther);
  Link("sticky/mine", "root_link");
  Link("theirs", "to_theirs");
  Link("d/../theirs/x", "up_to_theirs");
  Link("theirs/..", "through_theirs");
  const std::string owned = "owned by user 65534";
  const std::string open = "writable by others without the sticky bit";
  struct Case {
    std::string walk;
    std::string unsafe;  // the element refused, "" when the walk passes
    std::string reason;
  };
  const Case cases[] = {
      {"sticky/mine", "", ""},
      {"root_link", "", ""},       // root's link into a sticky directory of root's
      {"rel/sublink/..", "", ""},  // ".." after a link goes back to the link's directory
      {"theirs", "theirs", owned},
      {"theirs/../d", "theirs", owned},  // passing through counts
      {"open", "open", open},
      {"open/../d", "open", open},
      {"sticky/their_sub", "sticky/their_sub", owned},
      {"sticky/their_link", "sticky/their_link", owned},  // the link itself
      {"to_theirs", "theirs", owned},                     // where root's link leads
      {"up_to_theirs", "theirs", owned},
      {"through_theirs", "theirs", owned},
  };
  for (const Case& c : cases) {
    Outcome got = Walk(c.walk);
    if (c.unsafe.empty()) {
      EXPECT_TRUE(got.ok) << c.walk << ": " << got.text;
      continue;
    }
    EXPECT_FALSE(got.ok) << c.walk;
    EXPECT_EQ(got.stop, WalkStop::kUnsafe) << c.walk;
    EXPECT_EQ(got.text, "unsafe path " + At(c.unsafe) + ": " + c.reason) << c.walk;
  }
}

// Every failure to examine an element stops the walk, creating or not: none
// of them lets the rest of the path count as checked.
TEST_F(SafeWalkTest, FailuresStopTheWalk) {
  const std::string long_name(300, 'n');
  struct Case {
    std::string walk;
    bool create;
    WalkStop stop;
    std::string error;
  };
  const Case cases[] = {
      {"missing/x", false, WalkStop::kLookup,
       "lstat " + At("missing") + ": no such file or directory"},
      {"loop1/x", true, WalkStop::kLookup, "too many links"},
      {"d/f/x", true, WalkStop::kLookup, "not a directory"},
      {"tofile", true, WalkStop::kNotDirectory, "stat " + At("d/f") + ": not a directory"},
      {long_name + "/x", true, WalkStop::kLookup,
       "lstat " + At(long_name) + ": file name too long"},
      // A missing level that a link names is not made through the link.
      {"dangling", true, WalkStop::kCreate, "mkdir " + At("dangling") + ": file exists"},
      {"rel/dangling_inside/x", true, WalkStop::kCreate,
       "mkdir " + At("rel/dangling_inside") + ": file exists"},
  };
  Link("nowhere", "d/dangling_inside");
  for (const Case& c : cases) {
    Outcome got = Walk(c.walk, c.create ? std::optional<mode_t>(0640) : std::nullopt);
    EXPECT_FALSE(got.ok) << c.walk;
    EXPECT_EQ(got.stop, c.stop) << c.walk;
    EXPECT_EQ(got.text, c.error) << c.walk;
  }
  EXPECT_FALSE(test::Exists(At("nowhere")));
}

// Missing levels are made with the given mode, each checked like the rest;
// one that another user made in the meantime is refused.
TEST_F(SafeWalkTest, MissingLevelsAreMadeAndChecked) {
  Outcome made = Walk("d/new1/new2", 0640);
  ASSERT_TRUE(made.ok) << made.text;
  EXPECT_EQ(made.text, At("d/new1/new2"));
  for (const char* level : {"d/new1", "d/new1/new2"}) {
    struct stat st;
    ASSERT_EQ(lstat(At(level).c_str(), &st), 0) << level;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << level;
    EXPECT_EQ(st.st_mode & 07777, 0640u) << level;
  }
  Dir("d/theirs_already", 0755, kOther);
  Outcome theirs = Walk("d/theirs_already/x", 0640);
  EXPECT_FALSE(theirs.ok);
  EXPECT_EQ(theirs.text, "unsafe path " + At("d/theirs_already") + ": owned by user 65534");
  EXPECT_FALSE(test::Exists(At("d/theirs_already/x")));
}

// A tree deeper than the system's path length: the walk never hands the
// whole text to the system, so it neither fails open nor gives up there.
TEST_F(SafeWalkTest, PathsLongerThanTheSystemTakes) {
  const std::string level(100, 'l');
  std::string rel = "d";
  int fd = open(At("d").c_str(), O_DIRECTORY | O_RDONLY);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(mkdirat(fd, level.c_str(), 0755), 0);
    int next = openat(fd, level.c_str(), O_DIRECTORY | O_RDONLY);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    rel += "/" + level;
  }
  ASSERT_EQ(mkdirat(fd, "theirs", 0755), 0);
  ASSERT_EQ(fchownat(fd, "theirs", kOther, kOther, 0), 0);
  close(fd);
  ASSERT_GT(At(rel).size(), static_cast<size_t>(PATH_MAX));
  Outcome deep = Walk(rel);
  EXPECT_TRUE(deep.ok) << deep.text;
  EXPECT_EQ(deep.text, At(rel));
  Outcome theirs = Walk(rel + "/theirs");
  EXPECT_FALSE(theirs.ok);
  EXPECT_EQ(theirs.stop, WalkStop::kUnsafe);
  EXPECT_EQ(theirs.text, "unsafe path " + At(rel + "/theirs") + ": owned by user 65534");
}

using MakeDirectoryTest = UmaskTest;

// A walk that makes every missing level, as the temporary and the debug
// directory are made.
Status MakeDirectoryWithParents(const std::string& path, mode_t mode) {
  WalkOptions options;
  options.create_mode = mode;
  Result<WalkedPath> walked = WalkPath(path, options);
  return walked.ok() ? Status::Ok() : Status(walked.error());
}

TEST_F(MakeDirectoryTest, CreatesEachMissingLevelWithTheModeLessTheUmask) {
  ScratchDir s;
  ASSERT_TRUE(MakeDirectoryWithParents(s / "a/b//c/", 0751).ok());
  EXPECT_EQ(ModeOf(s / "a"), 0751u & ~022u);
  EXPECT_EQ(ModeOf(s / "a/b"), 0751u & ~022u);
  EXPECT_EQ(ModeOf(s / "a/b/c"), 0751u & ~022u);

  test::ScopedUmask mask(077);
  ASSERT_TRUE(MakeDirectoryWithParents(s / "x/y", 0640).ok());
  EXPECT_EQ(ModeOf(s / "x"), 0600u);
  EXPECT_EQ(ModeOf(s / "x/y"), 0600u);

  // Existing directories, also through a link, are left as they are.
  ASSERT_EQ(chmod((s / "a").c_str(), 0700), 0);
  ASSERT_EQ(symlink("a", (s / "link").c_str()), 0);
  EXPECT_TRUE(MakeDirectoryWithParents(s / "a", 0640).ok());
  EXPECT_TRUE(MakeDirectoryWithParents(s / "link", 0640).ok());
  EXPECT_EQ(ModeOf(s / "a"), 0700u);
}

TEST_F(MakeDirectoryTest, Failures) {
  ScratchDir s;
  WriteFile(s / "file", "x");
  ASSERT_EQ(symlink("nowhere", (s / "dangling").c_str()), 0);
  const std::pair<std::string, std::string> cases[] = {
      {s / "file", "stat " + s / "file" + ": not a directory"},
      {s / "file/a/b", "not a directory"},
      {s / "dangling", "mkdir " + s / "dangling" + ": file exists"},
      {s / "dangling/a", "mkdir " + s / "dangling" + ": file exists"},
  };
  for (const auto& [path, want] : cases) {
    Status st = MakeDirectoryWithParents(path, 0640);
    ASSERT_FALSE(st.ok()) << path;
    EXPECT_EQ(st.error().message, want);
  }
  EXPECT_FALSE(Exists(s / "nowhere"));
}

}  // namespace
}  // namespace quorvane
