#include "common/fixed_name_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/owned.h"
#include "common/path.h"

namespace quorvane {
namespace {

int OpenRetrying(int dirfd, const char* name, int flags, mode_t mode) {
  int fd;
  do {
    fd = openat(dirfd, name, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A directory in which someone other than this process's user can create,
// rename or remove entries.
bool SharedDirectory(const struct stat& dir) {
  return dir.st_uid != geteuid() || (dir.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// The checks on what was opened; empty when it may be written.
std::string Refusal(const struct stat& dir, const struct stat& file) {
  if (!S_ISREG(file.st_mode)) return "not a regular file";
  if (!SharedDirectory(dir)) return "";
  // Another user's file there may be read by that user; a hard link there
  // may stand for any file of the same file system.
  if (file.st_uid != geteuid() || file.st_nlink > 1) return ErrnoText(EACCES);
  return "";
}

}  // namespace

Result<int> OpenFixedNameFile(const std::string& path, int access) {
  if (path.find('\0') != std::string::npos) return SysError("open", path, EINVAL);
  UniqueFd dirfd(
      OpenRetrying(AT_FDCWD, DirPart(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!dirfd.valid()) return SysError("open", path, errno);
  struct stat dir_st;
  if (fstat(dirfd.get(), &dir_st) != 0) return SysError("open", path, errno);
  UniqueFd fd(OpenRetrying(dirfd.get(), BaseName(path).c_str(),
                           access | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0640));
  if (!fd.valid()) return SysError("open", path, errno);
  dirfd.reset();
  struct stat st;
  std::string refusal;
  int err = EACCES;
  if (fstat(fd.get(), &st) != 0) {
    err = errno;
    refusal = ErrnoText(err);
  } else {
    refusal = Refusal(dir_st, st);
    if (!S_ISREG(st.st_mode)) err = EINVAL;
  }
  if (!refusal.empty()) return Error("open " + path + ": " + refusal, err);
  if (ftruncate(fd.get(), 0) != 0) return SysError("truncate", path, errno);
  // Writes to the file should block as usual from here on.
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags >= 0) (void)fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  return fd.release();
}

}  // namespace quorvane
