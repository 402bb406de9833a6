// The deletion of the install directory as the first end step of real runs.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>

#include "common/path.h"
#include "installer/log/log.h"
#include "support/installer_fixture.h"
#include "support/log_lines.h"
#include "support/payload_fixture.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::Exists;
using test::LogLines;
using test::ReadFile;
using test::ScratchDir;

using test::Lines;

using test::kCleanupStart;

// The entries of dir named like an install directory.
Lines InstallDirsIn(const std::string& dir) {
  Lines found;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.rfind("quorvane_", 0) == 0) found.push_back(JoinPath(dir, name));
    }
    closedir(d);
  }
  return found;
}

// Every regular file and directory below root, root included.
void ListTree(const std::string& root, Lines& files, Lines& dirs) {
  dirs.push_back(root);
  DIR* d = opendir(root.c_str());
  ASSERT_NE(d, nullptr);
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string p = JoinPath(root, name);
    struct stat st;
    ASSERT_EQ(lstat(p.c_str(), &st), 0);
    if (S_ISDIR(st.st_mode)) {
      ListTree(p, files, dirs);
    } else {
      files.push_back(p);
    }
  }
  closedir(d);
}

struct RunDirs {
  test::InstallerSandbox scratch{{"tmp", "debug"}};
  std::string tmp = scratch / "tmp";
  std::string debug = scratch / "debug";
  // Runs exe with exactly args, TMPDIR=tmp, in the scratch directory.
  test::InstallerRun RunWith(const std::string& exe, const Lines& args) {
    test::RunOptions options;
    options.env = Lines{"TMPDIR=" + tmp};
    options.cwd = scratch.path();
    return scratch.RunInstaller(exe, args, options);
  }
  test::InstallerRun RunInstaller(const std::string& exe, Lines extra = {}) {
    Lines args = {"--no-admin-check", "--temp-dir", tmp, "--debug-dir", debug};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunWith(exe, args);
  }
  Lines Log() { return LogLines(ReadFile(LogFilePath(debug))); }
};

// Lines from the first with the given prefix on.
Lines From(const Lines& lines, const std::string& prefix) {
  auto it = std::find_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  return Lines(it, lines.end());
}

// Without a payload section the extraction fails once the install directory
// exists: the (empty) directory is deleted before the closing line.
TEST(CleanupRunTest, FailedExtractionStillDeletesTheInstallDirectory) {
  RunDirs dirs;
  auto r = dirs.RunInstaller(test::InstallerBinary());
  EXPECT_EQ(r.exit_status, 243);
  Lines tail = From(dirs.Log(), kCleanupStart);
  ASSERT_FALSE(tail.empty());
  const std::string installDir = tail[0].substr(kCleanupStart.size());
  EXPECT_EQ(DirPart(installDir), dirs.tmp);
  EXPECT_EQ(tail, (Lines{kCleanupStart + installDir, "[INFO ] Deleted directory " + installDir,
                         "[INFO ] End, success.", "", "", ""}));
  EXPECT_EQ(InstallDirsIn(dirs.tmp), Lines{});
}

TEST(CleanupRunTest, NoDeleteKeepsTheInstallDirectory) {
  RunDirs dirs;
  auto r = dirs.RunInstaller(test::InstallerBinary(), {"--no-delete"});
  EXPECT_EQ(r.exit_status, 243);
  Lines log = dirs.Log();
  EXPECT_EQ(From(log, kCleanupStart), Lines{});
  EXPECT_EQ(From(log, "[INFO ] Deleting temporary files"),
            (Lines{"[INFO ] Deleting temporary files ignored due command line arguments",
                   "[INFO ] End, success.", "", "", ""}));
  EXPECT_EQ(InstallDirsIn(dirs.tmp).size(), 1u);
}

// A temporary directory that is a file ends the run before the install
// directory exists; the log is then written late, in TMPDIR.
TEST(CleanupRunTest, RunEndingBeforeTheInstallDirectoryWritesNoCleanupLine) {
  RunDirs dirs;
  const std::string file = dirs.scratch / "file";
  test::WriteFile(file, "");
  const std::string exe = test::InstallerBinary();
  auto r = dirs.RunWith(exe, {"--no-admin-check", "--temp-dir", file});
  EXPECT_EQ(r.exit_status, 254);
  std::string log = ReadFile(LogFilePath(dirs.tmp));
  EXPECT_NE(log.find("[INFO ] End, success."), std::string::npos) << log;
  EXPECT_EQ(log.find("Delet"), std::string::npos) << log;
}

// With a real payload every extracted file and directory is reported once
// (directories below the top twice) and the tree is gone; the same run with
// --no-delete shows what was there.
TEST(CleanupRunTest, ExtractedPayloadIsDeletedFileByFile) {
  ScratchDir bin;
  const std::string exe =
      test::PackInstaller(bin.path(), test::StandardPayloadArchive("#!/bin/sh\nexit 0\n"));

  RunDirs kept;
  kept.RunInstaller(exe, {"--no-delete"});
  Lines left = InstallDirsIn(kept.tmp);
  ASSERT_EQ(left.size(), 1u);
  Lines files, subdirs;
  ListTree(left[0], files, subdirs);
  ASSERT_FALSE(files.empty());

  RunDirs dirs;
  dirs.RunInstaller(exe);
  Lines tail = From(dirs.Log(), kCleanupStart);
  ASSERT_GE(tail.size(), 5u);
  const std::string installDir = tail[0].substr(kCleanupStart.size());
  Lines deleted_files, deleted_dirs;
  for (size_t i = 1; i + 4 < tail.size(); ++i) {
    const std::string& l = tail[i];
    if (l.rfind("[INFO ] Deleted file ", 0) == 0) {
      deleted_files.push_back(l.substr(21).replace(0, installDir.size(), left[0]));
    } else if (l.rfind("[INFO ] Deleted directory ", 0) == 0) {
      deleted_dirs.push_back(l.substr(26).replace(0, installDir.size(), left[0]));
    } else {
      ADD_FAILURE() << "unexpected line " << l;
    }
  }
  EXPECT_EQ(tail.back(), "");
  EXPECT_EQ(tail[tail.size() - 4], "[INFO ] End, success.");
  EXPECT_EQ(tail[tail.size() - 5], "[INFO ] Deleted directory " + installDir);
  Lines want_dirs;
  for (const auto& d : subdirs) {
    if (d == left[0]) continue;
    want_dirs.push_back(d);
    want_dirs.push_back(d);
  }
  want_dirs.push_back(left[0]);
  std::sort(files.begin(), files.end());
  std::sort(deleted_files.begin(), deleted_files.end());
  std::sort(want_dirs.begin(), want_dirs.end());
  std::sort(deleted_dirs.begin(), deleted_dirs.end());
  EXPECT_EQ(deleted_files, files);
  EXPECT_EQ(deleted_dirs, want_dirs);
  EXPECT_EQ(InstallDirsIn(dirs.tmp), Lines{});
}

}  // namespace
}  // namespace quorvane
