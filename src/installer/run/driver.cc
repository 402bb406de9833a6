#include "installer/run/driver.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <optional>

#include "common/file_calls.h"
#include "common/path.h"
#include "common/path_walk.h"
#include "common/words.h"
#include "installer/constants.h"
#include "installer/options/parse_parameters.h"
#include "installer/run/cleanup.h"
#include "installer/run/exit_codes.h"
#include "installer/run/extract.h"
#include "installer/run/install_dir.h"
#include "installer/run/installer_paths.h"
#include "installer/run/payload_args.h"
#include "installer/run/payload_run.h"
#include "installer/run/preflight.h"
#include "installer/run/temp_dir.h"

namespace quorvane {
namespace {

bool LogBanner(RunState& run) {
  run.log.Logf("[INFO ] %s v%s (%s @ %d)", productName, productVersion, releaseChannel, buildTime);
  return true;
}

// The lenient pass: its result and error are not used, only its side effects.
bool ParseLeniently(RunState& run) {
  (void)ParseParameters(run.argv, "", "", true);
  run.log.Logf("[INFO ] Starting %s installer ...", productName);
  return true;
}

bool FindInstallerDir(RunState& run) {
  Result<std::string> dir = getInstallerDir();
  if (!dir.ok()) {
    run.log.Logf("[ERROR] Cannot generate installer dir. (%s)", dir.error());
    run.exitCode = exitInitFailed;
    return false;
  }
  run.installerDir = *dir;
  run.log.Logf("[INFO ] Running from: %s", run.installerDir);
  return true;
}

// Falls back on the installer's directory without a word.
bool FindDefaultOutputDir(RunState& run) {
  Result<std::string> out = getDefaultOutputDir(run.argv.empty() ? "" : run.argv[0]);
  run.outputDirDefault = out.ok() ? *out : run.installerDir;
  return true;
}

bool FindInstallerPath(RunState& run) {
  Result<std::string> path = getInstallerFilePath();
  if (!path.ok()) {
    run.log.Logf("[ERROR] Cannot get installer file path. (%s)", path.error());
    run.exitCode = exitInitFailed;
    return false;
  }
  run.installerPath = *path;
  return true;
}

bool LogArguments(RunState& run) {
  if (run.argv.size() > 1) run.log.Logf("[INFO ] Installer arguments: %s", JoinWords(run.argv, 1));
  return true;
}

bool ParseCommandLine(RunState& run) {
  Result<Parameters> params =
      ParseParameters(run.argv, run.defaultTempDir, run.outputDirDefault, false);
  if (!params.ok()) {
    run.log.Logf("[ERROR] Parse arguments error. (%s)", params.error());
    run.exitCode = exitBadCommandLine;
    return false;
  }
  run.params = *params;
  return true;
}

// The log goes to the debug directory when that is a directory, else to the
// temporary directory with --no-delete, else nowhere. Either directory is
// held while the file is opened in it.
bool SetUpLog(RunState& run) {
  std::string path = LogFilePath(run.params.TempDir);
  int dirfd = run.tempDirFd.get();
  bool to_file = run.params.NoDelete;
  Result<WalkedPath> debug = Error();
  if (!run.params.DebugDir.empty()) {
    WalkOptions checked;
    checked.check_owners = true;
    WalkStop stop;
    debug = WalkPath(run.params.DebugDir, checked, &stop);
    if (debug.ok()) {
      path = LogFilePath(run.params.DebugDir);
      dirfd = debug->fd.get();
      to_file = true;
    } else if (stop == WalkStop::kUnsafe ||
               (stop == WalkStop::kLookup && debug.error().errnum != ENOENT)) {
      const Error& e = debug.error();
      run.log.Logf("[ERROR] Failed to get stats for %s. (%s)", run.params.DebugDir,
                   stop == WalkStop::kUnsafe ? e : SysError("stat", run.params.DebugDir, e.errnum));
      run.exitCode = exitBadDirectory;
      return false;
    }
  }
  run.log.initInstallerLog(FileAt(dirfd, LogFileName(), path), to_file);
  return true;
}

// The run, in order; the first step that fails ends it. Each step's fault
// code is the code its own failures end with (the first, "check failed", of
// a step with two); a step that cannot fail has none of its own.
constexpr RunStep kRunSteps[] = {
    {"LogBanner", LogBanner, exitInternalFault},
    {"ParseLeniently", ParseLeniently, exitInternalFault},
    {"FindInstallerDir", FindInstallerDir, exitInitFailed},
    {"FindDefaultOutputDir", FindDefaultOutputDir, exitInternalFault},
    {"FindInstallerPath", FindInstallerPath, exitInitFailed},
    {"LogArguments", LogArguments, exitInternalFault},
    {"ParseCommandLine", ParseCommandLine, exitBadCommandLine},
    {"PrepareTempDir", PrepareTempDir, exitBadDirectory},
    {"SetUpLog", SetUpLog, exitBadDirectory},
    {"LogArchitectureLines", LogArchitectureLines, exitInternalFault},
    {"RequireFreeSpace", RequireFreeSpace, exitDiskCheckFailed},
    {"RequireAdministrator", RequireAdministrator, exitAdminCheckFailed},
    {"MakeInstallDir", MakeInstallDir, exitInstallDirFailed},  // from here on the cleanup runs
    {"BuildPayloadArgs", BuildPayloadArgs, exitBadDirectory},
    {"InstallDirReadyForExtraction", InstallDirReadyForExtraction, exitInstallDirFailed},
    {"ExtractPayload", ExtractPayload, exitExtractFailed},
    {"ExecutePayload", ExecutePayload, exitRunFailed},
};

void RunSteps(RunState& run) {
  for (const RunStep& s : kRunSteps) {
    run.faultCode = s.fault_code;
    if (!s.step(run)) return;
  }
}

// The install directory as the deletion starts from it: held since its
// creation (when it could be opened then) in the held temporary directory.
// The deletion takes the descriptor over.
std::optional<HeldTree> HeldInstallTree(RunState& run) {
  if (!run.installDirFd.valid()) return std::nullopt;
  return HeldTree{run.tempDirFd.get(), run.installDirFd.release()};
}

[[noreturn]] void exitWithCode(const RunState& run) { std::exit(ProcessExitStatus(run.exitCode)); }

// The end steps, in the order the end of a run needs them. A fault in one of
// them does not keep the next from running.
[[noreturn]] void EndSteps(RunState& run) {
  run.faultCode = exitInternalFault;
  if (run.installDirCreated) {
    RunGuarded(
        run, [&] { cleanupInstallDir(run.log, run.params, run.installDir, HeldInstallTree(run)); });
  }
  RunGuarded(run, [&] { run.log.flushPendingLog(run.defaultTempDir); });
  RunGuarded(run, [&] { run.log.finishLog(); });
  exitWithCode(run);
}

// The text of an exception that escaped a guarded piece of the run.
std::string FaultText() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return ErrnoText(ENOMEM);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown fault";
  }
}

// The run's state, or nullptr when there is no memory even for that.
RunState* MakeRun() noexcept {
  try {
    return new RunState;  // lives until the process exits
  } catch (...) {
    return nullptr;
  }
}

// What the C++ runtime calls instead of raising an exception when it has no
// memory even for the exception object (an address-space limit just above
// what the loader needs leaves none), so no guard can catch it. The process
// ends with the internal-fault code rather than an abort; nothing can be
// logged or cleaned up by then.
[[noreturn]] void EndOnRuntimeFault() noexcept { std::_Exit(ProcessExitStatus(exitInternalFault)); }

}  // namespace

std::span<const RunStep> RunStepTable() { return kRunSteps; }

void RunGuarded(RunState& run, const std::function<void()>& piece) noexcept {
  try {
    piece();
  } catch (...) {
    if (run.exitCode == 0) run.exitCode = run.faultCode;
    try {
      run.log.Logf("[ERROR] Internal error. (%s)", FaultText());
    } catch (...) {
      // Reporting needs memory too; when even that fails, the exit code tells.
    }
  }
}

[[noreturn]] void RunInstallerAndExit(int argc, char** argv) noexcept {
  // First of all, before anything allocates.
  std::set_terminate(EndOnRuntimeFault);
  RunState* made = MakeRun();
  if (made == nullptr) std::exit(ProcessExitStatus(exitInternalFault));
  RunState& run = *made;
  bool started = false;
  RunGuarded(run, [&] {
    run.defaultTempDir = DefaultTempDirFromEnvironment();  // read once, before the run
    started = true;
    run.argv.assign(argv, argv + argc);
    RunSteps(run);
  });
  // Without the default temporary directory a log has no place to go.
  if (!started) std::exit(ProcessExitStatus(run.exitCode));
  EndSteps(run);
}

}  // namespace quorvane
