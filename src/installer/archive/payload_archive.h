// The payload archive, held in memory, and the reading of its members.
#ifndef QUORVANE_INSTALLER_ARCHIVE_PAYLOAD_ARCHIVE_H_
#define QUORVANE_INSTALLER_ARCHIVE_PAYLOAD_ARCHIVE_H_

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "installer/archive/byte_source.h"
#include "installer/archive/zip_directory.h"

namespace quorvane {

// The data of one member, decompressed as it is read. The reader checks what
// the archive records: more data than the recorded size is "zip: not a valid
// zip file" and is never handed out, less is "unexpected EOF", and a CRC-32
// that differs at the end is "zip: checksum error". A DEFLATE stream that
// cannot be decoded gives the decoder's own text, after the bytes decoded
// before the fault have been handed out.
class MemberReader : public ByteSource {
 public:
  ~MemberReader() override;
  MemberReader(const MemberReader&) = delete;
  MemberReader& operator=(const MemberReader&) = delete;

  // A reader of the member whose stored data is `data` (as much of it as the
  // archive holds); nullptr when its state cannot be allocated.
  static std::unique_ptr<MemberReader> Create(std::string_view data, const ZipEntry& entry);

  Result<size_t> Read(char* buf, size_t n) override;

 private:
  MemberReader(std::string_view data, const ZipEntry& entry);
  Result<size_t> Next(char* buf, size_t n);
  Result<size_t> Inflate(char* buf, size_t n);
  Status AtEnd();

  std::string_view data_;  // the stored data not yet consumed
  bool deflate_;
  z_stream stream_{};
  bool stream_ready_ = false;
  bool stream_ended_ = false;
  std::optional<Error> fault_;  // the decoder's fault, reported once its bytes are out
  uint64_t size_;               // the recorded uncompressed size
  uint32_t crc32_;              // the recorded CRC-32
  uint64_t read_ = 0;           // bytes handed out so far
  uLong crc_ = 0;               // CRC-32 of those bytes
  bool done_ = false;
};

class PayloadArchive {
 public:
  // Reads the end record and the central directory of the archive in bytes,
  // which the archive keeps. Failures are "zip: not a valid zip file", or
  // "cannot allocate memory" when the directory cannot be held.
  static Result<std::unique_ptr<PayloadArchive>> Open(std::string bytes);

  // The members in central-directory order.
  const std::vector<ZipEntry>& entries() const { return entries_; }

  // Opens a member for reading: its local header must agree with the
  // directory and its method must be stored or DEFLATE.
  Result<std::unique_ptr<MemberReader>> OpenMember(size_t index);

 private:
  PayloadArchive() = default;

  std::string bytes_;
  std::vector<ZipEntry> entries_;
};

}  // namespace quorvane

#endif  // QUORVANE_INSTALLER_ARCHIVE_PAYLOAD_ARCHIVE_H_
