// Helpers shared by the fuzz targets: property checks that abort loudly, a
// scratch directory per target (the tests' ScratchDir, support/scratch.h),
// and file-tree snapshots.
#ifndef QUORVANE_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define QUORVANE_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <dirent.h>
#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/scratch.h"

namespace quorvane::fuzz {

// A broken property: tell what broke, then abort so that libFuzzer keeps the input.
[[noreturn]] inline void Die(const char* what, const std::string& detail = std::string()) {
  fprintf(stderr, "broken property: %s %s\n", what, detail.c_str());
  abort();
}

inline void Check(bool ok, const char* what, const std::string& detail = std::string()) {
  if (!ok) Die(what, detail);
}

// The words of an input: its bytes split at every NUL byte.
inline std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size) {
  std::vector<std::string> words;
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  words.push_back(word);
  return words;
}

// Removes everything inside dir, keeping dir itself (it may be the working
// directory).
inline void EmptyDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  for (const std::string& name : names) test::RemoveTree(dir + "/" + name);
}

// A small file that must stay as it is.
inline void WriteMarker(const std::string& path) {
  FILE* f = fopen(path.c_str(), "w");
  if (f == nullptr) Die("fopen", path);
  fputs("marker\n", f);
  fclose(f);
}

// A per-target directory in the build tree's fuzz scratch area, made on
// first use and removed at exit. Its name is unique, so that parallel runs of
// one target stay apart.
inline const std::string& ScratchFor(const char* target) {
  static const test::ScratchDir dir(target);
  return dir.path();
}

// Every path under root (links not followed) with its type and size.
using TreeSnapshot = std::map<std::string, std::pair<mode_t, off_t>>;

inline TreeSnapshot Snapshot(const std::string& root) {
  static TreeSnapshot* out;
  TreeSnapshot snap;
  out = &snap;
  nftw(
      root.c_str(),
      [](const char* p, const struct stat* st, int, struct FTW*) {
        (*out)[p] = {st->st_mode & S_IFMT, S_ISDIR(st->st_mode) ? 0 : st->st_size};
        return 0;
      },
      16, FTW_PHYS);
  return snap;
}

}  // namespace quorvane::fuzz

#endif  // QUORVANE_TESTS_FUZZ_FUZZ_SUPPORT_H_
