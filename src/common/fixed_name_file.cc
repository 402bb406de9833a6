#include "common/fixed_name_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {
namespace {

// The directory part of path as the system is to be handed it.
std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

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
  const std::string dir = DirectoryOf(path);
  const int dirfd = OpenRetrying(AT_FDCWD, dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (dirfd < 0) return SysError("open", path, errno);
  struct stat dir_st;
  if (fstat(dirfd, &dir_st) != 0) {
    const int err = errno;
    close(dirfd);
    return SysError("open", path, err);
  }
  const int fd = OpenRetrying(dirfd, NameOf(path).c_str(),
                              access | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0640);
  const int open_err = errno;
  close(dirfd);
  if (fd < 0) return SysError("open", path, open_err);
  struct stat st;
  std::string refusal;
  int err = EACCES;
  if (fstat(fd, &st) != 0) {
    err = errno;
    refusal = ErrnoText(err);
  } else {
    refusal = Refusal(dir_st, st);
    if (!S_ISREG(st.st_mode)) err = EINVAL;
  }
  if (refusal.empty() && ftruncate(fd, 0) != 0) {
    err = errno;
    close(fd);
    return SysError("truncate", path, err);
  }
  if (!refusal.empty()) {
    close(fd);
    return Error("open " + path + ": " + refusal, err);
  }
  // Writes to the file should block as usual from here on.
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace quorvane
