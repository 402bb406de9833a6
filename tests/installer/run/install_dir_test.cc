#include "installer/run/install_dir.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <set>

#include "installer/constants.h"
#include "installer/run/exit_codes.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::Exists;
using test::LogLines;
using test::ModeOf;
using test::ReadFile;
using test::ScratchDir;

RandomSource Fixed(uint32_t n) {
  return [n] { return n; };
}

UniqueFd HoldDir(const std::string& dir) {
  return UniqueFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

class InstallDirTest : public test::UmaskTest {
 protected:
  ScratchDir s_;
};

TEST_F(InstallDirTest, NameIsThePrefixAndARandomNumber) {
  std::set<std::string> names;
  for (int i = 0; i < 3; ++i) {
    Result<std::string> dir = createInstallDir(AT_FDCWD, s_.path(), "quorvane_", "/nonexistent");
    ASSERT_TRUE(dir.ok()) << dir.error().message;
    EXPECT_TRUE(std::regex_match(*dir, std::regex(s_.path() + "/quorvane_(0|[1-9][0-9]{0,9})")))
        << *dir;
    EXPECT_EQ(ModeOf(*dir), 0700u);
    names.insert(*dir);
  }
  EXPECT_EQ(names.size(), 3u);
}

TEST_F(InstallDirTest, NamesFromPatternAndDirectory) {
  struct Case {
    std::string dir, pattern;
    uint32_t number;
    std::string want;
  };
  const Case cases[] = {
      {s_.path(), "quorvane_", 0, s_ / "quorvane_0"},
      {s_.path(), "", 4294967295u, s_ / "quorvane_4294967295"},  // empty: the usual prefix
      {s_.path() + "/", "quorvane_", 7, s_ / "quorvane_7"},      // no second "/"
      {s_.path() + "/.", "a*b*c", 12, s_ / "./a*b12c"},  // split at the last "*"; not cleaned
      {s_.path(), "x*", 3, s_ / "x3"},
      {"", "p_", 5, s_ / "dflt/p_5"},  // empty: the default directory
  };
  ASSERT_EQ(mkdir((s_ / "dflt").c_str(), 0755), 0);
  for (const Case& c : cases) {
    Result<std::string> dir =
        createInstallDir(AT_FDCWD, c.dir, c.pattern, s_ / "dflt", Fixed(c.number));
    ASSERT_TRUE(dir.ok()) << c.pattern << ": " << dir.error().message;
    EXPECT_EQ(*dir, c.want);
    EXPECT_EQ(ModeOf(*dir), 0700u);
  }
}

TEST_F(InstallDirTest, PatternWithSlashIsRefused) {
  int draws = 0;
  Result<std::string> dir = createInstallDir(AT_FDCWD, s_.path(), "sub/x*", "/nonexistent", [&] {
    ++draws;
    return 1u;
  });
  ASSERT_FALSE(dir.ok());
  EXPECT_EQ(dir.error().message, "mkdirtemp sub/x*: pattern contains path separator");
  EXPECT_EQ(draws, 0);
  EXPECT_FALSE(Exists(s_ / "sub"));
}

TEST_F(InstallDirTest, AnExistingNameIsNeverReused) {
  ASSERT_EQ(mkdir((s_ / "quorvane_1").c_str(), 0755), 0);
  int draws = 0;
  Result<std::string> dir = createInstallDir(AT_FDCWD, s_.path(), "quorvane_", "/nonexistent",
                                             [&] { return ++draws < 3 ? 1u : 2u; });
  ASSERT_TRUE(dir.ok());
  EXPECT_EQ(*dir, s_ / "quorvane_2");
  EXPECT_EQ(draws, 3);
  EXPECT_EQ(ModeOf(s_ / "quorvane_1"), 0755u);
}

TEST_F(InstallDirTest, GivesUpAfter10000Attempts) {
  ASSERT_EQ(mkdir((s_ / "quorvane_9").c_str(), 0755), 0);
  int draws = 0;
  Result<std::string> dir = createInstallDir(AT_FDCWD, s_.path(), "quorvane_", "/nonexistent", [&] {
    ++draws;
    return 9u;
  });
  ASSERT_FALSE(dir.ok());
  EXPECT_EQ(draws, 10000);
  EXPECT_EQ(dir.error().errnum, EEXIST);
  EXPECT_EQ(dir.error().message, "mkdirtemp " + s_ / "quorvane_*: file exists");
}

TEST_F(InstallDirTest, CreationFailures) {
  test::WriteFile(s_ / "file", "x");
  const std::pair<std::string, std::string> cases[] = {
      {s_ / "missing", "stat " + s_ / "missing" + ": no such file or directory"},
      {s_ / "missing/deeper", "stat " + s_ / "missing/deeper" + ": no such file or directory"},
      {s_ / "file", "mkdir " + s_ / "file/quorvane_4" + ": not a directory"},
      // dir's own status query fails otherwise: the creation error stands.
      {s_ / "file/sub", "mkdir " + s_ / "file/sub/quorvane_4" + ": not a directory"},
  };
  for (const auto& [dir, want] : cases) {
    Result<std::string> got =
        createInstallDir(AT_FDCWD, dir, "quorvane_", "/nonexistent", Fixed(4));
    ASSERT_FALSE(got.ok()) << dir;
    EXPECT_EQ(got.error().message, want);
  }
  EXPECT_FALSE(Exists(s_ / "missing"));
}

TEST_F(InstallDirTest, StepSetsTheRunsInstallDirOrLogs) {
  RunState run;
  run.log.initInstallerLog(s_ / "log", true);
  run.params.TempDir = s_.path();
  run.tempDirFd = HoldDir(s_.path());
  EXPECT_TRUE(MakeInstallDir(run));
  EXPECT_TRUE(run.installDirCreated);
  EXPECT_TRUE(run.installDirFd.valid());
  EXPECT_EQ(run.installDir.rfind(s_ / "quorvane_", 0), 0u);
  EXPECT_EQ(ModeOf(run.installDir), 0700u);

  // The held temporary directory was removed after its check.
  ASSERT_EQ(mkdir((s_ / "missing").c_str(), 0755), 0);
  RunState failing;
  failing.log.initInstallerLog(s_ / "log2", true);
  failing.params.TempDir = s_ / "missing";
  failing.tempDirFd = HoldDir(s_ / "missing");
  ASSERT_EQ(rmdir((s_ / "missing").c_str()), 0);
  EXPECT_FALSE(MakeInstallDir(failing));
  EXPECT_FALSE(failing.installDirCreated);
  EXPECT_EQ(failing.exitCode, exitInstallDirFailed);
  EXPECT_EQ(LogLines(ReadFile(s_ / "log2")),
            std::vector<std::string>{"[ERROR] Cannot create temporary folder. (stat " +
                                     s_ / "missing" + ": no such file or directory)"});
}

// Inside the held temporary directory: a rename of the path above it
// between the check and the creation does not move where it is made.
TEST_F(InstallDirTest, MadeInTheHeldDirectory) {
  ASSERT_EQ(mkdir((s_ / "held").c_str(), 0755), 0);
  UniqueFd held = HoldDir(s_ / "held");
  ASSERT_EQ(rename((s_ / "held").c_str(), (s_ / "moved").c_str()), 0);
  ASSERT_EQ(mkdir((s_ / "held").c_str(), 0755), 0);
  Result<std::string> dir = createInstallDir(held.get(), s_ / "held", "quorvane_", "", Fixed(5));
  ASSERT_TRUE(dir.ok()) << dir.error().message;
  EXPECT_EQ(*dir, s_ / "held/quorvane_5");
  EXPECT_TRUE(Exists(s_ / "moved/quorvane_5"));
  EXPECT_FALSE(Exists(s_ / "held/quorvane_5"));
}

// The install directory is held open: a directory put at its path later, or
// a change of its mode, is found by the check before extraction and before
// the start, and a removed one reads as the given operation's failure.
TEST_F(InstallDirTest, ReplacedOrOpenedInstallDirectoryIsFound) {
  for (const char* change : {"replaced", "opened", "removed"}) {
    SCOPED_TRACE(change);
    RunState run;
    const std::string log = s_ / "log-check";
    unlink(log.c_str());
    run.log.initInstallerLog(log, true);
    run.params.TempDir = s_.path();
    run.tempDirFd = HoldDir(s_.path());
    ASSERT_TRUE(MakeInstallDir(run));
    ASSERT_TRUE(CheckInstallDir(run, "chdir").ok());
    const std::string d = run.installDir;
    std::string why;
    if (change == std::string("replaced")) {
      ASSERT_EQ(rename(d.c_str(), (d + ".old").c_str()), 0);
      ASSERT_EQ(mkdir(d.c_str(), 0700), 0);
      why = "verify " + d + ": no longer the directory created for this run";
    } else if (change == std::string("opened")) {
      ASSERT_EQ(chmod(d.c_str(), 0755), 0);
      why = "verify " + d + ": owner or mode changed";
    } else {
      ASSERT_EQ(rmdir(d.c_str()), 0);
      why = "chdir " + d + ": no such file or directory";
    }
    Status checked = CheckInstallDir(run, "chdir");
    ASSERT_FALSE(checked.ok());
    EXPECT_EQ(checked.error().message, why);
    EXPECT_FALSE(InstallDirReadyForExtraction(run));
    EXPECT_EQ(run.exitCode, exitInstallDirFailed);
    const std::string extraction_why =
        change == std::string("removed") ? "lstat " + d + ": no such file or directory" : why;
    EXPECT_EQ(LogLines(ReadFile(log)),
              std::vector<std::string>{"[ERROR] Cannot create temporary folder. (" +
                                       extraction_why + ")"});
  }
}

}  // namespace
}  // namespace quorvane
