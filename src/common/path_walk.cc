#include "common/path_walk.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <vector>

#include "common/file_calls.h"
#include "common/path.h"

namespace quorvane {
namespace {

constexpr int kMaxLinks = 255;
// A level that vanishes again right after it was made is made again, a few
// times, before the walk gives up.
constexpr int kMaxCreateAttempts = 8;

// One element still to walk. end is where the path's own text that led to
// it ends: the element itself, or the element whose link brought it in.
struct Pending {
  std::string name;
  size_t end;
  bool via_link;
};

bool RefusedAsNoDirectory(int err) {
#if defined(EFTYPE)
  if (err == EFTYPE) return true;  // NetBSD: O_NOFOLLOW met a link
#endif
  return err == ENOTDIR || err == ELOOP;
}

Status CheckOwner(const struct stat& st, const std::string& path) {
  const uid_t uid = geteuid();
  if (st.st_uid != uid && st.st_uid != 0) {
    return PathError("unsafe path", path, "owned by user " + std::to_string(st.st_uid), EPERM);
  }
  if (S_ISDIR(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
      (st.st_mode & S_ISVTX) == 0) {
    return PathError("unsafe path", path, "writable by others without the sticky bit", EPERM);
  }
  return Status::Ok();
}

class Walker {
 public:
  Walker(const std::string& path, const WalkOptions& options) : path_(path), options_(options) {}

  Result<WalkedPath> Walk() {
    rooted_ = !path_.empty() && path_[0] == '/';
    if (Status start = Start(); !start.ok()) return start.error();
    Queue(path_, false, 0);
    while (!pending_.empty()) {
      Pending e = std::move(pending_.front());
      pending_.pop_front();
      Status step = e.name == ".." ? Up() : Step(e);
      if (!step.ok()) return step.error();
      if (done_) break;
    }
    return WalkedPath{std::move(cur_), CleanPath(Text())};
  }

  WalkStop stop() const { return stop_; }

 private:
  Status Stop(WalkStop stop, Error error) {
    stop_ = stop;
    return error;
  }

  // The root, or the working directory for a relative path.
  Status Start() {
    const std::string start = rooted_ ? "/" : ".";
    Result<UniqueFd> fd = OpenDirectoryAt(FileAt(AT_FDCWD, start, start));
    if (!fd.ok()) return Stop(WalkStop::kLookup, fd.error());
    Result<struct stat> st = StatOf(fd->get(), start, "lstat");
    if (!st.ok()) return Stop(WalkStop::kLookup, st.error());
    if (options_.check_owners && rooted_) {
      if (Status safe = CheckOwner(*st, "/"); !safe.ok())
        return Stop(WalkStop::kUnsafe, safe.error());
    }
    cur_ = std::move(*fd);
    start_ = *st;
    return Status::Ok();
  }

  // The elements of text, before whatever is still to walk: the path's own,
  // or a link's target brought in by the path's text up to link_end.
  void Queue(const std::string& text, bool via_link, size_t link_end) {
    std::vector<Pending> elems;
    size_t i = 0;
    while (i < text.size()) {
      size_t j = text.find('/', i);
      if (j == std::string::npos) j = text.size();
      if (j > i && text.compare(i, j - i, ".") != 0) {
        elems.push_back({text.substr(i, j - i), via_link ? link_end : j, via_link});
      }
      i = j + 1;
    }
    pending_.insert(pending_.begin(), elems.begin(), elems.end());
  }

  std::string Text() const { return TextWith(""); }

  std::string TextWith(const std::string& name) const {
    std::string out = rooted_ ? "/" : "";
    for (const std::string& e : elems_) {
      if (out.size() > 1 || (!rooted_ && !out.empty())) out += '/';
      out += e;
    }
    if (!name.empty()) {
      if (out.size() > 1 || (!rooted_ && !out.empty())) out += '/';
      out += name;
    }
    return out;
  }

  // "..": back to the directory before, which must be the one held there
  // before; at the root it stays, and a relative path keeps it.
  Status Up() {
    made_ = false;
    if (elems_.empty() && rooted_) return Status::Ok();
    const bool back = !elems_.empty() && elems_.back() != "..";
    const std::string text = TextWith("..");
    Result<UniqueFd> fd = OpenDirectoryAt(FileAt(cur_.get(), "..", text));
    if (!fd.ok()) return Stop(WalkStop::kLookup, fd.error());
    Result<struct stat> st = StatOf(fd->get(), text, "lstat");
    if (!st.ok()) return Stop(WalkStop::kLookup, st.error());
    if (back) {
      const struct stat& before = stats_.size() >= 2 ? stats_[stats_.size() - 2] : start_;
      if (!SameFile(*st, before)) {
        return Stop(WalkStop::kLookup, PathError("lstat", text, "changed during the walk", EAGAIN));
      }
      elems_.pop_back();
      stats_.pop_back();
    } else {
      elems_.push_back("..");
      stats_.push_back(*st);
    }
    cur_ = std::move(*fd);
    return Status::Ok();
  }

  Status Step(const Pending& e) {
    const std::string text = TextWith(e.name);
    const FileAt at(cur_.get(), e.name, text);
    for (int attempt = 0;; ++attempt) {
      // Below a level made by this walk nothing exists yet (and, without
      // search permission there, nothing could be looked up): make it.
      if (!made_) {
        Result<UniqueFd> fd = OpenDirectoryAt(at);
        if (fd.ok()) return Enter(e.name, std::move(*fd), text);
        const int err = fd.error().errnum;
        if (RefusedAsNoDirectory(err)) return NotADirectory(e, text);
        if (err != ENOENT || !options_.create_mode) {
          return Stop(WalkStop::kLookup, SysError("lstat", text, err));
        }
        if (e.via_link) {
          return Stop(WalkStop::kCreate, SysError("mkdir", path_.substr(0, e.end), EEXIST));
        }
      }
      if (attempt >= kMaxCreateAttempts) {
        return Stop(WalkStop::kCreate, SysError("mkdir", text, EEXIST));
      }
      Status made = MakeDirectoryAt(at, *options_.create_mode);
      if (!made.ok() && made.error().errnum != EEXIST) return Stop(WalkStop::kCreate, made.error());
      made_ = false;  // what stands there is looked at like anything else
      if (!made.ok()) continue;
      Result<UniqueFd> fd = OpenDirectoryAt(at);
      if (!fd.ok()) continue;
      Status entered = Enter(e.name, std::move(*fd), text);
      made_ = entered.ok();
      return entered;
    }
  }

  // A directory, opened: checked on its descriptor, which is then held.
  Status Enter(const std::string& name, UniqueFd fd, const std::string& text) {
    Result<struct stat> st = StatOf(fd.get(), text, "lstat");
    if (!st.ok()) return Stop(WalkStop::kLookup, st.error());
    if (options_.check_owners) {
      if (Status safe = CheckOwner(*st, text); !safe.ok())
        return Stop(WalkStop::kUnsafe, safe.error());
    }
    elems_.push_back(name);
    stats_.push_back(*st);
    cur_ = std::move(fd);
    return Status::Ok();
  }

  // What stands at the name is no directory: a link to follow, or a file.
  Status NotADirectory(const Pending& e, const std::string& text) {
    Result<struct stat> st = StatAt(FileAt(cur_.get(), e.name, text), AT_SYMLINK_NOFOLLOW);
    if (!st.ok()) return Stop(WalkStop::kLookup, st.error());
    if (options_.check_owners) {
      if (Status safe = CheckOwner(*st, text); !safe.ok())
        return Stop(WalkStop::kUnsafe, safe.error());
    }
    if (S_ISLNK(st->st_mode)) {
      if (++links_ > kMaxLinks) return Stop(WalkStop::kLookup, Error("too many links", ELOOP));
      Result<std::string> target = ReadLinkAt(FileAt(cur_.get(), e.name, text));
      if (!target.ok()) return Stop(WalkStop::kLookup, target.error());
      if (!target->empty() && (*target)[0] == '/') {
        rooted_ = true;
        elems_.clear();
        stats_.clear();
        if (Status start = Start(); !start.ok()) return start;
      }
      Queue(*target, true, e.end);
      return Status::Ok();
    }
    if (S_ISDIR(st->st_mode)) {
      // It was exchanged for a directory between the two looks.
      return Stop(WalkStop::kLookup, PathError("lstat", text, "changed during the walk", EAGAIN));
    }
    if (!pending_.empty()) return Stop(WalkStop::kLookup, ErrnoError(ENOTDIR));
    if (options_.want_directory)
      return Stop(WalkStop::kNotDirectory, SysError("stat", text, ENOTDIR));
    elems_.push_back(e.name);
    cur_.reset();
    done_ = true;
    return Status::Ok();
  }

  const std::string& path_;
  const WalkOptions& options_;
  bool rooted_ = false;
  UniqueFd cur_;                    // the last directory reached
  struct stat start_ = {};          // the root, or the working directory
  std::vector<std::string> elems_;  // resolved so far, none of them a link
  std::vector<struct stat> stats_;  // of each of elems_
  std::deque<Pending> pending_;
  int links_ = 0;
  bool made_ = false;
  bool done_ = false;
  WalkStop stop_ = WalkStop::kLookup;
};

}  // namespace

Result<WalkedPath> WalkPath(const std::string& path, const WalkOptions& options, WalkStop* stop) {
  Walker walker(path, options);
  Result<WalkedPath> walked = walker.Walk();
  if (!walked.ok() && stop != nullptr) *stop = walker.stop();
  return walked;
}

}  // namespace quorvane
