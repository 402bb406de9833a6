#include "installer/process/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "common/file_calls.h"
#include "common/owned.h"
#include "common/path.h"
#include "common/platform.h"
#include "installer/process/stderr_copier.h"

namespace quorvane {
namespace {

// Moves a descriptor of ours above the standard streams, so that the child's
// dup2 onto 0, 1 and 2 cannot overwrite it (the installer may have been
// started with one of them closed).
bool LiftAboveStdio(UniqueFd& fd) {
  if (fd.get() > STDERR_FILENO) return true;
  int moved = fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (moved < 0) return false;
  fd.reset(moved);
  return true;
}

// The descriptors opened for one child; whatever is still open at the end is
// closed. The child's standard input, the null device, is opened by the child
// itself, which saves the installer one descriptor: starting a child with a
// captured standard error takes four above the standard streams (this pipe
// and the status pipe), one more while a log file is open.
struct ChildStreams {
  UniqueFd stderr_read;   // ours, when the standard error is captured
  UniqueFd stderr_write;  // the child's
};

Status OpenStreams(const ExecCommand& cmd, ChildStreams& s) {
  if (cmd.stderrCapture == nullptr) return Status::Ok();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return SysError("pipe2", errno);
  s.stderr_read.reset(fds[0]);
  s.stderr_write.reset(fds[1]);
  if (!LiftAboveStdio(s.stderr_read) || !LiftAboveStdio(s.stderr_write)) {
    return SysError("pipe2", errno);
  }
  return Status::Ok();
}

// Everything the child needs, prepared before the fork: between fork and
// exec the child calls async-signal-safe functions only.
struct ExecPlan {
  const char* path;  // as execve gets it
  const char* dir;   // nullptr: stay
  int dir_fd;        // -1: dir
  std::vector<char*> argv;
  std::vector<char*> envp;
  int streams[3];  // streams[0] unused: the null device is opened in the child
  int status_fd;
  int status_read_fd;  // the parent's end, closed first in the child
};

// What the child reports through the status pipe when it gives up.
struct ChildFailure {
  int stage;  // kStageNull or kStageExec
  int err;
};
constexpr int kStageNull = 1;  // opening the null device
constexpr int kStageExec = 2;  // anything after it

bool HoldsNul(const std::string& s) { return s.find('\0') != std::string::npos; }

std::vector<char*> CStrings(const std::vector<std::string>& v) {
  std::vector<char*> out;
  out.reserve(v.size() + 1);
  for (const std::string& s : v) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// Makes fd the child's descriptor target, without close-on-exec.
bool PlaceStream(int fd, int target) {
  if (fd == target) return fcntl(fd, F_SETFD, 0) == 0;
  return dup2(fd, target) == target;
}

// The child's status pipe, once the streams are in place.
constexpr int kChildStatusFd = STDERR_FILENO + 1;

// Opens the null device as the child's descriptor 0. Like everything the
// child runs before exec, it uses plain system calls only, closes included.
bool PlaceNullInput() {
  int fd = open("/dev/null", O_RDONLY);
  if (fd < 0) return false;
  if (fd == STDIN_FILENO) return true;
  if (dup2(fd, STDIN_FILENO) != STDIN_FILENO) return false;
  close(fd);
  return true;
}

// Runs in the child; returns only on failure, with its stage and errno. Our
// own descriptors are all close-on-exec, but the installer may have inherited
// others; the payload gets none of them, only its three streams. It gets the
// default dispositions of the signals the installer changed at its start.
ChildFailure ExecInChild(const ExecPlan& plan, int& status_fd) {
  close(plan.status_read_fd);
  if (plan.dir_fd >= 0) {
    if (fchdir(plan.dir_fd) != 0) return {kStageExec, errno};
  } else if (plan.dir != nullptr && chdir(plan.dir) != 0) {
    return {kStageExec, errno};
  }
  if (!PlaceNullInput()) return {kStageNull, errno};
  for (int target = 1; target < 3; ++target) {
    if (!PlaceStream(plan.streams[target], target)) return {kStageExec, errno};
  }
  if (status_fd != kChildStatusFd) {
    if (dup2(status_fd, kChildStatusFd) != kChildStatusFd) return {kStageExec, errno};
    status_fd = kChildStatusFd;
    if (fcntl(status_fd, F_SETFD, FD_CLOEXEC) != 0) return {kStageExec, errno};
  }
  platform::CloseDescriptorsFrom(kChildStatusFd + 1);
  platform::RestoreChildSignals();
  execve(plan.path, plan.argv.data(), plan.envp.data());
  return {kStageExec, errno};
}

[[noreturn]] void ChildMain(const ExecPlan& plan) {
  int status_fd = plan.status_fd;
  ChildFailure failure = ExecInChild(plan, status_fd);
  ssize_t ignored = write(status_fd, &failure, sizeof failure);
  (void)ignored;
  _exit(127);
}

// What the child sent before it gave up, or stage 0 once it has exec'd (the
// status pipe closes on exec without data).
ChildFailure ReadChildStatus(int fd) {
  ChildFailure failure{0, 0};
  size_t got = 0;
  while (got < sizeof failure) {
    ssize_t n = read(fd, reinterpret_cast<char*>(&failure) + got, sizeof failure - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got == sizeof failure ? failure : ChildFailure{0, 0};
}

void ReapFailedChild(pid_t pid) {
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// Forks and execs; the child's pid, or the start error.
Result<pid_t> Spawn(const ExecCommand& cmd, const std::vector<std::string>& env,
                    const ChildStreams& s) {
  // The system takes each word up to its first NUL byte: a word that holds
  // one would reach the program cut short, so it is refused.
  if (HoldsNul(cmd.path) || std::any_of(cmd.argv.begin(), cmd.argv.end(), HoldsNul) ||
      std::any_of(env.begin(), env.end(), HoldsNul)) {
    return SysError("fork/exec", cmd.path, EINVAL);
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return SysError("fork/exec", cmd.path, errno);
  UniqueFd status_read(fds[0]), status_write(fds[1]);
  if (!LiftAboveStdio(status_read) || !LiftAboveStdio(status_write)) {
    return SysError("fork/exec", cmd.path, errno);
  }
  // In a held directory the program is named from there, so that no rename
  // of the directory or above it changes what runs.
  const std::string exec_path = cmd.dir_fd >= 0 ? "./" + BaseName(cmd.path) : cmd.path;
  ExecPlan plan{exec_path.c_str(),
                cmd.dir.empty() ? nullptr : cmd.dir.c_str(),
                cmd.dir_fd,
                CStrings(cmd.argv),
                CStrings(env),
                {-1, cmd.stdout_fd, cmd.stderrCapture ? s.stderr_write.get() : cmd.stderr_fd},
                status_write.get(),
                status_read.get()};
  pid_t pid = fork();
  if (pid == 0) ChildMain(plan);
  int fork_errno = errno;
  status_write.reset();
  if (pid < 0) return SysError("fork/exec", cmd.path, fork_errno);
  ChildFailure failure = ReadChildStatus(status_read.get());
  status_read.reset();
  if (failure.stage != 0) {
    ReapFailedChild(pid);
    if (failure.stage == kStageNull) return SysError("open", "/dev/null", failure.err);
    return SysError("fork/exec", cmd.path, failure.err);
  }
  return pid;
}

// The working directory must be there: a held one not removed meanwhile.
Status ExamineDirectory(const ExecCommand& cmd) {
  if (cmd.dir_fd >= 0) {
    Result<struct stat> st = StatOf(cmd.dir_fd, cmd.dir, "chdir");
    if (!st.ok()) return st.error();
    if (st->st_nlink == 0) return SysError("chdir", cmd.dir, ENOENT);
    return Status::Ok();
  }
  if (cmd.dir.empty()) return Status::Ok();
  Result<struct stat> st = StatAt(FileAt(cmd.dir), 0, "chdir");
  if (!st.ok()) return st.error();
  return Status::Ok();
}

CommandOutcome Failed(Error error) {
  CommandOutcome out;
  out.kind = CommandOutcome::Kind::kError;
  out.error = std::move(error);
  return out;
}

CommandOutcome FromWaitStatus(int status, const std::optional<Error>& copy_error) {
  CommandOutcome out;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    if (copy_error) return Failed(*copy_error);
    return out;
  }
  // A signal, whatever it was and whether it left a core image, counts as -1.
  out.kind = CommandOutcome::Kind::kUnsuccessfulEnd;
  out.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

}  // namespace

ExecCommand initExecCommand(const std::string& path, const std::vector<std::string>& args) {
  ExecCommand cmd;
  cmd.path = path;
  cmd.argv.reserve(args.size() + 1);
  cmd.argv.push_back(path);
  cmd.argv.insert(cmd.argv.end(), args.begin(), args.end());
  return cmd;
}

CommandOutcome RunCommand(const ExecCommand& cmd, const std::vector<std::string>& env) {
  ChildStreams streams;
  Status opened = OpenStreams(cmd, streams);
  if (!opened.ok()) return Failed(opened.error());
  if (Status dir = ExamineDirectory(cmd); !dir.ok()) return Failed(dir.error());
  // Everything that allocates is done before the child exists: once it
  // runs, nothing here may throw before it has been waited for.
  std::optional<StderrCopier> copier;
  if (cmd.stderrCapture != nullptr) {
    std::string sink_name =
        cmd.stderr_fd == STDERR_FILENO ? "/dev/stderr" : "fd " + std::to_string(cmd.stderr_fd);
    copier.emplace(streams.stderr_read.release(), cmd.stderr_fd, std::move(sink_name),
                   cmd.stderrCapture);
  }
  Result<pid_t> pid = Spawn(cmd, env, streams);
  if (!pid.ok()) return Failed(pid.error());

  // Only the child holds its stream ends now; the pipe ends when it (and any
  // process that inherited its standard error) has closed them.
  streams.stderr_write.reset();
  if (copier) copier->Start();

  Result<int> status = platform::WaitForChild(*pid);
  std::optional<Error> copy_error;
  if (copier) copy_error = copier->Wait();
  if (!status.ok()) return Failed(status.error());
  return FromWaitStatus(*status, copy_error);
}

}  // namespace quorvane
