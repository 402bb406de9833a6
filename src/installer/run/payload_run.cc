#include "installer/run/payload_run.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string_view>
#include <unordered_set>

#include "common/fixed_name_file.h"
#include "common/owned.h"
#include "common/path.h"
#include "common/path_walk.h"
#include "common/words.h"
#include "common/write_all.h"
#include "installer/constants.h"
#include "installer/process/child_process.h"
#include "installer/process/stderr_capture.h"
#include "installer/run/exit_codes.h"
#include "installer/run/install_dir.h"

extern char** environ;

namespace quorvane {
namespace {

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) env.emplace_back(*e);
  return env;
}

// "quorvane" without its extension, with ".dmp".
std::string DumpFileName() {
  std::string name = payloadExecutableName;
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name + ".dmp";
}

// The directory of the dump, held: the install directory itself, or a debug
// directory reached by a walk that checks every level on the way.
// A directory that is not there is the dump's open failure; an unsafe one
// is said as it is.
Result<UniqueFd> OpenDumpDirectory(const std::string& debug_dir, const std::string& dump_path,
                                   const std::string& installDir, const HeldInstallDir& held) {
  if (held.fd >= 0 && debug_dir == installDir) {
    return OpenAt(FileAt::Held(held.fd, installDir), O_RDONLY | O_DIRECTORY);
  }
  WalkOptions checked;
  checked.check_owners = true;
  WalkStop stop;
  Result<WalkedPath> walked = WalkPath(debug_dir, checked, &stop);
  if (!walked.ok()) {
    if (stop == WalkStop::kUnsafe) return walked.error();
    return SysError("open", dump_path, walked.error().errnum);
  }
  return std::move(walked.value().fd);
}

// Creates the file with 0640 or empties the one that is there (its mode and
// owner stay). What was written before a failure stays in the file.
Status WriteDump(const FileAt& file, const StderrCapture& data) {
  const std::string& path = file.path;
  Result<UniqueFd> opened = OpenFixedNameFile(file, O_WRONLY);
  if (!opened.ok()) return opened.error();
  UniqueFd fd = std::move(*opened);
  Status written;
  data.ForEachPiece([&](std::string_view piece) {
    written = WriteAll(fd.get(), piece, path);
    return written.ok();
  });
  if (!written.ok()) return written;
  if (close(fd.release()) != 0) return SysError("close", path, errno);
  return Status::Ok();
}

// The longest prefix that decides the crash reason is "runtime: out of memory: ".
constexpr size_t kReasonPrefixSize = 24;

int ReportCrash(InstallerLog& log, const StderrCapture& output, const std::string& mainFile,
                const std::string& debug_dir, const std::string& installDir,
                const HeldInstallDir& held) {
  const FileAt main =
      held.fd >= 0 ? FileAt(held.fd, BaseName(mainFile), mainFile) : FileAt(mainFile);
  std::string reason = crashReason(output.Head(kReasonPrefixSize), main);
  std::string dumpPath;
  if (!debug_dir.empty()) {
    dumpPath = JoinPath(debug_dir, DumpFileName());
    Result<UniqueFd> dir = OpenDumpDirectory(debug_dir, dumpPath, installDir, held);
    Status written = dir.ok() ? WriteDump(FileAt(dir->get(), DumpFileName(), dumpPath), output)
                              : Status(dir.error());
    if (!written.ok()) {
      log.Logf("[ERROR] Cannot write stack trace dump file: %s. (%s)", dumpPath, written.error());
      return exitDumpFailed;
    }
  }
  std::string message = FormatLog("%s unexpectedly terminated.", productName);
  if (!reason.empty()) message += FormatLog(" Reason: %s.", reason);
  if (!dumpPath.empty()) message += FormatLog(" Stacktrace dump saved to: %s", dumpPath);
  log.Logf("[FATAL] %s", message);
  return exitPayloadCrashed;
}

int Classify(InstallerLog& log, const CommandOutcome& outcome, const StderrCapture& capture,
             const std::string& mainFile, const std::string& debug_dir,
             const std::string& installDir, const HeldInstallDir& held) {
  switch (outcome.kind) {
    case CommandOutcome::Kind::kSuccess:
      return 0;
    case CommandOutcome::Kind::kError:
      log.Logf("[ERROR] Cannot run %s. (%s)", payloadExecutableName, outcome.error);
      return exitRunFailed;
    case CommandOutcome::Kind::kUnsuccessfulEnd:
      break;
  }
  int code = outcome.code;
  if (code < 0) {
    log.Logf("[ERROR] An error occurred while running %s. (error code: %d, description: %s)",
             payloadExecutableName, code, qvrExitCodes{code}.String());
    return code - payloadExitOffset;
  }
  // Status 2 with anything on the standard error is a crash, whatever it says.
  if (code == 2 && !capture.empty()) {
    return ReportCrash(log, capture, mainFile, debug_dir, installDir, held);
  }
  log.Logf("[ERROR] A warning occurred while running %s. (warning code: %d)", payloadExecutableName,
           code);
  return code + payloadExitOffset;
}

}  // namespace

std::vector<std::string> PayloadEnvironment(const std::vector<std::string>& env,
                                            const std::string& installDir) {
  std::vector<std::string> all = env;
  all.push_back("PWD=" + installDir);
  // From the end, so that the last occurrence of each name is the one kept.
  std::unordered_set<std::string_view> seen;
  std::vector<bool> keep(all.size(), false);
  for (size_t i = all.size(); i-- > 0;) {
    const std::string& entry = all[i];
    if (entry.empty()) continue;
    size_t eq = entry.find('=', 1);
    if (eq == std::string::npos) {
      keep[i] = true;  // not of the form name=value: passed on as it is
      continue;
    }
    keep[i] = seen.insert(std::string_view(entry).substr(0, eq)).second;
  }
  std::vector<std::string> out;
  for (size_t i = 0; i < all.size(); ++i) {
    if (keep[i]) out.push_back(std::move(all[i]));
  }
  return out;
}

std::string crashReason(const std::string& output, const FileAt& mainFile) {
  if (output.starts_with("Exception ") || output.starts_with("runtime: ")) {
    return output.starts_with("runtime: out of memory: ") ? "out of memory"
                                                          : "unexpected runtime issue";
  }
  Result<struct stat> st = StatAt(mainFile, 0, "stat");
  if (st.ok()) return "";
  switch (st.error().errnum) {
    case ENOENT:
      return "executable not found";
    case EACCES:
    case EPERM:
      return "permission denied";
    default:
      return ErrnoText(st.error().errnum);
  }
}

int runPayload(InstallerLog& log, const std::string& mainFile,
               const std::vector<std::string>& payloadArgs, const std::string& installDir,
               const Parameters& params, const HeldInstallDir& held) {
  ExecCommand cmd = initExecCommand(mainFile, payloadArgs);
  log.Logf("[INFO ] Running: %s", JoinWords(cmd.argv));
  if (held.check) {
    if (Status same = held.check(); !same.ok()) {
      log.Logf("[ERROR] Cannot run %s. (%s)", payloadExecutableName, same.error());
      return exitRunFailed;
    }
  }
  cmd.dir = installDir;
  cmd.dir_fd = held.fd;
  StderrCapture stderrCapture;
  cmd.stderrCapture = &stderrCapture;
  CommandOutcome outcome = RunCommand(cmd, PayloadEnvironment(CurrentEnvironment(), installDir));
  // Memory ran out for the copy: the payload's standard error still reached
  // the console, and the outcome rests on the part that was kept.
  if (stderrCapture.stopped()) {
    log.Logf("[ERROR] Cannot keep the standard error of %s beyond %d bytes. (%s)",
             payloadExecutableName, stderrCapture.size(), ErrnoText(ENOMEM));
  }
  return Classify(log, outcome, stderrCapture, mainFile, params.DebugDir, installDir, held);
}

bool ExecutePayload(RunState& run) {
  // The check finds a removed directory as the start's "chdir" failure.
  HeldInstallDir held{run.installDirFd.get(), [&] { return CheckInstallDir(run, "chdir"); }};
  const int code =
      runPayload(run.log, run.mainFile, run.payloadArgs, run.installDir, run.params, held);
  if (code == 0) return true;
  run.exitCode = code;
  return false;
}

}  // namespace quorvane
