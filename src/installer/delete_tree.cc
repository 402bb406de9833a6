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
#include "common/platform.h"
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
  OpenDir() = default;
  explicit OpenDir(DIR* d) : dir_(d) {}
  OpenDir(const OpenDir&) = delete;
  OpenDir& operator=(const OpenDir&) = delete;
  OpenDir(OpenDir&& other) noexcept : dir_(other.dir_) { other.dir_ = nullptr; }
  OpenDir& operator=(OpenDir&& other) noexcept {
    if (this != &other) {
      Reset();
      dir_ = other.dir_;
      other.dir_ = nullptr;
    }
    return *this;
  }
  ~OpenDir() { Reset(); }
  DIR* get() const { return dir_; }
  int fd() const { return dirfd(dir_); }
  void Reset() {
    if (dir_ != nullptr) closedir(dir_);
    dir_ = nullptr;
  }

 private:
  DIR* dir_ = nullptr;
};

int OpenAt(int parentfd, const char* name) {
  int fd;
  do {
    fd = openat(parentfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A directory opened for the walk, with its identity.
struct Opened {
  OpenDir dir;
  dev_t dev = 0;
  ino_t ino = 0;
  platform::MountId mount;
};

// Opens name in parentfd as a directory, refusing a symbolic link, and, when
// expected is given, anything but the directory whose status was read.
Result<Opened> OpenDirectoryAt(int parentfd, const std::string& name, const std::string& dir,
                               const struct stat* expected) {
  const int fd = OpenAt(parentfd, name.c_str());
  if (fd < 0) return SysError("open", dir, errno);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    const int err = errno;
    close(fd);
    return SysError("open", dir, err);
  }
  if (expected != nullptr && (st.st_dev != expected->st_dev || st.st_ino != expected->st_ino)) {
    close(fd);
    return Error("open " + dir + ": directory replaced during deletion");
  }
  Result<platform::MountId> mount = platform::MountOf(fd);
  if (!mount.ok()) {
    close(fd);
    return SysError("open", dir, mount.error().errnum);
  }
  DIR* d = fdopendir(fd);
  if (d == nullptr) {
    const int err = errno;
    close(fd);
    return SysError("open", dir, err);
  }
  Opened out;
  out.dir = OpenDir(d);
  out.dev = st.st_dev;
  out.ino = st.st_ino;
  out.mount = *mount;
  return out;
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

void RemoveDirectoryEntry(const Walk& w, int dirfd, const std::string& name, const std::string& p,
                          FirstError& first) {
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

// The deletion of one directory tree, depth first, without recursion and
// with at most two directories open at a time: a directory's names are read
// whole when it is entered, its parent is closed then, and the parent is
// opened again through ".." when the directory is done, checked to be the
// same directory as before. Memory per level is its remaining names.
class TreeDeletion {
 public:
  TreeDeletion(const Walk& w, const std::string& top) : w_(w), top_(top) {}

  Status Run() {
    if (Status safe = isSafeToDelete(top_, w_.safeDir); !safe.ok()) {
      w_.ctx.log.Logf("[ERROR] Can't delete directory %s. (%s)", top_, safe.error());
      return safe;
    }
    Result<Opened> opened = Open(AT_FDCWD, TopLevelName(top_), top_, nullptr);
    if (!opened.ok()) return opened.error();
    rootDev_ = opened->dev;
    rootMount_ = opened->mount;
    Result<Level> top = Enter(opened.value(), TopLevelName(top_), top_);
    if (!top.ok()) return top.error();
    levels_.push_back(std::move(*top));
    path_ = top_;
    for (;;) {
      Level& level = levels_.back();
      if (level.next < level.names.size()) {
        const std::string name = std::move(level.names[level.next++]);
        DeleteEntry(name, ChildPath(name));
        continue;
      }
      if (levels_.size() == 1) break;
      if (Status back = Leave(); !back.ok()) return back;
    }
    cur_.Reset();
    FirstError& first = levels_.front().first;
    RemoveDirectoryEntry(w_, AT_FDCWD, TopLevelName(top_), top_, first);
    return first.ToStatus();
  }

 private:
  struct Level {
    dev_t dev = 0;
    ino_t ino = 0;
    std::string name;  // in the parent
    std::vector<std::string> names;
    size_t next = 0;
    FirstError first;
  };

  // The name under which the system is handed a top-level path. Trailing
  // "/" would make the system follow a final symbolic link.
  static std::string TopLevelName(const std::string& path) {
    size_t end = path.find_last_not_of('/');
    return end == std::string::npos ? path.substr(0, 1) : path.substr(0, end + 1);
  }

  std::string ChildPath(const std::string& name) const {
    return levels_.size() == 1 ? JoinPath(top_, name) : path_ + "/" + name;
  }

  Result<Opened> Open(int parentfd, const std::string& name, const std::string& dir,
                      const struct stat* expected) {
    if (w_.ctx.ops.beforeOpenDir) w_.ctx.ops.beforeOpenDir(dir);
    return OpenDirectoryAt(parentfd, name, dir, expected);
  }

  // Lists the opened directory name; it becomes the current directory.
  Result<Level> Enter(Opened& o, const std::string& name, const std::string& dir) {
    Result<std::vector<std::string>> names = ReadNames(o.dir.get(), dir);
    if (!names.ok()) return names.error();
    Level level;
    level.dev = o.dev;
    level.ino = o.ino;
    level.name = name;
    level.names = std::move(names.value());
    cur_ = std::move(o.dir);
    return level;
  }

  void DeleteEntry(const std::string& name, const std::string& p) {
    FirstError& first = levels_.back().first;
    struct stat st;
    if (fstatat(cur_.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      w_.ctx.log.Logf("[ERROR] Can't delete %s, error: %s", p, SysError("lstat", p, errno));
      return;
    }
    switch (KindOf(st.st_mode)) {
      case Kind::kDirectory:
        DeleteSubdirectory(name, p, st);
        break;
      case Kind::kRegular:
        DeleteFile(w_, cur_.fd(), name, p, first);
        break;
      case Kind::kOther: {
        Error e = UnknownMode(st.st_mode);
        first.Remember(e);
        w_.ctx.log.Logf("[ERROR] Failed to delete %s. (%s)", p, e);
        break;
      }
    }
  }

  void DeleteSubdirectory(const std::string& name, const std::string& p, const struct stat& st) {
    FirstError& first = levels_.back().first;
    if (Status safe = isSafeToDelete(p, w_.safeDir); !safe.ok()) {
      first.Remember(safe.error());
      w_.ctx.log.Logf("[ERROR] Can't delete directory %s. (%s)", p, safe.error());
      return;
    }
    // A mount point inside the tree is not entered: only its removal is
    // tried, and fails. A device of its own shows most before the open.
    if (st.st_dev != rootDev_) {
      RemoveDirectoryEntry(w_, cur_.fd(), name, p, first);
      return;
    }
    if (Status safe = isSafeToDelete(p, w_.safeDir); !safe.ok()) {
      w_.ctx.log.Logf("[ERROR] Can't delete directory %s. (%s)", p, safe.error());
      FinishSubdirectory(name, p, safe);
      return;
    }
    Result<Opened> opened = Open(cur_.fd(), name, p, &st);
    if (!opened.ok()) {
      FinishSubdirectory(name, p, opened.error());
      return;
    }
    // The device alone does not show a bind mount of a directory of the same
    // file system; the mount of what was opened does.
    if (!(opened->mount == rootMount_)) {
      opened.value().dir.Reset();
      RemoveDirectoryEntry(w_, cur_.fd(), name, p, first);
      return;
    }
    OpenDir parent = std::move(cur_);
    Result<Level> child = Enter(opened.value(), name, p);
    if (!child.ok()) {
      cur_ = std::move(parent);
      FinishSubdirectory(name, p, child.error());
      return;
    }
    parent.Reset();
    levels_.push_back(std::move(*child));
    path_ = p;
  }

  // After a subdirectory's tree: the outcome of the tree, then the removal.
  void FinishSubdirectory(const std::string& name, const std::string& p, const Status& tree) {
    FirstError& first = levels_.back().first;
    if (!tree.ok() && !IsNotFoundError(tree.error())) {
      first.Remember(tree.error());
      w_.ctx.log.Logf(
          "[ERROR] Failed to delete all files and subdirectories from directory %s. (%s)", p,
          tree.error());
    }
    RemoveDirectoryEntry(w_, cur_.fd(), name, p, first);
  }

  // Back to the parent of the current level, which is then removed. A
  // parent that is no longer the directory left ends the whole walk.
  Status Leave() {
    Level done = std::move(levels_.back());
    levels_.pop_back();
    const std::string p = path_;
    path_ = levels_.size() == 1 ? top_ : path_.substr(0, path_.rfind('/'));
    Result<OpenDir> parent = OpenParent(p, levels_.back());
    cur_.Reset();
    if (!parent.ok()) {
      FirstError& first = levels_.front().first;
      first.Remember(parent.error());
      return first.ToStatus();
    }
    cur_ = std::move(*parent);
    RemoveDirectoryEntry(w_, cur_.fd(), done.name, p, done.first);
    FinishSubdirectory(done.name, p, done.first.ToStatus());
    return Status::Ok();
  }

  Result<OpenDir> OpenParent(const std::string& child, const Level& parent) {
    const std::string dotdot = child + "/..";
    const int fd = OpenAt(cur_.fd(), "..");
    if (fd < 0) return SysError("open", dotdot, errno);
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_dev != parent.dev || st.st_ino != parent.ino) {
      close(fd);
      return Error("open " + dotdot + ": directory replaced during deletion");
    }
    DIR* d = fdopendir(fd);
    if (d == nullptr) {
      const int err = errno;
      close(fd);
      return SysError("open", dotdot, err);
    }
    return OpenDir(d);
  }

  const Walk& w_;
  const std::string& top_;
  std::vector<Level> levels_;
  std::string path_;  // of the current level
  OpenDir cur_;       // the current level, open
  dev_t rootDev_ = 0;
  platform::MountId rootMount_;
};

}  // namespace


Status removeWithRetry(const DeleteContext& ctx, const std::string& path, int64_t retries,
                       int64_t delay) {
  return RemoveWithRetryAt(ctx, AT_FDCWD, path, path, retries, delay);
}

Status deleteDirRec(const DeleteContext& ctx, const std::string& dir, const std::string& safeDir,
                    int64_t retries, int64_t delay) {
  return TreeDeletion(Walk{ctx, safeDir, retries, delay}, dir).Run();
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
