// Helpers shared by the tests: scratch directories (support/scratch.h), files,
// the umask, child runs.
#ifndef QUORVANE_TESTS_SUPPORT_TEST_SUPPORT_H_
#define QUORVANE_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/scratch.h"

namespace quorvane::test {

// The words of a command line.
using Words = std::vector<std::string>;

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644);
bool Exists(const std::string& path);

// Makes dir the working directory, with PWD naming it, until destroyed.
class ScopedWorkingDir {
 public:
  explicit ScopedWorkingDir(const std::string& dir);
  ~ScopedWorkingDir();
  ScopedWorkingDir(const ScopedWorkingDir&) = delete;
  ScopedWorkingDir& operator=(const ScopedWorkingDir&) = delete;

 private:
  std::string old_cwd_, old_pwd_;
  bool had_pwd_ = false;
};                                       // lstat succeeds
mode_t ModeOf(const std::string& path);  // permission bits, links not followed

struct ProcessResult {
  int wait_status = 0;
  int exit_status = -1;  // WEXITSTATUS, or -1 when the process did not exit
  std::string out;
  std::string err;         // the first Wrapper::keep_err bytes of the standard error
  size_t err_bytes = 0;    // every byte of the standard error, kept or not
  double seconds = 0;      // wall time from the start to the end of the wait
  double cpu_seconds = 0;  // user + system time of the program and its waited-for descendants
  long max_rss_kib = 0;    // peak resident set of the program or its largest waited-for descendant
};

// A resource limit set in the child before it runs the program.
struct Limit {
  int resource;  // RLIMIT_AS, RLIMIT_NOFILE, ...
  rlim_t soft;
  rlim_t hard;
};

// User and group ids the child takes before it runs the program (no
// supplementary groups); needs user id 0.
struct UserIds {
  uid_t ruid;
  uid_t euid;  // also the saved user id
  gid_t gid;
};

// How the child is prepared around the program: the careless or hostile
// ways a parent may start it, and the limits or ids it runs under.
struct Wrapper {
  std::vector<Limit> limits;
  std::optional<mode_t> umask;  // the file-creation mask; none: inherited
  std::optional<UserIds> user;
  bool ignore_sigchld = false;
  bool close_stdout = false;            // descriptor 1 closed instead of a pipe
  bool close_stderr = false;            // descriptor 2 closed instead of a pipe
  bool slow_stderr = false;             // a non-blocking pipe, drained late and slowly
  size_t keep_err = std::string::npos;  // bytes of the standard error kept in err
  // Runs in the child last, just before the program (e.g. to enter a mount
  // namespace of its own); async-signal-safe calls only.
  std::function<void()> before_exec;
};

// One program to start: exe with argv (argv[0] included) and exactly env, in
// cwd ("" keeps the current one), stdin from /dev/null.
struct Launch {
  std::string exe;
  std::vector<std::string> argv;
  std::vector<std::string> env;
  std::string cwd;
  Wrapper wrapper;
};

// Runs one program and collects its standard output and error, its status,
// time and peak memory. Every test and benchmark starts programs through it.
ProcessResult RunProcess(const Launch& launch);

// RunProcess with no wrapper.
ProcessResult RunProgram(const std::string& exe, const std::vector<std::string>& argv,
                         const std::vector<std::string>& env, const std::string& cwd);

// Moves this process into a mount namespace of its own whose mounts do not
// propagate back, so that a test may mount without touching the machine's
// tree. "" on success, else what failed.
std::string EnterPrivateMountNamespace();

// Whether one of lines is exactly line.
bool Contains(const std::vector<std::string>& lines, const std::string& line);

// The path with every link resolved; "" when it cannot be.
std::string RealPath(const std::string& path);

// Every path under root, relative to it.
std::set<std::string> TreeOf(const std::string& root);

// Sets the file-creation mask until destroyed, then puts back the one
// before. The one way tests set the mask.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : mask_(mask), old_(umask(mask)) {}
  ~ScopedUmask() { umask(old_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

  mode_t mask() const { return mask_; }

 private:
  mode_t mask_;
  mode_t old_;
};

// A test that runs with the file-creation mask 022, set before the test's
// own members are made and put back after they are gone.
class UmaskTest : public ::testing::Test {
 private:
  ScopedUmask umask_{022};
};

// The installer without a payload section.
std::string InstallerBinary();

// The lines of a log file, each with its leading time stamp removed; lines
// without one (empty lines, continuations) are kept as they are.
std::vector<std::string> LogLines(const std::string& content);

}  // namespace quorvane::test

#endif  // QUORVANE_TESTS_SUPPORT_TEST_SUPPORT_H_
