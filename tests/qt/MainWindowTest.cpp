// The window module in process: the real message boxes and the real window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QMovie>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "launch/Messages.h"
#include "window/CompanyMain_qt.h"
#include "qt/MessageBox_qt.h"

namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct SeenBox {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  qsizetype buttonCount = 0;
  Qt::WindowModality modality = Qt::NonModal;
  QWindow* transientParent = nullptr;
  Qt::WindowFlags flags;
};

// Runs action and answers every message box it shows with OK, noting what each box was.
std::vector<SeenBox> AnsweringBoxes(const std::function<void()>& action) {
  std::vector<SeenBox> seen;
  QTimer answer;
  answer.setInterval(10);
  QObject::connect(&answer, &QTimer::timeout, [&seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                    box->buttons().size(), box->windowModality(),
                    box->windowHandle() ? box->windowHandle()->transientParent() : nullptr,
                    box->windowFlags()});
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
  });
  answer.start();
  action();
  return seen;
}

TEST(MessageBoxTest, EveryMessageIsAModalWarningWithOneOkButton) {
  // Shown over the window on screen, a box is transient for it; a dialog's frame either way.
  TFrm_CompanyMainQt window;
  window.show();
  for (std::string_view text : {kMsgAlreadyRunning, kMsgConfigMissing, kMsgAddressEmpty,
                                kMsgIdentityMissing, kMsgBrowserFailed})
    for (QWidget* over : {static_cast<QWidget*>(nullptr), static_cast<QWidget*>(&window)}) {
      SCOPED_TRACE(std::string(text) + (over ? " over the window" : ""));
      const auto seen = AnsweringBoxes([&] { ShowProgramMessageBox(text, {}, over); });
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_EQ(seen[0].transientParent, over ? window.windowHandle() : nullptr);
      EXPECT_FALSE(seen[0].flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
      EXPECT_TRUE(seen[0].flags & Qt::WindowCloseButtonHint);
      EXPECT_EQ(seen[0].caption, QStringLiteral("提示"));
      EXPECT_EQ(seen[0].text, Q(text));
      EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
      EXPECT_EQ(seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
      EXPECT_EQ(seen[0].buttonCount, 1);
      EXPECT_EQ(seen[0].modality, Qt::ApplicationModal);
    }
}

TEST(MainWindowTest, LayoutOfTheWindow) {
  TFrm_CompanyMainQt window;

  EXPECT_EQ(window.windowTitle(), QStringLiteral("企业信息管理"));
  EXPECT_EQ(window.size(), QSize(1024, 738));
  EXPECT_EQ(window.font().families().value(0), QStringLiteral("宋体"));
  EXPECT_EQ(window.font().pixelSize(), 12);

  auto* panel = window.findChild<QFrame*>("Panel1");
  auto* pane = window.findChild<QWidget*>("Pnl_Msg");
  auto* label = window.findChild<QLabel*>("Lb_Msg");
  auto* picture = window.findChild<QLabel*>("Img_Gif");
  ASSERT_TRUE(panel && pane && label && picture);
  EXPECT_EQ(panel->frameShape(), QFrame::Box);
  EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(pane->parentWidget(), panel);
  EXPECT_TRUE(pane->autoFillBackground());
  EXPECT_EQ(pane->backgroundRole(), QPalette::Base);
  EXPECT_EQ(label->parentWidget(), pane);
  EXPECT_EQ(label->geometry(), QRect(445, 329, 174, 12));
  EXPECT_EQ(label->font().pixelSize(), 12);
  EXPECT_EQ(picture->parentWidget(), pane);

  window.ShowAtStart();
  // Maximized, the panel and pane grow; the label and the picture stay where they are.
  QApplication::processEvents();
  EXPECT_TRUE(window.isMaximized());
  EXPECT_EQ(pane->size(), panel->contentsRect().size());
  EXPECT_EQ(label->geometry(), QRect(445, 329, 174, 12));
  EXPECT_EQ(picture->geometry(), QRect(418, 327, 16, 16));
  // The text is set when the window is shown.
  EXPECT_EQ(label->text(), QStringLiteral("正在努力加载页面,请稍候......"));
  // What is drawn, not what is set: on the pane's Base background a label would otherwise
  // draw in the Text colour.
  const QImage drawn = label->grab().toImage();
  bool inBlue = false;
  for (int y = 0; y < drawn.height() && !inBlue; ++y)
    for (int x = 0; x < drawn.width() && !inBlue; ++x)
      inBlue = drawn.pixelColor(x, y) == QColor(0x28, 0x5B, 0xA2);
  EXPECT_TRUE(inBlue) << "the loading text is not drawn in #285BA2";
}

TEST(MainWindowTest, PictureIsLoadedAtItsFirstPaintAndLoopsTwelveFrames) {
  TFrm_CompanyMainQt window;
  auto* picture = window.findChild<QLabel*>("Img_Gif");
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->movie(), nullptr) << "nothing of the picture may delay the browser";

  window.ShowAtStart();
  QElapsedTimer waited;
  waited.start();
  while (picture->movie() == nullptr && waited.elapsed() < 5000) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  QMovie* movie = picture->movie();
  ASSERT_NE(movie, nullptr);
  EXPECT_TRUE(movie->isValid());
  EXPECT_EQ(movie->state(), QMovie::Running);
  EXPECT_EQ(movie->frameCount(), 12);
  EXPECT_EQ(movie->loopCount(), -1);  // without end
  EXPECT_EQ(movie->currentImage().size(), QSize(16, 16));
  // Every frame stays 100 ms, as the picture itself says (the running movie's own figure is
  // what remains of the current frame's time).
  QImageReader frames(movie->fileName());
  for (int frame = 0; frame < 12; ++frame) {
    ASSERT_FALSE(frames.read().isNull()) << frame;
    EXPECT_EQ(frames.nextImageDelay(), 100) << frame;
  }
}

TEST(MainWindowTest, HiddenUntilShownThenComesForwardAtARequest) {
  TFrm_CompanyMainQt window;
  ASSERT_NE(window.windowHandle(), nullptr);  // found by class and caption while hidden
  EXPECT_FALSE(window.isVisible());

  // A request from a refused copy before the window is shown does not show it early.
  window.ActivationRequested();
  QApplication::processEvents();
  EXPECT_FALSE(window.isVisible());

  window.ShowAtStart();
  QApplication::processEvents();
  EXPECT_TRUE(window.isMaximized());

  // After it, a request shows the window maximized again.
  window.showMinimized();
  QApplication::processEvents();
  window.ActivationRequested();
  QApplication::processEvents();
  EXPECT_TRUE(window.isMaximized());
  EXPECT_FALSE(window.isMinimized());
}

}  // namespace

int main(int argc, char** argv) {
  // Qt's offscreen platform unless told otherwise, also when ctest lists the tests.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("TFrm_CompanyMain"));
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
