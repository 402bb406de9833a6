#include "installer/run/installer_paths.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "common/path.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::RealPath;

TEST(InstallerPathsTest, DefaultTempDirComesFromTmpdir) {
  const char* saved = getenv("TMPDIR");
  const std::string old = saved ? saved : "";
  unsetenv("TMPDIR");
  EXPECT_EQ(DefaultTempDirFromEnvironment(), "/tmp");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(DefaultTempDirFromEnvironment(), "/tmp");
  setenv("TMPDIR", "rel//work/", 1);  // taken unchanged
  EXPECT_EQ(DefaultTempDirFromEnvironment(), "rel//work/");
  if (saved)
    setenv("TMPDIR", old.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

TEST(InstallerPathsTest, InstallerFileIsTheRealExecutable) {
  Result<std::string> path = getInstallerFilePath();
  ASSERT_TRUE(path.ok()) << path.error().message;
  EXPECT_EQ(*path, RealPath("/proc/self/exe"));
  Result<std::string> dir = getInstallerDir();
  ASSERT_TRUE(dir.ok());
  EXPECT_EQ(*dir, DirPart(*path));
}

TEST(InstallerPathsTest, DefaultOutputDirIsTheProgramWordsDirectory) {
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  setenv("PWD", cwd, 1);
  const std::string wd = cwd;
  const std::pair<std::string, std::string> cases[] = {
      {"installer", wd},  // found through the search path
      {"./bin/installer", wd + "/bin"},
      {"../x/installer", JoinPath({wd, "../x"})},
      {"/opt/q/bin/installer", "/opt/q/bin"},
      {"/installer", "/"},
  };
  for (const auto& [word, want] : cases) {
    Result<std::string> got = getDefaultOutputDir(word);
    ASSERT_TRUE(got.ok()) << word;
    EXPECT_EQ(*got, want) << word;
  }
}

}  // namespace
}  // namespace quorvane
