// Paths made absolute against the process's working directory.
#ifndef QUORVANE_COMMON_WORKING_DIRECTORY_H_
#define QUORVANE_COMMON_WORKING_DIRECTORY_H_

#include <string>
#include <string_view>

#include "common/error.h"

namespace quorvane {

// The current working directory: PWD when it is absolute and names the same
// directory as ".", else what the system reports.
Result<std::string> WorkingDirectory();

// An absolute path is cleaned; a relative one is joined to the working directory.
Result<std::string> MakeAbsolute(std::string_view path);

}  // namespace quorvane

#endif  // QUORVANE_COMMON_WORKING_DIRECTORY_H_
