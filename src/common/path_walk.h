// Walking a path the way the system would, one element at a time, on
// directory descriptors: each directory on the way is opened relative to the
// one before it, examined on the descriptor that is then held, and left only
// for the next; each symbolic link is read where it stands and its target
// walked in its place. Nothing is looked up by the path's text, so whatever
// the walk checked is what the caller gets: a directory held open that no
// rename or link above it can exchange.
#ifndef QUORVANE_COMMON_PATH_WALK_H_
#define QUORVANE_COMMON_PATH_WALK_H_

#include <sys/types.h>

#include <optional>
#include <string>

#include "common/error.h"
#include "common/owned.h"

namespace quorvane {

struct WalkOptions {
  // Every element and every link on the way must belong to the superuser or
  // to this process's effective user, and a directory that its group or
  // others may write to must have the sticky bit.
  bool check_owners = false;
  // Missing levels named by the path's own text are created with this mode
  // (less the umask) and then checked like the rest. A missing level that
  // a link names is not created: "mkdir L: file exists" for the link L.
  std::optional<mode_t> create_mode;
  // The last element must be a directory; otherwise it may be any file.
  bool want_directory = true;
};

// What stopped a walk that failed.
enum class WalkStop {
  kLookup,        // an element could not be examined or read, or is no directory
  kCreate,        // a missing level could not be created
  kUnsafe,        // an element broke the ownership rule
  kNotDirectory,  // the last element is no directory, and one was wanted
};

struct WalkedPath {
  UniqueFd fd;           // the last element, when it is a directory
  std::string resolved;  // the path without links, cleaned
};

// Walks path (absolute, or relative to the working directory). At most 255
// links are followed. Errors: "lstat P: ..." for an element P that cannot be
// examined, "not a directory" for a file with more elements after it, "too
// many links", "mkdir P: ..." for a level that cannot be created, "unsafe
// path P: owned by user N" or "unsafe path P: writable by others without
// the sticky bit". *stop, when given, tells which of these it was.
Result<WalkedPath> WalkPath(const std::string& path, const WalkOptions& options,
                            WalkStop* stop = nullptr);

}  // namespace quorvane

#endif  // QUORVANE_COMMON_PATH_WALK_H_
