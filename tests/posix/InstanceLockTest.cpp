// The instance lock in one process: flock() locks belong to open file descriptions, so each
// TPosixInstanceLock plays a copy of its own. The display is one no real copy ever has.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/InstanceLock_posix.h"
#include "app/SessionName_posix.h"

namespace {

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    display_ = "companymain-lock-test-" + std::to_string(getpid()) + ":0";
    setenv("DISPLAY", display_.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
  }

  // Only the files of this test's display, in whichever private directory the lock chose.
  void TearDown() override {
    const std::string base = "CompanyMain-" + SessionNameOf({.display = display_}) + ".";
    const std::string uid = std::to_string(geteuid());
    for (const std::string& directory :
         {"/run/user/" + uid + "/CompanyMain/", "/tmp/CompanyMain-" + uid + "/"}) {
      for (const char* suffix : {"guard", "presence", "socket"}) {
        unlink((directory + base + suffix).c_str());
      }
    }
  }

  std::unique_ptr<TPosixInstanceLock> Copy() const {
    return std::make_unique<TPosixInstanceLock>(SessionNameOf({.display = display_}),
                                                [](std::string_view) {});
  }

  std::string display_;
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

TEST_F(InstanceLockTest, ACopyOnAnotherDisplayIsNotRefused) {
  auto running = Copy();
  ASSERT_FALSE(running->AlreadyExists());

  const std::string mine = display_;
  display_ = "companymain-lock-test-" + std::to_string(getpid()) + ":1";
  setenv("DISPLAY", display_.c_str(), 1);
  EXPECT_FALSE(Copy()->AlreadyExists());
  TearDown();  // the other display's files

  // The same display spelled with a screen number is the same session.
  display_ = mine;
  setenv("DISPLAY", (mine + ".0").c_str(), 1);
  EXPECT_TRUE(Copy()->AlreadyExists());
}

}  // namespace
