#include "tool/ToolSystem_posix.h"

#include <fcntl.h>
#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/File_linux.h"
#include "common/ProgramFolder.h"
#include "common/Text.h"
#include "common/Utf.h"
#include "inputs/InstallationFiles.h"
#include "launch/Version.h"
#include "tool/Tool.h"

namespace {


// The mode as ls shows it: drwxr-x---.
std::string ModeText(mode_t mode) {
  std::string text = S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : S_ISREG(mode) ? "-" : "?";
  constexpr const char* kLetters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) text += (mode & (0400u >> bit)) != 0 ? kLetters[bit] : '-';
  return text;
}

std::string Parent(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void BindConfigToolMessages() {
  // Relative to the program's folder, the installation's catalogs are at
  // COMPANYMAIN_LOCALE_FROM_PROGRAM.
  const std::string program = ::ProgramFolder();
  if (!program.empty()) {
    struct stat st {};
    const bool built = stat((program + "locale").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    bindtextdomain(kConfigToolDomain,
                   (program + (built ? "locale" : COMPANYMAIN_LOCALE_FROM_PROGRAM)).c_str());
  }
  bind_textdomain_codeset(kConfigToolDomain, "UTF-8");  // the tool works in UTF-8
}

TPosixConfigToolSystem::TPosixConfigToolSystem()
    : TPosixConfigToolSystem(TPosixCodePage::ForUserLocale()) {}

TPosixConfigToolSystem::TPosixConfigToolSystem(TPosixCodePage codePage)
    : codePage_(std::move(codePage)) {}

std::string TPosixConfigToolSystem::Translate(const char* english) {
  // The catalog is bound with UTF-8 as its output (see main_posix.cpp).
  return dgettext(kConfigToolDomain, english);
}

std::string TPosixConfigToolSystem::ElevationRemedy() {
  return Translate("Run companymain-config as root, for example with sudo.");
}

std::optional<std::string> TPosixConfigToolSystem::ArgumentText(const std::string& argument) {
  // Arguments come in the locale's encoding; bytes that are no text in it would come back as
  // other bytes.
  std::string utf8 = Utf16ToUtf8(codePage_.ToUtf16(argument));
  if (codePage_.FromUtf16(Utf8ToUtf16(utf8)) != argument) return std::nullopt;
  return utf8;
}

std::string TPosixConfigToolSystem::PathText(const std::string& path) {
  if (auto text = ArgumentText(path)) return *text;
  // Not text in the locale: every byte that is not ASCII is shown as \xNN.
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown += c;
    } else {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0x0F];
    }
  }
  return shown;
}

std::string TPosixConfigToolSystem::ProgramFolder() {
  return ::ProgramFolder();
}

std::string TPosixConfigToolSystem::FullFolder(const std::string& folder) {
  // The bytes as given: a name need not be text in the locale.
  std::string path = folder;
  if (path.empty() || path.front() != '/') {
    const std::unique_ptr<char, decltype(&std::free)> here(getcwd(nullptr, 0), &std::free);
    if (!here) return {};
    path = std::string(here.get()) + "/" + path;
  }
  if (path.back() != '/') path += '/';
  return path;
}

std::string TPosixConfigToolSystem::RealPath(const std::string& path) {
  // A file not there yet: the folder it would be in, resolved.
  for (const auto& [resolve, rest] : {std::pair{path, std::string()},
                                      std::pair{Parent(path), path.substr(path.rfind('/') + 1)}}) {
    const std::unique_ptr<char, decltype(&std::free)> real(realpath(resolve.c_str(), nullptr),
                                                           &std::free);
    if (real) {
      const std::string resolved(real.get());
      return rest.empty() ? resolved : (resolved == "/" ? "" : resolved) + "/" + rest;
    }
  }
  return path;
}

bool TPosixConfigToolSystem::StartedThroughPkexec() const {
  // pkexec names the user it runs the program for, in the environment it gives it; a user who
  // sets the variable only narrows their own run.
  return std::getenv("PKEXEC_UID") != nullptr;
}

TConfigToolSystem::TFailure TPosixConfigToolSystem::ReadFailure(std::uint32_t error) {
  if (error == 0) return {Translate("not a regular file"), false};
  return Failure(static_cast<int>(error));
}

std::optional<TConfigToolSystem::TClosed> TPosixConfigToolSystem::ClosedToOthers(
    const std::string& path) {
  // Others pass a folder with its x bit for others and read a file with its r bit. The folders
  // on the way as the path names them and those behind its links must all let them through.
  for (const std::string& candidate : {path, RealPath(path)}) {
    if (candidate.empty() || candidate.front() != '/') continue;
    struct stat st {};
    for (std::size_t slash = 0; slash != std::string::npos;
         slash = candidate.find('/', slash + 1)) {
      const std::string folder = slash == 0 ? "/" : candidate.substr(0, slash);
      if (stat(folder.c_str(), &st) != 0) break;
      if (S_ISDIR(st.st_mode) && (st.st_mode & S_IXOTH) == 0)
        return TClosed{RealPath(folder), ModeText(st.st_mode), true};
    }
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IROTH) == 0)
      return TClosed{RealPath(candidate), ModeText(st.st_mode), false};
  }
  return std::nullopt;
}

std::string TPosixConfigToolSystem::LauncherVersion(const std::string& folder) {
  // The launcher carries its version as text after a marker (see main_posix.cpp).
  const TUniqueFd fd = OpenRegularFile(folder + "CompanyMain");
  if (!fd.Valid()) return {};
  constexpr std::string_view kMarker = COMPANYMAIN_VERSION_MARK;
  std::string content;
  char buffer[65536];
  for (ssize_t n; (n = read(fd.Get(), buffer, sizeof buffer)) > 0;) {
    content.append(buffer, static_cast<std::size_t>(n));
    if (content.size() > (64u << 20)) break;  // no launcher is that large
  }
  const std::size_t at = content.find(kMarker);
  if (at == std::string::npos) return {};
  const std::size_t start = at + kMarker.size();
  const std::size_t end = content.find_first_not_of("0123456789.", start);
  return content.substr(start, end - start);
}

bool TPosixConfigToolSystem::RegistryTexts(const std::string&, const std::vector<std::string>&,
                                           std::map<std::string, std::string>&, TFailure& failure) {
  failure.reason = Translate("there is no registry on this system");
  return false;
}

bool TPosixConfigToolSystem::ReadInput(const std::string& path, std::size_t limit,
                                       std::string& bytes, TFailure& failure) {
  TUniqueFd file;
  if (path != "-") {
    file = TUniqueFd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
      failure = Failure(errno);
      return false;
    }
  }
  const int fd = path == "-" ? STDIN_FILENO : file.Get();
  char buffer[4096];
  while (bytes.size() <= limit) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      failure = Failure(errno);
      return false;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  if (bytes.size() > limit + 1) bytes.resize(limit + 1);
  return true;
}

void TPosixConfigToolSystem::Out(std::string_view utf8) {
  WriteAll(STDOUT_FILENO, Ansi(utf8));
}

void TPosixConfigToolSystem::Err(std::string_view utf8) {
  WriteAll(STDERR_FILENO, Ansi(utf8));
}

void TPosixConfigToolSystem::OutAddress(std::string_view ansi) {
  WriteAll(STDOUT_FILENO, ansi);
}

void TPosixConfigToolSystem::OutUtf8(std::string_view utf8) {
  WriteAll(STDOUT_FILENO, utf8);
}

std::string TPosixConfigToolSystem::Ansi(std::string_view utf8) const {
  // The terminal shows the locale's encoding.
  if (codePage_.GetKind() == TPosixCodePage::Kind::Utf8) return std::string(utf8);
  return codePage_.FromUtf16(Utf8ToUtf16(utf8));
}

TConfigToolSystem::TFailure TPosixConfigToolSystem::Failure(int error) const {
  // strerror speaks the locale's language in its encoding.
  return {Utf16ToUtf8(codePage_.ToUtf16(std::strerror(error))), error == EACCES || error == EPERM};
}
