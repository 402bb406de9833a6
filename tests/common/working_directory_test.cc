#include "common/working_directory.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/test_support.h"

namespace quorvane {
namespace {

class WorkingDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_pwd_ = getenv("PWD") ? getenv("PWD") : "";
    char buf[4096];
    ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
    old_cwd_ = buf;
  }
  void TearDown() override {
    ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
    setenv("PWD", old_pwd_.c_str(), 1);
  }
  std::string old_pwd_, old_cwd_;
};

TEST_F(WorkingDirTest, MakeAbsoluteUsesPwdOnlyWhenItNamesTheSameDirectory) {
  test::ScratchDir dir;
  const std::string real = dir / "real";
  const std::string link = dir / "link";
  ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  ASSERT_EQ(chdir(real.c_str()), 0);

  setenv("PWD", link.c_str(), 1);  // same directory by device and inode
  EXPECT_EQ(MakeAbsolute("x/../y").value(), link + "/y");
  EXPECT_EQ(MakeAbsolute("").value(), link);

  setenv("PWD", dir.path().c_str(), 1);  // another directory: ignored
  EXPECT_EQ(MakeAbsolute("y").value(), real + "/y");

  setenv("PWD", "relative", 1);  // not absolute: ignored
  EXPECT_EQ(MakeAbsolute("y").value(), real + "/y");

  EXPECT_EQ(MakeAbsolute("/a/./b/../c/").value(), "/a/c");
}

}  // namespace
}  // namespace quorvane
