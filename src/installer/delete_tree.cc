// The tree is walked through directory descriptors: every entry is examined,
// opened and removed relative to the directory that was opened for it, and no
// open follows a symbolic link. Whoever can write into the tree while it is
// deleted can therefore not turn the deletion to files outside it by putting
// a link where a directory stood. The path texts are kept for the log only.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "common/path.h"
#include "installer/cleanup.h"

namespace quorvane {
namespace {

int UnlinkAt(const DeleteContext& ctx, int dirfd, const char* name, int flags) {
  int rc;
  do {
    rc = ctx.ops.unlinkAt ? ctx.ops.unlinkAt(dirfd, name, flags) : unlinkat(dirfd, name, flags);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

void Pause(const DeleteContext& ctx, int64_t nanoseconds) {
  if (ctx.ops.pause) {
    ctx.ops.pause(nanoseconds);
    return;
  }
  struct timespec left = {static_cast<time_t>(nanoseconds / 1'000'000'000),
                          static_cast<long>(nanoseconds % 1'000'000'000)};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// One attempt: as a file, then as an empty directory. rmdir's error tells
// more (a directory that is not empty), unless the path is no directory.
int RemoveOnce(const DeleteContext& ctx, int dirfd, const std::string& name) {
  if (UnlinkAt(ctx, dirfd, name.c_str(), 0) == 0) return 0;
  int unlinkErr = errno;
  if (UnlinkAt(ctx, dirfd, name.c_str(), AT_REMOVEDIR) == 0) return 0;
  return errno == ENOTDIR ? unlinkErr : errno;
}

// Removes name in dirfd; path is its text for the log and the error.
Status RemoveWithRetryAt(const DeleteContext& ctx, int dirfd, const std::string& name,
                         const std::string& path, int64_t retries, int64_t delay) {
  Error last;
  for (int64_t attempt = 0; attempt < maxRemoveAttempts; ++attempt) {
    int err = RemoveOnce(ctx, dirfd, name);
    if (err == 0) return Status::Ok();
    last = SysError("remove", path, err);
    if (err == ENOENT || retries == 0) return last;
    if (retries > 0) --retries;
    ctx.log.Logf("[DEBUG] Retry delete: %s", path);
    if (delay > 0) Pause(ctx, delay);
  }
  return last;
}

enum class Kind { kDirectory, kRegular, kOther };

Kind KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return Kind::kDirectory;
  if (S_ISLNK(mode) || S_ISFIFO(mode) || S_ISSOCK(mode) || S_ISBLK(mode) || S_ISCHR(mode)) {
    return Kind::kOther;
  }
  return Kind::kRegular;
}

Error UnknownMode(mode_t mode) { return Error("unknown mode: " + FileModeText(mode)); }

// An open directory, closed when it goes out of scope.
class OpenDir {
 public:
  explicit OpenDir(DIR* d) : dir_(d) {}
  OpenDir(const OpenDir&) = delete;
  OpenDir& operator=(const OpenDir&) = delete;
  ~OpenDir() {
    if (dir_ != nullptr) closedir(dir_);
  }
  DIR* get() const { return dir_; }
  int fd() const { return dirfd(dir_); }

 private:
  DIR* dir_;
};

// Opens name in parentfd as a directory, refusing a symbolic link.
Result<DIR*> OpenDirectoryAt(int parentfd, const std::string& name, const std::string& dir) {
  int fd;
  do {
    fd = openat(parentfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return SysError("open", dir, errno);
  DIR* d = fdopendir(fd);
  if (d == nullptr) {
    int err = errno;
    close(fd);
    return SysError("open", dir, err);
  }
  return d;
}

// All names but "." and "..", in ascending byte order.
Result<std::vector<std::string>> ReadNames(DIR* d, const std::string& dir) {
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(d);
    if (e == nullptr) {
      if (errno != 0) return SysError("readdirent", dir, errno);
      break;
    }
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The first error of a tree; later ones never replace it.
struct FirstError {
  std::optional<Error> error;
  void Remember(const Error& e) {
    if (!error) error = e;
  }
  Status ToStatus() const { return error ? Status(*error) : Status::Ok(); }
};

struct Walk {
  const DeleteContext& ctx;
  const std::string& safeDir;
  int64_t retries;
  int64_t delay;
};

Status DeleteTreeAt(const Walk& w, int parentfd, const std::string& name, const std::string& dir);

// Removes a directory or file entry once its content is handled; the outcome
// is logged with the given texts.
void RemoveEntry(const Walk& w, int dirfd, const std::string& name, const std::string& p,
                 const char* failedFormat, const char* deletedFormat, FirstError& first) {
  Status st = RemoveWithRetryAt(w.ctx, dirfd, name, p, w.retries, w.delay);
  if (!st.ok() && !IsNotFoundError(st.error())) {
    first.Remember(st.error());
    w.ctx.log.Logf(failedFormat, p, st.error());
  } else {
    w.ctx.log.Logf(deletedFormat, p);
  }
}

void DeleteSubdirectory(const Walk& w, int dirfd, const std::string& name, const std::string& p,
                        FirstError& first) {
  if (Status safe = isSafeToDelete(p, w.safeDir); !safe.ok()) {
    first.Remember(safe.error());
    w.ctx.log.Logf("[ERROR] Can't delete directory %s. (%s)", p, safe.error());
    return;
  }
  Status tree = DeleteTreeAt(w, dirfd, name, p);
  if (!tree.ok() && !IsNotFoundError(tree.error())) {
    first.Remember(tree.error());
    w.ctx.log.Logf("[ERROR] Failed to delete all files and subdirectories from directory %s. (%s)",
                   p, tree.error());
  }
  RemoveEntry(w, dirfd, name, p, "[ERROR] Failed to delete directory %s. (%s)",
              "[INFO ] Deleted directory %s", first);
}

void DeleteFile(const Walk& w, int dirfd, const std::string& name, const std::string& p,
                FirstError& first) {
  if (Status safe = isSafeToDelete(p, w.safeDir); !safe.ok()) {
    first.Remember(safe.error());
    w.ctx.log.Logf("[ERROR] Can't delete file %s. (%s)", p, safe.error());
    return;
  }
  RemoveEntry(w, dirfd, name, p, "[ERROR] Failed to delete file %s. (%s)",
              "[INFO ] Deleted file %s", first);
}

void DeleteEntry(const Walk& w, int dirfd, const std::string& name, const std::string& p,
                 FirstError& first) {
  struct stat st;
  if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    w.ctx.log.Logf("[ERROR] Can't delete %s, error: %s", p, SysError("lstat", p, errno));
    return;
  }
  switch (KindOf(st.st_mode)) {
    case Kind::kDirectory:
      DeleteSubdirectory(w, dirfd, name, p, first);
      break;
    case Kind::kRegular:
      DeleteFile(w, dirfd, name, p, first);
      break;
    case Kind::kOther: {
      Error e = UnknownMode(st.st_mode);
      first.Remember(e);
      w.ctx.log.Logf("[ERROR] Failed to delete %s. (%s)", p, e);
      break;
    }
  }
}

// Deletes the tree of the directory name in parentfd, whose path text is
// dir, and then the directory itself.
Status DeleteTreeAt(const Walk& w, int parentfd, const std::string& name, const std::string& dir) {
  if (Status safe = isSafeToDelete(dir, w.safeDir); !safe.ok()) {
    w.ctx.log.Logf("[ERROR] Can't delete directory %s. (%s)", dir, safe.error());
    return safe;
  }
  FirstError first;
  {
    if (w.ctx.ops.beforeOpenDir) w.ctx.ops.beforeOpenDir(dir);
    Result<DIR*> opened = OpenDirectoryAt(parentfd, name, dir);
    if (!opened.ok()) return opened.error();
    OpenDir d(*opened);
    Result<std::vector<std::string>> names = ReadNames(d.get(), dir);
    if (!names.ok()) return names.error();
    for (const std::string& entry : *names)
      DeleteEntry(w, d.fd(), entry, JoinPath(dir, entry), first);
  }
  RemoveEntry(w, parentfd, name, dir, "[ERROR] Failed to delete directory %s. (%s)",
              "[INFO ] Deleted directory %s", first);
  return first.ToStatus();
}

// The name under which the system is handed a top-level path. Trailing "/"
// would make the system follow a final symbolic link, so they are dropped.
std::string TopLevelName(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  return end == std::string::npos ? path.substr(0, 1) : path.substr(0, end + 1);
}

}  // namespace

Status removeWithRetry(const DeleteContext& ctx, const std::string& path, int64_t retries,
                       int64_t delay) {
  return RemoveWithRetryAt(ctx, AT_FDCWD, path, path, retries, delay);
}

Status deleteDirRec(const DeleteContext& ctx, const std::string& dir, const std::string& safeDir,
                    int64_t retries, int64_t delay) {
  return DeleteTreeAt(Walk{ctx, safeDir, retries, delay}, AT_FDCWD, TopLevelName(dir), dir);
}

Status deleteAll(const DeleteContext& ctx, const std::string& path, const std::string& safeDir,
                 int64_t retries, int64_t delay) {
  if (Status safe = isSafeToDelete(path, safeDir); !safe.ok()) {
    ctx.log.Logf("[ERROR] Can't delete %s. (%s)", path, safe.error());
    return safe;
  }
  // Not following a link here: a link at the top is refused as "unknown mode".
  struct stat st;
  if (fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return Status::Ok();
    return SysError("stat", path, errno);
  }
  switch (KindOf(st.st_mode)) {
    case Kind::kDirectory:
      return deleteDirRec(ctx, path, safeDir, retries, delay);
    case Kind::kRegular: {
      Status removed = removeWithRetry(ctx, path, retries, delay);
      if (!removed.ok() && !IsNotFoundError(removed.error())) {
        ctx.log.Logf("[ERROR] Failed to delete file %s. (%s)", path, removed.error());
        return removed;
      }
      ctx.log.Logf("[INFO ] Deleted file %s.", path);
      return Status::Ok();
    }
    case Kind::kOther:
      break;
  }
  Error e = UnknownMode(st.st_mode);
  ctx.log.Logf("[ERROR] Failed to delete %s. (%s)", path, e);
  return e;
}

}  // namespace quorvane
