// Changes to the bytes of a finished ZIP archive, member by member, for tests
// of what a reader must reject. Members are found by walking the central
// directory; each helper throws std::runtime_error when the member is absent.
#ifndef QUORVANE_TESTS_SUPPORT_ZIP_PATCH_H_
#define QUORVANE_TESTS_SUPPORT_ZIP_PATCH_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane::test {

// The fields that both the local header and the central directory carry.
enum class ZipField { kFlags, kMethod, kCrc, kCompressedSize, kSize };

// Which of the two headers a change applies to.
enum class ZipHeader { kLocal, kCentral, kBoth };

// Where a member's headers start.
struct ZipHeaderOffsets {
  size_t central = 0;
  size_t local = 0;
};
ZipHeaderOffsets FindMemberHeaders(const std::string& archive, const std::string& name);

// The field's value in the central directory.
uint32_t GetZipField(const std::string& archive, const std::string& name, ZipField field);

void SetZipField(std::string& archive, const std::string& name, ZipField field, uint32_t value,
                 ZipHeader where = ZipHeader::kBoth);

// The first four bytes of the member's local header.
void SetLocalSignature(std::string& archive, const std::string& name, uint32_t signature);

// The high byte of version-made-by, and the external attributes.
void SetMadeByHost(std::string& archive, const std::string& name, uint8_t host);
void SetExternalAttributes(std::string& archive, const std::string& name, uint32_t attributes);

// Renames a member in both headers to a name of the same length (any bytes,
// NUL included), which the archive writer might refuse.
void RenameMember(std::string& archive, const std::string& name, const std::string& new_name);

// The fields of the end-of-central-directory record (an archive without a
// comment): the entries on this disk, the entries in all, the directory's
// size and its offset.
enum class ZipEndField { kDiskEntries, kEntries, kDirectorySize, kDirectoryOffset };
uint32_t GetZipEndField(const std::string& archive, ZipEndField field);
void SetZipEndField(std::string& archive, ZipEndField field, uint32_t value);

// The member's stored (compressed) data.
size_t MemberDataOffset(const std::string& archive, const std::string& name);

}  // namespace quorvane::test

#endif  // QUORVANE_TESTS_SUPPORT_ZIP_PATCH_H_
