#include "installer/archive/zip_directory.h"

#include <errno.h>

#include <new>
#include <optional>

namespace quorvane {
namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndSize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kMaxCommentSize = 0xffff;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kDataDescriptorFlag = 0x0008;
constexpr uint32_t kUnixHostMask = 0170000;
constexpr uint32_t kUnixDirectory = 0040000;
constexpr uint32_t kDosDirectoryAttribute = 0x10;

// Little-endian fields at bounds-checked offsets.
class Bytes {
 public:
  explicit Bytes(std::string_view data) : data_(data) {}

  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }
  uint16_t U16(uint64_t at) const { return static_cast<uint16_t>(Byte(at) | Byte(at + 1) << 8); }
  uint32_t U32(uint64_t at) const { return U16(at) | static_cast<uint32_t>(U16(at + 2)) << 16; }
  uint64_t U64(uint64_t at) const { return U32(at) | static_cast<uint64_t>(U32(at + 4)) << 32; }
  std::string_view Sub(uint64_t at, uint64_t length) const { return data_.substr(at, length); }
  size_t size() const { return data_.size(); }

 private:
  uint32_t Byte(uint64_t at) const { return static_cast<unsigned char>(data_[at]); }

  std::string_view data_;
};

// What the end record says of the directory, and where the directory must
// end: at the ZIP64 end record when there is one, else at the end record.
struct DirectoryLocation {
  uint64_t offset = 0;
  uint64_t size = 0;
  uint64_t count = 0;
  uint64_t end = 0;
};

// Takes the 64-bit values of the ZIP64 extra field for the fields whose
// 32-bit value is saturated, in the order the format defines. The other
// extra fields are not read: a field that runs past the extra area ends the
// walk without an error, so a member's other fields never make the directory
// unreadable. A ZIP64 field too short for the values it must give does.
bool ApplyZip64Extra(const Bytes& b, uint64_t extra, uint64_t extra_length, ZipEntry& e) {
  uint64_t end = extra + extra_length;
  while (extra + 4 <= end) {
    uint16_t id = b.U16(extra);
    uint16_t length = b.U16(extra + 2);
    uint64_t at = extra + 4;
    if (at + length > end) return true;
    if (id == kZip64ExtraId) {
      uint64_t field_end = at + length;
      for (uint64_t* field : {&e.size, &e.compressed_size, &e.local_header_offset}) {
        if (*field != 0xffffffffu) continue;
        if (at + 8 > field_end) return false;
        *field = b.U64(at);
        at += 8;
      }
      return true;
    }
    extra = at + length;
  }
  return true;
}

// One central directory entry at *at; advances *at past it.
std::optional<ZipEntry> ReadEntry(const Bytes& b, uint64_t* at) {
  uint64_t p = *at;
  if (!b.Has(p, kCentralHeaderSize) || b.U32(p) != kCentralHeaderSignature) return std::nullopt;
  uint16_t name_length = b.U16(p + 28);
  uint16_t extra_length = b.U16(p + 30);
  uint16_t comment_length = b.U16(p + 32);
  uint64_t total = kCentralHeaderSize + name_length + extra_length + comment_length;
  if (!b.Has(p, total)) return std::nullopt;
  ZipEntry e;
  e.made_by_host = static_cast<uint8_t>(b.U16(p + 4) >> 8);
  e.flags = b.U16(p + 8);
  e.method = b.U16(p + 10);
  e.crc32 = b.U32(p + 16);
  e.compressed_size = b.U32(p + 20);
  e.size = b.U32(p + 24);
  e.external_attributes = b.U32(p + 38);
  e.local_header_offset = b.U32(p + 42);
  e.name = std::string(b.Sub(p + kCentralHeaderSize, name_length));
  if (!ApplyZip64Extra(b, p + kCentralHeaderSize + name_length, extra_length, e))
    return std::nullopt;
  *at = p + total;
  return e;
}

// Where the directory lies, from the end record at `end` and, when present,
// the ZIP64 end record that its locator points at.
std::optional<DirectoryLocation> LocateDirectory(const Bytes& b, uint64_t end) {
  DirectoryLocation loc{b.U32(end + 16), b.U32(end + 12), b.U16(end + 10), end};
  if (end < kZip64LocatorSize) return loc;
  uint64_t locator = end - kZip64LocatorSize;
  if (b.U32(locator) != kZip64LocatorSignature) return loc;
  uint64_t zip64_end = b.U64(locator + 8);
  if (!b.Has(zip64_end, kZip64EndSize) || b.U32(zip64_end) != kZip64EndSignature) {
    return std::nullopt;
  }
  return DirectoryLocation{b.U64(zip64_end + 48), b.U64(zip64_end + 40), b.U64(zip64_end + 32),
                           zip64_end};
}

// The directory of the end record at `end`; nullopt when it does not agree
// with the record: it must fill exactly the recorded size, up to where the
// end records begin, with exactly the recorded count of entries. An error
// when it cannot be held.
Result<std::optional<std::vector<ZipEntry>>> ReadDirectoryAt(const Bytes& b, uint64_t end) {
  using Found = std::optional<std::vector<ZipEntry>>;
  std::optional<DirectoryLocation> loc = LocateDirectory(b, end);
  if (!loc || loc->size > loc->end || loc->offset != loc->end - loc->size) return Found();
  // Every entry takes at least its fixed header; a larger count cannot be true.
  if (loc->count > loc->size / kCentralHeaderSize) return Found();
  // Entries are read from the directory's bytes alone, so none reaches past it.
  Bytes directory(b.Sub(0, loc->end));
  try {
    std::vector<ZipEntry> entries;
    entries.reserve(loc->count);
    for (uint64_t at = loc->offset; at < loc->end;) {
      std::optional<ZipEntry> e = ReadEntry(directory, &at);
      if (!e) return Found();
      entries.push_back(std::move(*e));
    }
    if (entries.size() != loc->count) return Found();
    return Found(std::move(entries));
  } catch (const std::bad_alloc&) {
    return ErrnoError(ENOMEM);
  }
}

// The record at `end` with its comment must reach exactly to the archive's
// end; a false record inside the comment of the true one does not.
bool EndsTheArchive(const Bytes& b, uint64_t end) {
  return end + kEndSize + b.U16(end + 20) == b.size();
}

// Each local field must equal the directory's; with a data descriptor it may
// also be zero. A saturated size stands for a ZIP64 value and is not compared.
bool LocalFieldAgrees(uint32_t local, uint64_t central, bool descriptor, bool size_field) {
  if (size_field && local == 0xffffffffu) return true;
  if (descriptor && local == 0) return true;
  return local == central;
}

}  // namespace

bool IsDirectoryMember(const ZipEntry& entry) {
  if (!entry.name.empty() && entry.name.back() == '/') return true;
  switch (entry.made_by_host) {
    case 3:   // Unix
    case 19:  // macOS
      return ((entry.external_attributes >> 16) & kUnixHostMask) == kUnixDirectory;
    case 0:   // MS-DOS
    case 11:  // NTFS
    case 14:  // VFAT
      return (entry.external_attributes & kDosDirectoryAttribute) != 0;
    default:
      return false;
  }
}

Result<std::vector<ZipEntry>> ReadCentralDirectory(std::string_view archive) {
  Bytes b(archive);
  if (archive.size() < kEndSize) return Error(kZipNotValid);
  uint64_t last = archive.size() - kEndSize;
  uint64_t first = last > kMaxCommentSize ? last - kMaxCommentSize : 0;
  for (uint64_t end = last + 1; end-- > first;) {
    if (b.U32(end) != kEndSignature || !EndsTheArchive(b, end)) continue;
    Result<std::optional<std::vector<ZipEntry>>> entries = ReadDirectoryAt(b, end);
    if (!entries.ok()) return entries.error();
    if (entries->has_value()) return std::move(**entries);
  }
  return Error(kZipNotValid);
}

Result<uint64_t> CheckLocalHeader(std::string_view archive, const ZipEntry& entry) {
  Bytes b(archive);
  uint64_t p = entry.local_header_offset;
  if (!b.Has(p, kLocalHeaderSize) || b.U32(p) != kLocalHeaderSignature) return Error(kZipNotValid);
  uint16_t name_length = b.U16(p + 26);
  uint16_t extra_length = b.U16(p + 28);
  if (!b.Has(p, kLocalHeaderSize + name_length + extra_length)) return Error(kZipNotValid);
  bool descriptor = (b.U16(p + 6) & kDataDescriptorFlag) != 0;
  bool agrees = b.U16(p + 8) == entry.method &&
                b.Sub(p + kLocalHeaderSize, name_length) == entry.name &&
                LocalFieldAgrees(b.U32(p + 14), entry.crc32, descriptor, false) &&
                LocalFieldAgrees(b.U32(p + 18), entry.compressed_size, descriptor, true) &&
                LocalFieldAgrees(b.U32(p + 22), entry.size, descriptor, true);
  if (!agrees) return Error(kZipNotValid);
  return p + kLocalHeaderSize + name_length + extra_length;
}

}  // namespace quorvane
