// The install directory: a fresh, uniquely named directory of the run.
#ifndef QUORVANE_INSTALLER_RUN_INSTALL_DIR_H_
#define QUORVANE_INSTALLER_RUN_INSTALL_DIR_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/error.h"
#include "installer/run/run_state.h"

namespace quorvane {

// How many names createInstallDir tries before it gives up.
inline constexpr int kInstallDirAttempts = 10000;

// A source of numbers that differ from run to run.
using RandomSource = std::function<uint32_t()>;
uint32_t SystemRandom();

// Creates dir/<prefix><random number><suffix> with mode 0700 (no parents)
// and returns its path: inside the directory held at dirfd, or by the path
// text with AT_FDCWD. The pattern is split at its last "*"; without one it
// is all prefix. An empty dir means defaultTempDir, an empty pattern
// "quorvane_"; a pattern with "/" is refused.
Result<std::string> createInstallDir(int dirfd, const std::string& dir, const std::string& pattern,
                                     const std::string& defaultTempDir,
                                     const RandomSource& random = SystemRandom);

// The install-directory step: creates it in the held temporary directory
// and sets run.installDir, run.installDirCreated and run.installDirFd, the
// directory held until its deletion; or logs the failure and sets
// run.exitCode to exitInstallDirFailed.
bool MakeInstallDir(RunState& run);

// Whether the held install directory is still the one at run.installDir in
// the held temporary directory, a directory of this process's user that no
// one else may enter. Errors: "<missing_op> D: ..." when nothing can be
// examined there, "verify D: no longer the directory created for this
// run", "verify D: owner or mode changed".
Status CheckInstallDir(const RunState& run, std::string_view missing_op);

// The check as the step before extraction: a failure is a failure of the
// install directory.
bool InstallDirReadyForExtraction(RunState& run);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_RUN_INSTALL_DIR_H_
