#include "app/WindowModule_posix.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/auxv.h>

#include <cstdio>

#include "app/InstanceLock_posix.h"
#include "app/WindowModule.h"
#include "common/File_posix.h"

namespace {

int AcceptActivation(void* lock) {
  return static_cast<TPosixInstanceLock*>(lock)->AcceptActivation() ? 1 : 0;
}

void Report(const std::string& line) {
  std::fputs(("CompanyMain: " + line + "\n").c_str(), stderr);
}

// Where the module lies: beside the program. A folder too deep to name in one call is named
// through a descriptor of it. When the system cannot tell the program's own path at all, the
// program was started by a path relative to the working directory, which is still where it
// was: the module is found through that.
std::string ModulePath(const std::string& programFolder, UniqueFd& folderHolder) {
  std::string folder = programFolder;
  if (folder.empty()) {
    const auto* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    const std::string path(started != nullptr ? started : "");
    const std::size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  } else if (folder.size() + std::string_view(kCompanyMainWindowModule).size() < PATH_MAX) {
    return folder + kCompanyMainWindowModule;
  }
  folderHolder = OpenFolder(folder);
  if (!folderHolder.Valid()) return folder + kCompanyMainWindowModule;
  return "/proc/self/fd/" + std::to_string(folderHolder.Get()) + "/" + kCompanyMainWindowModule;
}

}  // namespace

TWindowModuleLoader::TWindowModuleLoader(std::string programFolder, std::string programName)
    : programFolder_(std::move(programFolder)), programName_(std::move(programName)) {}

TWindowModuleLoader::~TWindowModuleLoader() {
  if (opened_) calls_->close();
}

bool TWindowModuleLoader::Open(bool withMainWindow) {
  if (failed_) return false;
  if (calls_ == nullptr) {
    UniqueFd folder;
    const std::string path = ModulePath(programFolder_, folder);
    // Never unloaded: the toolkit it brings keeps threads and handlers of its own.
    void* module = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    using Entry = const CompanyMainWindowCalls* (*)();
    const auto entry = module == nullptr
                           ? nullptr
                           : reinterpret_cast<Entry>(dlsym(module, kCompanyMainWindowEntry));
    const CompanyMainWindowCalls* calls = entry == nullptr ? nullptr : entry();
    if (calls == nullptr || calls->version != kCompanyMainWindowVersion) {
      const char* why = dlerror();
      Report("cannot load its window module (" +
             std::string(why != nullptr ? why : path + ": not a window module of this version") +
             ")");
      failed_ = true;
      return false;
    }
    calls_ = calls;
  }
  const CompanyMainWindowHost host = {programName_.c_str(),
                                      lock_ != nullptr ? lock_->ActivationFd() : -1, lock_,
                                      lock_ != nullptr ? AcceptActivation : nullptr};
  calls_->open(&host, withMainWindow ? 1 : 0);
  opened_ = true;
  return true;
}

void TWindowModuleLoader::ShowMessage(std::string_view utf8Text, bool withMainWindow) {
  if (!Open(withMainWindow)) {
    Report(std::string(utf8Text));  // told at least where someone may read it
    return;
  }
  calls_->showMessage(std::string(utf8Text).c_str());
}

void TWindowModuleLoader::RunMainWindow(bool endRequested) {
  if (!Open(true)) return;
  calls_->run(endRequested ? 1 : 0);
  opened_ = false;  // run() closed the toolkit
}
