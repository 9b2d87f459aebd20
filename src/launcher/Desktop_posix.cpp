#include "launcher/Desktop_posix.h"

#include "launcher/Browser_posix.h"
#include "launcher/WindowModule_linux.h"

void TPosixDesktop::ShowMessage(std::string_view utf8Text) {
  // The main window exists, hidden, while its creation shows a message.
  window_.ShowMessage(utf8Text, true);
}

bool TPosixDesktop::OpenBrowser(const std::string& address) {
  browser_ = StartBrowser(address);
  return browser_ > 0;
}
