#include "support/run_as_user.h"

#include <sys/stat.h>

#include "support/test_support.h"

namespace quorvane::test {

int RunAsUser(uid_t ruid, uid_t euid, gid_t gid, const std::string& exe,
              const std::vector<std::string>& argv, const std::vector<std::string>& env,
              const std::string& cwd) {
  Launch launch{exe, argv, env, cwd, {}};
  launch.wrapper.user = UserIds{ruid, euid, gid};
  return RunProcess(launch).exit_status;
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

}  // namespace quorvane::test
