// Preloaded into the installer by a test: plays another user who wins the
// race for a directory. When the installer calls mkdir on the path named by
// QV_RACE_DIR, the directory is first made here and given to user and group
// 65534, and the installer's call then finds it there (EEXIST).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

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
