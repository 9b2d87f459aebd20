/* Starts a program and reports, on one line:
 *   <CLOCK_MONOTONIC ns just before the spawn> <ns at its end> <ru_maxrss KiB> <exit status>
 * The program is killed after a time limit so that a stuck run cannot stall the benchmark. */
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

static volatile pid_t child = -1;

static void on_alarm(int sig) {
  (void)sig;
  if (child > 0) kill(child, SIGKILL);
}

static long long now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s <limit seconds> <program> [args...]\n", argv[0]);
    return 2;
  }
  const unsigned limit = (unsigned)atoi(argv[1]);
  struct sigaction sa = {0};
  sa.sa_handler = on_alarm;
  sigaction(SIGALRM, &sa, NULL);

  pid_t pid;
  const long long start = now_ns();
  const int rc = posix_spawn(&pid, argv[2], NULL, NULL, argv + 2, environ);
  if (rc != 0) {
    fprintf(stderr, "timer: cannot start %s: %d\n", argv[2], rc);
    return 2;
  }
  child = pid;
  alarm(limit);

  int status = 0;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return 2;
  }
  const long long end = now_ns();
  alarm(0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  printf("%lld %lld %ld %d\n", start, end, usage.ru_maxrss, code);
  return 0;
}
