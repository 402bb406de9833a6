// The extraction of an arbitrary archive, in the two passes of an install
// (the arch prefix into the install directory, then the licences into their
// subdirectory). Properties: nothing appears outside the install directory,
// and after a pass that succeeded every entry of its list names a file in
// the pass's directory whose SHA-256 is the listed one. An entry named like
// the list itself is passed over: the list member is written unverified and
// may replace a file of that name that another member's verification matched
// (a list that names itself is malformed; the pass does not refuse it).
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/path.h"
#include "fuzz_support.h"
#include "installer/archive/checksums.h"
#include "installer/archive/payload_archive.h"
#include "installer/constants.h"
#include "installer/log/log.h"
#include "installer/run/extract.h"

namespace {

using namespace quorvane;
using quorvane::fuzz::Check;

struct Area {
  std::string root;        // snapshotted as a whole
  std::string installDir;  // root/outer/install
};

const Area& TheArea() {
  static const Area area = [] {
    Area a;
    a.root = fuzz::ScratchFor("extract");
    std::string outer = a.root + "/outer";
    mkdir(outer.c_str(), 0700);
    fuzz::WriteMarker(a.root + "/sibling");
    a.installDir = outer + "/install";
    return a;
  }();
  return area;
}

// The list of prefix as the archive holds it, read from a separate copy.
std::optional<ChecksumList> ListOf(const std::string& bytes, const std::string& prefix) {
  auto archive = PayloadArchive::Open(bytes);
  if (!archive.ok()) return std::nullopt;
  const std::string name = prefix + "/" + kChecksumsListBaseName;
  const auto& entries = (*archive)->entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (IsDirectoryMember(entries[i]) || entries[i].name != name) continue;
    auto member = (*archive)->OpenMember(i);
    if (!member.ok()) return std::nullopt;
    auto list = parseChecksumsFile(**member);
    if (!list.ok()) return std::nullopt;
    return *list;
  }
  return std::nullopt;
}

void CheckWrittenFiles(const std::string& bytes, const std::string& prefix,
                       const std::string& dir) {
  std::optional<ChecksumList> list = ListOf(bytes, prefix);
  Check(list.has_value(), "a pass succeeded without a readable list", prefix);
  for (const FileChecksum& entry : *list) {
    if (entry.FileName == kChecksumsListBaseName) continue;
    const std::string path = JoinPath(dir, entry.FileName);
    struct stat st;
    Check(lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode), "listed file missing", path);
    auto digest = computeFileSha256(path);
    Check(digest.ok() && *digest == entry.FileSha256, "validated file differs from its list", path);
  }
}

// The two passes of an install; false once one fails.
void Install(const std::string& bytes, const Area& area) {
  auto archive = PayloadArchive::Open(bytes);
  if (!archive.ok()) return;
  InstallerLog log;
  log.initInstallerLog(std::string(), false);
  const std::string arch = payloadArch.String();
  if (!extractPrefix(log, **archive, area.installDir, arch, true)) return;
  CheckWrittenFiles(bytes, arch, area.installDir);
  if (!extractPrefix(log, **archive, area.installDir, kLicensesPrefix, false)) return;
  CheckWrittenFiles(bytes, kLicensesPrefix, JoinPath(area.installDir, kLicensesPrefix));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Area& area = TheArea();
  if (mkdir(area.installDir.c_str(), 0700) != 0) fuzz::Die("mkdir", area.installDir);
  const fuzz::TreeSnapshot before = fuzz::Snapshot(area.root);

  Install(std::string(reinterpret_cast<const char*>(data), size), area);

  fuzz::TreeSnapshot after = fuzz::Snapshot(area.root);
  const std::string inside = area.installDir + "/";
  std::erase_if(after, [&](const auto& e) { return e.first.starts_with(inside); });
  Check(after == before, "the extraction changed something outside the install directory");
  test::RemoveTree(area.installDir);
  return 0;
}
