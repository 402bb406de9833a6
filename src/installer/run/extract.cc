#include "installer/run/extract.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <new>
#include <optional>

#include "common/file_calls.h"
#include "common/owned.h"
#include "common/path.h"
#include "common/write_all.h"
#include "installer/archive/checksums.h"
#include "installer/archive/payload_section.h"
#include "installer/constants.h"
#include "installer/run/exit_codes.h"

namespace quorvane {
namespace {

constexpr size_t kCopyPiece = 64 * 1024;

// The part of a member's name after its last "/".
std::string MemberBaseName(const std::string& name) {
  size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Streams the member's data into the file in pieces.
Status CopyMember(MemberReader& member, int fd, const std::string& path) {
  std::unique_ptr<char[]> buf(new (std::nothrow) char[kCopyPiece]);
  if (buf == nullptr) return ErrnoError(ENOMEM);
  for (;;) {
    Result<size_t> n = member.Read(buf.get(), kCopyPiece);
    if (!n.ok()) return n.error();
    if (*n == 0) return Status::Ok();
    Status written = WriteAll(fd, std::string_view(buf.get(), *n), path);
    if (!written.ok()) return written;
  }
}

// The list of a pass, parsed before any file of the prefix is written. The
// list member stays open until the pass ends.
struct PassList {
  std::unique_ptr<MemberReader> member;
  ChecksumList entries;
};

// The list's entries; memory that runs out while they are read is the
// parse's failure.
Result<ChecksumList> ParseList(MemberReader& member) {
  try {
    return parseChecksumsFile(member);
  } catch (const std::bad_alloc&) {
    return ErrnoError(ENOMEM);
  }
}

// Finds, opens and parses listName; nullopt when the pass must fail.
std::optional<PassList> LoadList(InstallerLog& log, PayloadArchive& archive,
                                 const std::string& listName) {
  const std::vector<ZipEntry>& entries = archive.entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (IsDirectoryMember(entries[i]) || entries[i].name != listName) continue;
    Result<std::unique_ptr<MemberReader>> member = archive.OpenMember(i);
    if (!member.ok()) {
      log.Logf("[ERROR] Cannot open zip file: %s. (%s)", entries[i].name, member.error());
      return std::nullopt;
    }
    Result<ChecksumList> list = ParseList(**member);
    if (!list.ok()) {
      log.Logf("[ERROR] Cannot parse %s. (%s)", entries[i].name, list.error());
      return std::nullopt;
    }
    return PassList{std::move(*member), std::move(*list)};
  }
  log.Logf("[ERROR] Couldn't find %s", listName);
  return std::nullopt;
}

// The directory a pass writes into, held; nullopt when its status cannot be
// known. A directory that cannot be opened is no failure yet: it shows when
// the first file cannot be created in it.
struct Destination {
  FileAt dir;
  UniqueFd held;
  std::optional<Error> open_error;
};

std::optional<Destination> OpenDestination(const FileAt& installDir, const std::string& prefix,
                                           bool toRoot) {
  if (toRoot) return Destination{installDir, UniqueFd(), std::nullopt};
  const FileAt entry = installDir.Entry(prefix);
  Result<struct stat> st = StatAt(entry, 0, "stat");
  if (!st.ok()) {
    if (st.error().errnum != ENOENT) return std::nullopt;
    // A failure here shows when the first file cannot be created in it.
    (void)MakeDirectoryAt(entry, kLicensesDirMode);
  }
  Result<UniqueFd> fd = OpenDirectoryAt(entry);
  if (!fd.ok()) return Destination{entry, UniqueFd(), fd.error()};
  const int held = fd->get();
  return Destination{FileAt::Held(held, entry.path), std::move(*fd), std::nullopt};
}

struct Pass {
  InstallerLog& log;
  PayloadArchive& archive;
  const std::string& prefix;
  bool toRoot;
  std::string listName;
  const Destination& destination;
  ChecksumList& list;
};

// Opens the target for writing, creating or emptying it.
Result<UniqueFd> CreateTarget(const Pass& pass, const FileAt& target) {
  if (pass.destination.open_error) {
    return SysError("open", target.path, pass.destination.open_error->errnum);
  }
  return OpenAt(target, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, kWrittenFileMode);
}

// Writes, secures and verifies one file member.
bool WriteMember(Pass& pass, size_t index) {
  const ZipEntry& entry = pass.archive.entries()[index];
  std::string base = MemberBaseName(entry.name);
  Result<std::unique_ptr<MemberReader>> member = pass.archive.OpenMember(index);
  if (!member.ok()) {
    pass.log.Logf("[ERROR] Cannot open zip file: %s. (%s)", entry.name, member.error());
    return false;
  }
  pass.log.Logf("[INFO ]         %-40s  ->  %s", entry.name,
                pass.toRoot ? base : JoinPath(pass.prefix, base));

  const FileAt target = pass.destination.dir.Entry(base);
  Result<UniqueFd> fd = CreateTarget(pass, target);
  if (!fd.ok()) {
    member.value().reset();
    pass.log.Logf("[ERROR] Cannot create file: %s. (%s)", target.path, fd.error());
    return false;
  }
  Status copied = CopyMember(**member, fd->get(), target.path);
  fd.value().reset();
  member.value().reset();
  if (!copied.ok()) {
    pass.log.Logf("[ERROR] Cannot write file: %s. (%s)", target.path, copied.error());
    return false;
  }

  Status secured = secureFile(target);
  if (!secured.ok()) {
    pass.log.Logf("[ERROR] Cannot secure file: %s. (%s)", target.path, secured.error());
    return false;
  }
  if (entry.name == pass.listName) return true;  // the list is never checked against itself
  Status verified = verifyFileChecksumIntegrity(target, pass.list);
  if (!verified.ok()) {
    pass.log.Logf("[ERROR] Cannot validate integrity of file: %s. (%s)", entry.name,
                  verified.error());
    return false;
  }
  return true;
}

// Memory that runs out while a member is written, secured or verified is
// the failure to write it.
bool ExtractMember(Pass& pass, size_t index) {
  try {
    return WriteMember(pass, index);
  } catch (const std::bad_alloc&) {
    try {
      const std::string& name = pass.archive.entries()[index].name;
      const FileAt target = pass.destination.dir.Entry(MemberBaseName(name));
      pass.log.Logf("[ERROR] Cannot write file: %s. (%s)", target.path, ErrnoError(ENOMEM));
    } catch (const std::bad_alloc&) {
      // Not even the line could be made; the driver's line still follows.
    }
    return false;
  }
}

}  // namespace

Status secureFile(const FileAt& file) {
  if (!file.path.ends_with(".so")) return Status::Ok();
  return ChangeModeAt(file, kSecuredFileMode);
}

bool extractPrefix(InstallerLog& log, PayloadArchive& archive, const FileAt& installDir,
                   const std::string& prefix, bool toRoot) {
  std::string listName = prefix + "/" + kChecksumsListBaseName;
  std::optional<PassList> list = LoadList(log, archive, listName);
  if (!list) return false;
  if (list->entries.empty()) {
    log.Logf("[ERROR] Invalid %s file", listName);
    return false;
  }
  std::optional<Destination> destination = OpenDestination(installDir, prefix, toRoot);
  if (!destination) return false;

  Pass pass{log, archive, prefix, toRoot, listName, *destination, list->entries};
  const std::vector<ZipEntry>& entries = archive.entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].name.starts_with(prefix) || IsDirectoryMember(entries[i])) continue;
    if (!ExtractMember(pass, i)) return false;
  }
  for (const FileChecksum& entry : list->entries) {
    if (entry.Validated) continue;
    log.Logf("[ERROR] Found unused file: %s (%s)", entry.FileName, entry.FileSha256);
    return false;
  }
  return true;
}

bool dropFiles(InstallerLog& log, const std::string& installerPath, const FileAt& installDir,
               const embeddedArch& arch, std::string* mainFile) {
  Result<std::string> payload = getPayloadData(installerPath);
  if (!payload.ok()) {
    // An archive too large for the memory left is the archive reader's
    // failure; any other failure to read the section has no line.
    if (payload.error().errnum == ENOMEM) {
      log.Logf("[ERROR] Cannot create zip object. (%s)", payload.error());
    }
    return false;
  }
  if (payload->empty()) {
    log.Logf("[ERROR] Payload size is zero.");
    return false;
  }
  Result<std::unique_ptr<PayloadArchive>> archive = PayloadArchive::Open(std::move(*payload));
  if (!archive.ok()) {
    log.Logf("[ERROR] Cannot create zip object. (%s)", archive.error());
    return false;
  }
  if (!extractPrefix(log, **archive, installDir, arch.String(), true)) return false;

  const FileAt main = installDir.Entry(payloadExecutableName);
  if (Result<struct stat> st = StatAt(main, 0, "stat"); !st.ok()) {
    log.Logf("[ERROR] Cannot access main file: %s. (%s)", main.path, st.error());
    return false;
  }
  if (Status secured = ChangeModeAt(main, kSecuredFileMode); !secured.ok()) {
    log.Logf("[ERROR] Failed to add execute permissions to %s. (%s)", main.path, secured.error());
    return false;
  }
  if (!extractPrefix(log, **archive, installDir, kLicensesPrefix, false)) return false;
  *mainFile = main.path;
  return true;
}

bool ExtractPayload(RunState& run) {
  run.log.Logf("[INFO ] Extracting files to: %s", run.installDir);
  const FileAt installDir = FileAt::Held(run.installDirFd.get(), run.installDir);
  if (!dropFiles(run.log, run.installerPath, installDir, payloadArch, &run.mainFile)) {
    run.log.Logf("[ERROR] Cannot extract files to folder");
    run.exitCode = exitExtractFailed;
    return false;
  }
  return true;
}

}  // namespace quorvane
