// Payload archives built in memory, and installers that carry them.
#ifndef QUORVANE_TESTS_SUPPORT_PAYLOAD_FIXTURE_H_
#define QUORVANE_TESTS_SUPPORT_PAYLOAD_FIXTURE_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::test {

// One member of an archive under construction.
struct ZipMember {
  std::string name;     // e.g. "amd64/quorvane" or "amd64/" for a directory
  std::string content;  // empty for a directory
  bool deflate = true;  // DEFLATE, else stored
  bool directory = false;
  // Host system in the version-made-by field (3 = Unix, 0 = MS-DOS) and the
  // external attributes; for Unix the mode is in the high 16 bits.
  uint8_t made_by_host = 3;
  uint32_t external_attributes = 0100644u << 16;
  uint16_t flags = 0;  // general-purpose bit flags, written as given
  std::string extra;   // extra field, in both headers
};

// External attributes of the members that the packaging writes: a regular
// file readable and writable by all, and a directory with the Unix mode 0777
// plus the MS-DOS directory bit.
inline constexpr uint32_t kFileAttributes = 0100666u << 16;
inline constexpr uint32_t kDirectoryAttributes = (040777u << 16) | 0x10u;

// A file member (DEFLATE, Unix mode 0666) and a directory member (stored).
ZipMember FileMember(const std::string& name, const std::string& content);
ZipMember DirectoryMember(const std::string& name);

// A ZIP archive, written here with zlib's DEFLATE. Names are stored exactly
// as given ("../x" and repeated names included); every member gets the same
// fixed time, so equal inputs give equal bytes. The end record carries
// comment as the archive comment.
std::string BuildZip(const std::vector<ZipMember>& members, const std::string& comment = "");

// The members of an archive, read back with the installer's archive reader
// (throws std::runtime_error when it fails), in central-directory order:
// name, data (empty for a directory), method, host and attributes.
struct ReadMember {
  std::string name;
  std::string content;
  uint16_t method = 0;  // 0 stored, 8 DEFLATE
  uint8_t made_by_host = 0;
  uint32_t external_attributes = 0;
};
std::vector<ReadMember> ReadZip(const std::string& archive);

// Lower-case hex SHA-256 of data.
std::string Sha256Hex(const std::string& data);

// "digest name" lines for the given (name, content) pairs, lower-case hex,
// joined with "\n" and no final newline.
std::string ChecksumListText(const std::vector<std::pair<std::string, std::string>>& files);

// The contents that StandardPayloadArchive puts next to the program.
inline constexpr char kStandardLibrary[] =
    "\x7f"
    "ELF stand-in for the payload library\n";
inline constexpr char kStandardLicense[] = "Sample licence text of the payload.\n";

// The members of the usual payload, in the order the packaging writes them:
// "amd64/", "licenses/", "amd64/quorvane.so", "amd64/quorvane" (program),
// "amd64/checksums.txt" (library, then executable), "licenses/LICENSE.txt",
// "licenses/checksums.txt". Tests that need a variant edit this list.
std::vector<ZipMember> StandardPayloadMembers(const std::string& program);

// BuildZip(StandardPayloadMembers(program)).
std::string StandardPayloadArchive(const std::string& program);

// Copies the installer into dir and adds archive as the section ".quorvane"
// (not loaded); returns the new executable's path (dir + "/quorvane-installer").
std::string PackInstaller(const std::string& dir, const std::string& archive);

// Like PackInstaller, for any ELF file: copies source to target and adds
// archive as the section ".quorvane" with objcopy; the result has mode 0755.
// When source already has such a section, the new one is added after it
// (the first in the section table stays the first).
void AddPayloadSection(const std::string& source, const std::string& target,
                       const std::string& archive);

// Whether the ELF file at path has a section of that name.
bool HasSection(const std::string& path, const std::string& name);

// The absolute path of a program found on PATH, or "" when there is none.
std::string FindOnPath(const std::string& name);

}  // namespace quorvane::test

#endif  // QUORVANE_TESTS_SUPPORT_PAYLOAD_FIXTURE_H_
