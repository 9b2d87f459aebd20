#include "app/MessageBox_qt.h"

#include <QMessageBox>

#include "app/Messages.h"

void ShowProgramMessageBox(std::string_view utf8Text) {
  QMessageBox box(QMessageBox::Warning, QStringFromUtf8(kMessageCaption), QStringFromUtf8(utf8Text),
                  QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}
