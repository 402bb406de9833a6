// Where the installer stands: its own executable, its directory, the default
// output and temporary directories.
#ifndef QUORVANE_INSTALLER_RUN_INSTALLER_PATHS_H_
#define QUORVANE_INSTALLER_RUN_INSTALLER_PATHS_H_

#include <string>

#include "common/error.h"

namespace quorvane {

// TMPDIR when set and not empty, else "/tmp"; taken unchanged.
std::string DefaultTempDirFromEnvironment();

// The running executable's absolute path with every link resolved.
Result<std::string> getInstallerFilePath();

// The directory part of getInstallerFilePath().
Result<std::string> getInstallerDir();

// The directory part of the program word (argv[0]), made absolute.
Result<std::string> getDefaultOutputDir(const std::string& program_word);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_RUN_INSTALLER_PATHS_H_
