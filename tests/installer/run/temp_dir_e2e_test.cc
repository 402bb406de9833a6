// The temporary directory step in real runs of the installer: the late log
// of a run that ends there lands in TMPDIR.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "support/installer_fixture.h"
#include "support/log_lines.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::RealPath;
using test::TreeOf;
using test::UmaskTest;

using test::Exists;
using test::Lines;
using test::ModeOf;
using test::ReadFile;
using test::WriteFile;

// The installer without a payload, run in a bare scratch directory with
// exactly TMPDIR in its environment.
class TempDirRunTest : public UmaskTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(logs_.c_str(), 01777), 0);
    ASSERT_EQ(chmod(logs_.c_str(), 01777), 0);
  }

  test::InstallerRun Install(const Lines& args, const std::string& tmpdir,
                             const test::Wrapper& wrapper = {}) {
    test::RunOptions options;
    options.env = Lines{"TMPDIR=" + tmpdir};
    options.cwd = s_.path();
    options.wrapper = wrapper;
    return s_.RunInstaller(test::InstallerBinary(), args, options);
  }

  // The late log's lines after the opening ones, before the closing line.
  Lines LateLogTail(const std::string& dir) {
    Lines tail;
    for (const std::string& l : test::LogLines(ReadFile(dir + "/Quorvane_i.log"))) {
      if (l.rfind("[INFO ]", 0) == 0 || l.empty()) continue;
      tail.push_back(l);
    }
    return tail;
  }

  test::InstallerSandbox s_{test::Words{}};
  const std::string logs_ = s_ / "logs";
};

TEST_F(TempDirRunTest, RelativeTmpdirOfTwoMissingLevelsIsCreated) {
  test::InstallerRun r = Install({"--no-delete"}, "tmp/work");
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
  const std::string long_path = s_.path() + "/" + std::string(5000, 'a');
  struct Case {
    Lines args;
    std::string line;
  };
  const Case cases[] = {
      {{"--temp-dir", s_ / "file"},
       "[ERROR] Temporary directory value is not a directory: " + s_ / "file"},
      {{"--temp-dir", "file"},
       "[ERROR] Temporary directory value is not a directory: " + abs + "/file"},
      {{"--temp-dir", s_ / "file/sub"},
       "[ERROR] Invalid temporary directory " + s_ / "file/sub" + ". (stat " + s_ / "file/sub" +
           ": not a directory)"},
      {{"--temp-dir", s_ / "dangling"},
       "Couldn't create temporary directory " + s_ / "dangling" + ". (mkdir " + s_ / "dangling" +
           ": file exists)"},
      {{"--temp-dir", long_path},
       "[ERROR] Invalid temporary directory " + long_path + ". (stat " + long_path +
           ": file name too long)"},
  };
  for (const Case& c : cases) {
    unlink((logs_ + "/Quorvane_i.log").c_str());
    const std::set<std::string> before = TreeOf(s_.path());
    test::InstallerRun r = Install(c.args, logs_);
    EXPECT_EQ(r.exit_status, 254) << c.line;
    EXPECT_EQ(LateLogTail(logs_), Lines{c.line});
    std::set<std::string> after = TreeOf(s_.path());
    after.erase("logs/Quorvane_i.log");
    EXPECT_EQ(after, before) << c.line;
    EXPECT_TRUE(r.out.empty() && r.err.empty());
  }
}

TEST_F(TempDirRunTest, EmptyValueTakesTheDefault) {
  // An empty --temp-dir means TMPDIR ("logs", relative to the working
  // directory), not the working directory itself.
  test::InstallerRun r = Install({"--temp-dir", "", "--no-delete"}, "logs");
  EXPECT_NE(r.exit_status, 254);
  EXPECT_TRUE(Exists(logs_ + "/Quorvane_i.log"));
  EXPECT_FALSE(Exists(s_ / "Quorvane_i.log"));
}

TEST_F(TempDirRunTest, LinkToADirectoryIsUsedUnresolved) {
  ASSERT_EQ(mkdir((s_ / "real").c_str(), 0755), 0);
  ASSERT_EQ(symlink("real", (s_ / "link").c_str()), 0);
  test::InstallerRun r = Install({"--temp-dir", s_ / "link", "--no-delete"}, logs_);
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
    return Install({"--no-admin-check", "--temp-dir", temp_dir}, logs_,
                   test::AsUser(test::kNobodyUid, test::kNobodyUid))
        .exit_status;
  }
};

TEST_F(TempDirAsUserTest, UnreadablePath) {
  ASSERT_EQ(mkdir((s_ / "locked").c_str(), 0700), 0);
  const std::string path = s_ / "locked/tmp";
  EXPECT_EQ(InstallAsNobody(path), 254);
  EXPECT_EQ(LateLogTail(logs_), Lines{"[ERROR] Invalid temporary directory " + path + ". (stat " +
                                      path + ": permission denied)"});
  EXPECT_FALSE(Exists(path));
}

TEST_F(TempDirAsUserTest, SecondMissingLevelCannotBeCreatedInTheFirst) {
  ASSERT_EQ(mkdir((s_ / "open").c_str(), 01777), 0);
  ASSERT_EQ(chmod((s_ / "open").c_str(), 01777), 0);
  const std::string path = s_ / "open/a/b";
  EXPECT_EQ(InstallAsNobody(path), 254);
  EXPECT_EQ(LateLogTail(logs_), Lines{"Couldn't create temporary directory " + path + ". (mkdir " +
                                      path + ": permission denied)"});
  // The first level stays, without search permission.
  EXPECT_EQ(ModeOf(s_ / "open/a"), 0640u);
  EXPECT_FALSE(Exists(path));
}

}  // namespace
}  // namespace quorvane
