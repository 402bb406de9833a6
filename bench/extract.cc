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
// Then, the scaling figures: one run of the installer over archives of
// 1,000 to 65,535 small members, all listed in one checksum list.
//
// usage: extract [rounds]   (default 9)
//        extract scaling    (the scaling figures only)
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/installer_fixture.h"
#include "support/payload_fixture.h"
#include "support/shipped_payload.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

using Sample = test::ProcessResult;

// Runs argv with exactly env in cwd through the tests' process runner; its
// output is collected and dropped. The installer runs through the sandbox.
Sample Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& cwd) {
  return test::RunProcess({argv[0], argv, env, cwd, {}});
}

// Runs installer in the sandbox s with args, exactly TMPDIR=$dir/tmp and the
// system's search path, in dir.
test::InstallerRun RunInstaller(const test::InstallerSandbox& s, const std::string& installer,
                                const std::vector<std::string>& args, const std::string& dir) {
  test::RunOptions options;
  options.env = std::vector<std::string>{"TMPDIR=" + dir + "/tmp", "PATH=/usr/bin:/bin"};
  options.cwd = dir;
  return s.RunInstaller(installer, args, options);
}

void Check(const Sample& s, const char* what) {
  if (s.exit_status != 0) {
    std::fprintf(stderr, "%s failed (wait status %d)\n%s", what, s.wait_status, s.err.c_str());
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
    std::string bytes = test::ReadFile(f);
    if (bytes.compare(0, 4,
                      "\x7f"
                      "ELF") != 0)
      continue;
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
  std::vector<double> cpu_seconds;
  long peak_rss_kib = 0;
  void Add(const Sample& s) {
    seconds.push_back(s.seconds);
    cpu_seconds.push_back(s.cpu_seconds);
    peak_rss_kib = std::max(peak_rss_kib, s.max_rss_kib);
  }
};

class Bench {
 public:
  // The payload is built in a child process: a child's peak RSS starts from
  // that of the process it was forked from, so this one must stay small.
  Bench() : archive_path_(work_ / "payload.zip"), installer_(work_ / "quorvane-installer") {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      std::string program = MachineCodeProgram(test::kShippedExecutableSize);
      std::string archive = test::BuildZip(test::ShippedLikeMembers(program));
      test::WriteFile(archive_path_, archive);
      work_.PackArchive(archive, work_.path());
      _exit(0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || status != 0) {
      std::fprintf(stderr, "cannot build the payload\n");
      std::exit(2);
    }
    struct stat st;
    stat(archive_path_.c_str(), &st);
    archive_size_ = static_cast<size_t>(st.st_size);
  }

  size_t archive_size() const { return archive_size_; }

  Sample Installer(int round, bool keep) {
    std::string dir = Fresh("installer", round);
    std::vector<std::string> args = {"--temp-dir", dir + "/tmp", "--debug-dir", dir + "/debug"};
    if (keep) args.push_back("--no-delete");
    test::InstallerRun r = RunInstaller(work_, installer_, args, dir);
    Check(r, "installer");
    if (r.log.find("[ERROR]") != std::string::npos) {
      std::fprintf(stderr, "installer logged an error:\n%s", r.log.c_str());
      std::exit(1);
    }
    test::RemoveTree(dir);
    return r;
  }

  Sample Floor(int round) {
    std::string dir = Fresh("floor", round);
    Sample s =
        Spawn({QUORVANE_BENCH_FLOOR, archive_path_, dir + "/out"}, {"PATH=/usr/bin:/bin"}, dir);
    Check(s, "floor");
    test::RemoveTree(dir);
    return s;
  }

  Sample Tools(int round) {
    std::string dir = Fresh("tools", round);
    const char* script =
        "unzip -qo \"$1\" -d \"$2\" && cd \"$2/amd64\" && sha256sum -c --quiet checksums.txt && "
        "cd ../licenses && sha256sum -c --quiet checksums.txt";
    Sample s = Spawn({"/bin/sh", "-c", script, "sh", archive_path_, dir + "/out"},
                     {"PATH=/usr/bin:/bin"}, dir);
    Check(s, "unzip + sha256sum");
    test::RemoveTree(dir);
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

  test::InstallerSandbox work_{test::Words{}};
  std::string archive_path_, installer_;
  size_t archive_size_ = 0;
};

// The usual payload with count more small files beside the program, each
// listed in amd64/checksums.txt after the program's lines.
std::string ManyMembersArchive(size_t count) {
  std::vector<test::ZipMember> members = test::StandardPayloadMembers("#!/bin/sh\nexit 0\n");
  std::vector<std::pair<std::string, std::string>> listed = {
      {"quorvane.so", test::kStandardLibrary}, {"quorvane", "#!/bin/sh\nexit 0\n"}};
  std::vector<test::ZipMember> extra;
  for (size_t i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05zu", i);
    listed.emplace_back(name, std::string(name) + "\n");
    extra.push_back(test::FileMember(std::string("amd64/") + name, listed.back().second));
    extra.back().deflate = false;
  }
  members[4].content = test::ChecksumListText(listed);  // amd64/checksums.txt
  members.insert(members.begin() + 4, extra.begin(), extra.end());
  return test::BuildZip(members);
}

// Scaling with the number of members, up to the most an archive without
// ZIP64 holds (65,535 with the 7 of the usual payload): one run of the
// installer each, the archive built in a child so that this process stays
// small.
void Scaling() {
  std::printf("scaling with the number of members (one run each):\n");
  for (size_t members : {size_t{1000}, size_t{10000}, size_t{30000}, size_t{65535}}) {
    test::InstallerSandbox work{{"tmp", "debug"}};
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      work.PackArchive(ManyMembersArchive(members - 7), work.path());
      _exit(0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || status != 0) {
      std::fprintf(stderr, "cannot build the archive of %zu members\n", members);
      std::exit(2);
    }
    const std::string dir = work.path();
    Sample s = RunInstaller(work, dir + "/quorvane-installer",
                            {"--temp-dir", dir + "/tmp", "--debug-dir", dir + "/debug"}, dir);
    Check(s, "installer");
    std::printf("  %6zu members: %8.1f ms wall, %8.1f ms CPU, peak RSS %6.1f MiB\n", members,
                s.seconds * 1e3, s.cpu_seconds * 1e3, static_cast<double>(s.max_rss_kib) / 1024);
  }
}

int Main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "scaling") {
    Scaling();
    return 0;
  }
  int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
  if (rounds < 1) rounds = 1;
  Bench bench;
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  std::printf(
      "benchmark process peak RSS: %.1f MiB (a child's figure includes what it\n"
      "  shared with this process between fork and exec)\n",
      static_cast<double>(self.ru_maxrss) / 1024);
  std::printf("archive: %zu bytes (executable %zu bytes, library %zu bytes, 30 licence texts)\n",
              bench.archive_size(), test::kShippedExecutableSize, test::kShippedLibrarySize);

  Series full("installer"), keep("installer-keep"), tools("unzip+sha256sum"), floor("floor");
  std::vector<double> ratio_floor, ratio_tools, ratio_keep, ratio_cpu;
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
    ratio_floor.push_back(a.seconds / f.seconds);
    ratio_tools.push_back(a.seconds / c.seconds);
    ratio_keep.push_back(b.seconds / c.seconds);
    ratio_cpu.push_back(a.cpu_seconds / f.cpu_seconds);
    std::printf(
        "round %d: installer %.1f ms, installer-keep %.1f ms, floor %.1f ms, "
        "unzip+sha256sum %.1f ms\n",
        round, a.seconds * 1e3, b.seconds * 1e3, f.seconds * 1e3, c.seconds * 1e3);
  }

  for (const Series* s : {&full, &keep, &floor, &tools}) {
    std::printf("%-16s median %7.1f ms wall, %7.1f ms CPU   peak RSS %6.1f MiB\n", s->name,
                Median(s->seconds) * 1e3, Median(s->cpu_seconds) * 1e3,
                static_cast<double>(s->peak_rss_kib) / 1024);
  }
  double limit_mib = static_cast<double>(bench.archive_size()) / (1 << 20) + 8;
  double ratio = Median(ratio_floor);
  std::printf("median ratio installer / floor: %.2f (CPU time %.2f); aim <= 1.10\n", ratio,
              Median(ratio_cpu));
  std::printf("median ratio installer / unzip+sha256sum: %.2f (without deletion %.2f)\n",
              Median(ratio_tools), Median(ratio_keep));
  std::printf("installer peak RSS %.1f MiB; aim <= archive + 8 MiB = %.1f MiB\n",
              static_cast<double>(full.peak_rss_kib) / 1024, limit_mib);
  bool met = ratio <= 1.1 && static_cast<double>(full.peak_rss_kib) / 1024 <= limit_mib;
  std::printf("%s\n", met ? "aim met" : "aim missed");
  Scaling();
  return met ? 0 : 3;
}

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) { return quorvane::Main(argc, argv); }
