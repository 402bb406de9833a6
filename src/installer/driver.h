// The installer's run, from the banner to the process exit.
#ifndef QUORVANE_INSTALLER_DRIVER_H_
#define QUORVANE_INSTALLER_DRIVER_H_

#include <functional>
#include <string>
#include <vector>

#include "installer/constants.h"
#include "installer/log.h"
#include "installer/parameters.h"

namespace quorvane {

// The state of one run; it lives until the process exits.
struct Run {
  std::vector<std::string> argv;  // the process's argument vector
  std::string defaultTempDir;     // fixed at start-up
  int exitCode = 0;
  // The code that an internal fault ends the run with: that of the step now
  // running, or exitInternalFault where the step has none of its own.
  int faultCode = exitInternalFault;
  std::vector<std::string> pendingLogLines;
  InstallerLog log;
  std::string installerDir;
  std::string outputDirDefault;
  std::string installerPath;
  Parameters params;
  bool installDirCreated = false;
  std::string installDir;
  int installDirFd = -1;  // the install directory as created, open until its last check
  std::vector<std::string> payloadArgs;
  std::string mainFile;

  template <typename... Args>
  void Collect(std::string_view format, const Args&... args) {
    pendingLogLines.push_back(FormatLog(format, args...));
  }
};

// Runs one part of the run. An exception that escapes it is an internal
// fault: it is logged (collected before the log exists) as "[ERROR] Internal
// error. (TEXT)" and, unless a step already set the exit code, the exit code
// becomes run.faultCode. Nothing escapes.
void RunPart(Run& run, const std::function<void()>& part) noexcept;

// Runs the installer and ends the process with the run's exit code.
[[noreturn]] void RunInstallerAndExit(std::vector<std::string> argv, std::string defaultTempDir);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_DRIVER_H_
