// Creating a directory together with its missing parents.
#ifndef QUORVANE_COMMON_MAKE_DIRECTORIES_H_
#define QUORVANE_COMMON_MAKE_DIRECTORIES_H_

#include <sys/types.h>

#include <string>

#include "common/error.h"

namespace quorvane {

// Creates path, and first each missing parent, with mode (less the umask).
// A path that is already a directory, also through a link, succeeds; one
// that exists as anything else fails with "mkdir path: not a directory". A
// level that someone else creates meanwhile counts as created.
Status MakeDirectoryWithParents(const std::string& path, mode_t mode);

}  // namespace quorvane

#endif  // QUORVANE_COMMON_MAKE_DIRECTORIES_H_
