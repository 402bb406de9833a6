// Trees to delete on disk: makers of the odd entries a tree may hold, and
// the fixture of the deletion tests, an install directory D in a temporary
// directory, with a log file and a directory outside that must stay.
#ifndef QUORVANE_TESTS_SUPPORT_DELETION_FIXTURE_H_
#define QUORVANE_TESTS_SUPPORT_DELETION_FIXTURE_H_

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/error.h"
#include "installer/deletion/delete_tree.h"
#include "installer/log/log.h"
#include "support/test_support.h"

namespace quorvane::test {

inline void MakeDir(const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

inline void MakeLink(const std::string& target, const std::string& path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

inline void MakeFifo(const std::string& path, mode_t mode) {
  ASSERT_EQ(mkfifo(path.c_str(), mode), 0) << path;
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

inline bool IsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The line of each of n retries to remove path.
inline void AddRetries(std::vector<std::string>& lines, const std::string& path, int n) {
  for (int i = 0; i < n; ++i) lines.push_back("[DEBUG] Retry delete: " + path);
}

inline std::string NotEmpty(const std::string& path) {
  return SysError("remove", path, ENOTEMPTY).message;
}

// A log file beside a temporary directory that holds the install directory D.
class CleanupTest : public ::testing::Test {
 protected:
  CleanupTest() {
    tmp_ = scratch_ / "tmp";
    outside_ = scratch_ / "outside";
    root_ = tmp_ + "/quorvane_1";
    mkdir(tmp_.c_str(), 0755);
    mkdir(outside_.c_str(), 0755);
    WriteFile(outside_ + "/precious", "keep me");
    log_.initInstallerLog(scratch_ / "log.txt", true);
  }

  std::vector<std::string> Logged() { return LogLines(ReadFile(scratch_ / "log.txt")); }
  DeleteContext Ctx() { return DeleteContext{log_, ops_}; }
  std::string D(const std::string& rel = "") const {
    return rel.empty() ? root_ : root_ + "/" + rel;
  }
  void ExpectOutsideUntouched() { EXPECT_EQ(ReadFile(outside_ + "/precious"), "keep me"); }

  ScratchDir scratch_;
  std::string tmp_, outside_, root_;
  InstallerLog log_;
  DeleteOps ops_;
  std::vector<int64_t> pauses_;
};

}  // namespace quorvane::test

#endif  // QUORVANE_TESTS_SUPPORT_DELETION_FIXTURE_H_
