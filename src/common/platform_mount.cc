#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#ifndef __NetBSD__
#include <sys/sysmacros.h>
#endif

#include "common/platform.h"

namespace quorvane::platform {

#ifdef __NetBSD__

// Every mount, null and other layer mounts included, reports a file system
// id of its own, so the device tells mounts apart.
Result<MountId> MountOf(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return ErrnoError(errno);
  MountId id;
  id.dev = st.st_dev;
  return id;
}

#else

// A bind mount of a directory of the same file system keeps its device, so
// the mount's own id is compared where the system gives it.
Result<MountId> MountOf(int fd) {
  struct statx stx;
  if (statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_MNT_ID,
            &stx) != 0) {
    return ErrnoError(errno);
  }
  MountId id;
  id.dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
  if (stx.stx_mask & STATX_MNT_ID) id.mount = stx.stx_mnt_id;
  return id;
}

#endif

}  // namespace quorvane::platform
