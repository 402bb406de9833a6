#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "common/platform.h"

namespace quorvane::platform {
namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

// Opens the null device on every closed standard descriptor. open takes the
// lowest free number, so the closed ones are filled in order; a descriptor
// that lands above 2 (all three were open after all) is closed again.
void FillStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (IsOpen(fd)) continue;
    int got = open("/dev/null", O_RDWR);
    if (got < 0) return;
    if (got > STDERR_FILENO) {
      close(got);
      return;
    }
  }
}

}  // namespace

void SanitizeStartState() {
  FillStandardDescriptors();
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(SIGCHLD, &dfl, nullptr);
}

}  // namespace quorvane::platform
