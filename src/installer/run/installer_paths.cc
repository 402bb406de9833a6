#include "installer/run/installer_paths.h"

#include <cstdlib>

#include "common/path.h"
#include "common/path_walk.h"
#include "common/platform.h"
#include "common/working_directory.h"

namespace quorvane {

std::string DefaultTempDirFromEnvironment() {
  const char* v = std::getenv("TMPDIR");
  if (v == nullptr || *v == '\0') return "/tmp";
  return v;
}

Result<std::string> getInstallerFilePath() {
  Result<std::string> exe = platform::ExecutablePath();
  if (!exe.ok()) return exe.error();
  WalkOptions any_file;
  any_file.want_directory = false;
  Result<WalkedPath> walked = WalkPath(*exe, any_file);
  if (!walked.ok()) return walked.error();
  return std::move(walked.value().resolved);
}

Result<std::string> getInstallerDir() {
  Result<std::string> path = getInstallerFilePath();
  if (!path.ok()) return path.error();
  return DirPart(*path);
}

Result<std::string> getDefaultOutputDir(const std::string& program_word) {
  return MakeAbsolute(DirPart(program_word));
}

}  // namespace quorvane
