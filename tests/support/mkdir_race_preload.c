// Preloaded into the installer by a test: plays another user who wins the
// race for a directory. When the installer creates the directory named by
// QV_RACE_DIR (mkdir with that path, or mkdirat with its last element in a
// descriptor of its parent), the directory is first made here and given to
// user and group 65534, and the installer's call then finds it there
// (EEXIST).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

// Makes the directory as the other user; 0 when it was made here, and then
// errno is EEXIST for the installer's call.
static int MakeFirst(const char* race) {
  if (syscall(SYS_mkdirat, AT_FDCWD, race, 0755) != 0) return -1;
  if (chown(race, 65534, 65534) != 0) return -1;
  errno = EEXIST;
  return 0;
}

int mkdir(const char* path, mode_t mode) {
  int (*real)(const char*, mode_t) = (int (*)(const char*, mode_t))dlsym(RTLD_NEXT, "mkdir");
  const char* race = getenv("QV_RACE_DIR");
  if (race != NULL && strcmp(path, race) == 0 && MakeFirst(race) == 0) return -1;
  return real(path, mode);
}

int mkdirat(int dirfd, const char* name, mode_t mode) {
  int (*real)(int, const char*, mode_t) =
      (int (*)(int, const char*, mode_t))dlsym(RTLD_NEXT, "mkdirat");
  const char* race = getenv("QV_RACE_DIR");
  const char* last = race == NULL ? NULL : strrchr(race, '/');
  if (last != NULL && last != race && strcmp(name, last + 1) == 0) {
    char parent[4096];
    struct stat want, got;
    size_t n = (size_t)(last - race);
    if (n < sizeof parent) {
      memcpy(parent, race, n);
      parent[n] = '\0';
      if (stat(parent, &want) == 0 && fstat(dirfd, &got) == 0 && want.st_dev == got.st_dev &&
          want.st_ino == got.st_ino && MakeFirst(race) == 0) {
        return -1;
      }
    }
  }
  return real(dirfd, name, mode);
}
