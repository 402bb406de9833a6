// Starting a child from a process whose standard descriptors are closed.
#include "installer/process/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace quorvane {
namespace {

using ::quorvane::test::ReadFile;
using ::quorvane::test::ScratchDir;
using ::quorvane::test::WriteFile;

// Closes the test's descriptors 0, 1 and 2 for a scope and puts them back.
class ClosedStandardDescriptors {
 public:
  ClosedStandardDescriptors() {
    fflush(nullptr);
    for (int fd = 0; fd < 3; ++fd) {
      saved_[fd] = fcntl(fd, F_DUPFD_CLOEXEC, 10);
      close(fd);
    }
  }
  ~ClosedStandardDescriptors() {
    for (int fd = 0; fd < 3; ++fd) {
      dup2(saved_[fd], fd);
      close(saved_[fd]);
    }
  }

 private:
  int saved_[3];
};

// The descriptors opened for the child (the null device, the standard-error
// pipe, the pipe that reports a failed exec) would take the free numbers 0,
// 1 and 2, where the child's own streams overwrite them. A failed exec must
// still be reported, and the streams must reach their destinations.
TEST(PayloadProcessTest, StartsFromAProcessWithoutStandardDescriptors) {
  ScratchDir dir;
  const std::string program = dir / "program";
  WriteFile(program, "#!/bin/sh\nprintf out; printf err >&2; exit 3\n", 0755);
  struct Case {
    std::string path;
    bool capture;
  };
  const Case cases[] = {
      {dir / "missing", false}, {dir / "missing", true}, {program, false}, {program, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + (c.capture ? " captured" : ""));
    const int out = open((dir / "out").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = open((dir / "err").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GT(out, 2);
    ASSERT_GT(err, 2);
    ExecCommand cmd = initExecCommand(c.path, {});
    cmd.stdout_fd = out;
    cmd.stderr_fd = err;
    StderrCapture capture;
    if (c.capture) cmd.stderrCapture = &capture;
    CommandOutcome outcome;
    {
      ClosedStandardDescriptors closed;
      outcome = RunCommand(cmd, {"PATH=/usr/bin:/bin"});
    }
    close(out);
    close(err);
    if (c.path == program) {
      EXPECT_EQ(outcome.kind, CommandOutcome::Kind::kUnsuccessfulEnd);
      EXPECT_EQ(outcome.code, 3);
      EXPECT_EQ(ReadFile(dir / "out"), "out");
      EXPECT_EQ(ReadFile(dir / "err"), "err");
      EXPECT_EQ(capture.Head(100), c.capture ? "err" : "");
    } else {
      EXPECT_EQ(outcome.kind, CommandOutcome::Kind::kError);
      EXPECT_EQ(outcome.error.message, "fork/exec " + c.path + ": no such file or directory");
    }
  }
}

}  // namespace
}  // namespace quorvane
