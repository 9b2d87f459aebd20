#include <algorithm>
#include <iterator>

#include "address/PageAddress.h"
#include "common/Text.h"
#include "launch/Version.h"
#include "tool/Tool.h"

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

std::string Joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (const std::string& item : items) out += Concat({out.empty() ? "" : separator, item});
  return out;
}

namespace {

// The command, or an operand of it.
void TakeOperand(TCommandLine& line, const std::string& arg, TConfigToolSystem& system) {
  const auto text = system.ArgumentText(arg);
  if (!text) {
    line.error = Fill(system.Translate("The argument %1 is not text in this system's encoding."),
                      {system.PathText(arg)});
  } else if (line.command.empty()) {
    line.command = *text;
  } else {
    line.operands.push_back(*text);
  }
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args, TConfigToolSystem& system) {
  const auto _ = [&system](const char* english) { return system.Translate(english); };
  TCommandLine line;
  // After "--" every argument is the command or its operand: an address like "--help" is an
  // address, and is checked as one.
  bool operandsOnly = false;
  for (std::size_t i = 0; i < args.size() && line.error.empty(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) {
        line.error = Fill(_("Option %1 needs a value."), {arg});
        return std::nullopt;
      }
      return args[++i];
    };
    if (operandsOnly) {
      TakeOperand(line, arg, system);
    } else if (arg == "--") {
      operandsOnly = true;
    } else if (arg == "--help" || arg == "-h") {
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
        const auto text = system.ArgumentText(*v);
        if (!text) {
          line.error = Fill(_("The value of %1 is not text in this system's encoding: %2"),
                            {arg, system.PathText(*v)});
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
    } else if (std::any_of(std::begin(kIdentityFields), std::end(kIdentityFields),
                           [&](const TField& f) { return arg == f.option; })) {
      if (line.options.contains(arg)) line.error = Fill(_("Option %1 is given twice."), {arg});
      if (auto v = value(); v && line.error.empty()) {
        const auto text = system.ArgumentText(*v);
        if (!text) {
          line.error = Fill(_("The value of %1 is not text in this system's encoding: %2"),
                            {arg, system.PathText(*v)});
        } else {
          line.options[arg] = *text;
        }
      }
    } else if (arg.starts_with("--")) {
      line.error = Fill(_("Unknown option: %1"), {system.PathText(arg)});
    } else {
      TakeOperand(line, arg, system);
    }
  }
  if (!line.error.empty() || line.help) return line;
  // Options of one command given to another are mistakes, not wishes.
  const bool setting =
      line.command == "set-address" || line.command == "set-company" || line.command == "set";
  // Under pkexec the caller is not root: a folder or a file of the caller's choosing would be
  // written or read as root (through links, any file). The action allows the installation.
  const bool pkexec = system.StartedThroughPkexec();
  if (pkexec && line.folderGiven) {
    line.error = Fill(_("Started through pkexec, %1 writes only the installation it belongs to: "
                        "--dir is refused, as root would write a folder of the caller's choosing."),
                      {system.ProgramName()});
  } else if (pkexec && (line.registryGiven || (line.valuesGiven && line.valuesFrom != "-"))) {
    line.error = Fill(_("Started through pkexec, %1 reads its values from standard input only "
                        "(--values-from -): another file, or --from-registry, is refused, as root "
                        "would read what the caller chose."),
                      {system.ProgramName()});
  } else if (!line.options.empty() && line.command != "set-company") {
    line.error = Fill(_("Option %1 is only for set-company."), {line.options.begin()->first});
  } else if (line.dryRun && !setting) {
    line.error = _("--dry-run is only for set-address, set-company and set.");
  } else if (line.json && !setting && line.command != "check" && line.command != "show") {
    line.error = _("--json is only for set-address, set-company, set, show and check.");
  } else if (line.command == "set" && !line.valuesGiven) {
    line.error = _("set takes its values from --values-from.");
  } else if (line.registryGiven && (!setting || line.command == "set")) {
    line.error = _("--from-registry is only for set-address and set-company.");
  } else if (line.registryGiven && (!line.operands.empty() || !line.options.empty())) {
    line.error =
        _("--from-registry takes the values from the registry: give none on the "
          "command line.");
  } else if (line.valuesGiven && !setting) {
    line.error = _("--values-from is only for set-address, set-company and set.");
  } else if (line.valuesGiven &&
             (line.registryGiven || !line.operands.empty() || !line.options.empty())) {
    line.error =
        _("--values-from takes the values from a JSON object: give none on the command line "
          "or with --from-registry.");
  }
  return line;
}

std::string Usage(TConfigToolSystem& system) {
  const auto _ = [&system](const char* english) { return system.Translate(english); };
  const std::string name = system.ProgramName();
  return Fill(_("Usage:\n"
                "  %1 [--dir FOLDER] [--dry-run] [--json] set-address [--] URL\n"
                "  %1 [--dir FOLDER] [--dry-run] [--json] set-company [--number NUMBER]\n"
                "      [--type TYPE] [--name NAME] [--device-id ID] [--upload-user ACCOUNT]\n"
                "      [--other TEXT]\n"
                "  %1 [--dir FOLDER] [--dry-run] [--json] --values-from FILE|-\n"
                "      set-address|set-company|set\n"
                "  %1 [--dir FOLDER] [--json] show\n"
                "  %1 [--dir FOLDER] [--json] check\n"
                "  %1 --help | --version\n"),
              {name}) +
         "\n" +
         Fill(
             _("Commands:\n"
               "  set-address URL  writes the address of the company page (%1).\n"
               "                   It must start with http:// or https://, e.g.\n"
               "                   http://example.com/company/info.aspx\n"
               "  set-company      writes the company's identity (%2). Values not\n"
               "                   given keep what is stored; the first time --number, --type and\n"
               "                   --device-id are needed. --name \"\", --upload-user \"\" and\n"
               "                   --other \"\" clear those values.\n"
               "  set              writes the address and the identity together, from\n"
               "                   --values-from: both files change, or neither does.\n"
               "  show             prints the stored values, one field=value line each: url,\n"
               "                   number, type, name, device-id, upload-user, other.\n"
               "  check            runs the launcher's start-up without opening anything: shows\n"
               "                   the exact address it would open, or the message it would "
               "show.\n"),
             {Concat({kConfigFolderName, "/", kAddressFileName}),
              Concat({kConfigFolderName, "/", kIdentityFileName})}) +
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
           "  --values-from FILE|-\n"
           "                takes the values of set-address, set-company or set from a\n"
           "                JSON object in FILE (- for standard input), by the names show\n"
           "                prints: {\"url\": \"...\"}, or number, type, name, device-id,\n"
           "                upload-user, other; null gives none. Nothing rewrites them on\n"
           "                the way, as a shell or an engine may rewrite arguments.\n"
           "  --            every argument after it is the command or its value, also one\n"
           "                that starts with -: set-address -- URL.\n") +
         // Only where there is a registry to read.
         (system.HasRegistry()
              ? _("  --from-registry KEY\n"
                  "                takes the values of set-address or set-company from the\n"
                  "                registry key KEY under HKEY_LOCAL_MACHINE, where the MSI hands\n"
                  "                them over: URL, or COMPANYNUM, COMPANYTYPE, COMPANYNAME,\n"
                  "                DEVICEID, UPLOADUSER, OTHERINFO, each in double quotes; \"\"\n"
                  "                gives none.\n")
              : std::string()) +
         _("\n"
           "Exit codes: 0 done (also when nothing needed changing); 1 check: the launcher\n"
           "would show a message; 2 a value or the command line was refused, nothing was\n"
           "written; 3 a file could not be read or written, or another run kept the\n"
           "configuration busy for 10 seconds, nothing was changed.\n");
}
