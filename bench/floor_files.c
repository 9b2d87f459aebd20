/* The floor of the work any launcher of this kind must do before the browser: a static C
 * program that finds its own folder, takes a lock in the same private folder as CompanyMain
 * (files of its own names), reads the two files of Config/ beside itself, then starts the
 * browser. No display check, no parsing, no encodings. */
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

extern char **environ;

static void read_file(const char *folder, const char *name) {
  char path[PATH_MAX], buffer[65536];
  snprintf(path, sizeof path, "%sConfig/%s", folder, name);
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
  close(fd);
}

int main(void) {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return 1;
  exe[n] = '\0';
  strrchr(exe, '/')[1] = '\0';

  char folder[64];
  snprintf(folder, sizeof folder, "/run/user/%u", (unsigned)geteuid());
  int directory = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) {
    snprintf(folder, sizeof folder, "/tmp/CompanyMain-%u", (unsigned)geteuid());
    mkdir(folder, 0700);
    directory = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  const int guard = openat(directory, "floor.guard", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  flock(guard, LOCK_EX);
  const int presence = openat(directory, "floor.presence", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  flock(presence, LOCK_EX | LOCK_NB);

  read_file(exe, "Company.ini");
  read_file(exe, "Config.ini");

  char program[] = "xdg-open";
  char address[] = "http://127.0.0.1/company";
  char *argv[] = {program, address, 0};
  pid_t pid;
  return posix_spawnp(&pid, program, 0, 0, argv, environ) == 0 ? 0 : 1;
}
