#include "installer/archive/checksums.h"

#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string_view>

#include "common/owned.h"
#include "common/path.h"

namespace quorvane {
namespace {

constexpr size_t kReadPiece = 64 * 1024;

// Splits "digest name" at its first blank; nullopt when the line is invalid.
std::optional<FileChecksum> ParseLine(std::string_view line) {
  size_t blank = line.find(' ');
  if (blank == std::string_view::npos || blank != 64 || blank + 1 == line.size()) {
    return std::nullopt;
  }
  FileChecksum entry;
  entry.FileSha256 = std::string(line.substr(0, blank));
  entry.FileName = std::string(line.substr(blank + 1));
  return entry;
}

// Removes one "\r" at the end of a line.
std::string_view DropCR(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Appends the entry for one line, or fails when the line is invalid.
Status TakeLine(std::string_view line, ChecksumList& list) {
  line = DropCR(line);
  std::optional<FileChecksum> entry = ParseLine(line);
  if (!entry) return Error("invalid line: " + std::string(line));
  list.push_back(std::move(*entry));
  return Status::Ok();
}

std::string HexDigest(const unsigned char* digest, unsigned int len) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * len);
  for (unsigned int i = 0; i < len; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 0x0f];
  }
  return out;
}

struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

}  // namespace

ChecksumList::ChecksumList(std::initializer_list<FileChecksum> entries) {
  for (const FileChecksum& entry : entries) push_back(entry);
}

void ChecksumList::push_back(FileChecksum entry) {
  first_.try_emplace(entry.FileName, entries_.size());
  entries_.push_back(std::move(entry));
}

FileChecksum* ChecksumList::FindFirst(std::string_view name) {
  auto it = first_.find(std::string(name));
  return it == first_.end() ? nullptr : &entries_[it->second];
}

Result<ChecksumList> parseChecksumsFile(ByteSource& reader) {
  ChecksumList list;
  std::string pending;  // bytes after the last "\n" seen so far
  char buf[4096];
  for (;;) {
    Result<size_t> n = reader.Read(buf, sizeof buf);
    if (!n.ok() || *n == 0) break;  // a failed read ends the data like its end
    pending.append(buf, *n);
    size_t start = 0;
    for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
      if (nl - start > kMaxChecksumLineLength) return list;
      Status taken = TakeLine(std::string_view(pending).substr(start, nl - start), list);
      if (!taken.ok()) return taken.error();
    }
    pending.erase(0, start);
    if (pending.size() > kMaxChecksumLineLength) return list;
  }
  if (!pending.empty()) {
    Status taken = TakeLine(pending, list);
    if (!taken.ok()) return taken.error();
  }
  return list;
}

Result<std::string> computeFileSha256(const FileAt& file) {
  const std::string& path = file.path;
  Result<UniqueFd> opened = OpenAt(file, O_RDONLY);
  if (!opened.ok()) return opened.error();
  const UniqueFd& fd = *opened;

  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
    return Error("sha256: cannot set up the digest");
  }
  std::unique_ptr<char[]> buf(new char[kReadPiece]);
  for (;;) {
    ssize_t n = read(fd.get(), buf.get(), kReadPiece);
    if (n < 0) {
      if (errno == EINTR) continue;
      return SysError("read", path, errno);
    }
    if (n == 0) break;
    if (EVP_DigestUpdate(ctx.get(), buf.get(), static_cast<size_t>(n)) != 1) {
      return Error("sha256: cannot update the digest");
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &len) != 1) {
    return Error("sha256: cannot finish the digest");
  }
  return HexDigest(digest, len);
}

Status verifyFileChecksumIntegrity(const FileAt& file, ChecksumList& list) {
  Result<std::string> digest = computeFileSha256(file);
  if (!digest.ok()) return digest.error();
  std::string name = BaseName(file.path);
  FileChecksum* entry = list.FindFirst(name);
  if (entry == nullptr) return Error("file " + name + " not found in checksum list");
  if (entry->Validated) {
    return Error("file integrity failed for " + name + " (" + *digest + "), already validated");
  }
  if (entry->FileSha256 != *digest) {
    return Error("file integrity failed for " + name + " (" + *digest + "), expected " +
                 entry->FileSha256);
  }
  entry->Validated = true;
  return Status::Ok();
}

}  // namespace quorvane
