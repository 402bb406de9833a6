// The one place where the installer opens, examines, creates and reads
// files and directories: every call retries when a signal interrupts it,
// opens close-on-exec, refuses a name with a NUL byte (the system would cut
// it short and name another file) and reports "op path: message" with the
// path text kept for that message only. Names are taken relative to a
// directory held open, so that what was checked there is what is used.
#ifndef QUORVANE_COMMON_FILE_CALLS_H_
#define QUORVANE_COMMON_FILE_CALLS_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

#include "common/error.h"
#include "common/owned.h"

namespace quorvane {

// A file named relative to a directory held open (or the working directory
// with AT_FDCWD), with the path text that messages name it by.
struct FileAt {
  int dirfd = AT_FDCWD;
  std::string name;
  std::string path;

  FileAt(int dir, std::string entry, std::string text)
      : dirfd(dir), name(std::move(entry)), path(std::move(text)) {}
  // A path taken as it stands, from the working directory.
  FileAt(const std::string& whole) : name(whole), path(whole) {}  // NOLINT: implicit
  FileAt(const char* whole) : FileAt(std::string(whole)) {}       // NOLINT: implicit

  // A directory held open at fd, named "." from itself.
  static FileAt Held(int fd, std::string text) { return FileAt(fd, ".", std::move(text)); }

  // An entry of this directory: by its name in a held directory, else by
  // the joined path text.
  FileAt Entry(std::string_view entry) const;
};

// openat(2) with O_CLOEXEC added. A missing file created here gets mode
// (less the umask).
Result<UniqueFd> OpenAt(const FileAt& file, int flags, mode_t mode = 0);

// Opens a directory only to work inside it (look entries up, create and
// remove them, change into it), without following a final link: Linux
// O_PATH, NetBSD O_SEARCH, so that no read permission is needed.
Result<UniqueFd> OpenDirectoryAt(const FileAt& dir);

// fstatat(2); flags AT_SYMLINK_NOFOLLOW for lstat. Errors read "op path: ...".
Result<struct stat> StatAt(const FileAt& file, int flags, std::string_view op = "lstat");

// fstat(2) of a held descriptor; path names it in the error.
Result<struct stat> StatOf(int fd, std::string_view path, std::string_view op = "stat");

// mkdirat(2) with mode (less the umask).
Status MakeDirectoryAt(const FileAt& dir, mode_t mode);

// fchmodat(2): the exact mode, not reduced by the umask. Errors "chmod ...".
Status ChangeModeAt(const FileAt& file, mode_t mode);

// readlinkat(2): the whole target, however long.
Result<std::string> ReadLinkAt(const FileAt& link);

// What tells one file from another: its device and inode.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FileId&) const = default;
};
inline FileId IdOf(const struct stat& st) { return FileId{st.st_dev, st.st_ino}; }
inline bool SameFile(const struct stat& a, const struct stat& b) { return IdOf(a) == IdOf(b); }

}  // namespace quorvane

#endif  // QUORVANE_COMMON_FILE_CALLS_H_
