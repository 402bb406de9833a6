// The payload's run inside a run of the real installer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/installer_fixture.h"
#include "support/log_lines.h"
#include "support/payload_fixture.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::Lines;
using test::LogLines;
using test::ReadFile;
using test::ScratchDir;

struct Case {
  std::string body;  // the payload's script after its probe lines
  int status;        // what the installer's parent sees
  Lines lines;       // after the Running line, the closing line excluded
  std::string err;   // the installer's standard error
  std::string out;   // and its standard output
};

class PayloadRunE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& d : {tmp_, debug_, probe_}) chmod(d.c_str(), 0700);
  }

  // The payload notes its arguments, working directory and environment, then
  // runs body.
  test::InstallerRun RunInstaller(const std::string& body) {
    std::string program =
        "#!/bin/sh\n"
        "printf '%s\\n' \"$@\" > '" +
        probe_ +
        "/args'\n"
        "/bin/pwd -P > '" +
        probe_ +
        "/cwd'\n"
        "/bin/cat /proc/$$/environ > '" +
        probe_ + "/environ'\n" + body;
    std::string installer = dir_.Pack(program, dir_.path());
    test::RunOptions options;
    options.env = test::Words{"PWD=/nowhere", "TMPDIR=" + tmp_, "X=1"};
    options.cwd = dir_.path();
    return dir_.RunInstaller(installer, {"--debug-dir", debug_, "--temp-dir", tmp_}, options);
  }

  // The install directory named by the Running line, and the lines after it.
  std::string Split(const Lines& all, Lines* after) {
    const std::string marker = "[INFO ] Running: ";
    auto it = std::find_if(all.begin(), all.end(),
                           [&](const std::string& l) { return l.rfind(marker, 0) == 0; });
    if (it == all.end()) {
      ADD_FAILURE() << "no Running line in " << ::testing::PrintToString(all);
      return "";
    }
    std::string main_file = it->substr(marker.size(), it->find(' ', marker.size()) - marker.size());
    after->assign(it + 1, std::find(it, all.end(), "[INFO ] End, success."));
    EXPECT_EQ(*it, marker + main_file + " --debug-dir " + debug_ + " --temp-dir " +
                       main_file.substr(0, main_file.rfind('/')) + " --output-dir " + dir_.path());
    return main_file.substr(0, main_file.rfind('/'));
  }

  test::InstallerSandbox dir_{{"tmp", "debug", "probe"}};
  std::string tmp_ = dir_ / "tmp";
  std::string debug_ = dir_ / "debug";
  std::string probe_ = dir_ / "probe";
};

TEST_F(PayloadRunE2ETest, OutcomesReachTheExitStatusAndTheLog) {
  const std::string dump = debug_ + "/quorvane.dmp";
  const Case cases[] = {
      {"printf 'out'; printf 'err' >&2; exit 0\n", 0, {}, "err", "out"},
      {"exit 1\n",
       233,
       {"[ERROR] A warning occurred while running quorvane. (warning code: 1)"},
       "",
       ""},
      {"exit 24\n",
       232,
       {"[ERROR] A warning occurred while running quorvane. (warning code: 24)"},
       "",
       ""},
      {"printf 'runtime: out of memory: x' >&2; exit 2\n",
       240,
       {"[FATAL] Quorvane unexpectedly terminated. Reason: out of memory. Stacktrace dump saved "
        "to: " +
        dump},
       "runtime: out of memory: x",
       ""},
      {"kill -TERM $$\n",
       23,
       {"[ERROR] An error occurred while running quorvane. (error code: -1, description: Invalid "
        "commmand line, check command line)"},
       "",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    test::ProcessResult r = RunInstaller(c.body);
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, c.out);
    Lines after;
    std::string install_dir = Split(LogLines(ReadFile(debug_ + "/Quorvane_i.log")), &after);
    // The cleanup's own lines follow; this step's lines come first.
    ASSERT_GE(after.size(), c.lines.size());
    EXPECT_EQ(Lines(after.begin(), after.begin() + static_cast<long>(c.lines.size())), c.lines);
    EXPECT_FALSE(test::Exists(install_dir));

    EXPECT_EQ(ReadFile(probe_ + "/args"), "--debug-dir\n" + debug_ + "\n--temp-dir\n" +
                                              install_dir + "\n--output-dir\n" + dir_.path() +
                                              "\n");
    EXPECT_EQ(ReadFile(probe_ + "/cwd"), install_dir + "\n");
    EXPECT_EQ(ReadFile(probe_ + "/environ"),
              std::string("TMPDIR=" + tmp_ + '\0' + "X=1" + '\0' + "PWD=" + install_dir + '\0'));
    if (c.status == 240) {
      EXPECT_EQ(ReadFile(dump), c.err);
      EXPECT_EQ(test::ModeOf(dump), 0640u);
    }
  }
}

}  // namespace
}  // namespace quorvane
