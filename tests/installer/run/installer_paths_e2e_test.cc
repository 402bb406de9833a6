// The installer's own paths in a real run.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/path.h"
#include "support/installer_fixture.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::RealPath;

// Started through a link in another directory: "Running from" names the
// real file's directory.
TEST(InstallerPathsTest, RunningFromIsTheDirectoryOfTheRealFile) {
  test::InstallerSandbox scratch{{"bin", "logs"}};
  const std::string bin = scratch / "bin";
  const std::string logs = scratch / "logs";
  ASSERT_EQ(symlink(test::InstallerBinary().c_str(), (bin + "/installer").c_str()), 0);
  // A regular file as the temporary directory ends the run before the log
  // set-up, so the collected lines land in TMPDIR.
  test::WriteFile(scratch / "file", "x");
  test::RunOptions options;
  options.env = test::Words{"TMPDIR=" + logs};
  options.cwd = scratch.path();
  test::InstallerRun r =
      scratch.RunInstaller(bin + "/installer", {"--temp-dir", scratch / "file"}, options);
  EXPECT_EQ(r.exit_status, 254);
  const std::vector<std::string>& lines = r.log_lines;
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "[INFO ] Running from: " + DirPart(RealPath(test::InstallerBinary())));
}

}  // namespace
}  // namespace quorvane
