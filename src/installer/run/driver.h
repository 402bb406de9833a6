// The installer's run, from the banner to the process exit.
#ifndef QUORVANE_INSTALLER_RUN_DRIVER_H_
#define QUORVANE_INSTALLER_RUN_DRIVER_H_

#include <functional>
#include <span>
#include <string>

#include "installer/run/run_state.h"

namespace quorvane {

// One step of the run and the code that an internal fault inside it ends
// the run with: the code that the step's own failures end with, or
// exitInternalFault for a step that cannot fail.
struct RunStep {
  const char* name;
  bool (*step)(RunState&);
  int fault_code;
};

// The steps of the run, in order.
std::span<const RunStep> RunStepTable();

// Runs a piece of the run guarded. An exception that escapes it is an internal
// fault: it is logged as "[ERROR] Internal error. (TEXT)" (held by the log
// until it is set up) and, unless a step already set the exit code, the exit
// code becomes run.faultCode. Nothing escapes.
void RunGuarded(RunState& run, const std::function<void()>& piece) noexcept;

// Runs the installer on the process's arguments and ends the process with the
// run's exit code. Everything it does, reading TMPDIR and copying the
// arguments included, runs guarded. When memory runs out before the run
// exists or has read TMPDIR, or the C++ runtime cannot even raise the
// exception, the process ends with exitInternalFault and no log.
[[noreturn]] void RunInstallerAndExit(int argc, char** argv) noexcept;

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_RUN_DRIVER_H_
