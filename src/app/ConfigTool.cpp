#include "app/ConfigTool.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "address/Encoding.h"
#include "app/CompanyMain.h"
#include "app/Version.h"
#include "common/Base64.h"
#include "common/IniText.h"
#include "common/PublicFunction.h"
#include "common/Text.h"
#include "common/Utf.h"
#include "inputs/CompanyIdentity.h"
#include "inputs/ConfigFolder.h"

namespace {

constexpr std::string_view kToolName = "companymain-config";

constexpr std::string_view kUsage =
    "用法:\n"
    "  companymain-config [--dir 文件夹] set-address 网址\n"
    "      写入页面地址 (Config/Config.ini)。网址须以 http:// 或 https:// 开头。\n"
    "  companymain-config [--dir 文件夹] set-company --number 编号 --type 类型 --name 名称\n"
    "      --device-id 设备编号 [--upload-user 上传账号] [--other 其他信息]\n"
    "      写入企业身份 (Config/Company.ini)。\n"
    "  companymain-config [--dir 文件夹] check [--json]\n"
    "      按启动程序的步骤读取配置, 显示它将打开的地址或将显示的消息。\n"
    "  companymain-config --help | --version\n"
    "\n"
    "--dir 指定安装文件夹 (其中有 Config 文件夹); 默认是本工具所在的文件夹。\n"
    "退出码: 0 成功; 1 启动程序将显示消息 (check); 2 命令或内容有误; 3 无法写入。\n";

// ---- Small text helpers ---------------------------------------------------------------------

std::string Ansi(std::string_view utf8, const TCodePage& codePage) {
  return codePage.FromUtf16(Utf8ToUtf16(utf8));
}

// The text reads back as itself from the code page: nothing became "?".
bool Representable(std::string_view utf8, const TCodePage& codePage) {
  return codePage.ToUtf16(Ansi(utf8, codePage)) == Utf8ToUtf16(utf8);
}

std::string Utf8(std::string_view ansi, const TCodePage& codePage) {
  return Utf16ToUtf8(codePage.ToUtf16(ansi));
}

std::string JsonString(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0x0F];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string Hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  }
  return out;
}

std::string FormDecode(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '+') {
      out += ' ';
    } else if (value[i] == '%' && i + 2 < value.size()) {
      out += static_cast<char>(std::stoi(std::string(value.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

// ---- The command line -----------------------------------------------------------------------

struct TCommandLine {
  std::string folder;  // --dir
  std::string command;
  std::vector<std::string> operands;
  std::map<std::string, std::string> options;  // set-company's --name value, ...
  bool json = false;
  bool help = false;
  bool version = false;
  std::string error;
};

TCommandLine Parse(const std::vector<std::string>& args) {
  static const std::vector<std::string> kValueOptions = {"--number",    "--type",        "--name",
                                                         "--device-id", "--upload-user", "--other"};
  TCommandLine line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> const std::string* {
      if (i + 1 >= args.size()) {
        line.error = "选项 " + arg + " 后面缺少值。";
        return nullptr;
      }
      return &args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (arg == "--json") {
      line.json = true;
    } else if (arg == "--dir") {
      if (const std::string* v = value()) line.folder = *v;
    } else if (std::find(kValueOptions.begin(), kValueOptions.end(), arg) != kValueOptions.end()) {
      if (line.options.contains(arg)) line.error = "选项 " + arg + " 给了两次。";
      if (const std::string* v = value()) line.options[arg] = *v;
    } else if (arg.starts_with("--") && arg.size() > 2) {
      line.error = "不认识的选项: " + arg;
    } else if (line.command.empty()) {
      line.command = arg;
    } else {
      line.operands.push_back(arg);
    }
    if (!line.error.empty()) break;
  }
  return line;
}

// ---- Writing --------------------------------------------------------------------------------

class TTool {
 public:
  TTool(TConfigToolSystem& system, const TCommandLine& line) : system_(system), line_(line) {}

  int Run();

 private:
  int Refuse(const std::string& why) {
    system_.Err("错误: " + why + "\n");
    return kToolRefused;
  }
  // The installation folder, ending with the separator; "" when it cannot be told.
  std::string Folder() {
    // By default the folder of the tool itself, which is the launcher's.
    return line_.folder.empty() ? TSysOper::GetAppPath() : system_.FullFolder(line_.folder);
  }
  std::string ConfigFolder(const std::string& folder) { return folder + "Config"; }
  int Write(const std::string& name, std::string_view bytes);

  int SetAddress();
  int SetCompany();
  int Check();
  int Version();

  TConfigToolSystem& system_;
  const TCommandLine& line_;
};

int TTool::Write(const std::string& name, std::string_view bytes) {
  const std::string folder = Folder();
  if (folder.empty()) {
    system_.Err("错误: 无法确定安装文件夹, 请用 --dir 指定。\n");
    return kToolWriteFailed;
  }
  const std::string config = ConfigFolder(folder);
  if (!system_.MakeFolder(config)) {
    system_.Err("错误: 无法创建文件夹 " + config + "\n");
    return kToolWriteFailed;
  }
  const std::string path = config + TSysOper::PathSeparator() + name;
  std::string error;
  if (!system_.ReplaceFile(path, bytes, error)) {
    system_.Err("错误: 无法写入 " + path + ": " + error + " (原文件未改动)\n");
    return kToolWriteFailed;
  }
  system_.Out("已写入 " + path + "\n");
  return kToolOk;
}

int TTool::SetAddress() {
  if (line_.operands.size() != 1) return Refuse("set-address 需要一个网址。");
  const std::string& url = line_.operands[0];
  const TCodePage& codePage = system_.AnsiCodePage();
  if (TrimView(url).empty()) return Refuse("页面地址为空。");
  // The launcher on Windows hands only web addresses to the default browser: anything else
  // would open a file or run a program named in the configuration.
  if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) {
    return Refuse("页面地址须以 http:// 或 https:// 开头 (启动程序只把网页地址交给默认浏览器)。");
  }
  if (url.find_first_of("\r\n") != std::string::npos) return Refuse("页面地址不能包含换行。");
  if (!Representable(url, codePage)) return Refuse("页面地址含有本机代码页无法表示的字符。");
  std::string encoded = Base64Encode(Ansi(url, codePage));
  std::erase(encoded, '\r');
  std::erase(encoded, '\n');
  if (encoded.size() > kIniValueMax) {
    return Refuse("页面地址过长: 编码后 " + std::to_string(encoded.size()) + " 个字符, 最多 " +
                  std::to_string(kIniValueMax) + " 个。");
  }
  // Base64 is ASCII: the file reads the same in every code page.
  return Write("Config.ini", "[SysInfo]\r\nCompanyURL=" + encoded + "\r\n");
}

int TTool::SetCompany() {
  if (!line_.operands.empty()) return Refuse("set-company 不接受 " + line_.operands[0]);
  struct TField {
    const char* option;
    const char* key;
    bool required;
  };
  static const TField kFields[] = {
      {"--number", "CompanyNum", true},       {"--type", "CompanyType", true},
      {"--name", "CompanyName", true},        {"--device-id", "DeviceId", true},
      {"--upload-user", "UploadUser", false}, {"--other", "OtherInfo", false},
  };
  const TCodePage& codePage = system_.AnsiCodePage();
  std::u16string text = u"\uFEFF[Company]\r\n";
  for (const TField& field : kFields) {
    const auto found = line_.options.find(field.option);
    if (found == line_.options.end() && field.required)
      return Refuse(std::string("缺少 ") + field.option + "。");
    const std::string value = found == line_.options.end() ? "" : found->second;
    if (value.find_first_of("\r\n") != std::string::npos)
      return Refuse(std::string(field.option) + " 不能包含换行。");
    // The launcher reads the file in its code page: what that cannot hold would reach the web
    // system as "?", and what it cuts would be lost.
    if (!Representable(value, codePage))
      return Refuse(std::string(field.option) + " 含有本机代码页无法表示的字符: " + value);
    if (Ansi(value, codePage).size() > kIniValueMax)
      return Refuse(std::string(field.option) + " 过长 (最多 " + std::to_string(kIniValueMax) +
                    " 字节)。");
    // The reader trims blanks and takes off one pair of outer quotes: quoted, a value reads
    // back exactly as given.
    const bool quote =
        TrimView(value) != value || (value.size() >= 2 && value.front() == value.back() &&
                                     (value.front() == '"' || value.front() == '\''));
    const std::string line =
        std::string(field.key) + "=" + (quote ? "\"" + value + "\"" : value) + "\r\n";
    text += Utf8ToUtf16(line);
  }
  // UTF-16 LE with its mark reads the same in every code page.
  return Write("Company.ini", Utf16ToBytes(text, false));
}

int TTool::Version() {
  system_.Out(std::string(kToolName) + " " + kProgramVersion + "\n");
  const std::string folder = Folder();
  const std::string launcher = folder.empty() ? "" : system_.LauncherVersion(folder);
  if (!launcher.empty()) system_.Out("CompanyMain " + launcher + "\n");
  return kToolOk;
}

// ---- check ----------------------------------------------------------------------------------

// What the launcher asks of the desktop, noted instead of done.
class TReportingDesktop final : public TDesktop {
 public:
  explicit TReportingDesktop(const TCodePage& codePage) : codePage_(codePage) {}
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return codePage_; }
  void ShowMessage(std::string_view utf8Text) override {
    if (!message) message = std::string(utf8Text);
  }
  bool OpenBrowser(const std::string& text) override {
    address = text;
    return true;
  }
  void RequestEnd() override {}

  std::optional<std::string> message;
  std::optional<std::string> address;

 private:
  const TCodePage& codePage_;
};

// The real Config folder, with a note of every file the launcher looked at.
class TRecordingConfigFolder final : public TConfigFolder {
 public:
  struct TFile {
    std::string path;
    std::string section;
    std::vector<std::string> keys;
    std::optional<TIniValues> read;
  };

  TRecordingConfigFolder(const TCodePage& codePage, std::string folder)
      : real_(codePage, std::move(folder)) {}

  std::string PathOf(std::string_view fileName) override { return real_.PathOf(fileName); }
  bool FileExists(const std::string& path) override {
    Note(path);
    return real_.FileExists(path);
  }
  std::optional<TIniValues> ReadIniValues(const std::string& path, std::string_view section,
                                          const std::vector<std::string>& keys) override {
    TFile& file = Note(path);
    file.section = std::string(section);
    file.keys = keys;
    file.read = real_.ReadIniValues(path, section, keys);
    return file.read;
  }

  std::vector<TFile> files;

 private:
  TFile& Note(const std::string& path) {
    for (TFile& file : files)
      if (file.path == path) return file;
    files.push_back({path, {}, {}, std::nullopt});
    return files.back();
  }
  TProgramConfigFolder real_;
};

std::string EncodingOf(const std::optional<std::string>& start) {
  if (!start) return "";
  switch (IniEncodingOf(*start)) {
    case TIniEncoding::Utf8:
      return "UTF-8 BOM";
    case TIniEncoding::Utf16Le:
      return "UTF-16 LE";
    case TIniEncoding::Utf16Be:
      return "UTF-16 BE";
    case TIniEncoding::Ansi:
      break;
  }
  return "ANSI";
}

int TTool::Check() {
  const std::string folder = Folder();
  const TCodePage& codePage = system_.AnsiCodePage();
  TReportingDesktop desktop(codePage);
  TRecordingConfigFolder config(codePage, folder);
  TIniCompanyIdentitySource identitySource(config);
  TFrm_CompanyMain form(desktop, config, identitySource);
  form.FormCreate();
  form.FormShow();
  const bool ok = !desktop.message && desktop.address;

  // The values as the web system receives them, read back out of the address.
  std::vector<std::pair<std::string, std::string>> sent;
  if (ok) {
    const std::string& address = *desktop.address;
    std::string_view query = std::string_view(address).substr(address.rfind("?Id=") + 1);
    while (!query.empty()) {
      const std::size_t amp = query.find('&');
      const std::string_view pair = query.substr(0, amp);
      const std::string key(pair.substr(0, pair.find('=')));
      const std::string_view value = pair.substr(pair.find('=') + 1);
      const bool form = key == "Name" || key == "other";
      sent.emplace_back(key, form ? FormDecode(value) : Utf8(Base64Decode(value), codePage));
      query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
  }

  struct TFileReport {
    std::string name, path, state, encoding;
    bool sectionFound = false;
    std::string section;
    std::vector<std::pair<std::string, std::string>> values;
  };
  std::vector<TFileReport> reports;
  for (const auto& file : config.files) {
    TFileReport report;
    report.path = file.path;
    report.name = file.path.substr(file.path.find_last_of("/\\") + 1);
    const bool exists = TFileOper::FileExists(file.path);
    report.state = !exists ? "missing" : file.read ? "read" : "unreadable";
    if (exists) report.encoding = EncodingOf(system_.FileStart(file.path));
    report.section = file.section;
    if (file.read) {
      report.sectionFound = file.read->sectionFound;
      for (std::size_t i = 0; i < file.keys.size(); ++i)
        report.values.emplace_back(file.keys[i], Utf8(file.read->values[i], codePage));
    }
    reports.push_back(report);
  }

  if (line_.json) {
    std::string json = "{\"ok\":" + std::string(ok ? "true" : "false");
    json += ",\"folder\":" + JsonString(folder);
    if (ok) {
      json += ",\"address\":" + JsonString(Utf8(*desktop.address, codePage));
      json += ",\"addressBytes\":" + JsonString(Hex(*desktop.address));
      json += ",\"sent\":{";
      for (std::size_t i = 0; i < sent.size(); ++i)
        json += (i ? "," : "") + JsonString(sent[i].first) + ":" + JsonString(sent[i].second);
      json += "}";
    } else {
      json += ",\"message\":" + JsonString(desktop.message.value_or(""));
    }
    json += ",\"files\":[";
    for (std::size_t i = 0; i < reports.size(); ++i) {
      const TFileReport& r = reports[i];
      json += std::string(i ? "," : "") + "{\"name\":" + JsonString(r.name) +
              ",\"path\":" + JsonString(r.path) + ",\"state\":" + JsonString(r.state);
      if (!r.encoding.empty()) json += ",\"encoding\":" + JsonString(r.encoding);
      if (r.state == "read") {
        json += ",\"section\":" + JsonString(r.section) +
                ",\"sectionFound\":" + (r.sectionFound ? "true" : "false") + ",\"values\":{";
        for (std::size_t k = 0; k < r.values.size(); ++k) {
          // Appended piece by piece: GCC 12 takes "," + std::string for an overlapping copy
          // (-Wrestrict) in optimized builds.
          if (k > 0) json += ',';
          json += JsonString(r.values[k].first);
          json += ':';
          json += JsonString(r.values[k].second);
        }
        json += "}";
      }
      json += "}";
    }
    json += "],\"version\":" + JsonString(kProgramVersion) + "}\n";
    system_.OutUtf8(json);
    return ok ? kToolOk : kToolLauncherWouldRefuse;
  }

  static const std::map<std::string, std::string> kStates = {
      {"missing", "不存在"}, {"unreadable", "无法读取"}, {"read", "已读取"}};
  static const std::map<std::string, std::string> kEncodings = {
      {"ANSI", "本机代码页"},
      {"UTF-8 BOM", "UTF-8 (带 BOM)"},
      {"UTF-16 LE", "UTF-16 LE (带 BOM)"},
      {"UTF-16 BE", "UTF-16 BE (带 BOM)"}};
  system_.Out("安装文件夹: " + (folder.empty() ? std::string("(无法确定)") : folder) + "\n");
  for (const TFileReport& r : reports) {
    std::string line = r.name + ": " + kStates.at(r.state);
    if (!r.encoding.empty()) line += ", 编码 " + kEncodings.at(r.encoding);
    if (r.state == "read")
      line += ", [" + r.section + "] 节" + (r.sectionFound ? "存在" : "不存在");
    system_.Out(line + "  (" + r.path + ")\n");
  }
  if (!ok) {
    system_.Out("启动程序将显示: " + desktop.message.value_or("") + "\n");
    return kToolLauncherWouldRefuse;
  }
  system_.Out("发送的企业身份:\n");
  for (const auto& [key, value] : sent) system_.Out("  " + key + " = " + value + "\n");
  system_.Out("启动程序将打开:\n");
  system_.OutAddress(*desktop.address);
  system_.Out("\n");
  return kToolOk;
}

int TTool::Run() {
  if (!line_.error.empty()) return Refuse(line_.error + "\n" + std::string(kUsage));
  if (line_.help) {
    system_.Out(kUsage);
    return kToolOk;
  }
  if (line_.version) return Version();
  if (line_.command == "set-address") return SetAddress();
  if (line_.command == "set-company") return SetCompany();
  if (line_.command == "check") {
    if (!line_.operands.empty()) return Refuse("check 不接受 " + line_.operands[0]);
    return Check();
  }
  if (line_.command.empty()) return Refuse("缺少命令。\n" + std::string(kUsage));
  return Refuse("不认识的命令: " + line_.command + "\n" + std::string(kUsage));
}

}  // namespace

int RunConfigTool(const std::vector<std::string>& args, TConfigToolSystem& system) {
  const TCommandLine line = Parse(args);
  // Options of one command given to another are mistakes, not wishes.
  if (line.error.empty() && !line.options.empty() && line.command != "set-company") {
    TCommandLine wrong = line;
    wrong.error = "选项 " + line.options.begin()->first + " 只用于 set-company。";
    return TTool(system, wrong).Run();
  }
  if (line.error.empty() && line.json && line.command != "check") {
    TCommandLine wrong = line;
    wrong.error = "--json 只用于 check。";
    return TTool(system, wrong).Run();
  }
  return TTool(system, line).Run();
}
