// installer/run/: the run itself. run_state.h holds the state of one run,
// driver.cc lists the steps in order and the end steps; each step is a
// `bool Step(RunState&)` in a file of its own: the installer's own paths,
// the temporary directory, the pre-flight checks, the install directory,
// the payload's argument list, the extraction, the payload's run and its
// outcome, and the cleanup. The steps use the mechanisms in the folders
// beside this one; none of those includes anything from here.
//
// Deletion of the install directory at the end of a run, confined to the
// directory itself and reported in the installer log.
#ifndef QUORVANE_INSTALLER_RUN_CLEANUP_H_
#define QUORVANE_INSTALLER_RUN_CLEANUP_H_

#include <cstdint>
#include <optional>
#include <string>

#include "installer/deletion/delete_tree.h"
#include "installer/log/log.h"
#include "installer/options/parameters.h"

namespace quorvane {

inline constexpr int64_t cleanupRetries = 10;
inline constexpr int64_t cleanupRetryDelay = 100'000'000;  // nanoseconds

// The end step: deletes installDir unless --no-delete is given without
// --kill and without --help. Its outcome is only logged. With ctx.top, or
// the directory held since it was created, the deletion starts from that
// directory, and a directory found at installDir that is not that one is
// left as it is.
void cleanupInstallDir(const DeleteContext& ctx, const Parameters& params,
                       const std::string& installDir);
void cleanupInstallDir(InstallerLog& log, const Parameters& params, const std::string& installDir,
                       const std::optional<HeldTree>& created = std::nullopt);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_RUN_CLEANUP_H_
