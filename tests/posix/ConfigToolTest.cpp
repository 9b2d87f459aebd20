// The configuration tool's POSIX system in process, on the files of a temporary folder: modes
// whatever the umask, writes that fail, what other users can read, paths as bytes.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/File_linux.h"
#include "common/IniText.h"
#include "common/Utf.h"
#include "tool/ToolSystem_posix.h"

namespace {

// The real POSIX system, with the terminal kept for the test.
class CapturedSystem final : public TPosixConfigToolSystem {
 public:
  explicit CapturedSystem(TPosixCodePage codePage) : TPosixConfigToolSystem(std::move(codePage)) {}
  void Out(std::string_view text) override { out += text; }
  void Err(std::string_view text) override { err += text; }
  void OutAddress(std::string_view text) override { out += text; }
  void OutUtf8(std::string_view text) override { out += text; }
  std::string out, err;
};

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class ConfigToolTest : public ::testing::Test {
 public:
  void SetUp() override {
    char name[] = "/tmp/companymain-tool-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
    chmod(folder_.c_str(), 0755);  // as an installation folder is
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  int Run(std::vector<std::string> args, const std::string& folder = "",
          const char* codeset = "UTF-8") {
    args.insert(args.begin(), {"--dir", folder.empty() ? folder_ : folder});
    system_ = std::make_unique<CapturedSystem>(TPosixCodePage(codeset));
    return RunConfigTool(args, *system_);
  }
  [[nodiscard]] std::string Read(const std::string& path) const {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
  }
  [[nodiscard]] std::vector<std::string> Listing(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string folder_;
  std::unique_ptr<CapturedSystem> system_;
};

const std::vector<std::string> kIdentity = {
    "set-company", "--number", "1", "--type", "R01", "--name", "n", "--device-id", "D1"};

TEST_F(ConfigToolTest, WhatTheToolMakesIsOpenToAllWhateverTheUmask) {
  for (const mode_t mask : {022, 027, 077}) {
    SCOPED_TRACE(mask);
    const mode_t before = umask(mask);
    std::filesystem::remove_all(folder_ + "/Config");
    const int address = Run({"set-address", "http://example.com/"});
    const int identity = Run(kIdentity);
    umask(before);
    ASSERT_EQ(address, 0);
    ASSERT_EQ(identity, 0) << system_->err;
    EXPECT_EQ(ModeOf(folder_ + "/Config"), 0755u);
    EXPECT_EQ(ModeOf(folder_ + "/Config/Config.ini"), 0644u);
    EXPECT_EQ(ModeOf(folder_ + "/Config/Company.ini"), 0644u);
  }
  // A replaced file keeps the rights it was given, owner and group too (as root: a group the
  // writer is not in, as root:frontdesk); one behind a link to a link is written where it is,
  // the links kept; the temporary files of a killed write go.
  const std::string etc = folder_ + "/etc", file = etc + "/Config.ini";
  std::filesystem::create_directory(etc);
  std::filesystem::rename(folder_ + "/Config/Config.ini", file);
  std::filesystem::create_symlink("../etc/Config.ini", etc + "/link.ini");
  std::filesystem::create_symlink(etc + "/link.ini", folder_ + "/Config/Config.ini");
  // A killed write's temporary file goes; rsync's, named as the tool's once were, stays.
  std::ofstream(etc + "/.Config.ini.companymain-config-Ab12Cd") << "half";
  std::ofstream(etc + "/.Config.ini.Ab12Cd") << "rsync's";
  EXPECT_TRUE(geteuid() != 0 || chown(file.c_str(), 0, 65534) == 0);
  chmod((folder_ + "/Config/Config.ini").c_str(), 0640);
  struct stat before {
  }, after{};
  stat(file.c_str(), &before);
  ASSERT_EQ(Run({"set-address", "http://other.example/"}), 0);
  EXPECT_EQ(ModeOf(folder_ + "/Config/Config.ini"), 0640u);
  stat(file.c_str(), &after);
  EXPECT_EQ(std::vector<unsigned>({after.st_uid, after.st_gid, after.st_mode}),
            std::vector<unsigned>({before.st_uid, before.st_gid, before.st_mode}));
  EXPECT_TRUE(std::filesystem::is_symlink(folder_ + "/Config/Config.ini"));
  EXPECT_EQ(Listing(etc),
            (std::vector<std::string>{".Config.ini.Ab12Cd", "Config.ini", "link.ini"}));
  EXPECT_NE(Read(file).find("aHR0cDovL290aGVyLmV4YW1wbGUv"), std::string::npos);
}

// Only the writers can take the lock; one left behind, or open to others and held, never blocks
// for good; something at its path that is no file is named.
TEST_F(ConfigToolTest, TheWriterLockIsTheWritersAlone) {
  const std::string config = folder_ + "/Config", lock = config + "/.companymain-config.lock";
  const std::string named = "Cannot use the writer lock " + lock + ": not a regular file.";
  TUniqueFd other;  // another open file of the lock, as another user's process holds it
  const auto file = [&](mode_t mode) {
    close(open(lock.c_str(), O_CREAT | O_RDWR, mode));
    chmod(lock.c_str(), mode);
  };
  const struct {
    const char* name;
    std::function<void()> arrange;
    std::string says;  // the refusal (exit code 3); "" when written
  } cases[] = {
      {"a writer's lock left behind", [&] { file(0600); }, ""},
      {"an older version's, open to all", [&] { file(0644); }, ""},
      {"held by whoever could open it",
       [&] {
         file(0644);
         other = TUniqueFd(open(lock.c_str(), O_RDONLY));
         flock(other.Get(), LOCK_EX);
       },
       ""},
      {"a folder", [&] { mkdir(lock.c_str(), 0755); }, named},
      {"a link", [&] { symlink("Config.ini", lock.c_str()); }, named},
      {"a FIFO", [&] { mkfifo(lock.c_str(), 0644); }, named},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(config);
    ASSERT_EQ(Run({"set-address", "http://a.example/"}), 0);
    c.arrange();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run({"set-address", "http://b.example/"}), c.says.empty() ? 0 : 3) << system_->err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    other.Reset();
    EXPECT_NE(system_->err.find(c.says), std::string::npos) << system_->err;
    // The new address written, or the old one kept.
    EXPECT_EQ(Read(config + "/Config.ini").find("aHR0cDovL2IuZXhhbXBsZS8=") != std::string::npos,
              c.says.empty());
    EXPECT_EQ(Listing(config).size(), c.says.empty() ? 1u : 2u);  // the lock gone, or left
  }
  // Held, it is closed to everybody else whatever the umask, also where one open to all was;
  // made by root in somebody's own folder, it is that owner's, whose writers must take it too.
  const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
  for (const bool left : {false, true}) {
    std::filesystem::remove(lock);
    if (left) file(0644);
    EXPECT_EQ(chown(config.c_str(), owner, static_cast<gid_t>(-1)), 0);
    TConfigToolSystem::TFailure failure;
    const mode_t mask = umask(0);
    // Root as the folder's owner ran it, with sudo: another user's folder is refused otherwise.
    setenv("SUDO_UID", std::to_string(owner).c_str(), 1);
    CapturedSystem system(TPosixCodePage("UTF-8"));
    const auto change = system.BeginChange(config, {"Config.ini"}, failure);
    const bool held = change && change->Lock(0, failure);
    unsetenv("SUDO_UID");
    umask(mask);
    struct stat st {};
    EXPECT_TRUE(held && stat(lock.c_str(), &st) == 0) << failure.reason;
    EXPECT_EQ(std::vector<unsigned>({st.st_mode & 07777, st.st_uid}),
              std::vector<unsigned>({0600, owner}));
  }
}

// The way to a file: a folder or link of anybody but root, the writer or sudo's caller is
// refused; a link of another user leads only to that user's own files.
TEST_F(ConfigToolTest, TheWayToAFileIsRootsTheWritersOrItsOwners) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root and other users";
  const std::string own = folder_ + "/own", config = own + "/Config", file = config + "/Config.ini";
  const std::string roots = folder_ + "/roots";  // root's files: /etc in life
  const auto give = [](const std::string& path, uid_t uid) { lchown(path.c_str(), uid, uid); };
  const struct {
    const char* name;
    std::function<void()> arrange;
    const char* sudo;     // SUDO_UID: the user who ran the writer as root
    std::string refused;  // the path named; "" when written
    std::string written;  // the file written
  } cases[] = {
      {"root's own installation", [] {}, nullptr, "", file},
      {"another user's folder", [&] { give(own, 65534); }, nullptr, own, ""},
      {"the same, run by its owner with sudo", [&] { give(own, 65534); }, "65534", "", file},
      {"a third user's folder inside it", [&] { give(own, 65534), give(config, 1); }, "65534",
       config, ""},
      {"the owner's link to root's file",
       [&] {
         give(own, 65534), give(config, 65534);
         symlink((roots + "/Config.ini").c_str(), file.c_str()), give(file, 65534);
       },
       "65534", file, ""},
      {"the owner's link to the owner's file",
       [&] {
         give(own, 65534), give(config, 65534);
         std::ofstream(own + "/mine.ini") << "[SysInfo]\n", give(own + "/mine.ini", 65534);
         symlink("../mine.ini", file.c_str()), give(file, 65534);
       },
       "65534", "", own + "/mine.ini"},
      {"another user's Config link",
       [&] {
         std::filesystem::remove(config), symlink(roots.c_str(), config.c_str()), give(config, 1);
       },
       nullptr, config, ""},
      {"root's Config link",
       [&] { std::filesystem::remove(config), symlink(roots.c_str(), config.c_str()); }, nullptr,
       "", roots + "/Config.ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(own);
    std::filesystem::remove_all(roots);
    std::filesystem::create_directories(config);
    std::filesystem::create_directories(roots);
    std::ofstream(roots + "/Config.ini") << "root's\n";
    c.arrange();
    if (c.sudo) setenv("SUDO_UID", c.sudo, 1);
    CapturedSystem system(TPosixCodePage("UTF-8"));
    TConfigToolSystem::TFailure failure;
    const auto change = system.BeginChange(config, {"Config.ini"}, failure);
    unsetenv("SUDO_UID");
    EXPECT_EQ(failure.reason.starts_with(c.refused + " belongs to "), !c.refused.empty())
        << failure.reason;
    ASSERT_EQ(change == nullptr, !c.refused.empty());
    if (change) {
      change->Read("Config.ini");
      EXPECT_TRUE(change->Lock(0, failure) && change->Replace("Config.ini", "new\n", failure))
          << failure.reason;
      EXPECT_EQ(Read(c.written), "new\n");
      // The lock beside the file written, where every way to it meets it.
      const std::string lock =
          c.written.substr(0, c.written.rfind('/')) + "/.companymain-config.lock";
      EXPECT_TRUE(std::filesystem::exists(lock)) << lock;
    }
    if (c.written != roots + "/Config.ini") {
      EXPECT_EQ(Read(roots + "/Config.ini"), "root's\n");
    }
  }
}

// Every step after the first look works on what was opened then: a swap meanwhile changes
// nothing that was not the writer's to change.
TEST_F(ConfigToolTest, ASwapAfterTheFirstLookChangesNothing) {
  const std::string config = folder_ + "/Config", elsewhere = folder_ + "/elsewhere";
  const struct {
    const char* name;
    std::function<void()> swap;  // between reading and writing
    bool written;                // into the folder opened first
  } cases[] = {
      {"the file changed by another program",
       [&] {
         std::ofstream(config + "/Config.ini.x") << "theirs\n";
         rename((config + "/Config.ini.x").c_str(), (config + "/Config.ini").c_str());
       },
       false},
      {"the folder made meanwhile, as a link",
       [&] { std::filesystem::remove_all(config), symlink(elsewhere.c_str(), config.c_str()); },
       false},
      {"the Config folder swapped for a link",
       [&] {
         rename(config.c_str(), (folder_ + "/was").c_str()),
             symlink(elsewhere.c_str(), config.c_str());
       },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* path : {"/Config", "/elsewhere", "/was"})
      std::filesystem::remove_all(folder_ + path);
    std::filesystem::create_directories(elsewhere);
    chmod(elsewhere.c_str(), 0700);
    if (std::string(c.name) != "the folder made meanwhile, as a link") {
      std::filesystem::create_directories(config);
      std::ofstream(config + "/Config.ini") << "old\n";
    }
    CapturedSystem system(TPosixCodePage("UTF-8"));
    TConfigToolSystem::TFailure failure;
    const auto change = system.BeginChange(config, {"Config.ini"}, failure);
    ASSERT_TRUE(change) << failure.reason;
    change->Read("Config.ini");
    c.swap();
    const bool written =
        change->Lock(0, failure) && change->Replace("Config.ini", "new\n", failure);
    EXPECT_EQ(written, c.written) << failure.reason;
    EXPECT_EQ(Listing(elsewhere), std::vector<std::string>{});
    EXPECT_EQ(ModeOf(elsewhere), 0700u);
    if (c.written) {
      EXPECT_EQ(Read(folder_ + "/was/Config.ini"), "new\n");
    }
  }
}

TEST_F(ConfigToolTest, FailuresLeaveNoTemporaryFile) {
  ASSERT_EQ(Run({"set-address", "http://kept.example/"}), 0);
  const std::string config = folder_ + "/Config";
  CapturedSystem system(TPosixCodePage("UTF-8"));
  TConfigToolSystem::TFailure failure;
  // The rename that would put the new file in place fails.
  std::filesystem::create_directories(config + "/Company.ini/inside");
  EXPECT_FALSE(system.BeginChange(config, {"Company.ini"}, failure)
                   ->Replace("Company.ini", "[Company]\r\n", failure));
  EXPECT_FALSE(failure.reason.empty());
  EXPECT_EQ(Listing(config), (std::vector<std::string>{"Company.ini", "Config.ini"}));
  // The tool does not get that far: what stands there cannot be read as the old identity.
  EXPECT_EQ(Run(kIdentity), 3);
  EXPECT_NE(system_->err.find("Cannot read " + config + "/Company.ini: "), std::string::npos)
      << system_->err;
  EXPECT_EQ(Listing(config), (std::vector<std::string>{"Company.ini", "Config.ini"}));

  // A folder closed to writing (not to root, who may write anyway).
  if (geteuid() != 0) {
    chmod(config.c_str(), 0555);
    const auto change = system.BeginChange(config, {"Config.ini"}, failure);
    change->Read("Config.ini");
    EXPECT_FALSE(change->Replace("Config.ini", "x", failure));
    EXPECT_TRUE(failure.denied);
    chmod(config.c_str(), 0755);
  }

  // No folder can be made where a file stands.
  std::filesystem::remove_all(config);
  std::ofstream(config) << "a file";
  EXPECT_EQ(Run({"set-address", "http://new.example/"}), 3);
  EXPECT_NE(system_->err.find("Cannot create the folder " + config + ": "), std::string::npos)
      << system_->err;
  EXPECT_EQ(Read(config), "a file");
}

TEST_F(ConfigToolTest, ReplaceFileFailingAfterTheOpenChangesNothing) {
  // A write that the system refuses half-way: the file size limit, for this process alone
  // (the signal it would send is ignored, as the tool's main does).
  ASSERT_EQ(Run(kIdentity), 0);
  const std::string path = folder_ + "/Config/Company.ini";
  const std::string kept = Read(path);
  CapturedSystem system(TPosixCodePage("UTF-8"));
  TConfigToolSystem::TFailure failure;
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto handler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = old;
  limit.rlim_cur = 16;
  setrlimit(RLIMIT_FSIZE, &limit);
  const auto change = system.BeginChange(folder_ + "/Config", {"Company.ini"}, failure);
  change->Read("Company.ini");
  const bool replaced = change->Replace("Company.ini", std::string(100, 'x'), failure);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, handler);
  EXPECT_FALSE(replaced);
  EXPECT_EQ(failure.reason, std::strerror(EFBIG));
  EXPECT_FALSE(failure.denied);
  EXPECT_EQ(Read(path), kept);
  EXPECT_EQ(Listing(folder_ + "/Config"), (std::vector<std::string>{"Company.ini"}));
}

TEST_F(ConfigToolTest, WhatOtherUsersCannotRead) {
  const std::string config = folder_ + "/Config";
  const std::string file = config + "/Company.ini";
  const std::string elsewhere = folder_ + "/etc";
  const struct {
    const char* name;
    std::function<void()> arrange;
    std::optional<TConfigToolSystem::TClosed> closed;
  } cases[] = {
      {"open", [] {}, std::nullopt},
      {"a file others cannot read", [&] { chmod(file.c_str(), 0640); },
       TConfigToolSystem::TClosed{file, "-rw-r-----", false}},
      {"the folder closed", [&] { chmod(config.c_str(), 0750); },
       TConfigToolSystem::TClosed{config, "drwxr-x---", true}},
      {"a folder that can be passed but not listed", [&] { chmod(config.c_str(), 0711); },
       std::nullopt},
      {"the installation folder closed", [&] { chmod(folder_.c_str(), 0700); },
       TConfigToolSystem::TClosed{folder_, "drwx------", true}},
      // The package's Config is a link to the configuration folder: the folder behind it counts.
      {"the folder behind the link closed",
       [&] {
         std::filesystem::create_directory(elsewhere);
         std::filesystem::rename(file, elsewhere + "/Company.ini");
         std::filesystem::remove_all(config);
         std::filesystem::create_directory_symlink(elsewhere, config);
         chmod(elsewhere.c_str(), 0700);
       },
       TConfigToolSystem::TClosed{elsewhere, "drwx------", true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(config);
    std::filesystem::remove_all(elsewhere);
    chmod(folder_.c_str(), 0755);
    ASSERT_EQ(Run(kIdentity), 0) << system_->err;
    c.arrange();
    const auto closed = system_->ClosedToOthers(file);
    chmod(folder_.c_str(), 0755);
    ASSERT_EQ(closed.has_value(), c.closed.has_value());
    if (closed) {
      EXPECT_EQ(closed->path, c.closed->path);
      EXPECT_EQ(closed->mode, c.closed->mode);
      EXPECT_EQ(closed->folder, c.closed->folder);
    }
  }
}

TEST_F(ConfigToolTest, AKeptValueIsNotCutWhereItsUtf8IsLongerThanTheLauncherReads) {
  // 1500 bytes in ISO-8859-1, 3000 in UTF-8: whole for the launcher, and kept whole.
  std::vector<std::string> args = kIdentity;
  args.insert(args.end(), {"--other", std::string(1500, '\xE9')});
  ASSERT_EQ(Run(args, "", "ISO-8859-1"), 0) << system_->err;
  ASSERT_EQ(Run({"set-company", "--device-id", "D2"}, "", "ISO-8859-1"), 0) << system_->err;
  std::string other = "OtherInfo=";
  for (int i = 0; i < 1500; ++i) other += "\xC3\xA9";
  const std::string file = Read(folder_ + "/Config/Company.ini");
  EXPECT_NE(file.find(Utf16ToBytes(Utf8ToUtf16(other + "\r\n"), false)), std::string::npos);
  EXPECT_NE(file.find(Utf16ToBytes(u"DeviceId=D2\r\n", false)), std::string::npos);
}

TEST_F(ConfigToolTest, ReadingTellsMissingFromUnreadable) {
  using State = TFileRead::State;
  const std::string path = folder_ + "/Config/Company.ini";
  const struct {
    const char* name;
    std::function<void()> arrange;
    State state;
  } cases[] = {
      {"missing", [] {}, State::Missing},
      {"a dangling link", [&] { std::filesystem::create_symlink(folder_ + "/none", path); },
       State::Missing},
      {"a file", [&] { std::ofstream(path) << "[Company]\nCompanyNum=1\n"; }, State::Read},
      {"a folder", [&] { std::filesystem::create_directory(path); }, State::Unreadable},
      // Never waited on.
      {"a FIFO", [&] { mkfifo(path.c_str(), 0644); }, State::Unreadable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(folder_ + "/Config");
    std::filesystem::create_directory(folder_ + "/Config");
    c.arrange();
    CapturedSystem system(TPosixCodePage("UTF-8"));
    const auto read = system.Files().ReadSection(path, "Company", {"CompanyNum"},
                                                 system.AnsiCodePage(), system.AnsiCodePage());
    EXPECT_EQ(read.state, c.state);
    if (c.state == State::Unreadable) {
      EXPECT_NE(system.ReadFailure(read.error).reason, "");
    }
    if (c.state == State::Read) {
      EXPECT_EQ(read.values.values[0], "1");
    }
  }
}

TEST_F(ConfigToolTest, FoldersAreTheirBytesNotText) {
  // Names made in another locale: bytes that are no text in this one, beside a folder with
  // the name that a conversion to text and back would give.
  const struct {
    const char* codeset;
    std::string name;
    std::string decoy;
  } cases[] = {
      {"UTF-8", "inst\xC4\xE3", "inst\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"GBK", "inst\xFF", "inst?"},
      {"GBK", "inst\xE4\xBD\xA0", "inst\xE4\xBD\xA0"},  // UTF-8 bytes that are GBK text too
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codeset);
    const std::string folder = folder_ + "/" + c.name;
    const std::string decoy = folder_ + "/" + c.decoy + "-";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(decoy);
    ASSERT_EQ(Run({"set-address", "http://x/"}, folder, c.codeset), 0) << system_->err;
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/Config/Config.ini"));
    EXPECT_EQ(Listing(decoy), std::vector<std::string>{});
    // Relative to the working directory, too.
    const std::string here = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    const int relative = Run({"set-address", "http://y/"}, c.name, c.codeset);
    std::filesystem::current_path(here);
    EXPECT_EQ(relative, 0) << system_->err;
    EXPECT_NE(Read(folder + "/Config/Config.ini").find("aHR0cDovL3kv"), std::string::npos);
  }
  // Shown, such a name has its bytes escaped.
  CapturedSystem utf8(TPosixCodePage("UTF-8"));
  EXPECT_EQ(utf8.PathText("/srv/inst\xC4\xE3/酒店"),
            "/srv/inst\\xc4\\xe3/\\xe9\\x85\\x92\\xe5\\xba\\x97");
  EXPECT_EQ(utf8.PathText("/srv/酒店"), "/srv/酒店");
  EXPECT_EQ(utf8.ArgumentText("inst\xC4\xE3"), std::nullopt);
  CapturedSystem gbk(TPosixCodePage("GBK"));
  EXPECT_EQ(gbk.ArgumentText("\xBE\xC6\xB5\xEA"), "酒店");
  EXPECT_EQ(gbk.ArgumentText("inst\xFF"), std::nullopt);
}

TEST_F(ConfigToolTest, MessagesNameTheFolderBehindTheConfigLink) {
  const std::string real = folder_ + "/etc/companymain";
  std::filesystem::create_directories(real);
  std::filesystem::create_directory_symlink(real, folder_ + "/Config");
  ASSERT_EQ(Run({"set-address", "http://x/"}), 0);
  EXPECT_EQ(system_->out, "Wrote " + real + "/Config.ini: CompanyURL changed.\n");
  EXPECT_TRUE(std::filesystem::is_symlink(folder_ + "/Config"));
  ASSERT_EQ(Run({"set-address", "http://x/"}), 0);
  EXPECT_EQ(system_->out, real + "/Config.ini already holds these values: nothing changed.\n");
}

}  // namespace
