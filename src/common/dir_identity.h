// What tells one directory from another that may later stand at its path:
// device, inode, and the mount that it was reached through.
#ifndef QUORVANE_COMMON_DIR_IDENTITY_H_
#define QUORVANE_COMMON_DIR_IDENTITY_H_

#include <errno.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "common/error.h"
#include "common/platform.h"

namespace quorvane {

struct DirIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  platform::MountId mount;
  bool operator==(const DirIdentity&) const = default;
};

// The identity of the directory open at fd; the error keeps the errno.
inline Result<DirIdentity> IdentityOf(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return ErrnoError(errno);
  Result<platform::MountId> mount = platform::MountOf(fd);
  if (!mount.ok()) return mount.error();
  return DirIdentity{st.st_dev, st.st_ino, *mount};
}

}  // namespace quorvane

#endif  // QUORVANE_COMMON_DIR_IDENTITY_H_
