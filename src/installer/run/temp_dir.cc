#include "installer/run/temp_dir.h"

#include <sys/stat.h>

#include "common/path.h"
#include "common/path_walk.h"
#include "common/working_directory.h"
#include "installer/run/exit_codes.h"

namespace quorvane {
namespace {

constexpr mode_t kTempDirMode = 0640;

bool EndWithBadDirectory(RunState& run) {
  run.exitCode = exitBadDirectory;
  return false;
}

}  // namespace

bool PrepareTempDir(RunState& run) {
  const std::string value = run.params.TempDir.empty() ? run.defaultTempDir : run.params.TempDir;
  Result<std::string> abs = MakeAbsolute(value);
  if (!abs.ok()) {
    run.log.Logf("[ERROR] Failed to get absolute path for %s. (%s)", value, abs.error());
    return EndWithBadDirectory(run);
  }
  run.params.TempDir = *abs;
  const std::string& dir = run.params.TempDir;

  // Root works in this directory: no other user may be able to change what
  // it holds, so every level on the way is checked as it is reached, and the
  // directory is held from then on.
  WalkOptions options;
  options.check_owners = true;
  options.create_mode = kTempDirMode;
  WalkStop stop;
  Result<WalkedPath> walked = WalkPath(dir, options, &stop);
  if (walked.ok()) {
    run.tempDirFd = std::move(walked.value().fd);
    return true;
  }
  switch (stop) {
    case WalkStop::kCreate:
      run.log.Logf("Couldn't create temporary directory %s. (%s)", dir, walked.error());
      break;
    case WalkStop::kNotDirectory:
      run.log.Logf("[ERROR] Temporary directory value is not a directory: %s", dir);
      break;
    case WalkStop::kUnsafe:
      run.log.Logf("[ERROR] Invalid temporary directory %s. (%s)", dir, walked.error());
      break;
    case WalkStop::kLookup:
      run.log.Logf("[ERROR] Invalid temporary directory %s. (%s)", dir,
                   SysError("stat", dir, walked.error().errnum));
      break;
  }
  return EndWithBadDirectory(run);
}

}  // namespace quorvane
