// Whole runs of the real installer: a scratch tree standing in for an
// operator's machine, installers packed with a payload into it, and runs
// under a chosen environment, limits and wrapper, with everything the run
// left behind (status, output, the log, what the payload recorded).
#ifndef QUORVANE_TESTS_SUPPORT_INSTALLER_FIXTURE_H_
#define QUORVANE_TESTS_SUPPORT_INSTALLER_FIXTURE_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quorvane::test {

// How one run is started. By default: argv[0] is the installer's path, the
// environment is TMPDIR=$S/tmp PWD=$S/home QV_PROBE=$S/probe, the working
// directory is $S/home, and the log is read from the directory given with
// --debug-dir, else from TMPDIR (a relative one taken from the working
// directory).
struct RunOptions {
  std::optional<std::string> argv0;
  std::optional<Words> env;  // exactly this environment instead of the default one
  Words extra_env;           // added to the environment
  std::optional<std::string> cwd;
  std::optional<std::string> log_dir;
  Wrapper wrapper;  // limits, user ids, umask, closed streams, SIGCHLD
};

// What a run left: the process's result, and the log's text and lines (time
// stamps removed; both empty when there is no regular file at the log's name).
struct InstallerRun : ProcessResult {
  std::string log;
  std::vector<std::string> log_lines;
};

inline constexpr uid_t kNobodyUid = 65534;
inline constexpr gid_t kNobodyGid = 65534;

// A wrapper that runs the installer with the real user id ruid, the
// effective (and saved) user id euid and group gid; needs user id 0.
Wrapper AsUser(uid_t ruid, uid_t euid, gid_t gid = kNobodyGid);

// Makes dir and every directory above it searchable by all (adds o+x), so
// that another user can reach what is inside.
void MakeReachable(const std::string& dir);

// A scratch tree, removed at the end:
//   $S/bin    where Pack puts installers
//   $S/home   the default working directory and PWD
//   $S/tmp    the default TMPDIR
//   $S/probe  where payloads record what they saw (QV_PROBE)
// plus whatever directories a test names (none: a bare scratch directory);
// all mode 0755. The installer without a payload is InstallerBinary().
class InstallerSandbox {
 public:
  explicit InstallerSandbox(const Words& dirs = {"bin", "home", "tmp", "probe"});

  const std::string& path() const { return scratch_.path(); }
  std::string operator/(const std::string& name) const { return scratch_ / name; }

  // An installer in dir (default $S/bin) carrying the usual payload with
  // program as its executable, or carrying archive.
  std::string Pack(const std::string& program, const std::string& dir = "") const;
  std::string PackArchive(const std::string& archive, const std::string& dir = "") const;

  // Runs exe with args after argv[0].
  InstallerRun RunInstaller(const std::string& exe, const Words& args,
                            const RunOptions& options = {}) const;

  // The default environment of a run.
  Words DefaultEnv() const;

  // What the payload wrote to $S/probe/name ("" when nothing).
  std::string Recorded(const std::string& name) const;

 private:
  ScratchDir scratch_;
};

// The directory a run's log is in: the --debug-dir argument, else TMPDIR.
std::string LogDirOf(const Words& args, const Words& env);

}  // namespace quorvane::test

#endif  // QUORVANE_TESTS_SUPPORT_INSTALLER_FIXTURE_H_
