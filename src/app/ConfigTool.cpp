#include "app/ConfigTool.h"

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <map>
#include <string_view>

#include "address/PageAddress.h"
#include "app/CompanyMain.h"
#include "app/Version.h"
#include "common/Base64.h"
#include "common/IniText.h"
#include "common/JsonObject.h"
#include "common/PublicFunction.h"
#include "common/Text.h"
#include "common/Utf.h"
#include "inputs/CompanyIdentity.h"
#include "inputs/ConfigFolder.h"

namespace {

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

// The ANSI bytes as UTF-8 when they are text in the code page (they come back as themselves).
std::optional<std::string> Utf8Exactly(std::string_view ansi, const TCodePage& codePage) {
  std::string utf8 = Utf8(ansi, codePage);
  if (Ansi(utf8, codePage) != ansi) return std::nullopt;
  return utf8;
}

// The message with %1, %2, ... replaced by the values (in one pass: a value's own "%" stays).
std::string Fill(std::string_view text, std::initializer_list<std::string_view> values) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t index = i + 1 < text.size() ? static_cast<std::size_t>(text[i + 1] - '1') : 9;
    if (text[i] == '%' && index < values.size()) {
      out += values.begin()[index];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
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

std::string JsonOptional(const std::optional<std::string>& utf8) {
  return utf8 ? JsonString(*utf8) : "null";
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

std::string Joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : std::string(separator)) + item;
  return out;
}

// ---- The identity's fields ------------------------------------------------------------------

struct TField {
  const char* option;    // set-company's option
  const char* key;       // the key in Company.ini
  const char* show;      // the name show prints
  const char* property;  // the MSI's property, and the registry value it hands over
  bool required;         // the web system cannot tell the company without it
};
constexpr TField kFields[] = {
    {"--number", "CompanyNum", "number", "COMPANYNUM", true},
    {"--type", "CompanyType", "type", "COMPANYTYPE", true},
    {"--name", "CompanyName", "name", "COMPANYNAME", false},
    {"--device-id", "DeviceId", "device-id", "DEVICEID", true},
    {"--upload-user", "UploadUser", "upload-user", "UPLOADUSER", false},
    {"--other", "OtherInfo", "other", "OTHERINFO", false},
};
// The MSI's property for set-address.
constexpr const char* kAddressProperty = "URL";

std::vector<std::string> IdentityKeys() {
  std::vector<std::string> keys;
  for (const TField& field : kFields) keys.emplace_back(field.key);
  return keys;
}

constexpr std::string_view kIdentitySection = "Company";
constexpr std::string_view kAddressSection = "SysInfo";
constexpr std::string_view kAddressKey = "CompanyURL";

// ---- The command line -----------------------------------------------------------------------

struct TCommandLine {
  bool folderGiven = false;
  std::string folder;  // --dir, as the system gave it
  bool registryGiven = false;
  std::string registryKey;  // --from-registry
  bool valuesGiven = false;
  std::string valuesFrom;  // --values-from: a path as the system gave it, or "-"
  std::string command;
  std::vector<std::string> operands;           // text
  std::map<std::string, std::string> options;  // set-company's, as text
  bool json = false;
  bool dryRun = false;
  bool help = false;
  bool version = false;
  std::string error;
};

// ---- The launcher's view of the installation, through the tool's system -------------------

// The Config folder as the launcher reads it, with a note of every file it looked at. For the
// other users of the machine, files closed to them cannot be read, and behind a folder closed to
// them there is nothing at all.
class TToolConfigFolder final : public TConfigFolder {
 public:
  struct TFile {
    std::string path;
    std::string section;
    std::vector<std::string> keys;
    std::optional<TIniValues> read;
  };

  TToolConfigFolder(TConfigToolSystem& system, std::string folder, bool asOthers)
      : system_(system), folder_(std::move(folder)), asOthers_(asOthers) {}

  std::string PathOf(std::string_view fileName) override {
    if (folder_.empty()) return {};
    return folder_ + "Config" + system_.PathSeparator() + std::string(fileName);
  }
  bool FileExists(const std::string& path) override {
    Note(path);
    if (asOthers_) {
      const auto closed = system_.ClosedToOthers(path);
      if (closed && closed->folder) return false;
    }
    return system_.FileExists(path);
  }
  std::optional<TIniValues> ReadIniValues(const std::string& path, std::string_view section,
                                          const std::vector<std::string>& keys) override {
    TFile& file = Note(path);
    file.section = std::string(section);
    file.keys = keys;
    file.read.reset();
    if (asOthers_ && system_.ClosedToOthers(path)) return std::nullopt;
    TConfigToolSystem::TRead read = system_.ReadIniValues(path, section, keys);
    if (read.state == TConfigToolSystem::TRead::State::Read) file.read = read.values;
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

  TConfigToolSystem& system_;
  std::string folder_;
  bool asOthers_;
};

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

// One start of the launcher, against the folder.
struct TLaunch {
  std::optional<std::string> message;
  std::optional<std::string> address;
  std::vector<TQueryValue> sent;
  std::vector<TToolConfigFolder::TFile> files;
};

TLaunch Launch(TConfigToolSystem& system, const std::string& folder, bool asOthers) {
  const TCodePage& codePage = system.AnsiCodePage();
  TReportingDesktop desktop(codePage);
  TToolConfigFolder config(system, folder, asOthers);
  TIniCompanyIdentitySource identitySource(config);
  TFrm_CompanyMain form(desktop, config, identitySource);
  form.FormCreate();
  form.FormShow();
  TLaunch launch{desktop.message, desktop.address, {}, config.files};
  if (!launch.message && launch.address) launch.sent = form.SentQuery();
  return launch;
}

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

// ---- The tool -------------------------------------------------------------------------------

class TTool {
 public:
  TTool(TConfigToolSystem& system, const std::vector<std::string>& args)
      : system_(system), codePage_(system.AnsiCodePage()) {
    Parse(args);
  }

  int Run();

 private:
  // The text in the user's language; the English text is the catalog's key.
  std::string _(const char* english) { return system_.Translate(english); }

  void Parse(const std::vector<std::string>& args);
  [[nodiscard]] std::string Usage();

  // A refusal (exit code 2) or a failure (3), as text or as the JSON object.
  int Fail(int code, const std::string& why);
  int Refuse(const std::string& why) { return Fail(kToolRefused, why); }
  // What to do about the failure, when more rights would help (with a blank before it).
  std::string Remedy(const TConfigToolSystem::TFailure& failure);
  // The installation folder, ending with the separator; "" when it cannot be told.
  std::string Folder() {
    // By default the folder of the tool itself, which is the launcher's.
    return line_.folderGiven ? system_.FullFolder(line_.folder) : system_.ProgramFolder();
  }
  std::string ConfigFolder(const std::string& folder) { return folder + "Config"; }
  // A file of the Config folder as messages name it: the folder behind the link.
  std::string Shown(const std::string& config, std::string_view name) {
    return system_.PathText(system_.RealPath(config)) + system_.PathSeparator() + std::string(name);
  }
  // Reads a file the command needs; false when it is there but cannot be read.
  bool ReadForChange(const std::string& path, std::string_view section,
                     const std::vector<std::string>& keys, TConfigToolSystem::TRead& read);
  // Writes the file into the Config folder (or, in a dry run, only says it would); says what
  // changed.
  int Change(const std::string& config, std::string_view name, std::string_view bytes,
             const std::vector<std::string>& fields);
  int Unchanged(const std::string& config, std::string_view name);

  // Takes the values of set-address or set-company from the registry key of --from-registry;
  // an exit code when that fails.
  std::optional<int> TakeFromRegistry();
  // The same from the JSON object of --values-from.
  std::optional<int> TakeFromJson();
  // A value refused: the field it belongs to (show's name) goes into the JSON answer.
  int RefuseValue(const char* field, const std::string& why) {
    refusedField_ = field;
    return Refuse(why);
  }
  int SetAddress();
  int SetCompany();
  int Show();
  int Check();
  int Version();

  TConfigToolSystem& system_;
  const TCodePage& codePage_;
  TCommandLine line_;
  std::string refusedField_;
};

void TTool::Parse(const std::vector<std::string>& args) {
  TCommandLine& line = line_;
  for (std::size_t i = 0; i < args.size() && line.error.empty(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) {
        line.error = Fill(_("Option %1 needs a value."), {arg});
        return std::nullopt;
      }
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (arg == "--json") {
      line.json = true;
    } else if (arg == "--dry-run") {
      line.dryRun = true;
    } else if (arg == "--dir") {
      // A path stays the system's bytes: converted to text and back it could name another
      // folder.
      if (auto v = value()) {
        line.folderGiven = true;
        line.folder = *v;
      }
    } else if (arg == "--from-registry") {
      if (auto v = value()) {
        const auto text = system_.ArgumentText(*v);
        if (!text) {
          line.error = Fill(_("The value of %1 is not text in this system's encoding: %2"),
                            {arg, system_.PathText(*v)});
        } else {
          line.registryGiven = true;
          line.registryKey = *text;
        }
      }
    } else if (arg == "--values-from") {
      // A path stays the system's bytes, as --dir's.
      if (auto v = value()) {
        line.valuesGiven = true;
        line.valuesFrom = *v;
      }
    } else if (std::any_of(std::begin(kFields), std::end(kFields),
                           [&](const TField& f) { return arg == f.option; })) {
      if (line.options.contains(arg)) line.error = Fill(_("Option %1 is given twice."), {arg});
      if (auto v = value(); v && line.error.empty()) {
        const auto text = system_.ArgumentText(*v);
        if (!text) {
          line.error = Fill(_("The value of %1 is not text in this system's encoding: %2"),
                            {arg, system_.PathText(*v)});
        } else {
          line.options[arg] = *text;
        }
      }
    } else if (arg.starts_with("--") && arg.size() > 2) {
      line.error = Fill(_("Unknown option: %1"), {system_.PathText(arg)});
    } else {
      const auto text = system_.ArgumentText(arg);
      if (!text) {
        line.error = Fill(_("The argument %1 is not text in this system's encoding."),
                          {system_.PathText(arg)});
      } else if (line.command.empty()) {
        line.command = *text;
      } else {
        line.operands.push_back(*text);
      }
    }
  }
  if (!line.error.empty() || line.help) return;
  // Options of one command given to another are mistakes, not wishes.
  const bool setting = line.command == "set-address" || line.command == "set-company";
  if (!line.options.empty() && line.command != "set-company") {
    line.error = Fill(_("Option %1 is only for set-company."), {line.options.begin()->first});
  } else if (line.dryRun && !setting) {
    line.error = _("--dry-run is only for set-address and set-company.");
  } else if (line.json && !setting && line.command != "check" && line.command != "show") {
    line.error = _("--json is only for set-address, set-company, show and check.");
  } else if (line.registryGiven && !setting) {
    line.error = _("--from-registry is only for set-address and set-company.");
  } else if (line.registryGiven && (!line.operands.empty() || !line.options.empty())) {
    line.error =
        _("--from-registry takes the values from the registry: give none on the "
          "command line.");
  } else if (line.valuesGiven && !setting) {
    line.error = _("--values-from is only for set-address and set-company.");
  } else if (line.valuesGiven &&
             (line.registryGiven || !line.operands.empty() || !line.options.empty())) {
    line.error =
        _("--values-from takes the values from a JSON object: give none on the command line "
          "or with --from-registry.");
  }
}

std::string TTool::Usage() {
  const std::string name = system_.ProgramName();
  return Fill(_("Usage:\n"
                "  %1 [--dir FOLDER] [--dry-run] [--json] set-address URL\n"
                "  %1 [--dir FOLDER] [--dry-run] [--json] set-company [--number NUMBER]\n"
                "      [--type TYPE] [--name NAME] [--device-id ID] [--upload-user ACCOUNT]\n"
                "      [--other TEXT]\n"
                "  %1 [--dir FOLDER] [--dry-run] [--json] --values-from FILE|-\n"
                "      set-address|set-company\n"
                "  %1 [--dir FOLDER] [--json] show\n"
                "  %1 [--dir FOLDER] [--json] check\n"
                "  %1 --help | --version\n"),
              {name}) +
         "\n" +
         _("Commands:\n"
           "  set-address URL  writes the address of the company page (Config/Config.ini).\n"
           "                   It must start with http:// or https://, e.g.\n"
           "                   http://example.com/company/info.aspx\n"
           "  set-company      writes the company's identity (Config/Company.ini). Values not\n"
           "                   given keep what is stored; the first time --number, --type and\n"
           "                   --device-id are needed. --name \"\", --upload-user \"\" and\n"
           "                   --other \"\" clear those values.\n"
           "  show             prints the stored values, one field=value line each: url,\n"
           "                   number, type, name, device-id, upload-user, other.\n"
           "  check            runs the launcher's start-up without opening anything: shows\n"
           "                   the exact address it would open, or the message it would show.\n") +
         "\n" +
         Fill(_("The identity (what the web system receives in the page address):\n"
                "  --number NUMBER       the company's number, e.g. 1234567890 (sent as Id).\n"
                "  --type TYPE           the company's type code, e.g. R01 (sent as Type). A\n"
                "                        company of type R02 is sent as R01, with the number\n"
                "                        taken from characters 4 to 13 of the upload account\n"
                "                        when that has at least 13 characters.\n"
                "  --name NAME           the company's name, e.g. 某某酒店 (sent as Name); when\n"
                "                        it is empty, 无 is sent.\n"
                "  --device-id ID        this computer's identifier, e.g. D1 (sent as DeviceId).\n"
                "  --upload-user ACCOUNT the company's upload account, e.g. ABC1234567890 (only\n"
                "                        read for type R02, never sent).\n"
                "  --other TEXT          further information, free text (sent as other).\n"
                "The page also receives Version=%1: the version of the web system's interface,\n"
                "not the version of this program (%2).\n"),
              {kPageVersion, kProgramVersion}) +
         "\n" +
         _("Options:\n"
           "  --dir FOLDER  the installation folder, the one holding Config; by default the\n"
           "                folder of this tool.\n"
           "  --dry-run     checks everything and says what would change, writes nothing.\n"
           "  --json        prints one JSON object, for scripts (\"changed\": true or false).\n"
           "  --from-registry KEY\n"
           "                takes the values of set-address or set-company from the registry\n"
           "                key KEY under HKEY_LOCAL_MACHINE, where the MSI hands them over\n"
           "                (Windows): URL, or COMPANYNUM, COMPANYTYPE, COMPANYNAME, DEVICEID,\n"
           "                UPLOADUSER, OTHERINFO, each in double quotes; \"\" gives none.\n"
           "  --values-from FILE|-\n"
           "                takes the values of set-address or set-company from a JSON\n"
           "                object in FILE (- for standard input), by the names show\n"
           "                prints: {\"url\": \"...\"}, or number, type, name, device-id,\n"
           "                upload-user, other; null gives none. Nothing rewrites them on\n"
           "                the way, as a shell or an engine may rewrite arguments.\n"
           "\n"
           "Exit codes: 0 done (also when nothing needed changing); 1 check: the launcher\n"
           "would show a message; 2 a value or the command line was refused, nothing was\n"
           "written; 3 a file could not be read or written, nothing was changed.\n");
}

int TTool::Fail(int code, const std::string& why) {
  if (line_.json) {
    system_.OutUtf8(
        "{\"command\":" + JsonString(line_.command) +
        (line_.command == "check" ? std::string(",\"ok\":false") : ",\"changed\":false") +
        ",\"dryRun\":" + (line_.dryRun ? "true" : "false") + ",\"error\":" + JsonString(why) +
        (refusedField_.empty() ? std::string() : ",\"field\":" + JsonString(refusedField_)) +
        "}\n");
  }
  system_.Err(Fill(_("Error: %1"), {why}) + "\n");
  return code;
}

std::string TTool::Remedy(const TConfigToolSystem::TFailure& failure) {
  if (!failure.denied) return "";
  // Not " " + ElevationRemedy(): GCC 12 takes that for an overlapping copy (-Wrestrict).
  std::string remedy = " ";
  remedy += system_.ElevationRemedy();
  return remedy;
}

bool TTool::ReadForChange(const std::string& path, std::string_view section,
                          const std::vector<std::string>& keys, TConfigToolSystem::TRead& read) {
  read = system_.ReadIniValues(path, section, keys);
  return read.state != TConfigToolSystem::TRead::State::Unreadable;
}

int TTool::Change(const std::string& config, std::string_view name, std::string_view bytes,
                  const std::vector<std::string>& fields) {
  const std::string path = config + system_.PathSeparator() + std::string(name);
  if (!line_.dryRun) {
    TConfigToolSystem::TFailure failure;
    if (!system_.MakeFolder(config, failure)) {
      return Fail(kToolWriteFailed, Fill(_("Cannot create the folder %1: %2. Nothing was changed."),
                                         {system_.PathText(config), failure.reason}) +
                                        Remedy(failure));
    }
    if (!system_.ReplaceFile(path, bytes, failure)) {
      return Fail(kToolWriteFailed, Fill(_("Cannot write %1: %2. Nothing was changed."),
                                         {Shown(config, name), failure.reason}) +
                                        Remedy(failure));
    }
  }
  const std::string shown = Shown(config, name);
  if (line_.json) {
    std::string list;
    for (const std::string& field : fields) list += (list.empty() ? "" : ",") + JsonString(field);
    system_.OutUtf8("{\"command\":" + JsonString(line_.command) +
                    ",\"changed\":true,\"dryRun\":" + (line_.dryRun ? "true" : "false") +
                    ",\"file\":" + JsonString(shown) + ",\"fields\":[" + list + "]}\n");
  } else if (line_.dryRun) {
    system_.Out(Fill(_("Would write %1: %2 would change (dry run, nothing written)."),
                     {shown, Joined(fields, ", ")}) +
                "\n");
  } else {
    system_.Out(Fill(_("Wrote %1: %2 changed."), {shown, Joined(fields, ", ")}) + "\n");
  }
  return kToolOk;
}

int TTool::Unchanged(const std::string& config, std::string_view name) {
  const std::string shown = Shown(config, name);
  if (line_.json) {
    system_.OutUtf8("{\"command\":" + JsonString(line_.command) +
                    ",\"changed\":false,\"dryRun\":" + (line_.dryRun ? "true" : "false") +
                    ",\"file\":" + JsonString(shown) + ",\"fields\":[]}\n");
  } else {
    system_.Out(Fill(line_.dryRun ? _("%1 already holds these values: nothing would change.")
                                  : _("%1 already holds these values: nothing changed."),
                     {shown}) +
                "\n");
  }
  return kToolOk;
}

std::optional<int> TTool::TakeFromRegistry() {
  const bool address = line_.command == "set-address";
  std::vector<std::string> names;
  if (address) {
    names.emplace_back(kAddressProperty);
  } else {
    for (const TField& field : kFields) names.emplace_back(field.property);
  }
  std::map<std::string, std::string> texts;
  TConfigToolSystem::TFailure failure;
  if (!system_.RegistryTexts(line_.registryKey, names, texts, failure)) {
    return Fail(kToolWriteFailed, Fill(_("Cannot read the registry key %1: %2."),
                                       {line_.registryKey, failure.reason}) +
                                      Remedy(failure));
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto found = texts.find(names[i]);
    if (found == texts.end()) continue;
    // Each value stands in double quotes: Windows Installer writes a text that starts with "#"
    // as a number or binary data, but not one that starts with a quote. "" is no value.
    const std::string& text = found->second;
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
      return Refuse(Fill(_("The value %1 of the registry key %2 does not stand in double quotes "
                           "as the installer writes it."),
                         {names[i], line_.registryKey}));
    }
    const std::string value = text.substr(1, text.size() - 2);
    if (value.empty()) continue;
    if (address) {
      line_.operands.push_back(value);
    } else {
      line_.options[kFields[i].option] = value;
    }
  }
  if (line_.operands.empty() && line_.options.empty()) {
    return Refuse(Fill(_("The registry key %1 holds no value for %2 (%3)."),
                       {line_.registryKey, line_.command, Joined(names, ", ")}));
  }
  return std::nullopt;
}

std::optional<int> TTool::TakeFromJson() {
  // Far more than seven values of 2047 bytes, each escaped, can take.
  constexpr std::size_t kLimit = 1 << 20;
  const std::string shown =
      line_.valuesFrom == "-" ? _("standard input") : system_.PathText(line_.valuesFrom);
  std::string bytes;
  TConfigToolSystem::TFailure failure;
  if (!system_.ReadInput(line_.valuesFrom, kLimit, bytes, failure)) {
    return Fail(kToolWriteFailed,
                Fill(_("Cannot read %1: %2."), {shown, failure.reason}) + Remedy(failure));
  }
  if (bytes.size() > kLimit) {
    return Refuse(Fill(_("%1 holds more than %2 bytes: it is no object of values."),
                       {shown, std::to_string(kLimit)}));
  }
  const TJsonObjectRead read = ReadJsonObject(bytes);
  if (!read.error.empty())
    return Refuse(Fill(_("%1 is no JSON object of texts: %2."), {shown, read.error}));
  const bool address = line_.command == "set-address";
  for (const auto& [name, value] : read.members) {
    const TField* field = nullptr;
    for (const TField& f : kFields)
      if (name == f.show) field = &f;
    if (address ? name != "url" : field == nullptr) {
      return Refuse(Fill(
          _("%1 takes no value %2 (it takes %3)."),
          {line_.command, name,
           address ? std::string("url") : "number, type, name, device-id, upload-user, other"}));
    }
    if (!value) continue;  // null: not given
    // A NUL cannot stand in a file the launcher reads as text.
    if (value->find('\0') != std::string::npos) {
      return RefuseValue(address ? "url" : field->show,
                         Fill(_("The value of %1 holds a NUL character."), {name}));
    }
    if (address) {
      line_.operands.push_back(*value);
    } else {
      line_.options[field->option] = *value;
    }
  }
  if (line_.operands.empty() && line_.options.empty())
    return Refuse(Fill(_("%1 gives no value for %2."), {shown, line_.command}));
  return std::nullopt;
}

int TTool::SetAddress() {
  if (line_.operands.size() != 1) return Refuse(_("set-address needs one address."));
  const std::string& url = line_.operands[0];
  if (TrimView(url).empty()) return RefuseValue("url", _("The page address is empty."));
  // The launcher on Windows hands only web addresses to the default browser: anything else
  // would open a file or run a program named in the configuration.
  if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) {
    return RefuseValue(
        "url",
        _("The page address must start with http:// or https:// (the launcher hands only web "
          "addresses to the browser)."));
  }
  if (url.find_first_of("\r\n") != std::string::npos)
    return RefuseValue("url", _("The page address must not hold a line break."));
  if (!Representable(url, codePage_))
    return RefuseValue(
        "url", _("The page address holds characters this computer's code page cannot hold."));
  const std::string ansi = Ansi(url, codePage_);
  std::string encoded = Base64Encode(ansi);
  std::erase(encoded, '\r');
  std::erase(encoded, '\n');
  if (encoded.size() > kIniValueMax) {
    return RefuseValue("url",
                       Fill(_("The page address is too long: %1 characters encoded, at most %2."),
                            {std::to_string(encoded.size()), std::to_string(kIniValueMax)}));
  }
  const std::string folder = Folder();
  if (folder.empty())
    return Fail(kToolWriteFailed, _("Cannot tell the installation folder: give it with --dir."));
  const std::string config = ConfigFolder(folder);
  const std::string path = config + system_.PathSeparator() + "Config.ini";
  TConfigToolSystem::TRead read;
  if (!ReadForChange(path, kAddressSection, {std::string(kAddressKey)}, read)) {
    return Fail(kToolWriteFailed, Fill(_("Cannot read %1: %2. Nothing was changed."),
                                       {Shown(config, "Config.ini"), read.failure.reason}) +
                                      Remedy(read.failure));
  }
  // The same address as the launcher decodes it is the same address, however it is written.
  if (read.state == TConfigToolSystem::TRead::State::Read &&
      TStrOper::DecodeStr(read.values.values[0]) == ansi) {
    return Unchanged(config, "Config.ini");
  }
  // Base64 is ASCII: the file reads the same in every code page.
  return Change(config, "Config.ini", "[SysInfo]\r\nCompanyURL=" + encoded + "\r\n",
                {std::string(kAddressKey)});
}

int TTool::SetCompany() {
  if (!line_.operands.empty())
    return Refuse(Fill(_("set-company does not take %1."), {line_.operands[0]}));
  for (const TField& field : kFields) {
    const auto given = line_.options.find(field.option);
    if (given == line_.options.end()) continue;
    const std::string& value = given->second;
    if (field.required && TrimView(value).empty()) {
      return RefuseValue(field.show,
                         Fill(_("%1 must not be blank: the web system cannot tell the company "
                                "without it."),
                              {field.option}));
    }
    if (value.find_first_of("\r\n") != std::string::npos)
      return RefuseValue(field.show, Fill(_("%1 must not hold a line break."), {field.option}));
    // The launcher reads the file in its code page: what that cannot hold would reach the web
    // system as "?", and what it cuts would be lost.
    if (!Representable(value, codePage_)) {
      return RefuseValue(field.show,
                         Fill(_("%1 holds characters this computer's code page cannot hold: %2"),
                              {field.option, value}));
    }
    if (Ansi(value, codePage_).size() > kIniValueMax) {
      return RefuseValue(field.show,
                         Fill(_("%1 is too long (at most %2 bytes in this computer's code page)."),
                              {field.option, std::to_string(kIniValueMax)}));
    }
  }

  const std::string folder = Folder();
  if (folder.empty())
    return Fail(kToolWriteFailed, _("Cannot tell the installation folder: give it with --dir."));
  const std::string config = ConfigFolder(folder);
  const std::string path = config + system_.PathSeparator() + "Company.ini";
  TConfigToolSystem::TRead read;
  if (!ReadForChange(path, kIdentitySection, IdentityKeys(), read)) {
    return Fail(kToolWriteFailed, Fill(_("Cannot read %1: %2. Nothing was changed."),
                                       {Shown(config, "Company.ini"), read.failure.reason}) +
                                      Remedy(read.failure));
  }
  // A file without the section holds no identity, as the launcher sees it.
  const bool stored =
      read.state == TConfigToolSystem::TRead::State::Read && read.values.sectionFound;
  if (!stored) {
    std::vector<std::string> missing;
    for (const TField& field : kFields)
      if (field.required && !line_.options.contains(field.option))
        missing.emplace_back(field.option);
    if (!missing.empty()) {
      return Refuse(Fill(_("%1 holds no company identity yet: give %2."),
                         {Shown(config, "Company.ini"), Joined(missing, " ")}));
    }
  }

  std::u16string text = u"\uFEFF[Company]\r\n";
  std::vector<std::string> changed;
  for (std::size_t i = 0; i < std::size(kFields); ++i) {
    const TField& field = kFields[i];
    const std::string old = stored ? read.values.values[i] : "";
    std::string value;
    if (const auto given = line_.options.find(field.option); given != line_.options.end()) {
      value = given->second;
    } else {
      // Kept as the launcher reads it; bytes that are no text could not be written back.
      const auto kept = Utf8Exactly(old, codePage_);
      if (!kept) {
        return Refuse(Fill(_("The stored %1 is not text in this computer's code page and cannot "
                             "be kept as it is: give %2."),
                           {field.key, field.option}));
      }
      if (field.required && TrimView(*kept).empty()) {
        return Refuse(Fill(_("The stored %1 is blank: give %2 (the web system cannot tell the "
                             "company without it)."),
                           {field.key, field.option}));
      }
      value = *kept;
    }
    if (!stored || Ansi(value, codePage_) != old) changed.emplace_back(field.key);
    // The reader trims blanks and takes off one pair of outer quotes: quoted, a value reads
    // back exactly as given.
    const bool quote =
        TrimView(value) != value || (value.size() >= 2 && value.front() == value.back() &&
                                     (value.front() == '"' || value.front() == '\''));
    text +=
        Utf8ToUtf16(std::string(field.key) + "=" + (quote ? "\"" + value + "\"" : value) + "\r\n");
  }
  if (changed.empty()) return Unchanged(config, "Company.ini");
  // UTF-16 LE with its mark reads the same in every code page.
  return Change(config, "Company.ini", Utf16ToBytes(text, false), changed);
}

int TTool::Show() {
  if (!line_.operands.empty())
    return Refuse(Fill(_("show does not take %1."), {line_.operands[0]}));
  const std::string folder = Folder();
  if (folder.empty())
    return Fail(kToolWriteFailed, _("Cannot tell the installation folder: give it with --dir."));
  const std::string config = ConfigFolder(folder);
  const std::string sep(1, system_.PathSeparator());

  std::vector<std::pair<std::string, std::optional<std::string>>> shown;
  TConfigToolSystem::TRead address;
  if (!ReadForChange(config + sep + "Config.ini", kAddressSection, {std::string(kAddressKey)},
                     address)) {
    return Fail(kToolWriteFailed, Fill(_("Cannot read %1: %2."),
                                       {Shown(config, "Config.ini"), address.failure.reason}) +
                                      Remedy(address.failure));
  }
  std::optional<std::string> url;
  if (address.state == TConfigToolSystem::TRead::State::Read && address.values.sectionFound)
    url = Utf8(TStrOper::DecodeStr(address.values.values[0]), codePage_);
  shown.emplace_back("url", url);

  TConfigToolSystem::TRead identity;
  if (!ReadForChange(config + sep + "Company.ini", kIdentitySection, IdentityKeys(), identity)) {
    return Fail(kToolWriteFailed, Fill(_("Cannot read %1: %2."),
                                       {Shown(config, "Company.ini"), identity.failure.reason}) +
                                      Remedy(identity.failure));
  }
  const bool stored =
      identity.state == TConfigToolSystem::TRead::State::Read && identity.values.sectionFound;
  for (std::size_t i = 0; i < std::size(kFields); ++i) {
    shown.emplace_back(
        kFields[i].show,
        stored ? std::optional(Utf8(identity.values.values[i], codePage_)) : std::nullopt);
  }

  std::string out;
  if (line_.json) {
    out = "{\"command\":\"show\"";
    for (const auto& [name, value] : shown)
      out += "," + JsonString(name) + ":" + JsonOptional(value);
    out += "}\n";
  } else {
    for (const auto& [name, value] : shown) {
      // One line per field, whatever a hand-written value holds.
      std::string line = value.value_or("");
      std::replace_if(
          line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
      out += name + "=" + line + "\n";
    }
  }
  system_.OutUtf8(out);
  return kToolOk;
}

int TTool::Version() {
  // The same first line on every platform: scripts look for it.
  system_.Out(std::string("companymain-config ") + kProgramVersion + "\n");
  const std::string folder = Folder();
  const std::string launcher = folder.empty() ? "" : system_.LauncherVersion(folder);
  if (!launcher.empty()) system_.Out("CompanyMain " + launcher + "\n");
  return kToolOk;
}

// ---- check ----------------------------------------------------------------------------------

int TTool::Check() {
  if (!line_.operands.empty())
    return Refuse(Fill(_("check does not take %1."), {line_.operands[0]}));
  const std::string folder = Folder();
  const TLaunch mine = Launch(system_, folder, false);

  // What keeps the other users of the machine from the files their launcher reads.
  std::vector<TConfigToolSystem::TClosed> closed;
  std::optional<TLaunch> others;
  if (!folder.empty()) {
    for (const auto& file : mine.files) {
      if (auto found = system_.ClosedToOthers(file.path)) {
        const bool known = std::any_of(closed.begin(), closed.end(),
                                       [&](const auto& c) { return c.path == found->path; });
        if (!known) closed.push_back(*found);
      }
    }
    if (!closed.empty()) others = Launch(system_, folder, true);
  }
  const std::optional<std::string> othersMessage =
      others && !others->address ? others->message : std::nullopt;
  const bool opens = !mine.message && mine.address;
  const bool ok = opens && !othersMessage;
  const std::optional<std::string> message = mine.message ? mine.message : othersMessage;

  struct TFileReport {
    std::string name, path, state, encoding;
    bool sectionFound = false;
    std::string section;
    std::vector<std::pair<std::string, std::string>> values;
  };
  std::vector<TFileReport> reports;
  for (const auto& file : mine.files) {
    TFileReport report;
    report.name = file.path.substr(file.path.find_last_of(system_.PathSeparator()) + 1);
    report.path = Shown(ConfigFolder(folder), report.name);
    const bool exists = system_.FileExists(file.path);
    report.state = !exists ? "missing" : file.read ? "read" : "unreadable";
    if (exists) report.encoding = EncodingOf(system_.FileStart(file.path));
    report.section = file.section;
    if (file.read) {
      report.sectionFound = file.read->sectionFound;
      for (std::size_t i = 0; i < file.keys.size(); ++i)
        report.values.emplace_back(file.keys[i], Utf8(file.read->values[i], codePage_));
    }
    reports.push_back(report);
  }
  // The values as the web system receives them, from the code that put them in the address.
  std::vector<std::pair<std::string, std::string>> sent;
  for (const TQueryValue& value : mine.sent)
    sent.emplace_back(value.key, value.utf8 ? value.value : Utf8(value.value, codePage_));

  if (line_.json) {
    std::string json = "{\"command\":\"check\",\"ok\":" + std::string(ok ? "true" : "false");
    json += ",\"folder\":" + JsonString(system_.PathText(folder));
    if (opens) {
      json += ",\"address\":" + JsonString(Utf8(*mine.address, codePage_));
      json += ",\"addressBytes\":" + JsonString(Hex(*mine.address));
      json += ",\"sent\":{";
      for (std::size_t i = 0; i < sent.size(); ++i)
        json += (i ? "," : "") + JsonString(sent[i].first) + ":" + JsonString(sent[i].second);
      json += "}";
    }
    if (message) json += ",\"message\":" + JsonString(*message);
    if (!closed.empty()) {
      json += ",\"closedToOthers\":[";
      for (std::size_t i = 0; i < closed.size(); ++i) {
        json += std::string(i ? "," : "") +
                "{\"path\":" + JsonString(system_.PathText(closed[i].path)) +
                ",\"mode\":" + JsonString(closed[i].mode) + "}";
      }
      json += "]";
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

  const std::map<std::string, std::string> states = {
      {"missing", _("missing")}, {"unreadable", _("unreadable")}, {"read", _("read")}};
  const std::map<std::string, std::string> encodings = {
      {"ANSI", _("this computer's code page")},
      {"UTF-8 BOM", _("UTF-8 with byte order mark")},
      {"UTF-16 LE", _("UTF-16 LE with byte order mark")},
      {"UTF-16 BE", _("UTF-16 BE with byte order mark")}};
  system_.Out(Fill(_("Installation folder: %1"),
                   {folder.empty() ? _("(cannot be told)") : system_.PathText(folder)}) +
              "\n");
  for (const TFileReport& r : reports) {
    std::string line = r.name + ": " + states.at(r.state);
    if (!r.encoding.empty()) line += ", " + Fill(_("encoding: %1"), {encodings.at(r.encoding)});
    if (r.state == "read") {
      line += ", " + Fill(r.sectionFound ? _("section [%1] present") : _("section [%1] missing"),
                          {r.section});
    }
    system_.Out(line + "  (" + r.path + ")\n");
  }
  for (const auto& c : closed) {
    system_.Out(Fill(c.folder ? _("Other users of this computer cannot open the folder %1 (%2): "
                                  "chmod o+x opens it to them.")
                              : _("Other users of this computer cannot read %1 (%2): chmod o+r "
                                  "opens it to them."),
                     {system_.PathText(c.path), c.mode}) +
                "\n");
  }
  if (mine.message) {
    system_.Out(Fill(_("The launcher would show: %1"), {*mine.message}) + "\n");
    return kToolLauncherWouldRefuse;
  }
  if (othersMessage) {
    system_.Out(Fill(_("The launcher of other users would show: %1"), {*othersMessage}) + "\n");
  }
  system_.Out(_("Identity sent:") + "\n");
  for (const auto& [key, value] : sent) system_.Out("  " + key + " = " + value + "\n");
  system_.Out((othersMessage ? _("Your launcher would open:") : _("The launcher will open:")) +
              "\n");
  system_.OutAddress(*mine.address);
  system_.Out("\n");
  return ok ? kToolOk : kToolLauncherWouldRefuse;
}

int TTool::Run() {
  if (!line_.error.empty())
    return Refuse(line_.error + "\n" + Fill(_("See %1 --help."), {system_.ProgramName()}));
  if (line_.help) {
    system_.Out(Usage());
    return kToolOk;
  }
  if (line_.version) return Version();
  if (line_.registryGiven) {
    if (const auto failed = TakeFromRegistry()) return *failed;
  }
  if (line_.valuesGiven) {
    if (const auto failed = TakeFromJson()) return *failed;
  }
  if (line_.command == "set-address") return SetAddress();
  if (line_.command == "set-company") return SetCompany();
  if (line_.command == "show") return Show();
  if (line_.command == "check") return Check();
  if (line_.command.empty()) return Refuse(_("No command given.") + "\n" + Usage());
  return Refuse(Fill(_("Unknown command: %1"), {line_.command}) + "\n" + Usage());
}

}  // namespace

bool TConfigToolSystem::ReadAsLauncher(TRead& read, const std::string& path,
                                       std::string_view section,
                                       const std::vector<std::string>& keys,
                                       const TCodePage& codePage) {
  try {
    if (auto values = TFileOper::ReadIniValues(path, section, keys, codePage)) {
      read.state = TRead::State::Read;
      read.values = std::move(*values);
      return true;
    }
  } catch (const std::exception& error) {
    read.failure.reason = error.what();
    return true;
  }
  return false;
}

int RunConfigTool(const std::vector<std::string>& args, TConfigToolSystem& system) {
  return TTool(system, args).Run();
}
