// SPDX-License-Identifier: Apache-2.0
/* Preloaded into a program under test (LD_PRELOAD), makes every fsync and fdatasync take 100 ms
 * longer: a slow disk, for the tests of what readers see while a save is under way. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <time.h>

static void Pause(void) {
  struct timespec delay = {0, 100 * 1000 * 1000};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

int fsync(int fd) {
  static int (*real)(int);
  if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
  Pause();
  return real(fd);
}

int fdatasync(int fd) {
  static int (*real)(int);
  if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
  Pause();
  return real(fd);
}
