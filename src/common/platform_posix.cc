// The platform services that NetBSD and Linux provide alike.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/owned.h"
#include "common/platform.h"
#include "common/platform_system.h"

namespace quorvane::platform {
namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

// Opens the null device on every closed standard descriptor. open takes the
// lowest free number, so the closed ones are filled in order; a descriptor
// that lands above 2 (all three were open after all) is closed again.
void FillStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (IsOpen(fd)) continue;
    UniqueFd got(open("/dev/null", O_RDWR));
    if (!got.valid()) return;
    if (got.get() > STDERR_FILENO) return;  // closed again as it goes
    (void)got.release();                    // it is the standard descriptor now
  }
}

void SetDisposition(int signal_number, void (*disposition)(int)) {
  struct sigaction action = {};
  action.sa_handler = disposition;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
}

}  // namespace

void SanitizeStartState() {
  FillStandardDescriptors();
  SetDisposition(SIGCHLD, SIG_DFL);
  SetDisposition(SIGXFSZ, SIG_IGN);
}

void RestoreChildSignals() {
  SetDisposition(SIGCHLD, SIG_DFL);
  SetDisposition(SIGXFSZ, SIG_DFL);
}

Result<int> WaitForChild(pid_t pid) {
  Status ready = system::BlockUntilWaitable(pid);
  if (!ready.ok()) return ready.error();
  for (;;) {
    int status = 0;
    pid_t got = wait4(pid, &status, 0, nullptr);
    if (got == pid) return status;
    if (got < 0 && errno == EINTR) continue;
    return SysError("wait", got < 0 ? errno : ECHILD);
  }
}

void CloseDescriptorsFrom(int lowest) { closefrom(lowest); }

uint32_t RandomNumber() { return arc4random(); }

}  // namespace quorvane::platform
