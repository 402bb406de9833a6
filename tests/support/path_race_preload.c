// Preloaded into the installer by a test: plays another user (65534) who
// makes the directory named by QV_RACE_DIR at the worst moment. It counts the
// installer's calls that name that directory: by its path (stat, open,
// mkdir, ...; or an *at call with AT_FDCWD), or by its last element relative
// to a descriptor of its parent (openat, fstatat, mkdirat, ...). Just before
// the QV_RACE_K-th such call the directory is made (mode 0755, owner and
// group 65534), then the call goes on. After every counted call the count so
// far is written to the file QV_RACE_COUNT. Only the process that loaded the
// library counts (not a child between fork and exec), and the payload does
// not inherit it.
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

static char race_dir[4096];
static const char* race_name;  // the last element of race_dir
static struct stat parent_st;
static int have_parent;
static long race_k;
static long calls;
static pid_t owner_pid;

__attribute__((constructor)) static void Init(void) {
  const char* dir = getenv("QV_RACE_DIR");
  const char* k = getenv("QV_RACE_K");
  unsetenv("LD_PRELOAD");
  if (dir == NULL || k == NULL || strlen(dir) >= sizeof(race_dir)) return;
  strcpy(race_dir, dir);
  char* slash = strrchr(race_dir, '/');
  if (slash == NULL || slash == race_dir) return;
  race_name = slash + 1;
  *slash = '\0';
  have_parent = syscall(SYS_newfstatat, AT_FDCWD, race_dir, &parent_st, 0) == 0;
  *slash = '/';
  race_k = strtol(k, NULL, 10);
  owner_pid = (pid_t)syscall(SYS_getpid);
}

static void WriteCount(void) {
  const char* path = getenv("QV_RACE_COUNT");
  if (path == NULL) return;
  char text[32];
  int n = snprintf(text, sizeof text, "%ld\n", calls);
  int fd = (int)syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (syscall(SYS_write, fd, text, (size_t)n) < 0) {
  }
  syscall(SYS_close, fd);
}

// Counts the call and, when it is the chosen one, makes the directory first.
static void Note(void) {
  if ((pid_t)syscall(SYS_getpid) != owner_pid) return;
  if (++calls == race_k && syscall(SYS_mkdirat, AT_FDCWD, race_dir, 0755) == 0) {
    syscall(SYS_fchmodat, AT_FDCWD, race_dir, 0755);
    syscall(SYS_fchownat, AT_FDCWD, race_dir, 65534, 65534, AT_SYMLINK_NOFOLLOW);
  }
  WriteCount();
}

static void NotePath(const char* path) {
  if (race_name != NULL && path != NULL && strcmp(path, race_dir) == 0) Note();
}

static void NoteAt(int dirfd, const char* name) {
  if (race_name == NULL || name == NULL) return;
  if (dirfd == AT_FDCWD || name[0] == '/') {
    NotePath(name);
    return;
  }
  struct stat st;
  if (have_parent && strcmp(name, race_name) == 0 && syscall(SYS_fstat, dirfd, &st) == 0 &&
      st.st_dev == parent_st.st_dev && st.st_ino == parent_st.st_ino) {
    Note();
  }
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

// A mode argument is there only when the flags create a file.
#define MODE_ARG(flags, mode)                                    \
  do {                                                           \
    if (((flags)&O_CREAT) || ((flags)&O_TMPFILE) == O_TMPFILE) { \
      va_list ap;                                                \
      va_start(ap, flags);                                       \
      mode = va_arg(ap, mode_t);                                 \
      va_end(ap);                                                \
    }                                                            \
  } while (0)

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  MODE_ARG(flags, mode);
  NotePath(path);
  return REAL(open)(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  MODE_ARG(flags, mode);
  NotePath(path);
  return REAL(open64)(path, flags, mode);
}

int __open_2(const char* path, int flags) {
  NotePath(path);
  return REAL(open)(path, flags);
}

int __open64_2(const char* path, int flags) {
  NotePath(path);
  return REAL(open64)(path, flags);
}

int openat(int dirfd, const char* name, int flags, ...) {
  mode_t mode = 0;
  MODE_ARG(flags, mode);
  NoteAt(dirfd, name);
  return REAL(openat)(dirfd, name, flags, mode);
}

int openat64(int dirfd, const char* name, int flags, ...) {
  mode_t mode = 0;
  MODE_ARG(flags, mode);
  NoteAt(dirfd, name);
  return REAL(openat64)(dirfd, name, flags, mode);
}

int __openat_2(int dirfd, const char* name, int flags) {
  NoteAt(dirfd, name);
  return REAL(openat)(dirfd, name, flags);
}

int __openat64_2(int dirfd, const char* name, int flags) {
  NoteAt(dirfd, name);
  return REAL(openat64)(dirfd, name, flags);
}

FILE* fopen(const char* path, const char* how) {
  NotePath(path);
  return REAL(fopen)(path, how);
}

FILE* fopen64(const char* path, const char* how) {
  NotePath(path);
  return REAL(fopen64)(path, how);
}

DIR* opendir(const char* path) {
  NotePath(path);
  return REAL(opendir)(path);
}

int stat(const char* path, struct stat* st) {
  NotePath(path);
  return REAL(stat)(path, st);
}

int stat64(const char* path, struct stat64* st) {
  NotePath(path);
  return REAL(stat64)(path, st);
}

int lstat(const char* path, struct stat* st) {
  NotePath(path);
  return REAL(lstat)(path, st);
}

int lstat64(const char* path, struct stat64* st) {
  NotePath(path);
  return REAL(lstat64)(path, st);
}

int fstatat(int dirfd, const char* name, struct stat* st, int flags) {
  NoteAt(dirfd, name);
  return REAL(fstatat)(dirfd, name, st, flags);
}

int fstatat64(int dirfd, const char* name, struct stat64* st, int flags) {
  NoteAt(dirfd, name);
  return REAL(fstatat64)(dirfd, name, st, flags);
}

int statx(int dirfd, const char* name, int flags, unsigned int mask, struct statx* st) {
  NoteAt(dirfd, name);
  return REAL(statx)(dirfd, name, flags, mask, st);
}

int statvfs(const char* path, struct statvfs* st) {
  NotePath(path);
  return REAL(statvfs)(path, st);
}

int statvfs64(const char* path, struct statvfs64* st) {
  NotePath(path);
  return REAL(statvfs64)(path, st);
}

int access(const char* path, int how) {
  NotePath(path);
  return REAL(access)(path, how);
}

int faccessat(int dirfd, const char* name, int how, int flags) {
  NoteAt(dirfd, name);
  return REAL(faccessat)(dirfd, name, how, flags);
}

int mkdir(const char* path, mode_t mode) {
  NotePath(path);
  return REAL(mkdir)(path, mode);
}

int mkdirat(int dirfd, const char* name, mode_t mode) {
  NoteAt(dirfd, name);
  return REAL(mkdirat)(dirfd, name, mode);
}

int chdir(const char* path) {
  NotePath(path);
  return REAL(chdir)(path);
}

int chmod(const char* path, mode_t mode) {
  NotePath(path);
  return REAL(chmod)(path, mode);
}

int fchmodat(int dirfd, const char* name, mode_t mode, int flags) {
  NoteAt(dirfd, name);
  return REAL(fchmodat)(dirfd, name, mode, flags);
}

ssize_t readlink(const char* path, char* buf, size_t size) {
  NotePath(path);
  return REAL(readlink)(path, buf, size);
}

ssize_t readlinkat(int dirfd, const char* name, char* buf, size_t size) {
  NoteAt(dirfd, name);
  return REAL(readlinkat)(dirfd, name, buf, size);
}

char* realpath(const char* path, char* resolved) {
  NotePath(path);
  return REAL(realpath)(path, resolved);
}

int rmdir(const char* path) {
  NotePath(path);
  return REAL(rmdir)(path);
}

int unlink(const char* path) {
  NotePath(path);
  return REAL(unlink)(path);
}

int unlinkat(int dirfd, const char* name, int flags) {
  NoteAt(dirfd, name);
  return REAL(unlinkat)(dirfd, name, flags);
}
