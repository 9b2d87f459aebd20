/* Stands in for xdg-open: appends "<CLOCK_MONOTONIC ns at entry> <first argument>" to the
 * file named by BENCH_STAMP, and ends. Linked statically so its own start costs little. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const char *path = getenv("BENCH_STAMP");
  if (path == NULL) return 1;
  char line[4096];
  int n = snprintf(line, sizeof line, "%lld %s\n",
                   (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec, argc > 1 ? argv[1] : "");
  if (n < 0) return 1;
  if ((size_t)n >= sizeof line) { n = sizeof line - 1; line[n - 1] = '\n'; }
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return 1;
  const ssize_t written = write(fd, line, (size_t)n);
  close(fd);
  return written == n ? 0 : 1;
}
