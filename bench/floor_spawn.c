/* The lowest possible floor: a static program that only starts the browser and ends. */
#include <spawn.h>

extern char **environ;

int main(void) {
  char program[] = "xdg-open";
  char address[] = "http://127.0.0.1/company";
  char *argv[] = {program, address, 0};
  pid_t pid;
  return posix_spawnp(&pid, program, 0, 0, argv, environ) == 0 ? 0 : 1;
}
