// Preloaded into the installer by a test: plays another user who, once the
// payload has been extracted and just before it is started, renames the
// install directory (QV_SWAP_DIR/quorvane_*) to QV_SWAP_DIR/moved and puts a
// look-alike at its old name: a directory holding an executable "quorvane"
// that records "lookalike" into $QV_PROBE/lookalike. The moment is the first
// pipe2 call (the pipes of the payload's start) at which the extracted
// payload is there. The payload does not inherit the library.
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int done;

__attribute__((constructor)) static void Init(void) { unsetenv("LD_PRELOAD"); }

static const char kLookalike[] =
    "#!/bin/sh\n"
    "echo lookalike > \"$QV_PROBE/lookalike\"\n"
    "exit 0\n";

static void Swap(const char* temp) {
  DIR* d = opendir(temp);
  if (d == NULL) return;
  char old_path[4096] = "";
  for (struct dirent* e = readdir(d); e != NULL; e = readdir(d)) {
    if (strncmp(e->d_name, "quorvane_", 9) == 0) {
      snprintf(old_path, sizeof old_path, "%s/%s", temp, e->d_name);
      break;
    }
  }
  closedir(d);
  char path[4200], moved[4200];
  snprintf(path, sizeof path, "%s/quorvane", old_path);
  if (old_path[0] == '\0' || access(path, F_OK) != 0) return;
  done = 1;
  snprintf(moved, sizeof moved, "%s/moved", temp);
  if (rename(old_path, moved) != 0 || mkdir(old_path, 0755) != 0) return;
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
  if (fd < 0) return;
  if (write(fd, kLookalike, sizeof kLookalike - 1) < 0) {
  }
  close(fd);
  chmod(path, 0755);
}

int pipe2(int fds[2], int flags) {
  const char* temp = getenv("QV_SWAP_DIR");
  if (!done && temp != NULL) Swap(temp);
  return ((int (*)(int[2], int))dlsym(RTLD_NEXT, "pipe2"))(fds, flags);
}
