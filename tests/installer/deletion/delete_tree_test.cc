// Deletion of trees, files and nothing on disk, confined to a safe
// directory, with the log it writes and its retries.
#include "installer/deletion/delete_tree.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "common/path.h"
#include "common/working_directory.h"
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

// Opening a symbolic link as a directory without following it fails; the
// error number differs between systems.
void ExpectRefusedOpen(const Error& error, const std::string& path) {
  int e = error.errnum;
  EXPECT_TRUE(e == ENOTDIR || e == ELOOP
#ifdef EFTYPE
              || e == EFTYPE
#endif
              )
      << error.message;
  EXPECT_EQ(error.message, SysError("open", path, e).message);
}

TEST(IsSafeToDeleteTest, PrefixRuleInLowerCaseAtAnElementBoundary) {
  struct Case {
    std::string path, safeDir;
    bool allowed;
  } cases[] = {
      {"/tmp/q_1/f", "/tmp/q_1", true},
      {"/tmp/q_1", "/tmp/q_1", true},
      {"/TMP/Q_1/f", "/tmp/q_1", true},
      {"/tmp/q_1/f", "/TMP/Q_1", true},
      {"/tmp/q_1//a/./b/", "/tmp/q_1", true},  // cleaned before the comparison
      {"/tmp/q_1/../x", "/tmp/q_1", false},    // cleaned to /tmp/x
      {"/tmp/q_", "/tmp/q_1", false},
      {"/tmp/q_12/f", "/tmp/q_1", false},  // a sibling, not inside
      {"/tmp/q_12", "/tmp/q_1", false},
      {"/tmp/q_1", "/tmp/q_1/", false},  // the "/" is part of the text
      {"/tmp/q_1/f", "/tmp/q_1/", true},
      {"/tmp/\xC3\x84x/f", "/tmp/\xC3\xA4X", true},  // "Äx" and "äX"
      {"/tmp/i/f", "/tmp/\xC4\xB0", true},           // "İ" lowers to "i"
      {"/tmp/\xC4\xB1/f", "/tmp/i", false},          // "ı" stays itself
      {"/tmp/\xFF/f", "/tmp/\xEF\xBF\xBD", true},    // an invalid byte reads as U+FFFD
      {"/x", "/", true},
      {"/tmp/q_1", "", true},
  };
  for (const Case& c : cases) {
    Status st = isSafeToDelete(c.path, c.safeDir);
    EXPECT_EQ(st.ok(), c.allowed) << c.path << " in " << c.safeDir;
    if (!st.ok()) {
      EXPECT_EQ(st.error().message,
                "cannot delete files or directory outside safe temporary directory " + c.safeDir);
    }
  }
}

TEST(IsSafeToDeleteTest, RelativePathIsJoinedToTheWorkingDirectory) {
  Result<std::string> cwd = WorkingDirectory();
  ASSERT_TRUE(cwd.ok());
  EXPECT_TRUE(isSafeToDelete("a/b", *cwd).ok());
  EXPECT_TRUE(isSafeToDelete(".", *cwd).ok());
  EXPECT_FALSE(isSafeToDelete("..", *cwd).ok());
}

TEST(FileModeTextTest, TypeLettersThenPermissions) {
  struct Case {
    mode_t mode;
    const char* text;
  } cases[] = {
      {S_IFLNK | 0755, "Lrwxr-xr-x"},  {S_IFIFO | 0644, "prw-r--r--"},
      {S_IFCHR | 0666, "Dcrw-rw-rw-"}, {S_IFBLK | 0600, "Drw-------"},
      {S_IFSOCK | 0751, "Srwxr-x--x"}, {S_IFREG | 04755, "urwxr-xr-x"},
      {S_IFREG | 02710, "grwx--x---"}, {S_IFDIR | 01777, "dtrwxrwxrwx"},
      {S_IFREG, "----------"},         {S_IFCHR | 06000 | 01000, "Dugct---------"},
  };
  for (const Case& c : cases) EXPECT_EQ(FileModeText(c.mode), c.text) << std::oct << c.mode;
}

TEST_F(CleanupTest, EntriesInAscendingByteOrder) {
  MakeDir(D());
  const Lines names = {"\xC3\xA9", "Z", "a", "x", "x.so", "xa"};
  for (const auto& n : names) WriteFile(D(n), "");
  ASSERT_TRUE(deleteDirRec(Ctx(), D(), D(), 0, 0).ok());
  EXPECT_EQ(Logged(), (Lines{
                          "[INFO ] Deleted file " + D("Z"),
                          "[INFO ] Deleted file " + D("a"),
                          "[INFO ] Deleted file " + D("x"),
                          "[INFO ] Deleted file " + D("x.so"),
                          "[INFO ] Deleted file " + D("xa"),
                          "[INFO ] Deleted file " + D("\xC3\xA9"),
                          "[INFO ] Deleted directory " + D(),
                      }));
}

TEST_F(CleanupTest, LinkWithTrailingSlashIsNotFollowed) {
  MakeLink(outside_, D());
  for (bool all : {true, false}) {
    Status st =
        all ? deleteAll(Ctx(), D() + "/", D(), 0, 0) : deleteDirRec(Ctx(), D() + "/", D(), 0, 0);
    ASSERT_FALSE(st.ok());
    ExpectRefusedOpen(st.error(), D() + "/");
  }
  EXPECT_EQ(Logged(), Lines{});
  EXPECT_TRUE(IsLink(D()));
  ExpectOutsideUntouched();
}

// Someone who can write into the tree puts a link to the outside where a
// directory stood, after its parent was listed: nothing outside is reached.
TEST_F(CleanupTest, DirectorySwappedForLinkDuringDeletionCannotReachOutside) {
  MakeDir(D());
  MakeDir(D("a"));
  WriteFile(D("a/precious"), "ours");
  WriteFile(D("z"), "");
  ops_.before_open_dir = [&](const std::string& dir) {
    if (dir != D("a")) return;
    ASSERT_EQ(rename(D("a").c_str(), D("a.moved").c_str()), 0);
    MakeLink(outside_, D("a"));
  };
  Status st = deleteAll(Ctx(), D(), D(), 0, 0);
  ASSERT_FALSE(st.ok());
  ExpectRefusedOpen(st.error(), D("a"));
  const std::string open_err = st.error().message;
  EXPECT_EQ(Logged(), (Lines{
                          "[ERROR] Failed to delete all files and subdirectories from directory " +
                              D("a") + ". (" + open_err + ")",
                          "[INFO ] Deleted directory " + D("a"),  // the link itself went
                          "[INFO ] Deleted file " + D("z"),
                          "[ERROR] Failed to delete directory " + D() + ". (" + NotEmpty(D()) + ")",
                      }));
  ExpectOutsideUntouched();
  EXPECT_TRUE(Exists(outside_));
  EXPECT_EQ(ReadFile(D("a.moved/precious")), "ours");
}

// A directory exchanged for another one after its status was read is not
// entered: what the other one holds stays.
TEST_F(CleanupTest, DirectorySwappedForAnotherDirectoryIsNotEntered) {
  MakeDir(D());
  MakeDir(D("a"));
  MakeDir(D("other"));
  WriteFile(D("other/kept"), "kept");
  ops_.before_open_dir = [&](const std::string& dir) {
    if (dir != D("a")) return;
    ASSERT_EQ(rename(D("a").c_str(), (tmp_ + "/a.moved").c_str()), 0);
    ASSERT_EQ(rename(D("other").c_str(), D("a").c_str()), 0);
  };
  Status st = deleteAll(Ctx(), D(), D(), 0, 0);
  ASSERT_FALSE(st.ok());
  const std::string replaced = "open " + D("a") + ": directory replaced during deletion";
  EXPECT_EQ(st.error().message, replaced);
  const std::string not_empty = NotEmpty(D("a"));
  EXPECT_EQ(Logged(), (Lines{
                          "[ERROR] Failed to delete all files and subdirectories from directory " +
                              D("a") + ". (" + replaced + ")",
                          "[ERROR] Failed to delete directory " + D("a") + ". (" + not_empty + ")",
                          "[ERROR] Can't delete " + D("other") +
                              ", error: " + SysError("lstat", D("other"), ENOENT).message,
                          "[ERROR] Failed to delete directory " + D() + ". (" + NotEmpty(D()) + ")",
                      }));
  EXPECT_EQ(ReadFile(D("a/kept")), "kept");
}

// A directory moved away while a subdirectory of it is deleted: the way
// back up leads elsewhere, so the walk stops there.
TEST_F(CleanupTest, WalkStopsWhereTheWayBackLeadsElsewhere) {
  MakeDir(D());
  MakeDir(D("a"));
  MakeDir(D("a/b"));
  WriteFile(D("z"), "z");
  ops_.before_open_dir = [&](const std::string& dir) {
    if (dir == D("a/b")) {
      ASSERT_EQ(rename(D("a").c_str(), (tmp_ + "/moved").c_str()), 0);
    }
  };
  Status st = deleteAll(Ctx(), D(), D(), 0, 0);
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.error().message, "open " + D("a") + "/..: directory replaced during deletion");
  EXPECT_EQ(Logged(), (Lines{"[INFO ] Deleted directory " + D("a/b"),
                             "[INFO ] Deleted directory " + D("a/b")}));
  EXPECT_EQ(ReadFile(D("z")), "z");
  EXPECT_TRUE(Exists(tmp_ + "/moved"));
}

TEST_F(CleanupTest, TopLevelSwappedForLinkAfterItsStatusWasRead) {
  MakeDir(D());
  ops_.before_open_dir = [&](const std::string& dir) {
    if (dir != D()) return;
    ASSERT_EQ(rename(D().c_str(), (tmp_ + "/moved").c_str()), 0);
    MakeLink(outside_, D());
  };
  Status st = deleteAll(Ctx(), D(), D(), 0, 0);
  ASSERT_FALSE(st.ok());
  ExpectRefusedOpen(st.error(), D());
  EXPECT_EQ(Logged(), Lines{});
  EXPECT_TRUE(IsLink(D()));
  ExpectOutsideUntouched();
}

// A subdirectory that vanishes before it is opened counts as removed; one
// that turns into a file is a failed listing, and the entry is then removed.
TEST_F(CleanupTest, SubdirectoryGoneOrReplacedBeforeItIsOpened) {
  MakeDir(D());
  MakeDir(D("gone"));
  MakeDir(D("turned"));
  ops_.before_open_dir = [&](const std::string& dir) {
    if (dir == D("gone")) {
      ASSERT_EQ(rmdir(dir.c_str()), 0);
    }
    if (dir == D("turned")) {
      ASSERT_EQ(rmdir(dir.c_str()), 0);
      WriteFile(dir, "");
    }
  };
  Status st = deleteAll(Ctx(), D(), D(), 0, 0);
  const std::string not_dir = SysError("open", D("turned"), ENOTDIR).message;
  EXPECT_EQ(Logged(), (Lines{
                          "[INFO ] Deleted directory " + D("gone"),
                          "[ERROR] Failed to delete all files and subdirectories from directory " +
                              D("turned") + ". (" + not_dir + ")",
                          "[INFO ] Deleted directory " + D("turned"),
                          "[INFO ] Deleted directory " + D(),
                      }));
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.error().message, not_dir);
  EXPECT_FALSE(Exists(D()));
}

TEST_F(CleanupTest, DeleteAllOnFilesPipesAndMissingPaths) {
  MakeDir(D());
  WriteFile(D("f"), "x");
  MakeFifo(D("p"), 0640);

  EXPECT_TRUE(deleteAll(Ctx(), D("missing"), D(), 10, 0).ok());
  EXPECT_TRUE(deleteAll(Ctx(), D("f"), D(), 10, 0).ok());
  Status pipe = deleteAll(Ctx(), D("p"), D(), 10, 0);
  ASSERT_FALSE(pipe.ok());
  EXPECT_EQ(pipe.error().message, "unknown mode: prw-r-----");
  Status refused = deleteAll(Ctx(), tmp_ + "/quorvane_12", D(), 10, 0);
  ASSERT_FALSE(refused.ok());
  Status under_gone = deleteAll(Ctx(), D("f/x"), D(), 10, 0);  // f is gone: nothing there
  EXPECT_TRUE(under_gone.ok());

  const std::string refusal =
      "cannot delete files or directory outside safe temporary directory " + D();
  EXPECT_EQ(refused.error().message, refusal);
  EXPECT_EQ(Logged(), (Lines{
                          "[INFO ] Deleted file " + D("f") + ".",
                          "[ERROR] Failed to delete " + D("p") + ". (unknown mode: prw-r-----)",
                          "[ERROR] Can't delete " + tmp_ + "/quorvane_12. (" + refusal + ")",
                      }));
  EXPECT_FALSE(Exists(D("f")));
  EXPECT_TRUE(Exists(D("p")));
}

TEST_F(CleanupTest, StatusReadFailureAtTopLevelIsReturnedWithoutLine) {
  MakeDir(D());
  WriteFile(D("f"), "x");
  Status st = deleteAll(Ctx(), D("f/x"), D(), 0, 0);
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.error().message, SysError("stat", D("f/x"), ENOTDIR).message);
  EXPECT_EQ(st.error().errnum, ENOTDIR);
  EXPECT_EQ(Logged(), Lines{});
}

TEST_F(CleanupTest, RefusedDirectoryStaysWithAllItHolds) {
  MakeDir(D());
  WriteFile(D("f"), "x");
  Status st = deleteDirRec(Ctx(), D(), tmp_ + "/other", 0, 0);
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(Logged(),
            (Lines{"[ERROR] Can't delete directory " + D() + ". (" + st.error().message + ")"}));
  EXPECT_TRUE(Exists(D("f")));
}

// The removal that keeps failing for real: an immutable file, where the
// file system supports the flag.
TEST_F(CleanupTest, ImmutableFileIsRetriedAndReported) {
  MakeDir(D());
  WriteFile(D("f"), "x");
  auto chattr = [&](const char* flag) {
    return test::RunProgram("/usr/bin/chattr", {"chattr", flag, D("f")}, {}, "").exit_status;
  };
  if (geteuid() != 0 || chattr("+i") != 0) GTEST_SKIP() << "no immutable flag here";
  ops_.pause = [&](int64_t ns) { pauses_.push_back(ns); };
  Status st = deleteAll(Ctx(), D(), D(), 2, 7);
  chattr("-i");

  const std::string perm = SysError("remove", D("f"), EPERM).message;
  Lines want;
  AddRetries(want, D("f"), 2);
  want.push_back("[ERROR] Failed to delete file " + D("f") + ". (" + perm + ")");
  AddRetries(want, D(), 2);
  want.push_back("[ERROR] Failed to delete directory " + D() + ". (" + NotEmpty(D()) + ")");
  EXPECT_EQ(Logged(), want);
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.error().message, perm);
  EXPECT_EQ(st.error().errnum, EPERM);
  EXPECT_EQ(pauses_, std::vector<int64_t>(4, 7));
}

// Removal that always fails: unlink with EBUSY, rmdir with ENOTDIR.
struct FailingRemoval {
  int calls = 0;
  int operator()(int, const char*, int flags) {
    ++calls;
    errno = (flags & AT_REMOVEDIR) ? ENOTDIR : EBUSY;
    return -1;
  }
};

TEST_F(CleanupTest, RetriesAreCappedAtOneThousandAttempts) {
  struct Case {
    int64_t retries, delay;
    int attempts, retry_lines, pauses;
  } cases[] = {
      {0, 5, 1, 0, 0},
      {10, 5, 11, 10, 10},
      {10, 0, 11, 10, 0},
      {3, -1, 4, 3, 0},
      {-1, 5, 1000, 1000, 1000},
      {999, 5, 1000, 999, 999},
      {1000, 5, 1000, 1000, 1000},
      {5000, 5, 1000, 1000, 1000},
  };
  for (const Case& c : cases) {
    ScratchDir scratch;
    InstallerLog log;
    log.initInstallerLog(scratch / "log.txt", true);
    auto failing = std::make_shared<FailingRemoval>();
    int pauses = 0;
    DeleteOps ops;
    ops.unlink_at = [failing](int fd, const char* n, int f) { return (*failing)(fd, n, f); };
    ops.pause = [&](int64_t ns) {
      EXPECT_EQ(ns, c.delay);
      ++pauses;
    };
    Status st = removeWithRetry(DeleteContext{log, ops}, "/busy", c.retries, c.delay);
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(st.error().message, SysError("remove", "/busy", EBUSY).message);
    EXPECT_EQ(st.error().errnum, EBUSY);
    EXPECT_EQ(failing->calls, 2 * c.attempts) << c.retries;
    EXPECT_EQ(pauses, c.pauses) << c.retries;
    EXPECT_EQ(LogLines(ReadFile(scratch / "log.txt")),
              Lines(c.retry_lines, "[DEBUG] Retry delete: /busy"))
        << c.retries;
  }
}

TEST_F(CleanupTest, AttemptErrorIsRmdirsUnlessThePathIsNoDirectory) {
  struct Case {
    int unlink_err, rmdir_err, want;
  } cases[] = {{EISDIR, ENOTEMPTY, ENOTEMPTY},
               {EPERM, ENOTEMPTY, ENOTEMPTY},
               {EBUSY, ENOTDIR, EBUSY},
               {EPERM, EACCES, EACCES}};
  for (const Case& c : cases) {
    ops_.unlink_at = [&](int, const char*, int flags) {
      errno = (flags & AT_REMOVEDIR) ? c.rmdir_err : c.unlink_err;
      return -1;
    };
    Status st = removeWithRetry(Ctx(), "/p", 0, 0);
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(st.error().errnum, c.want);
    EXPECT_EQ(st.error().message, SysError("remove", "/p", c.want).message);
  }
}

// unlink interrupted twice, then failing for the directory; rmdir
// interrupted once, then succeeding: all within one attempt.
TEST_F(CleanupTest, InterruptedCallsAreRepeatedWithinOneAttempt) {
  MakeDir(D());
  MakeDir(D("sub"));
  const std::vector<bool> interrupted = {true, true, false, true, false};
  std::vector<int> flags_seen;
  ops_.unlink_at = [&](int fd, const char* name, int flags) {
    size_t call = flags_seen.size();
    flags_seen.push_back(flags);
    if (call < interrupted.size() && interrupted[call]) {
      errno = EINTR;
      return -1;
    }
    return unlinkat(fd, name, flags);
  };
  EXPECT_TRUE(removeWithRetry(Ctx(), D("sub"), 10, 0).ok());
  EXPECT_EQ(flags_seen, (std::vector<int>{0, 0, 0, AT_REMOVEDIR, AT_REMOVEDIR}));
  EXPECT_FALSE(Exists(D("sub")));
  EXPECT_EQ(Logged(), Lines{});
}

TEST_F(CleanupTest, PathGoneBetweenAttemptsCountsAsRemoved) {
  MakeDir(D());
  WriteFile(D("f"), "x");
  int calls = 0;
  ops_.unlink_at = [&](int fd, const char* name, int flags) {
    if (++calls == 2) unlinkat(fd, name, 0);  // someone else removes it meanwhile
    if (calls <= 2) {
      errno = (flags & AT_REMOVEDIR) ? ENOTDIR : EBUSY;
      return -1;
    }
    return unlinkat(fd, name, flags);
  };
  EXPECT_TRUE(deleteDirRec(Ctx(), D(), D(), 10, 0).ok());
  EXPECT_EQ(Logged(), (Lines{
                          "[DEBUG] Retry delete: " + D("f"),
                          "[INFO ] Deleted file " + D("f"),
                          "[INFO ] Deleted directory " + D(),
                      }));
  Status missing = removeWithRetry(Ctx(), D("f"), 10, 0);
  ASSERT_FALSE(missing.ok());
  EXPECT_TRUE(IsNotFoundError(missing.error()));
  EXPECT_EQ(missing.error().message, SysError("remove", D("f"), ENOENT).message);
}

}  // namespace
}  // namespace quorvane
