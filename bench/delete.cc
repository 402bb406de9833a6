// Times the deletion of the install directory against rm -rf of an identical
// tree, on trees of four shapes: 1,000, 3,000 and 10,000 levels deep (each
// level a directory "d" and a small file "f" beside it) and 100,000 files in
// one directory. Each round builds two identical trees of every shape, then
// deletes one with the installer's deletion and the other with rm -rf, in
// turns that change each round; the first round only warms the caches.
//
// What is timed, from fork to the end of wait4:
//   installer  a child of this process that calls deleteAll on the tree the
//              way the cleanup does (the tree as path and safe directory, 10
//              retries, 100 ms pause) with a discarding log, as in a run
//              without --debug-dir;
//   rm -rf     /bin/rm -rf on the other tree.
// Building the trees is not timed.
//
// usage: delete [rounds] [directory]   (default 9 rounds, in a scratch
//        directory of the tests; pass e.g. /dev/shm to measure on tmpfs)
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

#include "installer/deletion/delete_tree.h"
#include "installer/log/log.h"
#include "support/test_support.h"

namespace quorvane {
namespace {

constexpr int64_t kRetries = 10;
constexpr int64_t kRetryDelay = 100'000'000;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::exit(2);
}

// One shape of tree: depth levels of "d" with a file "f" each, or width
// files in one directory.
struct Shape {
  const char* name;
  int depth;
  int width;
};

void MakeFile(int dirfd, const char* name) {
  int fd = openat(dirfd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, "x\n", 2) != 2) Die(std::string("cannot create ") + name);
  close(fd);
}

void Build(const std::string& top, const Shape& shape) {
  if (mkdir(top.c_str(), 0700) != 0) Die("cannot create " + top);
  int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Die("cannot open " + top);
  for (int i = 0; i < shape.width; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%06d", i);
    MakeFile(fd, name);
  }
  for (int level = 0; level < shape.depth; ++level) {
    MakeFile(fd, "f");
    if (mkdirat(fd, "d", 0700) != 0) Die("cannot create a level of " + top);
    int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (next < 0) Die("cannot open a level of " + top);
    close(fd);
    fd = next;
  }
  close(fd);
}

double Now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs child in a forked process and returns the seconds from the fork to
// the end of its wait; the child's status must be 0.
template <typename Child>
double Timed(const char* what, Child child) {
  std::fflush(nullptr);
  double start = Now();
  pid_t pid = fork();
  if (pid < 0) Die("cannot fork");
  if (pid == 0) _exit(child());
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) Die("cannot wait");
  double seconds = Now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die(std::string(what) + " failed");
  return seconds;
}

double DeleteWithInstaller(const std::string& top) {
  return Timed("installer deletion", [&] {
    InstallerLog log;
    log.initInstallerLog(top + ".log", false);  // discards every line
    Status st = deleteAll(DeleteContext{log, DeleteOps{}}, top, top, kRetries, kRetryDelay);
    struct stat gone;
    return st.ok() && lstat(top.c_str(), &gone) != 0 ? 0 : 1;
  });
}

double DeleteWithRm(const std::string& top) {
  return Timed("rm -rf", [&] {
    execl("/bin/rm", "rm", "-rf", top.c_str(), static_cast<char*>(nullptr));
    return 127;
  });
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Figures {
  std::vector<double> installer, rm, ratio;
};

int Main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
  if (rounds < 1) rounds = 1;
  test::ScratchDir scratch;
  std::string base = scratch.path();
  if (argc > 2) {
    std::string pattern = std::string(argv[2]) + "/quorvane-bench-delete-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Die("cannot create a directory in " + pattern);
    base = pattern;
  }
  const std::vector<Shape> shapes = {{"1,000 levels deep", 1000, 0},
                                     {"3,000 levels deep", 3000, 0},
                                     {"10,000 levels deep", 10000, 0},
                                     {"100,000 files wide", 0, 100000}};
  std::vector<Figures> figures(shapes.size());
  std::printf("trees in %s; %d rounds after a warm-up round\n", base.c_str(), rounds);
  for (int round = 0; round <= rounds; ++round) {
    for (size_t i = 0; i < shapes.size(); ++i) {
      const std::string ours = base + "/installer-" + std::to_string(i);
      const std::string theirs = base + "/rm-" + std::to_string(i);
      Build(ours, shapes[i]);
      Build(theirs, shapes[i]);
      double a, b;
      if (round % 2 == 0) {
        a = DeleteWithInstaller(ours);
        b = DeleteWithRm(theirs);
      } else {
        b = DeleteWithRm(theirs);
        a = DeleteWithInstaller(ours);
      }
      if (round == 0) continue;  // warm-up
      figures[i].installer.push_back(a);
      figures[i].rm.push_back(b);
      figures[i].ratio.push_back(a / b);
    }
  }
  bool met = true;
  for (size_t i = 0; i < shapes.size(); ++i) {
    double ratio = Median(figures[i].ratio);
    met = met && ratio <= 1.5;
    std::printf("%-20s installer median %8.1f ms, rm -rf %8.1f ms, median ratio %.2f\n",
                shapes[i].name, Median(figures[i].installer) * 1e3, Median(figures[i].rm) * 1e3,
                ratio);
  }
  std::printf("aim: ratio <= 1.50 at every shape; %s\n", met ? "aim met" : "aim missed");
  if (base != scratch.path()) rmdir(base.c_str());
  return met ? 0 : 3;
}

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) { return quorvane::Main(argc, argv); }
