#include "installer/payload_archive.h"

#include <zip.h>

#include <cctype>
#include <cstring>

namespace quorvane {
namespace {

constexpr uint16_t kMethodStore = 0;
constexpr uint16_t kMethodDeflate = 8;

// The archive reader's texts for libzip's error codes.
Error ZipError(const zip_error_t* error) {
  switch (zip_error_code_zip(error)) {
    case ZIP_ER_CRC:
      return Error(kZipChecksumError);
    case ZIP_ER_NOZIP:
    case ZIP_ER_INCONS:
      return Error(kZipNotValid);
    case ZIP_ER_COMPNOTSUPP:
      return Error(kZipUnsupportedMethod);
    case ZIP_ER_EOF:
      return Error(kUnexpectedEof);
    default: {
      zip_error_t copy;
      zip_error_init_with_code(&copy, zip_error_code_zip(error));
      std::string text = std::string("zip: ") + zip_error_strerror(&copy);
      zip_error_fini(&copy);
      for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return Error(text);
    }
  }
}

// Errors that mean the member's data ended; short of the recorded size they
// are a truncated member.
bool EndsTheData(const zip_error_t* error) {
  int code = zip_error_code_zip(error);
  return code == ZIP_ER_CRC || code == ZIP_ER_INCONS || code == ZIP_ER_EOF;
}

// libzip must have found the same members, in the same order, as our walk.
// libzip's names end at a NUL byte, so the comparison does too.
bool SameMembers(zip_t* archive, const std::vector<ZipEntry>& entries) {
  zip_int64_t count = zip_get_num_entries(archive, 0);
  if (count < 0 || static_cast<uint64_t>(count) != entries.size()) return false;
  for (size_t i = 0; i < entries.size(); ++i) {
    const char* name = zip_get_name(archive, i, ZIP_FL_ENC_RAW);
    const std::string& ours = entries[i].name;
    if (name == nullptr || ours.substr(0, ours.find('\0')) != name) return false;
  }
  return true;
}

}  // namespace

MemberReader::~MemberReader() { zip_fclose(file_); }

Result<size_t> MemberReader::Read(char* buf, size_t n) {
  if (n == 0) return size_t{0};
  zip_int64_t got = zip_fread(file_, buf, n);
  if (got < 0) {
    const zip_error_t* error = zip_file_get_error(file_);
    if (read_ < size_ && EndsTheData(error)) return Error(kUnexpectedEof);
    return ZipError(error);
  }
  read_ += static_cast<uint64_t>(got);
  if (read_ > size_) return Error(kZipNotValid);
  if (got == 0 && read_ < size_) return Error(kUnexpectedEof);
  return static_cast<size_t>(got);
}

Result<std::unique_ptr<PayloadArchive>> PayloadArchive::Open(std::string bytes) {
  std::unique_ptr<PayloadArchive> archive(new PayloadArchive);
  archive->bytes_ = std::move(bytes);
  const std::string& data = archive->bytes_;

  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(data.data(), data.size(), 0, &error);
  if (source == nullptr) {
    Error e = ZipError(&error);
    zip_error_fini(&error);
    return e;
  }
  archive->zip_ = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (archive->zip_ == nullptr) {
    zip_source_free(source);
    bool memory = zip_error_code_zip(&error) == ZIP_ER_MEMORY;
    Error e = memory ? ZipError(&error) : Error(kZipNotValid);
    zip_error_fini(&error);
    return e;
  }
  zip_error_fini(&error);

  zip_t* z = archive->zip_;
  Result<std::vector<ZipEntry>> entries = ReadCentralDirectory(
      data, [z](const std::vector<ZipEntry>& found) { return SameMembers(z, found); });
  if (!entries.ok()) return entries.error();
  archive->entries_ = std::move(*entries);
  return archive;
}

PayloadArchive::~PayloadArchive() {
  if (zip_ != nullptr) zip_discard(zip_);
}

Result<std::unique_ptr<MemberReader>> PayloadArchive::OpenMember(size_t index) {
  const ZipEntry& entry = entries_.at(index);
  Status header = CheckLocalHeader(bytes_, entry);
  if (!header.ok()) return header.error();
  if (entry.method != kMethodStore && entry.method != kMethodDeflate) {
    return Error(kZipUnsupportedMethod);
  }
  zip_file_t* file = zip_fopen_index(zip_, index, 0);
  if (file == nullptr) return ZipError(zip_get_error(zip_));
  return std::make_unique<MemberReader>(file, entry.size);
}

}  // namespace quorvane
