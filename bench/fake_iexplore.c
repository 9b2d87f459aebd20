/* Stands in for IExplore.exe under Wine: appends "<CLOCK_MONOTONIC ns at entry> <command line>"
 * to the file named by BENCH_STAMP (a Unix path, reached through Wine's Z: drive).
 * The clock is read with the Linux system call itself, so it is the same clock the timer
 * reads (Wine's own performance counter may run on a different one). x86-64 only. */
#include <windows.h>

#include <stdio.h>

static long long linux_monotonic_ns(void) {
  struct { long long sec, nsec; } ts = {0, 0};
  long result;
  __asm__ volatile("syscall"
                   : "=a"(result)
                   : "0"(228L /* clock_gettime */), "D"(1L /* CLOCK_MONOTONIC */), "S"(&ts)
                   : "rcx", "r11", "memory");
  return result == 0 ? ts.sec * 1000000000LL + ts.nsec : -1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance; (void)previous; (void)commandLine; (void)show;
  const long long entry = linux_monotonic_ns();
  char unixPath[1024];
  const DWORD length = GetEnvironmentVariableA("BENCH_STAMP", unixPath, sizeof unixPath);
  if (length == 0 || length >= sizeof unixPath) return 1;
  char path[1100];
  snprintf(path, sizeof path, "Z:%s", unixPath);

  char args[8192];
  WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, args, sizeof args, NULL, NULL);
  args[sizeof args - 1] = '\0';
  char line[8300];
  const int n = snprintf(line, sizeof line, "%lld %s\n", entry, args);
  if (n < 0) return 1;

  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, line, (DWORD)(n < (int)sizeof line ? n : (int)sizeof line - 1), &written, NULL);
  CloseHandle(file);
  return 0;
}
