#include "installer/run/extract.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "common/path.h"
#include "installer/log/log.h"
#include "support/payload_fixture.h"
#include "support/test_support.h"
#include "support/zip_patch.h"

namespace quorvane {
namespace {

using test::AddPayloadSection;
using test::BuildZip;
using test::ChecksumListText;
using test::DirectoryMember;
using test::FileMember;
using test::InstallerBinary;
using test::ModeOf;
using test::ReadFile;
using test::ScratchDir;
using test::Sha256Hex;
using test::StandardPayloadMembers;
using test::WriteFile;
using test::ZipField;
using test::ZipHeader;
using test::ZipMember;

const std::string kProgram = "#!/bin/sh\nexit 0\n";
const std::string kLibrary = test::kStandardLibrary;
const std::string kLicense = test::kStandardLicense;

// "[INFO ]         <name padded to 40>  ->  <path>"
std::string Info(const std::string& name, const std::string& path) {
  return FormatLog("[INFO ]         %-40s  ->  %s", name, path);
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// One extraction: packs the archive into an installer and runs dropFiles
// into a fresh install directory, logging into a file.
struct Extraction {
  bool ok = false;
  std::string mainFile;
  std::vector<std::string> lines;
};

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installDir = dir / "install";
    ASSERT_EQ(mkdir(installDir.c_str(), 0700), 0);
  }

  Extraction Drop(const std::string& archive) {
    std::string installer = dir / ("installer" + std::to_string(++packed_));
    AddPayloadSection(InstallerBinary(), installer, archive);
    Extraction r;
    {
      InstallerLog log;
      log.initInstallerLog(dir / "log", true);
      r.ok = dropFiles(log, installer, installDir, payloadArch, &r.mainFile);
    }
    r.lines = test::LogLines(ReadFile(dir / "log"));
    while (!r.lines.empty() && r.lines.back().empty()) r.lines.pop_back();
    return r;
  }

  std::string In(const std::string& name) const { return installDir + "/" + name; }

  // The lines of the standard "amd64" pass, up to and including the list.
  std::vector<std::string> Amd64Lines() const {
    return {Info("amd64/quorvane.so", "quorvane.so"), Info("amd64/quorvane", "quorvane"),
            Info("amd64/checksums.txt", "checksums.txt")};
  }

  ScratchDir dir;
  std::string installDir;

 private:
  int packed_ = 0;
};

TEST_F(ExtractTest, StandardPayloadLayoutModesAndLog) {
  test::ScopedUmask mask(022);
  std::vector<ZipMember> members = StandardPayloadMembers(kProgram);
  Extraction r = Drop(BuildZip(members));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.mainFile, In("quorvane"));

  std::vector<std::string> expected = Amd64Lines();
  expected.push_back(Info("licenses/LICENSE.txt", "licenses/LICENSE.txt"));
  expected.push_back(Info("licenses/checksums.txt", "licenses/checksums.txt"));
  EXPECT_EQ(r.lines, expected);
  EXPECT_EQ(r.lines[0],
            "[INFO ]         amd64/quorvane.so" + std::string(23, ' ') + "  ->  quorvane.so");

  EXPECT_EQ(Entries(installDir),
            (std::vector<std::string>{"checksums.txt", "licenses", "quorvane", "quorvane.so"}));
  EXPECT_EQ(Entries(In("licenses")), (std::vector<std::string>{"LICENSE.txt", "checksums.txt"}));
  EXPECT_EQ(ReadFile(In("quorvane")), kProgram);
  EXPECT_EQ(ReadFile(In("quorvane.so")), kLibrary);
  EXPECT_EQ(ReadFile(In("checksums.txt")), members[4].content);
  EXPECT_EQ(ReadFile(In("licenses/LICENSE.txt")), kLicense);
  EXPECT_EQ(ModeOf(In("quorvane")), 0540u);
  EXPECT_EQ(ModeOf(In("quorvane.so")), 0540u);
  EXPECT_EQ(ModeOf(In("checksums.txt")), 0440u);
  EXPECT_EQ(ModeOf(In("licenses")), 0540u);
  EXPECT_EQ(ModeOf(In("licenses/LICENSE.txt")), 0440u);
  EXPECT_EQ(ModeOf(In("licenses/checksums.txt")), 0440u);
}

TEST_F(ExtractTest, CreationModesFollowTheMaskButSecuredModesDoNot) {
  test::ScopedUmask mask(077);
  ASSERT_TRUE(Drop(BuildZip(StandardPayloadMembers(kProgram))).ok);
  EXPECT_EQ(ModeOf(In("quorvane")), 0540u);
  EXPECT_EQ(ModeOf(In("quorvane.so")), 0540u);
  EXPECT_EQ(ModeOf(In("checksums.txt")), 0400u);
  EXPECT_EQ(ModeOf(In("licenses")), 0500u);
  EXPECT_EQ(ModeOf(In("licenses/LICENSE.txt")), 0400u);
}

TEST_F(ExtractTest, ListIsReadFirstAndMembersGoInArchiveOrder) {
  // The list stands last; stored and DEFLATE members mix; a member with
  // directories after the prefix is written by its base name; a member
  // merely starting with the prefix belongs to the pass; a long name is
  // logged whole.
  const std::string long_name = "amd64/a-member-name-well-over-forty-characters.txt";
  std::vector<ZipMember> members = {
      FileMember("amd64/deep/er/quorvane.so", kLibrary),
      FileMember("amd64.txt", "top level"),
      FileMember(long_name, "long"),
      FileMember("amd64/quorvane", kProgram),
      FileMember("amd64/checksums.txt",
                 ChecksumListText({{"quorvane", kProgram},
                                   {"amd64.txt", "top level"},
                                   {"quorvane.so", kLibrary},
                                   {"a-member-name-well-over-forty-characters.txt", "long"}})),
      FileMember("licenses/checksums.txt", ChecksumListText({{"LICENSE.txt", kLicense}})),
      FileMember("licenses_x/LICENSE.txt", kLicense),
  };
  members[3].deflate = false;
  Extraction r = Drop(BuildZip(members));
  ASSERT_TRUE(r.ok) << ::testing::PrintToString(r.lines);
  EXPECT_EQ(r.lines, (std::vector<std::string>{
                         Info("amd64/deep/er/quorvane.so", "quorvane.so"),
                         Info("amd64.txt", "amd64.txt"),
                         "[INFO ]         " + long_name + "  ->  " + BaseName(long_name),
                         Info("amd64/quorvane", "quorvane"),
                         Info("amd64/checksums.txt", "checksums.txt"),
                         Info("licenses/checksums.txt", "licenses/checksums.txt"),
                         Info("licenses_x/LICENSE.txt", "licenses/LICENSE.txt"),
                     }));
  EXPECT_EQ(ReadFile(In("quorvane.so")), kLibrary);
  EXPECT_EQ(ReadFile(In("licenses/LICENSE.txt")), kLicense);
}

TEST_F(ExtractTest, NamesNeverLeadOutOfTheDestination) {
  const std::string outside = dir.path() + "/abs-escape";
  std::vector<ZipMember> members = StandardPayloadMembers(kProgram);
  members.push_back(FileMember("../escape", "x"));  // no prefix: never opened
  members.push_back(FileMember(outside, "x"));      // likewise
  members.push_back(FileMember("amd64/../../escape", "up"));
  members.push_back(FileMember("licenses/a/../../../lic-escape", "lic"));
  members[4].content += "\n" + ChecksumListText({{"escape", "up"}});
  members[6].content += "\n" + ChecksumListText({{"lic-escape", "lic"}});
  Extraction r = Drop(BuildZip(members));
  ASSERT_TRUE(r.ok) << ::testing::PrintToString(r.lines);
  EXPECT_EQ(ReadFile(In("escape")), "up");
  EXPECT_EQ(ReadFile(In("licenses/lic-escape")), "lic");
  EXPECT_FALSE(test::Exists(dir / "escape"));
  EXPECT_FALSE(test::Exists(outside));
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"install", "installer1", "log"}));
}

TEST_F(ExtractTest, DotDotBaseNameCannotBeCreated) {
  std::vector<ZipMember> members = StandardPayloadMembers(kProgram);
  members.insert(members.begin() + 2, FileMember("amd64/..", "x"));
  Extraction r = Drop(BuildZip(members));
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.lines, (std::vector<std::string>{
                         Info("amd64/..", ".."),
                         "[ERROR] Cannot create file: " + dir.path() + ". (open " + dir.path() +
                             ": is a directory)",
                     }));
}

TEST_F(ExtractTest, DirectoryMembersAreSkippedAndOtherKindsAreFiles) {
  std::vector<ZipMember> members = StandardPayloadMembers(kProgram);
  ZipMember dos_dir = FileMember("amd64/dos-dir", "");
  dos_dir.made_by_host = 0;
  dos_dir.external_attributes = 0x10;
  ZipMember unix_dir = FileMember("amd64/unix-dir", "");
  unix_dir.external_attributes = 040755u << 16;
  ZipMember link = FileMember("amd64/link", "quorvane");
  link.external_attributes = 0120777u << 16;
  members.insert(members.begin() + 2, {dos_dir, unix_dir, link});
  members[7].content += "\n" + ChecksumListText({{"link", "quorvane"}});
  Extraction r = Drop(BuildZip(members));
  ASSERT_TRUE(r.ok) << ::testing::PrintToString(r.lines);
  EXPECT_FALSE(test::Exists(In("dos-dir")));
  EXPECT_FALSE(test::Exists(In("unix-dir")));
  struct stat st;
  ASSERT_EQ(lstat(In("link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadFile(In("link")), "quorvane");
}

TEST(SecureFile, OnlyPathsEndingInDotSo) {
  ScratchDir dir;
  struct Case {
    const char* name;
    mode_t mode;
  };
  const Case cases[] = {
      {"lib.so", 0540}, {"lib.SO", 0440}, {"lib.so.1", 0440}, {"libso", 0440}, {".so", 0540}};
  for (const Case& c : cases) {
    WriteFile(dir / c.name, "x", 0440);
    ASSERT_TRUE(secureFile(dir / c.name).ok());
    EXPECT_EQ(ModeOf(dir / c.name), c.mode) << c.name;
  }
  Status missing = secureFile(dir / "missing.so");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().message,
            "chmod " + (dir / "missing.so") + ": no such file or directory");
}

// Failures found before, while or after the "amd64" pass. Each case edits
// the standard members, may patch the archive bytes, and expects the lines
// logged after those of the members that were written.
struct FailureCase {
  const char* what;
  std::function<void(std::vector<ZipMember>&)> edit;
  std::function<void(std::string&)> patch;
  size_t lines_before;  // lines of Amd64Lines() that precede the failure
  std::function<std::vector<std::string>(const std::string& installDir)> tail;
};

const std::string kDigestProgram = Sha256Hex(kProgram);

std::vector<FailureCase> FailureCases() {
  auto none = [](std::vector<ZipMember>&) {};
  auto same = [](std::string&) {};
  auto lines = [](std::vector<std::string> l) { return [l](const std::string&) { return l; }; };
  return {
      {"no list", [](auto& m) { m.erase(m.begin() + 4); }, same, 0,
       lines({"[ERROR] Couldn't find amd64/checksums.txt"})},
      {"list only as a directory (by its attributes, with a valid list inside)",
       [](auto& m) { m[4].external_attributes = 040755u << 16; }, same, 0,
       lines({"[ERROR] Couldn't find amd64/checksums.txt"})},
      {"empty list", [](auto& m) { m[4].content = ""; }, same, 0,
       lines({"[ERROR] Invalid amd64/checksums.txt file"})},
      {"invalid list", [](auto& m) { m[4].content += "\nbad line"; }, same, 0,
       lines({"[ERROR] Cannot parse amd64/checksums.txt. (invalid line: bad line)"})},
      {"list cannot be opened", none,
       [](std::string& a) { test::SetLocalSignature(a, "amd64/checksums.txt", 0); }, 0,
       lines({"[ERROR] Cannot open zip file: amd64/checksums.txt. (zip: not a valid zip file)"})},
      {"unlisted member", [](auto& m) { m.insert(m.begin() + 4, FileMember("amd64/extra", "e")); },
       same, 2,
       [](const std::string&) {
         return std::vector<std::string>{
             Info("amd64/extra", "extra"),
             "[ERROR] Cannot validate integrity of file: amd64/extra. (file extra not found in "
             "checksum list)"};
       }},
      {"entry without a member",
       [](auto& m) { m[4].content += "\n" + std::string(64, 'f') + " ghost"; }, same, 3,
       lines({"[ERROR] Found unused file: ghost (" + std::string(64, 'f') + ")"})},
      {"digest differs", [](auto& m) { m[3].content = "#!/bin/sh\nexit 1\n"; }, same, 2,
       lines({"[ERROR] Cannot validate integrity of file: amd64/quorvane. (file integrity failed "
              "for quorvane (" +
              Sha256Hex("#!/bin/sh\nexit 1\n") + "), expected " + kDigestProgram + ")"})},
      {"same base name twice",
       [](auto& m) { m.insert(m.begin() + 4, FileMember("amd64/sub/quorvane", kProgram)); }, same,
       2,
       [](const std::string&) {
         return std::vector<std::string>{
             Info("amd64/sub/quorvane", "quorvane"),
             "[ERROR] Cannot validate integrity of file: amd64/sub/quorvane. (file integrity "
             "failed for quorvane (" +
                 kDigestProgram + "), already validated)"};
       }},
      {"no main file",
       [](auto& m) {
         m.erase(m.begin() + 3);
         m[3].content = ChecksumListText({{"quorvane.so", kLibrary}});
       },
       same, 0,
       [](const std::string& d) {
         return std::vector<std::string>{
             Info("amd64/quorvane.so", "quorvane.so"), Info("amd64/checksums.txt", "checksums.txt"),
             "[ERROR] Cannot access main file: " + d + "/quorvane. (stat " + d +
                 "/quorvane: no such file or directory)"};
       }},
      {"a file named like the licences directory",
       [](auto& m) {
         m.insert(m.begin() + 4, FileMember("amd64/licenses", "f"));
         m[5].content += "\n" + ChecksumListText({{"licenses", "f"}});
       },
       same, 2,
       [](const std::string& d) {
         return std::vector<std::string>{
             Info("amd64/licenses", "licenses"), Info("amd64/checksums.txt", "checksums.txt"),
             Info("licenses/LICENSE.txt", "licenses/LICENSE.txt"),
             "[ERROR] Cannot create file: " + d + "/licenses/LICENSE.txt. (open " + d +
                 "/licenses/LICENSE.txt: not a directory)"};
       }},
      {"checksum error", none,
       [](std::string& a) {
         uint32_t crc = test::GetZipField(a, "amd64/quorvane", ZipField::kCrc);
         test::SetZipField(a, "amd64/quorvane", ZipField::kCrc, crc ^ 1);
       },
       2, lines({"[ERROR] Cannot write file: {dir}/quorvane. (zip: checksum error)"})},
      {"list fails its checksum only when written", none,
       [](std::string& a) {
         uint32_t crc = test::GetZipField(a, "amd64/checksums.txt", ZipField::kCrc);
         test::SetZipField(a, "amd64/checksums.txt", ZipField::kCrc, crc ^ 1);
       },
       3, lines({"[ERROR] Cannot write file: {dir}/checksums.txt. (zip: checksum error)"})},
      {"less data than recorded", none,
       [](std::string& a) {
         test::SetZipField(a, "amd64/quorvane", ZipField::kSize, uint32_t(kProgram.size() + 1));
       },
       2, lines({"[ERROR] Cannot write file: {dir}/quorvane. (unexpected EOF)"})},
      {"stored member with less data than recorded", [](auto& m) { m[3].deflate = false; },
       [](std::string& a) {
         test::SetZipField(a, "amd64/quorvane", ZipField::kSize, uint32_t(kProgram.size() + 1));
       },
       2, lines({"[ERROR] Cannot write file: {dir}/quorvane. (unexpected EOF)"})},
      {"compressed data cut short", none,
       [](std::string& a) {
         uint32_t size = test::GetZipField(a, "amd64/quorvane", ZipField::kCompressedSize);
         test::SetZipField(a, "amd64/quorvane", ZipField::kCompressedSize, size - 3);
       },
       2, lines({"[ERROR] Cannot write file: {dir}/quorvane. (unexpected EOF)"})},
      {"more data than recorded", none,
       [](std::string& a) {
         test::SetZipField(a, "amd64/quorvane", ZipField::kSize, uint32_t(kProgram.size() - 1));
       },
       2, lines({"[ERROR] Cannot write file: {dir}/quorvane. (zip: not a valid zip file)"})},
      {"unsupported method", none,
       [](std::string& a) { test::SetZipField(a, "amd64/quorvane", ZipField::kMethod, 12); }, 1,
       lines({"[ERROR] Cannot open zip file: amd64/quorvane. (zip: unsupported compression "
              "algorithm)"})},
      {"bad local signature", none,
       [](std::string& a) { test::SetLocalSignature(a, "amd64/quorvane", 0x04034b51); }, 1,
       lines({"[ERROR] Cannot open zip file: amd64/quorvane. (zip: not a valid zip file)"})},
      {"local size disagrees without a data descriptor", none,
       [](std::string& a) {
         test::SetZipField(a, "amd64/quorvane", ZipField::kSize, 1, ZipHeader::kLocal);
       },
       1, lines({"[ERROR] Cannot open zip file: amd64/quorvane. (zip: not a valid zip file)"})},
      {"local method disagrees", none,
       [](std::string& a) {
         test::SetZipField(a, "amd64/quorvane", ZipField::kMethod, 0, ZipHeader::kLocal);
       },
       1, lines({"[ERROR] Cannot open zip file: amd64/quorvane. (zip: not a valid zip file)"})},
  };
}

TEST_F(ExtractTest, FailuresLogTheirLinesInOrder) {
  for (const FailureCase& c : FailureCases()) {
    SCOPED_TRACE(c.what);
    test::RemoveTree(installDir);
    ASSERT_EQ(mkdir(installDir.c_str(), 0700), 0);
    std::vector<ZipMember> members = StandardPayloadMembers(kProgram);
    c.edit(members);
    std::string archive = BuildZip(members);
    c.patch(archive);
    Extraction r = Drop(archive);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.mainFile, "");
    std::vector<std::string> expected = Amd64Lines();
    expected.resize(c.lines_before);
    for (std::string line : c.tail(installDir)) {
      size_t at = line.find("{dir}");
      if (at != std::string::npos) line.replace(at, 5, installDir);
      expected.push_back(line);
    }
    EXPECT_EQ(r.lines, expected);
  }
}

TEST_F(ExtractTest, NoLineForAMissingSectionButForEmptyOrBrokenPayloads) {
  {
    InstallerLog log;
    log.initInstallerLog(dir / "log", true);
    std::string mainFile;
    EXPECT_FALSE(dropFiles(log, InstallerBinary(), installDir, payloadArch, &mainFile));
  }
  EXPECT_EQ(ReadFile(dir / "log"), "");

  Extraction empty = Drop("");
  EXPECT_FALSE(empty.ok);
  EXPECT_EQ(empty.lines, (std::vector<std::string>{"[ERROR] Payload size is zero."}));

  std::string standard = BuildZip(StandardPayloadMembers(kProgram));
  for (std::string bytes :
       {std::string("not a zip archive at all"), standard.substr(0, standard.size() - 10),
        standard.substr(0, standard.size() / 2)}) {
    Extraction broken = Drop(bytes);
    EXPECT_FALSE(broken.ok);
    EXPECT_EQ(broken.lines, (std::vector<std::string>{
                                "[ERROR] Cannot create zip object. (zip: not a valid zip file)"}));
  }
  EXPECT_EQ(Entries(installDir), std::vector<std::string>{});
}

TEST_F(ExtractTest, DataDescriptorZeroFieldsInTheLocalHeaderAreAccepted) {
  std::string archive = BuildZip(StandardPayloadMembers(kProgram));
  uint32_t flags = test::GetZipField(archive, "amd64/quorvane", ZipField::kFlags);
  test::SetZipField(archive, "amd64/quorvane", ZipField::kFlags, flags | 8, ZipHeader::kLocal);
  for (ZipField f : {ZipField::kCrc, ZipField::kCompressedSize, ZipField::kSize}) {
    test::SetZipField(archive, "amd64/quorvane", f, 0, ZipHeader::kLocal);
  }
  Extraction r = Drop(archive);
  EXPECT_TRUE(r.ok) << ::testing::PrintToString(r.lines);
  EXPECT_EQ(ReadFile(In("quorvane")), kProgram);
}

// Raw DEFLATE data that expands to about `size` zero bytes: one literal,
// then matches of 258 bytes at distance 1, in one block of fixed codes.
std::string ZeroBomb(uint64_t size) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  auto put = [&](uint32_t value, int count) {  // least significant bit first
    for (int i = 0; i < count; ++i) {
      acc |= ((value >> i) & 1u) << bits;
      if (++bits == 8) {
        out += static_cast<char>(acc);
        acc = 0;
        bits = 0;
      }
    }
  };
  auto code = [&](uint32_t value, int count) {  // Huffman codes go most significant bit first
    for (int i = count - 1; i >= 0; --i) put((value >> i) & 1u, 1);
  };
  put(1, 1);      // last block
  put(1, 2);      // fixed codes
  code(0x30, 8);  // literal 0
  for (uint64_t n = 1; n + 258 <= size; n += 258) {
    code(0xc5, 8);  // length 258
    code(0, 5);     // distance 1
  }
  code(0, 7);  // end of block
  if (bits > 0) out += static_cast<char>(acc);
  return out;
}

long MaxRssKiB() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST_F(ExtractTest, MemberExpandingPastItsRecordIsStoppedAtTheRecordedSize) {
  const uint64_t expanded = 512ull << 20;  // 512 MiB of zeros from about 3 MB
  std::vector<ZipMember> members = StandardPayloadMembers(kProgram);
  ZipMember bomb = FileMember("amd64/bomb", ZeroBomb(expanded));
  bomb.deflate = false;  // stored as written, then declared DEFLATE below
  members.insert(members.begin() + 2, bomb);
  members[5].content += "\n" + std::string(64, '0') + " bomb";
  std::string archive = BuildZip(members);
  members.clear();
  test::SetZipField(archive, "amd64/bomb", ZipField::kMethod, 8);
  test::SetZipField(archive, "amd64/bomb", ZipField::kSize, 1000);

  long before = MaxRssKiB();
  Extraction r = Drop(archive);
  long grown = MaxRssKiB() - before;
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.lines, (std::vector<std::string>{Info("amd64/bomb", "bomb"),
                                               "[ERROR] Cannot write file: " + In("bomb") +
                                                   ". (zip: not a valid zip file)"}));
  struct stat st;
  ASSERT_EQ(stat(In("bomb").c_str(), &st), 0);
  EXPECT_LE(st.st_size, 1000);
  EXPECT_LT(grown, 64 * 1024) << "KiB";
}

}  // namespace
}  // namespace quorvane
