// Preloaded into the installer by a test: plays another user who wins the
// race for a directory. When the installer calls mkdir on the path named by
// QV_RACE_DIR, or mkdirat on its last element in the directory above it,
// the directory is first made here and given to user and group
// 65534, and the installer's call then finds it there (EEXIST).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

// Whether name in dirfd is the directory QV_RACE_DIR names: its last element
// in the directory above it.
static int IsRaceEntry(int dirfd, const char* name, const char* race) {
  const char* slash = strrchr(race, '/');
  if (slash == NULL || strcmp(name, slash + 1) != 0) return 0;
  char parent[4096];
  size_t len = (size_t)(slash - race);
  if (len == 0 || len >= sizeof parent) return 0;
  memcpy(parent, race, len);
  parent[len] = '\0';
  struct stat want, got;
  return stat(parent, &want) == 0 && fstat(dirfd, &got) == 0 && want.st_dev == got.st_dev &&
         want.st_ino == got.st_ino;
}

int mkdirat(int dirfd, const char* name, mode_t mode) {
  int (*real)(int, const char*, mode_t) =
      (int (*)(int, const char*, mode_t))dlsym(RTLD_NEXT, "mkdirat");
  const char* race = getenv("QV_RACE_DIR");
  if (race != NULL && IsRaceEntry(dirfd, name, race) && real(dirfd, name, 0755) == 0) {
    if (fchownat(dirfd, name, 65534, 65534, 0) != 0) return -1;
    errno = EEXIST;
    return -1;
  }
  return real(dirfd, name, mode);
}

int mkdir(const char* path, mode_t mode) {
  int (*real)(const char*, mode_t) = (int (*)(const char*, mode_t))dlsym(RTLD_NEXT, "mkdir");
  const char* race = getenv("QV_RACE_DIR");
  if (race != NULL && strcmp(path, race) == 0 && real(path, 0755) == 0) {
    if (chown(path, 65534, 65534) != 0) return -1;
    errno = EEXIST;
    return -1;
  }
  return real(path, mode);
}
