#include <gtest/gtest.h>

#include <stdexcept>

#include "FakeDesktop.h"
#include "common/Base64.h"
#include "launch/CheckOutInfo.h"
#include "launch/CompanyMain.h"
#include "launch/Messages.h"

namespace {

using Log = std::vector<std::string>;

const std::string kConfig = "/opt/hotel/Config/Config.ini";
const std::string kCompany = "/opt/hotel/Config/Company.ini";
const std::string kIdentity =
    "[Company]\nCompanyNum=1234567890\nCompanyType=R01\nCompanyName=\xCE\xDE\nDeviceId=D1\n";

std::string Message(std::string_view text) {
  return "message:" + std::string(text);
}

std::string ConfigWith(std::string_view page) {
  std::string encoded = Base64Encode(page);
  while (!encoded.empty() && (encoded.back() == '\n' || encoded.back() == '\r')) encoded.pop_back();
  return "[SysInfo]\r\nCompanyURL=" + encoded + "\r\n";
}

// Runs the window's two steps the way every front end does: create, then show.
Log Launch(FakeDesktop& desktop) {
  TIniCompanyIdentitySource source(desktop, desktop.AnsiCodePage());
  TFrm_CompanyMain window(desktop, desktop, source);
  window.FormCreate();
  window.FormShow();
  window.FormShow();  // made visible again: the page is not opened twice
  return desktop.log;
}

TEST(LaunchFlow, OpensTheAddressThenEnds) {
  FakeDesktop desktop;
  desktop.files[kCompany] = kIdentity;
  desktop.files[kConfig] = ConfigWith("http://example.com/info ");
  EXPECT_EQ(Launch(desktop), (Log{"ole", "browser", "end"}));
  ASSERT_EQ(desktop.opened.size(), 1u);
  // The address read keeps its blank: it lands before "?Id=".
  EXPECT_EQ(desktop.opened[0],
            "http://example.com/info ?Id=MTIzNDU2Nzg5MA==&Name=%E6%97%A0&Type=UjAx&DeviceId=RDE="
            "&other=&Version=NS4wLjAuMA==");
}

TEST(LaunchFlow, NormalisedIdentityReachesTheAddress) {
  FakeDesktop desktop;
  desktop.files[kCompany] =
      "[Company]\nCompanyNum=0\nCompanyType= R02 \nCompanyName=  \nUploadUser=ABC1234567890XYZ\n";
  desktop.files[kConfig] = ConfigWith("http://x/");
  Launch(desktop);
  ASSERT_EQ(desktop.opened.size(), 1u);
  EXPECT_EQ(desktop.opened[0],
            "http://x/?Id=MTIzNDU2Nzg5MA==&Name=%E6%97%A0&Type=UjAx&DeviceId=&other="
            "&Version=NS4wLjAuMA==");
}

TEST(LaunchFlow, CreationFailuresShowOneMessageAndOpenNothing) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> files;
    std::vector<std::string> unreadable;
    std::string appPath;
    std::string_view message;
  };
  const Case cases[] = {
      {"no identity file",
       {{kConfig, ConfigWith("http://x/")}},
       {},
       "/opt/hotel/",
       kMsgIdentityMissing},
      {"identity file without its section",
       {{kConfig, ConfigWith("http://x/")}, {kCompany, "[Compnay]\nCompanyNum=1\n"}},
       {},
       "/opt/hotel/",
       kMsgIdentityMissing},
      {"unreadable identity file",
       {{kConfig, ConfigWith("http://x/")}},
       {kCompany},
       "/opt/hotel/",
       kMsgIdentityMissing},
      {"no configuration file", {{kCompany, kIdentity}}, {}, "/opt/hotel/", kMsgConfigMissing},
      {"program folder unknown",
       {{kCompany, kIdentity}, {"Config/Config.ini", "x"}},
       {},
       "",
       kMsgIdentityMissing},
      {"no SysInfo section",
       {{kCompany, kIdentity}, {kConfig, "[Other]\nCompanyURL=eA==\n"}},
       {},
       "/opt/hotel/",
       kMsgAddressEmpty},
      {"empty value",
       {{kCompany, kIdentity}, {kConfig, "[SysInfo]\nCompanyURL=\n"}},
       {},
       "/opt/hotel/",
       kMsgAddressEmpty},
      {"decodes to blanks",
       {{kCompany, kIdentity}, {kConfig, ConfigWith(" \t\r\n ")}},
       {},
       "/opt/hotel/",
       kMsgAddressEmpty},
      {"nothing of the alphabet",
       {{kCompany, kIdentity}, {kConfig, "[SysInfo]\nCompanyURL=*#\n"}},
       {},
       "/opt/hotel/",
       kMsgAddressEmpty},
      {"unreadable configuration",
       {{kCompany, kIdentity}},
       {kConfig},
       "/opt/hotel/",
       kMsgAddressEmpty},
  };
  for (const auto& c : cases) {
    FakeDesktop desktop;
    desktop.files = c.files;
    desktop.unreadable = c.unreadable;
    desktop.appPath = c.appPath;
    EXPECT_EQ(Launch(desktop), (Log{"ole", Message(c.message), "end"})) << c.what;
    EXPECT_TRUE(desktop.opened.empty()) << c.what;
  }
}

TEST(LaunchFlow, ValueThatIsNotBase64UsesWhatTheDecoderYields) {
  FakeDesktop desktop;
  desktop.files[kCompany] = kIdentity;
  desktop.files[kConfig] = "[SysInfo]\nCompanyURL=aHR0c*DovL3g= v\n";
  Launch(desktop);
  ASSERT_EQ(desktop.opened.size(), 1u);
  EXPECT_TRUE(desktop.opened[0].starts_with("http://x?Id=")) << desktop.opened[0];
}

TEST(LaunchFlow, BrowserThatCannotStartIsReported) {
  FakeDesktop desktop;
  desktop.files[kCompany] = kIdentity;
  desktop.files[kConfig] = ConfigWith("http://x/");
  desktop.browserStarts = false;
  EXPECT_EQ(Launch(desktop), (Log{"ole", "browser", Message(kMsgBrowserFailed), "end"}));
}

class FakeLock final : public TInstanceLock {
 public:
  enum class Throw { Never, OnCreate, OnActivate, OnMessage };
  bool exists = false;
  Throw throwAt = Throw::Never;
  Log log;

  bool AlreadyExists() override {
    log.emplace_back("lock");
    if (throwAt == Throw::OnCreate) throw std::runtime_error("lock");
    return exists;
  }
  void ActivateRunningCopy() override {
    log.emplace_back("activate");
    if (throwAt == Throw::OnActivate) throw std::runtime_error("activate");
  }
  void ShowMessage(std::string_view text) override {
    log.emplace_back(Message(text));
    if (throwAt == Throw::OnMessage) throw std::runtime_error("message");
  }
};

TEST(CheckProgramRunning, ActivatesBeforeTellingAndSurvivesErrors) {
  const struct {
    const char* what;
    bool exists;
    FakeLock::Throw throwAt;
    bool expected;
    Log log;
  } cases[] = {
      {"first copy", false, FakeLock::Throw::Never, false, {"lock"}},
      {"second copy",
       true,
       FakeLock::Throw::Never,
       true,
       {"lock", "activate", Message(kMsgAlreadyRunning)}},
      {"lock cannot be had: said, and nothing runs unguarded",
       false,
       FakeLock::Throw::OnCreate,
       true,
       {"lock", Message(kMsgLockUnavailable)}},
      {"activation fails", true, FakeLock::Throw::OnActivate, true, {"lock", "activate"}},
      {"message fails",
       true,
       FakeLock::Throw::OnMessage,
       true,
       {"lock", "activate", Message(kMsgAlreadyRunning)}},
  };
  for (const auto& c : cases) {
    FakeLock lock;
    lock.exists = c.exists;
    lock.throwAt = c.throwAt;
    EXPECT_EQ(TCheckOutInfo().CheckProgramRunning(lock), c.expected) << c.what;
    EXPECT_EQ(lock.log, c.log) << c.what;
  }
}

}  // namespace
