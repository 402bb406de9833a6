#include "support/payload_fixture.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <openssl/evp.h>

#include <cstdlib>
#include <ctime>
#include <list>
#include <stdexcept>

#include "support/test_support.h"

namespace quorvane::testing {
namespace {

// 2026-01-01 00:00 UTC: a fixed member time keeps archives reproducible.
constexpr time_t kMemberTime = 1767225600;

[[noreturn]] void Fail(const std::string& what, zip_error_t* error) {
  std::string text = what + ": " + zip_error_strerror(error);
  zip_error_fini(error);
  throw std::runtime_error(text);
}

[[noreturn]] void Fail(const std::string& what, zip_t* archive) {
  std::string text = what + ": " + zip_strerror(archive);
  zip_discard(archive);
  throw std::runtime_error(text);
}

// Adds one member; its data must stay alive until the archive is closed.
void AddMember(zip_t* archive, const ZipMember& member, const std::string& data) {
  zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
  if (source == nullptr) Fail("zip_source_buffer " + member.name, archive);
  zip_int64_t index = zip_file_add(archive, member.name.c_str(), source, ZIP_FL_ENC_RAW);
  if (index < 0) {
    zip_source_free(source);
    Fail("zip_file_add " + member.name, archive);
  }
  auto i = static_cast<zip_uint64_t>(index);
  bool deflate = member.deflate && !member.directory;
  if (zip_set_file_compression(archive, i, deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) != 0 ||
      zip_file_set_external_attributes(archive, i, 0, member.made_by_host,
                                       member.external_attributes) != 0 ||
      zip_file_set_mtime(archive, i, kMemberTime, 0) != 0) {
    Fail("attributes of " + member.name, archive);
  }
}

// The whole contents of a libzip source.
std::string SourceBytes(zip_source_t* source) {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_source_stat(source, &st) != 0 || zip_source_open(source) != 0) {
    throw std::runtime_error("cannot read back the archive");
  }
  std::string bytes(st.size, '\0');
  zip_int64_t n = zip_source_read(source, bytes.data(), bytes.size());
  zip_source_close(source);
  if (n < 0 || static_cast<zip_uint64_t>(n) != st.size) {
    throw std::runtime_error("short read of the archive");
  }
  return bytes;
}

std::string ReadMemberData(zip_t* archive, zip_uint64_t index) {
  zip_file_t* file = zip_fopen_index(archive, index, 0);
  if (file == nullptr) Fail("zip_fopen_index", archive);
  std::string data;
  char buf[65536];
  zip_int64_t n;
  while ((n = zip_fread(file, buf, sizeof buf)) > 0) data.append(buf, static_cast<size_t>(n));
  zip_fclose(file);
  if (n < 0) Fail("zip_fread", archive);
  return data;
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

std::string BuildZip(const std::vector<ZipMember>& members) {
  if (members.empty()) {
    // libzip writes nothing at all for an empty archive; an archive without
    // members is just its end-of-central-directory record.
    return std::string("PK\x05\x06", 4) + std::string(18, '\0');
  }
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (buffer == nullptr) Fail("zip_source_buffer_create", &error);
  zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  if (archive == nullptr) {
    zip_source_free(buffer);
    Fail("zip_open_from_source", &error);
  }
  zip_error_fini(&error);
  zip_source_keep(buffer);  // survives zip_close so that its bytes can be read
  std::list<std::string> data;  // stable storage until zip_close
  try {
    for (const ZipMember& m : members) {
      data.push_back(m.directory ? std::string() : m.content);
      AddMember(archive, m, data.back());
    }
  } catch (...) {
    zip_source_free(buffer);
    throw;
  }
  if (zip_close(archive) != 0) {
    zip_source_free(buffer);
    Fail("zip_close", archive);
  }
  std::string bytes = SourceBytes(buffer);
  zip_source_free(buffer);
  return bytes;
}

std::vector<ReadMember> ReadZip(const std::string& archive_bytes) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source =
      zip_source_buffer_create(archive_bytes.data(), archive_bytes.size(), 0, &error);
  if (source == nullptr) Fail("zip_source_buffer_create", &error);
  zip_t* archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (archive == nullptr) {
    zip_source_free(source);
    Fail("zip_open_from_source", &error);
  }
  zip_error_fini(&error);
  std::vector<ReadMember> members;
  zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
    ReadMember m;
    zip_stat_t st;
    if (zip_stat_index(archive, i, ZIP_FL_ENC_RAW, &st) != 0) Fail("zip_stat_index", archive);
    m.name = st.name;
    m.method = st.comp_method;
    if (zip_file_get_external_attributes(archive, i, 0, &m.made_by_host,
                                         &m.external_attributes) != 0) {
      Fail("zip_file_get_external_attributes", archive);
    }
    m.content = ReadMemberData(archive, i);
    members.push_back(m);
  }
  zip_discard(archive);
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

std::string ChecksumList(const std::vector<std::pair<std::string, std::string>>& files) {
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
                 ChecksumList({{"quorvane.so", library}, {"quorvane", program}})),
      FileMember("licenses/LICENSE.txt", license),
      FileMember("licenses/checksums.txt", ChecksumList({{"LICENSE.txt", license}})),
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

}  // namespace quorvane::testing
