// The launch flow on the real files of a temporary program folder: which message each state
// of the folder gives, read through the POSIX file layer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/CodePage_posix.h"
#include "inputs/CompanyIdentity.h"
#include "inputs/ConfigFolder.h"
#include "launch/CompanyMain.h"
#include "launch/Messages.h"

namespace {

// Messages, the browser and the end of the program, written to a log.
class RecordingDesktop final : public TDesktop {
 public:
  std::vector<std::string> log;
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
  void ShowMessage(std::string_view text) override { log.push_back(std::string(text)); }
  bool OpenBrowser(const std::string& address) override {
    log.push_back("open " + address);
    return true;
  }
  void RequestEnd() override { log.emplace_back("end"); }

 private:
  TPosixCodePage codePage_{"UTF-8"};
};

class LaunchFromFilesTest : public ::testing::Test {
 public:
  void SetUp() override {
    char name[] = "/tmp/companymain-files-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = std::string(name) + "/";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  [[nodiscard]] std::string Config() const { return folder_ + "Config"; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(Config() + "/" + name, std::ios::binary) << text;
  }
  std::vector<std::string> Launch() const {
    RecordingDesktop desktop;
    TProgramConfigFolder config(folder_);
    TIniCompanyIdentitySource identity(config, desktop.AnsiCodePage());
    TFrm_CompanyMain form(desktop, config, identity);
    form.FormCreate();
    form.FormShow();
    return desktop.log;
  }

  std::string folder_;
};

TEST_F(LaunchFromFilesTest, CreationMessagesForTheFilesOfTheProgramFolder) {
  const auto fifo = [](const std::string& path) { mkfifo(path.c_str(), 0600); };
  const auto folder = [](const std::string& path) { std::filesystem::create_directory(path); };
  const std::string identity = "[Company]\n";
  const std::string address = "[SysInfo]\nCompanyURL=eA==\n";  // "x"
  struct Case {
    const char* name;
    std::function<void(LaunchFromFilesTest&)> prepare;
    std::string_view message;
  };
  const std::vector<Case> cases = {
      {"no configuration file", [&](LaunchFromFilesTest& t) { t.Write("Company.ini", identity); },
       kMsgConfigMissing},
      {"configuration file is a folder",
       [&](LaunchFromFilesTest& t) {
         t.Write("Company.ini", identity);
         folder(t.Config() + "/Config.ini");
       },
       kMsgConfigMissing},
      {"configuration file is a FIFO",
       [&](LaunchFromFilesTest& t) {
         t.Write("Company.ini", identity);
         fifo(t.Config() + "/Config.ini");
       },
       kMsgAddressEmpty},
      {"address of blanks",
       [&](LaunchFromFilesTest& t) {
         t.Write("Company.ini", identity);
         t.Write("Config.ini", "[SysInfo]\nCompanyURL=ICAg\n");
       },
       kMsgAddressEmpty},
      {"no identity file", [&](LaunchFromFilesTest& t) { t.Write("Config.ini", address); },
       kMsgIdentityMissing},
      {"identity file is a FIFO",
       [&](LaunchFromFilesTest& t) {
         t.Write("Config.ini", address);
         fifo(t.Config() + "/Company.ini");
       },
       kMsgIdentityMissing},
      {"identity file without its section",
       [&](LaunchFromFilesTest& t) {
         t.Write("Config.ini", address);
         t.Write("Company.ini", "CompanyNum=1\n");
       },
       kMsgIdentityMissing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(Config());
    std::filesystem::create_directory(Config());
    c.prepare(*this);
    EXPECT_EQ(Launch(), (std::vector<std::string>{std::string(c.message), "end"}));
  }
}

TEST_F(LaunchFromFilesTest, OpensThePageFromGoodFiles) {
  std::filesystem::create_directory(Config());
  Write("Config.ini", "[SysInfo]\nCompanyURL=aHR0cDovL2guZXhhbXBsZS9w\n");  // http://h.example/p
  Write("Company.ini", "[Company]\nCompanyNum=7\n");
  EXPECT_EQ(Launch(), (std::vector<std::string>{"open http://h.example/p?Id=Nw==&Name=%E6%97%A0"
                                                "&Type=&DeviceId=&other=&Version=NS4wLjAuMA==",
                                                "end"}));
}

}  // namespace
