#include "common/write_all.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <string>

namespace quorvane {
namespace {

// Blocks until fd takes more bytes; false when the wait itself failed.
bool WaitWritable(int fd) {
  struct pollfd p = {fd, POLLOUT, 0};
  return poll(&p, 1, -1) >= 0 || errno == EINTR;
}

}  // namespace

Status WriteAll(int fd, std::string_view data, std::string_view name) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n == 0) return Error("write " + std::string(name) + ": short write");
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitWritable(fd)) continue;
    return SysError("write", name, errno);
  }
  return Status::Ok();
}

}  // namespace quorvane
