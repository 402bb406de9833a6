#ifndef QUORVANE_COMMON_SYMLINKS_H_
#define QUORVANE_COMMON_SYMLINKS_H_

#include <string>
#include <string_view>

#include "common/error.h"

namespace quorvane {

// Resolves every symbolic link in path, element by element from the left
// (lstat, then readlink for a link), following at most 255 links, and
// cleans the result.
Result<std::string> ResolveSymlinks(std::string_view path);

}  // namespace quorvane

#endif  // QUORVANE_COMMON_SYMLINKS_H_
