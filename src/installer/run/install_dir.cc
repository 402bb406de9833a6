#include "installer/run/install_dir.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_calls.h"
#include "common/path.h"
#include "common/platform.h"
#include "installer/constants.h"
#include "installer/run/exit_codes.h"

namespace quorvane {
namespace {

constexpr mode_t kInstallDirMode = 0700;

// A directory of this process's user that no one else may enter.
bool OwnedAndPrivate(const struct stat& st) {
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// Whether dir, the held directory dirfd or else the path text, still exists.
bool DirectoryExists(int dirfd, const std::string& dir) {
  Result<struct stat> st = dirfd == AT_FDCWD ? StatAt(FileAt(dir), 0, "stat") : StatOf(dirfd, dir);
  return !(st.ok() ? st->st_nlink == 0 : st.error().errnum == ENOENT);
}

// Creates the install directory in the held temporary directory and opens
// it there; what was opened must be the directory this process just made.
Result<UniqueFd> CreateAndHold(RunState& run) {
  Result<std::string> made = createInstallDir(run.tempDirFd.get(), run.params.TempDir,
                                              installDirPrefix, run.defaultTempDir);
  if (!made.ok()) return made.error();
  run.installDir = *made;
  run.installDirCreated = true;
  Result<UniqueFd> fd =
      OpenAt(FileAt(run.tempDirFd.get(), BaseName(run.installDir), run.installDir),
             O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (!fd.ok()) return fd.error();
  Result<struct stat> st = StatOf(fd->get(), run.installDir, "open");
  if (!st.ok()) return st.error();
  if (!OwnedAndPrivate(*st)) return PathError("verify", run.installDir, "owner or mode changed");
  return fd;
}

}  // namespace

uint32_t SystemRandom() { return platform::RandomNumber(); }

Result<std::string> createInstallDir(int dirfd, const std::string& dir_arg,
                                     const std::string& pattern_arg,
                                     const std::string& defaultTempDir,
                                     const RandomSource& random) {
  const std::string dir = dir_arg.empty() ? defaultTempDir : dir_arg;
  const std::string pattern = pattern_arg.empty() ? installDirPrefix : pattern_arg;
  if (pattern.find('/') != std::string::npos) {
    return PathError("mkdirtemp", pattern, "pattern contains path separator", EINVAL);
  }
  const size_t star = pattern.rfind('*');
  const std::string prefix = star == std::string::npos ? pattern : pattern.substr(0, star);
  const std::string suffix = star == std::string::npos ? "" : pattern.substr(star + 1);
  const std::string base = dir + (!dir.empty() && dir.back() == '/' ? "" : "/") + prefix;

  for (int attempt = 0; attempt < kInstallDirAttempts; ++attempt) {
    const std::string number = std::to_string(random());
    const std::string name = base + number + suffix;
    // Inside a held directory by the entry's name; else by the whole path.
    const std::string entry = dirfd == AT_FDCWD ? name : prefix + number + suffix;
    // mkdir itself decides: a name that exists already is never taken over.
    Status made = MakeDirectoryAt(FileAt(dirfd, entry, name), kInstallDirMode);
    if (made.ok()) return name;
    const int err = made.error().errnum;
    if (err == EEXIST) continue;
    if (err == ENOENT && !DirectoryExists(dirfd, dir)) return SysError("stat", dir, ENOENT);
    return made.error();
  }
  return SysError("mkdirtemp", base + "*" + suffix, EEXIST);
}

bool MakeInstallDir(RunState& run) {
  Result<UniqueFd> held = CreateAndHold(run);
  if (!held.ok()) {
    run.log.Logf("[ERROR] Cannot create temporary folder. (%s)", held.error());
    run.exitCode = exitInstallDirFailed;
    return false;
  }
  run.installDirFd = std::move(*held);
  return true;
}

Status CheckInstallDir(const RunState& run, std::string_view missing_op) {
  const std::string& d = run.installDir;
  Result<struct stat> held = StatOf(run.installDirFd.get(), d, "fstat");
  if (!held.ok()) return held.error();
  Result<struct stat> named =
      StatAt(FileAt(run.tempDirFd.get(), BaseName(d), d), AT_SYMLINK_NOFOLLOW, missing_op);
  if (!named.ok()) return named.error();
  if (!SameFile(*held, *named)) {
    return PathError("verify", d, "no longer the directory created for this run");
  }
  if (!OwnedAndPrivate(*held)) return PathError("verify", d, "owner or mode changed");
  return Status::Ok();
}

bool InstallDirReadyForExtraction(RunState& run) {
  Status same = CheckInstallDir(run, "lstat");
  if (same.ok()) return true;
  run.log.Logf("[ERROR] Cannot create temporary folder. (%s)", same.error());
  run.exitCode = exitInstallDirFailed;
  return false;
}

}  // namespace quorvane
