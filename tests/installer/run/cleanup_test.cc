// Deletion of the install directory at the end of a run, on real trees,
// with the log it writes.
#include "installer/run/cleanup.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "common/dir_identity.h"
#include "support/deletion_fixture.h"
#include "support/log_lines.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::AddRetries;
using test::CleanupTest;
using test::Exists;
using test::IsLink;
using test::LogLines;
using test::MakeDir;
using test::MakeFifo;
using test::MakeLink;
using test::NotEmpty;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

using test::Lines;

void MakeSocket(const std::string& path, mode_t mode) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  struct sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr), 0) << path;
  close(fd);
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

TEST_F(CleanupTest, DeletesTreeDepthFirstWithEveryLine) {
  MakeDir(D());
  WriteFile(D("a"), "1");
  MakeDir(D("b"));
  WriteFile(D("b/c"), "2");
  cleanupInstallDir(log_, Parameters{}, D());
  EXPECT_EQ(Logged(), (Lines{
                          "[INFO ] Delete temporary installer directory: " + D(),
                          "[INFO ] Deleted file " + D("a"),
                          "[INFO ] Deleted file " + D("b/c"),
                          "[INFO ] Deleted directory " + D("b"),
                          "[INFO ] Deleted directory " + D("b"),
                          "[INFO ] Deleted directory " + D(),
                      }));
  EXPECT_FALSE(Exists(D()));
  EXPECT_TRUE(Exists(tmp_));
}

// A link (to a directory outside), a named pipe and a socket stay, and so do
// the directories holding them, each removal of those with its full retries.
TEST_F(CleanupTest, LeavesLinksPipesAndSocketsWithTheirDirectories) {
  MakeDir(D());
  MakeDir(D("a"));
  MakeLink(outside_, D("a/link"));
  WriteFile(D("b"), "x");
  MakeFifo(D("fifo"), 0644);
  MakeSocket(D("sock"), 0751);
  ops_.pause = [&](int64_t ns) { pauses_.push_back(ns); };
  cleanupInstallDir(Ctx(), Parameters{}, D());

  Lines want = {"[INFO ] Delete temporary installer directory: " + D(),
                "[ERROR] Failed to delete " + D("a/link") + ". (unknown mode: Lrwxrwxrwx)"};
  AddRetries(want, D("a"), 10);
  want.push_back("[ERROR] Failed to delete directory " + D("a") + ". (" + NotEmpty(D("a")) + ")");
  want.push_back("[ERROR] Failed to delete all files and subdirectories from directory " + D("a") +
                 ". (unknown mode: Lrwxrwxrwx)");
  AddRetries(want, D("a"), 10);
  want.push_back("[ERROR] Failed to delete directory " + D("a") + ". (" + NotEmpty(D("a")) + ")");
  want.push_back("[INFO ] Deleted file " + D("b"));
  want.push_back("[ERROR] Failed to delete " + D("fifo") + ". (unknown mode: prw-r--r--)");
  want.push_back("[ERROR] Failed to delete " + D("sock") + ". (unknown mode: Srwxr-x--x)");
  AddRetries(want, D(), 10);
  want.push_back("[ERROR] Failed to delete directory " + D() + ". (" + NotEmpty(D()) + ")");
  want.push_back("[ERROR] Failed to delete temporary installer directory \"" + D() +
                 "\". (unknown mode: Lrwxrwxrwx)");
  EXPECT_EQ(Logged(), want);
  EXPECT_EQ(pauses_, std::vector<int64_t>(30, 100'000'000));

  EXPECT_TRUE(IsLink(D("a/link")));
  EXPECT_TRUE(Exists(D("fifo")));
  EXPECT_TRUE(Exists(D("sock")));
  EXPECT_FALSE(Exists(D("b")));
  ExpectOutsideUntouched();
}

TEST_F(CleanupTest, LinkAtTheTopLevelIsRefused) {
  MakeLink(outside_, D());
  cleanupInstallDir(log_, Parameters{}, D());
  EXPECT_EQ(Logged(), (Lines{
                          "[INFO ] Delete temporary installer directory: " + D(),
                          "[ERROR] Failed to delete " + D() + ". (unknown mode: Lrwxrwxrwx)",
                          "[ERROR] Failed to delete temporary installer directory \"" + D() +
                              "\". (unknown mode: Lrwxrwxrwx)",
                      }));
  EXPECT_TRUE(IsLink(D()));
  ExpectOutsideUntouched();
}

TEST_F(CleanupTest, FlagsDecideWhetherTheDirectoryIsDeleted) {
  struct Case {
    bool no_delete, kill, help, deleted;
  } cases[] = {
      {false, false, false, true}, {true, false, false, false}, {true, true, false, true},
      {true, false, true, true},   {false, true, true, true},
  };
  for (const Case& c : cases) {
    ScratchDir scratch;
    InstallerLog log;
    log.initInstallerLog(scratch / "log.txt", true);
    const std::string dir = scratch / "quorvane_7";
    MakeDir(dir);
    Parameters params;
    params.NoDelete = c.no_delete;
    params.Kill = c.kill;
    params.Help = c.help;
    cleanupInstallDir(log, params, dir);
    Lines want = c.deleted
                     ? Lines{"[INFO ] Delete temporary installer directory: " + dir,
                             "[INFO ] Deleted directory " + dir}
                     : Lines{"[INFO ] Deleting temporary files ignored due command line arguments"};
    EXPECT_EQ(LogLines(ReadFile(scratch / "log.txt")), want) << c.no_delete << c.kill << c.help;
    EXPECT_EQ(Exists(dir), !c.deleted);
  }
}

UniqueFd HoldDir(const std::string& dir) {
  UniqueFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  EXPECT_TRUE(fd.valid()) << dir;
  return fd;
}

// The directory created for the run is deleted; another one found at its
// path later is left with all it holds.
TEST_F(CleanupTest, OnlyTheDirectoryCreatedForTheRunIsDeleted) {
  for (bool replaced : {false, true}) {
    SCOPED_TRACE(replaced ? "replaced" : "the same");
    MakeDir(D());
    WriteFile(D("f"), "x");
    const UniqueFd parent = HoldDir(tmp_);
    UniqueFd created = HoldDir(D());
    if (replaced) {
      ASSERT_EQ(rename(D().c_str(), (tmp_ + "/moved").c_str()), 0);
      MakeDir(D());
      WriteFile(D("theirs"), "theirs");
    }
    ScratchDir scratch;
    InstallerLog log;
    log.initInstallerLog(scratch / "log.txt", true);
    cleanupInstallDir(log, Parameters{}, D(), HeldTree{parent.get(), created.release()});
    Lines want = {"[INFO ] Delete temporary installer directory: " + D()};
    if (replaced) {
      want.push_back("[ERROR] Failed to delete temporary installer directory \"" + D() +
                     "\". (open " + D() + ": no longer the directory created for this run)");
      EXPECT_EQ(ReadFile(D("theirs")), "theirs");
      EXPECT_EQ(ReadFile(tmp_ + "/moved/f"), "x");
    } else {
      want.push_back("[INFO ] Deleted file " + D("f"));
      want.push_back("[INFO ] Deleted directory " + D());
      EXPECT_FALSE(Exists(D()));
    }
    EXPECT_EQ(LogLines(ReadFile(scratch / "log.txt")), want);
  }
}

TEST_F(CleanupTest, InstallDirAlreadyGoneWritesOnlyTheStartLine) {
  cleanupInstallDir(log_, Parameters{}, D());
  EXPECT_EQ(Logged(), Lines{"[INFO ] Delete temporary installer directory: " + D()});
}

}  // namespace
}  // namespace quorvane
