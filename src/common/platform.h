// The few system services that differ between NetBSD, where the installer
// runs, and Linux, where it is built and tested. The build picks one file
// per system (platform_netbsd.cc or platform_linux.cc); what both provide
// alike is in platform_posix.cc. Callers see the same behaviour on both.
#ifndef QUORVANE_COMMON_PLATFORM_H_
#define QUORVANE_COMMON_PLATFORM_H_

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "common/error.h"

namespace quorvane::platform {

// The path of the running executable as the kernel reports it (NetBSD:
// sysctl KERN_PROC_PATHNAME; Linux: /proc/self/exe). Links may remain.
Result<std::string> ExecutablePath();

// The flag that opens a directory only to work inside it, by its
// descriptor, without read permission (Linux: O_PATH; NetBSD: O_SEARCH
// where the system has it, else a plain read-only open).
extern const int kOpenForSearch;

// Free-space figures of the file system that holds a path.
struct FileSystemStats {
  uint64_t free_blocks = 0;  // f_bfree: blocks reserved for the superuser included
  uint64_t block_size = 0;   // f_bsize
};

// Of the directory held at dirfd, or, with AT_FDCWD, of path. NetBSD:
// fstatvfs1/statvfs1 with ST_WAIT; Linux: fstatvfs/statvfs. The error text
// is the system's description alone.
Result<FileSystemStats> QueryFileSystem(int dirfd, const std::string& path);

// Waits for a child process to end and reaps it; the result is its wait
// status as wait4 reports it. The wait first blocks until the child is
// waitable without reaping it (NetBSD: wait6 with WNOWAIT; Linux: waitid with
// WNOWAIT), then reaps it with wait4. Each call is repeated when a signal
// interrupts it. The error text is the call's name and the system's
// description ("wait6: no child processes").
Result<int> WaitForChild(pid_t pid);

// Puts the process in a sane state before it opens anything: each of the
// descriptors 0, 1 and 2 that is closed is opened on the null device, so that
// no file the process opens later takes one of them (a child started with
// them would otherwise write into it); SIGCHLD is set back to its default
// disposition, so that ended children stay to be waited for (an inherited
// SIG_IGN has them reaped by the system); and SIGXFSZ is ignored, so that a
// write past the file-size limit (RLIMIT_FSIZE) fails with EFBIG like any
// other failed write instead of killing the process before its end steps.
// No handler is installed. Failures leave that descriptor or the signal as
// they were; the code that hands descriptors to a child guards itself too.
void SanitizeStartState();

// Sets SIGCHLD and SIGXFSZ back to their default dispositions, so that a
// program started from here does not inherit the ignored SIGXFSZ (an ignored
// signal stays ignored across exec). Async-signal-safe: a child calls it
// between fork and exec.
void RestoreChildSignals();

// The mount that a file lies on. Two files are on the same mount when
// their ids are equal: the device, and on Linux the mount's own id (statx
// STATX_MNT_ID), which tells a bind mount from the file system it shows;
// without it (kernels before 5.8) the device alone. NetBSD: the device, as
// every mount, null mounts included, has a file system id of its own. The
// error text is the system's description alone.
struct MountId {
  dev_t dev = 0;
  uint64_t mount = 0;  // 0: not known
  bool operator==(const MountId&) const = default;
};
// The entry name in the directory held at dirfd, not following a final
// link; an empty name is the file open at dirfd itself.
Result<MountId> MountOf(int dirfd, const char* name);

// Closes every descriptor from lowest up. Async-signal-safe: a child calls
// it between fork and exec.
void CloseDescriptorsFrom(int lowest);

// A number from the system's random source; it differs from run to run.
uint32_t RandomNumber();

}  // namespace quorvane::platform

#endif  // QUORVANE_COMMON_PLATFORM_H_
