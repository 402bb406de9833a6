// What each system's platform file gives the code that both systems share
// (platform_posix.cc). Not for use outside the platform layer.
#ifndef QUORVANE_COMMON_PLATFORM_SYSTEM_H_
#define QUORVANE_COMMON_PLATFORM_SYSTEM_H_

#include <sys/types.h>

#include "common/error.h"

namespace quorvane::platform::system {

// Blocks until the child has ended, leaving it to be reaped (NetBSD: wait6
// with WNOWAIT; Linux: waitid with WNOWAIT), repeated when a signal
// interrupts it. The error text is the call's name and the system's message.
Status BlockUntilWaitable(pid_t pid);

}  // namespace quorvane::platform::system

#endif  // QUORVANE_COMMON_PLATFORM_SYSTEM_H_
