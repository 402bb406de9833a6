// Opening a file of a fixed, well-known name in a directory that other users
// may be able to write to (a temporary or a debug directory).
#ifndef QUORVANE_COMMON_FIXED_NAME_FILE_H_
#define QUORVANE_COMMON_FIXED_NAME_FILE_H_

#include "common/error.h"
#include "common/file_calls.h"
#include "common/owned.h"

namespace quorvane {

// Opens file for writing (access is O_WRONLY or O_RDWR), close-on-exec,
// creating it with mode 0640 (less the umask) when it is missing, and
// empties it. The directory is the held file.dirfd; with AT_FDCWD, the
// directory part of file.path, opened first. What stands at the name is
// opened only when it is a regular file reached without a symbolic link at
// its last element; the open never blocks (a named pipe is opened
// non-blocking and then refused). In a directory that others than this
// process's user can write to, an existing file is refused when another
// user owns it or when it has further hard links. An existing file that is
// accepted keeps its owner and mode.
Result<UniqueFd> OpenFixedNameFile(const FileAt& file, int access);

}  // namespace quorvane

#endif  // QUORVANE_COMMON_FIXED_NAME_FILE_H_
