#include <errno.h>
#include <sys/statvfs.h>

#include "common/platform.h"

namespace quorvane::platform {

#ifdef __NetBSD__

// ST_WAIT asks the file system for current figures, waiting for them if need be.
Result<FileSystemStats> QueryFileSystem(const std::string& path) {
  struct statvfs st;
  if (statvfs1(path.c_str(), &st, ST_WAIT) != 0) return ErrnoError(errno);
  FileSystemStats stats;
  stats.free_blocks = st.f_bfree;
  stats.block_size = st.f_bsize;
  return stats;
}

#else

Result<FileSystemStats> QueryFileSystem(const std::string& path) {
  struct statvfs st;
  if (statvfs(path.c_str(), &st) != 0) return ErrnoError(errno);
  FileSystemStats stats;
  stats.free_blocks = st.f_bfree;
  stats.block_size = st.f_bsize;
  return stats;
}

#endif

}  // namespace quorvane::platform
