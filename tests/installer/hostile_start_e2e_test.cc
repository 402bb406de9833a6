// Whole runs of the real installer started the way careless parents start
// it: standard streams closed, SIGCHLD ignored, a file-size limit, an
// address-space limit, a standard error that does not take data as fast as
// the payload writes it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/installer_fixture.h"
#include "support/log_lines.h"
#include "support/payload_fixture.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using test::Contains;
using test::Exists;
using test::LogLines;
using test::ReadFile;

using test::Lines;

using test::kClosing;

// How the test starts the installer; only the first 64 KiB of the standard
// error are kept (err), every byte is counted (err_bytes).
using Start = test::Wrapper;
using Ended = test::InstallerRun;

// A scratch tree: $S/bin (the installer), $S/home (working directory),
// $S/tmp (TMPDIR), $S/dbg (debug directory), $S/probe (the payload's notes).
class HostileStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the run's administrator check needs the superuser";
  }

  // The payload notes its working directory (the install directory), then runs body.
  std::string Pack(const std::string& body) {
    const std::string program = "#!/bin/sh\np=\"$QV_PROBE\"\n/bin/pwd -P > \"$p/cwd\"\n" + body;
    return s_.Pack(program);
  }

  Ended RunInstaller(const std::string& exe, const std::vector<std::string>& words, Start how) {
    how.keep_err = 65536;
    test::RunOptions options;
    options.wrapper = how;
    return s_.RunInstaller(exe, words, options);
  }

  std::string Probe(const std::string& name) const { return s_.Recorded(name); }

  std::string InstallDir() const {
    std::string cwd = Probe("cwd");
    if (!cwd.empty() && cwd.back() == '\n') cwd.pop_back();
    return cwd;
  }

  Lines InstallDirsIn(const std::string& dir) const {
    Lines found;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      if (e.path().filename().string().rfind("quorvane_", 0) == 0) found.push_back(e.path());
    }
    return found;
  }

  test::InstallerSandbox s_{{"bin", "home", "tmp", "dbg", "probe"}};
  std::string home_ = s_ / "home";
  std::string tmp_ = s_ / "tmp";
  std::string dbg_ = s_ / "dbg";
  std::string probe_ = s_ / "probe";
};

// The installer's own files never take a closed standard descriptor: the
// payload's output does not land in the log, and the log is not among the
// payload's open descriptors.
TEST_F(HostileStartTest, ClosedStandardStreams) {
  const std::string exe = Pack(
      "fds=$(for f in /proc/$$/fd/*; do readlink \"$f\"; done)\n"
      "fd1=$(readlink /proc/$$/fd/1)\n"
      "printf '%s\\n' \"$fds\" > \"$p/fds\"\nprintf '%s\\n' \"$fd1\" > \"$p/fd1\"\n"
      "printf 'to-stdout\\n'\nprintf 'to-stderr\\n' >&2\nexit 0\n");
  const std::string log_path = dbg_ + "/Quorvane_i.log";
  const std::regex stamped(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} \[(INFO |ERROR|FATAL)\] .*)");
  struct Case {
    bool close_stdout, close_stderr;
  };
  for (const Case c : {Case{true, false}, Case{false, true}, Case{true, true}}) {
    SCOPED_TRACE(std::to_string(c.close_stdout) + std::to_string(c.close_stderr));
    std::remove(log_path.c_str());
    Start how;
    how.close_stdout = c.close_stdout;
    how.close_stderr = c.close_stderr;
    Ended e = RunInstaller(exe, {"--debug-dir", dbg_}, how);
    EXPECT_EQ(e.exit_status, 0);
    EXPECT_EQ(e.out, c.close_stdout ? "" : "to-stdout\n");
    EXPECT_EQ(e.err, c.close_stderr ? "" : "to-stderr\n");
    if (c.close_stdout) {
      EXPECT_EQ(Probe("fd1"), "/dev/null\n");
    }

    // Every line of the log is one of its own: stamped, or one of the three
    // empty lines after the closing line.
    std::istringstream log(ReadFile(log_path));
    std::string line;
    Lines foreign;
    size_t empty = 0;
    while (std::getline(log, line)) {
      if (line.empty()) {
        ++empty;
      } else if (!std::regex_match(line, stamped)) {
        foreign.push_back(line);
      }
    }
    EXPECT_EQ(foreign, Lines{});
    EXPECT_EQ(empty, 3u);
    EXPECT_EQ(LogLines(ReadFile(log_path)).end()[-4], kClosing);

    std::string fds = Probe("fds");
    EXPECT_EQ(fds.find("Quorvane_i.log"), std::string::npos) << fds;
    EXPECT_EQ(InstallDirsIn(tmp_), Lines{});
  }
}

// Started with SIGCHLD ignored, the installer still learns how the payload
// ended, and the payload finds SIGCHLD at its default; it finds SIGXFSZ at
// its default too, though the installer itself ignores it.
TEST_F(HostileStartTest, IgnoredSigchldIsResetAndThePayloadGetsDefaults) {
  const std::string exe =
      Pack("grep '^SigIgn:' /proc/$$/status > \"$p/sigign\"\nprintf 'text' >&2\nexit 3\n");
  Start how;
  how.ignore_sigchld = true;
  Ended e = RunInstaller(exe, {"--debug-dir", dbg_}, how);
  EXPECT_EQ(e.exit_status, 1003 & 0xff);
  EXPECT_EQ(e.err, "text");
  Lines log = LogLines(ReadFile(dbg_ + "/Quorvane_i.log"));
  EXPECT_TRUE(Contains(log, "[ERROR] A warning occurred while running quorvane. (warning code: 3)"))
      << ::testing::PrintToString(log);

  std::string sigign = Probe("sigign");
  ASSERT_EQ(sigign.rfind("SigIgn:", 0), 0u) << sigign;
  const unsigned long long mask = std::stoull(sigign.substr(7), nullptr, 16);
  EXPECT_EQ(mask & (1ull << (SIGCHLD - 1)), 0u) << sigign;
  EXPECT_EQ(mask & (1ull << (SIGXFSZ - 1)), 0u) << sigign;
}

// A file-size limit below the payload executable's size: the write past it
// fails instead of killing the installer, extraction ends the run with -13,
// and the end steps delete the install directory. With the limit above the
// log's size the log tells all of it; with the limit below, the log keeps
// what fitted and the run ends the same way.
TEST_F(HostileStartTest, FileSizeLimitBelowAMember) {
  // The executable is a script padded to 1 MiB with a comment.
  const std::string exe = Pack("exit 0\n#" + std::string(size_t{1} << 20, 'x') + "\n");
  const std::string log_path = dbg_ + "/Quorvane_i.log";
  for (const rlim_t limit : {rlim_t{64} << 10, rlim_t{1024}}) {
    SCOPED_TRACE(limit);
    std::remove(log_path.c_str());
    Start how;
    how.limits = {{RLIMIT_FSIZE, limit, limit}};
    Ended e = RunInstaller(exe, {"--debug-dir", dbg_}, how);
    ASSERT_TRUE(WIFEXITED(e.wait_status)) << "ended by signal " << WTERMSIG(e.wait_status);
    EXPECT_EQ(e.exit_status, 243);
    EXPECT_EQ(Probe("cwd"), "");  // the payload never ran
    EXPECT_TRUE(std::filesystem::is_empty(tmp_));

    const std::string log = ReadFile(log_path);
    if (limit == 1024) {
      EXPECT_EQ(log.size(), limit);
      continue;
    }
    Lines lines = LogLines(log);
    const std::string extracting = "[INFO ] Extracting files to: ";
    auto at = std::find_if(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.rfind(extracting, 0) == 0; });
    ASSERT_NE(at, lines.end()) << ::testing::PrintToString(lines);
    const std::string target = at->substr(extracting.size()) + "/quorvane";
    EXPECT_TRUE(Contains(
        lines, "[ERROR] Cannot write file: " + target + ". (write " + target + ": file too large)"))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(Contains(
        lines, "[INFO ] Delete temporary installer directory: " + at->substr(extracting.size())));
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()), (Lines{kClosing, "", "", ""}));
  }
}

// An installer's standard error that is a non-blocking pipe, full most of
// the time: the copy waits for room instead of failing, and every byte
// passes.
TEST_F(HostileStartTest, NonBlockingStandardErrorThatIsFull) {
  const size_t size = size_t{1} << 20;
  const std::string exe =
      Pack("head -c " + std::to_string(size) + " /dev/zero | tr '\\0' e >&2\nexit 0\n");
  Start how;
  how.slow_stderr = true;
  Ended e = RunInstaller(exe, {"--debug-dir", dbg_}, how);
  EXPECT_EQ(e.exit_status, 0);
  EXPECT_EQ(e.err_bytes, size);
  EXPECT_EQ(e.err, std::string(65536, 'e'));
  Lines log = LogLines(ReadFile(dbg_ + "/Quorvane_i.log"));
  auto failed = std::find_if(log.begin(), log.end(),
                             [](const std::string& l) { return l.rfind("[ERROR]", 0) == 0; });
  EXPECT_EQ(failed, log.end()) << *failed;
}

// A 300 MB flood of standard error under an address-space limit that the
// capture cannot fit: the installer keeps what it can, passes everything on,
// classifies the crash on what it kept, and ends through its end steps.
TEST_F(HostileStartTest, StandardErrorFloodUnderAnAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit cannot be combined with the address sanitizer";
#endif
  const size_t flood = 300'000'000;
  const std::string prefix = "runtime: out of memory: ";
  const std::string exe = Pack("printf '" + prefix + "' >&2\nhead -c " + std::to_string(flood) +
                               " /dev/zero >&2\nexit 2\n");
  Start how;
  how.limits = {{RLIMIT_AS, rlim_t{200} << 20, rlim_t{200} << 20}};
  // --no-delete puts the log in the temporary directory; --kill still has the
  // install directory, and the dump in it, deleted.
  Ended e = RunInstaller(exe, {"--no-delete", "--kill"}, how);
  ASSERT_TRUE(WIFEXITED(e.wait_status)) << "ended by signal " << WTERMSIG(e.wait_status);
  EXPECT_EQ(e.exit_status, 240);
  EXPECT_EQ(e.err_bytes, prefix.size() + flood);
  EXPECT_EQ(e.err.substr(0, prefix.size()), prefix);

  const std::string d = InstallDir();
  Lines log = LogLines(ReadFile(tmp_ + "/Quorvane_i.log"));
  const std::string fatal =
      "[FATAL] Quorvane unexpectedly terminated. Reason: out of memory. Stacktrace dump saved "
      "to: " +
      d + "/quorvane.dmp";
  auto at = std::find(log.begin(), log.end(), fatal);
  ASSERT_NE(at, log.end()) << ::testing::PrintToString(log);
  ASSERT_NE(at, log.begin());
  // The line before it tells how much was kept.
  const std::regex kept(
      R"(\[ERROR\] Cannot keep the standard error of quorvane beyond (\d+) bytes\. \(cannot allocate memory\))");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(at[-1], m, kept)) << at[-1];
  const size_t captured = std::stoull(m[1]);
  EXPECT_GT(captured, prefix.size());
  EXPECT_LT(captured, flood);
  EXPECT_EQ(at[1], "[INFO ] Delete temporary installer directory: " + d);
  EXPECT_EQ(Lines(log.end() - 4, log.end()), (Lines{kClosing, "", "", ""}));
  EXPECT_FALSE(Exists(d));
  EXPECT_EQ(InstallDirsIn(tmp_), Lines{});
}

// Address-space limits from the lowest at which the process gets to main
// up to one under which a whole run succeeds: whatever runs out first, the
// installer ends with an exit status of its own (no abort from the C++
// runtime, no other signal), and with 0 only when the payload ran.
TEST_F(HostileStartTest, AddressSpaceSweepAboveTheLoadersNeed) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit cannot be combined with the address sanitizer";
#endif
  const std::string exe = Pack("exit 0\n");
  const std::string cwd_note = probe_ + "/cwd";
  auto run_under = [&](rlim_t kib) {
    std::remove(cwd_note.c_str());
    Start how;
    how.limits = {{RLIMIT_AS, kib << 10, kib << 10}};
    return RunInstaller(exe, {"--debug-dir", dbg_}, how);
  };
  // Below the loader's need the process dies before main: the loader says
  // so and exits 127, or the kernel kills it. The installer itself writes
  // nothing to the standard error.
  auto before_main = [](const Ended& e) {
    if (WIFSIGNALED(e.wait_status)) {
      return WTERMSIG(e.wait_status) == SIGSEGV || WTERMSIG(e.wait_status) == SIGKILL;
    }
    return e.exit_status == 127 && !e.err.empty();
  };

  // The lowest limit that gets there, found in coarse steps, then in fine.
  const rlim_t give_up = 64 << 10;
  rlim_t lowest = 1024;
  while (lowest < give_up && before_main(run_under(lowest))) lowest += 256;
  ASSERT_LT(lowest, give_up) << "the installer never got to main";
  for (rlim_t kib = lowest - 248; kib < lowest; kib += 8) {
    if (!before_main(run_under(kib))) {
      lowest = kib;
      break;
    }
  }

  // Fine steps across the first 512 KiB above it (where there is not even
  // memory for an exception), coarse steps from there on.
  bool succeeded = false;
  size_t runs = 0;
  std::map<int, size_t> statuses;
  for (rlim_t kib = lowest; kib < lowest + give_up && !succeeded;
       kib += kib < lowest + 512 ? 8 : 256) {
    SCOPED_TRACE(std::to_string(kib) + " KiB");
    Ended e = run_under(kib);
    ++runs;
    ASSERT_TRUE(WIFEXITED(e.wait_status)) << "ended by signal " << WTERMSIG(e.wait_status);
    EXPECT_EQ(e.err.find("terminate called"), std::string::npos) << e.err;
    ++statuses[e.exit_status];
    if (e.exit_status == 0) {
      // The payload's shell makes the note before anything else it runs.
      ASSERT_TRUE(Exists(cwd_note)) << "exit status 0, but the payload did not run";
      succeeded = true;
    }
  }
  EXPECT_TRUE(succeeded) << "no run succeeded below " << lowest + give_up << " KiB";
  // The sweep saw the run fail before it succeeded.
  EXPECT_GT(statuses.size(), 1u) << ::testing::PrintToString(statuses) << " in " << runs;
}

}  // namespace
}  // namespace quorvane
