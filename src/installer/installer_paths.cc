#include "installer/installer_paths.h"

#include <cstdlib>

#include "common/path.h"
#include "common/platform.h"
#include "common/symlinks.h"

namespace quorvane {

std::string DefaultTempDirFromEnvironment() {
  const char* v = std::getenv("TMPDIR");
  if (v == nullptr || *v == '\0') return "/tmp";
  return v;
}

Result<std::string> getInstallerFilePath() {
  Result<std::string> exe = platform::ExecutablePath();
  if (!exe.ok()) return exe.error();
  return ResolveSymlinks(*exe);
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
