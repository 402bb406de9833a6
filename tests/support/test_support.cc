#include "support/test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quorvane::test {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
    close(fd);
    throw std::runtime_error("cannot write " + path);
  }
  close(fd);
  chmod(path.c_str(), mode);
}

ScopedWorkingDir::ScopedWorkingDir(const std::string& dir) {
  char* old = getcwd(nullptr, 0);
  if (old == nullptr) throw std::runtime_error("getcwd failed");
  old_cwd_ = old;
  free(old);
  const char* pwd = getenv("PWD");
  had_pwd_ = pwd != nullptr;
  if (had_pwd_) old_pwd_ = pwd;
  if (chdir(dir.c_str()) != 0) throw std::runtime_error("chdir " + dir + " failed");
  setenv("PWD", dir.c_str(), 1);
}

ScopedWorkingDir::~ScopedWorkingDir() {
  EXPECT_EQ(chdir(old_cwd_.c_str()), 0);
  if (had_pwd_) {
    setenv("PWD", old_pwd_.c_str(), 1);
  } else {
    unsetenv("PWD");
  }
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return static_cast<mode_t>(-1);
  return st.st_mode & 07777;
}

namespace {

// Reads a pipe to its end, keeping the first `keep` bytes and counting all.
void Drain(int fd, std::string& kept, size_t keep, size_t* count, bool slowly) {
  std::vector<char> buf(slowly ? 4096 : 1 << 20);
  for (;;) {
    ssize_t n = read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (kept.size() < keep) kept.append(buf.data(), std::min<size_t>(n, keep - kept.size()));
    if (count != nullptr) *count += static_cast<size_t>(n);
    if (slowly) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  close(fd);
}

// In the child: sets up what the wrapper asks for, then runs the program.
[[noreturn]] void StartChild(const Launch& l, char* const* av, char* const* ev, int out, int err) {
  const Wrapper& w = l.wrapper;
  int null = open("/dev/null", O_RDONLY);
  dup2(null, 0);
  if (null > 2) close(null);
  w.close_stdout ? close(1) : dup2(out, 1);
  w.close_stderr ? close(2) : dup2(err, 2);
  if (w.slow_stderr) fcntl(2, F_SETFL, fcntl(2, F_GETFL) | O_NONBLOCK);
  if (w.ignore_sigchld) signal(SIGCHLD, SIG_IGN);
  for (const Limit& limit : w.limits) {
    // Descriptors inherited from whoever started the tests would take some
    // of the few allowed.
    if (limit.resource == RLIMIT_NOFILE) closefrom(3);
    struct rlimit r = {limit.soft, limit.hard};
    if (setrlimit(limit.resource, &r) != 0) _exit(125);
  }
  if (w.umask) umask(*w.umask);
  if (w.user &&
      (setgroups(0, nullptr) != 0 || setresgid(w.user->gid, w.user->gid, w.user->gid) != 0 ||
       setresuid(w.user->ruid, w.user->euid, w.user->euid) != 0)) {
    _exit(125);
  }
  if (!l.cwd.empty() && chdir(l.cwd.c_str()) != 0) _exit(126);
  if (w.before_exec) w.before_exec();
  execve(l.exe.c_str(), av, ev);
  _exit(127);
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; }

}  // namespace

ProcessResult RunProcess(const Launch& launch) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<char*> av, ev;
  for (const auto& a : launch.argv) av.push_back(const_cast<char*>(a.c_str()));
  av.push_back(nullptr);
  for (const auto& e : launch.env) ev.push_back(const_cast<char*>(e.c_str()));
  ev.push_back(nullptr);
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) StartChild(launch, av.data(), ev.data(), out[1], err[1]);
  close(out[1]);
  close(err[1]);
  ProcessResult r;
  const Wrapper& w = launch.wrapper;
  std::thread out_reader([&] { Drain(out[0], r.out, std::string::npos, nullptr, false); });
  if (w.slow_stderr) std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Drain(err[0], r.err, w.keep_err, &r.err_bytes, w.slow_stderr);
  out_reader.join();
  struct rusage usage {};
  while (wait4(pid, &r.wait_status, 0, &usage) < 0 && errno == EINTR) {
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.cpu_seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  r.max_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(r.wait_status)) r.exit_status = WEXITSTATUS(r.wait_status);
  return r;
}

ProcessResult RunProgram(const std::string& exe, const std::vector<std::string>& argv,
                         const std::vector<std::string>& env, const std::string& cwd) {
  return RunProcess({exe, argv, env, cwd, {}});
}

std::string InstallerBinary() { return QUORVANE_INSTALLER_BIN; }

std::vector<std::string> LogLines(const std::string& content) {
  static const std::regex stamp(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} )");
  std::vector<std::string> lines;
  std::istringstream in(content);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, stamp)) {
      lines.push_back(line.substr(m.length(0)));
    } else {
      lines.push_back(line);  // an empty line, or the continuation of a text
    }
  }
  return lines;
}

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) != nullptr ? buf : "";
}

// Every path under root, relative to it.
std::set<std::string> TreeOf(const std::string& root) {
  std::set<std::string> out;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    out.insert(std::filesystem::relative(it->path(), root).string());
  }
  return out;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string EnterPrivateMountNamespace() {
  if (unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return std::string("make / private: ") + std::strerror(errno);
  }
  return "";
}

}  // namespace quorvane::test
