#include <errno.h>
#include <unistd.h>

#include <vector>

#include "common/platform.h"

#ifdef __NetBSD__
#include <sys/sysctl.h>
#endif

namespace quorvane::platform {

#ifdef __NetBSD__

Result<std::string> ExecutablePath() {
  int mib[4] = {CTL_KERN, KERN_PROC_ARGS, -1, KERN_PROC_PATHNAME};
  size_t len = 0;
  if (sysctl(mib, 4, nullptr, &len, nullptr, 0) != 0) return ErrnoError(errno);
  if (len == 0) return std::string();
  std::vector<char> buf(len);
  if (sysctl(mib, 4, buf.data(), &len, nullptr, 0) != 0) return ErrnoError(errno);
  if (len == 0) return std::string();
  return std::string(buf.data(), len - 1);  // without the terminating NUL
}

#else

Result<std::string> ExecutablePath() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return SysError("readlink", "/proc/self/exe", errno);
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

#endif

}  // namespace quorvane::platform
