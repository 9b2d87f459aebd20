#include "window/MessageBox_qt.h"

#include <QMessageBox>
#include <QTimer>

#include "launcher/Messages.h"

void ShowProgramMessageBox(std::string_view utf8Text, const std::function<void(bool)>& waiting) {
  QMessageBox box(QMessageBox::Warning, QStringFromUtf8(kMessageCaption), QStringFromUtf8(utf8Text),
                  QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  // Runs once the box's own event loop runs: the box is on screen then.
  if (waiting) QTimer::singleShot(0, &box, [&waiting] { waiting(true); });
  box.exec();
  if (waiting) waiting(false);
}
