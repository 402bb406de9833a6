// Running the payload once and turning the way it ended into the exit code.
#ifndef QUORVANE_INSTALLER_RUN_PAYLOAD_RUN_H_
#define QUORVANE_INSTALLER_RUN_PAYLOAD_RUN_H_

#include <functional>
#include <string>
#include <vector>

#include "common/error.h"
#include "installer/log/log.h"
#include "installer/options/parameters.h"
#include "installer/run/run_state.h"

namespace quorvane {

// The install directory as the start uses it: held open (the payload runs
// in it and is executed from it) and checked right before the start.
struct HeldInstallDir {
  int fd = -1;                    // -1: the path text is used
  std::function<Status()> check;  // empty: no check
};

// Runs mainFile with payloadArgs in installDir, logs how it ended and returns
// the exit code: 0 (status 0), -14 (not started, wait or copy failed), -15
// (crashed, dump not written), -16 (crashed), status + 1000, or -1001 (ended
// by a signal). A crash writes the captured standard error into the dump in
// params.DebugDir, unless that is empty: into the held install directory
// when it is that one, else into the directory reached by a checked walk.
int runPayload(InstallerLog& log, const std::string& mainFile,
               const std::vector<std::string>& payloadArgs, const std::string& installDir,
               const Parameters& params, const HeldInstallDir& held = {});

// The payload step: runPayload with the run's state; a code other than 0
// becomes run.exitCode and ends the run.
bool ExecutePayload(RunState& run);

// The payload's environment: env with "PWD=" + installDir added last, then
// every name that occurs more than once kept only at its last occurrence.
std::vector<std::string> PayloadEnvironment(const std::vector<std::string>& env,
                                            const std::string& installDir);

// The reason named in the crash line: from the start of the captured output,
// else from the state of mainFile ("" while it can be examined).
std::string crashReason(const std::string& output, const FileAt& mainFile);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_RUN_PAYLOAD_RUN_H_
