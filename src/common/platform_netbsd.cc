// The platform services as NetBSD provides them.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "common/platform.h"
#include "common/platform_system.h"

namespace quorvane::platform {

#if defined(O_SEARCH)
const int kOpenForSearch = O_SEARCH;
#else
const int kOpenForSearch = O_RDONLY;
#endif

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

// ST_WAIT asks the file system for current figures, waiting for them if need be.
Result<FileSystemStats> QueryFileSystem(int dirfd, const std::string& path) {
  struct statvfs st;
  const int rc =
      dirfd == AT_FDCWD ? statvfs1(path.c_str(), &st, ST_WAIT) : fstatvfs1(dirfd, &st, ST_WAIT);
  if (rc != 0) return ErrnoError(errno);
  FileSystemStats stats;
  stats.free_blocks = st.f_bfree;
  stats.block_size = st.f_bsize;
  return stats;
}

// Every mount, null and other layer mounts included, reports a file system
// id of its own, so the device tells mounts apart.
Result<MountId> MountOf(int dirfd, const char* name) {
  struct stat st;
  const int rc = *name == '\0' ? fstat(dirfd, &st) : fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW);
  if (rc != 0) return ErrnoError(errno);
  MountId id;
  id.dev = st.st_dev;
  return id;
}

namespace system {

Status BlockUntilWaitable(pid_t pid) {
  for (;;) {
    if (wait6(P_PID, static_cast<id_t>(pid), nullptr, WEXITED | WNOWAIT, nullptr, nullptr) >= 0) {
      return Status::Ok();
    }
    if (errno != EINTR) return SysError("wait6", errno);
  }
}

}  // namespace system
}  // namespace quorvane::platform
