#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string_view>

class QTranslator;
class QWidget;

// The program's UTF-8 texts as Qt text.
inline QString QStringFromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The program's message box: modal to the application, caption "提示", the text, one OK
// button and the warning icon, a dialog's frame without minimize or maximize buttons.
// Returns once it is dismissed. waiting, when given, is told true once the box is up and
// waits for the user, and false when it has been dismissed. over, when given, is the window
// on screen: the box is transient for it, so it is centred on it and the window manager or
// compositor keeps it above it, a click on the window included.
void ShowProgramMessageBox(std::string_view utf8Text, const std::function<void(bool)>& waiting = {},
                           QWidget* over = nullptr);

// Qt's own texts (the OK button, above all) in the user's language, installed in the running
// application until the translator goes. One file, from Qt's translations folder; none is
// looked for where the user's language is English or C, whose texts Qt carries itself.
std::unique_ptr<QTranslator> LoadQtTexts();
