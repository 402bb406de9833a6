#include "support/run_as_user.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::testing {

int RunAsUser(uid_t ruid, uid_t euid, gid_t gid, const std::string& exe,
              const std::vector<std::string>& argv, const std::vector<std::string>& env,
              const std::string& cwd) {
  std::vector<char*> av, ev;
  for (const auto& a : argv) av.push_back(const_cast<char*>(a.c_str()));
  av.push_back(nullptr);
  for (const auto& e : env) ev.push_back(const_cast<char*>(e.c_str()));
  ev.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
        setresuid(ruid, euid, euid) != 0) {
      _exit(125);
    }
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execve(exe.c_str(), av.data(), ev.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void MakeReachable(const std::string& dir) {
  // The root directory too: a freshly made root (a chroot) may lack o+x.
  std::string path = dir;
  while (!path.empty()) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      chmod(path.c_str(), (st.st_mode & 07777) | 0111);
    }
    size_t slash = path.rfind('/');
    if (path == "/" || slash == std::string::npos) break;
    path.resize(slash == 0 ? 1 : slash);
  }
}

}  // namespace quorvane::testing
