// The install directory step in a real run of the installer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "support/installer_fixture.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::ModeOf;

class InstallDirTest : public test::UmaskTest {
 protected:
  test::InstallerSandbox s_{test::Words{}};
};

// An ordinary user, administrator check off, one missing level: the level
// is made with mode 0640, so nothing can be created inside it.
TEST_F(InstallDirTest, OrdinaryUserCannotCreateInANewTemporaryDirectory) {
  ASSERT_EQ(chmod(s_.path().c_str(), 0755), 0);
  test::MakeReachable(s_.path());
  const std::string open = s_ / "open";
  ASSERT_EQ(mkdir(open.c_str(), 01777), 0);
  ASSERT_EQ(chmod(open.c_str(), 01777), 0);
  test::RunOptions options;
  options.env = test::Words{"TMPDIR=" + open};
  options.cwd = s_.path();
  options.wrapper = test::AsUser(test::kNobodyUid, test::kNobodyUid);
  test::InstallerRun r = s_.RunInstaller(
      test::InstallerBinary(),
      {"--no-admin-check", "--temp-dir", open + "/new", "--debug-dir", open}, options);
  EXPECT_EQ(r.exit_status, 245);
  EXPECT_EQ(ModeOf(open + "/new"), 0640u);
  const std::vector<std::string>& lines = r.log_lines;
  ASSERT_GE(lines.size(), 5u);
  EXPECT_TRUE(std::regex_match(lines[lines.size() - 5],
                               std::regex(R"(\[ERROR\] Cannot create temporary folder\. \(mkdir )" +
                                          open + R"(/new/quorvane_[0-9]+: permission denied\))")))
      << lines[lines.size() - 5];
}

}  // namespace
}  // namespace quorvane
