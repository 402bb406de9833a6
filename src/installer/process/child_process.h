// installer/process/: starting a program and supervising it: the child's
// start with its streams, working directory and signals (child_process),
// the copy of its standard error to the console and into memory while it
// runs (stderr_copier, stderr_capture), and the wait for its end.
//
// Starting one child process, passing its standard error on, and waiting.
#ifndef QUORVANE_INSTALLER_PROCESS_CHILD_PROCESS_H_
#define QUORVANE_INSTALLER_PROCESS_CHILD_PROCESS_H_

#include <unistd.h>

#include <string>
#include <vector>

#include "common/error.h"
#include "installer/process/stderr_capture.h"

namespace quorvane {

// A command to run: the program, its argument vector and its streams. Its
// standard input is always the null device.
struct ExecCommand {
  std::string path;               // executed by this path, never searched for
  std::vector<std::string> argv;  // path first, then the arguments
  std::string dir;                // working directory; "" keeps the installer's
  // The working directory held open: the child changes into it (dir then
  // only names it in messages) and path is executed relative to it.
  int dir_fd = -1;
  int stdout_fd = STDOUT_FILENO;  // handed over as the child's descriptor 1
  int stderr_fd = STDERR_FILENO;  // the destination of the child's standard error
  // When set, the child's standard error goes through a pipe: every piece
  // read is written to stderr_fd first and then appended here.
  StderrCapture* stderrCapture = nullptr;
};

// The command for the program at path with the argument vector path + args,
// writing to the installer's own standard output and standard error.
ExecCommand initExecCommand(const std::string& path, const std::vector<std::string>& args);

// How a command ended, once it and its standard-error copy are done.
struct CommandOutcome {
  enum class Kind {
    kSuccess,          // exit status 0, standard error passed on in full
    kUnsuccessfulEnd,  // non-zero exit status, or ended by a signal
    kError,            // not started, the wait failed, or (after status 0) the copy failed
  };
  Kind kind = Kind::kSuccess;
  int code = 0;  // kUnsuccessfulEnd: the exit status 1..255, or -1 for a signal
  Error error;   // kError
};

// Starts the command with exactly env as its environment and waits, without
// a time-out, for it to end and for its standard error to be drained. The
// child gets descriptors 0, 1 and 2 only, stays in the installer's process
// group and keeps the signal mask and dispositions of the calling thread.
// Start errors read "chdir DIR: ..." (the working directory cannot be
// examined, or the held one was removed) or "fork/exec PATH: ..." (anything
// that fails in the child).
CommandOutcome RunCommand(const ExecCommand& cmd, const std::vector<std::string>& env);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_PROCESS_CHILD_PROCESS_H_
