// The configuration tool in process, on the files of a temporary installation folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/ConfigTool_posix.h"
#include "common/Base64.h"
#include "common/IniText.h"

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

class ConfigToolTest : public ::testing::Test {
 public:
  void SetUp() override {
    char name[] = "/tmp/companymain-tool-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
  }
  void TearDown() override {
    chmod((folder_ + "/Config").c_str(), 0755);
    std::filesystem::remove_all(folder_);
  }
  int Run(std::vector<std::string> args, const char* codeset = "UTF-8") {
    args.insert(args.begin(), {"--dir", folder_});
    system_ = std::make_unique<CapturedSystem>(TPosixCodePage(codeset));
    return RunConfigTool(args, *system_);
  }
  [[nodiscard]] std::string Read(const std::string& name) const {
    std::ifstream file(folder_ + "/Config/" + name, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
  }
  [[nodiscard]] std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_ + "/Config"))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string folder_;
  std::unique_ptr<CapturedSystem> system_;
};

TEST_F(ConfigToolTest, SetAddressWritesWhatTheLauncherReads) {
  const struct {
    const char* codeset;
    std::string url;
    std::string bytes;  // what the launcher must decode, in the code page
  } cases[] = {
      {"UTF-8", "http://example.com/company/info.aspx", "http://example.com/company/info.aspx"},
      {"UTF-8", "HTTPS://h.example/p?x=1&y=2 ", "HTTPS://h.example/p?x=1&y=2 "},
      {"GBK", "http://酒店.example/信息", "http://\xBE\xC6\xB5\xEA.example/\xD0\xC5\xCF\xA2"},
      // Long enough for the encoder's line breaks: the value stays on one line.
      {"UTF-8", "http://x/" + std::string(600, 'p'), "http://x/" + std::string(600, 'p')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    ASSERT_EQ(Run({"set-address", c.url}, c.codeset), 0) << system_->err;
    const std::string text = Read("Config.ini");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);  // the section and the one value
    const std::string value =
        IniReadString(text, "SysInfo", "CompanyURL", TPosixCodePage(c.codeset));
    EXPECT_EQ(Base64Decode(value), c.bytes);
  }
}

TEST_F(ConfigToolTest, SetAddressRefusesWhatTheLauncherCannotUse) {
  ASSERT_EQ(Run({"set-address", "http://kept.example/"}), 0);
  const std::string kept = Read("Config.ini");
  const struct {
    const char* codeset;
    std::string url;
    std::string says;
  } cases[] = {
      {"UTF-8", "", "为空"},
      {"UTF-8", " \t ", "为空"},
      {"UTF-8", "ftp://example.com/", "http://"},
      {"UTF-8", "javascript:alert(1)", "http://"},
      {"UTF-8", "C:\\Windows\\system32\\calc.exe", "http://"},
      {"UTF-8", "http://x/\r\nother", "换行"},
      {"UTF-8", "http://x/" + std::string(1525, 'p'), "过长"},  // 2048 characters encoded
      {"ISO-8859-1", "http://酒店.example/", "代码页"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(Run({"set-address", c.url}, c.codeset), 2);
    EXPECT_NE(system_->err.find(c.says), std::string::npos) << system_->err;
    EXPECT_EQ(Read("Config.ini"), kept);
  }
  // The longest address that fits is taken: 1533 bytes, 2044 characters encoded.
  EXPECT_EQ(Run({"set-address", "http://x/" + std::string(1524, 'p')}), 0) << system_->err;
}

TEST_F(ConfigToolTest, SetCompanyValuesReadBackExactlyAsTyped) {
  const std::vector<std::pair<std::string, std::string>> values = {
      {"--number", " 007 "},
      {"--type", "R02"},
      {"--name", "\"无锡\" 湖畔 '酒店'"},
      {"--device-id", "'D-1'"},
      {"--upload-user", "ABC1234567890"},
      {"--other", "a = b ; c"},
  };
  std::vector<std::string> args = {"set-company"};
  for (const auto& [option, value] : values) args.insert(args.end(), {option, value});
  for (const char* codeset : {"UTF-8", "GBK"}) {
    SCOPED_TRACE(codeset);
    ASSERT_EQ(Run(args, codeset), 0) << system_->err;
    const std::string file = Read("Company.ini");
    ASSERT_TRUE(file.starts_with("\xFF\xFE"));  // UTF-16 LE with its mark
    const TPosixCodePage codePage(codeset);
    const TIniValues read = IniReadValues(
        file, "Company",
        {"CompanyNum", "CompanyType", "CompanyName", "DeviceId", "UploadUser", "OtherInfo"},
        codePage);
    ASSERT_TRUE(read.sectionFound);
    for (std::size_t i = 0; i < values.size(); ++i)
      EXPECT_EQ(read.values[i],
                codePage.FromUtf16(TPosixCodePage("UTF-8").ToUtf16(values[i].second)))
          << values[i].first;
  }
}

TEST_F(ConfigToolTest, SetCompanyRefusals) {
  const struct {
    const char* codeset;
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {"UTF-8", {"set-company", "--type", "R01", "--name", "n", "--device-id", "d"}, "--number"},
      {"UTF-8",
       {"set-company", "--number", "1", "--type", "R01", "--name", "a\nb", "--device-id", "d"},
       "换行"},
      {"ISO-8859-1",
       {"set-company", "--number", "1", "--type", "R01", "--name", "酒店", "--device-id", "d"},
       "代码页"},
      {"UTF-8",
       {"set-company", "--number", std::string(2048, '7'), "--type", "R01", "--name", "n",
        "--device-id", "d"},
       "过长"},
      {"UTF-8", {"set-company", "--number", "1", "--number", "2"}, "两次"},
      {"UTF-8", {"set-address", "--name", "n", "http://x/"}, "set-company"},
      {"UTF-8", {"check", "--json", "extra"}, "extra"},
      {"UTF-8", {"frobnicate"}, "frobnicate"},
      {"UTF-8", {}, "缺少命令"},
      {"UTF-8", {"set-company", "--other"}, "缺少值"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    EXPECT_EQ(Run(c.args, c.codeset), 2);
    EXPECT_NE(system_->err.find(c.says), std::string::npos) << system_->err;
    EXPECT_FALSE(std::filesystem::exists(folder_ + "/Config/Company.ini"));
  }
}

TEST_F(ConfigToolTest, AFailedWriteChangesNothing) {
  ASSERT_EQ(Run({"set-address", "http://kept.example/"}), 0);
  const std::string kept = Read("Config.ini");
  // The rename that would put the new file in place fails: the old one stays, and the
  // temporary file goes.
  std::filesystem::create_directory(folder_ + "/Config/Company.ini");
  EXPECT_EQ(
      Run({"set-company", "--number", "1", "--type", "R01", "--name", "n", "--device-id", "d"}), 3);
  EXPECT_NE(system_->err.find("无法写入"), std::string::npos) << system_->err;
  EXPECT_TRUE(std::filesystem::is_directory(folder_ + "/Config/Company.ini"));
  EXPECT_EQ(Listing(), (std::vector<std::string>{"Company.ini", "Config.ini"}));

  // A folder closed to writing (not to root, who may write anyway).
  if (geteuid() != 0) {
    chmod((folder_ + "/Config").c_str(), 0555);
    EXPECT_EQ(Run({"set-address", "http://new.example/"}), 3);
    chmod((folder_ + "/Config").c_str(), 0755);
    EXPECT_EQ(Read("Config.ini"), kept);
  }

  // No folder can be made where a file stands.
  std::filesystem::remove_all(folder_ + "/Config");
  std::ofstream(folder_ + "/Config") << "a file";
  EXPECT_EQ(Run({"set-address", "http://new.example/"}), 3);
  EXPECT_NE(system_->err.find("无法创建"), std::string::npos) << system_->err;
  std::filesystem::remove(folder_ + "/Config");
  std::filesystem::create_directory(folder_ + "/Config");
}

TEST_F(ConfigToolTest, CheckTellsWhatTheLauncherWouldDo) {
  EXPECT_EQ(Run({"check"}), 1);
  EXPECT_NE(system_->out.find("读取企业身份信息失败,无法启动软件"), std::string::npos);
  ASSERT_EQ(Run({"set-company", "--number", "1234567890", "--type", "R01", "--name", "",
                 "--device-id", "D1"}),
            0);
  EXPECT_EQ(Run({"check", "--json"}), 1);
  EXPECT_NE(system_->out.find("\"message\":\"配置文件不存在,无法启动软件\""), std::string::npos)
      << system_->out;
  ASSERT_EQ(Run({"set-address", "http://example.com/p"}), 0);
  EXPECT_EQ(Run({"check"}), 0);
  const std::string address =
      "http://example.com/p?Id=MTIzNDU2Nzg5MA==&Name=%E6%97%A0&Type=UjAx&DeviceId=RDE=&other="
      "&Version=NS4wLjAuMA==";
  EXPECT_TRUE(system_->out.ends_with("\n" + address + "\n")) << system_->out;
  EXPECT_NE(system_->out.find("Name = 无"), std::string::npos) << system_->out;
  EXPECT_EQ(Run({"check", "--json"}), 0);
  EXPECT_NE(system_->out.find("\"address\":\"" + address + "\""), std::string::npos);
  EXPECT_NE(system_->out.find("\"encoding\":\"UTF-16 LE\""), std::string::npos);
}

}  // namespace
