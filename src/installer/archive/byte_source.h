// installer/archive/: reading the payload the installer carries. The ELF
// section that holds it (payload_section), the ZIP central directory walked
// and checked against the end record (zip_directory), members read and
// inflated as streams of bytes (payload_archive, byte_source), and the
// SHA-256 checksum lists that every written file is verified against
// (checksums). Nothing here writes a file or logs a line.
//
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
