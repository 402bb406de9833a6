#include "installer/temp_dir.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/make_directories.h"
#include "common/path.h"
#include "common/path_safety.h"
#include "installer/constants.h"
#include "installer/exit_codes.h"

namespace quorvane {
namespace {

constexpr mode_t kTempDirMode = 0640;

bool Fail(Run& run) {
  run.exitCode = exitBadDirectory;
  return false;
}

}  // namespace

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
    // A level that another user made first, between the check and the
    // mkdir, is taken as made; it must pass the same rule.
    if (Status safe = CheckPathSafeFor(dir, geteuid()); !safe.ok()) {
      run.log.Logf("[ERROR] Invalid temporary directory %s. (%s)", dir, safe.error());
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
