// Whether a directory path is safe to work in for this process's user: no
// other user can change what it names.
#ifndef QUORVANE_COMMON_PATH_SAFETY_H_
#define QUORVANE_COMMON_PATH_SAFETY_H_

#include <sys/types.h>

#include <string>

#include "common/error.h"

namespace quorvane {

// Examines every element of the absolute path, and of the paths that its
// symbolic links lead to, from the root on. An element that is owned by a
// user other than uid and the superuser (a directory or a link), or a
// directory that group or others may write to without the sticky bit, is
// refused: "unsafe path <element>: <reason>" (EPERM). The walk ends without
// a refusal at the first element that cannot be examined or is neither a
// directory nor a link; whoever uses the path then meets that failure.
Status CheckPathSafeFor(const std::string& absolute_path, uid_t uid);

}  // namespace quorvane

#endif  // QUORVANE_COMMON_PATH_SAFETY_H_
