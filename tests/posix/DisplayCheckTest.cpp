// The display check against servers played in this process: what it says of sockets that
// speak, hang up or answer wrongly, and the session it names after the server that answered.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "launcher/Display_linux.h"

namespace {

// What a server does with each connection it accepts.
using Conversation = std::function<void(int connection)>;

// A listening Unix socket served on a thread of its own until the test ends.
class FakeServer {
 public:
  FakeServer(const std::string& path, Conversation talk) : path_(path) {
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    unlink(path.c_str());
    EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(listener_, 8), 0);
    thread_ = std::thread([this, talk] {
      for (;;) {
        const int connection = accept(listener_, nullptr, nullptr);
        if (connection < 0) return;
        talk(connection);
        close(connection);
      }
    });
  }
  ~FakeServer() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
    unlink(path_.c_str());
  }
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

 private:
  std::string path_;
  int listener_ = -1;
  std::thread thread_;
};

bool ReadAll(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = read(fd, bytes, size);
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void Write(int fd, const std::vector<std::uint32_t>& words) {
  const auto* bytes = reinterpret_cast<const char*>(words.data());
  ASSERT_EQ(write(fd, bytes, words.size() * 4), static_cast<ssize_t>(words.size() * 4));
}

// A compositor: takes wl_display.sync and answers with the events given, in the wire's format.
Conversation Compositor(std::vector<std::uint32_t> events) {
  return [events](int fd) {
    std::uint32_t sync[3] = {};
    if (!ReadAll(fd, sync, sizeof sync) || sync[0] != 1 || sync[1] != (12u << 16)) return;
    Write(fd, events);
  };
}

constexpr std::uint32_t Header(std::uint32_t size, std::uint32_t opcode) {
  return (size << 16) | opcode;
}

// An X server: reads the 12-byte setup request and answers with the reply given, after the
// delay given.
Conversation XServer(std::vector<char> reply,
                     std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
  return [reply, delay](int fd) {
    char request[12];
    if (!ReadAll(fd, request, sizeof request) || request[0] != 'l') return;
    std::this_thread::sleep_for(delay);
    // A client that gave up has hung up: a failure here, not a SIGPIPE for the whole test.
    ASSERT_EQ(send(fd, reply.data(), reply.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(reply.size()));
  };
}

std::vector<char> XReply(bool letIn, int screens) {
  std::vector<char> reply(32, 0);
  reply[0] = letIn ? 1 : 0;
  reply[28] = static_cast<char>(screens);
  return reply;
}

// This process, as the check names the server behind a socket it listens on.
std::string ThisProcessAsServer() {
  std::ifstream stat("/proc/self/stat");
  std::string text;
  std::getline(stat, text);
  std::istringstream fields(text.substr(text.rfind(')') + 1));
  std::string field;
  for (int i = 3; i <= 22; ++i) fields >> field;
  return "server-" + std::to_string(getpid()) + "-" + field;
}

class DisplayCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/companymain-display-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM"}) {
      unsetenv(name);
    }
    setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  void TearDown() override { rmdir(folder_.c_str()); }

  std::string folder_;
};

TEST_F(DisplayCheckTest, AWaylandSocketIsADisplayOnlyWhenItSpeaksWayland) {
  const std::uint32_t done[] = {2, Header(12, 0), 7};       // wl_callback.done(serial 7)
  const std::uint32_t deleted[] = {1, Header(12, 1), 2};    // wl_display.delete_id(2)
  const std::uint32_t error[] = {1, Header(16, 0), 1, 0};   // wl_display.error, no text
  const std::uint32_t global[] = {1, Header(16, 3), 5, 9};  // an event of no concern
  const struct {
    const char* what;
    std::vector<std::uint32_t> events;
    bool display;
  } cases[] = {
      {"the round trip is answered",
       {done[0], done[1], done[2], deleted[0], deleted[1], deleted[2]},
       true},
      {"other events come first",
       {global[0], global[1], global[2], global[3], done[0], done[1], done[2]},
       true},
      {"it accepts and hangs up", {}, false},
      {"a protocol error", {error[0], error[1], error[2], error[3]}, false},
      {"a size no Wayland message has", {2, Header(4, 0)}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = folder_ + "/wayland-test";
    const FakeServer server(path, Compositor(c.events));
    for (const std::string& name : {std::string("wayland-test"), path}) {
      setenv("WAYLAND_DISPLAY", name.c_str(), 1);
      const TDisplayCheck check = CheckDisplay();
      if (c.display) {
        EXPECT_EQ(check.problem, "") << name;
        EXPECT_EQ(check.session, ThisProcessAsServer()) << name;
      } else {
        EXPECT_NE(check.problem.find("cannot connect to Wayland display \"" + path + "\""),
                  std::string::npos)
            << check.problem;
        EXPECT_NE(check.problem.find("DISPLAY is not set"), std::string::npos) << check.problem;
      }
    }
  }
}

TEST_F(DisplayCheckTest, AnXServerIsADisplayWhenItAnswersTheSetup) {
  const struct {
    const char* what;
    std::vector<char> reply;
    const char* screen;
    bool display;
    std::chrono::milliseconds delay{0};
  } cases[] = {
      {"it asks for an authorization", XReply(false, 0), "0", true},
      {"it lets us in, screen 0 of 1", XReply(true, 1), "0", true},
      {"a screen it does not have", XReply(true, 1), "1", false},
      {"it hangs up", {}, "0", false},
      {"it says too little", {1, 0, 11}, "0", false},
      // Late but in time, as an X server started on demand or a slow remote one: a second
      // short of the 5 the check gives a display.
      {"it answers after 4 seconds", XReply(false, 0), "0", true, std::chrono::seconds(4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = folder_ + "/X-test";
    const FakeServer server(path, XServer(c.reply, c.delay));
    const std::string display = path + ":0." + c.screen;
    setenv("DISPLAY", display.c_str(), 1);
    const TDisplayCheck check = CheckDisplay();
    if (c.display) {
      EXPECT_EQ(check.problem, "");
      EXPECT_EQ(check.session, ThisProcessAsServer());
    } else {
      EXPECT_EQ(check.problem, "cannot connect to X display \"" + display + "\"");
    }
  }
}

TEST_F(DisplayCheckTest, QtsOrderDecidesWhichServerNamesTheSession) {
  // Both answer; only the one Qt would use names the session, and one that fails hands over
  // to the next. Both servers are this process here, so the order shows in the problems.
  const std::string wayland = folder_ + "/wayland-0";
  const std::string x = folder_ + "/X-order";
  const std::uint32_t done[] = {2, Header(12, 0), 1};
  const FakeServer compositor(wayland, Compositor({done[0], done[1], done[2]}));
  const FakeServer xServer(x, XServer(XReply(false, 0)));
  const struct {
    const char* what;
    std::vector<std::pair<const char*, std::string>> variables;
    bool display;
  } cases[] = {
      {"WAYLAND_DISPLAY and DISPLAY",
       {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", x + ":0"}},
       true},
      {"a Wayland session without WAYLAND_DISPLAY: wayland-0",
       {{"XDG_SESSION_TYPE", "wayland"}},
       true},
      {"QT_QPA_PLATFORM names X alone",
       {{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-0"}},
       false},
      {"a platform without a server", {{"QT_QPA_PLATFORM", "offscreen"}}, true},
      {"Wayland first, then an X display that answers",
       {{"WAYLAND_DISPLAY", "wayland-gone"}, {"DISPLAY", x + ":0"}},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM"})
      unsetenv(name);
    for (const auto& [name, value] : c.variables) setenv(name, value.c_str(), 1);
    const TDisplayCheck check = CheckDisplay();
    EXPECT_EQ(check.problem.empty(), c.display) << check.problem;
    EXPECT_EQ(check.windowProblem, "");
  }
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM"})
    unsetenv(name);
}

}  // namespace
