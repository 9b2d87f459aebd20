#pragma once

#include <QString>
#include <string_view>

// The program's UTF-8 texts as Qt text.
inline QString QStringFromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The program's message box: modal to the application, caption "提示", the text, one OK
// button and the warning icon. Returns once it is dismissed.
void ShowProgramMessageBox(std::string_view utf8Text);
