// The run as a whole, through the real installer binary: runs that end
// before the payload, and what they leave behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/path.h"
#include "support/installer_fixture.h"
#include "support/log_lines.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::InstallerSandbox;
using test::Lines;

using test::kClosingLines;

Lines Concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string Banner() { return "[INFO ] Quorvane v1.0.0.251113 (stable @ 1763047587)"; }

std::string InstallerDir() { return DirPart(test::InstallerBinary()); }

// Runs the installer without a payload, started as argv0, with exactly
// TMPDIR=tmpdir in the bare scratch directory s.
test::InstallerRun RunBare(const InstallerSandbox& s, const std::string& argv0, const Lines& args,
                           const std::string& tmpdir) {
  test::RunOptions options;
  options.argv0 = argv0;
  options.env = Lines{"TMPDIR=" + tmpdir};
  options.cwd = s.path();
  options.log_dir = tmpdir;
  return s.RunInstaller(test::InstallerBinary(), args, options);
}

TEST(DriverTest, BadCommandLineWritesTheLateLogInTheDefaultTemporaryDirectory) {
  InstallerSandbox dir{test::Words{}};
  const std::string tmp = dir / "tmp";
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  const std::string debug = dir / "debug";
  auto r =
      RunBare(dir, test::InstallerBinary(), {"--debug-dir", debug, "", "--encrypted-params"}, tmp);
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.log_lines,
            Concat({Banner(), "[INFO ] Starting Quorvane installer ...",
                    "[INFO ] Running from: " + InstallerDir(),
                    "[INFO ] Installer arguments: --debug-dir " + debug + "  --encrypted-params",
                    "[ERROR] Parse arguments error. (not enough arguments for --encrypted-params)"},
                   kClosingLines));
  // The lenient pass reached --debug-dir, and created it, before it stopped at
  // the last option of the table.
  struct stat st;
  ASSERT_EQ(stat(debug.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_FALSE(test::Exists(debug + "/Quorvane_i.log"));
}

TEST(DriverTest, RepeatedOptionFailsStrictlyAndStopsTheLenientPassEarly) {
  InstallerSandbox dir{test::Words{}};
  const std::string d = dir / "d";
  auto r = RunBare(dir, "installer", {"-hh", "--debug-dir", d}, dir.path());
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_FALSE(test::Exists(d));
  const Lines& lines = r.log_lines;
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[3], "[INFO ] Installer arguments: -hh --debug-dir " + d);
  EXPECT_EQ(lines[4], "[ERROR] Parse arguments error. ([-h|--help] can only be present once)");
}

TEST(DriverTest, MissingDefaultTemporaryDirectoryMeansNoLateLog) {
  InstallerSandbox dir{test::Words{}};
  auto r = RunBare(dir, "installer", {"--kill="}, dir / "missing/deeper");
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_FALSE(test::Exists(dir / "missing"));
}

TEST(DriverTest, WithoutDebugDirectoryOrNoDeleteNothingIsLeftOnDisk) {
  InstallerSandbox dir{test::Words{}};
  const std::string tmp = dir / "tmp";
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  // The installer without a payload section ends at the extraction.
  auto r = RunBare(dir, test::InstallerBinary(), {}, tmp);
  EXPECT_EQ(r.exit_status, 243);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace quorvane
