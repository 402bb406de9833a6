// The tree is walked through directory descriptors: every entry is examined,
// opened and removed relative to the directory that was opened for it, and no
// open follows a symbolic link. Whoever can write into the tree while it is
// deleted can therefore not turn the deletion to files outside it by putting
// a link where a directory stood. The path texts are kept for the log only.
#include "installer/deletion/delete_tree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "common/dir_identity.h"
#include "common/file_calls.h"
#include "common/owned.h"
#include "common/path.h"
#include "common/unicode_case.h"
#include "common/working_directory.h"

namespace quorvane {

bool IsNotFoundError(const Error& error) { return error.errnum == ENOENT; }

std::string FileModeText(mode_t mode) {
  std::string out;
  if (S_ISDIR(mode)) out += 'd';
  if (S_ISLNK(mode)) out += 'L';
  if (S_ISBLK(mode) || S_ISCHR(mode)) out += 'D';
  if (S_ISFIFO(mode)) out += 'p';
  if (S_ISSOCK(mode)) out += 'S';
  if (mode & S_ISUID) out += 'u';
  if (mode & S_ISGID) out += 'g';
  if (S_ISCHR(mode)) out += 'c';
  if (mode & S_ISVTX) out += 't';
  if (out.empty()) out += '-';
  static const char kRwx[] = "rwx";
  for (int bit = 8; bit >= 0; --bit) out += (mode & (1u << bit)) ? kRwx[(8 - bit) % 3] : '-';
  return out;
}

// A bare text prefix would let the safe directory /tmp/quorvane_1 admit its
// sibling /tmp/quorvane_12, so the prefix must end at an element boundary.
Status isSafeToDelete(const std::string& path, const std::string& safeDir) {
  Result<std::string> abs = MakeAbsolute(path);
  if (!abs.ok()) return abs.error();
  const std::string lower_path = ToLowerUnicode(*abs);
  const std::string lower_safe = ToLowerUnicode(safeDir);
  const bool prefix = lower_path.size() >= lower_safe.size() &&
                      lower_path.compare(0, lower_safe.size(), lower_safe) == 0;
  if (prefix && (lower_safe.empty() || lower_safe.back() == '/' ||
                 lower_path.size() == lower_safe.size() || lower_path[lower_safe.size()] == '/')) {
    return Status::Ok();
  }
  return Error("cannot delete files or directory outside safe temporary directory " + safeDir);
}

namespace {

int UnlinkAt(const DeleteContext& ctx, int dirfd, const char* name, int flags) {
  int rc;
  do {
    rc = ctx.ops.unlink_at ? ctx.ops.unlink_at(dirfd, name, flags) : unlinkat(dirfd, name, flags);
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
  const int unlink_err = errno;
  if (UnlinkAt(ctx, dirfd, name.c_str(), AT_REMOVEDIR) == 0) return 0;
  return errno == ENOTDIR ? unlink_err : errno;
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

Kind KindOfMode(mode_t mode) {
  if (S_ISDIR(mode)) return Kind::kDirectory;
  if (S_ISLNK(mode) || S_ISFIFO(mode) || S_ISSOCK(mode) || S_ISBLK(mode) || S_ISCHR(mode)) {
    return Kind::kOther;
  }
  return Kind::kRegular;
}

Error UnknownMode(mode_t mode) { return Error("unknown mode: " + FileModeText(mode)); }

Result<UniqueFd> OpenListable(const FileAt& dir) {
  return OpenAt(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
}

// The stream of an open directory; it takes the descriptor over.
Result<UniqueDir> StreamOf(UniqueFd fd, const std::string& dir) {
  DIR* d = fdopendir(fd.get());
  if (d == nullptr) return SysError("open", dir, errno);
  fd.release();
  return UniqueDir(d);
}

// A directory opened for the walk, with its identity.
struct Opened {
  UniqueDir dir;
  DirIdentity id;
};

// Opens name in parentfd as a directory, refusing a symbolic link, and, when
// expected is given, anything but the directory whose status was read.
Result<Opened> OpenWalkedDirectory(const FileAt& at, const struct stat* expected) {
  const std::string& dir = at.path;
  Result<UniqueFd> fd = OpenListable(at);
  if (!fd.ok()) return fd.error();
  Result<DirIdentity> id = IdentityOf(fd->get());
  if (!id.ok()) return SysError("open", dir, id.error().errnum);
  if (expected != nullptr && !(id->file == IdOf(*expected))) {
    return PathError("open", dir, "directory replaced during deletion");
  }
  Result<UniqueDir> stream = StreamOf(std::move(*fd), dir);
  if (!stream.ok()) return stream.error();
  return Opened{std::move(stream.value()), *id};
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
  const std::string& safe_dir;
  int64_t retries;
  int64_t delay;
};

// Removes a directory or file entry once its content is handled; the outcome
// is logged with the given texts.
void RemoveEntry(const Walk& w, int dirfd, const std::string& name, const std::string& p,
                 const char* failed_format, const char* deleted_format, FirstError& first) {
  Status st = RemoveWithRetryAt(w.ctx, dirfd, name, p, w.retries, w.delay);
  if (!st.ok() && !IsNotFoundError(st.error())) {
    first.Remember(st.error());
    w.ctx.log.Logf(failed_format, p, st.error());
  } else {
    w.ctx.log.Logf(deleted_format, p);
  }
}

void RemoveDirectoryEntry(const Walk& w, int dirfd, const std::string& name, const std::string& p,
                          FirstError& first) {
  RemoveEntry(w, dirfd, name, p, "[ERROR] Failed to delete directory %s. (%s)",
              "[INFO ] Deleted directory %s", first);
}

// safe is the safe-directory rule's result for p.
void DeleteFile(const Walk& w, int dirfd, const std::string& name, const std::string& p,
                const Status& safe, FirstError& first) {
  if (!safe.ok()) {
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
  TreeDeletion(const Walk& w, const std::string& top, UniqueFd held_top)
      : w_(w), top_(top), held_top_(std::move(held_top)) {}

  Status Delete() {
    if (Status safe = isSafeToDelete(top_, w_.safe_dir); !safe.ok()) {
      w_.ctx.log.Logf("[ERROR] Can't delete directory %s. (%s)", top_, safe.error());
      return safe;
    }
    Result<Opened> opened = OpenTop();
    if (!opened.ok()) return opened.error();
    root_ = opened->id;
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
    cur_.reset();
    FirstError& first = levels_.front().first;
    const FileAt top_entry = TopEntry();
    RemoveDirectoryEntry(w_, top_entry.dirfd, top_entry.name, top_, first);
    return first.ToStatus();
  }

 private:
  struct Level {
    FileId id;
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

  // The top directory in the directory above it: the held one, or the path.
  FileAt TopEntry() const {
    if (w_.ctx.top) return FileAt(w_.ctx.top->parent_fd, BaseName(top_), top_);
    return FileAt(AT_FDCWD, TopLevelName(top_), top_);
  }

  // The top directory: the held one, while its path still names it (what
  // stands there now may be another directory, or one mounted over it,
  // whose content is not ours to delete); else what the path names.
  Result<Opened> OpenTop() {
    if (!held_top_.valid()) return Open(TopEntry(), nullptr);
    Result<DirIdentity> held = IdentityOf(held_top_.get());
    if (!held.ok()) return SysError("open", top_, held.error().errnum);
    Result<DirIdentity> named = IdentityAt(TopEntry());
    if (!named.ok() || !(*named == *held)) {
      return PathError("open", top_, "no longer the directory created for this run");
    }
    if (w_.ctx.ops.before_open_dir) w_.ctx.ops.before_open_dir(top_);
    Result<UniqueDir> stream = StreamOf(std::move(held_top_), top_);
    if (!stream.ok()) return stream.error();
    return Opened{std::move(stream.value()), *held};
  }

  // Below the top the path is clean and a name holds no "/": appending
  // spares JoinPath's cleaning of the whole path, quadratic in a deep tree.
  std::string ChildPath(const std::string& name) const {
    return levels_.size() == 1 ? JoinPath(top_, name) : path_ + "/" + name;
  }

  Result<Opened> Open(const FileAt& at, const struct stat* expected) {
    if (w_.ctx.ops.before_open_dir) w_.ctx.ops.before_open_dir(at.path);
    return OpenWalkedDirectory(at, expected);
  }

  // Lists the opened directory name; it becomes the current directory.
  Result<Level> Enter(Opened& o, const std::string& name, const std::string& dir) {
    Result<std::vector<std::string>> names = ReadNames(o.dir.get(), dir);
    if (!names.ok()) return names.error();
    Level level;
    level.id = o.id.file;
    level.name = name;
    level.names = std::move(names.value());
    cur_ = std::move(o.dir);
    return level;
  }

  void DeleteEntry(const std::string& name, const std::string& p) {
    FirstError& first = levels_.back().first;
    Result<struct stat> examined = StatAt(FileAt(CurrentFd(), name, p), AT_SYMLINK_NOFOLLOW);
    if (!examined.ok()) {
      w_.ctx.log.Logf("[ERROR] Can't delete %s, error: %s", p, examined.error());
      return;
    }
    const struct stat& st = *examined;
    switch (KindOfMode(st.st_mode)) {
      case Kind::kDirectory:
        DeleteSubdirectory(name, p, st);
        break;
      case Kind::kRegular:
        DeleteFile(w_, CurrentFd(), name, p, EntryIsSafe(p), first);
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
    if (Status safe = EntryIsSafe(p); !safe.ok()) {
      first.Remember(safe.error());
      w_.ctx.log.Logf("[ERROR] Can't delete directory %s. (%s)", p, safe.error());
      return;
    }
    // A mount point inside the tree is not entered: only its removal is
    // tried, and fails. A device of its own shows most before the open.
    if (st.st_dev != root_.file.dev) {
      RemoveDirectoryEntry(w_, CurrentFd(), name, p, first);
      return;
    }
    Result<Opened> opened = Open(FileAt(CurrentFd(), name, p), &st);
    if (!opened.ok()) {
      FinishSubdirectory(name, p, opened.error());
      return;
    }
    // The device alone does not show a bind mount of a directory of the same
    // file system; the mount of what was opened does.
    if (!(opened->id.mount == root_.mount)) {
      opened.value().dir.reset();
      RemoveDirectoryEntry(w_, CurrentFd(), name, p, first);
      return;
    }
    UniqueDir parent = std::move(cur_);
    Result<Level> child = Enter(opened.value(), name, p);
    if (!child.ok()) {
      cur_ = std::move(parent);
      FinishSubdirectory(name, p, child.error());
      return;
    }
    parent.reset();
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
    RemoveDirectoryEntry(w_, CurrentFd(), name, p, first);
  }

  // Back to the parent of the current level, which is then removed. A
  // parent that is no longer the directory left ends the whole walk.
  Status Leave() {
    Level done = std::move(levels_.back());
    levels_.pop_back();
    const std::string p = path_;
    path_ = levels_.size() == 1 ? top_ : path_.substr(0, path_.rfind('/'));
    Result<UniqueDir> parent = OpenParent(p, levels_.back());
    cur_.reset();
    if (!parent.ok()) {
      FirstError& first = levels_.front().first;
      first.Remember(parent.error());
      return first.ToStatus();
    }
    cur_ = std::move(*parent);
    RemoveDirectoryEntry(w_, CurrentFd(), done.name, p, done.first);
    FinishSubdirectory(done.name, p, done.first.ToStatus());
    return Status::Ok();
  }

  Result<UniqueDir> OpenParent(const std::string& child, const Level& parent) {
    const std::string dotdot = child + "/..";
    Result<UniqueFd> fd = OpenListable(FileAt(CurrentFd(), "..", dotdot));
    if (!fd.ok()) return fd.error();
    Result<struct stat> st = StatOf(fd->get(), dotdot, "open");
    if (!st.ok() || !(IdOf(*st) == parent.id)) {
      return PathError("open", dotdot, "directory replaced during deletion");
    }
    return StreamOf(std::move(*fd), dotdot);
  }

  int CurrentFd() const { return dirfd(cur_.get()); }

  // The safe-directory rule for the entry p of the current directory. Below
  // an absolute top that passed the rule its outcome is known: the entry's
  // path, cleaned, is its directory's cleaned path, "/" and a name that holds
  // no "/" and is neither "." nor "..", and lower-casing that text lower-cases
  // the directory's part as before, "/" being a character of its own. So the
  // lower-cased path still begins with the lower-cased safe directory where
  // the directory's did, with the same character after it. Checking the
  // whole path again for every entry would make the time grow with the
  // square of the depth. A relative top depends on the working directory at
  // each check, so its entries are checked in full.
  Status EntryIsSafe(const std::string& p) const {
    if (entries_known_safe_) return Status::Ok();
    return isSafeToDelete(p, w_.safe_dir);
  }

  const Walk& w_;
  const std::string& top_;
  UniqueFd held_top_;  // taken over from the caller; read through once opened
  std::vector<Level> levels_;
  std::string path_;  // of the current level
  UniqueDir cur_;     // the current level, open
  DirIdentity root_;  // of the top directory
  // Every entry passes the safe-directory rule; entries are only met once
  // the top has passed it.
  const bool entries_known_safe_ = !top_.empty() && top_[0] == '/';
};

// The held top directory's descriptor, which the deletion takes over.
UniqueFd TakeHeldTop(const DeleteContext& ctx) { return UniqueFd(ctx.top ? ctx.top->fd : -1); }

}  // namespace

Status removeWithRetry(const DeleteContext& ctx, const std::string& path, int64_t retries,
                       int64_t delay) {
  return RemoveWithRetryAt(ctx, AT_FDCWD, path, path, retries, delay);
}

Status deleteDirRec(const DeleteContext& ctx, const std::string& dir, const std::string& safeDir,
                    int64_t retries, int64_t delay) {
  return TreeDeletion(Walk{ctx, safeDir, retries, delay}, dir, TakeHeldTop(ctx)).Delete();
}

Status deleteAll(const DeleteContext& ctx, const std::string& path, const std::string& safeDir,
                 int64_t retries, int64_t delay) {
  UniqueFd held = TakeHeldTop(ctx);
  if (Status safe = isSafeToDelete(path, safeDir); !safe.ok()) {
    ctx.log.Logf("[ERROR] Can't delete %s. (%s)", path, safe.error());
    return safe;
  }
  // Not following a link here: a link at the top is refused as "unknown mode".
  const FileAt at = ctx.top ? FileAt(ctx.top->parent_fd, BaseName(path), path) : FileAt(path);
  Result<struct stat> named = StatAt(at, AT_SYMLINK_NOFOLLOW, "stat");
  if (!named.ok()) {
    if (named.error().errnum == ENOENT) return Status::Ok();
    return named.error();
  }
  const struct stat& st = *named;
  switch (KindOfMode(st.st_mode)) {
    case Kind::kDirectory:
      return TreeDeletion(Walk{ctx, safeDir, retries, delay}, path, std::move(held)).Delete();
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
