// The payload fixture's archives and packed installers, read back with the
// installer's archive reader, with unzip and with libelf: what every
// extraction test builds on.
#include <fcntl.h>
#include <gelf.h>
#include <gtest/gtest.h>
#include <libelf.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "support/installer_fixture.h"
#include "support/payload_fixture.h"
#include "support/test_support.h"

namespace quorvane::test {
namespace {

struct SectionInfo {
  GElf_Shdr header;
  std::string name;
};

struct ElfLayout {
  std::vector<SectionInfo> sections;
  std::vector<GElf_Phdr> segments;
  GElf_Ehdr header;
};

ElfLayout ReadElf(const std::string& path) {
  ElfLayout layout{};
  elf_version(EV_CURRENT);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0) << path;
  Elf* elf = elf_begin(fd, ELF_C_READ, nullptr);
  EXPECT_NE(elf, nullptr) << elf_errmsg(-1);
  size_t shstrndx = 0;
  EXPECT_EQ(elf_getshdrstrndx(elf, &shstrndx), 0);
  gelf_getehdr(elf, &layout.header);
  for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn != nullptr; scn = elf_nextscn(elf, scn)) {
    SectionInfo s;
    gelf_getshdr(scn, &s.header);
    const char* name = elf_strptr(elf, shstrndx, s.header.sh_name);
    s.name = name != nullptr ? name : "";
    layout.sections.push_back(s);
  }
  size_t phnum = 0;
  elf_getphdrnum(elf, &phnum);
  for (size_t i = 0; i < phnum; ++i) {
    GElf_Phdr p;
    gelf_getphdr(elf, static_cast<int>(i), &p);
    layout.segments.push_back(p);
  }
  elf_end(elf);
  close(fd);
  return layout;
}

std::optional<SectionInfo> FindSection(const ElfLayout& layout, const std::string& name) {
  for (const SectionInfo& s : layout.sections) {
    if (s.name == name) return s;
  }
  return std::nullopt;
}

// Checks that path carries archive as a non-loaded ".quorvane" section, as
// the installer expects it; shared with the packaging script's test.
void ExpectPayloadSection(const std::string& path, const std::string& archive) {
  ElfLayout layout = ReadElf(path);
  std::optional<SectionInfo> payload = FindSection(layout, ".quorvane");
  ASSERT_TRUE(payload.has_value());
  const GElf_Shdr& h = payload->header;
  EXPECT_EQ(h.sh_type, static_cast<GElf_Word>(SHT_PROGBITS));
  EXPECT_EQ(h.sh_flags & SHF_ALLOC, 0u);
  EXPECT_EQ(h.sh_flags, 0u);
  EXPECT_EQ(h.sh_addr, 0u);
  ASSERT_EQ(h.sh_size, archive.size());
  EXPECT_EQ(ReadFile(path).substr(h.sh_offset, h.sh_size), archive);
  for (const GElf_Phdr& p : layout.segments) {
    bool overlaps = p.p_filesz > 0 && p.p_offset < h.sh_offset + h.sh_size &&
                    h.sh_offset < p.p_offset + p.p_filesz;
    EXPECT_FALSE(overlaps) << "segment at " << p.p_offset << " covers the payload";
  }
  EXPECT_GE(layout.header.e_shoff, h.sh_offset + h.sh_size);
  EXPECT_EQ(ModeOf(path), 0755u);
}

// Runs installer as "quorvane-installer" with exactly env in the bare scratch
// directory s.
InstallerRun RunInstaller(const InstallerSandbox& s, const std::string& installer,
                          const Words& args, const Words& env) {
  RunOptions options;
  options.argv0 = "quorvane-installer";
  options.env = env;
  options.cwd = s.path();
  return s.RunInstaller(installer, args, options);
}

uint32_t LittleEndian32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

TEST(BuildZipTest, MembersReadBackWithNamesMethodsAndAttributes) {
  ZipMember dos_dir{"dosdir", "", false, true, 0, 0x10, 0, ""};
  ZipMember unix_dir_no_slash{"amd64/checksums.txt", "", false, true, 3, 040755u << 16, 0, ""};
  ZipMember stored{
      "amd64/stored.bin", std::string("a\0b", 3), false, false, 3, 0100600u << 16, 0, ""};
  std::vector<ZipMember> members = {
      DirectoryMember("amd64/"),
      FileMember("../x", "outside"),
      stored,
      dos_dir,
      unix_dir_no_slash,
      FileMember("amd64/empty", ""),
      FileMember("amd64/big", std::string(100000, 'q')),
  };
  std::string zip = BuildZip(members);

  // The first member header is the first byte; the end record ends the data.
  EXPECT_EQ(zip.substr(0, 4), std::string("PK\x03\x04", 4));
  ASSERT_GE(zip.size(), 22u);
  EXPECT_EQ(zip.substr(zip.size() - 22, 4), std::string("PK\x05\x06", 4));

  std::vector<ReadMember> read = ReadZip(zip);
  ASSERT_EQ(read.size(), members.size());
  for (size_t i = 0; i < members.size(); ++i) {
    SCOPED_TRACE(members[i].name);
    EXPECT_EQ(read[i].name, members[i].name);
    EXPECT_EQ(read[i].content, members[i].directory ? "" : members[i].content);
    EXPECT_EQ(read[i].made_by_host, members[i].made_by_host);
    EXPECT_EQ(read[i].external_attributes, members[i].external_attributes);
    bool deflated = members[i].deflate && !members[i].directory && !members[i].content.empty();
    if (deflated) {
      EXPECT_EQ(read[i].method, 8);
    }
    if (!members[i].deflate) {
      EXPECT_EQ(read[i].method, 0);
    }
  }
  EXPECT_EQ(read[0].external_attributes, kDirectoryAttributes);
  EXPECT_EQ(read[1].external_attributes, kFileAttributes);

  // A reader of its own agrees: every member's data and CRC-32 test good.
  ScratchDir dir;
  WriteFile(dir / "a.zip", zip);
  ProcessResult unzip = RunProgram("/usr/bin/unzip", {"unzip", "-tq", dir / "a.zip"},
                                   {"PATH=/usr/bin:/bin"}, dir.path());
  EXPECT_EQ(unzip.exit_status, 0) << unzip.out << unzip.err;
}

TEST(BuildZipTest, SameInputSameBytesAndEmptyArchive) {
  std::vector<ZipMember> members = StandardPayloadMembers("#!/bin/sh\nexit 0\n");
  EXPECT_EQ(BuildZip(members), BuildZip(members));
  std::string empty = BuildZip({});
  EXPECT_EQ(empty.size(), 22u);
  EXPECT_TRUE(ReadZip(empty).empty());
}

TEST(ChecksumListTest, LowerCaseDigestsJoinedWithoutFinalNewline) {
  EXPECT_EQ(ChecksumListText({}), "");
  EXPECT_EQ(ChecksumListText({{"a b", ""}, {"abc", "abc"}}),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 a b\n"
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad abc");
}

TEST(StandardPayloadTest, LayoutOrderAndChecksumLists) {
  const std::string program = "#!/bin/sh\necho hi\n";
  std::vector<ReadMember> read = ReadZip(StandardPayloadArchive(program));
  std::vector<std::string> names;
  for (const ReadMember& m : read) names.push_back(m.name);
  EXPECT_EQ(names, (std::vector<std::string>{"amd64/", "licenses/", "amd64/quorvane.so",
                                             "amd64/quorvane", "amd64/checksums.txt",
                                             "licenses/LICENSE.txt", "licenses/checksums.txt"}));
  ASSERT_EQ(read.size(), 7u);
  EXPECT_EQ(read[3].content, program);
  EXPECT_EQ(read[4].content,
            Sha256Hex(kStandardLibrary) + " quorvane.so\n" + Sha256Hex(program) + " quorvane");
  EXPECT_EQ(read[6].content, Sha256Hex(kStandardLicense) + " LICENSE.txt");
  for (size_t i = 0; i < read.size(); ++i) {
    SCOPED_TRACE(read[i].name);
    bool dir = i < 2;
    EXPECT_EQ(read[i].method, dir ? 0 : 8);
    EXPECT_EQ(read[i].made_by_host, 3);
    EXPECT_EQ(read[i].external_attributes, dir ? kDirectoryAttributes : kFileAttributes);
  }
}

TEST(PackInstallerTest, SectionIsNotLoadedAndHoldsTheArchive) {
  ScratchDir dir;
  std::string archive = StandardPayloadArchive("#!/bin/sh\nexit 0\n");
  std::string packed = PackInstaller(dir.path(), archive);
  EXPECT_EQ(packed, dir / "quorvane-installer");
  ExpectPayloadSection(packed, archive);
  EXPECT_FALSE(FindSection(ReadElf(InstallerBinary()), ".quorvane").has_value());
  EXPECT_FALSE(Exists(packed + ".quorvane-section"));  // no leftovers next to it

  // The archive inside the section reads back as it was built.
  ElfLayout layout = ReadElf(packed);
  GElf_Shdr h = FindSection(layout, ".quorvane")->header;
  std::string section = ReadFile(packed).substr(h.sh_offset, h.sh_size);
  EXPECT_EQ(ReadZip(section).size(), 7u);
  EXPECT_EQ(LittleEndian32(section, section.size() - 22), 0x06054b50u);
}

TEST(PackInstallerTest, EmptySectionAndSecondSection) {
  ScratchDir dir;
  std::string empty = PackInstaller(dir.path(), "");
  ExpectPayloadSection(empty, "");

  // A second section of the same name stands after the first one.
  std::string twice = dir / "twice";
  AddPayloadSection(empty, twice, "second");
  int count = 0;
  for (const SectionInfo& s : ReadElf(twice).sections) count += s.name == ".quorvane";
  EXPECT_EQ(count, 2);
  EXPECT_EQ(FindSection(ReadElf(twice), ".quorvane")->header.sh_size, 0u);
}

TEST(PackInstallerTest, PackedInstallerRunsLikeTheOriginal) {
  InstallerSandbox dir{Words{}};
  std::string packed = PackInstaller(dir.path(), StandardPayloadArchive("#!/bin/sh\nexit 0\n"));
  // A command line that the parse rejects (a value option without its value)
  // ends the run before it touches any directory; both binaries end alike.
  std::vector<std::string> env = {"TMPDIR=" + dir.path(), "PATH=/usr/bin:/bin"};
  InstallerRun original = RunInstaller(dir, InstallerBinary(), {"--temp-dir"}, env);
  InstallerRun copy = RunInstaller(dir, packed, {"--temp-dir"}, env);
  ASSERT_TRUE(WIFEXITED(copy.wait_status));
  EXPECT_EQ(copy.exit_status, 255);
  EXPECT_EQ(copy.exit_status, original.exit_status);
  EXPECT_EQ(copy.out, original.out);
}

// The packaging script, run on a folder of its own with TMPDIR inside the
// scratch directory and OUTPUT alone in a directory of its own.
class PackScriptTest : public ::testing::Test {
 protected:
  PackScriptTest() {
    mkdir((dir_ / "tmp").c_str(), 0700);
    mkdir((dir_ / "out").c_str(), 0755);
    MakePayloadFolder();
  }

  std::string payload() const { return dir_ / "payload"; }
  std::string output() const { return dir_ / "out/packed"; }
  static std::string Script() { return std::string(QUORVANE_SOURCE_DIR) + "/tools/pack-installer"; }

  void MakePayloadFolder() {
    mkdir(payload().c_str(), 0755);
    mkdir((payload() + "/amd64").c_str(), 0755);
    mkdir((payload() + "/licenses").c_str(), 0755);
  }

  // A payload folder that packs: executable, library and one licence text.
  void PutStandardPayload() {
    RemoveTree(payload());
    MakePayloadFolder();
    Put("amd64/quorvane", "#!/bin/sh\n", 0755);
    Put("amd64/quorvane.so", "so");
    Put("licenses/LICENSE.txt", "text");
  }

  void Put(const std::string& name, const std::string& content, mode_t mode = 0644) {
    WriteFile(payload() + "/" + name, content, mode);
  }

  // Runs the script with args in the scratch directory; env entries replace
  // those of the same name in PATH=/usr/bin:/bin LC_ALL=C TMPDIR=$S/tmp.
  ProcessResult Script(const Words& args, const Words& env = {}) const {
    Words full_env = {"PATH=/usr/bin:/bin", "LC_ALL=C", "TMPDIR=" + (dir_ / "tmp")};
    for (const std::string& e : env) {
      std::string name = e.substr(0, e.find('=') + 1);
      std::erase_if(full_env, [&](const std::string& f) { return f.starts_with(name); });
      full_env.push_back(e);
    }
    Words argv = {"sh", Script()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram("/bin/sh", argv, full_env, dir_.path());
  }

  ProcessResult Pack(const std::string& installer) const {
    return Script({installer, payload(), output()});
  }

  // Every path under the payload folder with its mode and contents.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(payload())) {
      std::string p = e.path();
      files[p] = std::to_string(ModeOf(p)) + ":" + (e.is_regular_file() ? ReadFile(p) : "");
    }
    return files;
  }

  bool WorkAreaEmpty() const { return std::filesystem::is_empty(dir_ / "tmp"); }

  // What the output's directory holds: OUTPUT alone, no partial file.
  std::set<std::string> OutputDir() const { return TreeOf(dir_ / "out"); }

  // The archive in the packed output's section.
  std::string Section() {
    ElfLayout layout = ReadElf(output());
    std::optional<SectionInfo> s = FindSection(layout, ".quorvane");
    if (!s) return "";
    return ReadFile(output()).substr(s->header.sh_offset, s->header.sh_size);
  }

  InstallerSandbox dir_{Words{}};
};

TEST_F(PackScriptTest, WritesListsMembersAndSectionLeavingTheFolderAlone) {
  const std::string program = "#!/bin/sh\n" + std::string(4000, '#') + "\necho packed\n";
  const std::string library = std::string(
                                  "\x7f"
                                  "ELF") +
                              std::string(3000, 'L');
  const std::string extra = "data with a blank and a star in its name";
  const std::string license = "Permission is hereby granted...\n";
  const std::string notice = "notice\n";
  const std::string hidden = "hidden";
  Put("amd64/quorvane", program, 0700);
  Put("amd64/quorvane.so", library, 0755);
  Put("amd64/a b*", extra);
  Put("amd64/checksums.txt", "stale list");  // replaced, never packed as is
  Put("licenses/LICENSE.txt", license, 0444);
  Put("licenses/notice.txt", notice);
  Put("licenses/.hidden", hidden);
  std::map<std::string, std::string> before = Snapshot();

  ProcessResult r = Pack(InstallerBinary());
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(WorkAreaEmpty());

  std::string archive = Section();
  ExpectPayloadSection(output(), archive);
  std::vector<ReadMember> read = ReadZip(archive);
  std::vector<std::string> names;
  for (const ReadMember& m : read) names.push_back(m.name);
  EXPECT_EQ(names, (std::vector<std::string>{"amd64/", "licenses/", "amd64/quorvane.so",
                                             "amd64/quorvane", "amd64/a b*", "amd64/checksums.txt",
                                             "licenses/.hidden", "licenses/LICENSE.txt",
                                             "licenses/checksums.txt", "licenses/notice.txt"}));
  ASSERT_EQ(read.size(), 10u);
  EXPECT_EQ(read[3].content, program);
  EXPECT_EQ(read[5].content,
            ChecksumListText({{"quorvane.so", library}, {"quorvane", program}, {"a b*", extra}}));
  EXPECT_EQ(
      read[8].content,
      ChecksumListText({{".hidden", hidden}, {"LICENSE.txt", license}, {"notice.txt", notice}}));
  for (const ReadMember& m : read) {
    SCOPED_TRACE(m.name);
    bool dir = m.name.back() == '/';
    EXPECT_EQ(m.made_by_host, 3);
    EXPECT_EQ(m.external_attributes, dir ? kDirectoryAttributes : kFileAttributes);
    if (dir) {
      EXPECT_EQ(m.method, 0);
    }
  }
  EXPECT_EQ(read[2].method, 8);  // compressible members are deflated
  EXPECT_EQ(read[3].method, 8);

  // The result is an ordinary executable still.
  std::vector<std::string> env = {"TMPDIR=" + (dir_ / "tmp"), "PATH=/usr/bin:/bin"};
  InstallerRun run = RunInstaller(dir_, output(), {"--temp-dir"}, env);
  InstallerRun original = RunInstaller(dir_, InstallerBinary(), {"--temp-dir"}, env);
  EXPECT_TRUE(WIFEXITED(run.wait_status));
  EXPECT_EQ(run.exit_status, original.exit_status);
}

TEST_F(PackScriptTest, RelativePathsAndTmpdirReplaceTheEarlierOutput) {
  PutStandardPayload();
  WriteFile(output(), "earlier installer\n", 0700);
  const std::string installer =
      "./" + std::filesystem::relative(InstallerBinary(), dir_.path()).string();
  ProcessResult r = Script({installer, "payload", "out/packed"}, {"TMPDIR=tmp"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(WorkAreaEmpty());
  EXPECT_EQ(OutputDir(), (std::set<std::string>{"packed"}));
  std::string archive = Section();
  ExpectPayloadSection(output(), archive);
  EXPECT_EQ(ReadZip(archive).size(), 7u);
}

// Each mistake is refused with a message that names it; the earlier OUTPUT
// keeps its bytes, and nothing is left beside it or in the work area.
TEST_F(PackScriptTest, RefusesMistakesAndKeepsTheEarlierOutput) {
  const std::string p = payload();
  const std::string packed_input = PackInstaller(dir_.path(), "archive");
  const std::string not_elf = dir_ / "not-elf";
  WriteFile(not_elf, "#!/bin/sh\n", 0755);
  const std::string dangling = dir_ / "dangling";
  ASSERT_EQ(symlink((dir_ / "gone").c_str(), dangling.c_str()), 0);
  const std::string hard = dir_ / "hard";
  const std::string soft = dir_ / "soft";
  // A PATH with some of the tools: objcopy and zip are missing.
  const std::string some_tools = dir_ / "some-tools";
  mkdir(some_tools.c_str(), 0755);
  mkdir((dir_ / "no-tools").c_str(), 0755);
  for (const char* tool : {"sha256sum", "mktemp", "readelf"}) {
    ASSERT_EQ(symlink(FindOnPath(tool).c_str(), (some_tools + "/" + tool).c_str()), 0) << tool;
  }
  const std::string usage = Script({"--help"}).out;
  ASSERT_FALSE(usage.empty());

  auto put = [this](const std::string& name, const std::string& content) {
    return [this, name, content] { Put(name, content); };
  };
  auto drop = [this](const std::string& name) {
    return [this, name] { unlink((payload() + "/" + name).c_str()); };
  };
  auto dangle = [this](const std::string& name) {
    return [this, name] {
      unlink((payload() + "/" + name).c_str());
      symlink("gone", (payload() + "/" + name).c_str());
    };
  };
  auto installer_as_output = [this] {
    WriteFile(output(), ReadFile(InstallerBinary()), 0755);
    link(output().c_str(), (dir_ / "hard").c_str());
    symlink(output().c_str(), (dir_ / "soft").c_str());
  };
  const std::string installer = InstallerBinary();
  struct Case {
    const char* what;
    std::function<void()> prepare;
    Words args;
    std::string message;  // the first line of the standard error
    int status = 1;
    Words env = {};
  } cases[] = {
      {"no executable",
       drop("amd64/quorvane"),
       {installer, p, output()},
       p + "/amd64/quorvane: no such file"},
      {"no library",
       drop("amd64/quorvane.so"),
       {installer, p, output()},
       p + "/amd64/quorvane.so: no such file"},
      {"executable a dangling link",
       dangle("amd64/quorvane"),
       {installer, p, output()},
       p + "/amd64/quorvane: a dangling link (its target does not exist)"},
      {"no licence text",
       drop("licenses/LICENSE.txt"),
       {installer, p, output()},
       p + "/licenses: no licence texts"},
      {"subdirectory",
       [p] { mkdir((p + "/licenses/more").c_str(), 0755); },
       {installer, p, output()},
       "licenses/more: only plain files can be packed"},
      {"dangling link among the files",
       dangle("licenses/NOTICE"),
       {installer, p, output()},
       "licenses/NOTICE: a dangling link (its target does not exist)"},
      {"licenses in amd64",
       put("amd64/licenses", "text"),
       {installer, p, output()},
       p + "/amd64/licenses: the installer makes the directory licenses beside the tool; "
           "rename it"},
      {"licenses directory in amd64",
       [p] { mkdir((p + "/amd64/licenses").c_str(), 0755); },
       {installer, p, output()},
       p + "/amd64/licenses: the installer makes the directory licenses beside the tool; "
           "rename it"},
      {"installer not an ELF file", nullptr, {not_elf, p, output()}, not_elf + ": not an ELF file"},
      {"installer another ELF file",
       nullptr,
       {"/bin/ls", p, output()},
       "/bin/ls: not the Quorvane installer (pack build/quorvane-installer)"},
      {"installer a dangling link",
       nullptr,
       {dangling, p, output()},
       dangling + ": a dangling link (its target does not exist)"},
      {"installer already packed",
       nullptr,
       {packed_input, p, output()},
       packed_input + ": already carries a payload (a .quorvane section); "
                      "pack the installer as built"},
      {"output is the installer",
       installer_as_output,
       {output(), p, output()},
       output() + ": the same file as INSTALLER; name another file"},
      {"output is the installer by another path",
       installer_as_output,
       {"out/../out/./packed", p, output()},
       output() + ": the same file as INSTALLER; name another file"},
      {"output a hard link to the installer",
       installer_as_output,
       {hard, p, output()},
       output() + ": the same file as INSTALLER; name another file"},
      {"output a symbolic link to the installer",
       installer_as_output,
       {output(), p, soft},
       soft + ": the same file as INSTALLER; name another file"},
      {"no tools",
       nullptr,
       {installer, p, output()},
       "missing tools: sha256sum (package coreutils), mktemp (package coreutils), "
       "zip (package zip), objcopy (package binutils), readelf (package binutils)",
       1,
       {"PATH=" + (dir_ / "no-tools")}},
      {"some tools",
       nullptr,
       {installer, p, output()},
       "missing tools: zip (package zip), objcopy (package binutils)",
       1,
       {"PATH=" + some_tools}},
      {"no arguments", nullptr, {}, "expected 3 arguments, got 0", 2},
      {"two arguments", nullptr, {installer, p}, "expected 3 arguments, got 2", 2},
      {"unknown option",
       nullptr,
       {"--force", installer, p, output()},
       "unknown option --force (name a file that begins with - as ./--force)",
       2},
      {"help with arguments", nullptr, {"-h", installer, p}, "--help takes no arguments", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PutStandardPayload();
    WriteFile(output(), "earlier installer\n", 0755);
    if (c.prepare) c.prepare();
    const std::string earlier = ReadFile(output());
    ProcessResult r = Script(c.args, c.env);
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.err, "pack-installer: " + c.message + "\n" + (c.status == 2 ? usage : ""));
    EXPECT_EQ(r.out, "");
    // Not EXPECT_EQ: a difference between two installers would flood the log.
    EXPECT_TRUE(ReadFile(output()) == earlier) << "OUTPUT changed";
    EXPECT_EQ(ModeOf(output()), 0755u);
    EXPECT_EQ(OutputDir(), (std::set<std::string>{"packed"}));
    EXPECT_TRUE(WorkAreaEmpty());
    unlink(hard.c_str());
    unlink(soft.c_str());
  }
}

TEST_F(PackScriptTest, HelpGoesToStandardOutput) {
  for (const char* word : {"--help", "-h"}) {
    SCOPED_TRACE(word);
    ProcessResult r = Script({word});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(
        r.out.starts_with("usage: pack-installer INSTALLER PAYLOAD_DIR OUTPUT\n"
                          "       pack-installer --help\n\n"))
        << r.out;
    EXPECT_NE(r.out.find("zip (zip), objcopy and readelf\n(binutils)"), std::string::npos);
    EXPECT_EQ(OutputDir(), std::set<std::string>{});
    EXPECT_TRUE(WorkAreaEmpty());
  }
}

// OUTPUT on a file system too small for the result: objcopy fails, and the
// earlier OUTPUT stands as it was. Runs in a mount namespace of its own.
TEST_F(PackScriptTest, FullDiskKeepsTheEarlierOutput) {
  if (std::string why = EnterPrivateMountNamespace(); !why.empty()) {
    GTEST_SKIP() << "no mount namespace of its own here: " << why;
  }
  const std::string out = dir_ / "out";
  if (mount("tmpfs", out.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a file system here: " << strerror(errno);
  }
  PutStandardPayload();
  const std::string earlier = std::string(100000, 'e');
  WriteFile(output(), earlier, 0755);
  ProcessResult r = Pack(InstallerBinary());
  std::string left = ReadFile(output());
  mode_t mode = ModeOf(output());
  std::set<std::string> entries = OutputDir();
  EXPECT_EQ(umount2(out.c_str(), MNT_DETACH), 0) << strerror(errno);

  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
  EXPECT_TRUE(r.err.ends_with("pack-installer: objcopy could not write the packed installer; " +
                              output() + " is unchanged\n"))
      << r.err;
  EXPECT_TRUE(left == earlier) << "the earlier output changed (" << left.size() << " bytes)";
  EXPECT_EQ(mode, 0755u);
  EXPECT_EQ(entries, (std::set<std::string>{"packed"}));
  EXPECT_TRUE(WorkAreaEmpty());
}

// A signal while the packed installer is being written: the script exits
// with 128 + the signal's number and removes the partial file and its work
// area; the earlier OUTPUT stands. objcopy is a stand-in that writes part of
// its output and then signals the script.
TEST_F(PackScriptTest, SignalLeavesNoPartialFile) {
  const std::string bin = dir_ / "bin";
  mkdir(bin.c_str(), 0755);
  WriteFile(bin + "/objcopy",
            "#!/bin/sh\n"
            "for a; do out=$a; done\n"
            "printf partial > \"$out\"\n"
            "kill -s \"$QV_SIGNAL\" $PPID\n",
            0755);
  PutStandardPayload();
  struct Case {
    const char* signal;
    int status;
  } cases[] = {{"HUP", 129}, {"INT", 130}, {"TERM", 143}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signal);
    WriteFile(output(), "earlier installer\n", 0755);
    Words env = {"PATH=" + bin + ":/usr/bin:/bin", std::string("QV_SIGNAL=") + c.signal};
    ProcessResult r = Script({InstallerBinary(), payload(), output()}, env);
    EXPECT_EQ(r.exit_status, c.status) << r.err;
    EXPECT_EQ(ReadFile(output()), "earlier installer\n");
    EXPECT_EQ(OutputDir(), (std::set<std::string>{"packed"}));
    EXPECT_TRUE(WorkAreaEmpty());
  }
}

}  // namespace
}  // namespace quorvane::test
