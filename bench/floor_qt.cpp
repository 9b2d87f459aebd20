// The toolkit floor: a Qt 6 Widgets program that creates its application and one window,
// starts the browser in the window's first show event, and quits.
#include <spawn.h>

#include <QApplication>
#include <QShowEvent>
#include <QWidget>

extern char** environ;

namespace {

class Window : public QWidget {
 protected:
  void showEvent(QShowEvent* event) override {
    if (!started_) {
      started_ = true;
      char program[] = "xdg-open";
      char address[] = "http://127.0.0.1/company";
      char* argv[] = {program, address, nullptr};
      pid_t pid = 0;
      posix_spawnp(&pid, program, nullptr, nullptr, argv, environ);
      QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                Qt::QueuedConnection);
    }
    QWidget::showEvent(event);
  }

 private:
  bool started_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  Window window;
  window.resize(1024, 738);
  window.showMaximized();
  return QApplication::exec();
}
