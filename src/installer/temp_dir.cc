#include "installer/temp_dir.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/path.h"
#include "common/path_safety.h"
#include "installer/constants.h"
#include "installer/exit_codes.h"

namespace quorvane {
namespace {

constexpr mode_t kTempDirMode = 0640;

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

bool Fail(Run& run) {
  run.exitCode = exitBadDirectory;
  return false;
}

}  // namespace

Status MakeDirectoryWithParents(const std::string& path, mode_t mode) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Status::Ok();
    return SysError("mkdir", path, ENOTDIR);
  }
  const std::string parent = ParentOf(path);
  if (!parent.empty()) {
    Status made = MakeDirectoryWithParents(parent, mode);
    if (!made.ok()) return made;
  }
  if (mkdir(path.c_str(), mode) != 0) {
    const int err = errno;
    // Someone else may have made it in the meantime.
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Status::Ok();
    return SysError("mkdir", path, err);
  }
  return Status::Ok();
}

bool PrepareTempDir(Run& run) {
  const std::string value = run.params.TempDir.empty() ? run.defaultTempDir : run.params.TempDir;
  Result<std::string> abs = MakeAbsolute(value);
  if (!abs.ok()) {
    run.log.Logf("[ERROR] Failed to get absolute path for %s. (%s)", value, abs.error());
    return Fail(run);
  }
  run.params.TempDir = *abs;
  const std::string& dir = run.params.TempDir;

  // Root works in this directory: no other user may be able to change what
  // its path names, or the install directory could be exchanged under it.
  if (Status safe = CheckPathSafeFor(dir, geteuid()); !safe.ok()) {
    run.log.Logf("[ERROR] Invalid temporary directory %s. (%s)", dir, safe.error());
    return Fail(run);
  }
  struct stat st;
  // A NUL byte would cut the path short and name another directory.
  const bool nul = dir.find('\0') != std::string::npos;
  if (nul || stat(dir.c_str(), &st) != 0) {
    const int err = nul ? EINVAL : errno;
    if (err != ENOENT) {
      run.log.Logf("[ERROR] Invalid temporary directory %s. (%s)", dir, SysError("stat", dir, err));
      return Fail(run);
    }
    Status made = MakeDirectoryWithParents(dir, kTempDirMode);
    if (!made.ok()) {
      run.log.Logf("Couldn't create temporary directory %s. (%s)", dir, made.error());
      return Fail(run);
    }
    return true;
  }
  if (!S_ISDIR(st.st_mode)) {
    run.log.Logf("[ERROR] Temporary directory value is not a directory: %s", dir);
    return Fail(run);
  }
  return true;
}

}  // namespace quorvane
