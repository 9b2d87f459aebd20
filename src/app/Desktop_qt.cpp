#include "app/Desktop_qt.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "app/Browser_posix.h"
#include "app/Messages.h"

void TQtDesktop::ShowMessage(std::string_view utf8Text) {
  QMessageBox box(QMessageBox::Warning, QStringFromUtf8(kMessageCaption), QStringFromUtf8(utf8Text),
                  QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

bool TQtDesktop::OpenBrowser(const std::string& address) {
  return StartBrowser(address);
}

void TQtDesktop::RequestEnd() {
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                            Qt::QueuedConnection);
}
