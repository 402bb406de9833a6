// Checksum lists: "checksums.txt" names the files of one archive directory
// with their SHA-256 digests; every written file is checked against it.
#ifndef QUORVANE_INSTALLER_ARCHIVE_CHECKSUMS_H_
#define QUORVANE_INSTALLER_ARCHIVE_CHECKSUMS_H_

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/error.h"
#include "common/file_calls.h"
#include "installer/archive/byte_source.h"

namespace quorvane {

// One line of a list.
struct FileChecksum {
  std::string FileSha256;  // the digest field as written (64 bytes)
  std::string FileName;    // the name as written (not empty)
  bool Validated = false;  // set once a written file has matched this entry
};

// The entries in the order of the list's lines; verification marks them in
// place. Each name is indexed once, at its first entry, so that finding the
// entry of a written file does not search the whole list.
class ChecksumList {
 public:
  ChecksumList() = default;
  ChecksumList(std::initializer_list<FileChecksum> entries);

  void push_back(FileChecksum entry);

  // The first entry whose FileName is name, or null.
  FileChecksum* FindFirst(std::string_view name);

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  FileChecksum& operator[](size_t i) { return entries_[i]; }
  const FileChecksum& operator[](size_t i) const { return entries_[i]; }
  std::vector<FileChecksum>::iterator begin() { return entries_.begin(); }
  std::vector<FileChecksum>::iterator end() { return entries_.end(); }
  std::vector<FileChecksum>::const_iterator begin() const { return entries_.begin(); }
  std::vector<FileChecksum>::const_iterator end() const { return entries_.end(); }

 private:
  std::vector<FileChecksum> entries_;
  std::unordered_map<std::string, size_t> first_;  // name -> index of its first entry
};

// The longest line, "\r" included, that the list may hold before its "\n".
inline constexpr size_t kMaxChecksumLineLength = 65535;

// Reads the list to its end. An invalid line is "invalid line: <line>". A
// failed read or an over-long line ends the list where it happens; the
// entries before it are returned without an error.
Result<ChecksumList> parseChecksumsFile(ByteSource& reader);

// The file's SHA-256 as 64 lower-case hexadecimal digits; the file is read
// in pieces, never whole.
Result<std::string> computeFileSha256(const FileAt& file);

// Hashes the file and marks the first entry named like its base name
// when the digests agree; every other case is an error.
Status verifyFileChecksumIntegrity(const FileAt& file, ChecksumList& list);

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_ARCHIVE_CHECKSUMS_H_
