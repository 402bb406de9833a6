#include "installer/temp_dir.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "common/make_directories.h"
#include "installer/constants.h"
#include "installer/exit_codes.h"
#include "support/run_as_user.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::Exists;
using test::LogLines;
using test::ModeOf;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) != nullptr ? buf : "";
}

// Every path under root, relative to it.
std::set<std::string> TreeOf(const std::string& root) {
  std::set<std::string> out;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    out.insert(std::filesystem::relative(it->path(), root).string());
  }
  return out;
}

class UmaskTest : public ::testing::Test {
 protected:
  void SetUp() override { old_ = umask(022); }
  void TearDown() override { umask(old_); }
  mode_t old_ = 0;
};

using MakeDirectoryTest = UmaskTest;

TEST_F(MakeDirectoryTest, CreatesEachMissingLevelWithTheModeLessTheUmask) {
  ScratchDir s;
  ASSERT_TRUE(MakeDirectoryWithParents(s / "a/b//c/", 0751).ok());
  EXPECT_EQ(ModeOf(s / "a"), 0751u & ~022u);
  EXPECT_EQ(ModeOf(s / "a/b"), 0751u & ~022u);
  EXPECT_EQ(ModeOf(s / "a/b/c"), 0751u & ~022u);

  umask(077);
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
      {s / "file", "mkdir " + s / "file" + ": not a directory"},
      {s / "file/a/b", "mkdir " + s / "file" + ": not a directory"},
      {s / "dangling", "mkdir " + s / "dangling" + ": file exists"},
      {s / "dangling/a", "mkdir " + s / "dangling" + ": file exists"},
  };
  for (const auto& [path, want] : cases) {
    Status st = MakeDirectoryWithParents(path, 0640);
    ASSERT_FALSE(st.ok()) << path;
    EXPECT_EQ(st.error().text(), want);
  }
  EXPECT_FALSE(Exists(s / "nowhere"));
}

class PrepareTempDirTest : public UmaskTest {
 protected:
  static void Prepare(quorvane::Run& run, const std::string& temp_dir,
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
      {"", "dir", wd + "/dir"},                 // empty: the default, made absolute
      {"./dir/", "/nonexistent", wd + "/dir"},
      {s_ / "link", "/nonexistent", s_ / "link"},  // the link stays unresolved
      {s_ / "dir/../link", "/nonexistent", s_ / "link"},
  };
  for (const Case& c : cases) {
    quorvane::Run run;
    Prepare(run, c.value, c.default_value);
    EXPECT_TRUE(PrepareTempDir(run)) << c.value;
    EXPECT_EQ(run.params.TempDir, c.want);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.log.pendingLogLines().empty());
  }
  ASSERT_EQ(chdir(old), 0);
}

TEST_F(PrepareTempDirTest, MissingLevelsAreCreatedAndNotExaminedAgain) {
  quorvane::Run run;
    Prepare(run, s_ / "new/one/two", "/nonexistent");
  EXPECT_TRUE(PrepareTempDir(run));
  EXPECT_EQ(run.params.TempDir, s_ / "new/one/two");
  for (const char* level : {"new", "new/one", "new/one/two"}) EXPECT_EQ(ModeOf(s_ / level), 0640u);
}

TEST_F(PrepareTempDirTest, RejectedValues) {
  WriteFile(s_ / "file", "x");
  ASSERT_EQ(symlink("nowhere", (s_ / "dangling").c_str()), 0);
  const std::string longPath = s_.path() + "/" + std::string(5000, 'a');
  const std::pair<std::string, std::string> cases[] = {
      {s_ / "file", "[ERROR] Temporary directory value is not a directory: " + s_ / "file"},
      {s_ / "file/x", "[ERROR] Invalid temporary directory " + s_ / "file/x" + ". (stat " +
                          s_ / "file/x" + ": not a directory)"},
      {s_ / "dangling", "Couldn't create temporary directory " + s_ / "dangling" + ". (mkdir " +
                            s_ / "dangling" + ": file exists)"},
      {longPath, "[ERROR] Invalid temporary directory " + longPath + ". (stat " + longPath +
                     ": file name too long)"},
  };
  const std::set<std::string> before = TreeOf(s_.path());
  for (const auto& [value, line] : cases) {
    quorvane::Run run;
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
  quorvane::Run run;
    Prepare(run, "rel", "/nonexistent");
  EXPECT_FALSE(PrepareTempDir(run));
  ASSERT_EQ(chdir(old), 0);
  setenv("PWD", old, 1);
  EXPECT_EQ(run.exitCode, exitBadDirectory);
  ASSERT_EQ(run.log.pendingLogLines().size(), 1u);
  EXPECT_EQ(run.log.pendingLogLines()[0].rfind("[ERROR] Failed to get absolute path for rel. (", 0), 0u)
      << run.log.pendingLogLines()[0];
}

// The installer itself, run in a scratch directory; the late log of a run
// that ends here lands in TMPDIR.
class TempDirRunTest : public UmaskTest {
 protected:
  void SetUp() override {
    UmaskTest::SetUp();
    ASSERT_EQ(mkdir(logs_.c_str(), 01777), 0);
    ASSERT_EQ(chmod(logs_.c_str(), 01777), 0);
  }

  test::ProcessResult Install(std::vector<std::string> args, const std::string& tmpdir) {
    args.insert(args.begin(), test::InstallerBinary());
    return test::RunProgram(test::InstallerBinary(), args, {"TMPDIR=" + tmpdir}, s_.path());
  }

  // The late log's lines after the opening ones, before the closing line.
  std::vector<std::string> LateLogTail(const std::string& dir) {
    std::vector<std::string> lines = LogLines(ReadFile(dir + "/Quorvane_i.log"));
    std::vector<std::string> tail;
    for (const std::string& l : lines) {
      if (l.rfind("[INFO ]", 0) == 0 || l.empty()) continue;
      tail.push_back(l);
    }
    return tail;
  }

  ScratchDir s_;
  const std::string logs_ = s_ / "logs";
};

TEST_F(TempDirRunTest, RelativeTmpdirOfTwoMissingLevelsIsCreated) {
  test::ProcessResult r = Install({"--no-delete"}, "tmp/work");
  EXPECT_NE(r.exit_status, 254);
  EXPECT_EQ(ModeOf(s_ / "tmp"), 0640u);
  EXPECT_EQ(ModeOf(s_ / "tmp/work"), 0640u);
  // The run went on inside it: the kept log is there.
  EXPECT_TRUE(Exists(s_ / "tmp/work/Quorvane_i.log"));
}

TEST_F(TempDirRunTest, BadValuesEndTheRunWithTheirLine) {
  WriteFile(s_ / "file", "x");
  ASSERT_EQ(symlink("nowhere", (s_ / "dangling").c_str()), 0);
  const std::string abs = RealPath(s_.path());
  const std::string longPath = s_.path() + "/" + std::string(5000, 'a');
  struct Case {
    std::vector<std::string> args;
    std::string line;
  };
  const Case cases[] = {
      {{"--temp-dir", s_ / "file"}, "[ERROR] Temporary directory value is not a directory: " + s_ / "file"},
      {{"--temp-dir", "file"}, "[ERROR] Temporary directory value is not a directory: " + abs + "/file"},
      {{"--temp-dir", s_ / "file/sub"}, "[ERROR] Invalid temporary directory " + s_ / "file/sub" +
                                            ". (stat " + s_ / "file/sub" + ": not a directory)"},
      {{"--temp-dir", s_ / "dangling"}, "Couldn't create temporary directory " + s_ / "dangling" +
                                            ". (mkdir " + s_ / "dangling" + ": file exists)"},
      {{"--temp-dir", longPath}, "[ERROR] Invalid temporary directory " + longPath + ". (stat " +
                                     longPath + ": file name too long)"},
  };
  for (const Case& c : cases) {
    unlink((logs_ + "/Quorvane_i.log").c_str());
    const std::set<std::string> before = TreeOf(s_.path());
    test::ProcessResult r = Install(c.args, logs_);
    EXPECT_EQ(r.exit_status, 254) << c.line;
    EXPECT_EQ(LateLogTail(logs_), std::vector<std::string>{c.line});
    std::set<std::string> after = TreeOf(s_.path());
    after.erase("logs/Quorvane_i.log");
    EXPECT_EQ(after, before) << c.line;
    EXPECT_TRUE(r.out.empty() && r.err.empty());
  }
}

TEST_F(TempDirRunTest, EmptyValueTakesTheDefault) {
  // An empty --temp-dir means TMPDIR ("logs", relative to the working
  // directory), not the working directory itself.
  test::ProcessResult r = Install({"--temp-dir", "", "--no-delete"}, "logs");
  EXPECT_NE(r.exit_status, 254);
  EXPECT_TRUE(Exists(logs_ + "/Quorvane_i.log"));
  EXPECT_FALSE(Exists(s_ / "Quorvane_i.log"));
}

TEST_F(TempDirRunTest, LinkToADirectoryIsUsedUnresolved) {
  ASSERT_EQ(mkdir((s_ / "real").c_str(), 0755), 0);
  ASSERT_EQ(symlink("real", (s_ / "link").c_str()), 0);
  test::ProcessResult r = Install({"--temp-dir", s_ / "link", "--no-delete"}, logs_);
  EXPECT_NE(r.exit_status, 254);
  const std::string log = ReadFile(s_ / "real/Quorvane_i.log");
  EXPECT_NE(log.find(s_ / "link/quorvane_"), std::string::npos) << log;
  EXPECT_EQ(log.find(s_ / "real/quorvane_"), std::string::npos) << log;
}

// As an ordinary user, with the administrator check off.
class TempDirAsUserTest : public TempDirRunTest {
 protected:
  void SetUp() override {
    TempDirRunTest::SetUp();
    ASSERT_EQ(chmod(s_.path().c_str(), 0755), 0);
    test::MakeReachable(s_.path());
  }
  int InstallAsNobody(const std::string& temp_dir) {
    const std::string bin = test::InstallerBinary();
    return test::RunAsUser(test::kNobodyUid, test::kNobodyUid, test::kNobodyGid, bin,
                              {bin, "--no-admin-check", "--temp-dir", temp_dir},
                              {"TMPDIR=" + logs_}, s_.path());
  }
};

TEST_F(TempDirAsUserTest, UnreadablePath) {
  ASSERT_EQ(mkdir((s_ / "locked").c_str(), 0700), 0);
  const std::string path = s_ / "locked/tmp";
  EXPECT_EQ(InstallAsNobody(path), 254);
  EXPECT_EQ(LateLogTail(logs_), std::vector<std::string>{"[ERROR] Invalid temporary directory " +
                                                          path + ". (stat " + path +
                                                          ": permission denied)"});
  EXPECT_FALSE(Exists(path));
}

TEST_F(TempDirAsUserTest, SecondMissingLevelCannotBeCreatedInTheFirst) {
  ASSERT_EQ(mkdir((s_ / "open").c_str(), 01777), 0);
  ASSERT_EQ(chmod((s_ / "open").c_str(), 01777), 0);
  const std::string path = s_ / "open/a/b";
  EXPECT_EQ(InstallAsNobody(path), 254);
  EXPECT_EQ(LateLogTail(logs_),
            std::vector<std::string>{"Couldn't create temporary directory " + path + ". (mkdir " +
                                     path + ": permission denied)"});
  // The first level stays, without search permission.
  EXPECT_EQ(ModeOf(s_ / "open/a"), 0640u);
  EXPECT_FALSE(Exists(path));
}

}  // namespace
}  // namespace quorvane
