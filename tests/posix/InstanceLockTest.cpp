// The instance lock in one process: flock() locks belong to open file descriptions, so each
// TPosixInstanceLock plays a copy of its own. The sessions are ones no real copy ever has.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "launcher/InstanceLock_linux.h"

namespace {

class InstanceLockTest : public ::testing::Test {
 protected:
  // Only the files of this test's sessions, in whichever private directory the lock chose.
  void TearDown() override {
    const std::string uid = std::to_string(geteuid());
    for (const std::string& session : {Session("a"), Session("b")}) {
      for (const std::string& directory :
           {"/run/user/" + uid + "/CompanyMain/", "/tmp/CompanyMain-" + uid + "/"}) {
        for (const char* suffix : {"guard", "presence", "socket"}) {
          unlink((directory + "CompanyMain-" + session + "." + suffix).c_str());
        }
      }
    }
  }

  static std::string Session(const char* which) {
    return "companymain-lock-test-" + std::to_string(getpid()) + "-" + which;
  }

  static std::unique_ptr<TPosixInstanceLock> Copy(const char* session = "a") {
    return std::make_unique<TPosixInstanceLock>(Session(session), [](std::string_view) {});
  }

  // The private directory that holds this test's files.
  static std::string Directory() {
    const std::string uid = std::to_string(geteuid());
    for (const std::string& directory :
         {"/run/user/" + uid + "/CompanyMain/", "/tmp/CompanyMain-" + uid + "/"}) {
      struct stat st {};
      if (stat((directory + "CompanyMain-" + Session("a") + ".presence").c_str(), &st) == 0)
        return directory;
    }
    return {};
  }
};

TEST_F(InstanceLockTest, OneCopyRunsAndEveryCopyHoldsTheLockUntilItEnds) {
  auto first = Copy();
  EXPECT_FALSE(first->AlreadyExists());
  EXPECT_GE(first->ActivationFd(), 0);

  auto refused = Copy();
  EXPECT_TRUE(refused->AlreadyExists());
  EXPECT_LT(refused->ActivationFd(), 0);

  first.reset();
  // The refused copy still shows its message: the next one is refused as well.
  EXPECT_TRUE(Copy()->AlreadyExists());

  refused.reset();
  auto next = Copy();
  EXPECT_FALSE(next->AlreadyExists());
  EXPECT_GE(next->ActivationFd(), 0);
}

TEST_F(InstanceLockTest, ARefusedCopyReachesTheRunningOne) {
  auto running = Copy();
  ASSERT_FALSE(running->AlreadyExists());
  ASSERT_GE(running->ActivationFd(), 0);
  EXPECT_FALSE(running->AcceptActivation());  // nobody has asked yet

  auto refused = Copy();
  ASSERT_TRUE(refused->AlreadyExists());
  refused->ActivateRunningCopy();
  pollfd request{running->ActivationFd(), POLLIN, 0};
  ASSERT_EQ(poll(&request, 1, 5000), 1);
  EXPECT_TRUE(running->AcceptActivation());
  EXPECT_FALSE(running->AcceptActivation());  // one request, taken once
}

TEST_F(InstanceLockTest, ACopyInAnotherSessionIsNotRefused) {
  auto running = Copy("a");
  ASSERT_FALSE(running->AlreadyExists());
  EXPECT_FALSE(Copy("b")->AlreadyExists());
  EXPECT_TRUE(Copy("a")->AlreadyExists());
}

TEST_F(InstanceLockTest, TheSocketAndItsFolderAreClosedToOthersWhateverTheUmask) {
  const mode_t before = umask(0);
  auto running = Copy();
  const bool refused = running->AlreadyExists();
  const int listener = running->ActivationFd();
  umask(before);
  ASSERT_FALSE(refused);
  ASSERT_GE(listener, 0);
  const std::string directory = Directory();
  ASSERT_FALSE(directory.empty());
  struct stat st {};
  ASSERT_EQ(stat(directory.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(lstat((directory + "CompanyMain-" + Session("a") + ".socket").c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(InstanceLockTest, CopiesStartingTogetherFindExactlyOneHolder) {
  // Many rounds of copies let go at one moment, each on a thread of its own; in every round
  // exactly one finds nobody else, whatever the order their steps interleave in.
  constexpr int kCopies = 6;
  constexpr int kRounds = 300;
  std::vector<std::unique_ptr<TPosixInstanceLock>> copies(kCopies);
  std::vector<int> refused(kCopies);
  std::barrier start(kCopies);
  std::barrier done(kCopies + 1);
  std::barrier next(kCopies + 1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kCopies; ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < kRounds; ++round) {
        copies[i] = Copy();
        start.arrive_and_wait();
        refused[i] = copies[i]->AlreadyExists() ? 1 : 0;
        done.arrive_and_wait();
        next.arrive_and_wait();  // the round is counted and every copy ended
      }
    });
  }
  int wrongRounds = 0;
  for (int round = 0; round < kRounds; ++round) {
    done.arrive_and_wait();
    int holders = 0;
    for (const int r : refused) holders += r == 0 ? 1 : 0;
    if (holders != 1) {
      ADD_FAILURE() << "round " << round << ": " << holders << " holders";
      ++wrongRounds;
    }
    for (auto& copy : copies) copy.reset();
    next.arrive_and_wait();
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrongRounds, 0);
}

TEST_F(InstanceLockTest, ACopyWaitsWhileAnotherIsBetweenItsTestAndItsHold) {
  // Another copy, played here through the files every copy uses, has found nobody and is
  // between giving up its exclusive test and taking its shared hold: it holds the guard and
  // nothing of the presence file. A copy starting then must wait for it, and be refused.
  ASSERT_FALSE(Copy()->AlreadyExists());  // makes the files, and ends
  const std::string base = Directory() + "CompanyMain-" + Session("a");
  const int guard = open((base + ".guard").c_str(), O_RDWR | O_CLOEXEC);
  const int presence = open((base + ".presence").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(guard, 0);
  ASSERT_GE(presence, 0);
  ASSERT_EQ(flock(guard, LOCK_EX), 0);

  std::atomic<int> refused = -1;
  std::unique_ptr<TPosixInstanceLock> starting;
  std::thread copy([&] {
    starting = Copy();
    refused = starting->AlreadyExists() ? 1 : 0;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(refused, -1) << "it did not wait for the guard";
  ASSERT_EQ(flock(presence, LOCK_SH), 0);
  ASSERT_EQ(flock(guard, LOCK_UN), 0);
  copy.join();
  EXPECT_EQ(refused, 1);
  starting.reset();
  close(presence);
  close(guard);
}

TEST_F(InstanceLockTest, WithoutARuntimeFolderTheLockIsInTmpNotInTheHomesCache) {
  // A copy in a mount namespace of its own, with stand-ins for /tmp, /run/user and the home
  // folder: no runtime folder, and a home with a .cache, as nearly every real home has.
  if (geteuid() != 0) GTEST_SKIP() << "a mount namespace needs root";
  if (!std::filesystem::is_directory("/run/user")) GTEST_SKIP() << "needs /run/user";
  char root[] = "/var/tmp/companymain-lock-XXXXXX";
  ASSERT_NE(mkdtemp(root), nullptr);
  const std::string tmp = std::string(root) + "/tmp", run = std::string(root) + "/run-user",
                    home = std::string(root) + "/home";
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  chmod(tmp.c_str(), 01777);
  ASSERT_EQ(mkdir(run.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((home + "/.cache").c_str(), 0700), 0);
  const passwd* user = getpwuid(geteuid());
  ASSERT_NE(user, nullptr);
  const std::string realHome = user->pw_dir;

  auto copy = Copy();  // named here: the session holds the test's process number
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(10);  // a copy that hangs fails the case instead of the run
    const bool ready = unshare(CLONE_NEWNS) == 0 &&
                       mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                       mount(run.c_str(), "/run/user", nullptr, MS_BIND, nullptr) == 0 &&
                       mount(home.c_str(), realHome.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                       mount(tmp.c_str(), "/tmp", nullptr, MS_BIND, nullptr) == 0;
    if (!ready) _exit(2);
    _exit(copy->AlreadyExists() ? 3 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  struct stat st {};
  const std::string lock =
      "/CompanyMain-" + std::to_string(geteuid()) + "/CompanyMain-" + Session("a") + ".presence";
  EXPECT_EQ(stat((tmp + lock).c_str(), &st), 0) << "no lock in /tmp/CompanyMain-<uid>";
  EXPECT_TRUE(std::filesystem::is_empty(home + "/.cache")) << "the lock went to ~/.cache";
  std::filesystem::remove_all(root);
}

}  // namespace
