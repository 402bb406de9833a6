#include "support/scratch.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace quorvane::test {

namespace {

// The names in the directory open as fd, "." and ".." left out.
std::vector<std::string> NamesIn(int fd) {
  std::vector<std::string> names;
  const int own = dup(fd);
  DIR* d = own >= 0 ? fdopendir(own) : nullptr;
  if (d == nullptr) {
    if (own >= 0) close(own);
    return names;
  }
  while (const struct dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

// Removes everything in the directory open as fd. Works below fd, so that
// trees deeper than the longest path the system takes go too.
void EmptyDirAt(int fd) {
  for (const std::string& name : NamesIn(fd)) {
    struct stat st;
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISDIR(st.st_mode)) {
      unlinkat(fd, name.c_str(), 0);
      continue;
    }
    fchmodat(fd, name.c_str(), 0700, 0);
    const int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub >= 0) {
      EmptyDirAt(sub);
      close(sub);
    }
    unlinkat(fd, name.c_str(), AT_REMOVEDIR);
  }
}

}  // namespace

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    unlink(path.c_str());
    return;
  }
  chmod(path.c_str(), 0700);
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    EmptyDirAt(fd);
    close(fd);
  }
  rmdir(path.c_str());
}

// QUORVANE_SCRATCH_ROOT is set by the build that compiles this file.
ScratchDir::ScratchDir(const std::string& prefix) {
  const std::string root = QUORVANE_SCRATCH_ROOT;
  std::error_code ec;
  std::filesystem::create_directories(root, ec);
  std::string tmpl = root + "/" + prefix + ".XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp " + tmpl + " failed");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

}  // namespace quorvane::test
