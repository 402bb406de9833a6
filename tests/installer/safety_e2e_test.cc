// Whole runs of the real installer, as the superuser, in directories that
// another user can write to: planted files at the log's and the dump's
// names, temporary directories that another user could change, and what a
// payload may leave in the install directory (a mount, a deep tree).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/installer_fixture.h"
#include "support/log_lines.h"
#include "support/payload_fixture.h"
#include "support/shipped_payload.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::Contains;
using test::Exists;
using test::LogLines;
using test::ReadFile;
using test::WriteFile;

using test::Lines;
using test::Words;

constexpr uid_t kOther = test::kNobodyUid;

// $S/bin the installer, $S/home the working directory, $S/tmp a safe TMPDIR,
// $S/shared a sticky directory that anyone may write to (like /tmp),
// $S/secret a file only the superuser may read, $S/probe for the payload.
class SafetyE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "these runs need the superuser";
    ASSERT_EQ(chmod(shared_.c_str(), 01777), 0);
    WriteFile(secret_, "root only\n", 0600);
  }

  // A payload that notes that it ran, then runs body.
  std::string Pack(const std::string& body) {
    return s_.Pack("#!/bin/sh\n: > \"$QV_PROBE/ran\"\n" + body);
  }

  test::InstallerRun RunInstaller(const std::string& exe, const Words& words,
                                  const std::string& tmpdir, const Words& extra_env = {},
                                  const test::Wrapper& wrapper = {}) {
    test::RunOptions options;
    options.env = Words{"TMPDIR=" + tmpdir, "PWD=" + (s_ / "home"), "QV_PROBE=" + (s_ / "probe")};
    options.extra_env = extra_env;
    options.wrapper = wrapper;
    return s_.RunInstaller(exe, words, options);
  }

  bool PayloadRan() const { return Exists(s_ / "probe/ran"); }

  Words Entries(const std::string& dir) const {
    Words out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
      out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }

  void ExpectSecretUntouched() const {
    EXPECT_EQ(ReadFile(secret_), "root only\n");
    EXPECT_EQ(test::ModeOf(secret_), 0600u);
  }

  test::InstallerSandbox s_{{"bin", "home", "tmp", "shared", "probe"}};
  const std::string shared_ = s_ / "shared";
  const std::string secret_ = s_ / "secret";
};

// What can be planted at a fixed name in the shared directory.
enum class Plant { kLink, kFifo, kOthersFile, kHardLink, kOwnFile };

struct Planted {
  Plant plant;
  const char* label;
};

const Planted kPlants[] = {{Plant::kLink, "link"},
                           {Plant::kFifo, "fifo"},
                           {Plant::kOthersFile, "another user's file"},
                           {Plant::kHardLink, "hard link"},
                           {Plant::kOwnFile, "own file"}};

void PlantAt(Plant plant, const std::string& path, const std::string& secret) {
  switch (plant) {
    case Plant::kLink:
      ASSERT_EQ(symlink(secret.c_str(), path.c_str()), 0);
      ASSERT_EQ(lchown(path.c_str(), kOther, kOther), 0);
      break;
    case Plant::kFifo:
      ASSERT_EQ(mkfifo(path.c_str(), 0666), 0);
      ASSERT_EQ(chown(path.c_str(), kOther, kOther), 0);
      break;
    case Plant::kOthersFile:
      WriteFile(path, "theirs\n", 0666);
      ASSERT_EQ(chmod(path.c_str(), 0666), 0);
      ASSERT_EQ(chown(path.c_str(), kOther, kOther), 0);
      break;
    case Plant::kHardLink:
      ASSERT_EQ(link(secret.c_str(), path.c_str()), 0);
      break;
    case Plant::kOwnFile:
      WriteFile(path, std::string(4096, 'x'), 0604);
      ASSERT_EQ(chmod(path.c_str(), 0604), 0);
      break;
  }
}

// What stands at the name after the run: untouched, except the superuser's
// own file, which holds the log and keeps its mode.
void ExpectAfterRun(Plant plant, const std::string& path, const std::string& secret) {
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  switch (plant) {
    case Plant::kLink:
      EXPECT_TRUE(S_ISLNK(st.st_mode));
      break;
    case Plant::kFifo:
      EXPECT_TRUE(S_ISFIFO(st.st_mode));
      break;
    case Plant::kOthersFile:
      EXPECT_EQ(ReadFile(path), "theirs\n");
      EXPECT_EQ(st.st_uid, kOther);
      break;
    case Plant::kHardLink:
      EXPECT_EQ(ReadFile(path), "root only\n");
      break;
    case Plant::kOwnFile:
      EXPECT_EQ(st.st_mode & 07777, 0604u);
      EXPECT_EQ(st.st_uid, 0u);
      EXPECT_EQ(ReadFile(path).find(std::string(16, 'x')), std::string::npos);
      break;
  }
  EXPECT_EQ(ReadFile(secret), "root only\n");
}

// The late log of a failed command line and the kept log of --no-delete,
// both in the shared TMPDIR.
TEST_F(SafetyE2ETest, LogIsNeverWrittenThroughWhatOthersPlantedAtItsName) {
  const std::string exe = Pack("exit 0\n");
  const std::string log = shared_ + "/Quorvane_i.log";
  struct Way {
    Words words;
    int status;
  };
  const Way ways[] = {{{"--output-dir"}, 255}, {{"--no-delete"}, 0}};
  for (const Way& way : ways) {
    for (const Planted& p : kPlants) {
      SCOPED_TRACE(std::string(p.label) + " " + way.words[0]);
      unlink(log.c_str());
      PlantAt(p.plant, log, secret_);
      test::ProcessResult r = RunInstaller(exe, way.words, shared_);
      EXPECT_EQ(r.exit_status, way.status);
      ExpectAfterRun(p.plant, log, secret_);
      if (p.plant == Plant::kOwnFile) {
        EXPECT_TRUE(Contains(LogLines(ReadFile(log)), "[INFO ] End, success."));
      }
    }
  }
  ExpectSecretUntouched();
}

// A crash with the shared directory as the debug directory: what stands at
// the dump's name is not written, the run ends with the dump error (-15),
// and a named pipe does not stop it.
TEST_F(SafetyE2ETest, DumpIsNeverWrittenThroughWhatOthersPlantedAtItsName) {
  const std::string exe = Pack("printf 'boom' >&2\nexit 2\n");
  const std::string dump = shared_ + "/quorvane.dmp";
  for (const Planted& p : kPlants) {
    SCOPED_TRACE(p.label);
    unlink(dump.c_str());
    PlantAt(p.plant, dump, secret_);
    test::ProcessResult r = RunInstaller(exe, {"--debug-dir", shared_}, s_ / "tmp");
    ExpectAfterRun(p.plant, dump, secret_);
    Lines log = LogLines(ReadFile(shared_ + "/Quorvane_i.log"));
    if (p.plant == Plant::kOwnFile) {
      EXPECT_EQ(r.exit_status, 256 - 16);
      EXPECT_EQ(ReadFile(dump), "boom");
      continue;
    }
    EXPECT_EQ(r.exit_status, 256 - 15);
    const std::string prefix =
        "[ERROR] Cannot write stack trace dump file: " + dump + ". (open " + dump + ": ";
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }),
              1)
        << ::testing::PrintToString(log);
    EXPECT_EQ(Entries(s_ / "tmp"), Words{});
  }
  ExpectSecretUntouched();
}

// Temporary directories that another user could change are refused before
// anything is created in them, and the payload never starts.
TEST_F(SafetyE2ETest, TemporaryDirectoryThatAnotherUserCouldChangeIsRefused) {
  const std::string exe = Pack("exit 0\n");
  // A directory owned by another user above the temporary directory.
  ASSERT_EQ(mkdir((s_ / "theirs").c_str(), 0755), 0);
  ASSERT_EQ(chown((s_ / "theirs").c_str(), kOther, kOther), 0);
  ASSERT_EQ(mkdir((s_ / "theirs/tmp").c_str(), 0755), 0);
  // A link owned by another user in the shared directory, to a good one.
  ASSERT_EQ(mkdir((s_ / "real").c_str(), 0755), 0);
  const std::string link = shared_ + "/tmp";
  ASSERT_EQ(symlink((s_ / "real").c_str(), link.c_str()), 0);
  ASSERT_EQ(lchown(link.c_str(), kOther, kOther), 0);
  // A directory that anyone may write to, without the sticky bit.
  ASSERT_EQ(mkdir((s_ / "open").c_str(), 0777), 0);
  ASSERT_EQ(chmod((s_ / "open").c_str(), 0777), 0);
  ASSERT_EQ(mkdir((s_ / "open/tmp").c_str(), 0755), 0);

  struct Case {
    std::string temp_dir;  // empty: TMPDIR itself
    std::string tmpdir;
    std::string unsafe;
    std::string reason;
    std::string stays_empty;
  };
  const std::string owned = "owned by user 65534";
  const Case cases[] = {
      {s_ / "theirs/tmp", s_ / "tmp", s_ / "theirs", owned, s_ / "theirs/tmp"},
      {link, s_ / "tmp", link, owned, s_ / "real"},
      {s_ / "open/tmp", s_ / "tmp", s_ / "open", "writable by others without the sticky bit",
       s_ / "open/tmp"},
      {s_ / "open/tmp/new", s_ / "tmp", s_ / "open", "writable by others without the sticky bit",
       s_ / "open/tmp"},
      // TMPDIR itself: the late log is not written there either.
      {"", link, link, owned, s_ / "real"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.temp_dir + " TMPDIR=" + c.tmpdir);
    unlink((s_ / "tmp/Quorvane_i.log").c_str());
    Words words = {"--no-delete"};
    if (!c.temp_dir.empty()) words.insert(words.end(), {"--temp-dir", c.temp_dir});
    test::ProcessResult r = RunInstaller(exe, words, c.tmpdir);
    EXPECT_EQ(r.exit_status, 254);
    EXPECT_FALSE(PayloadRan());
    EXPECT_EQ(Entries(c.stays_empty), Words{});
    if (c.temp_dir.empty()) {
      EXPECT_FALSE(Exists(s_ / "tmp/Quorvane_i.log"));
      continue;
    }
    const std::string dir = c.temp_dir;
    Lines log = LogLines(ReadFile(s_ / "tmp/Quorvane_i.log"));
    EXPECT_TRUE(Contains(log, "[ERROR] Invalid temporary directory " + dir + ". (unsafe path " +
                                  c.unsafe + ": " + c.reason + ")"))
        << ::testing::PrintToString(log);
  }
}

// Another user makes the missing temporary directory between the check of
// its path and the installer's mkdir, which then finds it there: the made
// directory is checked again and refused.
TEST_F(SafetyE2ETest, TemporaryDirectoryMadeByAnotherUserMeanwhileIsRefused) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's run-time must be the first library loaded";
#endif
  const std::string exe = Pack("exit 0\n");
  const std::string dir = shared_ + "/new";
  test::ProcessResult r =
      RunInstaller(exe, {"--no-delete", "--temp-dir", dir}, s_ / "tmp",
                   {"LD_PRELOAD=" QUORVANE_MKDIR_RACE_PRELOAD, "QV_RACE_DIR=" + dir});
  EXPECT_EQ(r.exit_status, 254) << r.err;
  EXPECT_FALSE(PayloadRan());
  EXPECT_EQ(Entries(dir), Words{});
  Lines log = LogLines(ReadFile(s_ / "tmp/Quorvane_i.log"));
  EXPECT_TRUE(Contains(log, "[ERROR] Invalid temporary directory " + dir + ". (unsafe path " + dir +
                                ": owned by user 65534)"))
      << ::testing::PrintToString(log);
}

// Another user makes the missing temporary directory just before the k-th
// call of the installer that names it, for every k until no such call is
// left: whichever call it meets, the payload never runs in that user's
// directory. Either the installer made the directory first (the superuser's;
// the run succeeds) or it finds the other user's and refuses it (-2).
TEST_F(SafetyE2ETest, TemporaryDirectoryMadeByAnotherUserAtAnyCallIsNeverUsed) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's run-time must be the first library loaded";
#endif
  const std::string exe = Pack(
      "pwd -P > \"$QV_PROBE/cwd\"\n"
      "stat -c %u .. > \"$QV_PROBE/owner\"\n"
      "exit 0\n");
  const std::string dir = shared_ + "/new";
  const std::string count = s_ / "count";
  const std::string log = s_ / "tmp/Quorvane_i.log";
  const std::string refused = "[ERROR] Invalid temporary directory " + dir + ". (unsafe path " +
                              dir + ": owned by user 65534)";
  bool swept = false;
  for (long k = 1; k <= 16 && !swept; ++k) {
    SCOPED_TRACE("made before call " + std::to_string(k));
    test::RemoveTree(dir);
    for (const std::string& f :
         {count, log, s_ / "probe/ran", s_ / "probe/cwd", s_ / "probe/owner"}) {
      unlink(f.c_str());
    }
    test::ProcessResult r =
        RunInstaller(exe, {"--temp-dir", dir}, s_ / "tmp",
                     {"LD_PRELOAD=" QUORVANE_PATH_RACE_PRELOAD, "QV_RACE_DIR=" + dir,
                      "QV_RACE_K=" + std::to_string(k), "QV_RACE_COUNT=" + count});
    // Past the last call the directory is only ever the installer's own.
    swept = k > std::atol(ReadFile(count).c_str());
    struct stat st;
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    if (PayloadRan()) {
      EXPECT_EQ(r.exit_status, 0) << r.err;
      EXPECT_EQ(st.st_uid, 0u);
      EXPECT_EQ(s_.Recorded("owner"), "0\n");
      EXPECT_EQ(std::filesystem::path(s_.Recorded("cwd")).parent_path(), test::RealPath(dir));
      continue;
    }
    EXPECT_EQ(r.exit_status, 254) << r.err;
    EXPECT_EQ(st.st_uid, kOther);
    EXPECT_EQ(Entries(dir), Words{});
    Lines lines = LogLines(ReadFile(log));
    EXPECT_TRUE(Contains(lines, refused)) << ::testing::PrintToString(lines);
  }
  EXPECT_TRUE(swept) << "more calls name the directory than the sweep covers";
}

// Between the extraction and the start another user renames the install
// directory away and puts a look-alike holding a program of their own at
// its name: the superuser never runs that program. The real payload runs
// from the directory the installer made, or the start fails (-14); the
// deletion leaves the look-alike as it is.
TEST_F(SafetyE2ETest, LookAlikeOfTheInstallDirectoryIsNeverRunFrom) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's run-time must be the first library loaded";
#endif
  const std::string exe = Pack("exit 0\n");
  const std::string temp = s_ / "tmp";
  const std::string debug = s_ / "home";
  test::ProcessResult r =
      RunInstaller(exe, {"--debug-dir", debug}, temp,
                   {"LD_PRELOAD=" QUORVANE_INSTALL_DIR_SWAP_PRELOAD, "QV_SWAP_DIR=" + temp});
  EXPECT_EQ(s_.Recorded("lookalike"), "");
  Words names = Entries(temp);
  auto at = std::find_if(names.begin(), names.end(),
                         [](const std::string& n) { return n.rfind("quorvane_", 0) == 0; });
  ASSERT_NE(at, names.end()) << ::testing::PrintToString(names);
  const std::string d = temp + "/" + *at;
  // The look-alike, exactly as it was put there.
  EXPECT_EQ(Entries(d), Words{"quorvane"});
  EXPECT_EQ(ReadFile(d + "/quorvane"),
            "#!/bin/sh\necho lookalike > \"$QV_PROBE/lookalike\"\nexit 0\n");
  Lines log = LogLines(ReadFile(debug + "/Quorvane_i.log"));
  if (PayloadRan()) {
    EXPECT_EQ(r.exit_status, 0) << r.err;
  } else {
    EXPECT_EQ(r.exit_status, 256 - 14) << r.err;
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
      return l.rfind("[ERROR] Cannot run quorvane. (", 0) == 0;
    })) << ::testing::PrintToString(log);
  }
  EXPECT_TRUE(Contains(log, "[ERROR] Failed to delete temporary installer directory \"" + d +
                                "\". (open " + d +
                                ": no longer the directory created for this run)"))
      << ::testing::PrintToString(log);
}

// The debug directory is another user's link to a directory that only the
// superuser may enter, holding the superuser's own log and dump: the link in
// a sticky directory anyone may write to, or in that user's home. The
// command line is refused (-1) before anything is written, though the
// payload would crash and leave a dump: nothing at the link's target is
// written, emptied or added.
TEST_F(SafetyE2ETest, DebugDirectoryThroughAnotherUsersLinkIsRefused) {
  const std::string exe = Pack("echo boom >&2\nexit 2\n");
  const std::string vault = s_ / "vault";
  const std::string home = s_ / "theirs";
  ASSERT_EQ(mkdir(vault.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  ASSERT_EQ(chown(home.c_str(), kOther, kOther), 0);
  const Words kept = {"Quorvane_i.log", "quorvane.dmp"};
  struct Case {
    std::string link;
    std::string unsafe;  // the first element of the path that another user owns
  };
  const Case cases[] = {{shared_ + "/debug", shared_ + "/debug"}, {home + "/debug", home}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    for (const std::string& name : kept) {
      WriteFile(vault + "/" + name, "root's " + name + "\n", 0600);
      ASSERT_EQ(utimensat(AT_FDCWD, (vault + "/" + name).c_str(), old, 0), 0);
    }
    ASSERT_EQ(symlink(vault.c_str(), c.link.c_str()), 0);
    ASSERT_EQ(lchown(c.link.c_str(), kOther, kOther), 0);
    unlink((s_ / "tmp/Quorvane_i.log").c_str());

    test::ProcessResult r = RunInstaller(exe, {"--debug-dir", c.link}, s_ / "tmp");
    EXPECT_EQ(r.exit_status, 255) << r.err;
    EXPECT_FALSE(PayloadRan());
    EXPECT_EQ(Entries(vault), kept);
    for (const std::string& name : kept) {
      struct stat st;
      ASSERT_EQ(stat((vault + "/" + name).c_str(), &st), 0);
      EXPECT_EQ(ReadFile(vault + "/" + name), "root's " + name + "\n");
      EXPECT_EQ(st.st_mtim.tv_sec, old[1].tv_sec) << name;
    }
    Lines log = LogLines(ReadFile(s_ / "tmp/Quorvane_i.log"));
    EXPECT_TRUE(Contains(log, "[ERROR] Parse arguments error. (invalid debug directory \"" +
                                  c.link + "\", error: unsafe path " + c.unsafe +
                                  ": owned by user 65534)"))
        << ::testing::PrintToString(log);
  }
}

// The superuser's own relative links, each short, whose expansion is longer
// than a path may be, while the system resolves the path given: $S/long/a
// leads 12 levels of 200-character names down, "b" there 12 more, and "c"
// there to another user's directory. That directory is refused as the
// temporary directory like any other of that user's (-2); the payload never
// runs.
TEST_F(SafetyE2ETest, TemporaryDirectoryBehindLinksLongerThanAPathIsChecked) {
  const std::string exe = Pack("exit 0\n");
  const std::string theirs = s_ / "theirs";
  const std::string top = s_ / "long";
  ASSERT_EQ(mkdir(theirs.c_str(), 0755), 0);
  ASSERT_EQ(chown(theirs.c_str(), kOther, kOther), 0);
  ASSERT_EQ(mkdir(top.c_str(), 0755), 0);
  // Deeper than a path can name, so removed by a walk of its own.
  struct RemoveAtEnd {
    std::string top;
    ~RemoveAtEnd() { test::RunProgram("/bin/rm", {"rm", "-rf", top}, {}, ""); }
  } remove_at_end{top};

  const std::string name(200, 'n');
  std::string twelve = name;
  for (int i = 1; i < 12; ++i) twelve += "/" + name;
  int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(symlinkat(twelve.c_str(), fd, "a"), 0);
  for (int level = 1; level <= 24; ++level) {
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
    ASSERT_GE(fd, 0);
    if (level == 12) {
      ASSERT_EQ(symlinkat(twelve.c_str(), fd, "b"), 0);
    }
  }
  ASSERT_EQ(symlinkat(theirs.c_str(), fd, "c"), 0);
  close(fd);
  const std::string dir = top + "/a/b/c";
  struct stat st;
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  ASSERT_EQ(st.st_uid, kOther);
  ASSERT_GT(top.size() + 24 * (name.size() + 1), static_cast<size_t>(PATH_MAX));

  test::ProcessResult r = RunInstaller(exe, {"--temp-dir", dir}, s_ / "tmp");
  EXPECT_EQ(r.exit_status, 254) << r.err;
  EXPECT_FALSE(PayloadRan());
  EXPECT_EQ(Entries(theirs), Words{});
  Lines log = LogLines(ReadFile(s_ / "tmp/Quorvane_i.log"));
  EXPECT_TRUE(Contains(log, "[ERROR] Invalid temporary directory " + dir + ". (unsafe path " +
                                theirs + ": owned by user 65534)"))
      << ::testing::PrintToString(log);
}

// A sticky directory of the superuser that anyone may write to, like /tmp,
// is a good temporary directory, also reached through a link of the
// superuser.
TEST_F(SafetyE2ETest, StickyDirectoryOfTheSuperuserIsFine) {
  const std::string exe = Pack("exit 0\n");
  ASSERT_EQ(symlink(shared_.c_str(), (s_ / "tmp/link").c_str()), 0);
  for (const std::string& dir : {shared_, s_ / "tmp/link"}) {
    unlink((s_ / "probe/ran").c_str());
    test::ProcessResult r = RunInstaller(exe, {"--temp-dir", dir}, s_ / "tmp");
    EXPECT_EQ(r.exit_status, 0) << dir;
    EXPECT_TRUE(PayloadRan()) << dir;
    EXPECT_EQ(Entries(shared_), Words{}) << dir;
  }
}

// A payload that leaves a mount inside the install directory: the deletion
// does not enter it, its removal fails with the usual retries and lines, and
// what it shows survives. The mount is a file system of its own (a device of
// its own) or a bind mount of a directory of the install directory's file
// system (the same device). Runs in a mount namespace of this test's own.
TEST_F(SafetyE2ETest, MountLeftInTheInstallDirectoryIsNotEntered) {
  if (std::string why = test::EnterPrivateMountNamespace(); !why.empty()) {
    GTEST_SKIP() << "no mount namespace of its own here: " << why;
  }
  const std::string exe = Pack(
      "mkdir sub && mount --bind \"$QV_PRECIOUS\" sub || exit 9\n"
      "pwd -P > \"$QV_PROBE/cwd\"\n"
      "exit 0\n");
  struct Case {
    const char* label;
    bool own_file_system;
  };
  for (const Case& c : {Case{"same file system", false}, Case{"tmpfs", true}}) {
    SCOPED_TRACE(c.label);
    const std::string precious =
        s_ / (std::string("precious-") + (c.own_file_system ? "fs" : "dir"));
    const std::string debug = precious + "-log";
    ASSERT_EQ(mkdir(precious.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(debug.c_str(), 0755), 0);
    if (c.own_file_system && mount("tmpfs", precious.c_str(), "tmpfs", 0, "size=1m") != 0) {
      GTEST_SKIP() << "cannot mount a file system here: " << strerror(errno);
    }
    WriteFile(precious + "/keep", "precious\n");
    ASSERT_EQ(mkdir((precious + "/deeper").c_str(), 0755), 0);
    WriteFile(precious + "/deeper/too", "also\n");
    unlink((s_ / "probe/cwd").c_str());

    test::ProcessResult r =
        RunInstaller(exe, {"--debug-dir", debug}, s_ / "tmp", {"QV_PRECIOUS=" + precious});
    std::string d = ReadFile(s_ / "probe/cwd");
    if (!d.empty()) d.pop_back();
    ASSERT_FALSE(d.empty()) << r.err;
    umount2((d + "/sub").c_str(), MNT_DETACH);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(ReadFile(precious + "/keep"), "precious\n");
    EXPECT_EQ(ReadFile(precious + "/deeper/too"), "also\n");

    Lines log = LogLines(ReadFile(debug + "/Quorvane_i.log"));
    auto at =
        std::find(log.begin(), log.end(), "[INFO ] Delete temporary installer directory: " + d);
    ASSERT_NE(at, log.end());
    const std::string sub = d + "/sub";
    Lines want;
    auto add = [&](const std::string& path, const std::string& error) {
      for (int i = 0; i < 10; ++i) want.push_back("[DEBUG] Retry delete: " + path);
      want.push_back("[ERROR] Failed to delete directory " + path + ". (remove " + path + ": " +
                     error + ")");
    };
    add(sub, "device or resource busy");
    add(d, "directory not empty");
    want.push_back("[ERROR] Failed to delete temporary installer directory \"" + d +
                   "\". (remove " + sub + ": device or resource busy)");
    Lines got(at + 1, log.end());
    // Only the deletion of the mount point and its parent: the extracted
    // files come first.
    auto first = std::find(got.begin(), got.end(), "[DEBUG] Retry delete: " + sub);
    ASSERT_NE(first, got.end()) << ::testing::PrintToString(got);
    for (auto it = got.begin(); it != first; ++it) {
      EXPECT_EQ(it->find(sub), std::string::npos) << *it;
    }
    got.erase(got.begin(), first);
    ASSERT_GE(got.size(), 4u);
    got.resize(got.size() - 4);  // the closing line and three empty lines
    EXPECT_EQ(got, want);
    if (c.own_file_system) umount2(precious.c_str(), MNT_DETACH);
    test::RemoveTree(d);
  }
}

// A payload that mounts another directory over its own install directory:
// the deletion finds that directory at the install directory's path and
// leaves it, with all it holds. Runs in a mount namespace of this test's own.
TEST_F(SafetyE2ETest, MountOverTheInstallDirectoryIsNotEntered) {
  if (std::string why = test::EnterPrivateMountNamespace(); !why.empty()) {
    GTEST_SKIP() << "no mount namespace of its own here: " << why;
  }
  const std::string exe = Pack(
      "pwd -P > \"$QV_PROBE/cwd\"\n"
      "mount --bind \"$QV_PRECIOUS\" \"$PWD\" || exit 9\n"
      "exit 0\n");
  const std::string precious = s_ / "precious";
  const std::string debug = s_ / "precious-log";
  ASSERT_EQ(mkdir(precious.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(debug.c_str(), 0755), 0);
  WriteFile(precious + "/keep", "precious\n");
  ASSERT_EQ(mkdir((precious + "/deeper").c_str(), 0755), 0);
  WriteFile(precious + "/deeper/too", "also\n");

  test::ProcessResult r =
      RunInstaller(exe, {"--debug-dir", debug}, s_ / "tmp", {"QV_PRECIOUS=" + precious});
  std::string d = ReadFile(s_ / "probe/cwd");
  if (!d.empty()) d.pop_back();
  ASSERT_FALSE(d.empty()) << r.err;
  const bool mounted = umount2(d.c_str(), MNT_DETACH) == 0;
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(ReadFile(precious + "/keep"), "precious\n");
  EXPECT_EQ(ReadFile(precious + "/deeper/too"), "also\n");
  EXPECT_TRUE(mounted) << "the mount was left in place";

  Lines log = LogLines(ReadFile(debug + "/Quorvane_i.log"));
  auto at = std::find(log.begin(), log.end(), "[INFO ] Delete temporary installer directory: " + d);
  ASSERT_NE(at, log.end());
  Lines got(at + 1, log.end());
  ASSERT_GE(got.size(), 4u);
  got.resize(got.size() - 4);  // the closing line and three empty lines
  EXPECT_EQ(got, (Lines{"[ERROR] Failed to delete temporary installer directory \"" + d +
                        "\". (open " + d + ": no longer the directory created for this run)"}));
  EXPECT_TRUE(Exists(d + "/quorvane"));  // the install directory itself, untouched
  test::RemoveTree(d);
}

// A payload that leaves 300 nested directories, deleted by an installer
// that may open only 64 files.
TEST_F(SafetyE2ETest, DeepTreeIsDeletedWithFewDescriptors) {
  const std::string exe = Pack(
      "i=0\n"
      "while [ $i -lt 300 ]; do mkdir d && cd d || exit 9; i=$((i+1)); done\n"
      ": > leaf\n"
      "exit 0\n");
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  test::Wrapper few_files;
  few_files.limits = {{RLIMIT_NOFILE, 64, old.rlim_max}};
  test::ProcessResult r = RunInstaller(exe, {"--debug-dir", s_ / "tmp"}, s_ / "tmp", {}, few_files);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_TRUE(PayloadRan());
  EXPECT_EQ(Entries(s_ / "tmp"), Words{"Quorvane_i.log"});
  Lines log = LogLines(ReadFile(s_ / "tmp/Quorvane_i.log"));
  for (const std::string& l : log) EXPECT_EQ(l.rfind("[ERROR]", 0), std::string::npos) << l;
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
    return l.size() > 600 && l.rfind("[INFO ] Deleted file ", 0) == 0 &&
           l.compare(l.size() - 5, 5, "/leaf") == 0;
  }));
}

// The shipped-like payload run by an installer that may open only a few
// files and has no debug directory (so no open log). The temporary and the
// install directory are held from their checks on. Five leave nothing
// beyond them: the extraction cannot open the installer's own file, and
// the deletion still removes the install directory, read through the
// descriptor it was held by. Seven do for the extraction and the deletion,
// not for the payload's start (its standard-error pipe and the pipe that
// reports a failed start). Nine are enough for the whole run with a payload
// that needs no descriptors of its own (the shell needs more).
// The sanitizers' run-time opens descriptors of its own (a pipe to probe
// memory), so the sanitized installer cannot do with so few.
TEST_F(SafetyE2ETest, ShippedLikeRunNeedsFewDescriptors) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' run-time needs descriptors of its own";
#endif
  const std::string program = "#!/bin/true\n" + test::CodeLikeBytes(1 << 20, 1);
  const std::string exe =
      test::PackInstaller(s_ / "bin", test::BuildZip(test::ShippedLikeMembers(program)));
  struct Case {
    rlim_t max_open_files;
    int status;
  };
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  for (const Case& c : {Case{5, 256 - 13}, Case{7, 256 - 14}, Case{9, 0}}) {
    SCOPED_TRACE(c.max_open_files);
    test::Wrapper few_files;
    few_files.limits = {{RLIMIT_NOFILE, c.max_open_files, old.rlim_max}};
    test::ProcessResult r = RunInstaller(exe, {}, s_ / "tmp", {}, few_files);
    EXPECT_EQ(r.exit_status, c.status) << r.err;
    EXPECT_EQ(Entries(s_ / "tmp"), Words{});
  }
}

}  // namespace
}  // namespace quorvane
