// Whole runs of the real installer with a shell script as its payload: the
// argument list the payload receives, the outcomes that end a run, and
// payloads that misbehave.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "encryptedparams/encrypted_params.h"
#include "support/installer_fixture.h"
#include "support/log_lines.h"
#include "support/payload_fixture.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::Contains;

using encryptedparams::DecryptedParams;
using encryptedparams::EncryptedParams;
using test::Exists;
using test::LogLines;
using test::ReadFile;

using test::Lines;
using test::Words;

using test::kCleanupStart;
using test::kClosing;

using Measured = test::InstallerRun;

// Replaces the placeholders $S (scratch), $H (working directory), $K (the
// installer's directory), $D (install directory) and $R2 in text.
std::string Expand(std::string text, const std::vector<std::pair<std::string, std::string>>& vars) {
  for (const auto& [var, value] : vars) {
    for (size_t at = text.find(var); at != std::string::npos;
         at = text.find(var, at + value.size())) {
      text.replace(at, var.size(), value);
    }
  }
  return text;
}

// The payload's record of its arguments: the count, then one per line.
Words RecordedArgs(const std::string& content) {
  std::istringstream in(content);
  std::string line;
  Words words;
  if (!std::getline(in, line)) return {"<nothing recorded>"};
  const size_t count = std::stoul(line);
  while (std::getline(in, line)) words.push_back(line);
  EXPECT_EQ(words.size(), count) << content;
  return words;
}

// Leaves the calling process without the host's locales: a private mount
// namespace with an empty file system over the locale directory. Returns 0,
// or the step that failed (1 to 3) times 1000 plus its errno. Nothing is
// mounted unless the namespace is private first, so that the host never
// sees the mount ("/" of a chroot is no mount point and cannot be).
int HideLocales() {
  if (unshare(CLONE_NEWNS) != 0) return 1000 + errno;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 2000 + errno;
  if (mount("none", "/usr/lib/locale", "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0) {
    return 3000 + errno;
  }
  return 0;
}

// Whether a child can hide the locales so that no UTF-8 locale opens; the
// reason when it cannot.
std::string CannotHideLocales() {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    int result = HideLocales();
    if (result == 0 && newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0)) != nullptr) {
      result = -1;
    }
    (void)!write(pipe_fds[1], &result, sizeof result);
    _exit(0);
  }
  close(pipe_fds[1]);
  int result = -2;
  (void)!read(pipe_fds[0], &result, sizeof result);
  close(pipe_fds[0]);
  waitpid(pid, nullptr, 0);
  if (result == 0) return "";
  if (result == -1) return "C.UTF-8 still opens with /usr/lib/locale empty";
  if (result < 0) return "the probe did not report";
  const char* steps[] = {"", "unshare", "make / private", "mount tmpfs"};
  return std::string(steps[result / 1000 % 4]) + ": " + std::strerror(result % 1000);
}

// A scratch tree standing in for an operator's machine:
//   $S/bin/quorvane-installer  the installer ($K is $S/bin)
//   $S/home                    working directory, PWD
//   $S/tmp                     TMPDIR
//   $S/vartmp, $S/rules, $S/dbg, $S/out   existing directories
//   $S/passwd                  a regular file; $S/none does not exist
//   $S/probe                   where the payload writes what it saw
class RunE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the run's administrator check needs the superuser";
    test::WriteFile(s_ / "passwd", "root:x:0:0\n");
  }

  std::string Pack(const std::string& program) { return s_.Pack(program); }

  // The payload script: notes what it was given, then runs body.
  std::string Program(const std::string& body) const {
    return "#!/bin/sh\n"
           "p=\"$QV_PROBE\"\n"
           "printf '%s\\n' \"$#\" \"$@\" > \"$p/args\"\n"
           "/bin/pwd -P > \"$p/cwd\"\n"
           "printf '%s\\n' \"$PWD\" > \"$p/pwd\"\n"
           "/bin/cat > \"$p/stdin\"\n"
           "readlink /proc/$$/fd/0 > \"$p/stdin-source\"\n" +
           body;
  }

  Measured RunInstaller(const std::string& exe, const Words& words, const Words& extra_env = {}) {
    test::RunOptions options;
    options.extra_env = extra_env;
    return s_.RunInstaller(exe, words, options);
  }

  // The install directory, as the payload saw its working directory.
  std::string InstallDir() const {
    std::string cwd = ReadFile(probe_ + "/cwd");
    if (!cwd.empty() && cwd.back() == '\n') cwd.pop_back();
    return cwd;
  }

  void ClearProbes() const {
    for (const char* name : {"args", "cwd", "pwd", "stdin", "stdin-source", "pid"}) {
      std::remove((probe_ + "/" + name).c_str());
    }
    std::remove((dbg_ + "/quorvane.dmp").c_str());
    std::remove((dbg_ + "/Quorvane_i.log").c_str());
    std::remove((tmp_ + "/Quorvane_i.log").c_str());
  }

  Lines LogIn(const std::string& dir) const { return LogLines(ReadFile(dir + "/Quorvane_i.log")); }

  // Every install directory left in dir.
  Lines InstallDirsIn(const std::string& dir) const {
    Lines found;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      if (e.path().filename().string().rfind("quorvane_", 0) == 0) found.push_back(e.path());
    }
    return found;
  }

  test::InstallerSandbox s_{{"bin", "home", "tmp", "vartmp", "rules", "dbg", "out", "probe"}};
  std::string bin_ = s_ / "bin";
  std::string home_ = s_ / "home";
  std::string tmp_ = s_ / "tmp";
  std::string dbg_ = s_ / "dbg";
  std::string probe_ = s_ / "probe";
};

// Every row of the worked examples of the argument list, each run through to
// a crash of the payload so that the place of the crash dump shows which
// debug directory the run went on with.
TEST_F(RunE2ETest, PayloadReceivesTheRewrittenArgumentList) {
  const std::string exe = Pack(Program("printf 'boom' >&2\nexit 2\n"));

  const std::string key = "k3y";
  auto given =
      DecryptedParams{3, "rc4", "--output-dir " + (s_ / "out") + " --debug-dir " + dbg_, key}
          .Encrypt();
  ASSERT_TRUE(given.ok());
  const std::string r = given->ToOptionValue();
  const std::string new_text = "--output-dir \"" + (s_ / "out") + "\" --debug-dir \"" + dbg_ + "\"";
  auto renewed = DecryptedParams{3, "rc4", new_text, key}.Encrypt();
  ASSERT_TRUE(renewed.ok());
  const std::string r2 = renewed->ToOptionValue();

  enum Dump { kNoDump, kDumpInDebugDir, kDumpInInstallDir };
  struct Row {
    Words words;
    Words args;            // what the payload receives; empty when it never runs
    std::string temp_dir;  // the directory that holds $D
    Dump dump;
    bool log_in_debug_dir;  // the log lands in $S/dbg
  };
  const Row rows[] = {
      {{},
       {"--debug-dir", "$D", "--output-dir", "$K", "--temp-dir", "$D"},
       "$S/tmp",
       kDumpInInstallDir,
       false},
      {{"--output-dir", "out"},
       {"--output-dir", "$H/out", "--debug-dir", "$D", "--temp-dir", "$D"},
       "$S/tmp",
       kDumpInInstallDir,
       false},
      {{"--yara-dir", "$S/rules", "--temp-dir", "$S/vartmp"},
       {"--yara-dir", "$S/rules", "--temp-dir", "$D", "--debug-dir", "$D", "--output-dir", "$K"},
       "$S/vartmp",
       kDumpInInstallDir,
       false},
      {{"-h", "--yara-dir", "$S/none"}, {"--help", "$K"}, "$S/tmp", kNoDump, false},
      {{"--kill", "--temp-dir", "tmp2"},
       {"--kill", "--temp-dir", "tmp2", "--debug-dir", "$D"},
       "$H/tmp2",
       kDumpInInstallDir,
       false},
      {{"--debug-dir", "$S/dbg", "-k"},
       {"--debug-dir", "$S/dbg", "-k"},
       "$S/tmp",
       kDumpInDebugDir,
       true},
      {{"--output-dir=out"},
       {"--output-dir=out", "--debug-dir", "$D", "--output-dir", "$H/out", "--temp-dir", "$D"},
       "$S/tmp",
       kDumpInInstallDir,
       false},
      {{"--temp-dir=$S/vartmp"},
       {"--temp-dir=$S/vartmp", "--debug-dir", "$D", "--output-dir", "$K", "--temp-dir", "$D"},
       "$S/vartmp",
       kDumpInInstallDir,
       false},
      {{"--debug-dir=$S/dbg"},
       {"--debug-dir=$S/dbg", "--debug-dir", "$D", "--output-dir", "$K", "--temp-dir", "$D"},
       "$S/tmp",
       kDumpInInstallDir,
       true},
      {{"--OUTPUT-DIR", "out"},
       {"--OUTPUT-DIR", "$H/out", "--debug-dir", "$D", "--temp-dir", "$D"},
       "$S/tmp",
       kDumpInInstallDir,
       false},
      {{"--Temp-Dir", "$S/vartmp"},
       {"--Temp-Dir", "$D", "--debug-dir", "$D", "--output-dir", "$K"},
       "$S/tmp",
       kDumpInInstallDir,
       false},
      {{"--Debug-Dir", "$S/dbg"},
       {"--Debug-Dir", "$S/dbg", "--output-dir", "$K", "--temp-dir", "$D"},
       "$S/tmp",
       kNoDump,
       false},
      {{"--Encrypted-Params", r},
       {"--Encrypted-Params", "", "--debug-dir", "$D", "--output-dir", "$K", "--temp-dir", "$D"},
       "$S/tmp",
       kDumpInInstallDir,
       false},
      {{"--encrypted-params", r},
       {"--encrypted-params", "$R2", "--debug-dir", "$D", "--output-dir", "$S/out", "--temp-dir",
        "$D"},
       "$S/tmp",
       kDumpInInstallDir,
       true},
      {{"--offline", ""},
       {"--offline", "", "--debug-dir", "$D", "--output-dir", "$K", "--temp-dir", "$D"},
       "$S/tmp",
       kDumpInInstallDir,
       false},
      {{"--offline", "--debug-dir"},
       {"--offline", "$H/--debug-dir", "--debug-dir", "$D", "--output-dir", "$K", "--temp-dir",
        "$D"},
       "$S/tmp",
       kDumpInInstallDir,
       false},
      // A trailing --temp-dir gets the install directory inserted after it, so
      // that the added --debug-dir pair reaches the payload whole.
      {{"--Temp-Dir"},
       {"--Temp-Dir", "$D", "--debug-dir", "$D", "--output-dir", "$K"},
       "$S/tmp",
       kDumpInInstallDir,
       false},
      {{"--yara-dir", "$S/none"}, {}, "$S/tmp", kNoDump, false},
      {{"--output-dir", "$S/passwd"}, {}, "$S/tmp", kNoDump, false},
  };

  for (const Row& row : rows) {
    const std::vector<std::pair<std::string, std::string>> fixed = {
        {"$S", s_.path()}, {"$H", home_}, {"$K", bin_}, {"$R2", r2}};
    Words words;
    for (const std::string& w : row.words) words.push_back(Expand(w, fixed));
    SCOPED_TRACE(::testing::PrintToString(words));
    ClearProbes();

    Measured m = RunInstaller(exe, words);
    EXPECT_EQ(m.out, "");

    if (row.args.empty()) {
      // A directory value that cannot be used ends the run before the payload.
      EXPECT_EQ(m.exit_status, 254);
      EXPECT_FALSE(Exists(probe_ + "/args"));
      EXPECT_EQ(m.err, "");
      EXPECT_EQ(InstallDirsIn(tmp_), Lines{});
      continue;
    }
    EXPECT_EQ(m.exit_status, 240);  // the crash
    EXPECT_EQ(m.err, "boom");

    const std::string d = InstallDir();
    auto vars = fixed;
    vars.insert(vars.begin(), {"$D", d});
    EXPECT_EQ(std::filesystem::path(d).parent_path().string(), Expand(row.temp_dir, vars));
    Words want;
    for (const std::string& w : row.args) want.push_back(Expand(w, vars));
    Words got = RecordedArgs(ReadFile(probe_ + "/args"));
    EXPECT_EQ(got, want);
    EXPECT_EQ(ReadFile(probe_ + "/pwd"), d + "\n");
    EXPECT_EQ(ReadFile(probe_ + "/stdin"), "");
    EXPECT_EQ(ReadFile(probe_ + "/stdin-source"), "/dev/null\n");
    EXPECT_FALSE(Exists(d)) << "the install directory is deleted at the end";

    EXPECT_EQ(Exists(dbg_ + "/quorvane.dmp"), row.dump == kDumpInDebugDir);
    if (row.dump == kDumpInDebugDir) {
      EXPECT_EQ(ReadFile(dbg_ + "/quorvane.dmp"), "boom");
    }
    EXPECT_EQ(Exists(dbg_ + "/Quorvane_i.log"), row.log_in_debug_dir);
    if (row.log_in_debug_dir) {
      Lines log = LogIn(dbg_);
      std::string joined;
      for (const std::string& w : want) joined += " " + w;
      EXPECT_TRUE(Contains(log, "[INFO ] quorvane args:" + joined))
          << ::testing::PrintToString(log);
      const std::string dump_dir = row.dump == kDumpInDebugDir ? dbg_ : d;
      EXPECT_TRUE(Contains(log,
                           "[FATAL] Quorvane unexpectedly terminated. Stacktrace dump saved "
                           "to: " +
                               dump_dir + "/quorvane.dmp"))
          << ::testing::PrintToString(log);
      EXPECT_EQ(log.end()[-4], kClosing);
    }
  }

  // The renewed record that the payload received opens to the merged values
  // in double quotes.
  auto record = encryptedparams::NewEncryptedParamsFromString(r2);
  ASSERT_TRUE(record.ok());
  auto opened = record->Decrypt();
  ASSERT_TRUE(opened.ok());
  EXPECT_EQ(opened->Data, new_text);
}

// The letter case of option words comes with the installer: on a host without
// any locale files the dotted capital I still lowers to "i", so the word is
// --output-dir and its value is made absolute.
TEST_F(RunE2ETest, OptionCaseWithoutLocales) {
  if (std::string why = CannotHideLocales(); !why.empty()) {
    GTEST_SKIP() << "cannot hide the locales (private mount namespace, tmpfs over "
                    "/usr/lib/locale): "
                 << why;
  }
  const std::string exe = Pack(Program("exit 0\n"));
  test::RunOptions options;
  options.wrapper.before_exec = [] {
    if (HideLocales() != 0) _exit(125);
  };
  Measured m = s_.RunInstaller(exe, {"--output-d\xc4\xb0r", "out", "--debug-dir", dbg_}, options);
  ASSERT_EQ(m.exit_status, 0) << m.err;
  const std::string d = InstallDir();
  const Words want = {"--output-d\xc4\xb0r", home_ + "/out", "--debug-dir", dbg_, "--temp-dir", d};
  EXPECT_EQ(RecordedArgs(ReadFile(probe_ + "/args")), want);
  std::string joined;
  for (const std::string& w : want) joined += " " + w;
  EXPECT_TRUE(Contains(LogIn(dbg_), "[INFO ] quorvane args:" + joined));
}

// Outcomes that the unit tests of the payload run reach only with stand-ins:
// an old, longer dump; a dump that cannot be written; no debug directory at
// all; a payload that removes its executable or its whole install directory.
TEST_F(RunE2ETest, CrashOutcomesOfRealRuns) {
  // A longer dump of an earlier run is emptied and keeps its mode.
  {
    ClearProbes();
    const std::string dump = dbg_ + "/quorvane.dmp";
    test::WriteFile(dump, std::string(4096, 'o'), 0600);
    ASSERT_EQ(chmod(dump.c_str(), 0600), 0);
    Measured m = RunInstaller(Pack(Program("printf 'Exception short' >&2\nexit 2\n")),
                              {"--debug-dir", dbg_});
    EXPECT_EQ(m.exit_status, 240);
    EXPECT_EQ(ReadFile(dump), "Exception short");
    EXPECT_EQ(test::ModeOf(dump), 0600u);
    EXPECT_TRUE(Contains(LogIn(dbg_),
                         "[FATAL] Quorvane unexpectedly terminated. Reason: unexpected "
                         "runtime issue. Stacktrace dump saved to: " +
                             dump));
  }
  // With --help the debug directory stays empty: no dump, no dump part. The
  // log goes to the temporary directory because of --no-delete, which --help
  // overrides for the deletion.
  {
    ClearProbes();
    Measured m = RunInstaller(Pack(Program("printf 'runtime: out of memory: 1' >&2\nexit 2\n")),
                              {"-h", "--no-delete"});
    EXPECT_EQ(m.exit_status, 240);
    Lines log = LogIn(tmp_);
    EXPECT_TRUE(Contains(log, "[FATAL] Quorvane unexpectedly terminated. Reason: out of memory."))
        << ::testing::PrintToString(log);
    EXPECT_EQ(InstallDirsIn(tmp_), Lines{});
  }
  // Exit status 2 with a silent standard error is a warning, not a crash.
  {
    ClearProbes();
    Measured m = RunInstaller(Pack(Program("exit 2\n")), {"--debug-dir", dbg_});
    EXPECT_EQ(m.exit_status, (1002 % 256));
    EXPECT_TRUE(Contains(LogIn(dbg_),
                         "[ERROR] A warning occurred while running quorvane. "
                         "(warning code: 2)"));
    EXPECT_FALSE(Exists(dbg_ + "/quorvane.dmp"));
  }
  // The payload removes its own executable before it crashes.
  {
    ClearProbes();
    Measured m = RunInstaller(Pack(Program("rm -f \"$0\"\nprintf 'x' >&2\nexit 2\n")),
                              {"--debug-dir", dbg_});
    EXPECT_EQ(m.exit_status, 240);
    EXPECT_TRUE(Contains(LogIn(dbg_),
                         "[FATAL] Quorvane unexpectedly terminated. Reason: "
                         "executable not found. Stacktrace dump saved to: " +
                             dbg_ + "/quorvane.dmp"));
    EXPECT_EQ(InstallDirsIn(tmp_), Lines{});
  }
  // The payload removes the whole install directory: the dump goes to the
  // debug directory outside it, and the deletion finds nothing to do.
  const std::string remove_install_dir =
      "d=$(/bin/pwd -P)\ncd /\ncase \"$d\" in */quorvane_*) rm -rf \"$d\";; esac\n"
      "printf 'gone' >&2\nexit 2\n";
  {
    ClearProbes();
    Measured m = RunInstaller(Pack(Program(remove_install_dir)), {"--debug-dir", dbg_});
    EXPECT_EQ(m.exit_status, 240);
    const std::string d = InstallDir();
    Lines log = LogIn(dbg_);
    auto at = std::find(log.begin(), log.end(), kCleanupStart + d);
    ASSERT_NE(at, log.end());
    EXPECT_EQ(Lines(at - 1, log.end()),
              (Lines{"[FATAL] Quorvane unexpectedly terminated. Reason: executable not found. "
                     "Stacktrace dump saved to: " +
                         dbg_ + "/quorvane.dmp",
                     kCleanupStart + d, kClosing, "", "", ""}));
    EXPECT_EQ(ReadFile(dbg_ + "/quorvane.dmp"), "gone");
  }
  // The same with the dump due in the install directory itself: it cannot
  // be written, -15, and no crash line.
  {
    ClearProbes();
    Measured m = RunInstaller(Pack(Program(remove_install_dir)), {"--no-delete"});
    EXPECT_EQ(m.exit_status, 241);
    const std::string d = InstallDir();
    const std::string dump = d + "/quorvane.dmp";
    Lines log = LogIn(tmp_);
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(Lines(log.end() - 6, log.end()),
              (Lines{"[ERROR] Cannot write stack trace dump file: " + dump + ". (open " + dump +
                         ": no such file or directory)",
                     "[INFO ] Deleting temporary files ignored due command line arguments",
                     kClosing, "", "", ""}));
    EXPECT_FALSE(Exists(d));
  }
}

// Processes the payload leaves behind: one that holds its standard error
// keeps the installer waiting and its late text counts for the crash test;
// one that let go of the standard error does not hold the run up.
TEST_F(RunE2ETest, ChildrenOfThePayload) {
  {
    ClearProbes();
    Measured m =
        RunInstaller(Pack(Program("(sleep 0.5; printf 'late' >&2) >/dev/null &\nexit 2\n")),
                     {"--debug-dir", dbg_});
    EXPECT_GE(m.seconds, 0.5);
    EXPECT_EQ(m.err, "late");
    EXPECT_EQ(m.exit_status, 240);
    EXPECT_EQ(ReadFile(dbg_ + "/quorvane.dmp"), "late");
  }
  {
    ClearProbes();
    Measured m =
        RunInstaller(Pack(Program("sleep 30 >/dev/null 2>&1 &\necho $! > \"$p/pid\"\nexit 0\n")),
                     {"--debug-dir", dbg_});
    const std::string pid_text = ReadFile(probe_ + "/pid");
    const pid_t pid = static_cast<pid_t>(std::stol(pid_text.empty() ? "0" : pid_text));
    EXPECT_LT(m.seconds, 10.0);
    EXPECT_EQ(m.exit_status, 0);
    // Its working directory is the install directory, which is deleted all
    // the same.
    EXPECT_EQ(InstallDirsIn(tmp_), Lines{});
    if (pid > 0) kill(pid, SIGKILL);
  }
}

// What the payload leaves in its install directory: links (one to a
// directory outside), a named pipe and a read-only directory. The links and
// the pipe stay and their targets are untouched; the read-only directory goes;
// the run still ends with the payload's outcome and its closing line.
TEST_F(RunE2ETest, LeftoversInTheInstallDirectory) {
  const std::string outside = s_ / "outside";
  ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
  test::WriteFile(outside + "/keep", "precious");
  const std::string body =
      "ln -s \"$QV_OUTSIDE\" link\n"
      "ln -s \"$QV_OUTSIDE/keep\" file-link\n"
      "mkfifo -m 0644 fifo\n"
      "mkdir ro && printf x > ro/f && chmod 0555 ro\n"
      "exit 7\n";
  Measured m = RunInstaller(Pack(Program(body)), {"--debug-dir", dbg_}, {"QV_OUTSIDE=" + outside});
  EXPECT_EQ(m.exit_status, (1007 % 256));
  const std::string d = InstallDir();
  Lines log = LogIn(dbg_);
  auto at = std::find(log.begin(), log.end(), kCleanupStart + d);
  ASSERT_NE(at, log.end());
  Lines tail(at, log.end());
  EXPECT_EQ(at[-1], "[ERROR] A warning occurred while running quorvane. (warning code: 7)");
  for (const std::string& line :
       {"[ERROR] Failed to delete " + d + "/fifo. (unknown mode: prw-r--r--)",
        "[ERROR] Failed to delete " + d + "/file-link. (unknown mode: Lrwxrwxrwx)",
        "[ERROR] Failed to delete " + d + "/link. (unknown mode: Lrwxrwxrwx)",
        "[INFO ] Deleted file " + d + "/ro/f", "[INFO ] Deleted directory " + d + "/ro"}) {
    EXPECT_TRUE(Contains(tail, line)) << line << "\n" << ::testing::PrintToString(tail);
  }
  EXPECT_EQ(std::count(tail.begin(), tail.end(), "[DEBUG] Retry delete: " + d), 10);
  ASSERT_GE(tail.size(), 6u);
  EXPECT_EQ(Lines(tail.end() - 6, tail.end()),
            (Lines{"[ERROR] Failed to delete directory " + d + ". (remove " + d +
                       ": directory not empty)",
                   "[ERROR] Failed to delete temporary installer directory \"" + d +
                       "\". (unknown mode: prw-r--r--)",
                   kClosing, "", "", ""}));

  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(d)) left.push_back(e.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (Words{"fifo", "file-link", "link"}));
  EXPECT_EQ(ReadFile(outside + "/keep"), "precious");
  EXPECT_EQ(test::ModeOf(outside), 0755u);
  EXPECT_EQ(test::ModeOf(outside + "/keep"), 0644u);
  test::RemoveTree(d);
}

// Whether text is prefix followed by n zero bytes.
bool IsFlood(const std::string& text, const std::string& prefix, size_t n) {
  return text.size() == prefix.size() + n && text.compare(0, prefix.size(), prefix) == 0 &&
         text.find_first_not_of('\0', prefix.size()) == std::string::npos;
}

// The same for a file's content, read piece by piece.
bool FileIsFlood(const std::string& path, const std::string& prefix, size_t n) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string head(prefix.size(), 'x');
  bool same =
      read(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size()) && head == prefix;
  std::vector<char> piece(1 << 20);
  size_t zeros = 0;
  for (ssize_t got; same && (got = read(fd, piece.data(), piece.size())) > 0;) {
    same = std::all_of(piece.begin(), piece.begin() + got, [](char c) { return c == '\0'; });
    zeros += static_cast<size_t>(got);
  }
  close(fd);
  return same && zeros == n;
}

// A payload that pours 64 MiB, far more than a pipe holds, onto its standard
// error and crashes: all of it
// reaches the installer's standard error and the dump, byte for byte. The
// installer holds the whole text in memory, so its peak resident set is
// reported beside the time the run took.
TEST_F(RunE2ETest, FloodOfStandardError) {
  const size_t flood = size_t{64} << 20;
  const std::string prefix = "runtime: out of memory: ";
  const std::string body =
      "printf '" + prefix + "' >&2\nhead -c " + std::to_string(flood) + " /dev/zero >&2\nexit 2\n";
  Measured m = RunInstaller(Pack(Program(body)), {"--debug-dir", dbg_});
  EXPECT_EQ(m.exit_status, 240);
  EXPECT_TRUE(IsFlood(m.err, prefix, flood));
  const std::string dump = dbg_ + "/quorvane.dmp";
  EXPECT_TRUE(FileIsFlood(dump, prefix, flood));
  EXPECT_TRUE(Contains(LogIn(dbg_),
                       "[FATAL] Quorvane unexpectedly terminated. Reason: out of "
                       "memory. Stacktrace dump saved to: " +
                           dump));
  // The capture holds the text once; a growing buffer briefly needs about
  // twice that, and a sanitizer build adds its own share.
  EXPECT_LT(static_cast<size_t>(m.max_rss_kib), 4 * (flood >> 10) + 64 * 1024);
  RecordProperty("seconds", std::to_string(m.seconds));
  RecordProperty("max_rss_kib", std::to_string(m.max_rss_kib));
  std::printf("%zu MiB of standard error: %.2f s, installer peak RSS %ld KiB\n", flood >> 20,
              m.seconds, m.max_rss_kib);
}

}  // namespace
}  // namespace quorvane
