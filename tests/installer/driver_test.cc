// A piece of the run that ends with a fault.
#include <functional>
#include <new>
#include <stdexcept>

#include <gtest/gtest.h>

#include "installer/driver.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::LogLines;
using test::ReadFile;
using test::ScratchDir;

using Lines = std::vector<std::string>;

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
    RunGuarded(run, c.part);
    EXPECT_EQ(run.exitCode, c.want_code);
    Lines written = c.log_set_up ? LogLines(ReadFile(log_path)) : run.log.pendingLogLines();
    EXPECT_EQ(written, c.want_line.empty() ? Lines{} : Lines{c.want_line});
  }
}

}  // namespace
}  // namespace quorvane
