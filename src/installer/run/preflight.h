// The checks after the log set-up: architecture lines, free space of the
// temporary directory, administrator rights.
#ifndef QUORVANE_INSTALLER_RUN_PREFLIGHT_H_
#define QUORVANE_INSTALLER_RUN_PREFLIGHT_H_

#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "common/error.h"
#include "common/file_calls.h"
#include "common/platform.h"
#include "installer/run/run_state.h"

namespace quorvane {

// 150 MiB; exactly this much free space passes.
inline constexpr uint64_t minFreeSpace = 157286400;

// The largest buffer the user lookup grows to.
inline constexpr size_t kMaxUserBufferSize = 1048576;

// The free-space figures of the directory held at dirfd, or, with
// AT_FDCWD, of path.
using FileSystemQuery =
    std::function<Result<platform::FileSystemStats>(int dirfd, const std::string& path)>;

// The services the user lookup asks; tests replace them.
struct UserDatabase {
  std::function<uid_t()> real_uid = [] { return getuid(); };
  std::function<long()> buffer_size_hint = [] { return sysconf(_SC_GETPW_R_SIZE_MAX); };
  // As getpwuid_r: 0 or an errno value; *result is null when there is no entry.
  std::function<int(uid_t, struct passwd*, char*, size_t, struct passwd**)> lookup = getpwuid_r;
};

// Free bytes (blocks reserved for the superuser included) of the file system
// that holds dir (held, or a path); false without an error when below
// minFreeSpace.
Result<bool> HasEnoughFreeSpace(const FileAt& dir,
                                const FileSystemQuery& query = platform::QueryFileSystem);

// The free bytes of stats: f_bfree times f_bsize, saturated at the largest
// 64-bit value rather than wrapped.
uint64_t FreeBytes(const platform::FileSystemStats& stats);

// The first buffer of the user lookup for what sysconf reported.
size_t UserLookupBufferSize(long sysconf_value);

// True when the real user's entry has user id 0; an error when the user has
// no entry or cannot be looked up.
Result<bool> checkIfRoot(const UserDatabase& users = UserDatabase());

// The administrator test of this platform: checkIfRoot.
Result<bool> checkAdministrator(const UserDatabase& users = UserDatabase());

// The two architecture lines; never fails.
bool LogArchitectureLines(RunState& run);

// The free-space step: logs and sets run.exitCode on failure (-5, -6).
bool RequireFreeSpace(RunState& run);
bool RequireFreeSpace(RunState& run, const FileSystemQuery& query);

// The administrator step, skipped under --no-admin-check or --no-check:
// logs and sets run.exitCode on failure (-7, -8).
bool RequireAdministrator(RunState& run);
bool RequireAdministrator(RunState& run, const UserDatabase& users);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_RUN_PREFLIGHT_H_
