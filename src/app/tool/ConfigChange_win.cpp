// A change of the Config folder's files on Windows. The way from the installation folder to each
// file is opened one name at a time, relative to the folder opened before it (NtCreateFile with
// a root folder), never following a junction, symbolic link or mount point by itself; every
// later step (reading, the lock, the temporary file, the rename) works on the folder opened
// then, so that a link swapped between two steps changes nothing.
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage_win.h"
#include "common/Handles_win.h"
#include "common/Text.h"
#include "inputs/InstallationFiles.h"
#include "tool/Tool.h"
#include "tool/ToolSystem_win.h"

namespace {

using TFailure = TConfigToolSystem::TFailure;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What a folder on the way is opened for: names in it, its owner, its attributes.
constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr ACCESS_MASK kLookAccess = FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
// A temporary file is ".<name>" with this and the process's id: a name of the tool's own, so
// that a killed run's leftovers are told from other programs' files.
constexpr std::wstring_view kTemporaryMark = L".companymain-config-";

struct TOpened {
  TUniqueHandle handle;
  DWORD error = 0;
  bool made = false;  // created by this open
};

// The name in the folder, the way NtCreateFile opens it: a reparse point there is opened itself
// unless options leave FILE_OPEN_REPARSE_POINT out.
TOpened OpenAt(HANDLE folder, std::wstring_view name, ACCESS_MASK access, ULONG disposition,
               ULONG options, ULONG share = kShareAll, ULONG attributes = FILE_ATTRIBUTE_NORMAL) {
  UNICODE_STRING text{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                      static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                      const_cast<wchar_t*>(name.data())};
  OBJECT_ATTRIBUTES object{};
  InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE raw = nullptr;
  const NTSTATUS status =
      NtCreateFile(&raw, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share,
                   disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status < 0) return {TUniqueHandle(), RtlNtStatusToDosError(status), false};
  return {TUniqueHandle(raw), 0, io.Information == FILE_CREATED};
}

TOpened OpenPath(const std::string& path, ACCESS_MASK access, bool followLink) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE raw = CreateFileW(ExtendedLengthPath(WideFromUtf8(path)).c_str(), access, kShareAll,
                           nullptr, OPEN_EXISTING, flags, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return {TUniqueHandle(), GetLastError(), false};
  return {TUniqueHandle(raw), 0, false};
}

// The path Windows has for what the handle opened, behind every link; "" when it cannot tell.
std::wstring FinalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (int tries = 0; tries < 3; ++tries) {
    const DWORD n = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(n + 1);
  }
  return {};
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

struct TLocalFree {
  void operator()(void* memory) const { LocalFree(memory); }
};

// An account as a user reads it: DOMAIN\name, or the SID where it has no name.
std::string AccountName(PSID sid) {
  wchar_t name[256] = {};
  wchar_t domain[256] = {};
  DWORD nameSize = 256;
  DWORD domainSize = 256;
  SID_NAME_USE use{};
  if (LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
    return Utf8FromWide(domainSize > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name));
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "?";
  const std::unique_ptr<void, TLocalFree> owned(text);
  return Utf8FromWide(text);
}

// Who may own a folder or a link on the way to a file the writer changes: the system's own
// accounts (Administrators, SYSTEM, TrustedInstaller) and the writer itself. Anybody else could
// point the way at files they may not write themselves, and have the writer write them.
class TTrusted {
 public:
  TTrusted() {
    for (const WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid})
      Add([&](std::vector<BYTE>& sid, DWORD& size) {
        return CreateWellKnownSid(type, nullptr, sid.data(), &size);
      });
    PSID installer = nullptr;
    if (ConvertStringSidToSidW(L"S-1-5-80-956008885-3159402215-2790618766-1591186573-2330322768",
                               &installer)) {
      const std::unique_ptr<void, TLocalFree> owned(installer);
      sids_.emplace_back(static_cast<BYTE*>(installer),
                         static_cast<BYTE*>(installer) + GetLengthSid(installer));
    }
    HANDLE raw = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
      const TUniqueHandle token(raw);
      Add([&](std::vector<BYTE>& buffer, DWORD& size) {
        if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return FALSE;
        const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        buffer = std::vector<BYTE>(static_cast<BYTE*>(user),
                                   static_cast<BYTE*>(user) + GetLengthSid(user));
        return TRUE;
      });
    }
  }
  bool operator()(PSID owner) const {
    for (const std::vector<BYTE>& sid : sids_)
      if (EqualSid(owner, const_cast<BYTE*>(sid.data()))) return true;
    return false;
  }

 private:
  template <class Make>
  void Add(const Make& fill) {
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE + 256);
    DWORD size = static_cast<DWORD>(sid.size());
    if (fill(sid, size)) sids_.push_back(std::move(sid));
  }
  std::vector<std::vector<BYTE>> sids_;
};

// What the tool must know of one thing on the way, opened itself.
struct TLooked {
  DWORD attributes = 0;
  DWORD links = 1;
  bool trusted = false;
  std::string owner;  // its name, when it is not trusted
  DWORD error = 0;
  [[nodiscard]] bool Link() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
  [[nodiscard]] bool Folder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

TLooked Look(HANDLE handle, const TTrusted& trusted) {
  TLooked looked;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) {
    looked.error = GetLastError();
    return looked;
  }
  looked.attributes = info.dwFileAttributes;
  looked.links = info.nNumberOfLinks;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  looked.error = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                 nullptr, nullptr, nullptr, &raw);
  const std::unique_ptr<void, TLocalFree> descriptor(raw);
  // An owner that cannot be read is nobody trusted.
  looked.owner = "?";
  if (looked.error != ERROR_SUCCESS || owner == nullptr) return looked;
  looked.trusted = trusted(owner);
  looked.owner = looked.trusted ? "" : AccountName(owner);
  return looked;
}

bool SameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x{};
  BY_HANDLE_FILE_INFORMATION y{};
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

bool DeleteOpened(HANDLE handle) {
  FILE_DISPOSITION_INFO dispose{TRUE};
  return SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose);
}

}  // namespace

// The change itself: the installation folder, the Config folder and each file, opened once.
class TWinConfigToolSystem::TWinChange final : public TConfigToolSystem::TChange {
 public:
  TWinChange(TWinConfigToolSystem& system, const std::vector<std::string>& names)
      : system_(system) {
    for (const std::string& name : names) files_.push_back({name, {}, {}, 0, 0});
  }

  // Follows the way from the installation folder to the Config folder and to each file in it.
  bool Begin(const std::string& config, TFailure& failure) {
    configShown_ = config;
    const std::size_t slash = config.find_last_of('\\');
    const std::string installation = config.substr(0, slash);
    configName_ = WideFromUtf8(config.substr(slash + 1));
    // The installation folder as the administrator named it: only a link there is judged.
    TOpened opened = OpenPath(installation, kFolderAccess, false);
    if (!opened.handle.Valid()) {
      configError_ = opened.error;
      return true;
    }
    TLooked looked = Look(opened.handle.Get(), trusted_);
    if (looked.Link()) {
      if (!looked.trusted) return Refuse(installation, looked, Way::Link, failure);
      opened = OpenPath(installation, kFolderAccess, true);
      if (!opened.handle.Valid()) {
        configError_ = opened.error;
        return true;
      }
      looked = Look(opened.handle.Get(), trusted_);
    }
    if (!looked.trusted && looked.error == 0)
      return Refuse(installation, looked, Way::Folder, failure);
    parent_ = std::move(opened.handle);
    parentFinal_ = FinalPath(parent_.Get());
    TOpened configOpened = Step(parent_.Get(), parentFinal_, configName_, kFolderAccess,
                                FILE_DIRECTORY_FILE, config, true, failure);
    if (!failure.reason.empty()) return false;
    if (!configOpened.handle.Valid()) {
      // Missing: made by Lock. Anything else: why nothing can be read or written there.
      if (configOpened.error != ERROR_FILE_NOT_FOUND) configError_ = configOpened.error;
      return true;
    }
    config_ = std::move(configOpened.handle);
    return FollowFiles(failure);
  }

  TFileBytes Read(std::string_view name) override {
    TFile& file = Find(name);
    const auto unreadable = [](DWORD error) {
      return TFileBytes{TFileRead::State::Unreadable, {}, error};
    };
    if (!config_.Valid()) {
      return configError_ == 0 || configError_ == ERROR_FILE_NOT_FOUND ||
                     configError_ == ERROR_PATH_NOT_FOUND || configError_ == ERROR_DIRECTORY
                 ? TFileBytes{}
                 : unreadable(configError_);
    }
    if (file.error == ERROR_FILE_NOT_FOUND) return {};
    if (file.error != 0) return unreadable(file.error);
    if (file.readError != 0) return unreadable(file.readError);
    const HANDLE handle = file.handle.Get();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return unreadable(GetLastError());
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return unreadable(ERROR_DIRECTORY);
    if (GetFileType(handle) != FILE_TYPE_DISK) return unreadable(0);
    if ((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow) >
        kChangeableFileMax)
      return unreadable(ERROR_FILE_TOO_LARGE);
    // From the start every time, on the handle opened when the change began.
    TFileBytes read{TFileRead::State::Read, {}, 0};
    char buffer[65536];
    for (;;) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(read.bytes.size());
      DWORD n = 0;
      if (!ReadFile(handle, buffer, sizeof buffer, &n, &at)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        return unreadable(GetLastError());
      }
      if (n == 0) break;
      read.bytes.append(buffer, n);
      if (read.bytes.size() > kChangeableFileMax) return unreadable(ERROR_FILE_TOO_LARGE);
    }
    return read;
  }

  bool Lock(int waitSeconds, TFailure& failure) override {
    if (!config_.Valid() && !MakeConfig(failure)) {
      failure.folder = true;
      return false;
    }
    const std::wstring name = WideFromUtf8(kWriterLockName);
    const ULONGLONG start = GetTickCount64();
    for (;;) {
      // The lock file itself, never what a link there leads to; gone when the handle closes
      // (also when the process dies).
      TOpened opened =
          OpenAt(config_.Get(), name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_OPEN_IF,
                 FILE_NON_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE | FILE_OPEN_REPARSE_POINT, 0,
                 FILE_ATTRIBUTE_HIDDEN);
      if (opened.handle.Valid()) {
        lock_ = std::move(opened.handle);
        return true;
      }
      const ULONGLONG waited = GetTickCount64() - start;
      // Another writer has the file open; a file it is letting go of refuses access for a moment.
      const bool held = opened.error == ERROR_SHARING_VIOLATION;
      const bool leaving = opened.error == ERROR_ACCESS_DENIED && waited < 500;
      if (!held && !leaving) {
        failure = system_.Failure(opened.error);
        // Something at the lock's path that cannot be opened is named, not the file to write:
        // a folder there gives "Access denied" too.
        const TOpened there =
            OpenAt(config_.Get(), name, kLookAccess, FILE_OPEN, FILE_OPEN_REPARSE_POINT);
        BY_HANDLE_FILE_INFORMATION info{};
        if (there.handle.Valid() && GetFileInformationByHandle(there.handle.Get(), &info)) {
          if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            failure = {system_.Translate("not a regular file"), false};
          failure.lock = true;
        }
        return false;
      }
      if (waited >= static_cast<ULONGLONG>(waitSeconds) * 1000) {
        failure.held = true;
        return false;
      }
      Sleep(20);
    }
  }

  bool Replace(std::string_view name, std::string_view bytes, TFailure& failure) override {
    TFile& file = Find(name);
    if (file.error != 0 && file.error != ERROR_FILE_NOT_FOUND) {
      failure = system_.Failure(file.error);
      return false;
    }
    const HANDLE folder = config_.Get();
    const std::wstring real = WideFromUtf8(file.name);
    RemoveLeftovers(real);
    // What is replaced is the file that was read: another program's change meanwhile is not
    // written over.
    if (!SameAsRead(file, real)) {
      failure = {system_.Translate("it changed while it was being written"), false};
      return false;
    }
    const std::wstring temporary =
        L"." + real + std::wstring(kTemporaryMark) + std::to_wstring(GetCurrentProcessId());
    TOpened made = OpenAt(folder, temporary, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_CREATE,
                          FILE_NON_DIRECTORY_FILE);
    if (!made.handle.Valid()) {
      failure = system_.Failure(made.error);
      return false;
    }
    DWORD written = 0;
    const bool full = WriteFile(made.handle.Get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                &written, nullptr) &&
                      written == bytes.size() && FlushFileBuffers(made.handle.Get());
    // The name in the folder opened, whatever stands at the folder's path by now. A file still
    // open refuses to be replaced: the tool's own handles go first.
    file.handle.Reset();
    file.linkOrFile.Reset();
    const std::size_t size = sizeof(FILE_RENAME_INFORMATION) + real.size() * sizeof(wchar_t);
    std::vector<std::byte> buffer(size);
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<ULONG>(real.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, real.data(), rename->FileNameLength);
    IO_STATUS_BLOCK io{};
    const NTSTATUS renamed =
        full ? NtSetInformationFile(made.handle.Get(), &io, rename, static_cast<ULONG>(size),
                                    FileRenameInformation)
             : 0;
    if (!full || renamed < 0) {
      failure = system_.Failure(full ? RtlNtStatusToDosError(renamed) : GetLastError());
      DeleteOpened(made.handle.Get());
      return false;
    }
    file.handle = std::move(made.handle);
    file.error = 0;
    return true;
  }

  bool Remove(std::string_view name, TFailure& failure) override {
    TFile& file = Find(name);
    file.handle.Reset();
    file.linkOrFile.Reset();
    if (!config_.Valid()) return true;
    const TOpened opened =
        OpenAt(config_.Get(), WideFromUtf8(file.name), DELETE, FILE_OPEN,
               FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_DELETE_ON_CLOSE);
    if (opened.handle.Valid() || opened.error == ERROR_FILE_NOT_FOUND) {
      file.error = ERROR_FILE_NOT_FOUND;
      return true;
    }
    failure = system_.Failure(opened.error);
    return false;
  }

  std::string Shown(std::string_view name) override {
    return Concat({configShown_, "\\", std::string(name)});
  }

 private:
  struct TFile {
    std::string name;
    TUniqueHandle handle;      // the file, read through (behind a trusted link)
    TUniqueHandle linkOrFile;  // the link itself, where one stands at the name
    DWORD error = 0;           // the way to it could not be followed: why
    DWORD readError = 0;       // it was opened, but not for reading: why
  };
  enum class Way { Link, Folder, HardLink, Unseen };

  TFile& Find(std::string_view name) {
    for (TFile& file : files_)
      if (file.name == name) return file;
    files_.push_back({std::string(name), {}, {}, ERROR_INVALID_PARAMETER, 0});
    return files_.back();
  }

  // The file at the name is still the one read (or still none), looked at through a handle that
  // is gone again before the rename, which an open file refuses.
  bool SameAsRead(const TFile& file, const std::wstring& real) {
    const TOpened now =
        OpenAt(config_.Get(), real, kLookAccess, FILE_OPEN, FILE_OPEN_REPARSE_POINT);
    if (!now.handle.Valid() || !file.handle.Valid())
      return now.handle.Valid() == file.handle.Valid();
    return SameFile(now.handle.Get(),
                    file.linkOrFile.Valid() ? file.linkOrFile.Get() : file.handle.Get());
  }

  bool Refuse(const std::string& path, const TLooked& looked, Way way, TFailure& failure,
              const std::string& leadsTo = {}) {
    const std::string program = system_.ProgramName();
    const std::string owner = looked.owner;
    failure = {};
    switch (way) {
      case Way::Link:
      case Way::Folder:
        failure.reason = Fill(system_.Translate("%1 belongs to %2, who could lead the writer from "
                                                "there into files that are not %2's to change"),
                              {path, owner});
        failure.remedy =
            way == Way::Link
                ? Fill(system_.Translate("Remove the link %1, or run %2 as %3."),
                       {path, program, owner})
                : Fill(system_.Translate(
                           "Make Administrators the owner of %1 (takeown /a /r /f \"%1\"), or "
                           "run %2 as %3."),
                       {path, program, owner});
        break;
      case Way::HardLink:
        failure.reason =
            Fill(system_.Translate("%1 has other names (hard links) and belongs to %2, who could "
                                   "make it a name of a file that is not %2's to change"),
                 {path, owner});
        failure.remedy =
            Fill(system_.Translate("Remove %1 (its other names keep the file), or run %2 as %3."),
                 {path, program, owner});
        break;
      case Way::Unseen:
        failure.reason =
            Fill(system_.Translate("%1 leads to %2 by a link whose owner cannot be told"),
                 {path, leadsTo});
        failure.remedy =
            Fill(system_.Translate("Remove the link %1, or put the folder or file it leads to in "
                                   "its place."),
                 {path});
        break;
    }
    return false;
  }

  // Opens the name in the folder (whose final path is folderFinal) without following a link
  // there, and judges it: a link (followed when its owner is trusted), a folder of somebody
  // untrusted, a file with other names of somebody untrusted, or a link Windows does not show
  // as one (what it opened lies elsewhere) are refused. The handle opened behind any link; a
  // missing name gives an invalid one. link gets the link itself, where one stands.
  TOpened Step(HANDLE folder, const std::wstring& folderFinal, const std::wstring& name,
               ACCESS_MASK access, ULONG options, const std::string& shown, bool isFolder,
               TFailure& failure, TUniqueHandle* link = nullptr) {
    TOpened opened = OpenAt(folder, name, access, FILE_OPEN, options | FILE_OPEN_REPARSE_POINT);
    if (!opened.handle.Valid()) return opened;
    TLooked looked = Look(opened.handle.Get(), trusted_);
    bool followed = false;
    if (looked.Link()) {
      if (!looked.trusted) {
        Refuse(shown, looked, Way::Link, failure);
        return {};
      }
      TOpened behind = OpenAt(folder, name, access, FILE_OPEN, options);
      if (!behind.handle.Valid()) return behind;
      if (link != nullptr) *link = std::move(opened.handle);
      opened = std::move(behind);
      looked = Look(opened.handle.Get(), trusted_);
      followed = true;
    }
    if (isFolder && !looked.trusted && looked.error == 0) {
      Refuse(shown, looked, Way::Folder, failure);
      return {};
    }
    if (!isFolder && !looked.Folder() && looked.links > 1 && !looked.trusted && looked.error == 0) {
      Refuse(shown, looked, Way::HardLink, failure);
      return {};
    }
    // A link that Windows does not show as one (a Unix link under Wine, say): whoever made it
    // cannot be told, so it is not followed.
    const std::wstring final = FinalPath(opened.handle.Get());
    if (!followed && !folderFinal.empty() && !final.empty() &&
        !SamePath(final, folderFinal + L"\\" + name)) {
      std::wstring leadsTo = final;
      if (leadsTo.starts_with(L"\\\\?\\UNC\\"))
        leadsTo.replace(0, 8, L"\\\\");
      else if (leadsTo.starts_with(L"\\\\?\\"))
        leadsTo.erase(0, 4);
      Refuse(shown, looked, Way::Unseen, failure, Utf8FromWide(leadsTo));
      return {};
    }
    return opened;
  }

  bool FollowFiles(TFailure& failure) {
    configFinal_ = FinalPath(config_.Get());
    for (TFile& file : files_) {
      const std::wstring name = WideFromUtf8(file.name);
      TOpened opened = Step(config_.Get(), configFinal_, name, GENERIC_READ | READ_CONTROL, 0,
                            Shown(file.name), false, failure, &file.linkOrFile);
      if (!failure.reason.empty()) return false;
      // A file the writer may not read is still judged, and refused at its reading.
      if (opened.error == ERROR_ACCESS_DENIED) {
        file.readError = opened.error;
        opened = Step(config_.Get(), configFinal_, name, kLookAccess, 0, Shown(file.name), false,
                      failure, &file.linkOrFile);
        if (!failure.reason.empty()) return false;
      }
      file.error = opened.error;
      file.handle = std::move(opened.handle);
    }
    return true;
  }

  // The Config folder, in the installation folder opened when the change began.
  bool MakeConfig(TFailure& failure) {
    if (configError_ != 0 || !parent_.Valid()) {
      failure = system_.Failure(configError_ != 0 ? configError_ : ERROR_PATH_NOT_FOUND);
      return false;
    }
    // A new folder inherits the access list of the one it is made in.
    TOpened made =
        OpenAt(parent_.Get(), configName_, kFolderAccess, FILE_CREATE, FILE_DIRECTORY_FILE);
    if (!made.handle.Valid() && made.error != ERROR_ALREADY_EXISTS &&
        made.error != ERROR_FILE_EXISTS) {
      failure = system_.Failure(made.error);
      return false;
    }
    if (!made.handle.Valid()) {
      // Made meanwhile by somebody else: judged as any folder on the way.
      made = Step(parent_.Get(), parentFinal_, configName_, kFolderAccess, FILE_DIRECTORY_FILE,
                  configShown_, true, failure);
      if (!failure.reason.empty()) return false;
      if (!made.handle.Valid()) {
        failure =
            system_.Failure(made.error == ERROR_FILE_NOT_FOUND ? ERROR_DIRECTORY : made.error);
        return false;
      }
    }
    config_ = std::move(made.handle);
    return FollowFiles(failure);
  }

  // A killed run's temporary files beside the file: with the lock held, no other writer's.
  // Only the tool's own names, and never what a link there leads to.
  void RemoveLeftovers(const std::wstring& name) {
    const std::wstring prefix = L"." + name + std::wstring(kTemporaryMark);
    std::vector<std::wstring> found;
    alignas(8) std::byte buffer[65536];
    for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
         GetFileInformationByHandleEx(config_.Get(), kind, buffer, sizeof buffer);
         kind = FileIdBothDirectoryInfo) {
      for (std::size_t at = 0;;) {
        const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + at);
        const std::wstring_view entryName(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
        if (entryName.size() > prefix.size() && entryName.starts_with(prefix) &&
            entryName.find_first_not_of(L"0123456789", prefix.size()) == std::wstring_view::npos &&
            (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
          found.emplace_back(entryName);
        }
        if (entry->NextEntryOffset == 0) break;
        at += entry->NextEntryOffset;
      }
    }
    for (const std::wstring& leftover : found) {
      OpenAt(config_.Get(), leftover, DELETE, FILE_OPEN,
             FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_DELETE_ON_CLOSE);
    }
  }

  TWinConfigToolSystem& system_;
  TTrusted trusted_;
  std::string configShown_;   // the Config folder as the tool names it
  std::wstring configName_;   // its name in the installation folder
  TUniqueHandle parent_;      // the installation folder
  std::wstring parentFinal_;  // its path behind every link
  TUniqueHandle config_;      // the Config folder, once there
  std::wstring configFinal_;
  DWORD configError_ = 0;  // the way to the Config folder could not be followed: why
  std::vector<TFile> files_;
  TUniqueHandle lock_;
};

std::unique_ptr<TConfigToolSystem::TChange> TWinConfigToolSystem::BeginChange(
    const std::string& config, const std::vector<std::string>& names, TFailure& failure) {
  auto change = std::make_unique<TWinChange>(*this, names);
  if (!change->Begin(config, failure)) return nullptr;
  return change;
}
