// Payload archives built in memory, and installers that carry them.
#ifndef QUORVANE_TESTS_SUPPORT_PAYLOAD_FIXTURE_H_
#define QUORVANE_TESTS_SUPPORT_PAYLOAD_FIXTURE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::testing {

// One member of an archive under construction.
struct ZipMember {
  std::string name;      // e.g. "amd64/quorvane" or "amd64/" for a directory
  std::string content;   // empty for a directory
  bool deflate = true;   // DEFLATE, else stored
  bool directory = false;
  // Host system in the version-made-by field (3 = Unix, 0 = MS-DOS) and the
  // external attributes; for Unix the mode is in the high 16 bits.
  uint8_t made_by_host = 3;
  uint32_t external_attributes = 0100644u << 16;
};

// A ZIP archive made with libzip's writer.
std::string BuildZip(const std::vector<ZipMember>& members);

// "digest name" lines for the given (name, content) pairs, lower-case hex,
// joined with "\n" and no final newline.
std::string ChecksumList(const std::vector<std::pair<std::string, std::string>>& files);

// The usual payload: amd64/ with quorvane (the given program, e.g. a shell
// script), quorvane.so and checksums.txt; licenses/ with one text and its
// checksums.txt; directory members included.
std::string StandardPayloadArchive(const std::string& program);

// Copies the installer into dir and adds archive as the section ".quorvane"
// (not loaded); returns the new executable's path.
std::string PackInstaller(const std::string& dir, const std::string& archive);

}  // namespace quorvane::testing

#endif  // QUORVANE_TESTS_SUPPORT_PAYLOAD_FIXTURE_H_
