#include "qt/MessageBox_qt.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>

#include "launch/Messages.h"

void ShowProgramMessageBox(std::string_view utf8Text, const std::function<void(bool)>& waiting,
                           QWidget* over) {
  // A parent makes the box transient for its window (WM_TRANSIENT_FOR on X11, the
  // toplevel's parent on Wayland). The hints name the only buttons the frame gets.
  QMessageBox box(QMessageBox::Warning, QStringFromUtf8(kMessageCaption), QStringFromUtf8(utf8Text),
                  QMessageBox::Ok, over,
                  Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                      Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  box.setWindowModality(Qt::ApplicationModal);
  // Runs once the box's own event loop runs: the box is on screen then.
  if (waiting) QTimer::singleShot(0, &box, [&waiting] { waiting(true); });
  box.exec();
  if (waiting) waiting(false);
}

std::unique_ptr<QTranslator> LoadQtTexts() {
  const QLocale locale;
  if (locale.language() == QLocale::English || locale.language() == QLocale::C) return nullptr;
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator.get())) {
    return nullptr;
  }
  return translator;
}
