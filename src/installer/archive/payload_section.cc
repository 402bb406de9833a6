#include "installer/archive/payload_section.h"

#include <errno.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>

#include "common/file_calls.h"
#include "common/owned.h"

namespace quorvane {
namespace {

Error ElfError(const std::string& path) {
  const char* message = elf_errmsg(-1);
  return PathError("elf", path, message != nullptr ? message : "unknown error");
}

// The header of the first section of that name, in table order.
Result<std::optional<GElf_Shdr>> FindSection(Elf* elf, const std::string& path, const char* name) {
  size_t names = 0;
  if (elf_getshdrstrndx(elf, &names) != 0) return ElfError(path);
  for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn != nullptr; scn = elf_nextscn(elf, scn)) {
    GElf_Shdr header;
    if (gelf_getshdr(scn, &header) == nullptr) return ElfError(path);
    const char* found = elf_strptr(elf, names, header.sh_name);
    if (found != nullptr && strcmp(found, name) == 0) return std::optional<GElf_Shdr>(header);
  }
  return std::optional<GElf_Shdr>();
}

// Reads length bytes at offset, which the caller has checked to lie in the file.
// Memory for the contents that cannot be had is "cannot allocate memory".
Result<std::string> ReadAt(int fd, const std::string& path, uint64_t offset, uint64_t length) {
  std::string data;
  try {
    data.resize(length);
  } catch (const std::bad_alloc&) {
    return ErrnoError(ENOMEM);
  } catch (const std::length_error&) {
    return ErrnoError(ENOMEM);
  }
  uint64_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd, data.data() + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return SysError("read", path, errno);
    }
    if (n == 0) return Error("unexpected EOF");
    done += static_cast<uint64_t>(n);
  }
  return data;
}

Result<std::string> SectionContents(int fd, Elf* elf, const std::string& path) {
  Result<std::optional<GElf_Shdr>> found = FindSection(elf, path, payloadSectionName);
  if (!found.ok()) return found.error();
  if (!found->has_value()) {
    return Error(std::string("couldn't find ") + payloadSectionName + " section");
  }
  const GElf_Shdr& header = **found;
  // A section without file bytes has no contents in the file.
  if (header.sh_type == SHT_NOBITS) return std::string();

  struct stat st;
  if (fstat(fd, &st) != 0) return SysError("stat", path, errno);
  uint64_t file_size = static_cast<uint64_t>(st.st_size);
  if (header.sh_offset > file_size || header.sh_size > file_size - header.sh_offset) {
    return Error("section " + std::string(payloadSectionName) + " of " + path +
                 " lies outside the file");
  }
  return ReadAt(fd, path, header.sh_offset, header.sh_size);
}

struct ElfTraits {
  static Elf* Empty() { return nullptr; }
  static void Release(Elf* elf) { elf_end(elf); }
};

Result<std::string> ReadPayload(int fd, const std::string& path) {
  if (elf_version(EV_CURRENT) == EV_NONE) return ElfError(path);
  Owned<Elf*, ElfTraits> elf(elf_begin(fd, ELF_C_READ, nullptr));
  if (!elf.valid()) return ElfError(path);
  if (elf_kind(elf.get()) != ELF_K_ELF) return PathError("elf", path, "not an ELF file");
  return SectionContents(fd, elf.get(), path);
}

}  // namespace

Result<std::string> getPayloadData(const std::string& path) {
  Result<UniqueFd> fd = OpenAt(FileAt(path), O_RDONLY);
  if (!fd.ok()) return fd.error();
  return ReadPayload(fd->get(), path);
}

}  // namespace quorvane
