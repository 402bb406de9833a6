// Times the installer's run over a payload of the shipped size against the
// plain tools doing the same work (unzip of the archive, then sha256sum -c of
// both checksum lists) and against the floor program beside this one, which
// takes the same steps with the same zlib and SHA-256 and nothing else. Each
// round runs all of them, in turns, from fresh directories; the first round
// only warms the caches. The payload executable is real machine code: bytes
// of the installer and of the system's shared libraries.
//
// What is timed, from fork to the end of wait4:
//   installer        the whole run: checks, extraction and verification, the
//                    payload (a script that exits at once), the deletion of
//                    the install directory and the closing log line;
//   installer-keep   the same with --no-delete, so without the deletion,
//                    which the plain tools do not do either;
//   unzip+sha256sum  sh -c 'unzip -qo ... && sha256sum -c ... (both lists)';
//   floor            bench/floor over the archive file.
// Peak RSS is wait4's ru_maxrss: the largest of the child and of every
// descendant it waited for.
//
// usage: extract [rounds]   (default 9)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/payload_fixture.h"
#include "support/shipped_payload.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

struct Sample {
  double seconds = 0;
  double cpuSeconds = 0;  // user + system, the child's and its descendants'.
  long maxRssKiB = 0;
  int waitStatus = 0;
};

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::vector<char*> CStrings(std::vector<std::string>& words) {
  std::vector<char*> out;
  for (std::string& w : words) out.push_back(w.data());
  out.push_back(nullptr);
  return out;
}

// Runs argv with exactly env in cwd, its output discarded.
Sample Spawn(std::vector<std::string> argv, std::vector<std::string> env, const std::string& cwd) {
  std::vector<char*> args = CStrings(argv);
  std::vector<char*> vars = CStrings(env);
  Sample s;
  double start = Now();
  pid_t pid = fork();
  if (pid < 0) {
    perror("fork");
    std::exit(2);
  }
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execve(args[0], args.data(), vars.data());
    _exit(127);
  }
  rusage usage{};
  while (wait4(pid, &s.waitStatus, 0, &usage) < 0) {
  }
  s.seconds = Now() - start;
  s.maxRssKiB = usage.ru_maxrss;
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  s.cpuSeconds = secs(usage.ru_utime) + secs(usage.ru_stime);
  return s;
}

void Check(const Sample& s, const char* what) {
  if (!WIFEXITED(s.waitStatus) || WEXITSTATUS(s.waitStatus) != 0) {
    std::fprintf(stderr, "%s failed (wait status %d)\n", what, s.waitStatus);
    std::exit(1);
  }
}

// A script that ends at once with status 0, padded to size with real machine
// code: the installer, then the system's shared libraries by name. The shell
// never reads past "exit".
std::string MachineCodeProgram(size_t size) {
  std::string program = "#!/bin/sh\nexit 0\n";
  const std::string libs = "/usr/lib/x86_64-linux-gnu";
  std::vector<std::string> files = {QUORVANE_INSTALLER_BIN, libs + "/libcrypto.so.3",
                                    libs + "/libstdc++.so.6", libs + "/libc.so.6"};
  std::vector<std::string> more;
  if (DIR* d = opendir(libs.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.find(".so") != std::string::npos && name.find("icudata") == std::string::npos) {
        more.push_back(libs + "/" + name);
      }
    }
    closedir(d);
  }
  std::sort(more.begin(), more.end());
  files.insert(files.end(), more.begin(), more.end());
  for (const std::string& f : files) {
    if (program.size() >= size) break;
    struct stat st;
    if (lstat(f.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::string bytes = testing::ReadFile(f);
    if (bytes.compare(0, 4, "\x7f" "ELF") != 0) continue;
    program += bytes.substr(0, size - program.size());
  }
  if (program.size() < size) {
    std::fprintf(stderr, "not enough machine code on this system\n");
    std::exit(2);
  }
  return program;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Series {
  explicit Series(const char* n) : name(n) {}
  const char* name;
  std::vector<double> seconds;
  std::vector<double> cpuSeconds;
  long peakRssKiB = 0;
  void Add(const Sample& s) {
    seconds.push_back(s.seconds);
    cpuSeconds.push_back(s.cpuSeconds);
    peakRssKiB = std::max(peakRssKiB, s.maxRssKiB);
  }
};

class Bench {
 public:
  // The payload is built in a child process: a child's peak RSS starts from
  // that of the process it was forked from, so this one must stay small.
  Bench() : archivePath_(work_ / "payload.zip"), installer_(work_ / "quorvane-installer") {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      std::string program = MachineCodeProgram(testing::kShippedExecutableSize);
      std::string archive = testing::BuildZip(testing::ShippedLikeMembers(program));
      testing::WriteFile(archivePath_, archive);
      testing::PackInstaller(work_.path(), archive);
      _exit(0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || status != 0) {
      std::fprintf(stderr, "cannot build the payload\n");
      std::exit(2);
    }
    struct stat st;
    stat(archivePath_.c_str(), &st);
    archiveSize_ = static_cast<size_t>(st.st_size);
  }

  size_t archiveSize() const { return archiveSize_; }

  Sample Installer(int round, bool keep) {
    std::string dir = Fresh("installer", round);
    std::vector<std::string> argv = {installer_, "--temp-dir", dir + "/tmp", "--debug-dir",
                                     dir + "/debug"};
    if (keep) argv.push_back("--no-delete");
    Sample s = Spawn(argv, {"TMPDIR=" + dir + "/tmp", "PATH=/usr/bin:/bin"}, dir);
    Check(s, "installer");
    std::string log = testing::ReadFile(dir + "/debug/Quorvane_i.log");
    if (log.find("[ERROR]") != std::string::npos) {
      std::fprintf(stderr, "installer logged an error:\n%s", log.c_str());
      std::exit(1);
    }
    testing::RemoveTree(dir);
    return s;
  }

  Sample Floor(int round) {
    std::string dir = Fresh("floor", round);
    Sample s = Spawn({QUORVANE_BENCH_FLOOR, archivePath_, dir + "/out"}, {"PATH=/usr/bin:/bin"},
                     dir);
    Check(s, "floor");
    testing::RemoveTree(dir);
    return s;
  }

  Sample Tools(int round) {
    std::string dir = Fresh("tools", round);
    const char* script =
        "unzip -qo \"$1\" -d \"$2\" && cd \"$2/amd64\" && sha256sum -c --quiet checksums.txt && "
        "cd ../licenses && sha256sum -c --quiet checksums.txt";
    Sample s = Spawn({"/bin/sh", "-c", script, "sh", archivePath_, dir + "/out"},
                     {"PATH=/usr/bin:/bin"}, dir);
    Check(s, "unzip + sha256sum");
    testing::RemoveTree(dir);
    return s;
  }

 private:
  std::string Fresh(const char* what, int round) {
    std::string dir = work_ / (std::string(what) + std::to_string(round));
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/tmp").c_str(), 0755);
    mkdir((dir + "/debug").c_str(), 0755);
    return dir;
  }

  testing::ScratchDir work_;
  std::string archivePath_, installer_;
  size_t archiveSize_ = 0;
};

int Main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
  if (rounds < 1) rounds = 1;
  Bench bench;
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  std::printf("benchmark process peak RSS: %.1f MiB (a child's figure includes what it\n"
              "  shared with this process between fork and exec)\n",
              static_cast<double>(self.ru_maxrss) / 1024);
  std::printf("archive: %zu bytes (executable %zu bytes, library %zu bytes, 30 licence texts)\n",
              bench.archiveSize(), testing::kShippedExecutableSize, testing::kShippedLibrarySize);

  Series full("installer"), keep("installer-keep"), tools("unzip+sha256sum"), floor("floor");
  std::vector<double> ratioFloor, ratioTools, ratioKeep, ratioCpu;
  for (int round = 0; round <= rounds; ++round) {
    // Turns change each round, so that no one always runs on a cache the
    // previous run warmed.
    Sample a, b, c, f;
    if (round % 2 == 0) {
      a = bench.Installer(round, false);
      f = bench.Floor(round);
      b = bench.Installer(round, true);
      c = bench.Tools(round);
    } else {
      c = bench.Tools(round);
      b = bench.Installer(round, true);
      f = bench.Floor(round);
      a = bench.Installer(round, false);
    }
    if (round == 0) continue;  // warm-up
    full.Add(a);
    keep.Add(b);
    tools.Add(c);
    floor.Add(f);
    ratioFloor.push_back(a.seconds / f.seconds);
    ratioTools.push_back(a.seconds / c.seconds);
    ratioKeep.push_back(b.seconds / c.seconds);
    ratioCpu.push_back(a.cpuSeconds / f.cpuSeconds);
    std::printf("round %d: installer %.1f ms, installer-keep %.1f ms, floor %.1f ms, "
                "unzip+sha256sum %.1f ms\n",
                round, a.seconds * 1e3, b.seconds * 1e3, f.seconds * 1e3, c.seconds * 1e3);
  }

  for (const Series* s : {&full, &keep, &floor, &tools}) {
    std::printf("%-16s median %7.1f ms wall, %7.1f ms CPU   peak RSS %6.1f MiB\n", s->name,
                Median(s->seconds) * 1e3, Median(s->cpuSeconds) * 1e3,
                static_cast<double>(s->peakRssKiB) / 1024);
  }
  double limitMiB = static_cast<double>(bench.archiveSize()) / (1 << 20) + 8;
  double ratio = Median(ratioFloor);
  std::printf("median ratio installer / floor: %.2f (CPU time %.2f); aim <= 1.10\n", ratio,
              Median(ratioCpu));
  std::printf("median ratio installer / unzip+sha256sum: %.2f (without deletion %.2f)\n",
              Median(ratioTools), Median(ratioKeep));
  std::printf("installer peak RSS %.1f MiB; aim <= archive + 8 MiB = %.1f MiB\n",
              static_cast<double>(full.peakRssKiB) / 1024, limitMiB);
  bool met = ratio <= 1.1 && static_cast<double>(full.peakRssKiB) / 1024 <= limitMiB;
  std::printf("%s\n", met ? "aim met" : "aim missed");
  return met ? 0 : 3;
}

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) { return quorvane::Main(argc, argv); }
