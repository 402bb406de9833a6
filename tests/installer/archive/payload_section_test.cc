#include "installer/archive/payload_section.h"

#include <elf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/payload_fixture.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::AddPayloadSection;
using test::InstallerBinary;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

// The file position of the header of the first section with that name.
size_t SectionHeaderPosition(const std::string& image, const std::string& name) {
  Elf64_Ehdr eh;
  memcpy(&eh, image.data(), sizeof eh);
  Elf64_Shdr names;
  memcpy(&names, image.data() + eh.e_shoff + eh.e_shstrndx * eh.e_shentsize, sizeof names);
  for (size_t i = 0; i < eh.e_shnum; ++i) {
    size_t at = eh.e_shoff + i * eh.e_shentsize;
    Elf64_Shdr sh;
    memcpy(&sh, image.data() + at, sizeof sh);
    if (name == image.c_str() + names.sh_offset + sh.sh_name) return at;
  }
  ADD_FAILURE() << "no section " << name;
  return 0;
}

TEST(GetPayloadData, ReadsTheWholeSection) {
  ScratchDir dir;
  std::string payload = "PK\x03\x04 payload bytes \0 with a NUL";
  payload += std::string(100000, 'z');
  AddPayloadSection(InstallerBinary(), dir / "one", payload);
  Result<std::string> data = getPayloadData(dir / "one");
  ASSERT_TRUE(data.ok()) << data.error().message;
  EXPECT_EQ(*data, payload);
}

TEST(GetPayloadData, TakesTheFirstOfTwoSections) {
  ScratchDir dir;
  AddPayloadSection(InstallerBinary(), dir / "one", "first");
  AddPayloadSection(dir / "one", dir / "two", "second");
  Result<std::string> data = getPayloadData(dir / "two");
  ASSERT_TRUE(data.ok()) << data.error().message;
  EXPECT_EQ(*data, "first");
}

TEST(GetPayloadData, EmptySectionGivesNoBytes) {
  ScratchDir dir;
  AddPayloadSection(InstallerBinary(), dir / "empty", "");
  Result<std::string> data = getPayloadData(dir / "empty");
  ASSERT_TRUE(data.ok()) << data.error().message;
  EXPECT_EQ(*data, "");
}

TEST(GetPayloadData, Errors) {
  ScratchDir dir;
  Result<std::string> none = getPayloadData(InstallerBinary());
  ASSERT_FALSE(none.ok());
  EXPECT_EQ(none.error().message, "couldn't find .quorvane section");

  Result<std::string> missing = getPayloadData(dir / "missing");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().message, "open " + (dir / "missing") + ": no such file or directory");

  for (std::string content : {std::string("#!/bin/sh\necho not an ELF file\n"), std::string(),
                              std::string("\x7f"
                                          "ELF",
                                          4)}) {
    WriteFile(dir / "other", content);
    EXPECT_FALSE(getPayloadData(dir / "other").ok()) << content.size();
  }
}

TEST(GetPayloadData, SectionOutsideTheFileIsAnErrorNotARead) {
  ScratchDir dir;
  AddPayloadSection(InstallerBinary(), dir / "packed", std::string(5000, 'p'));
  const std::string image = ReadFile(dir / "packed");
  const size_t header = SectionHeaderPosition(image, ".quorvane");
  Elf64_Shdr sh;
  memcpy(&sh, image.data() + header, sizeof sh);

  struct Case {
    const char* what;
    uint64_t offset, size;
  };
  const Case cases[] = {
      {"size past the end", sh.sh_offset, image.size() - sh.sh_offset + 1},
      {"offset past the end", image.size() + 1, 1},
      {"offset and size overflow", UINT64_MAX - 10, 100},
      {"huge size", sh.sh_offset, UINT64_MAX},
  };
  for (const Case& c : cases) {
    std::string patched = image;
    Elf64_Shdr bad = sh;
    bad.sh_offset = c.offset;
    bad.sh_size = c.size;
    memcpy(patched.data() + header, &bad, sizeof bad);
    WriteFile(dir / "bad", patched);
    Result<std::string> data = getPayloadData(dir / "bad");
    ASSERT_FALSE(data.ok()) << c.what;
    EXPECT_EQ(data.error().message,
              "section .quorvane of " + (dir / "bad") + " lies outside the file");
  }

  // A file cut inside the section loses its section table as well.
  WriteFile(dir / "cut", image.substr(0, sh.sh_offset + 100));
  EXPECT_FALSE(getPayloadData(dir / "cut").ok());
}

}  // namespace
}  // namespace quorvane
