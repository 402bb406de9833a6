// The state of one run, shared by the driver and the steps it runs. Every
// step is a `bool Step(RunState&)`: it logs its own failure, sets exitCode once
// and returns false; the driver then leaves the run.
#ifndef QUORVANE_INSTALLER_RUN_RUN_STATE_H_
#define QUORVANE_INSTALLER_RUN_RUN_STATE_H_

#include <optional>
#include <string>
#include <vector>

#include "common/owned.h"
#include "installer/log/log.h"
#include "installer/options/parameters.h"
#include "installer/run/exit_codes.h"

namespace quorvane {

// It lives until the process exits. Its fields keep the names that the
// installer's design gives the run's state.
struct RunState {
  std::vector<std::string> argv;  // the process's argument vector
  std::string defaultTempDir;     // fixed at start-up
  int exitCode = 0;
  // The code that an internal fault ends the run with: that of the step now
  // running, or exitInternalFault where the step has none of its own.
  int faultCode = exitInternalFault;
  InstallerLog log;  // holds the lines logged before it is set up
  std::string installerDir;
  std::string outputDirDefault;
  std::string installerPath;
  Parameters params;
  UniqueFd tempDirFd;  // params.TempDir as checked, held from then on
  bool installDirCreated = false;
  std::string installDir;
  UniqueFd installDirFd;  // the install directory as created, held to its deletion
  std::vector<std::string> payloadArgs;
  std::string mainFile;
};

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_RUN_RUN_STATE_H_
