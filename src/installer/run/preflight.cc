#include "installer/run/preflight.h"

#include <errno.h>
#include <unistd.h>

#include <limits>
#include <vector>

#include "installer/constants.h"
#include "installer/run/exit_codes.h"

namespace quorvane {
namespace {

std::string UidText(uid_t uid) { return std::to_string(static_cast<unsigned long>(uid)); }

}  // namespace

uint64_t FreeBytes(const platform::FileSystemStats& stats) {
  uint64_t bytes = 0;
  // A wrapped product would make a huge file system look nearly full.
  if (__builtin_mul_overflow(stats.free_blocks, stats.block_size, &bytes)) {
    return std::numeric_limits<uint64_t>::max();
  }
  return bytes;
}

Result<bool> HasEnoughFreeSpace(const FileAt& dir, const FileSystemQuery& query) {
  // A held directory is asked by its descriptor, a path by its text.
  Result<platform::FileSystemStats> stats =
      query(dir.dirfd, dir.dirfd == AT_FDCWD ? dir.name : dir.path);
  if (!stats.ok()) return stats.error();
  return FreeBytes(*stats) >= minFreeSpace;
}

size_t UserLookupBufferSize(long sysconf_value) {
  if (sysconf_value == -1) return 1024;
  if (sysconf_value < 1 || static_cast<unsigned long>(sysconf_value) > kMaxUserBufferSize) {
    return kMaxUserBufferSize;
  }
  return static_cast<size_t>(sysconf_value);
}

Result<bool> checkIfRoot(const UserDatabase& users) {
  const uid_t uid = users.real_uid();
  std::vector<char> buf(UserLookupBufferSize(users.buffer_size_hint()));
  for (;;) {
    struct passwd pwd;
    struct passwd* found = nullptr;
    const int err = users.lookup(uid, &pwd, buf.data(), buf.size(), &found);
    if (err == ERANGE) {
      if (buf.size() * 2 > kMaxUserBufferSize) {
        return Error("lookup userid " + UidText(uid) + ": internal buffer exceeds " +
                         std::to_string(kMaxUserBufferSize) + " bytes",
                     ERANGE);
      }
      buf.resize(buf.size() * 2);
      continue;
    }
    if (err == ENOENT || (err == 0 && found == nullptr)) {
      return Error("unknown userid " + UidText(uid), ENOENT);
    }
    if (err != 0) return SysError("lookup", "userid " + UidText(uid), err);
    return UidText(found->pw_uid) == "0";
  }
}

Result<bool> checkAdministrator(const UserDatabase& users) { return checkIfRoot(users); }

bool LogArchitectureLines(RunState& run) {
  run.log.Logf("[INFO ] OS architecture: %s", kHostArch);
  run.log.Logf("[INFO ] %s architecture: %s", payloadExecutableName, payloadArch.String());
  return true;
}

bool RequireFreeSpace(RunState& run) { return RequireFreeSpace(run, platform::QueryFileSystem); }

bool RequireFreeSpace(RunState& run, const FileSystemQuery& query) {
  Result<bool> enough =
      HasEnoughFreeSpace(FileAt::Held(run.tempDirFd.get(), run.params.TempDir), query);
  if (!enough.ok()) {
    run.log.Logf("[ERROR] Couldn't check available disk space. (%s)", enough.error());
    run.exitCode = exitDiskCheckFailed;
    return false;
  }
  if (!*enough) {
    run.log.Logf("[ERROR] Not enough space in %s.", run.params.TempDir);
    run.exitCode = exitNoDiskSpace;
    return false;
  }
  return true;
}

bool RequireAdministrator(RunState& run) { return RequireAdministrator(run, UserDatabase()); }

bool RequireAdministrator(RunState& run, const UserDatabase& users) {
  if (run.params.NoAdminCheck || run.params.NoCheck) {
    run.log.Logf("[INFO ] Administrator privileges check ignored due command line arguments");
    return true;
  }
  Result<bool> admin = checkAdministrator(users);
  if (!admin.ok()) {
    run.log.Logf("[ERROR] Couldn't check if %s is running with administrator privileges",
                 productName);
    run.exitCode = exitAdminCheckFailed;
    return false;
  }
  if (!*admin) {
    run.log.Logf("[ERROR] %s needs administrator privileges.", productName);
    run.exitCode = exitNotAdmin;
    return false;
  }
  return true;
}

}  // namespace quorvane
