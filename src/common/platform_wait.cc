#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "common/platform.h"

namespace quorvane::platform {
namespace {

// Blocks until the child has ended, leaving it to be reaped.
#ifdef __NetBSD__

Status BlockUntilWaitable(pid_t pid) {
  for (;;) {
    if (wait6(P_PID, static_cast<id_t>(pid), nullptr, WEXITED | WNOWAIT, nullptr, nullptr) >= 0) {
      return Status::Ok();
    }
    if (errno != EINTR) return SysError("wait6", errno);
  }
}

#else

Status BlockUntilWaitable(pid_t pid) {
  for (;;) {
    siginfo_t info;
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) == 0) return Status::Ok();
    if (errno != EINTR) return SysError("waitid", errno);
  }
}

#endif

}  // namespace

Result<int> WaitForChild(pid_t pid) {
  Status ready = BlockUntilWaitable(pid);
  if (!ready.ok()) return ready.error();
  for (;;) {
    int status = 0;
    pid_t got = wait4(pid, &status, 0, nullptr);
    if (got == pid) return status;
    if (got < 0 && errno == EINTR) continue;
    return SysError("wait", got < 0 ? errno : ECHILD);
  }
}

}  // namespace quorvane::platform
