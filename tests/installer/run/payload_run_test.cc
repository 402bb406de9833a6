#include "installer/run/payload_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace quorvane {
namespace {

using ::quorvane::test::LogLines;
using ::quorvane::test::ModeOf;
using ::quorvane::test::ReadFile;
using ::quorvane::test::ScratchDir;
using ::quorvane::test::WriteFile;

// Points one of the test's own descriptors at fd for a scope.
class Redirect {
 public:
  Redirect(int target, int fd) : target_(target) {
    fflush(nullptr);
    saved_ = fcntl(target, F_DUPFD_CLOEXEC, 3);
    dup2(fd, target);
  }
  ~Redirect() {
    fflush(nullptr);
    dup2(saved_, target_);
    close(saved_);
  }

 private:
  int target_;
  int saved_;
};

int OpenOutput(const std::string& path) {
  return open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, sep)) out.push_back(item);
  return out;
}

// The hex masks of SigBlk and SigIgn in a /proc status text.
std::string SignalLines(const std::string& status) {
  std::string out;
  for (const std::string& line : Split(status, '\n')) {
    if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0) out += line + "\n";
  }
  return out;
}

class PayloadRunTest : public test::UmaskTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(install_dir_.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(debug_dir_.c_str(), 0750), 0);
    ASSERT_EQ(mkdir(probe_.c_str(), 0750), 0);
    log_.initInstallerLog(log_path_, true);
    params_.DebugDir = install_dir_;
  }

  void WritePayload(const std::string& body, mode_t mode = 0540) {
    WriteFile(main_file_, "#!/bin/sh\n" + body, mode);
  }

  // Runs the payload with the test's standard output and error going to
  // files; keeps what reached them.
  int RunPayload(const std::vector<std::string>& args = {"--debug-dir", "D"}) {
    int out = OpenOutput(scratch_ / "stdout");
    int err = OpenOutput(scratch_ / "stderr");
    int code;
    {
      Redirect r1(STDOUT_FILENO, out);
      Redirect r2(STDERR_FILENO, err);
      code = runPayload(log_, main_file_, args, install_dir_, params_);
    }
    close(out);
    close(err);
    stdout_ = ReadFile(scratch_ / "stdout");
    stderr_ = ReadFile(scratch_ / "stderr");
    return code;
  }

  // The log lines written since the last NextCase.
  std::vector<std::string> Lines() {
    std::vector<std::string> all = LogLines(ReadFile(log_path_));
    return std::vector<std::string>(all.begin() + static_cast<long>(std::min(mark_, all.size())),
                                    all.end());
  }
  void NextCase() { mark_ += Lines().size(); }
  std::string RunningLine() const { return "[INFO ] Running: " + main_file_ + " --debug-dir D"; }

  ScratchDir scratch_;
  std::string install_dir_ = scratch_ / "quorvane_123";
  std::string main_file_ = install_dir_ + "/quorvane";
  std::string debug_dir_ = scratch_ / "dbg";
  std::string probe_ = scratch_ / "probe";
  std::string log_path_ = scratch_ / "Quorvane_i.log";
  std::string dump_path_ = install_dir_ + "/quorvane.dmp";
  InstallerLog log_;
  Parameters params_;
  std::string stdout_;
  std::string stderr_;
  size_t mark_ = 0;
};

TEST_F(PayloadRunTest, ExitStatusesThatAreNoCrash) {
  struct Case {
    std::string body;
    int code;
    std::string line;  // "" when none follows the Running line
  };
  const Case cases[] = {
      {"exit 0\n", 0, ""},
      {"printf 'note' >&2; exit 0\n", 0, ""},
      {"exit 1\n", 1001, "[ERROR] A warning occurred while running quorvane. (warning code: 1)"},
      {"exit 24\n", 1024, "[ERROR] A warning occurred while running quorvane. (warning code: 24)"},
      {"exit 255\n", 1255,
       "[ERROR] A warning occurred while running quorvane. (warning code: 255)"},
      {"exit 2\n", 1002, "[ERROR] A warning occurred while running quorvane. (warning code: 2)"},
      {"printf 'runtime: x' >&2; exit 3\n", 1003,
       "[ERROR] A warning occurred while running quorvane. (warning code: 3)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    NextCase();
    WritePayload(c.body);
    EXPECT_EQ(RunPayload(), c.code);
    std::vector<std::string> want = {RunningLine()};
    if (!c.line.empty()) want.push_back(c.line);
    EXPECT_EQ(Lines(), want);
    EXPECT_FALSE(::quorvane::test::Exists(dump_path_));
  }
}

TEST_F(PayloadRunTest, CrashReasonFromTheStandardError) {
  const std::pair<std::string, std::string> cases[] = {
      {"runtime: out of memory: cannot allocate", " Reason: out of memory."},
      {"runtime: goroutine stack exceeds limit", " Reason: unexpected runtime issue."},
      {"Exception 0xc0000005 at 0x4012", " Reason: unexpected runtime issue."},
      {"runtime: out of memory:", " Reason: unexpected runtime issue."},
      {"runtime:", ""},
      {"EXCEPTION 0xc0000005", ""},
      {"panic: boom\n", ""},
      {" runtime: x", ""},
  };
  for (const auto& [text, reason] : cases) {
    SCOPED_TRACE(text);
    NextCase();
    WriteFile(probe_ + "/text", text);
    WritePayload("/bin/cat '" + probe_ + "/text' >&2; exit 2\n");
    EXPECT_EQ(RunPayload(), -16);
    EXPECT_EQ(stderr_, text);
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           RunningLine(), "[FATAL] Quorvane unexpectedly terminated." + reason +
                                              " Stacktrace dump saved to: " + dump_path_}));
    EXPECT_EQ(ReadFile(dump_path_), text);
    EXPECT_EQ(ModeOf(dump_path_), 0640u);
    ASSERT_EQ(unlink(dump_path_.c_str()), 0);
  }
}

// The payload spoils its own executable before it crashes; the reason then
// comes from examining the executable.
TEST_F(PayloadRunTest, CrashReasonFromTheExecutable) {
  params_.DebugDir = debug_dir_;
  const std::pair<std::string, std::string> cases[] = {
      {"rm -f \"$0\"", " Reason: executable not found."},
      {"rm -f \"$0\"; ln -s \"$0\" \"$0\"", " Reason: too many levels of symbolic links."},
      {"cd /; rm -rf '" + install_dir_ + "'; echo > '" + install_dir_ + "'",
       " Reason: not a directory."},
      {":", ""},
  };
  for (const auto& [spoil, reason] : cases) {
    SCOPED_TRACE(spoil);
    NextCase();
    ::quorvane::test::RemoveTree(install_dir_);
    ASSERT_EQ(mkdir(install_dir_.c_str(), 0700), 0);
    WritePayload(spoil + "\nprintf 'panic: x' >&2; exit 2\n");
    EXPECT_EQ(RunPayload(), -16);
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{RunningLine(), "[FATAL] Quorvane unexpectedly terminated." +
                                                           reason + " Stacktrace dump saved to: " +
                                                           debug_dir_ + "/quorvane.dmp"}));
    EXPECT_EQ(ReadFile(debug_dir_ + "/quorvane.dmp"), "panic: x");
  }
}

TEST(CrashReasonTest, RefusedAccessIsPermissionDenied) {
  ScratchDir scratch;
  std::string locked = scratch / "locked";
  ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
  WriteFile(locked + "/quorvane", "x", 0755);
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  // Root is never refused; a user without rights is.
  EXPECT_EXIT(
      {
        if (getuid() == 0 && setuid(65534) != 0) _exit(3);
        std::string reason = crashReason("panic", locked + "/quorvane");
        fprintf(stderr, "[%s]", reason.c_str());
        _exit(reason == "permission denied" ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "\\[permission denied\\]");
}

TEST_F(PayloadRunTest, DumpPlaceAndFailures) {
  WritePayload("printf 'panic: x\\n' >&2; exit 2\n");

  // No debug directory: no dump, no dump part.
  params_.DebugDir = "";
  EXPECT_EQ(RunPayload(), -16);
  EXPECT_EQ(Lines().back(), "[FATAL] Quorvane unexpectedly terminated.");
  EXPECT_FALSE(::quorvane::test::Exists(dump_path_));

  // The path is cleaned.
  params_.DebugDir = debug_dir_ + "/./";
  EXPECT_EQ(RunPayload(), -16);
  EXPECT_EQ(Lines().back(), "[FATAL] Quorvane unexpectedly terminated. Stacktrace dump saved to: " +
                                debug_dir_ + "/quorvane.dmp");

  // A missing directory, or a file in its place: no crash line.
  for (const std::string& dir : {scratch_ / "missing", main_file_}) {
    NextCase();
    params_.DebugDir = dir;
    std::string dump = dir + "/quorvane.dmp";
    std::string why = dir == main_file_ ? "not a directory" : "no such file or directory";
    EXPECT_EQ(RunPayload(), -15);
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           RunningLine(), "[ERROR] Cannot write stack trace dump file: " + dump +
                                              ". (open " + dump + ": " + why + ")"}));
  }
}

TEST_F(PayloadRunTest, ExistingDumpIsEmptiedAndKeepsItsMode) {
  std::string dump = debug_dir_ + "/quorvane.dmp";
  WriteFile(dump, std::string(10000, 'o'), 0600);
  params_.DebugDir = debug_dir_;
  WritePayload("printf 'short' >&2; exit 2\n");
  EXPECT_EQ(RunPayload(), -16);
  EXPECT_EQ(ReadFile(dump), "short");
  EXPECT_EQ(ModeOf(dump), 0600u);
}

// Several MiB in both directions: nothing stalls, and the console, the
// capture and the dump get every byte.
TEST_F(PayloadRunTest, LargeOutputPassesThroughWhole) {
  std::string data = "panic: ";
  uint32_t x = 12345;
  while (data.size() < (6u << 20)) {
    x = x * 1103515245u + 12345u;
    data += static_cast<char>(x >> 24);
  }
  WriteFile(probe_ + "/data", data);
  WritePayload("/bin/cat \"$1\" >&2 & /bin/cat \"$1\"; wait; exit 2\n");
  EXPECT_EQ(RunPayload({probe_ + "/data"}), -16);
  EXPECT_TRUE(stderr_ == data) << stderr_.size();
  EXPECT_TRUE(stdout_ == data) << stdout_.size();
  EXPECT_TRUE(ReadFile(dump_path_) == data);
}

TEST_F(PayloadRunTest, EndedBySignal) {
  for (const char* sig : {"KILL", "TERM", "PIPE"}) {
    SCOPED_TRACE(sig);
    NextCase();
    WritePayload(std::string("printf 'runtime: x' >&2; kill -") + sig + " $$\nexit 2\n");
    EXPECT_EQ(RunPayload(), -1001);
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           RunningLine(),
                           "[ERROR] An error occurred while running quorvane. (error code: -1, "
                           "description: Invalid commmand line, check command line)"}));
    EXPECT_FALSE(::quorvane::test::Exists(dump_path_));
  }
}

TEST_F(PayloadRunTest, StartErrors) {
  struct Case {
    std::string setup;  // what replaces the payload
    std::string error;
  };
  const Case cases[] = {
      {"missing dir", "chdir " + install_dir_ + ": no such file or directory"},
      {"dir is a file", "fork/exec " + main_file_ + ": not a directory"},
      {"no exec bit", "fork/exec " + main_file_ + ": permission denied"},
      {"missing file", "fork/exec " + main_file_ + ": no such file or directory"},
      {"bad interpreter", "fork/exec " + main_file_ + ": no such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    NextCase();
    ::quorvane::test::RemoveTree(install_dir_);
    if (c.setup == "dir is a file") {
      WriteFile(install_dir_, "", 0700);
    } else if (c.setup != "missing dir") {
      ASSERT_EQ(mkdir(install_dir_.c_str(), 0700), 0);
      if (c.setup == "no exec bit") WritePayload("exit 0\n", 0640);
      if (c.setup == "bad interpreter") WriteFile(main_file_, "#!/nonexistent/sh\n", 0755);
    }
    EXPECT_EQ(RunPayload(), -14);
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           RunningLine(), "[ERROR] Cannot run quorvane. (" + c.error + ")"}));
  }
}

// What the payload finds when it starts: its arguments, working directory,
// streams, process group and signal state.
TEST_F(PayloadRunTest, ChildProcessSetUp) {
  WritePayload("p='" + probe_ +
               "'\n"
               "printf '%s\\n' \"$#\" \"$@\" > \"$p/args\"\n"
               "readlink /proc/$$/cwd > \"$p/cwd\"\n"
               "readlink /proc/$$/fd/0 > \"$p/stdin\"\n"
               "/bin/cat > \"$p/stdin-data\"\n"
               "/bin/sh -c 'ls /proc/$$/fd; exit 0' > \"$p/fds\"\n"
               "cut -d' ' -f5,6 /proc/$$/stat > \"$p/group\"\n"
               "printf 'to stdout'\n"
               "exec grep -E '^Sig(Blk|Ign)' /proc/self/status > \"$p/signals\"\n");
  std::vector<std::string> args = {"--output-dir", "two words", "", "--temp-dir", install_dir_};
  std::string own_signals = SignalLines(ReadFile("/proc/self/status"));
  EXPECT_EQ(RunPayload(args), 0);

  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"[INFO ] Running: " + main_file_ +
                                      " --output-dir two words  --temp-dir " + install_dir_}));
  EXPECT_EQ(ReadFile(probe_ + "/args"),
            "5\n--output-dir\ntwo words\n\n--temp-dir\n" + install_dir_ + "\n");
  char real[PATH_MAX];
  ASSERT_NE(realpath(install_dir_.c_str(), real), nullptr);
  EXPECT_EQ(ReadFile(probe_ + "/cwd"), std::string(real) + "\n");
  EXPECT_EQ(ReadFile(probe_ + "/stdin"), "/dev/null\n");
  EXPECT_EQ(ReadFile(probe_ + "/stdin-data"), "");
  EXPECT_EQ(ReadFile(probe_ + "/fds"), "0\n1\n2\n");
  EXPECT_EQ(ReadFile(probe_ + "/group"),
            std::to_string(getpgrp()) + " " + std::to_string(getsid(0)) + "\n");
  EXPECT_EQ(stdout_, "to stdout");
  EXPECT_EQ(stderr_, "");
  // The same signal state as the test's own, and no trace of the blocked
  // SIGPIPE of the copy.
  std::string child_signals = ReadFile(probe_ + "/signals");
  EXPECT_EQ(child_signals, own_signals);
  for (const std::string& line : Split(child_signals, '\n')) {
    EXPECT_EQ(std::stoull(line.substr(8), nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u) << line;
  }
}

TEST_F(PayloadRunTest, ChildEnvironment) {
  std::vector<std::string> entries = {"A=1",      "PWD=/elsewhere", "B=2",    "A=3",
                                      "NOEQUALS", "C=x=y",          "PWDX=p", "a=lower"};
  std::vector<char*> env;
  for (std::string& e : entries) env.push_back(e.data());
  env.push_back(nullptr);
  WritePayload("/bin/cat /proc/$$/environ > '" + probe_ + "/environ'\n");
  char** saved = environ;
  environ = env.data();
  int code = RunPayload();
  environ = saved;
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Split(ReadFile(probe_ + "/environ"), '\0'),
            (std::vector<std::string>{"B=2", "A=3", "NOEQUALS", "C=x=y", "PWDX=p", "a=lower",
                                      "PWD=" + install_dir_}));
}

TEST(PayloadEnvironmentTest, PwdLastAndDuplicatesKeepTheirLastPlace) {
  using Env = std::vector<std::string>;
  EXPECT_EQ(PayloadEnvironment({}, "/i"), Env{"PWD=/i"});
  EXPECT_EQ(PayloadEnvironment({"PWD=/a", "X=1", "PWD=/b"}, "/i"), (Env{"X=1", "PWD=/i"}));
  EXPECT_EQ(PayloadEnvironment({"X=1", "Y=2", "X=3", "Y=", "X=5"}, "/i"),
            (Env{"Y=", "X=5", "PWD=/i"}));
  EXPECT_EQ(PayloadEnvironment({"PWD", "=x", "=x", "Z=1"}, "/i"),
            (Env{"PWD", "=x", "=x", "Z=1", "PWD=/i"}));
}

// A process that the payload leaves behind with its standard error keeps the
// run waiting until it closes it; what it writes still reaches the console.
TEST_F(PayloadRunTest, WaitsForEveryWriterOfTheStandardError) {
  WritePayload("( /bin/sleep 0.5; printf 'late' >&2 ) &\nprintf 'early' >&2\nexit 0\n");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunPayload(), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
  EXPECT_EQ(stderr_, "earlylate");
}

// The installer's standard error has no reader: passing on fails, the
// installer lives on, and the payload's further writes meet a closed pipe.
TEST_F(PayloadRunTest, StandardErrorWithoutReader) {
  struct Case {
    std::string body;
    int code;
    std::string line;
  };
  const Case cases[] = {
      {"printf 'x' >&2; exit 0\n", -14,
       "[ERROR] Cannot run quorvane. (write /dev/stderr: broken pipe)"},
      // The piece that failed is not captured, so this is no crash.
      {"printf 'x' >&2; exit 2\n", 1002,
       "[ERROR] A warning occurred while running quorvane. (warning code: 2)"},
      // Once the copy has stopped, the payload's writes fail (exit 7), at
      // once or after a few rounds; it never gets to exit 9.
      {"trap '' PIPE; i=0\n"
       "while printf 'x' >&2; do i=$((i+1)); [ $i -lt 500 ] || exit 9; /bin/sleep 0.01; done\n"
       "exit 7\n",
       1007, "[ERROR] A warning occurred while running quorvane. (warning code: 7)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    NextCase();
    WritePayload(c.body);
    int p[2];
    ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
    close(p[0]);
    int code;
    {
      Redirect r(STDERR_FILENO, p[1]);
      code = runPayload(log_, main_file_, {"--debug-dir", "D"}, install_dir_, params_);
    }
    close(p[1]);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(Lines(), (std::vector<std::string>{RunningLine(), c.line}));
    EXPECT_FALSE(::quorvane::test::Exists(dump_path_));
    sigset_t pending;
    ASSERT_EQ(sigpending(&pending), 0);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
  }
}

}  // namespace
}  // namespace quorvane
