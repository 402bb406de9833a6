#include "common/symlinks.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/path.h"

namespace quorvane {
namespace {

constexpr int kMaxLinks = 255;

Result<std::string> ReadLink(const std::string& path) {
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0) return SysError("readlink", path, errno);
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

// True when rest holds another element, that is anything but "/".
bool HasMoreElements(std::string_view rest) {
  return rest.find_first_not_of('/') != std::string_view::npos;
}

// The resolution so far: the root ("/" or nothing for a relative path) and
// the elements after it, none of them a link.
struct Resolved {
  bool rooted = false;
  std::vector<std::string> elems;

  std::string Text() const {
    std::string out = rooted ? "/" : "";
    for (size_t i = 0; i < elems.size(); ++i) {
      if (i > 0) out += '/';
      out += elems[i];
    }
    return out;
  }

  // ".." removes the last element; at the root it stays there, and in a
  // relative path that has nothing left to remove it is kept.
  void Up() {
    if (!elems.empty() && elems.back() != "..") {
      elems.pop_back();
    } else if (!rooted) {
      elems.push_back("..");
    }
  }
};

}  // namespace

Result<std::string> ResolveSymlinks(std::string_view input) {
  std::string path(input);  // what is still to be resolved
  Resolved dest;
  dest.rooted = !path.empty() && path[0] == '/';
  int links = 0;
  size_t pos = 0;
  while (pos < path.size()) {
    size_t start = path.find_first_not_of('/', pos);
    if (start == std::string::npos) break;
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    pos = end;
    const std::string elem = path.substr(start, end - start);
    if (elem == ".") continue;
    if (elem == "..") {
      dest.Up();
      continue;
    }
    dest.elems.push_back(elem);
    const std::string current = dest.Text();

    struct stat st;
    if (lstat(current.c_str(), &st) != 0) return SysError("lstat", current, errno);
    if (!S_ISLNK(st.st_mode)) {
      if (!S_ISDIR(st.st_mode) && HasMoreElements(std::string_view(path).substr(end))) {
        return ErrnoError(ENOTDIR);
      }
      continue;
    }
    if (++links > kMaxLinks) return Error("too many links", ELOOP);
    Result<std::string> target = ReadLink(current);
    if (!target.ok()) return target.error();

    // The target's elements come before the rest of the path. An absolute
    // target starts again at the root; a relative one replaces the link.
    dest.elems.pop_back();
    if (!target->empty() && (*target)[0] == '/') {
      dest.rooted = true;
      dest.elems.clear();
    }
    path = *target + path.substr(end);
    pos = 0;
  }
  return CleanPath(dest.Text());
}

}  // namespace quorvane
