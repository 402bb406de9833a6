// The payload archive, held in memory, and the reading of its members.
#ifndef QUORVANE_INSTALLER_PAYLOAD_ARCHIVE_H_
#define QUORVANE_INSTALLER_PAYLOAD_ARCHIVE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"
#include "installer/byte_source.h"
#include "installer/zip_directory.h"

struct zip;
struct zip_file;

namespace quorvane {

// The data of one member, decompressed as it is read. The reader checks what
// the archive records: more data than the recorded size is "zip: not a valid
// zip file" and is never handed out, less is "unexpected EOF", and a CRC-32
// that differs at the end is "zip: checksum error".
class MemberReader : public ByteSource {
 public:
  MemberReader(zip_file* file, uint64_t size) : file_(file), size_(size) {}
  ~MemberReader() override;
  MemberReader(const MemberReader&) = delete;
  MemberReader& operator=(const MemberReader&) = delete;

  Result<size_t> Read(char* buf, size_t n) override;

 private:
  zip_file* file_;
  uint64_t size_;      // the recorded uncompressed size
  uint64_t read_ = 0;  // bytes handed out so far
};

class PayloadArchive {
 public:
  // Reads the end record and the central directory of the archive in bytes,
  // which the archive keeps. Failures are "zip: not a valid zip file".
  static Result<std::unique_ptr<PayloadArchive>> Open(std::string bytes);
  ~PayloadArchive();
  PayloadArchive(const PayloadArchive&) = delete;
  PayloadArchive& operator=(const PayloadArchive&) = delete;

  // The members in central-directory order.
  const std::vector<ZipEntry>& entries() const { return entries_; }

  // Opens a member for reading: its local header must agree with the
  // directory and its method must be stored or DEFLATE.
  Result<std::unique_ptr<MemberReader>> OpenMember(size_t index);

 private:
  PayloadArchive() = default;

  std::string bytes_;
  zip* zip_ = nullptr;
  std::vector<ZipEntry> entries_;
};

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_PAYLOAD_ARCHIVE_H_
