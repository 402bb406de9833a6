#include "common/fixed_name_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/path.h"

namespace quorvane {
namespace {

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

Result<UniqueFd> OpenIn(int dirfd, const FileAt& file, int access) {
  Result<struct stat> dir_st = StatOf(dirfd, file.path, "open");
  if (!dir_st.ok()) return dir_st.error();
  Result<UniqueFd> fd =
      OpenAt(FileAt(dirfd, file.name, file.path), access | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0640);
  if (!fd.ok()) return fd.error();
  Result<struct stat> st = StatOf(fd->get(), file.path, "open");
  if (!st.ok()) return st.error();
  if (std::string refusal = Refusal(*dir_st, *st); !refusal.empty()) {
    return PathError("open", file.path, refusal, S_ISREG(st->st_mode) ? EACCES : EINVAL);
  }
  if (ftruncate(fd->get(), 0) != 0) return SysError("truncate", file.path, errno);
  // Writes to the file should block as usual from here on.
  const int flags = fcntl(fd->get(), F_GETFL);
  if (flags >= 0) (void)fcntl(fd->get(), F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace

Result<UniqueFd> OpenFixedNameFile(const FileAt& file, int access) {
  if (file.dirfd != AT_FDCWD) return OpenIn(file.dirfd, file, access);
  Result<UniqueFd> dir =
      OpenAt(FileAt(AT_FDCWD, DirPart(file.path), file.path), O_RDONLY | O_DIRECTORY);
  if (!dir.ok()) return dir.error();
  return OpenIn(dir->get(), FileAt(dir->get(), BaseName(file.path), file.path), access);
}

}  // namespace quorvane
