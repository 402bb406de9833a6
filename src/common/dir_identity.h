// common/: what every part of the installer and the record's code share.
// Errors as values and the one formatter of system errors (error.h); the
// owners of descriptors (owned.h); the one place where files and
// directories are opened, examined and created, relative to a directory
// held open (file_calls.h); the walk that reaches a directory one checked
// level at a time and holds it (path_walk.h); lexical path operations,
// UTF-8 and letter case, the word list of a command line, the one write
// loop; and the platform layer (platform.h), one file per system.
//
// What tells one directory from another that may later stand at its path:
// device, inode, and the mount that it was reached through.
#ifndef QUORVANE_COMMON_DIR_IDENTITY_H_
#define QUORVANE_COMMON_DIR_IDENTITY_H_

#include <errno.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "common/error.h"
#include "common/file_calls.h"
#include "common/platform.h"

namespace quorvane {

struct DirIdentity {
  FileId file;
  platform::MountId mount;
  bool operator==(const DirIdentity&) const = default;
};

// The identity of the directory open at fd; the error keeps the errno.
inline Result<DirIdentity> IdentityOf(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return ErrnoError(errno);
  Result<platform::MountId> mount = platform::MountOf(fd, "");
  if (!mount.ok()) return mount.error();
  return DirIdentity{IdOf(st), *mount};
}

// The identity of what stands at a name, without opening it or following
// a final link; the error keeps the errno.
inline Result<DirIdentity> IdentityAt(const FileAt& entry) {
  Result<struct stat> st = StatAt(entry, AT_SYMLINK_NOFOLLOW);
  if (!st.ok()) return st.error();
  Result<platform::MountId> mount = platform::MountOf(entry.dirfd, entry.name.c_str());
  if (!mount.ok()) return mount.error();
  return DirIdentity{IdOf(*st), *mount};
}

}  // namespace quorvane

#endif  // QUORVANE_COMMON_DIR_IDENTITY_H_
