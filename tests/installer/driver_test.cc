// The run as a whole, through the real installer binary.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <new>
#include <stdexcept>

#include <gtest/gtest.h>

#include "common/path.h"
#include "installer/driver.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::LogLines;
using test::ReadFile;
using test::RunProgram;
using test::ScratchDir;

using Lines = std::vector<std::string>;

const Lines kClosing = {"[INFO ] End, success.", "", "", ""};

Lines Concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string Banner() { return "[INFO ] Quorvane v1.0.0.251113 (stable @ 1763047587)"; }

std::string InstallerDir() { return DirPart(test::InstallerBinary()); }

TEST(DriverTest, BadCommandLineWritesTheLateLogInTheDefaultTemporaryDirectory) {
  ScratchDir dir;
  const std::string tmp = dir / "tmp";
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  const std::string debug = dir / "debug";
  auto r = RunProgram(test::InstallerBinary(),
                      {test::InstallerBinary(), "--debug-dir", debug, "", "--encrypted-params"},
                      {"TMPDIR=" + tmp}, dir.path());
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(LogLines(ReadFile(tmp + "/Quorvane_i.log")),
            Concat({Banner(), "[INFO ] Starting Quorvane installer ...",
                    "[INFO ] Running from: " + InstallerDir(),
                    "[INFO ] Installer arguments: --debug-dir " + debug + "  --encrypted-params",
                    "[ERROR] Parse arguments error. (not enough arguments for --encrypted-params)"},
                   kClosing));
  // The lenient pass reached --debug-dir, and created it, before it stopped at
  // the last option of the table.
  struct stat st;
  ASSERT_EQ(stat(debug.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_FALSE(test::Exists(debug + "/Quorvane_i.log"));
}

TEST(DriverTest, RepeatedOptionFailsStrictlyAndStopsTheLenientPassEarly) {
  ScratchDir dir;
  const std::string d = dir / "d";
  auto r = RunProgram(test::InstallerBinary(), {"installer", "-hh", "--debug-dir", d},
                      {"TMPDIR=" + dir.path()}, dir.path());
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_FALSE(test::Exists(d));
  const Lines lines = LogLines(ReadFile(dir / "Quorvane_i.log"));
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[3], "[INFO ] Installer arguments: -hh --debug-dir " + d);
  EXPECT_EQ(lines[4], "[ERROR] Parse arguments error. ([-h|--help] can only be present once)");
}

TEST(DriverTest, MissingDefaultTemporaryDirectoryMeansNoLateLog) {
  ScratchDir dir;
  auto r = RunProgram(test::InstallerBinary(), {"installer", "--kill="},
                      {"TMPDIR=" + (dir / "missing/deeper")}, dir.path());
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_FALSE(test::Exists(dir / "missing"));
}

TEST(DriverTest, WithoutDebugDirectoryOrNoDeleteNothingIsLeftOnDisk) {
  ScratchDir dir;
  const std::string tmp = dir / "tmp";
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  // The installer without a payload section ends at the extraction.
  auto r = RunProgram(test::InstallerBinary(), {test::InstallerBinary()},
                      {"TMPDIR=" + tmp}, dir.path());
  EXPECT_EQ(r.exit_status, 243);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// A fault that escapes a part of the run never leaves the exit code at 0:
// it takes the code of the step that was running, is reported where the run
// writes its lines at that moment, and does not replace a code already set.
TEST(RunPartTest, FaultsEndWithTheRunningStepsCodeAndALine) {
  struct Case {
    std::function<void()> part;
    int exit_code_before;
    bool log_set_up;
    int want_code;
    std::string want_line;  // "" for none
  };
  ScratchDir dir;
  const std::string log_path = dir / "Quorvane_i.log";
  const Case cases[] = {
      {[] { throw std::bad_alloc(); }, 0, false, -13,
       "[ERROR] Internal error. (cannot allocate memory)"},
      {[] { throw std::runtime_error("broken"); }, 0, true, -13, "[ERROR] Internal error. (broken)"},
      {[] { throw 7; }, 0, true, -13, "[ERROR] Internal error. (unknown fault)"},
      {[] { throw std::bad_alloc(); }, 1003, true, 1003,
       "[ERROR] Internal error. (cannot allocate memory)"},
      {[] {}, 0, true, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want_line);
    std::remove(log_path.c_str());
    quorvane::Run run;
    run.exitCode = c.exit_code_before;
    run.faultCode = -13;
    if (c.log_set_up) run.log.initInstallerLog(log_path, true);
    RunPart(run, c.part);
    EXPECT_EQ(run.exitCode, c.want_code);
    Lines written = c.log_set_up ? LogLines(ReadFile(log_path)) : run.log.pendingLogLines();
    EXPECT_EQ(written, c.want_line.empty() ? Lines{} : Lines{c.want_line});
  }
}

}  // namespace
}  // namespace quorvane
