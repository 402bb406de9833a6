// The install directory: a fresh, uniquely named directory of the run.
#ifndef QUORVANE_INSTALLER_INSTALL_DIR_H_
#define QUORVANE_INSTALLER_INSTALL_DIR_H_

#include <cstdint>
#include <functional>
#include <string>

#include "common/error.h"
#include "installer/run.h"

namespace quorvane {

// How many names createInstallDir tries before it gives up.
inline constexpr int kInstallDirAttempts = 10000;

// A source of numbers that differ from run to run.
using RandomSource = std::function<uint32_t()>;
uint32_t SystemRandom();

// Creates dir/<prefix><random number><suffix> with mode 0700 (no parents)
// and returns its path. The pattern is split at its last "*"; without one it
// is all prefix. An empty dir means defaultTempDir, an empty pattern
// "quorvane_"; a pattern with "/" is refused.
Result<std::string> createInstallDir(const std::string& dir, const std::string& pattern,
                                     const std::string& defaultTempDir,
                                     const RandomSource& random = SystemRandom);

// The install-directory step: sets run.installDir, run.installDirFd,
// run.installDirIdentity and run.installDirCreated, or logs the failure and sets run.exitCode to
// exitInstallDirFailed.
bool MakeInstallDir(Run& run);

// The use that the install directory is about to be put to.
enum class InstallDirUse { kExtract, kRunPayload };

// Whether run.installDir still names the directory that MakeInstallDir
// created (same device and inode, a directory of this process's user that
// no one else may enter). Otherwise the failure is logged as a failure of
// the install directory (before extraction) or of the payload's start, and
// run.exitCode set accordingly.
bool InstallDirUnchanged(Run& run, InstallDirUse use);

// Closes run.installDirFd once nothing is checked against it any more, so
// that the payload's start and the deletion have its descriptor too.
void ReleaseInstallDir(Run& run);

// The two checks as steps of the run: before extraction, before the start.
bool InstallDirReadyForExtraction(Run& run);
bool InstallDirReadyForPayload(Run& run);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_INSTALL_DIR_H_
