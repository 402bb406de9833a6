#include "installer/archive/payload_archive.h"

#include <errno.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace quorvane {
namespace {

constexpr uint16_t kMethodStore = 0;
constexpr uint16_t kMethodDeflate = 8;

Error OutOfMemory() { return ErrnoError(ENOMEM); }

// The decoder's own text for a stream it cannot decode.
Error DecoderError(const z_stream& stream) {
  return Error(std::string("zip: ") +
               (stream.msg != nullptr ? stream.msg : "invalid compressed data"));
}

// The error for a result of inflate() other than Z_OK and Z_STREAM_END.
Error InflateFault(int rc, const z_stream& stream) {
  if (rc == Z_MEM_ERROR) return OutOfMemory();
  if (rc == Z_BUF_ERROR) return Error(kUnexpectedEof);  // the stored data ran out
  return DecoderError(stream);
}

}  // namespace

MemberReader::MemberReader(std::string_view data, const ZipEntry& entry)
    : data_(data),
      deflate_(entry.method == kMethodDeflate),
      size_(entry.size),
      crc32_(entry.crc32),
      crc_(crc32(0, nullptr, 0)) {}

std::unique_ptr<MemberReader> MemberReader::Create(std::string_view data, const ZipEntry& entry) {
  std::unique_ptr<MemberReader> reader(new (std::nothrow) MemberReader(data, entry));
  if (reader == nullptr || !reader->deflate_) return reader;
  // Raw DEFLATE: the archive holds no zlib header or trailer.
  if (inflateInit2(&reader->stream_, -MAX_WBITS) != Z_OK) return nullptr;
  reader->stream_ready_ = true;
  return reader;
}

MemberReader::~MemberReader() {
  if (stream_ready_) inflateEnd(&stream_);
}

Result<size_t> MemberReader::Read(char* buf, size_t n) {
  if (n == 0 || done_) return size_t{0};
  uint64_t left = size_ - read_;
  if (left == 0) {
    Status end = AtEnd();
    if (!end.ok()) return end.error();
    done_ = true;
    return size_t{0};
  }
  Result<size_t> got = Next(buf, static_cast<size_t>(std::min<uint64_t>(n, left)));
  if (!got.ok()) return got;
  if (*got == 0) return Error(kUnexpectedEof);
  read_ += *got;
  crc_ = crc32(crc_, reinterpret_cast<const Bytef*>(buf), static_cast<uInt>(*got));
  return got;
}

// Up to n bytes of the member's data; 0 at the end of its stored data.
Result<size_t> MemberReader::Next(char* buf, size_t n) {
  if (deflate_) return Inflate(buf, n);
  size_t count = std::min(n, data_.size());
  memcpy(buf, data_.data(), count);
  data_.remove_prefix(count);
  return count;
}

// Decodes until at least one byte comes out, the stream ends, or the stored
// data runs out. Bytes decoded before a fault are handed out first; the
// fault is the result of the next call.
Result<size_t> MemberReader::Inflate(char* buf, size_t n) {
  if (fault_) return *fault_;
  if (stream_ended_) return size_t{0};
  n = std::min<size_t>(n, UINT_MAX);
  stream_.next_out = reinterpret_cast<Bytef*>(buf);
  stream_.avail_out = static_cast<uInt>(n);
  while (stream_.avail_out == n) {
    uInt input = static_cast<uInt>(std::min<size_t>(data_.size(), UINT_MAX));
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data_.data()));
    stream_.avail_in = input;
    int rc = inflate(&stream_, Z_NO_FLUSH);
    data_.remove_prefix(input - stream_.avail_in);
    if (rc == Z_STREAM_END) {
      stream_ended_ = true;
      break;
    }
    if (rc == Z_OK) continue;
    fault_ = InflateFault(rc, stream_);
    if (stream_.avail_out == n) return *fault_;
    break;
  }
  return n - stream_.avail_out;
}

// At the recorded size the member's data must end, and its CRC-32 agree.
Status MemberReader::AtEnd() {
  if (deflate_) {
    char extra;
    Result<size_t> more = Inflate(&extra, 1);
    if (!more.ok()) return more.error();
    if (*more != 0) return Error(kZipNotValid);
  } else if (!data_.empty()) {
    return Error(kZipNotValid);
  }
  if (crc_ != crc32_) return Error(kZipChecksumError);
  return Status::Ok();
}

Result<std::unique_ptr<PayloadArchive>> PayloadArchive::Open(std::string bytes) {
  std::unique_ptr<PayloadArchive> archive(new (std::nothrow) PayloadArchive);
  if (archive == nullptr) return OutOfMemory();
  archive->bytes_ = std::move(bytes);
  Result<std::vector<ZipEntry>> entries = ReadCentralDirectory(archive->bytes_);
  if (!entries.ok()) return entries.error();
  archive->entries_ = std::move(*entries);
  return archive;
}

Result<std::unique_ptr<MemberReader>> PayloadArchive::OpenMember(size_t index) {
  const ZipEntry& entry = entries_[index];
  Result<uint64_t> data = CheckLocalHeader(bytes_, entry);
  if (!data.ok()) return data.error();
  if (entry.method != kMethodStore && entry.method != kMethodDeflate) {
    return Error(kZipUnsupportedMethod);
  }
  // Stored data that runs past the archive ends where the archive does.
  std::string_view stored = std::string_view(bytes_).substr(*data, entry.compressed_size);
  std::unique_ptr<MemberReader> reader = MemberReader::Create(stored, entry);
  if (reader == nullptr) return OutOfMemory();
  return reader;
}

}  // namespace quorvane
