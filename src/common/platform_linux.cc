// The platform services on Linux, where the installer is built and tested:
// the same results for callers as the NetBSD services they stand in for.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/file_calls.h"
#include "common/platform.h"
#include "common/platform_system.h"

namespace quorvane::platform {

const int kOpenForSearch = O_PATH;

Result<std::string> ExecutablePath() { return ReadLinkAt("/proc/self/exe"); }

// statvfs gives current figures here; there is no ST_WAIT to ask for.
Result<FileSystemStats> QueryFileSystem(int dirfd, const std::string& path) {
  struct statvfs st;
  const int rc = dirfd == AT_FDCWD ? statvfs(path.c_str(), &st) : fstatvfs(dirfd, &st);
  if (rc != 0) return ErrnoError(errno);
  FileSystemStats stats;
  stats.free_blocks = st.f_bfree;
  stats.block_size = st.f_bsize;
  return stats;
}

// A bind mount of a directory of the same file system keeps its device, so
// the mount's own id is compared where the system gives it.
Result<MountId> MountOf(int dirfd, const char* name) {
  struct statx stx;
  const int empty = *name == '\0' ? AT_EMPTY_PATH : 0;
  if (statx(dirfd, name, empty | AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_MNT_ID, &stx) !=
      0) {
    return ErrnoError(errno);
  }
  MountId id;
  id.dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
  if (stx.stx_mask & STATX_MNT_ID) id.mount = stx.stx_mnt_id;
  return id;
}

namespace system {

Status BlockUntilWaitable(pid_t pid) {
  for (;;) {
    siginfo_t info;
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) == 0) return Status::Ok();
    if (errno != EINTR) return SysError("waitid", errno);
  }
}

}  // namespace system
}  // namespace quorvane::platform
