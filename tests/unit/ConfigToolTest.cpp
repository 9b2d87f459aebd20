// The configuration tool's rules against a system of strings: what it writes, keeps, refuses
// and reports, and what it asks of the system.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FakeDesktop.h"
#include "GbkCodePage.h"
#include "Latin1CodePage.h"
#include "common/Base64.h"
#include "common/IniText.h"
#include "common/Utf.h"
#include "inputs/InstallationFiles.h"
#include "launch/Messages.h"
#include "settings/Settings.h"
#include "tool/ConfigTool.h"
#include "tool/Json.h"

namespace {

// UTF-8 as the ANSI code page, as on a Linux desktop in a UTF-8 locale.
class Utf8CodePage final : public TCodePage {
 public:
  [[nodiscard]] std::u16string ToUtf16(std::string_view ansi) const override {
    return Utf8ToUtf16(ansi);
  }
  [[nodiscard]] std::string FromUtf16(std::u16string_view units) const override {
    return Utf16ToUtf8(units);
  }
};

const std::string kProgram = "/opt/app/";
const std::string kConfig = "/opt/app/Config";
const std::string kConfigIni = "/opt/app/Config/Config.ini";
const std::string kCompanyIni = "/opt/app/Config/Company.ini";
const std::string kPending = "/opt/app/Config/.companymain-config.pending";
// Where the Config link leads, as the package has it.
const std::string kReal = "/etc/companymain";

// Files are strings; every change is written to a log.
class FakeSystem final : public TConfigToolSystem, public TConfigFolder {
 public:
  explicit FakeSystem(std::unique_ptr<TCodePage> codePage = std::make_unique<Utf8CodePage>())
      : codePage_(std::move(codePage)) {
    folders.insert(kConfig);
  }

  std::string Translate(const char* english) override { return english; }
  [[nodiscard]] std::string ProgramName() const override { return "companymain-config"; }
  std::string ElevationRemedy() override { return "Run it as root."; }
  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return *codePage_; }
  std::optional<std::string> ArgumentText(const std::string& argument) override {
    // Bytes that are no UTF-8 are no text here.
    if (Utf16ToUtf8(Utf8ToUtf16(argument)) != argument) return std::nullopt;
    return argument;
  }
  std::string PathText(const std::string& path) override { return "<" + path + ">"; }

  [[nodiscard]] char PathSeparator() const override { return '/'; }
  std::string ProgramFolder() override { return kProgram; }
  std::string FullFolder(const std::string& folder) override { return folder + "/"; }
  std::string RealPath(const std::string& path) override {
    return path.starts_with(kConfig) && folders.contains(kConfig) && linked
               ? kReal + path.substr(kConfig.size())
               : path;
  }

  TConfigFolder& Files() override { return *this; }
  std::string PathOf(std::string_view name) override { return kConfig + "/" + std::string(name); }
  bool FileExists(const std::string& path) override { return files.contains(path); }
  TFileRead ReadSection(const std::string& path, std::string_view section,
                        const std::vector<std::string>& keys, const TCodePage& ansi,
                        const TCodePage& unicodeText) override {
    if (unreadable.contains(path)) return {TFileRead::State::Unreadable, {}, {}, 13};
    if (!files.contains(path)) return {};
    const TIniEncoding encoding = IniEncodingOf(files[path]);
    return {TFileRead::State::Read, encoding,
            IniReadValues(files[path], section, keys,
                          encoding == TIniEncoding::Ansi ? ansi : unicodeText),
            0};
  }
  TFileBytes ReadWhole(const std::string& path, std::size_t) override {
    if (unreadable.contains(path)) return {TFileRead::State::Unreadable, {}, 13};
    if (!files.contains(path)) return {};
    return {TFileRead::State::Read, files[path], 0};
  }
  TFailure ReadFailure(std::uint32_t error) override {
    return {error == 13 ? "Permission denied" : "error " + std::to_string(error), error == 13};
  }
  std::optional<TClosed> ClosedToOthers(const std::string& path) override {
    for (const auto& [prefix, closed] : closedToOthers)
      if (path.starts_with(prefix)) return closed;
    return std::nullopt;
  }
  std::string LauncherVersion(const std::string&) override { return "1.0.0"; }
  [[nodiscard]] bool HasRegistry() const override { return hasRegistry; }
  [[nodiscard]] bool StartedThroughPkexec() const override { return pkexec; }

  // The change works on the paths, through the methods below.
  class Change final : public TChange {
   public:
    Change(FakeSystem& system, std::string config) : system_(system), config_(std::move(config)) {}
    TFileBytes Read(std::string_view name) override { return system_.ReadWhole(Path(name), 0); }
    bool Lock(int waitSeconds, TFailure& failure) override {
      if (!system_.MakeFolder(config_, failure)) {
        failure.folder = true;
        return false;
      }
      return system_.LockForWriting(config_, waitSeconds, failure);
    }
    bool Replace(std::string_view name, std::string_view bytes, TFailure& failure) override {
      return system_.ReplaceFile(Path(name), bytes, failure);
    }
    bool Remove(std::string_view name, TFailure&) override {
      system_.log.push_back("remove " + Path(name));
      system_.files.erase(Path(name));
      return true;
    }
    std::string Shown(std::string_view name) override {
      return system_.PathText(system_.RealPath(config_)) + "/" + std::string(name);
    }

   private:
    std::string Path(std::string_view name) { return config_ + "/" + std::string(name); }
    FakeSystem& system_;
    std::string config_;
  };
  std::unique_ptr<TChange> BeginChange(const std::string& config, const std::vector<std::string>&,
                                       TFailure&) override {
    return std::make_unique<Change>(*this, config);
  }
  // Another writer holds the configuration while heldBy runs: the lock is had afterwards.
  bool LockForWriting(const std::string& folder, int waitSeconds, TFailure& failure) {
    locks.push_back(folder + " " + std::to_string(waitSeconds));
    if (lockHeld) {
      failure.held = true;
      return false;
    }
    if (heldBy) std::exchange(heldBy, nullptr)();
    return true;
  }
  bool MakeFolder(const std::string& path, TFailure& failure) {
    if (folders.contains(path)) return true;
    if (folderFailure) {
      failure = *folderFailure;
      return false;
    }
    log.push_back("mkdir " + path);
    folders.insert(path);
    return true;
  }
  bool ReplaceFile(const std::string& path, std::string_view bytes, TFailure& failure) {
    if (writeFailure) {
      failure = *writeFailure;
      return false;
    }
    if (++writes == failingWrite) {
      failure = {"No space left on device", false};
      return false;
    }
    log.push_back("write " + path);
    files[path] = std::string(bytes);
    return true;
  }
  bool RegistryTexts(const std::string& key, const std::vector<std::string>& names,
                     std::map<std::string, std::string>& texts, TFailure& failure) override {
    const auto found = registry.find(key);
    if (found == registry.end()) {
      failure = {"The system cannot find the file specified", false};
      return false;
    }
    for (const std::string& name : names) {
      if (found->second.contains(name)) texts[name] = found->second.at(name);
    }
    return true;
  }

  bool ReadInput(const std::string& path, std::size_t limit, std::string& bytes,
                 TFailure& failure) override {
    const auto found = inputs.find(path);
    if (found == inputs.end()) {
      failure = {"No such file or directory", false};
      return false;
    }
    bytes = found->second.substr(0, limit + 1);
    return true;
  }

  void Out(std::string_view utf8) override { out += utf8; }
  void Err(std::string_view utf8) override { err += utf8; }
  void OutAddress(std::string_view ansi) override { out += ansi; }
  void OutUtf8(std::string_view utf8) override { out += utf8; }

  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  std::set<std::string> unreadable;
  std::map<std::string, TClosed> closedToOthers;
  std::optional<TFailure> folderFailure, writeFailure;
  int writes = 0;
  int failingWrite = 0;  // the write of this number (1, 2, ...) finds the disk full
  // Registry keys under HKEY_LOCAL_MACHINE: value name to text.
  std::map<std::string, std::map<std::string, std::string>> registry;
  // What --values-from reads: a path, or "-" for standard input.
  std::map<std::string, std::string> inputs;
  bool linked = true;
  bool hasRegistry = false;
  bool pkexec = false;
  std::vector<std::string> log;
  std::vector<std::string> locks;  // folder and wait of each lock asked for
  bool lockHeld = false;
  std::function<void()> heldBy;
  std::string out, err;

 private:
  std::unique_ptr<TCodePage> codePage_;
};

const std::vector<std::string> kKeys = {"CompanyNum", "CompanyType", "CompanyName",
                                        "DeviceId",   "UploadUser",  "OtherInfo"};

// The identity as the launcher reads it from the system's Company.ini.
std::vector<std::string> Stored(FakeSystem& system) {
  const TIniValues read =
      IniReadValues(system.files[kCompanyIni], "Company", kKeys, system.AnsiCodePage());
  return read.sectionFound ? read.values : std::vector<std::string>{};
}

std::string AddressFile(std::string_view url) {
  std::string encoded = Base64Encode(url);
  std::erase(encoded, '\r');
  std::erase(encoded, '\n');
  return "[SysInfo]\r\nCompanyURL=" + encoded + "\r\n";
}

const std::string kIdentity =
    "[Company]\r\nCompanyNum=1234567890\r\nCompanyType=R01\r\nCompanyName=Hotel\r\n"
    "DeviceId=D1\r\nUploadUser=up\r\nOtherInfo=note\r\n";
// kIdentity's values, in kKeys' order.
const std::vector<std::string> kStored = {"1234567890", "R01", "Hotel", "D1", "up", "note"};

// kStored with the values of the keys named changed (a key that is none throws).
std::vector<std::string> StoredWith(const std::map<std::string, std::string>& changes) {
  std::vector<std::string> values = kStored;
  for (const auto& [key, value] : changes)
    values.at(static_cast<std::size_t>(std::find(kKeys.begin(), kKeys.end(), key) -
                                       kKeys.begin())) = value;
  return values;
}

TEST(ConfigTool, SetCompanyChangesWhatItIsGivenAndKeepsTheRest) {
  const struct {
    const char* name;
    std::optional<std::string> before;  // Company.ini, or none
    std::vector<std::string> args;
    int code;
    std::vector<std::string> after;  // the identity read back; {} when there is none
    std::string says;                // in the one line of output or the error
    bool gbk = false;                // the code page is GBK, not UTF-8
  } cases[] = {
      {"a first identity",
       std::nullopt,
       {"--number", "1", "--type", "R01", "--device-id", "D1"},
       0,
       {"1", "R01", "", "D1", "", ""},
       "CompanyNum, CompanyType, DeviceId changed"},
      {"a first identity needs number, type and device id",
       std::nullopt,
       {"--name", "Hotel", "--type", "R01"},
       2,
       {},
       "holds no company identity yet: give --number --device-id"},
      {"a file without the section holds no identity",
       "[Compnay]\r\nCompanyNum=1\r\n",
       {"--device-id", "D2"},
       2,
       {},
       "give --number --type"},
      {"one value alone",
       kIdentity,
       {"--device-id", "D2"},
       0,
       StoredWith({{"DeviceId", "D2"}}),
       "DeviceId changed"},
      {"the name cleared",
       kIdentity,
       {"--name", ""},
       0,
       StoredWith({{"CompanyName", ""}}),
       "CompanyName changed"},
      {"upload user and other cleared",
       kIdentity,
       {"--upload-user", "", "--other", ""},
       0,
       StoredWith({{"UploadUser", ""}, {"OtherInfo", ""}}),
       "UploadUser, OtherInfo changed"},
      {"the same values",
       kIdentity,
       {"--number", "1234567890", "--name", "Hotel"},
       0,
       kStored,
       "nothing changed"},
      {"no option at all changes nothing", kIdentity, {}, 0, kStored, "nothing changed"},
      {"a blank number", kIdentity, {"--number", ""}, 2, kStored, "--number must not be blank"},
      {"a number of blanks",
       kIdentity,
       {"--number", " \t "},
       2,
       kStored,
       "--number must not be blank"},
      {"a blank type",
       kIdentity,
       {"--type", "", "--device-id", "D2"},
       2,
       kStored,
       "--type must not be blank"},
      {"a blank device id",
       kIdentity,
       {"--device-id", " "},
       2,
       kStored,
       "--device-id must not be blank"},
      {"a hand-written file with a blank number is read, but not kept blank",
       "[Company]\r\nCompanyNum=\r\nCompanyType=R01\r\nDeviceId=D1\r\n",
       {"--name", "New"},
       2,
       {"", "R01", "", "D1", "", ""},
       "The stored CompanyNum is blank: give --number"},
      {"the stored number given with the change",
       "[Company]\r\nCompanyNum=\r\nCompanyType=R01\r\nDeviceId=D1\r\n",
       {"--number", "7"},
       0,
       {"7", "R01", "", "D1", "", ""},
       "CompanyNum changed"},
      {"kept values keep their blanks and quotes",
       "[Company]\r\nCompanyNum=\" 007 \"\r\nCompanyType=R02\r\nCompanyName='\"q\"'\r\n"
       "DeviceId=D1\r\nOtherInfo=a\\\r\n",
       {"--upload-user", "ABC1234567890"},
       0,
       {" 007 ", "R02", "\"q\"", "D1", "ABC1234567890", "a\\"},
       "UploadUser changed"},
      // Stored in the code page, given in UTF-8: the same text all the same.
      {"a Chinese name kept and a Chinese note given again, in GBK",
       "[Company]\r\nCompanyNum=1234567890\r\nCompanyType=R01\r\nCompanyName=\xBE\xC6\xB5\xEA\r\n"
       "DeviceId=D1\r\nUploadUser=up\r\nOtherInfo=\xB1\xB8\xD7\xA2\r\n",
       {"--other", "备注", "--device-id", "D1"},
       0,
       StoredWith({{"CompanyName", "\xBE\xC6\xB5\xEA"}, {"OtherInfo", "\xB1\xB8\xD7\xA2"}}),
       "nothing changed",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system(c.gbk ? std::unique_ptr<TCodePage>(std::make_unique<GbkCodePage>())
                            : std::make_unique<Utf8CodePage>());
    if (c.before) system.files[kCompanyIni] = *c.before;
    const std::string before = system.files[kCompanyIni];
    std::vector<std::string> args = {"set-company"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(RunConfigTool(args, system), c.code) << system.err;
    EXPECT_EQ(Stored(system), c.after);
    const bool wrote = !system.log.empty();
    EXPECT_EQ(wrote, c.code == 0 && c.says.find("nothing") == std::string::npos);
    if (!wrote) {
      EXPECT_EQ(system.files[kCompanyIni], before);
    }
    EXPECT_NE((system.out + system.err).find(c.says), std::string::npos)
        << system.out << system.err;
  }
}

TEST(ConfigTool, EveryValueIsWrittenExactlyOrRefused) {
  const std::string longest(kIniValueMax, '7');
  const struct {
    std::string value;
    bool latin1 = false;  // in a code page without Chinese
    int code = 0;
    std::string says = "";
  } cases[] = {
      {"dom\\"},
      {"\\\\server\\share\\"},
      {"\"quoted\""},
      {"'single'"},
      {"\"\""},
      {"''"},
      {"\""},
      {"\"unbalanced"},
      {"mixed\" and '"},
      {"100% = 50%+50%"},
      {"%E6%97%A0"},
      {"  blanks around  "},
      {"\ttab\t"},
      {"a;b#c=d[e]"},
      {"无锡 湖畔 \"酒店\" \\"},
      {"\xF0\x9F\x8F\xA8 outside the basic plane"},
      {longest},
      {" " + longest.substr(2) + " "},
      {longest + "7", false, 2, " is 1 character too long."},
      // Counted in characters, not in the bytes the limit counts.
      {std::string(kIniValueMax - 1, 'x') + "无", false, 2, " is 1 character too long."},
      {Utf16ToUtf8(std::u16string(700, u'\u9152')), false, 2, " is 18 characters too long."},
      {std::string(kIniValueMax - 1, 'x') + "\xF0\x9F\x8F\xA8", false, 2,
       " is 1 character too long."},
      {"line\nbreak", false, 2, "line break"},
      {"carriage\rreturn", false, 2, "line break"},
      {"酒店", true, 2, "code page cannot hold"},
      {"caf\xC3\xA9 \\", true},
  };
  for (const auto& c : cases) {
    for (const char* option : {"--name", "--other", "--upload-user", "--number"}) {
      SCOPED_TRACE(c.value.substr(0, 40) + " as " + option);
      FakeSystem system(c.latin1 ? std::unique_ptr<TCodePage>(std::make_unique<Latin1CodePage>())
                                 : std::make_unique<Utf8CodePage>());
      system.files[kCompanyIni] = kIdentity;
      const std::vector<std::string> args = {"set-company", option, c.value};
      ASSERT_EQ(RunConfigTool(args, system), c.code) << system.err;
      const std::size_t index = std::string_view(option) == "--name"          ? 2
                                : std::string_view(option) == "--other"       ? 5
                                : std::string_view(option) == "--upload-user" ? 4
                                                                              : 0;
      const std::vector<std::string> read = Stored(system);
      if (c.code == 0) {
        EXPECT_EQ(read[index], system.AnsiCodePage().FromUtf16(Utf8ToUtf16(c.value)));
        EXPECT_EQ(Utf16ToUtf8(system.AnsiCodePage().ToUtf16(read[index])), c.value);
      } else {
        EXPECT_EQ(system.files[kCompanyIni], kIdentity);
        EXPECT_NE(system.err.find(c.says), std::string::npos) << system.err;
      }
    }
  }
}

// The C locale's code page: ASCII, every other byte no text.
class AsciiCodePage final : public TCodePage {
 public:
  [[nodiscard]] std::u16string ToUtf16(std::string_view ansi) const override {
    std::u16string out;
    for (const char c : ansi) out += static_cast<unsigned char>(c) < 0x80 ? c : u'\uFFFD';
    return out;
  }
  [[nodiscard]] std::string FromUtf16(std::u16string_view units) const override {
    std::string out;
    for (const char16_t unit : units) out += unit < 0x80 ? static_cast<char>(unit) : '?';
    return out;
  }
};

// The text in a file's encoding: ANSI and UTF-8 as they are, UTF-16 as its units' bytes.
std::string Encoded(std::string_view utf8, TIniEncoding encoding) {
  if (encoding != TIniEncoding::Utf16Le && encoding != TIniEncoding::Utf16Be)
    return std::string(utf8);
  return Utf16ToBytes(Utf8ToUtf16(utf8), encoding == TIniEncoding::Utf16Be);
}

// The file changed in place: one line's value replaced, every other byte kept, whatever the
// session's code page makes of them; a value the file's encoding cannot take is refused.
TEST(ConfigTool, AChangeRewritesOneLineAndKeepsEveryOtherByte) {
  // Written by the tool in a UTF-8 session: a Unicode file.
  FakeSystem writer;
  ASSERT_EQ(RunConfigTool({"set-company", "--number", "1", "--type", "R01", "--device-id", "D1",
                           "--name", "某某酒店 北楼", "--other", "前台 1"},
                          writer),
            0);
  // What installers leave: a comment, a key of their own, another section, LF line ends.
  const std::string hand =
      "; front desk PC\n[Company]\nCompanyNum=1\nCompanyType=R01\nRoomCount=180\nDeviceId=D1"
      "\n[Printer]\nName=HP\n";
  const std::string files[] = {
      writer.files[kCompanyIni],
      // Written by hand in GBK: 酒店 as its GBK bytes, no byte order mark.
      "[Company]\r\nCompanyNum=1\r\nCompanyType=R01\r\nCompanyName=\xBE\xC6\xB5\xEA\r\n"
      "DeviceId=D1\r\nUploadUser=\r\nOtherInfo=\r\n",
      // A UTF-16 file whose kept name holds a lone surrogate: kept, never made U+FFFD.
      Utf16ToBytes(u"\uFEFF[Company]\r\nCompanyNum=1\r\nCompanyType=R01\r\nCompanyName=a\xD800z\r\n"
                   u"DeviceId=D1\r\n",
                   false),
      hand, Encoded("\uFEFF" + hand, TIniEncoding::Utf16Be), "\xEF\xBB\xBF" + hand};
  const std::function<std::unique_ptr<TCodePage>()> sessions[] = {
      [] { return std::make_unique<GbkCodePage>(); },
      [] { return std::make_unique<Latin1CodePage>(); },
      [] { return std::make_unique<AsciiCodePage>(); }};
  const struct {
    std::size_t file, session;
    std::vector<std::string> args;
    std::string from, to;  // the text in the file that changes, in UTF-8; "" when refused
  } cases[] = {
      {1, 2, {"--name", "Inn"}, "CompanyName=\xBE\xC6\xB5\xEA", "CompanyName=Inn"},
      {1, 2, {"--name", "旅店"}, "", ""},
      {1, 0, {"--other", "备注"}, "OtherInfo=\r\n", "OtherInfo=\xB1\xB8\xD7\xA2\r\n"},
      // Nothing added that is not given; a key the section lacks after its last key line.
      {3, 1, {"--device-id", "D2", "--other", ""}, "DeviceId=D1", "DeviceId=D2"},
      {3, 1, {"--name", "Inn"}, "DeviceId=D1\n", "DeviceId=D1\nCompanyName=Inn\n"},
      {4, 0, {"--name", "酒店"}, "DeviceId=D1\n", "DeviceId=D1\nCompanyName=酒店\n"},
      {5, 2, {"--device-id", "D2"}, "DeviceId=D1", "DeviceId=D2"},
  };
  std::vector<std::decay_t<decltype(cases[0])>> rows(std::begin(cases), std::end(cases));
  // The device id of every file changed from every session.
  for (std::size_t file = 0; file < std::size(files); ++file)
    for (std::size_t session = 0; session < std::size(sessions); ++session)
      rows.push_back({file, session, {"--device-id", "D6"}, "DeviceId=D1", "DeviceId=D6"});
  for (const auto& c : rows) {
    SCOPED_TRACE(std::to_string(c.file) + " in session " + std::to_string(c.session) + ": " +
                 c.args[1]);
    FakeSystem system(sessions[c.session]());
    const std::string& before = files[c.file];
    system.files[kCompanyIni] = before;
    std::vector<std::string> args = {"set-company"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(RunConfigTool(args, system), c.from.empty() ? 2 : 0) << system.err;
    std::string expected = before;
    if (c.from.empty()) {
      EXPECT_NE(system.err.find("--name holds characters this computer's code page cannot hold"),
                std::string::npos);
    } else {
      const std::string from = Encoded(c.from, IniEncodingOf(before));
      ASSERT_NE(expected.find(from), std::string::npos);
      expected.replace(expected.find(from), from.size(), Encoded(c.to, IniEncodingOf(before)));
      const std::string key = c.to.substr(c.to.rfind('\n', c.to.size() - 2) + 1);
      EXPECT_NE(system.out.find(key.substr(0, key.find('=')) + " changed"), std::string::npos)
          << system.out;
    }
    EXPECT_EQ(system.files[kCompanyIni], expected);
  }
}

TEST(ConfigTool, OneWriterAtATime) {
  const std::vector<std::string> setDevice = {"set-company", "--device-id", "D6"};
  // Held for the whole wait: exit 3, the folder named, nothing written.
  FakeSystem held;
  held.files[kCompanyIni] = kIdentity;
  held.lockHeld = true;
  EXPECT_EQ(RunConfigTool(setDevice, held), 3);
  EXPECT_EQ(held.locks, (std::vector<std::string>{kConfig + " 10"}));
  EXPECT_NE(held.err.find("kept <" + kReal + "> busy for 10 seconds"), std::string::npos)
      << held.err;
  EXPECT_TRUE(held.log.empty());
  EXPECT_EQ(held.files[kCompanyIni], kIdentity);

  // Another writer's change made while this one waited is read again and kept.
  FakeSystem meanwhile;
  meanwhile.files[kCompanyIni] = kIdentity;
  meanwhile.heldBy = [&meanwhile] {
    ASSERT_EQ(RunConfigTool({"set-company", "--name", "Inn"}, meanwhile), 0);
  };
  EXPECT_EQ(RunConfigTool({"--json", "set-company", "--device-id", "D6"}, meanwhile), 0);
  EXPECT_EQ(Stored(meanwhile), StoredWith({{"CompanyName", "Inn"}, {"DeviceId", "D6"}}));
  EXPECT_NE(meanwhile.out.find("\"fields\":[\"DeviceId\"]"), std::string::npos) << meanwhile.out;

  // Refusals, unchanged files, dry runs and readers never take the lock.
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"set-company", "--device-id", ""},
                                             {"set-company", "--device-id", "D1"},
                                             {"--dry-run", "set-company", "--device-id", "D6"},
                                             {"show"},
                                             {"check"}}) {
    FakeSystem reader;
    reader.files[kCompanyIni] = kIdentity;
    reader.lockHeld = true;
    RunConfigTool(args, reader);
    EXPECT_TRUE(reader.locks.empty()) << args.back();
  }
}

TEST(ConfigTool, SetAddressWritesWhatTheLauncherDecodesOnlyWhenItDiffers) {
  const std::string url = "https://h.example/p?a=1&b=%20 \"x\"\\";
  const struct {
    const char* name;
    std::optional<std::string> before;
    bool writes;
    std::string after = "";  // when it is not the address file alone
  } cases[] = {
      {"no file", std::nullopt, true},
      {"a blank address", "[SysInfo]\r\nCompanyURL=\r\n", true},
      {"another address", AddressFile("https://h.example/other"), true},
      {"a file without the section", "[Other]\r\nCompanyURL=" + Base64Encode(url) + "\r\n", true,
       "[Other]\r\nCompanyURL=" + Base64Encode(url) + "\r\n" + AddressFile(url)},
      {"other keys and sections of the file kept",
       "[SysInfo]\r\nServerIP=10.0.0.5\r\nCompanyURL=aHR0cDovL2EvYg==\r\nPort=8080\r\n\r\n"
       "[Upload]\r\nInterval=30\r\n",
       true,
       "[SysInfo]\r\nServerIP=10.0.0.5\r\n" + AddressFile(url).substr(11) +
           "Port=8080\r\n\r\n[Upload]\r\nInterval=30\r\n"},
      {"the same address", AddressFile(url), false},
      // The launcher decodes the same address from these: the same values, left as they are.
      {"the same address with blanks around it",
       "[SysInfo]\r\nCompanyURL=  " + AddressFile(url).substr(22, 48) + "  \r\n", false},
      {"the same address in UTF-16 with other keys",
       Utf16ToBytes(
           Utf8ToUtf16("\uFEFF[SysInfo]\r\nOther=1\r\ncompanyurl = " + AddressFile(url).substr(22)),
           false),
       false},
      {"the same address after an extra key",
       "; made by hand\r\n[sysinfo]\r\nX=y\r\nCompanyURL=" + AddressFile(url).substr(22), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    if (c.before) system.files[kConfigIni] = *c.before;
    const std::string before = system.files[kConfigIni];
    EXPECT_EQ(RunConfigTool({"set-address", url}, system), 0) << system.err;
    EXPECT_EQ(system.log.size(), c.writes ? 1u : 0u);
    if (c.writes) {
      EXPECT_EQ(system.files[kConfigIni], c.after.empty() ? AddressFile(url) : c.after);
      EXPECT_EQ(system.out, "Wrote <" + kReal + ">/Config.ini: CompanyURL changed.\n");
    } else {
      EXPECT_EQ(system.files[kConfigIni], before);
      EXPECT_EQ(system.out,
                "<" + kReal + ">/Config.ini already holds these values: nothing changed.\n");
    }
  }
}

TEST(ConfigTool, SetAddressRefusesWhatTheLauncherCannotUse) {
  const struct {
    std::vector<std::string> args;
    bool latin1;
    std::string says;
  } cases[] = {
      {{"set-address", ""}, false, "is empty"},
      {{"set-address", " \t "}, false, "is empty"},
      {{"set-address", "ftp://example.com/"}, false, "http://"},
      {{"set-address", "javascript:alert(1)"}, false, "http://"},
      {{"set-address", "C:\\Windows\\system32\\calc.exe"}, false, "http://"},
      {{"set-address", "http://x/\r\nother"}, false, "line break"},
      {{"set-address", "http://x/" + std::string(1525, 'p')}, false, "is 1 character too long"},
      {{"set-address", "http://x/" + Utf16ToUtf8(std::u16string(600, u'\u9152'))},
       false,
       "is 92 characters too long"},
      {{"set-address", "http://酒店.example/"}, true, "code page"},
      {{"set-address"}, false, "needs one address"},
      {{"set-address", "http://a/", "http://b/"}, false, "needs one address"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    FakeSystem system(c.latin1 ? std::unique_ptr<TCodePage>(std::make_unique<Latin1CodePage>())
                               : std::make_unique<Utf8CodePage>());
    system.files[kConfigIni] = AddressFile("http://kept.example/");
    EXPECT_EQ(RunConfigTool(c.args, system), 2);
    EXPECT_NE(system.err.find(c.says), std::string::npos) << system.err;
    EXPECT_TRUE(system.log.empty());
  }
  // The longest address that fits is taken: 1533 bytes, 2044 characters encoded.
  FakeSystem system;
  EXPECT_EQ(RunConfigTool({"set-address", "http://x/" + std::string(1524, 'p')}, system), 0);
}

TEST(ConfigTool, TakesTheValuesTheMsiHandsOverInTheRegistry) {
  const std::string key = "SOFTWARE\\CompanyMain\\Setup";
  // The MSI writes every property, in double quotes; "" is one it was not given.
  const std::map<std::string, std::string> none = {{"URL", "\"\""},         {"COMPANYNUM", "\"\""},
                                                   {"COMPANYTYPE", "\"\""}, {"COMPANYNAME", "\"\""},
                                                   {"DEVICEID", "\"\""},    {"UPLOADUSER", "\"\""},
                                                   {"OTHERINFO", "\"\""}};
  const auto with = [&](std::map<std::string, std::string> given) {
    for (const auto& [name, text] : none) given.emplace(name, text);
    return given;
  };
  const struct {
    const char* name;
    std::optional<std::map<std::string, std::string>> values;  // the key, or none
    std::vector<std::string> args;
    int code;
    std::vector<std::string> identity;  // Company.ini read back
    std::string address;                // Config.ini's address read back
    std::string says;
  } cases[] = {
      {"one value alone",
       with({{"DEVICEID", "\"D2\""}}),
       {"set-company"},
       0,
       StoredWith({{"DeviceId", "D2"}}),
       "http://kept/",
       "DeviceId changed"},
      {"values ending in a backslash, with quotes, blanks and percent signs",
       with({{"COMPANYNAME", "\"某某 \"酒店\" \\\""},
             {"UPLOADUSER", "\"dom\\\""},
             {"OTHERINFO", "\" 备注 100% [x]\\\""}}),
       {"set-company"},
       0,
       StoredWith({{"CompanyName", "某某 \"酒店\" \\"},
                   {"UploadUser", "dom\\"},
                   {"OtherInfo", " 备注 100% [x]\\"}}),
       "http://kept/",
       "CompanyName, UploadUser, OtherInfo changed"},
      {"a value missing from the key is not given",
       std::map<std::string, std::string>{{"OTHERINFO", "\"x\""}},
       {"set-company"},
       0,
       StoredWith({{"OtherInfo", "x"}}),
       "http://kept/",
       "OtherInfo changed"},
      {"the address, ending in a backslash",
       with({{"URL", "\"http://h.example/p?q=\"a b\"&x=%41\\\""}, {"DEVICEID", "\"D2\""}}),
       {"set-address"},
       0,
       kStored,
       "http://h.example/p?q=\"a b\"&x=%41\\",
       "CompanyURL changed"},
      {"a dry run writes nothing",
       with({{"DEVICEID", "\"D2\""}}),
       {"--dry-run", "set-company"},
       0,
       kStored,
       "http://kept/",
       "DeviceId would change"},
      {"a blank number is refused as on the command line",
       with({{"COMPANYNUM", "\" \""}, {"DEVICEID", "\"D2\""}}),
       {"set-company"},
       2,
       kStored,
       "http://kept/",
       "--number must not be blank"},
      {"a refused address",
       with({{"URL", "\"ftp://h.example/\""}}),
       {"set-address"},
       2,
       kStored,
       "http://kept/",
       "http://"},
      {"no value given",
       none,
       {"set-company"},
       2,
       kStored,
       "http://kept/",
       "holds no value for set-company"},
      {"no address given",
       with({{"DEVICEID", "\"D2\""}}),
       {"set-address"},
       2,
       kStored,
       "http://kept/",
       "holds no value for set-address (URL)"},
      {"a value not in quotes was not written by the installer",
       with({{"DEVICEID", "D2"}}),
       {"set-company"},
       2,
       kStored,
       "http://kept/",
       "DEVICEID of the registry key SOFTWARE\\CompanyMain\\Setup does not stand in double quotes"},
      {"a lone quote",
       with({{"DEVICEID", "\""}}),
       {"set-company"},
       2,
       kStored,
       "http://kept/",
       "does not stand in double quotes"},
      {"no key",
       std::nullopt,
       {"set-company"},
       3,
       kStored,
       "http://kept/",
       "Cannot read the registry key SOFTWARE\\CompanyMain\\Setup: The system cannot find"},
      {"values on the command line as well",
       with({{"DEVICEID", "\"D2\""}}),
       {"set-company", "--other", "x"},
       2,
       kStored,
       "http://kept/",
       "give none on the command line"},
      {"an address on the command line as well",
       with({{"URL", "\"http://new/\""}}),
       {"set-address", "http://new/"},
       2,
       kStored,
       "http://kept/",
       "give none on the command line"},
      {"only for the set- commands",
       with({{"DEVICEID", "\"D2\""}}),
       {"show"},
       2,
       kStored,
       "http://kept/",
       "--from-registry is only for set-address and set-company"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    system.files[kCompanyIni] = kIdentity;
    system.files[kConfigIni] = AddressFile("http://kept/");
    if (c.values) system.registry[key] = *c.values;
    std::vector<std::string> args = {"--from-registry", key};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(RunConfigTool(args, system), c.code) << system.err;
    EXPECT_EQ(Stored(system), c.identity);
    const TIniValues address =
        IniReadValues(system.files[kConfigIni], "SysInfo", {"CompanyURL"}, system.AnsiCodePage());
    EXPECT_EQ(Base64Decode(address.values[0]), c.address);
    EXPECT_NE((system.out + system.err).find(c.says), std::string::npos)
        << system.out << system.err;
  }
}

// An engine's values as a JSON object: each exactly as encoded, through the command line's rules;
// a refused value is named by its field in the JSON answer.
TEST(ConfigTool, TakesTheValuesAnEngineHandsOverAsJson) {
  const struct {
    const char* name;
    std::string json;
    std::vector<std::string> args;
    int code;
    std::vector<std::string> identity;  // Company.ini read back
    std::string address;                // Config.ini's address read back
    std::string says;
  } cases[] = {
      {"values a shell or an engine would expand",
       R"({"name":"Hotel $HOME","upload-user":"~/acct","other":"${PATH} `id` \"q\"","type":null})",
       {"set-company"},
       0,
       StoredWith({{"CompanyName", "Hotel $HOME"},
                   {"UploadUser", "~/acct"},
                   {"OtherInfo", "${PATH} `id` \"q\""}}),
       "http://kept/",
       "CompanyName, UploadUser, OtherInfo changed"},
      {"the address, from a file",
       R"({"url":"http://h.example/p?k=$HOME&n=\u65e0"})",
       {"--values-from", "values.json", "set-address"},
       0,
       kStored,
       "http://h.example/p?k=$HOME&n=\xE6\x97\xA0",
       "CompanyURL changed"},
      {"a line break is refused and named",
       R"({"device-id":"D2","name":"a\nb"})",
       {"--json", "set-company"},
       2,
       kStored,
       "http://kept/",
       R"("error":"--name must not hold a line break.","field":"name"})"},
      {"the address and the identity together",
       R"({"url":"http://both/","device-id":"D2","name":null})",
       {"--json", "set"},
       0,
       StoredWith({{"DeviceId", "D2"}}),
       "http://both/",
       R"("files":["</etc/companymain>/Config.ini","</etc/companymain>/Company.ini"],)"
       R"("fields":["CompanyURL","DeviceId"],"warnings":[]})"},
      {"the values of both files refused at once",
       R"({"url":"ftp://h.example/","number":" "})",
       {"--json", "set"},
       2,
       kStored,
       "http://kept/",
       R"("problems":[{"field":"url","message":"The page address must start with http://)"},
      {"an address with a query taken, with a warning",
       R"({"url":"http://h.example/p?site=3"})",
       {"--json", "set-address"},
       0,
       kStored,
       "http://h.example/p?site=3",
       R"("warnings":[{"field":"url","message":"The page address already holds a query)"},
      {"set takes what show names",
       R"({"color":"red"})",
       {"set"},
       2,
       kStored,
       "http://kept/",
       "set takes no value color"},
      {"a refused address is named",
       R"({"url":"ftp://h.example/"})",
       {"--json", "set-address"},
       2,
       kStored,
       "http://kept/",
       R"("field":"url")"},
      {"a NUL is refused",
       R"({"other":"a\u0000b"})",
       {"set-company"},
       2,
       kStored,
       "http://kept/",
       "holds a NUL character"},
      {"a name the command does not take",
       R"({"url":"http://new/"})",
       {"set-company"},
       2,
       kStored,
       "http://kept/",
       "set-company takes no value url"},
      {"no value given",
       R"({"number":null})",
       {"set-company"},
       2,
       kStored,
       "http://kept/",
       "gives no value for set-company"},
      {"not strict JSON",
       R"({"number":1})",
       {"set-company"},
       2,
       kStored,
       "http://kept/",
       "is no JSON object of texts: the value of \"number\" must be a string or null"},
      {"values on the command line as well",
       R"({"number":"1"})",
       {"set-company", "--type", "R02"},
       2,
       kStored,
       "http://kept/",
       "give none on the command line"},
      {"only for the set- commands",
       R"({"number":"1"})",
       {"check"},
       2,
       kStored,
       "http://kept/",
       "--values-from is only for set-address, set-company and set"},
      {"a file that cannot be read",
       R"({"number":"1"})",
       {"--values-from", "missing.json", "set-company"},
       3,
       kStored,
       "http://kept/",
       "Cannot read <missing.json>: No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    system.files[kCompanyIni] = kIdentity;
    system.files[kConfigIni] = AddressFile("http://kept/");
    system.inputs["-"] = c.json;
    system.inputs["values.json"] = c.json;
    std::vector<std::string> args = c.args;
    if (std::find(args.begin(), args.end(), "--values-from") == args.end())
      args.insert(args.begin(), {"--values-from", "-"});
    EXPECT_EQ(RunConfigTool(args, system), c.code) << system.err;
    EXPECT_EQ(Stored(system), c.identity);
    const TIniValues address =
        IniReadValues(system.files[kConfigIni], "SysInfo", {"CompanyURL"}, system.AnsiCodePage());
    EXPECT_EQ(Base64Decode(address.values[0]), c.address);
    EXPECT_NE((system.out + system.err).find(c.says), std::string::npos)
        << system.out << system.err;
  }
}

TEST(ConfigTool, DryRunChecksAllAndWritesNothing) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    bool folder;  // the Config folder is there
    int code;
    bool changes;
  } cases[] = {
      {"a new address", {"set-address", "http://new/"}, true, 0, true},
      {"the same address", {"set-address", "http://kept/"}, true, 0, false},
      {"a refused address", {"set-address", "ftp://new/"}, true, 2, false},
      {"one value", {"set-company", "--other", "x"}, true, 0, true},
      {"the same value", {"set-company", "--other", "note"}, true, 0, false},
      {"a blank number", {"set-company", "--number", ""}, true, 2, false},
      {"no Config folder yet", {"set-address", "http://new/"}, false, 0, true},
  };
  for (const auto& c : cases) {
    for (const bool json : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (json ? ", JSON" : ""));
      // The same case run for real, and as a dry run.
      std::vector<std::string> args = c.args;
      if (json) args.insert(args.begin(), "--json");
      const auto prepare = [&](FakeSystem& system) {
        system.files[kConfigIni] = AddressFile("http://kept/");
        system.files[kCompanyIni] = kIdentity;
        if (!c.folder) {
          system.files.clear();
          system.folders.clear();
        }
      };
      FakeSystem real;
      prepare(real);
      const int realCode = RunConfigTool(args, real);
      FakeSystem dry;
      prepare(dry);
      const auto files = dry.files;
      args.insert(args.begin(), "--dry-run");
      EXPECT_EQ(RunConfigTool(args, dry), c.code) << dry.err;
      EXPECT_EQ(realCode, c.code) << real.err;
      EXPECT_TRUE(dry.log.empty());
      EXPECT_EQ(dry.files, files);
      EXPECT_EQ(real.log.empty(), !c.changes);
      if (json) {
        // One object on one line, whose "changed" is what the real run did.
        EXPECT_TRUE(dry.out.starts_with("{") && dry.out.ends_with("}\n")) << dry.out;
        EXPECT_EQ(std::count(dry.out.begin(), dry.out.end(), '\n'), 1);
        const std::string changed = c.changes ? "\"changed\":true" : "\"changed\":false";
        EXPECT_NE(dry.out.find(changed), std::string::npos) << dry.out;
        EXPECT_NE(real.out.find(changed), std::string::npos) << real.out;
        EXPECT_NE(dry.out.find("\"dryRun\":true"), std::string::npos) << dry.out;
        EXPECT_NE(dry.out.find("\"command\":\"" + c.args[0] + "\""), std::string::npos);
        EXPECT_EQ(dry.out.find("\"error\":") != std::string::npos, c.code != 0) << dry.out;
      } else {
        // One line, that says it is a dry run when it would change something.
        EXPECT_EQ(std::count(dry.out.begin(), dry.out.end(), '\n'), c.code == 0 ? 1 : 0);
        if (c.changes) {
          EXPECT_NE(dry.out.find("dry run"), std::string::npos) << dry.out;
        }
      }
    }
  }
}

TEST(ConfigTool, FailuresChangeNothingAndSayWhy) {
  const TConfigToolSystem::TFailure denied{"Permission denied", true};
  const TConfigToolSystem::TFailure tooLarge{"File too large", false};
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::function<void(FakeSystem&)> arrange;
    std::string says;
    std::vector<std::string> log = {};  // what was written and put back
  } cases[] = {
      {"a write refused",
       {"set-address", "http://new/"},
       [&](FakeSystem& s) { s.writeFailure = denied; },
       "Error: Cannot write <" + kReal +
           ">/Config.ini: Permission denied. Nothing was changed. "
           "Run it as root.\n"},
      {"a write failing",
       {"set-company", "--other", "x"},
       [&](FakeSystem& s) { s.writeFailure = tooLarge; },
       "Error: Cannot write <" + kReal + ">/Company.ini: File too large. Nothing was changed.\n"},
      {"no folder can be made",
       {"set-address", "http://new/"},
       [&](FakeSystem& s) {
         s.folders.clear();
         s.folderFailure = denied;
       },
       "Error: Cannot create the folder <" + kConfig +
           ">: Permission denied. Nothing was changed. Run it as root.\n"},
      {"the old identity cannot be read",
       {"set-company", "--other", "x"},
       [&](FakeSystem& s) { s.unreadable.insert(kCompanyIni); },
       "Error: Cannot read <" + kReal +
           ">/Company.ini: Permission denied. Nothing was changed. "
           "Run it as root.\n"},
      {"the old address cannot be read",
       {"set-address", "http://new/"},
       [&](FakeSystem& s) { s.unreadable.insert(kConfigIni); },
       "Error: Cannot read <" + kReal +
           ">/Config.ini: Permission denied. Nothing was changed. "
           "Run it as root.\n"},
      // Both files change, or neither does.
      {"the identity cannot be written once the address is",
       {"--values-from", "-", "set"},
       [&](FakeSystem& s) {
         s.inputs["-"] = R"({"url":"http://new/","device-id":"D2"})";
         s.failingWrite = 3;  // after the record and the address
       },
       "Error: Cannot write <" + kReal +
           ">/Company.ini: No space left on device. Nothing was changed.\n",
       {"write " + kPending, "write " + kConfigIni, "write " + kConfigIni, "remove " + kPending}},
      {"a new address file is taken back",
       {"--values-from", "-", "set"},
       [&](FakeSystem& s) {
         s.files.erase(kConfigIni);
         s.inputs["-"] = R"({"url":"http://new/","device-id":"D2"})";
         s.failingWrite = 3;
       },
       "Error: Cannot write <" + kReal +
           ">/Company.ini: No space left on device. Nothing was changed.\n",
       {"write " + kPending, "write " + kConfigIni, "remove " + kConfigIni, "remove " + kPending}},
      {"the old identity cannot be read for set",
       {"--values-from", "-", "set"},
       [&](FakeSystem& s) {
         s.inputs["-"] = R"({"url":"http://new/","device-id":"D2"})";
         s.unreadable.insert(kCompanyIni);
       },
       "Error: Cannot read <" + kReal +
           ">/Company.ini: Permission denied. Nothing was changed. Run it as root.\n"},
  };
  for (const auto& c : cases) {
    for (const bool dryRun : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (dryRun ? ", dry run" : ""));
      FakeSystem system;
      system.files[kConfigIni] = AddressFile("http://kept/");
      system.files[kCompanyIni] = kIdentity;
      c.arrange(system);
      const auto files = system.files;
      std::vector<std::string> args = c.args;
      if (dryRun) args.insert(args.begin(), "--dry-run");
      const bool reads = c.says.find("Cannot read") != std::string::npos;
      // A dry run reads what the real run reads, and writes nothing that could fail.
      EXPECT_EQ(RunConfigTool(args, system), dryRun && !reads ? 0 : 3);
      if (!dryRun || reads) {
        EXPECT_EQ(system.err, c.says);
      }
      EXPECT_EQ(system.files, files);
      EXPECT_EQ(system.log, dryRun ? std::vector<std::string>{} : c.log);
    }
  }
}

// A run killed between the renames of its files leaves its record: check says so, and the next
// writer gives each file still as it was its new bytes, keeps one changed since, drops the record.
TEST(ConfigTool, AChangeCutShortByAKillIsFinishedByTheNextWriter) {
  const std::string newAddress = AddressFile("http://new/");
  const std::string newIdentity = kIdentity + "OtherInfo=killed\r\n";
  const std::string hand = kIdentity + "; edited by hand since\r\n";
  const struct {
    const char* name;
    std::string address, identity;  // as the kill left them
    std::string finished;           // Company.ini afterwards, before this run's change
  } cases[] = {
      {"killed after the address", newAddress, kIdentity, newIdentity},
      {"killed before either file", AddressFile("http://kept/"), kIdentity, newIdentity},
      {"the identity edited since", AddressFile("http://kept/"), hand, hand},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    system.files = {{kConfigIni, c.address}, {kCompanyIni, c.identity}};
    system.files[kPending] =
        PendingChangeBytes({{"Config.ini", AddressFile("http://kept/"), newAddress},
                            {"Company.ini", kIdentity, newIdentity},
                            {"../elsewhere", std::nullopt, "never written"}});
    EXPECT_EQ(RunConfigTool({"check"}, system), 0);
    EXPECT_NE(system.err.find("cut short"), std::string::npos) << system.err;
    system.err.clear();
    ASSERT_EQ(RunConfigTool({"set-company", "--device-id", "D9"}, system), 0) << system.err;
    EXPECT_NE(system.err.find("was killed before"), std::string::npos) << system.err;
    EXPECT_EQ(system.files[kConfigIni], newAddress);
    std::string finished = c.finished;
    finished.replace(finished.find("DeviceId=D1"), 11, "DeviceId=D9");
    EXPECT_EQ(system.files[kCompanyIni], finished);
    EXPECT_FALSE(system.files.contains(kPending));
    EXPECT_EQ(system.files.size(), 2u);
  }
}

TEST(ConfigTool, ShowPrintsTheValuesAsStored) {
  const std::string hand =
      "[Company]\r\nCompanyNum=0\r\nCompanyType= R02 \r\nCompanyName=\r\nDeviceId=D1\r\n"
      "UploadUser=ABC1234567890XYZ\r\n";
  const struct {
    const char* name;
    std::optional<std::string> config, company;
    std::string text, json;
  } cases[] = {
      {"nothing stored", std::nullopt, std::nullopt,
       "url=\nnumber=\ntype=\nname=\ndevice-id=\nupload-user=\nother=\n",
       "{\"command\":\"show\",\"url\":null,\"number\":null,\"type\":null,\"name\":null,"
       "\"device-id\":null,\"upload-user\":null,\"other\":null}\n"},
      // Not as the page receives them: R02 stays, the blank name stays blank.
      {"as stored", AddressFile("http://h/无?a=\"1\""), hand,
       "url=http://h/无?a=\"1\"\nnumber=0\ntype=R02\nname=\ndevice-id=D1\n"
       "upload-user=ABC1234567890XYZ\nother=\n",
       "{\"command\":\"show\",\"url\":\"http://h/无?a=\\\"1\\\"\",\"number\":\"0\",\"type\":"
       "\"R02\",\"name\":\"\",\"device-id\":\"D1\",\"upload-user\":\"ABC1234567890XYZ\","
       "\"other\":\"\"}\n"},
      {"sections missing", "[SysInfo2]\r\nCompanyURL=eA==\r\n", "[Compnay]\r\nCompanyNum=1\r\n",
       "url=\nnumber=\ntype=\nname=\ndevice-id=\nupload-user=\nother=\n",
       "{\"command\":\"show\",\"url\":null,\"number\":null,\"type\":null,\"name\":null,"
       "\"device-id\":null,\"upload-user\":null,\"other\":null}\n"},
      {"a line break in a hand-written address", AddressFile("http://h/\r\nx"), std::nullopt,
       "url=http://h/  x\nnumber=\ntype=\nname=\ndevice-id=\nupload-user=\nother=\n",
       "{\"command\":\"show\",\"url\":\"http://h/\\r\\nx\",\"number\":null,\"type\":null,"
       "\"name\":null,\"device-id\":null,\"upload-user\":null,\"other\":null}\n"},
  };
  for (const auto& c : cases) {
    for (const bool json : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (json ? ", JSON" : ""));
      FakeSystem system;
      if (c.config) system.files[kConfigIni] = *c.config;
      if (c.company) system.files[kCompanyIni] = *c.company;
      EXPECT_EQ(RunConfigTool(json ? std::vector<std::string>{"--json", "show"}
                                   : std::vector<std::string>{"show"},
                              system),
                0);
      EXPECT_EQ(system.out, json ? c.json : c.text);
    }
  }
  FakeSystem system;
  system.unreadable.insert(kCompanyIni);
  EXPECT_EQ(RunConfigTool({"show"}, system), 3);
  EXPECT_NE(system.err.find("Cannot read"), std::string::npos) << system.err;
}

TEST(ConfigTool, CheckTellsWhatTheLaunchersWouldDo) {
  const std::string identity =
      "[Company]\r\nCompanyNum=0\r\nCompanyType=R02\r\nCompanyName= \r\nDeviceId=D1\r\n"
      "UploadUser=ABC1234567890XYZ\r\nOtherInfo=a b\r\n";
  const std::string address =
      "http://example.com/p?Id=MTIzNDU2Nzg5MA==&Name=%E6%97%A0&Type=UjAx&DeviceId=RDE=&other=a+b"
      "&Version=NS4wLjAuMA==";
  const TConfigToolSystem::TClosed closedFolder{"/etc/companymain", "drwx------", true};
  const TConfigToolSystem::TClosed closedFile{"/etc/companymain/Company.ini", "-rw-------", false};
  const struct {
    const char* name;
    std::optional<std::string> config, company;
    std::map<std::string, TConfigToolSystem::TClosed> closed;
    int code;
    std::vector<std::string> says;
    bool warns = false;  // of an address that holds a query already
  } cases[] = {
      {"an address with a query of its own: opened as it is, with a warning",
       AddressFile("http://example.com/p?site=3"),
       identity,
       {},
       0,
       {"The launcher will open:\nhttp://example.com/p?site=3?Id=MTIzNDU2Nzg5MA==&"},
       true},
      {"no identity",
       AddressFile("http://example.com/p?site=3"),
       std::nullopt,
       {},
       1,
       {"The launcher would show: " + std::string(kMsgIdentityMissing)},
       true},
      {"no address file",
       std::nullopt,
       identity,
       {},
       1,
       {"The launcher would show: " + std::string(kMsgConfigMissing)}},
      {"the page",
       AddressFile("http://example.com/p"),
       identity,
       {},
       0,
       // The values the address was built from: the R02 rule and the blank name applied.
       {"  Id = 1234567890\n  Name = 无\n  Type = R01\n  DeviceId = D1\n  other = a b\n"
        "  Version = 5.0.0.0\nThe launcher will open:\n" +
        address + "\n"}},
      {"the folder closed to other users",
       AddressFile("http://example.com/p"),
       identity,
       {{kConfig, closedFolder}},
       1,
       {"Other users of this computer cannot open the folder </etc/companymain> (drwx------)",
        "The launcher of other users would show: " + std::string(kMsgIdentityMissing),
        "Your launcher would open:\n" + address + "\n"}},
      {"the identity closed to other users",
       AddressFile("http://example.com/p"),
       identity,
       {{kCompanyIni, closedFile}},
       1,
       {"cannot read </etc/companymain/Company.ini> (-rw-------)",
        "The launcher of other users would show: " + std::string(kMsgIdentityMissing)}},
      {"the address closed to other users",
       AddressFile("http://example.com/p"),
       identity,
       {{kConfigIni, closedFile}},
       1,
       {"The launcher of other users would show: " + std::string(kMsgAddressEmpty)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    if (c.config) system.files[kConfigIni] = *c.config;
    if (c.company) system.files[kCompanyIni] = *c.company;
    system.closedToOthers = c.closed;
    EXPECT_EQ(RunConfigTool({"check"}, system), c.code);
    for (const std::string& said : c.says)
      EXPECT_NE(system.out.find(said), std::string::npos) << system.out;
    EXPECT_TRUE(system.log.empty());
    EXPECT_EQ(system.err.find("Warning: The page address already holds a query") == 0, c.warns)
        << system.err;

    FakeSystem json;
    json.files = system.files;
    json.closedToOthers = c.closed;
    EXPECT_EQ(RunConfigTool({"check", "--json"}, json), c.code);
    EXPECT_NE(json.out.find(c.code == 0 ? "\"ok\":true" : "\"ok\":false"), std::string::npos);
    EXPECT_EQ(json.out.find("\"closedToOthers\":[{") != std::string::npos, !c.closed.empty());
    EXPECT_NE(json.out.find(c.warns ? "\"warnings\":[{\"field\":\"url\",\"message\":\"The page"
                                    : "\"warnings\":[]"),
              std::string::npos)
        << json.out;
    if (c.code == 0) {
      EXPECT_NE(json.out.find("\"sent\":{\"Id\":\"1234567890\",\"Name\":\"无\",\"Type\":\"R01\","
                              "\"DeviceId\":\"D1\",\"other\":\"a b\",\"Version\":\"5.0.0.0\"}"),
                std::string::npos)
          << json.out;
    }
  }
}

TEST(ConfigTool, CommandLineRefusals) {
  const struct {
    std::vector<std::string> args;
    std::string says;
    bool pkexec = false;  // started through pkexec
  } cases[] = {
      {{"set-company", "--number", "1", "--number", "2"}, "given twice"},
      {{"set-address", "--name", "n", "http://x/"}, "only for set-company"},
      {{"check", "extra"}, "check does not take extra"},
      {{"show", "extra"}, "show does not take extra"},
      {{"set-company", "extra"}, "set-company does not take extra"},
      {{"--dry-run", "check"}, "--dry-run is only for set-address, set-company and set"},
      {{"--json", "--version"}, "--json is only for"},
      {{"frobnicate"}, "Unknown command: frobnicate"},
      {{"set"}, "set takes its values from --values-from"},
      {{"--values-from", "-", "--from-registry", "K", "set"}, "--from-registry is only for"},
      {{"--frobnicate", "check"}, "Unknown option: <--frobnicate>"},
      {{}, "No command given"},
      {{"set-company", "--other"}, "needs a value"},
      {{"--dir"}, "needs a value"},
      {{"set-company", "--name", "\xFF\xFE"}, "not text in this system's encoding: <\xFF\xFE>"},
      {{"set-address", "http://x/\xFF"}, "not text in this system's encoding"},
      // After --, what looks like an option is an address, and is checked as one.
      {{"set-address", "--", "--help"}, "The page address must start with http://"},
      {{"set-address", "--", "-h"}, "The page address must start with http://"},
      {{"--json", "set-address", "--", "--version"}, "The page address must start with http://"},
      // Under pkexec, the installation beside the tool and standard input alone.
      {{"--dir", "/elsewhere", "--json", "--values-from", "-", "set"}, "--dir is refused", true},
      {{"--values-from", "/some/file", "set"}, "from standard input only", true},
      {{"--from-registry", "K", "set-address"}, "from standard input only", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    FakeSystem system;
    system.pkexec = c.pkexec;
    system.inputs["-"] = system.inputs["/some/file"] = R"({"url": "http://x/"})";
    EXPECT_EQ(RunConfigTool(c.args, system), 2);
    EXPECT_NE(system.err.find(c.says), std::string::npos) << system.err;
    EXPECT_TRUE(system.log.empty());
  }
}

TEST(ConfigTool, TheFolderIsTakenAsGiven) {
  // --dir reaches the system as it was given, and the Config folder is made where it says.
  FakeSystem system;
  const std::string folder = "/srv/inst\xC4\xE3";
  EXPECT_EQ(RunConfigTool({"--dir", folder, "set-address", "http://x/"}, system), 0) << system.err;
  EXPECT_EQ(system.log, (std::vector<std::string>{"mkdir " + folder + "/Config",
                                                  "write " + folder + "/Config/Config.ini"}));
  EXPECT_EQ(system.out, "Wrote <" + folder + "/Config>/Config.ini: CompanyURL changed.\n");
}

}  // namespace

TEST(ConfigTool, RefusalsNameEveryRefusedFieldAtOnce) {
  // Each problem: its field, and the sentence that names the field as the window labels it.
  using TProblems = std::vector<std::pair<std::string, std::string>>;
  const struct {
    const char* name;
    bool stored;  // Company.ini holds kIdentity
    std::vector<std::string> args;
    TProblems problems;
    std::vector<std::string> errors;  // the command line's lines, naming options or files
    bool unreadable = false;          // neither file can be read
  } cases[] = {
      {"two values blanked",
       true,
       {"set-company", "--number", "", "--device-id", " ", "--name", ""},
       {{"number", "Company number must not be blank"},
        {"device-id", "Device ID must not be blank"}},
       {"--number must not be blank", "--device-id must not be blank"}},
      {"a new identity without its required values",
       false,
       {"set-company", "--name", "Hotel"},
       {{"number", "Company number must be given"},
        {"type", "Type code must be given"},
        {"device-id", "Device ID must be given"}},
       {"holds no company identity yet: give --number --type --device-id."}},
      {"a value refused and one missing from a new identity",
       false,
       {"set-company", "--number", "1", "--type", "R01", "--other", "a\nb"},
       {{"other", "Other information must not hold a line break"},
        {"device-id", "Device ID must be given"}},
       {"--other must not hold a line break", "give --device-id."}},
      {"the address",
       true,
       {"set-address", "ftp://example.com/"},
       {{"url", "The page address must start with http://"}},
       {"The page address must start with http://"}},
      // Refused before any file is read: refused, whatever the files.
      {"a value refused where the files cannot be read",
       true,
       {"set-company", "--number", " "},
       {{"number", "Company number must not be blank"}},
       {"--number must not be blank"},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const bool json : {false, true}) {
      FakeSystem system;
      if (c.stored) system.files[kCompanyIni] = kIdentity;
      if (c.unreadable) system.unreadable = {kCompanyIni, kConfigIni};
      std::vector<std::string> args = {"--dry-run"};
      if (json) args.emplace_back("--json");
      args.insert(args.end(), c.args.begin(), c.args.end());
      EXPECT_EQ(RunConfigTool(args, system), 2);
      EXPECT_TRUE(system.log.empty());
      // Every problem at once on the command line, one "Error:" line each.
      std::size_t at = 0;
      for (const std::string& error : c.errors) {
        at = system.err.find(error, at);
        EXPECT_NE(at, std::string::npos) << error << " in " << system.err;
      }
      EXPECT_EQ(std::count(system.err.begin(), system.err.end(), '\n'),
                static_cast<std::ptrdiff_t>(c.errors.size()))
          << system.err;
      if (!json) continue;
      const auto parsed = ParseJson(system.out);
      ASSERT_TRUE(parsed) << system.out;
      EXPECT_NE(system.err.find(parsed->TextOf("error")), std::string::npos);
      const TJsonValue* problems = parsed->Find("problems");
      ASSERT_NE(problems, nullptr) << system.out;
      TProblems got;
      for (const TJsonValue& problem : problems->items)
        got.emplace_back(problem.TextOf("field"), problem.TextOf("message"));
      ASSERT_EQ(got.size(), c.problems.size()) << system.out;
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].first, c.problems[i].first);
        EXPECT_TRUE(got[i].second.starts_with(c.problems[i].second)) << got[i].second;
        EXPECT_EQ(got[i].second.find("--"), std::string::npos) << got[i].second;
      }
    }
  }
}

TEST(ConfigTool, HelpListsOnlyThePlatformsOptions) {
  for (const bool registry : {false, true}) {
    SCOPED_TRACE(registry ? "Windows" : "Linux");
    FakeSystem system;
    system.hasRegistry = registry;
    EXPECT_EQ(RunConfigTool({"--help"}, system), 0);
    EXPECT_EQ(system.out.find("--from-registry") != std::string::npos, registry) << system.out;
    EXPECT_NE(system.out.find("--json"), std::string::npos);
    EXPECT_NE(system.out.find("Exit codes:"), std::string::npos);
  }
}

TEST(ConfigToolJson, ReadsWhatTheWriterWritesAndRefusesTheRest) {
  const std::string text = "a \"q\" \\ \n\t\x01 企业 \xF0\x9F\x98\x80";
  const auto written = ParseJson(TJsonObject()
                                     .Add("text", text)
                                     .Add("yes", true)
                                     .AddOrNull("none", std::nullopt)
                                     .Add("list", std::vector<std::string>{"a", ""})
                                     .Text());
  ASSERT_TRUE(written);
  EXPECT_EQ(written->TextOf("text"), text);
  EXPECT_TRUE(written->Find("yes")->boolean);
  EXPECT_EQ(written->Find("none")->kind, TJsonValue::Kind::Null);
  EXPECT_EQ(written->Find("list")->items.size(), 2U);
  // Every control character escaped (C0, DEL, C1); ill-formed bytes become U+FFFD.
  std::string controls;
  for (char16_t unit = 0; unit <= 0x9F; ++unit)
    if (unit < 0x20 || unit >= 0x7F) controls += Utf16ToUtf8(std::u16string(1, unit));
  const std::string escaped = JsonString(controls);
  EXPECT_TRUE(std::all_of(escaped.begin(), escaped.end(), [](char c) {
    return c >= 0x20 && c < 0x7F;
  })) << escaped;
  EXPECT_EQ(ParseJson("[" + escaped + "]")->items.at(0).text, controls);
  EXPECT_EQ(JsonString("a\xC0\xAFz\xE6\x97"), "\"a\xEF\xBF\xBD\xEF\xBF\xBDz\xEF\xBF\xBD\"");
  const struct {
    const char* json;
    bool valid;
    std::string text;  // the value of "v" when valid and a string
  } cases[] = {
      {R"({"v":"\u00e9\ud83d\ude00"})", true, "\xC3\xA9\xF0\x9F\x98\x80"},
      {R"( {"v" : "x" , "n" : [1, -2.5e3, {}, []]} )", true, "x"},
      {R"({"v":"\ude00"})", false, ""},
      {R"({"v":"\ud83d"})", false, ""},
      {R"({"v":"a)", false, ""},
      {"{\"v\":\"a\nb\"}", false, ""},
      {R"({"v":01})", false, ""},
      {R"({"v":"x"} x)", false, ""},
      {R"({"v":"x",})", false, ""},
      {R"({"v":tru})", false, ""},
      // A name given twice is refused in every object, as ReadJsonObject refuses it.
      {R"({"v":"x","n":{"a":1,"a":2}})", false, ""},
      {"\xEF\xBB\xBF{\"v\":\"x\"}", false, ""},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    const auto parsed = ParseJson(c.json);
    EXPECT_EQ(parsed.has_value(), c.valid);
    if (parsed) {
      EXPECT_EQ(parsed->TextOf("v"), c.text);
    }
  }
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "[";
  EXPECT_FALSE(ParseJson(deep));
}

// The window's write as it hands it over: the JSON it was given, then the tool in process, or
// the way to more rights refused.
class FakeWriter final : public TSettingsWriter {
 public:
  explicit FakeWriter(FakeSystem& system) : inProcess_(system) {}
  TSettingsWrite Write(const std::string& json) override {
    sent += json;
    if (kind != TSettingsWrite::Kind::Ran) return {kind, 127, {}, {}};
    return inProcess_.Write(json);
  }
  std::string sent;
  TSettingsWrite::Kind kind = TSettingsWrite::Kind::Ran;

 private:
  TInProcessSettingsWriter inProcess_;
};

TEST(Settings, TheWindowsValuesGoThroughTheToolsRules) {
  const TSettingsValues stored = {
      "http://example.com/a?b=1&c=2", "1234567890", "R01", "Hotel", "D1", "up", "note"};
  const std::map<std::size_t, std::string> d2 = {{4, "D2"}},
                                           both = {{0, "https://example.com/x"}, {4, "D2"}};
  using TFault = std::function<void(FakeSystem&, FakeWriter&)>;
  using TKind = TSettingsWrite::Kind;
  const TFault unreadable = [](FakeSystem& s, FakeWriter&) { s.unreadable.insert(kCompanyIni); };
  const TFault busy = [](FakeSystem& s, FakeWriter&) { s.lockHeld = true; };
  const TFault full = [](FakeSystem& s, FakeWriter&) { s.failingWrite = 3; };  // the record first
  const TFault closed = [](FakeSystem& s, FakeWriter&) { s.closedToOthers[kCompanyIni] = {}; };
  const TFault dismissed = [](FakeSystem&, FakeWriter& w) { w.kind = TKind::Cancelled; };
  const TFault noPk = [](FakeSystem&, FakeWriter& w) { w.kind = TKind::Unavailable; };
  const std::vector<std::string> company = {kCompanyIni}, config = {kConfigIni},
                                 putBack = {kConfigIni, kConfigIni};
  const char* unchanged = "Nothing was changed";
  const char* sudo = "sudo /opt/app/companymain-config set-company --device-id 'it'\\''s'";
  const struct {
    const char* name;
    bool fresh;  // nothing stored yet
    std::map<std::size_t, std::string> edits;
    std::vector<std::size_t> problemFields;  // refused, in the window's order
    std::vector<std::string> written;        // the files written, in order
    std::vector<std::string> changed;
    bool latin1 = false;    // a session in Latin-1, a Chinese name stored
    std::string says = "";  // in what the window says
    TFault fault = {};
    bool handed = false;  // the edited values reached the writer (as they do for a write)
  } cases[] = {
      {"nothing changed", false, {}, {}, {}, {}, false, "nothing to save"},
      {"the device id alone", false, d2, {}, company, {"DeviceId"}, false, "Saved: Device ID."},
      {"the address alone",
       false,
       {{0, "https://example.com/x"}},
       {},
       {kConfigIni},
       {"CompanyURL"}},
      {"number and device id blanked", false, {{1, ""}, {4, ""}}, {1, 4}, {}, {}},
      {"a bad address with a blank number", false, {{0, "ftp://x/"}, {1, " "}}, {0, 1}, {}, {}},
      {"a new installation with the number left out",
       true,
       {{0, "http://x/"}, {2, "R01"}, {4, "D1"}},
       {1},
       {},
       {}},
      {"a new installation",
       true,
       {{0, "http://x/"}, {1, "1"}, {2, "R01"}, {4, "D1"}},
       {},
       {kConfigIni, kCompanyIni},
       {"CompanyURL", "CompanyNum", "CompanyType", "DeviceId"}},
      {"a query", false, {{0, "http://x/?s=3"}}, {}, config, {"CompanyURL"}, false, "Warning"},
      {"a Latin-1 session keeps a Chinese name", false, d2, {}, company, {"DeviceId"}, true},
      // Both files or neither, and the window says so; nothing runs after a failed write.
      {"Company.ini unreadable", false, both, {}, {}, {}, false, unchanged, unreadable},
      {"the writer lock busy", false, both, {}, {}, {}, false, unchanged, busy, true},
      {"a full disk at Company.ini", false, both, {}, putBack, {}, false, unchanged, full, true},
      {"closed to other users: their message", false, {}, {}, {}, {}, false, "", closed},
      {"the password prompt dismissed", false, d2, {}, {}, {}, false, "password", dismissed, true},
      {"no pkexec: the tool's command", false, {{4, "it's"}}, {}, {}, {}, false, sudo, noPk, true},
  };
  FakeSystem chinese;  // the tool's Company.ini with a Chinese name
  RunConfigTool({"set-company", "--number", "1234567890", "--type", "R01", "--name", "某某酒店",
                 "--device-id", "D1", "--upload-user", "up", "--other", "note"},
                chinese);
  TSettingsValues chineseStored = stored;
  chineseStored[3] = "某某酒店";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system(c.latin1 ? std::unique_ptr<TCodePage>(std::make_unique<Latin1CodePage>())
                               : std::make_unique<Utf8CodePage>());
    if (!c.fresh) {
      system.files[kConfigIni] = AddressFile(stored[0]);
      system.files[kCompanyIni] = c.latin1 ? chinese.files[kCompanyIni] : kIdentity;
    }
    FakeWriter writer(system);
    TSettings settings(system, writer);
    const TSettingsLoad load = settings.Load();
    EXPECT_EQ(load.failure, "");
    EXPECT_EQ(load.values, c.fresh ? TSettingsValues{} : c.latin1 ? chineseStored : stored);
    TSettingsValues edited = load.values;
    TJsonObject sent;  // the edited values alone
    for (const auto& [field, value] : c.edits)
      edited[field] = value, sent.Add(kFields[field].name, value);
    if (c.fault) c.fault(system, writer);
    const auto before = system.files;
    const TSettingsSave save = settings.Save(edited);
    std::vector<std::size_t> fields;
    for (const TSettingsProblem& problem : save.problems) {
      fields.push_back(problem.field);
      EXPECT_EQ(problem.text.find("--"), std::string::npos) << problem.text;
      EXPECT_NE(save.message.find(problem.text), std::string::npos) << save.message;
    }
    EXPECT_EQ(fields, c.problemFields);
    if (!fields.empty()) {
      EXPECT_EQ(save.focus, fields.front());
    }
    EXPECT_NE(save.message.find(c.says), std::string::npos) << save.message;
    EXPECT_EQ(save.message.find("exit code"), std::string::npos) << save.message;
    EXPECT_EQ(writer.sent, c.handed || !c.written.empty() ? sent.Text() : "");
    std::vector<std::string> written;
    for (const std::string& line : system.log)
      if (line.starts_with("write ") && line != "write " + kPending)
        written.push_back(line.substr(6));
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(save.changed, c.changed);
    // One write at most, and nothing after one that failed.
    EXPECT_LE(system.locks.size(), 1U);
    const bool saved = save.kind == TSettingsSave::Kind::Saved;
    EXPECT_EQ(settings.CloseQuestion(edited).empty(), saved || c.edits.empty());
    // Refused or unchanged: every file as it was; saved: the tool reads back what was typed.
    if (!saved) {
      EXPECT_EQ(system.files, before);
    } else {
      EXPECT_EQ(settings.Load().values, edited);
    }
    // The window shows the sent values and the address only when the launcher would open it,
    // else the launcher's message, said to be one.
    system.unreadable.clear();
    const TSettingsLaunch launch = settings.Launch();
    const bool opens = !c.fresh || saved;
    EXPECT_EQ(launch.opens, opens) << launch.message;
    if (opens) {
      // A refusal left the stored address.
      const std::string& url = saved ? edited[0] : load.values[0];
      EXPECT_EQ(launch.address.substr(0, url.size()), url);
      EXPECT_EQ(launch.shown, launch.address);
      ASSERT_EQ(launch.sent.size(), 6U);
      EXPECT_EQ(launch.sent[0].first, "Id");
      EXPECT_EQ(launch.warnings.size(),
                (url.find('?') != std::string::npos) + system.closedToOthers.size());
    } else {
      EXPECT_EQ(launch.shown,
                "The launcher would show this message: " + std::string(kMsgIdentityMissing));
    }
  }
}
