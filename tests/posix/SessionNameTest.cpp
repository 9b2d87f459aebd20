// The session a copy belongs to: every spelling of one display is one session, different
// displays and hosts are different sessions, and every name is safe inside a file name.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "launcher/SessionName_posix.h"

namespace {

constexpr std::string_view kHost = "frontdesk.hotel.example";

TSessionSpelling X(std::string_view display) {
  return {.display = display, .hostName = kHost};
}

TSessionSpelling Wayland(std::string_view name, std::string_view runtime = "") {
  return {.waylandDisplay = name, .runtimeDirectory = runtime, .hostName = kHost};
}

std::string Describe(const TSessionSpelling& s) {
  return "DISPLAY=\"" + std::string(s.display) + "\" WAYLAND_DISPLAY=\"" +
         std::string(s.waylandDisplay) + "\" XDG_RUNTIME_DIR=\"" + std::string(s.runtimeDirectory) +
         "\"";
}

struct Session {
  const char* what;
  std::vector<TSessionSpelling> spellings;
};

const std::vector<Session>& Sessions() {
  static const std::vector<Session> sessions = {
      {"local display 0",
       {X(":0"),
        X(":0.0"),
        X(":00"),
        X("unix:0"),
        X("unix:0.0"),
        X("localhost:0"),
        X("LocalHost:0.1"),
        X("127.0.0.1:0"),
        X("127.0.1.1:0"),
        X("::1:0"),
        X("[::1]:0.0"),
        X("::ffff:127.0.0.1:0"),
        X("frontdesk.hotel.example:0"),
        X("FrontDesk:0"),
        X("tcp/localhost:0"),
        X("unix/:0"),
        X("unix/frontdesk:0.0"),
        X("/tmp/.X11-unix/X0"),
        X("/tmp/.X11-unix/X0.0"),
        X("/tmp/.X11-unix/X0:0"),
        X("unix:/tmp/.X11-unix/X0"),
        // XWayland: the X display decides, whatever Wayland says.
        {.display = ":0", .waylandDisplay = "wayland-0", .runtimeDirectory = "/run/user/1000"},
        {.display = "unix:0", .waylandDisplay = "/elsewhere/wayland-9", .hostName = kHost}}},
      {"local display 12",
       {X(":12"), X(":12.3"), X("localhost:12"), X("127.0.0.1:012"), X("/tmp/.X11-unix/X12.1")}},
      {"remote terminal7, display 0",
       {X("terminal7:0"), X("TERMINAL7:0.0"), X("tcp/terminal7:0"), X("inet/terminal7:0.1")}},
      {"remote terminal7, display 1", {X("terminal7:1"), X("terminal7:1.0")}},
      {"remote 10.0.0.5", {X("10.0.0.5:0"), X("10.0.0.5:0.0")}},
      {"a host that shares our first name only", {X("frontdesk.other.example:0")}},
      {"IPv6 host", {X("[2001:db8::7]:0"), X("2001:db8::7:0")}},
      {"a socket of launchd's naming",
       {X("/private/tmp/com.apple.launchd.Ab1/org.xquartz:0"),
        X("/private/tmp/com.apple.launchd.Ab1/org.xquartz:0.0"),
        X("unix:/private/tmp/com.apple.launchd.Ab1/org.xquartz:0")}},
      {"Wayland wayland-1 of user 1000",
       {Wayland("wayland-1", "/run/user/1000"), Wayland("wayland-1", "/run/user/1000/"),
        Wayland("/run/user/1000/wayland-1"), Wayland("/run/user/1000/wayland-1", "/elsewhere")}},
      {"Wayland wayland-0 of user 1000", {Wayland("wayland-0", "/run/user/1000")}},
      {"Wayland wayland-1 of user 1001", {Wayland("wayland-1", "/run/user/1001")}},
      {"no display at all", {{}, {.runtimeDirectory = "/run/user/1000", .hostName = kHost}}},
      {"not a display", {X("garbage")}},
      {"not a display either", {X(":x")}},
  };
  return sessions;
}

TEST(SessionName, EverySpellingOfADisplayIsOneSessionAndDifferentDisplaysAreNot) {
  std::map<std::string, std::string> owner;  // session name -> the session it stands for
  for (const Session& session : Sessions()) {
    SCOPED_TRACE(session.what);
    const std::string name = SessionNameOf(session.spellings.front());
    for (const TSessionSpelling& spelling : session.spellings) {
      EXPECT_EQ(SessionNameOf(spelling), name) << Describe(spelling);
    }
    const auto [where, fresh] = owner.emplace(name, session.what);
    EXPECT_TRUE(fresh) << "\"" << name << "\" stands for " << where->second << " as well";
  }
}

TEST(SessionName, NamesAreShortPlainFileNameParts) {
  // The spellings only point into these.
  const std::string longHost(300, 'h');
  const std::string hostOne = longHost + ".one:0";
  const std::string hostTwo = longHost + ".two:0";
  const std::string longSocket = "/run/user/1000/" + std::string(200, 'w');
  const std::vector<TSessionSpelling> spellings = {
      X(":0"),    X("terminal7:3"), X("a/b\n:c"),        X("/a path/with\tblanks and ../dots:0"),
      X(hostOne), X(hostTwo),       Wayland(longSocket),
  };
  std::map<std::string, std::string> seen;
  for (const TSessionSpelling& spelling : spellings) {
    const std::string name = SessionNameOf(spelling);
    SCOPED_TRACE(Describe(spelling) + " -> " + name);
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 64u);
    EXPECT_EQ(
        name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-"),
        std::string::npos);
    // Cut names of hosts that differ only at their end stay apart.
    EXPECT_TRUE(seen.emplace(name, Describe(spelling)).second) << "same as " << seen[name];
  }
}

}  // namespace
