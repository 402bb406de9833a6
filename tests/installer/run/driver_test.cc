// A piece of the run that ends with a fault, and the code it ends with.
#include "installer/run/driver.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <new>
#include <stdexcept>
#include <string>

#include "installer/run/exit_codes.h"
#include "support/log_lines.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::LogLines;
using test::ReadFile;
using test::ScratchDir;

using test::Lines;

// A fault that escapes a piece of the run never leaves the exit code at 0:
// it takes the code of the step that was running, is reported where the run
// writes its lines at that moment, and does not replace a code already set.
TEST(RunGuardedTest, FaultsEndWithTheRunningStepsCodeAndALine) {
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
      {[] { throw std::runtime_error("broken"); }, 0, true, -13,
       "[ERROR] Internal error. (broken)"},
      {[] { throw 7; }, 0, true, -13, "[ERROR] Internal error. (unknown fault)"},
      {[] { throw std::bad_alloc(); }, 1003, true, 1003,
       "[ERROR] Internal error. (cannot allocate memory)"},
      {[] {}, 0, true, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want_line);
    std::remove(log_path.c_str());
    RunState run;
    run.exitCode = c.exit_code_before;
    run.faultCode = -13;
    if (c.log_set_up) run.log.initInstallerLog(log_path, true);
    RunGuarded(run, c.part);
    EXPECT_EQ(run.exitCode, c.want_code);
    Lines written = c.log_set_up ? LogLines(ReadFile(log_path)) : run.log.pendingLogLines();
    EXPECT_EQ(written, c.want_line.empty() ? Lines{} : Lines{c.want_line});
  }
}

// How to make one step fail: prepares the run (in a child process of its own,
// which may change its mounts or user), or says why it cannot; null for a
// step that cannot fail.
using Failure = std::function<std::string(RunState&)>;

// The step's exit code when it fails in a child, or the child's reason to
// skip it.
struct StepOutcome {
  bool failed = false;
  int exit_code = 0;
  std::string skipped;
};

StepOutcome FailInChild(const RunStep& step, const Failure& failure) {
  int fds[2];
  if (pipe(fds) != 0) return {false, 0, "no pipe"};
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    RunState run;
    run.argv = {"quorvane-installer"};
    std::string report = failure(run);
    if (report.empty()) {
      bool ok = step.step(run);
      report = (ok ? "ok " : "failed ") + std::to_string(run.exitCode);
    } else {
      report = "skip " + report;
    }
    (void)!write(fds[1], report.data(), report.size());
    _exit(0);
  }
  close(fds[1]);
  std::string report;
  char buf[256];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) report.append(buf, n);
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  if (report.rfind("skip ", 0) == 0) return {false, 0, report.substr(5)};
  size_t blank = report.find(' ');
  if (blank == std::string::npos) return {false, 0, "no report from the child"};
  return {report.substr(0, blank) == "failed", std::stoi(report.substr(blank + 1)), ""};
}

// Each step's fault code in the driver's table is the code that the step's
// own failures end with: every step is made to fail, and the code it sets is
// compared with the table. A step that cannot fail has the internal fault's
// code. A step added to the table without a row here fails the test.
TEST(RunStepTableTest, FaultCodesAreTheStepsOwnCodes) {
  ScratchDir dir;
  const std::string file = dir / "file";
  test::WriteFile(file, "not a directory");
  const std::string missing = dir / "missing";
  auto none = [](RunState&) { return std::string(); };
  // Nothing at /proc/self/exe: the installer cannot find itself.
  Failure no_proc = [](RunState&) {
    if (std::string why = test::EnterPrivateMountNamespace(); !why.empty()) return why;
    if (mount("none", "/proc", "tmpfs", 0, nullptr) != 0) return std::string("cannot mount");
    return std::string();
  };
  const std::map<std::string, Failure> failures = {
      {"LogBanner", nullptr},
      {"ParseLeniently", nullptr},
      {"FindInstallerDir", no_proc},
      {"FindDefaultOutputDir", nullptr},
      {"FindInstallerPath", no_proc},
      {"LogArguments", nullptr},
      {"ParseCommandLine",
       [](RunState& r) {
         r.argv = {"quorvane-installer", "--temp-dir", "a", "--temp-dir", "b"};
         return std::string();
       }},
      {"PrepareTempDir",
       [&](RunState& r) {
         r.params.TempDir = file;
         return std::string();
       }},
      {"SetUpLog",
       [&](RunState& r) {
         r.params.TempDir = dir.path();
         r.params.DebugDir = file + "/debug";
         return std::string();
       }},
      {"LogArchitectureLines", nullptr},
      {"RequireFreeSpace",
       [&](RunState& r) {
         r.params.TempDir = missing;
         return std::string();
       }},
      // A user without an entry in the user database: the check itself fails.
      {"RequireAdministrator",
       [](RunState&) {
         if (getuid() != 0) return std::string("needs to run as root");
         if (setgid(54321) != 0 || setuid(54321) != 0) return std::string("cannot change user");
         return std::string();
       }},
      {"MakeInstallDir",
       [&](RunState& r) {
         r.params.TempDir = missing;
         return std::string();
       }},
      {"BuildPayloadArgs",
       [&](RunState& r) {
         r.argv = {"quorvane-installer", "--debug-dir", missing};
         return std::string();
       }},
      {"InstallDirReadyForExtraction",
       [&](RunState& r) {
         r.installDir = missing;
         return std::string();
       }},
      {"ExtractPayload",
       [&](RunState& r) {
         r.installerPath = missing;
         r.installDir = dir.path();
         return std::string();
       }},
      {"ExecutePayload",
       [&](RunState& r) {
         r.installDir = missing;
         r.mainFile = missing + "/quorvane";
         return std::string();
       }},
  };
  for (const RunStep& step : RunStepTable()) {
    SCOPED_TRACE(step.name);
    auto it = failures.find(step.name);
    ASSERT_NE(it, failures.end()) << "no way to make the step fail is known";
    if (it->second == nullptr) {
      StepOutcome outcome = FailInChild(step, none);
      EXPECT_FALSE(outcome.failed);
      EXPECT_EQ(step.fault_code, exitInternalFault);
      continue;
    }
    StepOutcome outcome = FailInChild(step, it->second);
    if (!outcome.skipped.empty()) {
      std::printf("%s not made to fail: %s\n", step.name, outcome.skipped.c_str());
      continue;
    }
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(step.fault_code, outcome.exit_code);
  }
}

}  // namespace
}  // namespace quorvane
