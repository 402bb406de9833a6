#include "support/installer_fixture.h"

#include <sys/stat.h>

#include <stdexcept>

#include "support/payload_fixture.h"

namespace quorvane::test {

InstallerSandbox::InstallerSandbox(const Words& dirs) {
  for (const std::string& d : dirs) {
    if (mkdir((scratch_ / d).c_str(), 0755) != 0) throw std::runtime_error("mkdir " + d);
  }
}

std::string InstallerSandbox::Pack(const std::string& program, const std::string& dir) const {
  return PackArchive(StandardPayloadArchive(program), dir);
}

std::string InstallerSandbox::PackArchive(const std::string& archive,
                                          const std::string& dir) const {
  return PackInstaller(dir.empty() ? scratch_ / "bin" : dir, archive);
}

Words InstallerSandbox::DefaultEnv() const {
  return {"TMPDIR=" + (scratch_ / "tmp"), "PWD=" + (scratch_ / "home"),
          "QV_PROBE=" + (scratch_ / "probe")};
}

std::string InstallerSandbox::Recorded(const std::string& name) const {
  return ReadFile(scratch_ / ("probe/" + name));
}

InstallerRun InstallerSandbox::RunInstaller(const std::string& exe, const Words& args,
                                            const RunOptions& options) const {
  Launch launch;
  launch.exe = exe;
  launch.argv = {options.argv0.value_or(exe)};
  launch.argv.insert(launch.argv.end(), args.begin(), args.end());
  launch.env = options.env.value_or(DefaultEnv());
  launch.env.insert(launch.env.end(), options.extra_env.begin(), options.extra_env.end());
  launch.cwd = options.cwd.value_or(scratch_ / "home");
  launch.wrapper = options.wrapper;
  InstallerRun run;
  static_cast<ProcessResult&>(run) = RunProcess(launch);
  std::string dir = options.log_dir.value_or(LogDirOf(args, launch.env));
  if (!dir.empty() && dir[0] != '/') dir = launch.cwd + "/" + dir;
  struct stat st;
  const std::string log = dir + "/Quorvane_i.log";
  // Only a regular file: a test may have planted a FIFO or a link there.
  if (!dir.empty() && lstat(log.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    run.log = ReadFile(log);
    run.log_lines = LogLines(run.log);
  }
  return run;
}

Wrapper AsUser(uid_t ruid, uid_t euid, gid_t gid) {
  Wrapper wrapper;
  wrapper.user = UserIds{ruid, euid, gid};
  return wrapper;
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

std::string LogDirOf(const Words& args, const Words& env) {
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--debug-dir") return args[i + 1];
  }
  for (const std::string& e : env) {
    if (e.rfind("TMPDIR=", 0) == 0) return e.substr(7);
  }
  return "";
}

}  // namespace quorvane::test
