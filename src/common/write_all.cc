#include "common/write_all.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <string>

namespace quorvane {
namespace {

// Blocks until fd takes more bytes; false when the wait itself failed.
bool WaitWritable(int fd) noexcept {
  struct pollfd p = {fd, POLLOUT, 0};
  return poll(&p, 1, -1) >= 0 || errno == EINTR;
}

}  // namespace

std::optional<int> WriteAllBytes(int fd, std::string_view data) noexcept {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitWritable(fd)) continue;
    return errno;
  }
  return std::nullopt;
}

Status WriteAll(int fd, std::string_view data, std::string_view name) {
  std::optional<int> failed = WriteAllBytes(fd, data);
  if (!failed) return Status::Ok();
  if (*failed == 0) return PathError("write", name, "short write");
  return SysError("write", name, *failed);
}

}  // namespace quorvane
