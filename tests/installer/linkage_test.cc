// The installer is shipped as one file to machines where nothing else was
// installed: it may need the C library and nothing more.
#include <fcntl.h>
#include <gelf.h>
#include <gtest/gtest.h>
#include <libelf.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quorvane {
namespace {

// The DT_NEEDED entries of the ELF file at path, in order.
std::vector<std::string> NeededLibraries(const std::string& path) {
  std::vector<std::string> needed;
  elf_version(EV_CURRENT);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ADD_FAILURE() << "open " << path;
    return needed;
  }
  Elf* elf = elf_begin(fd, ELF_C_READ, nullptr);
  for (Elf_Scn* scn = nullptr; elf != nullptr && (scn = elf_nextscn(elf, scn)) != nullptr;) {
    GElf_Shdr shdr;
    if (gelf_getshdr(scn, &shdr) == nullptr || shdr.sh_type != SHT_DYNAMIC) continue;
    Elf_Data* data = elf_getdata(scn, nullptr);
    for (size_t i = 0; data != nullptr && i < shdr.sh_size / shdr.sh_entsize; ++i) {
      GElf_Dyn dyn;
      if (gelf_getdyn(data, static_cast<int>(i), &dyn) == nullptr) break;
      if (dyn.d_tag == DT_NEEDED) needed.push_back(elf_strptr(elf, shdr.sh_link, dyn.d_un.d_val));
    }
  }
  if (elf == nullptr) ADD_FAILURE() << path << ": " << elf_errmsg(-1);
  elf_end(elf);
  close(fd);
  return needed;
}

TEST(LinkageTest, InstallerNeedsOnlyTheCLibrary) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer build links the sanitizer runtimes and the shared C++ "
                  "library; the normal build checks the shipped linkage";
#endif
  // The maths library and the loader are part of the C library's package.
  const std::vector<std::string> allowed = {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"};
  const std::vector<std::string> needed = NeededLibraries(test::InstallerBinary());
  std::vector<std::string> others;
  for (const std::string& lib : needed) {
    if (std::find(allowed.begin(), allowed.end(), lib) == allowed.end()) others.push_back(lib);
  }
  EXPECT_EQ(others, std::vector<std::string>{}) << "needed: " << ::testing::PrintToString(needed);
  EXPECT_NE(std::find(needed.begin(), needed.end(), "libc.so.6"), needed.end())
      << "needed: " << ::testing::PrintToString(needed);
}

}  // namespace
}  // namespace quorvane
