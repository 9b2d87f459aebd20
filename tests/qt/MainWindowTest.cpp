// The Qt front end in process: the real message boxes and the real window, on the files of a
// temporary program folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMovie>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/CompanyMain_qt.h"
#include "app/Desktop_qt.h"
#include "app/Messages.h"
#include "common/CodePage_posix.h"
#include "inputs/CompanyIdentity.h"
#include "inputs/ConfigFolder.h"

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
                    box->buttons().size(), box->windowModality()});
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
  });
  answer.start();
  action();
  return seen;
}

// The real Qt message boxes; the browser and the end of the program are recorded.
class RecordingDesktop final : public TDesktop {
 public:
  explicit RecordingDesktop(const TCodePage& codePage) : real_(codePage) {}

  std::function<void()> onBrowser;
  std::vector<std::string> opened;
  int endRequests = 0;

  [[nodiscard]] const TCodePage& AnsiCodePage() const override { return real_.AnsiCodePage(); }
  void ShowMessage(std::string_view text) override { real_.ShowMessage(text); }
  bool OpenBrowser(const std::string& address) override {
    if (onBrowser) onBrowser();
    opened.push_back(address);
    return true;
  }
  void RequestEnd() override { ++endRequests; }

 private:
  TQtDesktop real_;
};

// The real files of a program folder of the test's choosing, with the recording desktop.
struct FolderDesktop {
  FolderDesktop(const std::string& folder, const TCodePage& codePage)
      : desktop(codePage), config(codePage, folder), identity(config) {}
  RecordingDesktop desktop;
  TProgramConfigFolder config;
  TIniCompanyIdentitySource identity;
};

class MainWindowTest : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    std::filesystem::create_directory(Config());
  }
  std::string Folder() const { return folder_.path().toStdString() + "/"; }
  std::string Config() const { return Folder() + "Config"; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(Config() + "/" + name, std::ios::binary) << text;
  }
  void WriteGoodFiles() const {
    Write("Config.ini", "[SysInfo]\nCompanyURL=aHR0cDovL2guZXhhbXBsZS9w\n");  // http://h.example/p
    Write("Company.ini", "[Company]\nCompanyNum=7\n");
  }

  QTemporaryDir folder_;
  TPosixCodePage codePage_{"UTF-8"};
};

TEST(MessageBoxTest, EveryMessageIsAModalWarningWithOneOkButton) {
  const TPosixCodePage codePage("UTF-8");
  TQtDesktop desktop(codePage);
  for (std::string_view text : {kMsgAlreadyRunning, kMsgConfigMissing, kMsgAddressEmpty,
                                kMsgIdentityMissing, kMsgBrowserFailed}) {
    SCOPED_TRACE(std::string(text));
    const auto seen = AnsweringBoxes([&] { desktop.ShowMessage(text); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(seen[0].text, Q(text));
    EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
    EXPECT_EQ(seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(seen[0].buttonCount, 1);
    EXPECT_EQ(seen[0].modality, Qt::ApplicationModal);
  }
}

TEST_F(MainWindowTest, LayoutOfTheWindow) {
  WriteGoodFiles();
  FolderDesktop folder(Folder(), codePage_);
  RecordingDesktop& desktop = folder.desktop;
  TFrm_CompanyMainQt window(desktop, folder.config, folder.identity);

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
  // The text is set once the show step has run (see ShowAtStart).
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

TEST_F(MainWindowTest, PictureIsLoadedAtItsFirstPaintAndLoopsTwelveFrames) {
  WriteGoodFiles();
  FolderDesktop folder(Folder(), codePage_);
  RecordingDesktop& desktop = folder.desktop;
  TFrm_CompanyMainQt window(desktop, folder.config, folder.identity);
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
  EXPECT_EQ(movie->nextFrameDelay(), 100);
  EXPECT_EQ(movie->loopCount(), -1);  // without end
  EXPECT_EQ(movie->currentImage().size(), QSize(16, 16));
}

TEST_F(MainWindowTest, ShowStepRunsOnceBeforeTheWindowIsOnScreen) {
  WriteGoodFiles();
  FolderDesktop folder(Folder(), codePage_);
  RecordingDesktop& desktop = folder.desktop;
  TFrm_CompanyMainQt window(desktop, folder.config, folder.identity);
  bool visibleAtBrowser = true;
  desktop.onBrowser = [&] {
    visibleAtBrowser = window.windowHandle() != nullptr && window.windowHandle()->isVisible();
  };

  // A copy refused during creation must not make the show step run early.
  window.ActivationRequested();
  QApplication::processEvents();
  EXPECT_TRUE(desktop.opened.empty());
  EXPECT_FALSE(window.isVisible());

  window.ShowAtStart();
  ASSERT_EQ(desktop.opened.size(), 1u);
  EXPECT_EQ(desktop.opened[0],
            "http://h.example/p?Id=Nw==&Name=%E6%97%A0&Type=&DeviceId=&other=&Version="
            "NS4wLjAuMA==");
  EXPECT_FALSE(visibleAtBrowser);
  EXPECT_EQ(desktop.endRequests, 1);
  EXPECT_TRUE(window.windowHandle()->isVisible());

  // After it, a request shows the window maximized again, and opens nothing more.
  window.showMinimized();
  QApplication::processEvents();
  window.ActivationRequested();
  QApplication::processEvents();
  EXPECT_TRUE(window.isMaximized());
  EXPECT_FALSE(window.isMinimized());
  EXPECT_EQ(desktop.opened.size(), 1u);
}

// Which message each state of the program folder gives, read through the real files.
TEST_F(MainWindowTest, CreationMessagesForTheFilesOfTheProgramFolder) {
  const auto fifo = [](const std::string& path) { mkfifo(path.c_str(), 0600); };
  const auto folder = [](const std::string& path) { std::filesystem::create_directory(path); };
  struct Case {
    const char* name;
    std::function<void(MainWindowTest&)> prepare;
    std::string_view message;
  };
  const std::vector<Case> cases = {
      {"no configuration file", [](MainWindowTest& t) { t.Write("Company.ini", "[Company]\n"); },
       kMsgConfigMissing},
      {"configuration file is a folder",
       [&](MainWindowTest& t) {
         t.Write("Company.ini", "[Company]\n");
         folder(t.Config() + "/Config.ini");
       },
       kMsgConfigMissing},
      {"configuration file is a FIFO",
       [&](MainWindowTest& t) {
         t.Write("Company.ini", "[Company]\n");
         fifo(t.Config() + "/Config.ini");
       },
       kMsgAddressEmpty},
      {"address of blanks",
       [](MainWindowTest& t) {
         t.Write("Company.ini", "[Company]\n");
         t.Write("Config.ini", "[SysInfo]\nCompanyURL=ICAg\n");
       },
       kMsgAddressEmpty},
      {"no identity file",
       [](MainWindowTest& t) { t.Write("Config.ini", "[SysInfo]\nCompanyURL=eA==\n"); },
       kMsgIdentityMissing},
      {"identity file is a FIFO",
       [&](MainWindowTest& t) {
         t.Write("Config.ini", "[SysInfo]\nCompanyURL=eA==\n");
         fifo(t.Config() + "/Company.ini");
       },
       kMsgIdentityMissing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(Config());
    std::filesystem::create_directory(Config());
    c.prepare(*this);
    FolderDesktop folder(Folder(), codePage_);
    RecordingDesktop& desktop = folder.desktop;
    std::unique_ptr<TFrm_CompanyMainQt> window;
    auto seen = AnsweringBoxes([&] {
      window = std::make_unique<TFrm_CompanyMainQt>(desktop, folder.config, folder.identity);
    });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, Q(c.message));
    EXPECT_EQ(desktop.endRequests, 1);
    // The window is still shown afterwards; its show step opens nothing.
    window->ShowAtStart();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(desktop.opened.empty());
  }
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
