// Writing a whole buffer to a descriptor.
#ifndef QUORVANE_COMMON_WRITE_ALL_H_
#define QUORVANE_COMMON_WRITE_ALL_H_

#include <optional>
#include <string_view>

#include "common/error.h"

namespace quorvane {

// The loop behind WriteAll, for a caller that must not allocate: nullopt
// when every byte was written, else the errno of the write that failed, or
// 0 for a write that took nothing.
std::optional<int> WriteAllBytes(int fd, std::string_view data) noexcept;

// Writes every byte of data to fd. A write that a signal interrupts is
// repeated; on a non-blocking descriptor that is full the call waits until
// it takes more. A write that takes nothing is "write name: short write";
// a failed one "write name: <system message>".
Status WriteAll(int fd, std::string_view data, std::string_view name);

}  // namespace quorvane

#endif  // QUORVANE_COMMON_WRITE_ALL_H_
