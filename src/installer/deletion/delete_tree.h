// installer/deletion/: removing a directory tree the way root may in a
// directory others can write to: walked through directory descriptors,
// never through a link, never into another mount or a directory put in
// place of one it saw, every removal retried and logged.
//
// Deletion of a directory tree, a file or nothing, confined to a safe
// directory, never following a link and reported in the installer log.
#ifndef QUORVANE_INSTALLER_DELETION_DELETE_TREE_H_
#define QUORVANE_INSTALLER_DELETION_DELETE_TREE_H_

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/error.h"
#include "installer/log/log.h"

namespace quorvane {

inline constexpr int64_t maxRemoveAttempts = 1000;

// The system services the deletion uses. An empty member means the real
// service; tests replace them to make removals fail or to change the tree
// while it is being deleted.
struct DeleteOps {
  // unlinkat(2): returns 0 or -1 with errno set.
  std::function<int(int dirfd, const char* name, int flags)> unlink_at;
  // Blocks for a number of nanoseconds (only called with a positive count).
  std::function<void(int64_t nanoseconds)> pause;
  // Called with a directory's path text just before the directory is opened.
  std::function<void(const std::string& dir)> before_open_dir;
};

// A directory held open, in the directory held open above it. The deletion
// takes fd over: it becomes the stream the top directory is read through,
// so that the deletion needs no descriptor beyond those already held.
struct HeldTree {
  int parent_fd = -1;
  int fd = -1;
};

struct DeleteContext {
  InstallerLog& log;
  DeleteOps ops;
  // When given, the tree is this directory: the deletion starts from its
  // descriptor and removes it from the one above, and only while the path
  // still names it; anything else found at the path (another directory, a
  // mount over it) is not touched.
  std::optional<HeldTree> top = std::nullopt;
};

// True for the error of a removal or status read that found nothing (ENOENT).
bool IsNotFoundError(const Error& error);

// The mode text of a file's status: type and special-bit letters ("-" for
// none) followed by the nine permission characters, e.g. "Lrwxr-xr-x".
std::string FileModeText(mode_t mode);

// No error when path, made absolute, lies in safeDir: compared in lower
// case, the path is safeDir itself or continues it with a "/". safeDir is
// used as given.
Status isSafeToDelete(const std::string& path, const std::string& safeDir);

// Removes one file or one empty directory, unlink first and then rmdir,
// retrying a failed attempt up to retries times (no limit of its own when
// negative, never more than maxRemoveAttempts attempts) with a pause of delay
// nanoseconds before each retry. The not-found error ends it at once.
Status removeWithRetry(const DeleteContext& ctx, const std::string& path, int64_t retries,
                       int64_t delay);

// Deletes the directory tree at dir, dir last; directories and regular
// files only. Never follows a symbolic link: the tree is walked through
// directory descriptors. A path that no longer names ctx.top is refused
// with "open <dir>: no longer the directory created for this run". Returns
// the first error met.
Status deleteDirRec(const DeleteContext& ctx, const std::string& dir, const std::string& safeDir,
                    int64_t retries, int64_t delay);

// Deletes what stands at path: a directory tree, a regular file, or nothing
// when it does not exist. A symbolic link at path is refused like any other
// file that is neither a directory nor a regular file.
Status deleteAll(const DeleteContext& ctx, const std::string& path, const std::string& safeDir,
                 int64_t retries, int64_t delay);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_DELETION_DELETE_TREE_H_
