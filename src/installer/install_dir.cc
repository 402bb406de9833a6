#include "installer/install_dir.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/dir_identity.h"
#include "common/platform.h"
#include "installer/constants.h"
#include "installer/exit_codes.h"

namespace quorvane {
namespace {

constexpr mode_t kInstallDirMode = 0700;

}  // namespace

uint32_t SystemRandom() { return platform::RandomNumber(); }

Result<std::string> createInstallDir(const std::string& dir_arg, const std::string& pattern_arg,
                                     const std::string& defaultTempDir,
                                     const RandomSource& random) {
  const std::string dir = dir_arg.empty() ? defaultTempDir : dir_arg;
  const std::string pattern = pattern_arg.empty() ? installDirPrefix : pattern_arg;
  if (pattern.find('/') != std::string::npos) {
    return Error("mkdirtemp " + pattern + ": pattern contains path separator", EINVAL);
  }
  const size_t star = pattern.rfind('*');
  const std::string prefix = star == std::string::npos ? pattern : pattern.substr(0, star);
  const std::string suffix = star == std::string::npos ? "" : pattern.substr(star + 1);
  const std::string base = dir + (!dir.empty() && dir.back() == '/' ? "" : "/") + prefix;

  for (int attempt = 0; attempt < kInstallDirAttempts; ++attempt) {
    const std::string name = base + std::to_string(random()) + suffix;
    // mkdir itself decides: a name that exists already is never taken over.
    if (mkdir(name.c_str(), kInstallDirMode) == 0) return name;
    const int err = errno;
    if (err == EEXIST) continue;
    if (err == ENOENT) {
      struct stat st;
      if (stat(dir.c_str(), &st) != 0 && errno == ENOENT) return SysError("stat", dir, ENOENT);
    }
    return SysError("mkdir", name, err);
  }
  return SysError("mkdirtemp", base + "*" + suffix, EEXIST);
}

bool MakeInstallDir(Run& run) {
  Result<std::string> made = createInstallDir(run.params.TempDir, installDirPrefix,
                                              run.defaultTempDir);
  if (!made.ok()) {
    run.log.Logf("[ERROR] Cannot create temporary folder. (%s)", made.error());
    run.exitCode = exitInstallDirFailed;
    return false;
  }
  run.installDir = *made;
  run.installDirCreated = true;
  // Kept open, so that a directory put in its place later is recognised.
  run.installDirFd.reset(
      open(run.installDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!run.installDirFd.valid()) {
    run.log.Logf("[ERROR] Cannot create temporary folder. (%s)",
                 SysError("open", run.installDir, errno));
    run.exitCode = exitInstallDirFailed;
    return false;
  }
  Result<DirIdentity> id = IdentityOf(run.installDirFd.get());
  if (!id.ok()) {
    run.log.Logf("[ERROR] Cannot create temporary folder. (%s)",
                 SysError("open", run.installDir, id.error().errnum));
    run.exitCode = exitInstallDirFailed;
    return false;
  }
  run.installDirIdentity = *id;
  return true;
}

namespace {

Status CheckInstallDir(const Run& run) {
  struct stat held, named;
  if (fstat(run.installDirFd.get(), &held) != 0) return SysError("fstat", run.installDir, errno);
  if (lstat(run.installDir.c_str(), &named) != 0) return SysError("lstat", run.installDir, errno);
  if (held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
    return Error("verify " + run.installDir + ": no longer the directory created for this run");
  }
  if (held.st_uid != geteuid() || (held.st_mode & 077) != 0) {
    return Error("verify " + run.installDir + ": owner or mode changed");
  }
  return Status::Ok();
}

}  // namespace

bool InstallDirUnchanged(Run& run, InstallDirUse use) {
  Status same = CheckInstallDir(run);
  if (same.ok()) return true;
  if (use == InstallDirUse::kExtract) {
    run.log.Logf("[ERROR] Cannot create temporary folder. (%s)", same.error());
    run.exitCode = exitInstallDirFailed;
  } else {
    run.log.Logf("[ERROR] Cannot run %s. (%s)", payloadExecutableName, same.error());
    run.exitCode = exitRunFailed;
  }
  return false;
}

void ReleaseInstallDir(Run& run) {
  run.installDirFd.reset();
}

bool InstallDirReadyForExtraction(Run& run) {
  return InstallDirUnchanged(run, InstallDirUse::kExtract);
}

bool InstallDirReadyForPayload(Run& run) {
  if (!InstallDirUnchanged(run, InstallDirUse::kRunPayload)) return false;
  ReleaseInstallDir(run);
  return true;
}

}  // namespace quorvane
