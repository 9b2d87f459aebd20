#include "settings/SettingsWriter_qt.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QEventLoop>
#include <QMetaObject>
#include <cerrno>
#include <string_view>
#include <thread>
#include <vector>

#include "common/File_linux.h"

extern char** environ;

namespace {

// pkexec by its full path: a search of PATH (where an empty entry is the working folder) would
// run whatever the user's session put first, and give it the JSON meant for the tool.
constexpr const char* kPkexec = "/usr/bin/pkexec";

// Runs the program with the input on its standard input and waits for it to end; its exit
// code (-1 when it could not start or was ended by a signal) and what it wrote.
TSettingsWrite RunWithInput(const std::vector<std::string>& args, std::string_view input) {
  TSettingsWrite write;
  write.code = -1;
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0) return write;
  TUniqueFd inRead(in[0]), inWrite(in[1]);
  if (pipe2(out, O_CLOEXEC) != 0) return write;
  TUniqueFd outRead(out[0]), outWrite(out[1]);
  if (pipe2(err, O_CLOEXEC) != 0) return write;
  TUniqueFd errRead(err[0]), errWrite(err[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inRead.Get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), STDERR_FILENO);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return write;
  inRead.Reset();
  outWrite.Reset();
  errWrite.Reset();

  // The tool reads all of its input before it writes anything, and pkexec writes a line at
  // most before it ends: the input goes first. One that ends without reading it (pkexec
  // refused) gives EPIPE, not SIGPIPE (ignored by the program).
  while (!input.empty()) {
    const ssize_t n = ::write(inWrite.Get(), input.data(), input.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    input.remove_prefix(static_cast<std::size_t>(n));
  }
  inWrite.Reset();
  pollfd fds[2] = {{outRead.Get(), POLLIN, 0}, {errRead.Get(), POLLIN, 0}};
  std::string* texts[2] = {&write.out, &write.err};
  for (int open = 2; open > 0;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        fds[i].fd = -1;
        --open;
      } else {
        texts[i]->append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) write.code = WEXITSTATUS(status);
  return write;
}

}  // namespace

TSettingsWrite TPkexecSettingsWriter::Write(const std::string& json) {
  if (access(kPkexec, X_OK) != 0) {
    return {TSettingsWrite::Kind::Unavailable, kToolWriteFailed, {}, {}};
  }
  // Waited for on a thread of its own: the window goes on drawing itself while polkit's agent
  // asks for the password, however long that takes.
  TSettingsWrite write;
  QEventLoop loop;
  std::thread running([&] {
    write = RunWithInput({kPkexec, tool_, "--json", "--values-from", "-", "set"}, json);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  running.join();
  // pkexec's own exit codes: the dialog dismissed, or no authorization.
  if (write.code == 126) write.kind = TSettingsWrite::Kind::Cancelled;
  if (write.code == 127) write.kind = TSettingsWrite::Kind::NotAuthorized;
  return write;
}
