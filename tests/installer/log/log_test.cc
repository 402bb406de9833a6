#include "installer/log/log.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "support/test_support.h"

namespace quorvane {
namespace {

using test::LogLines;
using test::ReadFile;
using test::ScratchDir;

TEST(LogFormatTest, Directives) {
  EXPECT_EQ(FormatLog("[INFO ] %s v%s (%s @ %d)", "Quorvane", "1.0", "stable", int64_t{1763047587}),
            "[INFO ] Quorvane v1.0 (stable @ 1763047587)");
  EXPECT_EQ(FormatLog("%-40s|", "abc"), "abc" + std::string(37, ' ') + "|");
  // Padding counts code points, not bytes: "é" is two bytes, one character.
  EXPECT_EQ(FormatLog("%-5s|", "\xc3\xa9"), "\xc3\xa9    |");
  EXPECT_EQ(FormatLog("%-3s|", "abcdef"), "abcdef|");
  EXPECT_EQ(FormatLog("100%% %s", Error("x")), "100% x");
  EXPECT_EQ(FormatLog("%d", -1001), "-1001");
}

// Lines written before the set-up, as the opening of a run writes them.
void Hold(InstallerLog& log, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) log.Logf("%s", line);
}

TEST(LogFormatTest, TimestampShape) {
  EXPECT_TRUE(
      std::regex_match(LogTimestamp(), std::regex(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} )")));
}

TEST(InstallerLogTest, CollectedAndLoggedLinesFollowTheirNewlineRules) {
  const test::ScopedUmask scoped_umask(077);  // one that narrows the file's 0640
  ScratchDir dir;
  const std::string path = LogFilePath(dir.path());
  EXPECT_EQ(path, dir.path() + "/Quorvane_i.log");
  {
    InstallerLog log;
    Hold(log, {"[INFO ] first", "ends with newline\n", "[INFO ] third"});
    EXPECT_EQ(log.pendingLogLines().size(), 3u);
    log.initInstallerLog(path, true);
    EXPECT_TRUE(log.pendingLogLines().empty());
    log.Logf("[INFO ] logged %s", "x");
    log.Logf("[INFO ] already ends\n");
    log.Logf("[INFO ] two\nlines");
    log.finishLog();
  }
  const std::string content = ReadFile(path);
  EXPECT_EQ(LogLines(content),
            (std::vector<std::string>{"[INFO ] first", "ends with newline", "", "[INFO ] third",
                                      "[INFO ] logged x", "[INFO ] already ends", "[INFO ] two",
                                      "lines", "[INFO ] End, success.", "", "", ""}));
  EXPECT_EQ(content.substr(content.size() - 25), "[INFO ] End, success.\n\n\n\n");
  const mode_t mask = scoped_umask.mask();
  EXPECT_EQ(test::ModeOf(path), 0640u & ~mask);
}

TEST(InstallerLogTest, ExistingFileIsEmptiedAndKeepsItsMode) {
  ScratchDir dir;
  const std::string path = LogFilePath(dir.path());
  test::WriteFile(path, std::string(1000, 'x'), 0600);
  InstallerLog log;
  log.initInstallerLog(path, true);
  log.finishLog();
  EXPECT_EQ(LogLines(ReadFile(path)),
            (std::vector<std::string>{"[INFO ] End, success.", "", "", ""}));
  EXPECT_EQ(test::ModeOf(path), 0600u);
}

TEST(InstallerLogTest, NoFileWantedMeansNothingOnDisk) {
  ScratchDir dir;
  const std::string path = LogFilePath(dir.path());
  test::WriteFile(path, "old", 0640);
  InstallerLog log;
  Hold(log, {"[INFO ] dropped"});
  log.initInstallerLog(path, false);
  log.Logf("[INFO ] dropped too");
  log.finishLog();
  EXPECT_TRUE(log.exists());
  EXPECT_EQ(ReadFile(path), "old");  // neither opened nor emptied
}

TEST(InstallerLogTest, UnopenableFileIsDiscardedSilently) {
  ScratchDir dir;
  InstallerLog log;
  Hold(log, {"[INFO ] x"});
  log.initInstallerLog(dir / "missing/Quorvane_i.log", true);
  log.Logf("[INFO ] y");
  log.finishLog();
  ASSERT_TRUE(log.open_error().has_value());
  EXPECT_EQ(log.open_error()->message,
            "open " + (dir / "missing/Quorvane_i.log") + ": no such file or directory");
  EXPECT_FALSE(test::Exists(dir / "missing"));
}

TEST(InstallerLogTest, FileIsCloseOnExec) {
  ScratchDir dir;
  const std::string path = LogFilePath(dir.path());
  InstallerLog log;
  log.initInstallerLog(path, true);
  ASSERT_TRUE(log.writes_to_file());
  int found = 0;
  DIR* fds = opendir("/proc/self/fd");
  ASSERT_NE(fds, nullptr);
  while (dirent* e = readdir(fds)) {
    char target[4096];
    std::string link = std::string("/proc/self/fd/") + e->d_name;
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0 || std::string(target, n) != path) continue;
    ++found;
    EXPECT_TRUE(fcntl(atoi(e->d_name), F_GETFD) & FD_CLOEXEC);
  }
  closedir(fds);
  EXPECT_EQ(found, 1);
  log.finishLog();
}

TEST(InstallerLogTest, FlushPendingOnlyWhenTheLogWasNeverSetUp) {
  ScratchDir dir;
  {
    InstallerLog log;
    Hold(log, {"[INFO ] banner", "[ERROR] failed"});
    log.flushPendingLog(dir.path());
    log.finishLog();
    EXPECT_EQ(LogLines(ReadFile(LogFilePath(dir.path()))),
              (std::vector<std::string>{"[INFO ] banner", "[ERROR] failed", "[INFO ] End, success.",
                                        "", "", ""}));
  }
  ScratchDir other;
  InstallerLog log;
  log.initInstallerLog(LogFilePath(other.path()), false);
  Hold(log, {"[INFO ] banner"});
  log.flushPendingLog(other.path());
  log.finishLog();
  EXPECT_FALSE(test::Exists(LogFilePath(other.path())));
}

}  // namespace
}  // namespace quorvane
