#include "common/symlinks.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/path.h"

namespace quorvane {
namespace {

constexpr int kMaxLinks = 255;

// The index of the last "/" in dest at or after min, or -1.
long LastSlash(const std::string& dest, size_t min) {
  for (long r = static_cast<long>(dest.size()) - 1; r >= static_cast<long>(min); --r) {
    if (dest[r] == '/') return r;
  }
  return -1;
}

Result<std::string> ReadLink(const std::string& path) {
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0) return SysError("readlink", path, errno);
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

Result<std::string> ResolveSymlinks(std::string_view input) {
  std::string path(input);
  size_t root_len = (!path.empty() && path[0] == '/') ? 1 : 0;  // a leading "/" is kept
  std::string dest = path.substr(0, root_len);
  int links = 0;
  for (size_t start = root_len, end = root_len; start < path.size(); start = end) {
    while (start < path.size() && path[start] == '/') ++start;
    end = start;
    while (end < path.size() && path[end] != '/') ++end;
    if (end == start) break;
    const std::string elem = path.substr(start, end - start);
    if (elem == ".") continue;
    if (elem == "..") {
      long r = LastSlash(dest, root_len);
      if (r < 0 || dest.compare(r + 1, std::string::npos, "..") == 0) {
        if (dest.size() > root_len) dest += '/';
        dest += "..";
      } else {
        dest.resize(r);
      }
      continue;
    }
    if (!dest.empty() && dest.back() != '/') dest += '/';
    dest += elem;

    struct stat st;
    if (lstat(dest.c_str(), &st) != 0) return SysError("lstat", dest, errno);
    if (!S_ISLNK(st.st_mode)) {
      if (!S_ISDIR(st.st_mode) && end < path.size()) return ErrnoError(ENOTDIR);
      continue;
    }
    if (++links > kMaxLinks) return Error("too many links", ELOOP);
    Result<std::string> link = ReadLink(dest);
    if (!link.ok()) return link.error();
    path = *link + path.substr(end);
    if (!link->empty() && (*link)[0] == '/') {
      dest = "/";
      end = 1;
      root_len = 1;
    } else {
      long r = LastSlash(dest, root_len);
      dest.resize(r < 0 ? root_len : static_cast<size_t>(r));
      end = 0;
    }
  }
  return CleanPath(dest);
}

}  // namespace quorvane
