#include "installer/run/temp_dir.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "installer/constants.h"
#include "installer/run/exit_codes.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::RealPath;
using test::TreeOf;
using test::UmaskTest;

using test::ModeOf;
using test::ScratchDir;
using test::WriteFile;

class PrepareTempDirTest : public UmaskTest {
 protected:
  static void Prepare(RunState& run, const std::string& temp_dir,
                      const std::string& default_temp_dir) {
    run.params.TempDir = temp_dir;
    run.defaultTempDir = default_temp_dir;
  }
  ScratchDir s_;
};

TEST_F(PrepareTempDirTest, AcceptedValues) {
  ASSERT_EQ(mkdir((s_ / "dir").c_str(), 0755), 0);
  ASSERT_EQ(symlink("dir", (s_ / "link").c_str()), 0);
  char old[PATH_MAX];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(s_.path().c_str()), 0);
  const std::string wd = RealPath(".");
  setenv("PWD", wd.c_str(), 1);

  struct Case {
    std::string value, default_value, want;
  };
  const Case cases[] = {
      {s_ / "dir", "/nonexistent", s_ / "dir"},
      {"", "dir", wd + "/dir"},  // empty: the default, made absolute
      {"./dir/", "/nonexistent", wd + "/dir"},
      {s_ / "link", "/nonexistent", s_ / "link"},  // the link stays unresolved
      {s_ / "dir/../link", "/nonexistent", s_ / "link"},
  };
  for (const Case& c : cases) {
    RunState run;
    Prepare(run, c.value, c.default_value);
    EXPECT_TRUE(PrepareTempDir(run)) << c.value;
    EXPECT_TRUE(run.tempDirFd.valid()) << c.value;
    EXPECT_EQ(run.params.TempDir, c.want);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.log.pendingLogLines().empty());
  }
  ASSERT_EQ(chdir(old), 0);
}

TEST_F(PrepareTempDirTest, MissingLevelsAreCreatedAndHeld) {
  RunState run;
  Prepare(run, s_ / "new/one/two", "/nonexistent");
  EXPECT_TRUE(PrepareTempDir(run));
  EXPECT_EQ(run.params.TempDir, s_ / "new/one/two");
  struct stat held, named;
  ASSERT_EQ(fstat(run.tempDirFd.get(), &held), 0);
  ASSERT_EQ(stat((s_ / "new/one/two").c_str(), &named), 0);
  EXPECT_TRUE(held.st_ino == named.st_ino && held.st_dev == named.st_dev);
  for (const char* level : {"new", "new/one", "new/one/two"}) EXPECT_EQ(ModeOf(s_ / level), 0640u);
}

TEST_F(PrepareTempDirTest, RejectedValues) {
  WriteFile(s_ / "file", "x");
  ASSERT_EQ(symlink("nowhere", (s_ / "dangling").c_str()), 0);
  const std::string long_path = s_.path() + "/" + std::string(5000, 'a');
  const std::pair<std::string, std::string> cases[] = {
      {s_ / "file", "[ERROR] Temporary directory value is not a directory: " + s_ / "file"},
      {s_ / "file/x", "[ERROR] Invalid temporary directory " + s_ / "file/x" + ". (stat " +
                          s_ / "file/x" + ": not a directory)"},
      {s_ / "dangling", "Couldn't create temporary directory " + s_ / "dangling" + ". (mkdir " +
                            s_ / "dangling" + ": file exists)"},
      {long_path, "[ERROR] Invalid temporary directory " + long_path + ". (stat " + long_path +
                      ": file name too long)"},
  };
  const std::set<std::string> before = TreeOf(s_.path());
  for (const auto& [value, line] : cases) {
    RunState run;
    Prepare(run, value, "/nonexistent");
    EXPECT_FALSE(PrepareTempDir(run));
    EXPECT_EQ(run.exitCode, exitBadDirectory);
    ASSERT_EQ(run.log.pendingLogLines().size(), 1u);
    EXPECT_EQ(run.log.pendingLogLines()[0], line);
  }
  EXPECT_EQ(TreeOf(s_.path()), before);
}

TEST_F(PrepareTempDirTest, NoWorkingDirectoryMeansNoAbsolutePath) {
  char old[PATH_MAX];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(mkdir((s_ / "gone").c_str(), 0755), 0);
  ASSERT_EQ(chdir((s_ / "gone").c_str()), 0);
  ASSERT_EQ(rmdir((s_ / "gone").c_str()), 0);
  unsetenv("PWD");
  RunState run;
  Prepare(run, "rel", "/nonexistent");
  EXPECT_FALSE(PrepareTempDir(run));
  ASSERT_EQ(chdir(old), 0);
  setenv("PWD", old, 1);
  EXPECT_EQ(run.exitCode, exitBadDirectory);
  ASSERT_EQ(run.log.pendingLogLines().size(), 1u);
  EXPECT_EQ(run.log.pendingLogLines()[0].rfind("[ERROR] Failed to get absolute path for rel. (", 0),
            0u)
      << run.log.pendingLogLines()[0];
}

}  // namespace
}  // namespace quorvane
