// Helpers shared by the tests: scratch directories, files, child runs.
#ifndef QUORVANE_TESTS_SUPPORT_TEST_SUPPORT_H_
#define QUORVANE_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <sys/types.h>

#include <sys/resource.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvane::testing {

// A fresh directory under the build tree's test area, removed at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

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
};  // lstat succeeds
mode_t ModeOf(const std::string& path);  // permission bits, links not followed

// Removes a tree, making its directories writable and searchable first.
void RemoveTree(const std::string& path);

struct ProcessResult {
  int wait_status = 0;
  int exit_status = -1;  // WEXITSTATUS, or -1 when the process did not exit
  std::string out;
  std::string err;
  double seconds = 0;    // wall time from the start to the end of the wait
  long max_rss_kib = 0;  // peak resident set of the program or its largest waited-for descendant
};

// Runs exe with argv (argv[0] included) and exactly env, in cwd, with stdin
// from /dev/null; collects stdout and stderr. A max_open_files above 0 is the
// program's RLIMIT_NOFILE, set in the child just before the exec, which then
// has only its descriptors 0, 1 and 2 open. before_exec, when given, runs in
// the child just before the program is started.
ProcessResult RunProgram(const std::string& exe, const std::vector<std::string>& argv,
                         const std::vector<std::string>& env, const std::string& cwd,
                         rlim_t max_open_files = 0,
                         const std::function<void()>& before_exec = nullptr);

// The installer without a payload section.
std::string InstallerBinary();

// The lines of a log file, each with its leading time stamp removed; lines
// without one (empty lines, continuations) are kept as they are.
std::vector<std::string> LogLines(const std::string& content);

}  // namespace quorvane::testing

#endif  // QUORVANE_TESTS_SUPPORT_TEST_SUPPORT_H_
