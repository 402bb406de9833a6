#include "installer/driver.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstdlib>
#include <exception>
#include <new>

#include "common/path.h"
#include "common/words.h"
#include "installer/cleanup.h"
#include "installer/constants.h"
#include "installer/extract.h"
#include "installer/installer_paths.h"
#include "installer/install_dir.h"
#include "installer/payload_args.h"
#include "installer/payload_run.h"
#include "installer/preflight.h"
#include "installer/temp_dir.h"

namespace quorvane {
namespace {

// The log goes to the debug directory when that is a directory, else to the
// temporary directory with --no-delete, else nowhere.
bool SetUpLog(Run& run) {
  std::string path = LogFilePath(run.params.TempDir);
  bool to_file = run.params.NoDelete;
  if (!run.params.DebugDir.empty()) {
    struct stat st;
    if (stat(run.params.DebugDir.c_str(), &st) != 0) {
      if (errno != ENOENT) {
        run.Collect("[ERROR] Failed to get stats for %s. (%s)", run.params.DebugDir,
                    SysError("stat", run.params.DebugDir, errno));
        run.exitCode = exitBadDirectory;
        return false;
      }
    } else if (S_ISDIR(st.st_mode)) {
      path = LogFilePath(run.params.DebugDir);
      to_file = true;
    }
  }
  run.log.Init(path, to_file, run.pendingLogLines);
  return true;
}

// The run's steps in order; a failing step sets exitCode and returns.
void RunSteps(Run& run) {
  // The lenient pass: its result and error are not used, only its side effects.
  run.faultCode = exitInternalFault;
  (void)ParseParameters(run.argv, "", "", true);

  run.Collect("[INFO ] Starting %s installer ...", productName);

  run.faultCode = exitInitFailed;
  Result<std::string> dir = getInstallerDir();
  if (!dir.ok()) {
    run.Collect("[ERROR] Cannot generate installer dir. (%s)", dir.error());
    run.exitCode = exitInitFailed;
    return;
  }
  run.installerDir = *dir;
  run.Collect("[INFO ] Running from: %s", run.installerDir);

  Result<std::string> out = getDefaultOutputDir(run.argv.empty() ? "" : run.argv[0]);
  run.outputDirDefault = out.ok() ? *out : run.installerDir;

  Result<std::string> path = getInstallerFilePath();
  if (!path.ok()) {
    run.Collect("[ERROR] Cannot get installer file path. (%s)", path.error());
    run.exitCode = exitInitFailed;
    return;
  }
  run.installerPath = *path;

  if (run.argv.size() > 1) run.Collect("[INFO ] Installer arguments: %s", JoinWords(run.argv, 1));

  run.faultCode = exitBadCommandLine;
  Result<Parameters> params = ParseParameters(run.argv, run.defaultTempDir, run.outputDirDefault, false);
  if (!params.ok()) {
    run.Collect("[ERROR] Parse arguments error. (%s)", params.error());
    run.exitCode = exitBadCommandLine;
    return;
  }
  run.params = *params;

  run.faultCode = exitBadDirectory;
  if (!PrepareTempDir(run)) return;
  if (!SetUpLog(run)) return;
  run.faultCode = exitInternalFault;
  LogArchitectureLines(run);
  run.faultCode = exitDiskCheckFailed;
  if (!CheckFreeSpace(run)) return;
  run.faultCode = exitAdminCheckFailed;
  if (!CheckAdministratorRights(run)) return;
  run.faultCode = exitInstallDirFailed;
  if (!MakeInstallDir(run)) return;  // from here on the cleanup end step runs
  run.faultCode = exitBadDirectory;
  if (buildPayloadArgs(run.log, run.argv, run.params, run.installerDir, run.installDir,
                       &run.payloadArgs) != 0) {
    run.exitCode = exitBadDirectory;
    return;
  }
  if (!InstallDirUnchanged(run, InstallDirUse::kExtract)) return;
  run.faultCode = exitExtractFailed;
  run.log.Logf("[INFO ] Extracting files to: %s", run.installDir);
  if (!dropFiles(run.log, run.installerPath, run.installDir, embeddedArch{}, &run.mainFile)) {
    run.log.Logf("[ERROR] Cannot extract files to folder");
    run.exitCode = exitExtractFailed;
    return;
  }
  if (!InstallDirUnchanged(run, InstallDirUse::kRunPayload)) return;
  ReleaseInstallDir(run);
  run.faultCode = exitRunFailed;
  int code = runPayload(run.log, run.mainFile, run.payloadArgs, run.installDir, run.params);
  if (code != 0) run.exitCode = code;
}

// The end steps, in the reverse of the order in which they were armed. A
// fault in one of them does not keep the next from running.
void RunEndSteps(Run& run) {
  run.faultCode = exitInternalFault;
  ReleaseInstallDir(run);
  if (run.installDirCreated) {
    RunPart(run, [&] { cleanupInstallDir(run.log, run.params, run.installDir); });
  }
  RunPart(run, [&] { run.log.FlushPending(run.defaultTempDir, run.pendingLogLines); });
  RunPart(run, [&] { run.log.Finish(); });
}

// The text of an exception that escaped a part of the run.
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

}  // namespace

void RunPart(Run& run, const std::function<void()>& part) noexcept {
  try {
    part();
  } catch (...) {
    if (run.exitCode == 0) run.exitCode = run.faultCode;
    try {
      const std::string text = FaultText();
      if (run.log.exists()) {
        run.log.Logf("[ERROR] Internal error. (%s)", text);
      } else {
        run.Collect("[ERROR] Internal error. (%s)", text);
      }
    } catch (...) {
      // Reporting needs memory too; when even that fails, the exit code tells.
    }
  }
}

void RunInstallerAndExit(std::vector<std::string> argv, std::string defaultTempDir) {
  Run& run = *new Run;  // lives until the process exits
  run.argv = std::move(argv);
  run.defaultTempDir = std::move(defaultTempDir);
  RunPart(run, [&] {
    run.Collect("[INFO ] %s v%s (%s @ %d)", productName, productVersion, releaseChannel, buildTime);
    RunSteps(run);
  });
  RunEndSteps(run);
  std::exit(run.exitCode);
}

}  // namespace quorvane
