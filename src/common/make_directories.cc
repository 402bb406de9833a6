#include "common/make_directories.h"

#include <errno.h>
#include <sys/stat.h>

#include <vector>

namespace quorvane {
namespace {

// The parent in the text: without trailing "/", the last element and the
// "/" before it. Empty for an entry of the root and for a single element.
std::string ParentOf(const std::string& path) {
  size_t i = path.size();
  while (i > 0 && path[i - 1] == '/') --i;
  size_t j = i;
  while (j > 0 && path[j - 1] != '/') --j;
  if (j <= 1) return "";
  return path.substr(0, j - 1);
}

}  // namespace

Status MakeDirectoryWithParents(const std::string& path, mode_t mode) {
  // Up to the first level that exists, then down again creating each.
  std::vector<std::string> missing;
  for (std::string dir = path; !dir.empty(); dir = ParentOf(dir)) {
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return SysError("mkdir", dir, ENOTDIR);
      break;
    }
    missing.push_back(dir);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (mkdir(it->c_str(), mode) == 0) continue;
    const int err = errno;
    struct stat st;
    if (lstat(it->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    return SysError("mkdir", *it, err);
  }
  return Status::Ok();
}

}  // namespace quorvane
