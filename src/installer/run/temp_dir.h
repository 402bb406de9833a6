// The temporary directory of a run: made absolute, created when missing.
#ifndef QUORVANE_INSTALLER_RUN_TEMP_DIR_H_
#define QUORVANE_INSTALLER_RUN_TEMP_DIR_H_

#include <sys/types.h>

#include <string>

#include "common/error.h"
#include "installer/run/run_state.h"

namespace quorvane {

// The temporary-directory step: run.params.TempDir (run.defaultTempDir when
// empty) becomes an absolute path that names a directory, created with its
// missing parents, each with mode 0640, when it does not exist; links in it
// stay unresolved. Every level is checked as it is reached (owned by the
// superuser or this process's user; sticky where others may write), and
// the directory reached is held in run.tempDirFd. On failure the line is logged, run.exitCode is
// set to exitBadDirectory and false is returned.
bool PrepareTempDir(RunState& run);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_RUN_TEMP_DIR_H_
