// The checks before the install directory in real runs of the installer:
// the administrator check under other user ids, and too little free space.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/installer_fixture.h"
#include "support/log_lines.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::Lines;

const Lines kArchLines = {"[INFO ] OS architecture: amd64", "[INFO ] quorvane architecture: amd64"};

// The installer without a payload; its log is kept in a debug directory that
// anyone may write to.
class PreflightRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(chmod(s_.path().c_str(), 0755), 0);
    test::MakeReachable(s_.path());
    ASSERT_EQ(mkdir(logs_.c_str(), 01777), 0);
    ASSERT_EQ(chmod(logs_.c_str(), 01777), 0);
  }

  int InstallAs(uid_t ruid, uid_t euid, Lines args) {
    args.insert(args.begin(), {"--debug-dir", logs_});
    test::RunOptions options;
    options.env = Lines{"TMPDIR=" + logs_};
    options.cwd = s_.path();
    options.wrapper = test::AsUser(ruid, euid);
    test::InstallerRun r = s_.RunInstaller(test::InstallerBinary(), args, options);
    log_lines_ = r.log_lines;
    return r.exit_status;
  }

  // The log's lines from the architecture lines on, without the closing line.
  Lines Checks() {
    Lines out;
    bool on = false;
    for (const std::string& l : log_lines_) {
      if (l == "[INFO ] OS architecture: amd64") on = true;
      if (l == "[INFO ] End, success.") break;
      if (on) out.push_back(l);
    }
    return out;
  }

  test::InstallerSandbox s_{test::Words{}};
  const std::string logs_ = s_ / "logs";
  Lines log_lines_;
};

TEST_F(PreflightRunTest, OrdinaryUserIsNoAdministrator) {
  EXPECT_EQ(InstallAs(test::kNobodyUid, test::kNobodyUid, {}), 248);
  Lines want = kArchLines;
  want.push_back("[ERROR] Quorvane needs administrator privileges.");
  EXPECT_EQ(Checks(), want);
}

TEST_F(PreflightRunTest, EffectiveRootAloneIsNoAdministrator) {
  // Real user nobody, effective user 0: only the real user id counts.
  EXPECT_EQ(InstallAs(test::kNobodyUid, 0, {}), 248);
  Lines want = kArchLines;
  want.push_back("[ERROR] Quorvane needs administrator privileges.");
  EXPECT_EQ(Checks(), want);
}

TEST_F(PreflightRunTest, RealRootPassesUnderAnotherEffectiveUser) {
  const int status = InstallAs(0, test::kNobodyUid, {});
  EXPECT_NE(status, 248);
  EXPECT_NE(status, 249);
  Lines checks = Checks();
  ASSERT_GE(checks.size(), 2u);
  EXPECT_EQ(Lines(checks.begin(), checks.begin() + 2), kArchLines);
  for (const std::string& l : checks) EXPECT_EQ(l.find("administrator"), std::string::npos) << l;
}

TEST_F(PreflightRunTest, NoCheckSkipsTheAdministratorCheck) {
  for (const char* option : {"--no-check", "--no-admin-check"}) {
    const int status = InstallAs(test::kNobodyUid, test::kNobodyUid, {option});
    EXPECT_NE(status, 248) << option;
    Lines checks = Checks();
    ASSERT_GE(checks.size(), 3u);
    EXPECT_EQ(checks[2],
              "[INFO ] Administrator privileges check ignored due command line arguments");
  }
}

// A small file system mounted for the test, when the test may mount one.
class SmallFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(mnt_.c_str(), 0755), 0);
    if (mount("tmpfs", mnt_.c_str(), "tmpfs", 0, "size=4m") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) {
      EXPECT_EQ(umount(mnt_.c_str()), 0) << strerror(errno);
    }
  }

  test::InstallerSandbox s_{test::Words{}};
  const std::string mnt_ = s_ / "small";
  bool mounted_ = false;
};

TEST_F(SmallFileSystemTest, TooLittleSpaceEndsTheRun) {
  test::RunOptions options;
  options.env = Lines{"TMPDIR=" + mnt_};
  options.cwd = s_.path();
  test::InstallerRun r = s_.RunInstaller(test::InstallerBinary(), {"--no-delete"}, options);
  EXPECT_EQ(r.exit_status, 250);
  const Lines& lines = r.log_lines;
  Lines want = kArchLines;
  want.push_back("[ERROR] Not enough space in " + mnt_ + ".");
  want.push_back("[INFO ] End, success.");
  ASSERT_GE(lines.size(), want.size() + 3);
  EXPECT_EQ(Lines(lines.end() - 7, lines.end() - 3), want);
  // No install directory was made.
  for (const std::string& l : lines) EXPECT_EQ(l.find("quorvane_"), std::string::npos) << l;
}

}  // namespace
}  // namespace quorvane
