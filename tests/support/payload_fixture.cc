#include "support/payload_fixture.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <stdexcept>

#include "installer/archive/payload_archive.h"
#include "support/test_support.h"

namespace quorvane::test {
namespace {

// 2026-01-01 00:00 in MS-DOS date and time: a fixed member time keeps
// archives reproducible.
constexpr uint16_t kMemberDate = (2026 - 1980) << 9 | 1 << 5 | 1;
constexpr uint16_t kMemberTime = 0;
constexpr uint16_t kVersion = 20;  // 2.0: DEFLATE, directories

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xff);
  out += static_cast<char>((v >> 8) & 0xff);
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}

// Raw DEFLATE data, as the archive stores it.
std::string Deflate(const std::string& data) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

// The fields that the local header and the directory entry share, from
// "version needed" to the extra field's length.
std::string SharedFields(const ZipMember& m, uint16_t method, uint32_t crc, size_t stored,
                         size_t size) {
  std::string out;
  Put16(out, kVersion);
  Put16(out, m.flags);
  Put16(out, method);
  Put16(out, kMemberTime);
  Put16(out, kMemberDate);
  Put32(out, crc);
  Put32(out, static_cast<uint32_t>(stored));
  Put32(out, static_cast<uint32_t>(size));
  Put16(out, static_cast<uint32_t>(m.name.size()));
  Put16(out, static_cast<uint32_t>(m.extra.size()));
  return out;
}

}  // namespace

ZipMember FileMember(const std::string& name, const std::string& content) {
  ZipMember m;
  m.name = name;
  m.content = content;
  m.external_attributes = kFileAttributes;
  return m;
}

ZipMember DirectoryMember(const std::string& name) {
  ZipMember m;
  m.name = name;
  m.directory = true;
  m.deflate = false;
  m.external_attributes = kDirectoryAttributes;
  return m;
}

std::string BuildZip(const std::vector<ZipMember>& members, const std::string& comment) {
  std::string archive, directory;
  for (const ZipMember& m : members) {
    const std::string data = m.directory ? std::string() : m.content;
    const bool deflate = m.deflate && !m.directory;
    const std::string stored = deflate ? Deflate(data) : data;
    const uint32_t crc = static_cast<uint32_t>(crc32(crc32(0, nullptr, 0),
                                                     reinterpret_cast<const Bytef*>(data.data()),
                                                     static_cast<uInt>(data.size())));
    const std::string shared = SharedFields(m, deflate ? 8 : 0, crc, stored.size(), data.size());
    const uint32_t offset = static_cast<uint32_t>(archive.size());
    Put32(archive, 0x04034b50);
    archive += shared + m.name + m.extra + stored;

    Put32(directory, 0x02014b50);
    Put16(directory, static_cast<uint32_t>(m.made_by_host) << 8 | kVersion);
    directory += shared;
    Put16(directory, 0);  // comment length
    Put16(directory, 0);  // disk number
    Put16(directory, 0);  // internal attributes
    Put32(directory, m.external_attributes);
    Put32(directory, offset);
    directory += m.name + m.extra;
  }
  const uint32_t directory_offset = static_cast<uint32_t>(archive.size());
  archive += directory;
  Put32(archive, 0x06054b50);
  Put16(archive, 0);  // this disk
  Put16(archive, 0);  // the directory's disk
  Put16(archive, static_cast<uint32_t>(members.size()));
  Put16(archive, static_cast<uint32_t>(members.size()));
  Put32(archive, static_cast<uint32_t>(directory.size()));
  Put32(archive, directory_offset);
  Put16(archive, static_cast<uint32_t>(comment.size()));
  return archive + comment;
}

std::vector<ReadMember> ReadZip(const std::string& archive_bytes) {
  Result<std::unique_ptr<PayloadArchive>> archive = PayloadArchive::Open(archive_bytes);
  if (!archive.ok()) throw std::runtime_error("ReadZip: " + archive.error().message);
  std::vector<ReadMember> members;
  const std::vector<ZipEntry>& entries = archive.value()->entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    ReadMember m;
    m.name = entries[i].name;
    m.method = entries[i].method;
    m.made_by_host = entries[i].made_by_host;
    m.external_attributes = entries[i].external_attributes;
    Result<std::unique_ptr<MemberReader>> reader = archive.value()->OpenMember(i);
    if (!reader.ok()) throw std::runtime_error("ReadZip " + m.name + ": " + reader.error().message);
    char buf[65536];
    for (;;) {
      Result<size_t> n = reader.value()->Read(buf, sizeof buf);
      if (!n.ok()) throw std::runtime_error("ReadZip " + m.name + ": " + n.error().message);
      if (*n == 0) break;
      m.content.append(buf, *n);
    }
    members.push_back(m);
  }
  return members;
}

std::string Sha256Hex(const std::string& data) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), md, &length, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("EVP_Digest failed");
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[md[i] >> 4];
    hex += kHex[md[i] & 0xf];
  }
  return hex;
}

std::string ChecksumListText(const std::vector<std::pair<std::string, std::string>>& files) {
  std::string list;
  for (const auto& [name, content] : files) {
    if (!list.empty()) list += '\n';
    list += Sha256Hex(content) + " " + name;
  }
  return list;
}

std::vector<ZipMember> StandardPayloadMembers(const std::string& program) {
  std::string library = kStandardLibrary;
  std::string license = kStandardLicense;
  return {
      DirectoryMember("amd64/"),
      DirectoryMember("licenses/"),
      FileMember("amd64/quorvane.so", library),
      FileMember("amd64/quorvane", program),
      FileMember("amd64/checksums.txt",
                 ChecksumListText({{"quorvane.so", library}, {"quorvane", program}})),
      FileMember("licenses/LICENSE.txt", license),
      FileMember("licenses/checksums.txt", ChecksumListText({{"LICENSE.txt", license}})),
  };
}

std::string StandardPayloadArchive(const std::string& program) {
  return BuildZip(StandardPayloadMembers(program));
}

std::string FindOnPath(const std::string& name) {
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr && *path != '\0' ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

bool HasSection(const std::string& path, const std::string& name) {
  elf_version(EV_CURRENT);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  Elf* elf = elf_begin(fd, ELF_C_READ, nullptr);
  size_t shstrndx = 0;
  bool found = false;
  if (elf != nullptr && elf_getshdrstrndx(elf, &shstrndx) == 0) {
    for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn != nullptr && !found;
         scn = elf_nextscn(elf, scn)) {
      GElf_Shdr header;
      const char* s = gelf_getshdr(scn, &header) != nullptr
                          ? elf_strptr(elf, shstrndx, header.sh_name)
                          : nullptr;
      found = s != nullptr && name == s;
    }
  }
  if (elf != nullptr) elf_end(elf);
  close(fd);
  return found;
}

namespace {

void RunObjcopy(const std::vector<std::string>& args) {
  std::string objcopy = FindOnPath("objcopy");
  if (objcopy.empty()) throw std::runtime_error("objcopy not found on PATH");
  std::vector<std::string> argv = {"objcopy"};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessResult r = RunProgram(objcopy, argv, {"PATH=/usr/bin:/bin", "LC_ALL=C"}, "");
  if (r.exit_status != 0) throw std::runtime_error("objcopy failed: " + r.err);
}

}  // namespace

void AddPayloadSection(const std::string& source, const std::string& target,
                       const std::string& archive) {
  std::string section_file = target + ".quorvane-section";
  WriteFile(section_file, archive, 0600);
  try {
    if (!HasSection(source, ".quorvane")) {
      RunObjcopy({"--add-section", ".quorvane=" + section_file, "--set-section-flags",
                  ".quorvane=noload,readonly", source, target});
    } else {
      // objcopy refuses to add a section under a name already present, but
      // renames onto one; the new section stands after the old.
      RunObjcopy({"--add-section", ".quorvane-2=" + section_file, "--set-section-flags",
                  ".quorvane-2=noload,readonly", source, target});
      RunObjcopy({"--rename-section", ".quorvane-2=.quorvane", target});
    }
  } catch (...) {
    unlink(section_file.c_str());
    throw;
  }
  unlink(section_file.c_str());
  if (chmod(target.c_str(), 0755) != 0) throw std::runtime_error("chmod " + target);
}

std::string PackInstaller(const std::string& dir, const std::string& archive) {
  std::string target = dir + "/quorvane-installer";
  AddPayloadSection(InstallerBinary(), target, archive);
  return target;
}

}  // namespace quorvane::test
