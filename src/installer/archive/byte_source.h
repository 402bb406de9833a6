// A stream of bytes read in pieces to its end.
#ifndef QUORVANE_INSTALLER_ARCHIVE_BYTE_SOURCE_H_
#define QUORVANE_INSTALLER_ARCHIVE_BYTE_SOURCE_H_

#include <cstddef>

#include "common/error.h"

namespace quorvane {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads up to n bytes into buf; 0 means the end of the stream.
  virtual Result<size_t> Read(char* buf, size_t n) = 0;
};

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_ARCHIVE_BYTE_SOURCE_H_
