#include "app/Version.h"

namespace {

// The whole line stays in the program file, so that `strings` or a file manager's properties
// tell which version an installed copy is. The launcher itself never reads it: without
// "retain" the linker's section collection would drop it.
#if defined(__ELF__)
[[gnu::used, gnu::retain]]
#else
[[gnu::used]]
#endif
constexpr char kVersionLine[] = "CompanyMain version " COMPANYMAIN_VERSION;

}  // namespace

const char* ProgramVersion() {
  return kVersionLine + sizeof "CompanyMain version " - 1;
}
