// The extraction step inside runs of the real installer: every way it can
// fail, and a payload shaped like the shipped one with its modes and bytes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/path.h"
#include "installer/log/log.h"
#include "support/installer_fixture.h"
#include "support/log_lines.h"
#include "support/payload_fixture.h"
#include "support/shipped_payload.h"
#include "support/test_support.h"
#include "support/zip_patch.h"

namespace quorvane {
namespace {

using test::FileMember;
using test::ReadFile;

// A scratch tree of the runs' own, empty at first.
struct ScratchDir : test::InstallerSandbox {
  ScratchDir() : InstallerSandbox(test::Words{}) {}
};
using test::kCleanupStart;
using test::Lines;
using test::Sha256Hex;
using test::ZipField;
using test::ZipMember;
using Members = std::vector<ZipMember>;

const std::string kProgram = "#!/bin/sh\nexit 0\n";
const std::string kExtracting = "[INFO ] Extracting files to: ";
const std::string kCannotExtract = "[ERROR] Cannot extract files to folder";
const std::string kRunning = "[INFO ] Running: ";
const std::string kKept = "[INFO ] Deleting temporary files ignored due command line arguments";

struct Outcome {
  int exit_status = -1;
  std::string installDir;  // from the "Extracting files to" line
  Lines extraction;        // the lines after it, up to the next step's first line
  std::string next;        // that first line of the next step, "" when none
};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

// Runs the installer with its temporary and debug directories in dir, under
// the file-creation mask given and, when address_space_kib is not 0, that limit
// of its address space, and splits its log around the extraction.
Outcome RunInstaller(const ScratchDir& dir, const std::string& installer, mode_t mask = 022,
                     Lines extra = {}, Lines* all = nullptr, long address_space_kib = 0) {
  const std::string tmp = dir / "tmp";
  const std::string debug = dir / "debug";
  mkdir(tmp.c_str(), 0700);
  mkdir(debug.c_str(), 0700);
  Lines args = {"--temp-dir", tmp, "--debug-dir", debug};
  args.insert(args.end(), extra.begin(), extra.end());
  test::RunOptions options;
  options.env = Lines{"TMPDIR=" + tmp, "PATH=/usr/bin:/bin"};
  options.cwd = dir.path();
  options.wrapper.umask = mask;
  if (address_space_kib != 0) {
    const rlim_t bytes = static_cast<rlim_t>(address_space_kib) * 1024;
    options.wrapper.limits = {{RLIMIT_AS, bytes, bytes}};
  }
  test::InstallerRun r = dir.RunInstaller(installer, args, options);

  Outcome out;
  out.exit_status = r.exit_status;
  Lines lines = test::LogLines(ReadFile(LogFilePath(debug)));
  if (all != nullptr) *all = lines;
  auto it = std::find_if(lines.begin(), lines.end(),
                         [](const std::string& l) { return StartsWith(l, kExtracting); });
  if (it == lines.end()) {
    ADD_FAILURE() << "no extraction line in " << ::testing::PrintToString(lines);
    return out;
  }
  out.installDir = it->substr(kExtracting.size());
  EXPECT_TRUE(StartsWith(out.installDir, tmp + "/quorvane_")) << out.installDir;
  auto end = std::find_if(it + 1, lines.end(), [](const std::string& l) {
    return StartsWith(l, kCleanupStart) || StartsWith(l, kRunning) || l == kKept;
  });
  out.extraction.assign(it + 1, end);
  if (end != lines.end()) out.next = *end;
  return out;
}

std::string Info(const std::string& name, const std::string& path) {
  return FormatLog("[INFO ]         %-40s  ->  %s", name, path);
}

// Standard members: [0] "amd64/", [1] "licenses/", [2] "amd64/quorvane.so",
// [3] "amd64/quorvane", [4] "amd64/checksums.txt", [5] "licenses/LICENSE.txt",
// [6] "licenses/checksums.txt".
Members Standard() { return test::StandardPayloadMembers(kProgram); }

// The first n lines of the standard "amd64" pass.
Lines Amd64Lines(size_t n) {
  Lines all = {Info("amd64/quorvane.so", "quorvane.so"), Info("amd64/quorvane", "quorvane"),
               Info("amd64/checksums.txt", "checksums.txt")};
  all.resize(n);
  return all;
}

Lines Plus(Lines lines, const Lines& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

// One way for extraction to fail. archive gives the section's bytes, or
// nullopt for an installer without the section; expected gives the lines
// logged before the driver's own, for the run's install directory.
struct FailureRow {
  const char* what;
  std::function<std::optional<std::string>()> archive;
  std::function<Lines(const std::string& installDir)> expected;
};

std::function<std::optional<std::string>()> Edited(std::function<void(Members&)> edit) {
  return [edit] {
    Members m = Standard();
    edit(m);
    return std::optional<std::string>(test::BuildZip(m));
  };
}

std::function<std::optional<std::string>()> Patched(std::function<void(std::string&)> patch) {
  return [patch] {
    std::string archive = test::BuildZip(Standard());
    patch(archive);
    return std::optional<std::string>(archive);
  };
}

std::function<Lines(const std::string&)> Fixed(Lines lines) {
  return [lines](const std::string&) { return lines; };
}

// An archive whose end record disagrees with its central directory.
std::function<std::optional<std::string>()> EndRecordPatched(
    std::function<void(std::string&)> patch) {
  return [patch] {
    Members m = Standard();
    m.push_back(FileMember("amd64/unlisted-extra", "not in the list"));
    std::string archive = test::BuildZip(m);
    patch(archive);
    return std::optional<std::string>(archive);
  };
}

void SetEntryCount(std::string& archive, uint32_t count) {
  test::SetZipEndField(archive, test::ZipEndField::kDiskEntries, count);
  test::SetZipEndField(archive, test::ZipEndField::kEntries, count);
}

void AddToDirectorySize(std::string& archive, int delta) {
  uint32_t size = test::GetZipEndField(archive, test::ZipEndField::kDirectorySize);
  test::SetZipEndField(archive, test::ZipEndField::kDirectorySize, size + delta);
}

// Raw DEFLATE data that decodes to data in a block that is not the last, and
// then meets a block header of the reserved type 3.
std::string DeflateThenReservedBlock(const std::string& data) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&z, Z_SYNC_FLUSH);  // ends byte-aligned, the stream still open
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_OK || z.avail_in != 0) throw std::runtime_error("deflate failed");
  return out + '\x07';  // the last block, of type 3
}

std::vector<FailureRow> FailureRows() {
  const std::string ghost(64, 'f');
  const std::string other_program = "#!/bin/sh\nexit 1\n";
  return {
      {"no section", [] { return std::optional<std::string>(); }, Fixed({})},
      {"empty section", [] { return std::optional<std::string>(""); },
       Fixed({"[ERROR] Payload size is zero."})},
      {"not a ZIP archive", [] { return std::optional<std::string>("MZ\x90 not an archive"); },
       Fixed({"[ERROR] Cannot create zip object. (zip: not a valid zip file)"})},
      {"missing list", Edited([](Members& m) { m.erase(m.begin() + 4); }),
       Fixed({"[ERROR] Couldn't find amd64/checksums.txt"})},
      {"list only as a directory member", Edited([](Members& m) {
         m[4].content = "";
         m[4].deflate = false;
         m[4].external_attributes = test::kDirectoryAttributes;
       }),
       Fixed({"[ERROR] Couldn't find amd64/checksums.txt"})},
      {"empty list", Edited([](Members& m) { m[4].content = ""; }),
       Fixed({"[ERROR] Invalid amd64/checksums.txt file"})},
      {"unlisted member",
       Edited([](Members& m) { m.insert(m.begin() + 4, FileMember("amd64/extra.dat", "e")); }),
       Fixed(Plus(Amd64Lines(2),
                  {Info("amd64/extra.dat", "extra.dat"),
                   "[ERROR] Cannot validate integrity of file: amd64/extra.dat. (file extra.dat "
                   "not found in checksum list)"}))},
      {"unused list entry, in the licences pass",
       Edited([=](Members& m) { m[6].content += "\n" + ghost + " ghost.txt"; }),
       Fixed(Plus(Amd64Lines(3), {Info("licenses/LICENSE.txt", "licenses/LICENSE.txt"),
                                  Info("licenses/checksums.txt", "licenses/checksums.txt"),
                                  "[ERROR] Found unused file: ghost.txt (" + ghost + ")"}))},
      {"wrong digest", Edited([=](Members& m) { m[3].content = other_program; }),
       Fixed(Plus(Amd64Lines(2),
                  {"[ERROR] Cannot validate integrity of file: amd64/quorvane. (file integrity "
                   "failed for quorvane (" +
                   Sha256Hex(other_program) + "), expected " + Sha256Hex(kProgram) + ")"}))},
      {"duplicate base name", Edited([](Members& m) {
         m.insert(m.begin() + 4, FileMember("amd64/bin/quorvane", kProgram));
       }),
       Fixed(Plus(Amd64Lines(2),
                  {Info("amd64/bin/quorvane", "quorvane"),
                   "[ERROR] Cannot validate integrity of file: amd64/bin/quorvane. (file "
                   "integrity failed for quorvane (" +
                       Sha256Hex(kProgram) + "), already validated)"}))},
      {"CRC error in the list member", Patched([](std::string& a) {
         uint32_t crc = test::GetZipField(a, "amd64/checksums.txt", ZipField::kCrc);
         test::SetZipField(a, "amd64/checksums.txt", ZipField::kCrc, crc ^ 0x01000000);
       }),
       [](const std::string& d) {
         return Plus(Amd64Lines(3),
                     {"[ERROR] Cannot write file: " + d + "/checksums.txt. (zip: checksum error)"});
       }},
      {"unsupported method", Patched([](std::string& a) {
         test::SetZipField(a, "amd64/quorvane", ZipField::kMethod, 14);  // LZMA
       }),
       Fixed(Plus(Amd64Lines(1), {"[ERROR] Cannot open zip file: amd64/quorvane. (zip: "
                                  "unsupported compression algorithm)"}))},
      {"prefix member with an unknown method, after members were written",
       [] {
         Members m = Standard();
         m.insert(m.begin() + 4, FileMember("amd64x/z", "z"));
         std::string a = test::BuildZip(m);
         test::SetZipField(a, "amd64x/z", ZipField::kMethod, 99);
         return std::optional<std::string>(a);
       },
       Fixed(Plus(Amd64Lines(2), {"[ERROR] Cannot open zip file: amd64x/z. (zip: unsupported "
                                  "compression algorithm)"}))},
      {"corrupt DEFLATE stream", Patched([](std::string& a) {
         // A final block of the reserved type 3.
         a[test::MemberDataOffset(a, "amd64/quorvane")] = 0x07;
       }),
       [](const std::string& d) {
         return Plus(Amd64Lines(2),
                     {"[ERROR] Cannot write file: " + d + "/quorvane. (zip: invalid block type)"});
       }},
      {"truncated licence member", Patched([](std::string& a) {
         const char* name = "licenses/LICENSE.txt";
         uint32_t size = test::GetZipField(a, name, ZipField::kCompressedSize);
         test::SetZipField(a, name, ZipField::kCompressedSize, size / 2);
       }),
       [](const std::string& d) {
         return Plus(Amd64Lines(3), {Info("licenses/LICENSE.txt", "licenses/LICENSE.txt"),
                                     "[ERROR] Cannot write file: " + d +
                                         "/licenses/LICENSE.txt. (unexpected EOF)"});
       }},
      {"directory holding more entries than the end record counts",
       EndRecordPatched([](std::string& a) { SetEntryCount(a, 7); }),
       Fixed({"[ERROR] Cannot create zip object. (zip: not a valid zip file)"})},
      {"end record counting no entries",
       EndRecordPatched([](std::string& a) { SetEntryCount(a, 0); }),
       Fixed({"[ERROR] Cannot create zip object. (zip: not a valid zip file)"})},
      {"directory size larger than the directory",
       EndRecordPatched([](std::string& a) { AddToDirectorySize(a, 46); }),
       Fixed({"[ERROR] Cannot create zip object. (zip: not a valid zip file)"})},
      {"directory size smaller than the directory",
       EndRecordPatched([](std::string& a) { AddToDirectorySize(a, -1); }),
       Fixed({"[ERROR] Cannot create zip object. (zip: not a valid zip file)"})},
      {"list whose lines decode before a reserved block",
       [] {
         Members m = Standard();
         const std::string list = m[4].content;
         m[4].content = DeflateThenReservedBlock(list);
         m[4].deflate = false;  // stored as written, then declared DEFLATE below
         std::string a = test::BuildZip(m);
         const char* name = "amd64/checksums.txt";
         test::SetZipField(a, name, ZipField::kMethod, 8);
         test::SetZipField(a, name, ZipField::kSize, static_cast<uint32_t>(list.size()));
         test::SetZipField(
             a, name, ZipField::kCrc,
             static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(list.data()),
                                         static_cast<uInt>(list.size()))));
         return std::optional<std::string>(a);
       },
       [](const std::string& d) {
         return Plus(Amd64Lines(3), {"[ERROR] Cannot write file: " + d +
                                     "/checksums.txt. (zip: invalid block type)"});
       }},
      {"member named ..",
       Edited([](Members& m) { m.insert(m.begin() + 2, FileMember("amd64/..", "x")); }),
       [](const std::string& d) {
         std::string parent = DirPart(d);
         return Lines{Info("amd64/..", ".."), "[ERROR] Cannot create file: " + parent + ". (open " +
                                                  parent + ": is a directory)"};
       }},
  };
}

TEST(ExtractionRun, EveryFailureLogsItsLinesAndEndsWithMinus13) {
  for (const FailureRow& row : FailureRows()) {
    SCOPED_TRACE(row.what);
    ScratchDir dir;
    std::optional<std::string> archive = row.archive();
    std::string installer =
        archive ? test::PackInstaller(dir.path(), *archive) : test::InstallerBinary();
    Outcome r = RunInstaller(dir, installer);
    EXPECT_EQ(r.exit_status, 243);
    EXPECT_EQ(r.extraction, Plus(row.expected(r.installDir), {kCannotExtract}));
    // The cleanup follows at once; the payload never runs.
    EXPECT_EQ(r.next, kCleanupStart + r.installDir);
    EXPECT_FALSE(test::Exists(r.installDir));
  }
}

// The end record: the last 22 bytes before a comment of comment_size bytes.
size_t EndRecord(const std::string& archive, size_t comment_size = 0) {
  return archive.size() - comment_size - 22;
}

void Put16(std::string& a, size_t at, uint16_t v) {
  a[at] = static_cast<char>(v & 0xff);
  a[at + 1] = static_cast<char>(v >> 8);
}

// An archive comment that holds a whole end record of its own, naming the
// first two entries of the true directory, then more text.
std::string ArchiveWithFalseEndRecord() {
  const std::string plain = test::BuildZip(Standard());
  std::string false_record = plain.substr(EndRecord(plain));
  Put16(false_record, 8, 2);
  Put16(false_record, 10, 2);
  const std::string comment = "packed by the release build\n" + false_record + "\nend\n";
  return test::BuildZip(Standard(), comment);
}

// Archives that the reader must accept: extraction succeeds and the payload
// runs. Members outside both prefixes are never opened, names are the stored
// bytes whatever the flags and extra fields say, and the end record's disk
// fields are not read.
TEST(ExtractionRun, AcceptedArchivesRunThePayload) {
  struct Row {
    const char* what;
    std::function<std::string()> archive;
    Lines expected;
  };
  const std::string latin1Name = "amd64/caf\xe9.txt";  // not UTF-8
  std::string unicode_path = "\x01" + std::string(4, '\0') + "amd64/evil";
  uLong name_crc = crc32(0, reinterpret_cast<const Bytef*>("amd64/quorvane"), 14);
  for (int i = 0; i < 4; ++i) unicode_path[1 + i] = static_cast<char>((name_crc >> (8 * i)) & 0xff);
  std::string unicode_extra = "\x75\x70";
  unicode_extra += static_cast<char>(unicode_path.size());
  unicode_extra += '\0';
  unicode_extra += unicode_path;

  const std::vector<Row> rows = {
      {"member outside both prefixes with an unknown method",
       [] {
         Members m = Standard();
         m.push_back(FileMember("other/data.bin", "opaque"));
         std::string a = test::BuildZip(m);
         test::SetZipField(a, "other/data.bin", ZipField::kMethod, 99);
         return a;
       },
       Plus(Amd64Lines(3), {})},
      {"UTF-8 flag on a name that is not UTF-8",
       [=] {
         Members m = Standard();
         ZipMember odd = FileMember(latin1Name, "latin");
         odd.flags = 0x0800;
         m.insert(m.begin() + 4, odd);
         m[5].content += "\n" + test::ChecksumListText({{BaseName(latin1Name), "latin"}});
         return test::BuildZip(m);
       },
       Plus(Amd64Lines(2), {Info(latin1Name, BaseName(latin1Name)),
                            Info("amd64/checksums.txt", "checksums.txt")})},
      {"Info-ZIP Unicode Path extra field naming another file",
       [=] {
         Members m = Standard();
         m[3].extra = unicode_extra;
         return test::BuildZip(m);
       },
       Amd64Lines(3)},
      {"encryption flag",
       [] {
         Members m = Standard();
         m[3].flags = 0x0001;
         return test::BuildZip(m);
       },
       Amd64Lines(3)},
      {"end record on disk 1 of 1",
       [] {
         std::string a = test::BuildZip(Standard());
         Put16(a, EndRecord(a) + 4, 1);
         Put16(a, EndRecord(a) + 6, 1);
         return a;
       },
       Amd64Lines(3)},
      {"entries on this disk differ from the total",
       [] {
         std::string a = test::BuildZip(Standard());
         Put16(a, EndRecord(a) + 8, 3);
         return a;
       },
       Amd64Lines(3)},
      {"false end record in the archive comment", ArchiveWithFalseEndRecord, Amd64Lines(3)},
      {"member outside both prefixes with an extra field longer than its area",
       [] {
         Members m = Standard();
         ZipMember readme = FileMember("README", "read me");
         // An extended-timestamp field that claims 40 bytes and has 5.
         readme.extra = std::string("UT\x28\x00\x01\x00\x00\x00\x00", 9);
         m.push_back(readme);
         return test::BuildZip(m);
       },
       Amd64Lines(3)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScratchDir dir;
    Outcome r = RunInstaller(dir, test::PackInstaller(dir.path(), row.archive()));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.extraction,
              Plus(row.expected, {Info("licenses/LICENSE.txt", "licenses/LICENSE.txt"),
                                  Info("licenses/checksums.txt", "licenses/checksums.txt")}));
    EXPECT_TRUE(StartsWith(r.next, kRunning + r.installDir + "/quorvane ")) << r.next;
  }
}

// An archive larger than the address space left cannot be held: that is the
// archive reader's failure, with its line and -13, and the run still ends
// through its end steps. Under the address sanitizer an address-space limit
// cannot work (its shadow memory alone is far beyond it).
TEST(ExtractionRun, ArchiveBeyondTheAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit cannot be combined with the address sanitizer";
#else
  ScratchDir dir;
  Members m = Standard();
  ZipMember blob = FileMember("amd64/blob.bin", "");
  std::string& bytes = blob.content;
  bytes.resize(96u << 20);
  uint64_t state = 0x9e3779b97f4a7c15ull;
  for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {  // incompressible
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    memcpy(&bytes[i], &state, 8);
  }
  blob.deflate = false;
  m.insert(m.begin() + 2, std::move(blob));
  const std::string installer = test::PackInstaller(dir.path(), test::BuildZip(m));
  m.clear();

  Lines all;
  Outcome r = RunInstaller(dir, installer, 022, {}, &all, 64 * 1024);
  EXPECT_EQ(r.exit_status, 243);
  EXPECT_EQ(r.extraction,
            (Lines{"[ERROR] Cannot create zip object. (cannot allocate memory)", kCannotExtract}));
  EXPECT_EQ(r.next, kCleanupStart + r.installDir);
  EXPECT_FALSE(test::Exists(r.installDir));
  while (!all.empty() && all.back().empty()) all.pop_back();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back(), "[INFO ] End, success.");
#endif
}

TEST(ExtractionRun, ChecksumErrorInTheExecutable) {
  ScratchDir dir;
  std::string archive = test::StandardPayloadArchive(kProgram);
  uint32_t crc = test::GetZipField(archive, "amd64/quorvane", ZipField::kCrc);
  test::SetZipField(archive, "amd64/quorvane", ZipField::kCrc, crc ^ 0x80);
  Outcome r = RunInstaller(dir, test::PackInstaller(dir.path(), archive));
  EXPECT_EQ(r.exit_status, 243);
  EXPECT_EQ(r.extraction, Plus(Amd64Lines(2), {"[ERROR] Cannot write file: " + r.installDir +
                                                   "/quorvane. (zip: checksum error)",
                                               kCannotExtract}));
}

// Every path below root, relative to it, directories marked with a final "/".
void ListTree(const std::string& root, const std::string& rel, Lines& out) {
  DIR* d = opendir(JoinPath(root, rel).c_str());
  ASSERT_NE(d, nullptr) << rel;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = rel.empty() ? name : rel + "/" + name;
    struct stat st;
    ASSERT_EQ(lstat(JoinPath(root, path).c_str(), &st), 0);
    if (S_ISDIR(st.st_mode)) {
      out.push_back(path + "/");
      ListTree(root, path, out);
    } else {
      out.push_back(path);
    }
  }
  closedir(d);
}

Lines Tree(const std::string& root) {
  Lines out;
  ListTree(root, "", out);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(ExtractionRun, ShippedLikePayloadLandsWithItsBytesAndModes) {
  ScratchDir dir;
  const std::string program = test::ExitingProgram(test::kShippedExecutableSize);
  const Members members = test::ShippedLikeMembers(program);
  const std::string installer = test::PackInstaller(dir.path(), test::BuildZip(members));

  // What the log shows: the two files and the list of "amd64", then every
  // member of "licenses" in archive order; 34 lines in all.
  Lines expected_lines;
  for (const ZipMember& m : members) {
    if (m.directory) continue;
    std::string base = BaseName(m.name);
    expected_lines.push_back(
        Info(m.name, StartsWith(m.name, "amd64/") ? base : "licenses/" + base));
  }
  ASSERT_EQ(expected_lines.size(), 34u);

  for (mode_t mask : {mode_t{022}, mode_t{077}}) {
    SCOPED_TRACE(::testing::Message() << "umask 0" << std::oct << mask);
    Outcome r = RunInstaller(dir, installer, mask, {"--no-delete"});
    ASSERT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.extraction, expected_lines);
    EXPECT_EQ(r.next, kRunning + r.installDir + "/quorvane --temp-dir " + r.installDir +
                          " --debug-dir " + dir.path() + "/debug --no-delete --output-dir " +
                          dir.path());

    const std::string install = r.installDir;
    const std::string install_name = BaseName(install);
    const mode_t created = 0440 & ~mask;
    Lines expected_tree = {
        "debug/", "debug/Quorvane_i.log",      "quorvane-installer",
        "tmp/",   "tmp/" + install_name + "/", "tmp/" + install_name + "/licenses/"};
    for (const ZipMember& m : members) {
      if (m.directory) continue;
      std::string base = BaseName(m.name);
      bool root = StartsWith(m.name, "amd64/");
      std::string rel = root ? base : "licenses/" + base;
      expected_tree.push_back("tmp/" + install_name + "/" + rel);
      SCOPED_TRACE(rel);
      EXPECT_TRUE(ReadFile(JoinPath(install, rel)) == m.content);
      bool secured = rel == "quorvane" || rel == "quorvane.so";
      EXPECT_EQ(test::ModeOf(JoinPath(install, rel)), secured ? 0540u : created);
    }
    EXPECT_EQ(test::ModeOf(install), 0700u);
    EXPECT_EQ(test::ModeOf(install + "/licenses"), 0540u & ~mask);
    std::sort(expected_tree.begin(), expected_tree.end());
    EXPECT_EQ(Tree(dir.path()), expected_tree);

    test::RemoveTree(dir / "tmp");
    test::RemoveTree(dir / "debug");
  }
}

}  // namespace
}  // namespace quorvane
