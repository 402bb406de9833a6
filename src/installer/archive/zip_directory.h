// The central directory of a ZIP archive held in memory, read entry by entry,
// and the check of a member's local header against its directory entry.
#ifndef QUORVANE_INSTALLER_ARCHIVE_ZIP_DIRECTORY_H_
#define QUORVANE_INSTALLER_ARCHIVE_ZIP_DIRECTORY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace quorvane {

// One member as the central directory records it.
struct ZipEntry {
  std::string name;          // the stored bytes, no character set applied
  uint8_t made_by_host = 0;  // high byte of the version-made-by field
  uint16_t flags = 0;        // general-purpose bit flags
  uint16_t method = 0;       // 0 stored, 8 DEFLATE
  uint32_t crc32 = 0;
  uint64_t compressed_size = 0;
  uint64_t size = 0;  // uncompressed
  uint32_t external_attributes = 0;
  uint64_t local_header_offset = 0;
};

// Whether the member names a directory: its name ends in "/", or its
// attributes say so for the host systems whose attributes we know.
bool IsDirectoryMember(const ZipEntry& entry);

// The entries of the central directory. The end record is searched from the
// end of the archive backwards, and the first candidate that, with its
// comment, ends the archive and whose directory agrees with it is taken: a
// comment may hold the signature, even a whole false record. The directory
// agrees when it fills the recorded size exactly, ending where the end
// records begin, and holds exactly the recorded count of entries. Of a
// member's extra fields only the ZIP64 field is read. The disk numbers and
// the count of entries on this disk are not read. Errors:
// "zip: not a valid zip file"; "cannot allocate memory" (ENOMEM) when the
// entries cannot be held.
Result<std::vector<ZipEntry>> ReadCentralDirectory(std::string_view archive);

// The member's local header must be there, carry its signature and agree
// with the directory entry (a data descriptor's zero fields excepted).
// Returns the offset of the member's stored data.
Result<uint64_t> CheckLocalHeader(std::string_view archive, const ZipEntry& entry);

// The texts of the archive reader's errors.
inline constexpr const char* kZipNotValid = "zip: not a valid zip file";
inline constexpr const char* kZipUnsupportedMethod = "zip: unsupported compression algorithm";
inline constexpr const char* kZipChecksumError = "zip: checksum error";
inline constexpr const char* kUnexpectedEof = "unexpected EOF";

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_ARCHIVE_ZIP_DIRECTORY_H_
