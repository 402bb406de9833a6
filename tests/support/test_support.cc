#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

namespace quorvane::testing {

ScratchDir::ScratchDir() {
  std::string tmpl = std::string(QUORVANE_TEST_TMP) + "/t.XXXXXX";
  std::filesystem::create_directories(QUORVANE_TEST_TMP);
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

void RemoveTree(const std::string& path) {
  std::error_code ec;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    for (const auto& e : std::filesystem::directory_iterator(path, ec)) RemoveTree(e.path());
  }
  std::filesystem::remove(path, ec);
}

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

ProcessResult RunProgram(const std::string& exe, const std::vector<std::string>& argv,
                         const std::vector<std::string>& env, const std::string& cwd,
                         rlim_t max_open_files, const std::function<void()>& before_exec) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<char*> av, ev;
  for (const auto& a : argv) av.push_back(const_cast<char*>(a.c_str()));
  av.push_back(nullptr);
  for (const auto& e : env) ev.push_back(const_cast<char*>(e.c_str()));
  ev.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    if (null > 0) close(null);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    if (max_open_files > 0) {
      // Descriptors inherited from whoever started the tests would take
      // some of the few allowed.
      closefrom(3);
      struct rlimit lim;
      if (getrlimit(RLIMIT_NOFILE, &lim) != 0) _exit(125);
      lim.rlim_cur = max_open_files;
      if (setrlimit(RLIMIT_NOFILE, &lim) != 0) _exit(125);
    }
    if (before_exec) before_exec();
    execve(exe.c_str(), av.data(), ev.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  ProcessResult r;
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open_count = 2;
  std::vector<char> buf(1 << 20);
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buf.data(), buf.size());
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      } else {
        (i == 0 ? r.out : r.err).append(buf.data(), static_cast<size_t>(n));
      }
    }
  }
  struct rusage usage {};
  wait4(pid, &r.wait_status, 0, &usage);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.max_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(r.wait_status)) r.exit_status = WEXITSTATUS(r.wait_status);
  return r;
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

}  // namespace quorvane::testing
