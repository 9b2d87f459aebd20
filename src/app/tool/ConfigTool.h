#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/CodePage.h"
#include "inputs/ConfigFolder.h"

// What the configuration tool needs of the platform, and all it uses of it. Texts are UTF-8.
// Paths are the system's own: bytes as the file system knows them on Linux (not text in any
// encoding), UTF-8 of the wide names on Windows; they are never converted, only shown.
class TConfigToolSystem {
 public:
  virtual ~TConfigToolSystem() = default;

  // ---- Language and text
  // The text in the user's language (english is the source text of the message catalog).
  virtual std::string Translate(const char* english) = 0;
  // The tool's name as the user types it.
  [[nodiscard]] virtual std::string ProgramName() const = 0;
  // What to do when the system refused access: run the tool as root, or as an administrator.
  virtual std::string ElevationRemedy() = 0;
  // The ANSI code page the launcher reads its files in, on this machine and for this user.
  [[nodiscard]] virtual const TCodePage& AnsiCodePage() const = 0;
  // The text of a command-line argument as UTF-8; nullopt when it is no text in the system's
  // encoding. Arguments come as the system gave them (see RunConfigTool).
  virtual std::optional<std::string> ArgumentText(const std::string& argument) = 0;
  // A path as a user reads it (UTF-8): bytes that are no text are shown escaped.
  virtual std::string PathText(const std::string& path) = 0;

  // ---- Paths
  [[nodiscard]] virtual char PathSeparator() const = 0;
  // The folder of the tool itself, ending with the separator; "" when it cannot be told.
  virtual std::string ProgramFolder() = 0;
  // A folder given on the command line, as a full path ending with the separator; "" when it
  // cannot be made one.
  virtual std::string FullFolder(const std::string& folder) = 0;
  // The path with every link resolved (the folder behind the installation's Config link), for
  // messages; the path as given when it cannot be resolved.
  virtual std::string RealPath(const std::string& path) = 0;
  // Started through pkexec (polkit), as root for another user: the tool then writes only the
  // installation it belongs to, with values from standard input, as the action allows.
  [[nodiscard]] virtual bool StartedThroughPkexec() const { return false; }

  // ---- Reading
  struct TFailure {
    std::string reason;    // the system's reason, in the user's language
    bool denied = false;   // the system refused access: the remedy is more rights
    bool held = false;     // another writer held the configuration for the whole wait
    bool lock = false;     // the writer lock itself is the problem (what stands at its path)
    bool folder = false;   // the Config folder could not be made
    std::string remedy{};  // what to do, when more rights are not the answer
  };
  // The installation's files as this system reads them (the launcher's own reading).
  virtual TConfigFolder& Files() = 0;
  // Why a file could not be read (TFileRead::error).
  virtual TFailure ReadFailure(std::uint32_t error) = 0;
  // What keeps the users of the machine other than the owner (and the group) from reading the
  // file at the path: a folder on the way they cannot pass or the file itself, with its mode.
  // nullopt when nothing does, or where the system cannot tell.
  struct TClosed {
    std::string path;
    std::string mode;  // as ls shows it, e.g. "drwx------"
    bool folder = false;
  };
  virtual std::optional<TClosed> ClosedToOthers(const std::string& path) = 0;
  // The version the launcher in the folder carries; "" when there is none to be found.
  virtual std::string LauncherVersion(const std::string& folder) = 0;

  // ---- Writing
  // A change of files of the Config folder. The way to them is followed once, when the change
  // begins, one name at a time: a folder or a link on it that belongs to anybody but root, the
  // writer, or the user who ran the writer as root (sudo, pkexec) is refused, since its owner
  // could lead the writer into files that owner may not write. Every later step (reading, the
  // lock, the temporary file, the owner and mode, the rename) works on the folders opened then,
  // so that a link or folder swapped meanwhile changes nothing.
  class TChange {
   public:
    virtual ~TChange() = default;
    // The file's bytes as they are now (as TConfigFolder::ReadWhole, at most
    // kChangeableFileMax): what a later Replace replaces.
    virtual TFileBytes Read(std::string_view name) = 0;
    // Makes the Config folder when it is missing, readable and searchable by all whatever the
    // process's file mode mask, and holds the writer lock beside each file to be written until
    // the change goes: a second writer waits at most waitSeconds, readers never do. Only the
    // writers can take the lock; one left behind or put there never blocks them for long.
    // false and why: failure.folder when the folder cannot be made, failure.held when another
    // writer kept the lock, failure.lock when what stands at the lock's path is the problem.
    virtual bool Lock(int waitSeconds, TFailure& failure) = 0;
    // Puts the bytes in place of the file in one step: whoever reads it sees the old file or
    // the whole new one. A new file is readable by all; a replaced one keeps its owner, group
    // and mode, or nothing is written. Temporary files of the writer that a killed run left
    // beside it are removed, and no others. On failure nothing has changed.
    virtual bool Replace(std::string_view name, std::string_view bytes, TFailure& failure) = 0;
    // Removes the file (one the change made, taken back). false (and why) when it is still
    // there.
    virtual bool Remove(std::string_view name, TFailure& failure) = 0;
    // The file written, as messages name it: the path behind every link.
    virtual std::string Shown(std::string_view name) = 0;
  };
  // Begins a change of the named files in the Config folder at the path (which need not be
  // there yet). nullptr and why (with what to do in failure.remedy) when the way is refused.
  virtual std::unique_ptr<TChange> BeginChange(const std::string& config,
                                               const std::vector<std::string>& names,
                                               TFailure& failure) = 0;

  // ---- Values an installer hands over
  // There is a registry for an installer to hand values over in (Windows): the tool offers
  // --from-registry.
  [[nodiscard]] virtual bool HasRegistry() const { return false; }
  // The text values (REG_SZ) of the registry key under HKEY_LOCAL_MACHINE, in the registry view
  // of the tool's own architecture, for these names, as UTF-8; a name the key does not hold is
  // left out. false (and why) when the key cannot be read, or where there is no registry.
  virtual bool RegistryTexts(const std::string& key, const std::vector<std::string>& names,
                             std::map<std::string, std::string>& texts, TFailure& failure) = 0;

  // ---- Values an engine hands over
  // The bytes of the file at the path (as the system gave it), or of standard input for "-":
  // at most limit + 1 of them, so that more than limit can be told. false (and why) when they
  // cannot be read.
  virtual bool ReadInput(const std::string& path, std::size_t limit, std::string& bytes,
                         TFailure& failure) = 0;

  // ---- Output
  // Standard output and standard error, in whatever the console takes.
  virtual void Out(std::string_view utf8) = 0;
  virtual void Err(std::string_view utf8) = 0;
  // The address exactly as the launcher hands it over (bytes in the ANSI code page).
  virtual void OutAddress(std::string_view ansi) = 0;
  // Output for programs (JSON, show): UTF-8 whatever the console's encoding.
  virtual void OutUtf8(std::string_view utf8) = 0;
};

// Exit codes.
inline constexpr int kToolOk = 0;
inline constexpr int kToolLauncherWouldRefuse = 1;  // check: the launcher would show a message
inline constexpr int kToolRefused = 2;              // bad command line or a value refused
inline constexpr int kToolWriteFailed = 3;          // a file could not be read or written, or the
                                                    // configuration stayed held by another writer
// How long a writer waits for another one to finish.
inline constexpr int kWriterWaitSeconds = 10;

// companymain-config: writes an installation's configuration with the launcher's own rules,
// and shows what the launcher will do with it. args are the command line without the
// program's name, as the system gave them: option values are read through ArgumentText, a
// folder (--dir) is taken as it is.
int RunConfigTool(const std::vector<std::string>& args, TConfigToolSystem& system);
