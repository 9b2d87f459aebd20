#include "window/CompanyMain_qt.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMovie>
#include <QScreen>
#include <QVBoxLayout>

#include "launch/Messages.h"
#include "qt/MessageBox_qt.h"

namespace {

constexpr QSize kDesignSize(1024, 738);
constexpr QRect kLabelGeometry(445, 329, 174, 12);
constexpr QRect kPictureGeometry(418, 327, 16, 16);
const QColor kLabelColour(0x28, 0x5B, 0xA2);  // 10640168 as a Windows colour value

QVBoxLayout* FillingLayout(QWidget* parent) {
  auto* layout = new QVBoxLayout(parent);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  return layout;
}

}  // namespace

TFrm_CompanyMainQt::TFrm_CompanyMainQt() {
  setObjectName("Frm_CompanyMain");
  setWindowTitle(QStringFromUtf8(kAppTitle));
  resize(kDesignSize);
  setBackgroundRole(QPalette::Button);
  QFont font;
  font.setFamilies(
      {QStringLiteral("宋体"), QStringLiteral("SimSun")});  // else fontconfig's CJK font
  font.setPixelSize(12);
  setFont(font);

  // Outer bevel lowered, inner raised: a sunken box of one-pixel lines.
  auto* panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setFrameStyle(QFrame::Box | QFrame::Sunken);
  panel->setLineWidth(1);
  panel->setMidLineWidth(0);
  FillingLayout(this)->addWidget(panel);

  auto* pane = new QWidget(panel);
  pane->setObjectName("Pnl_Msg");
  pane->setBackgroundRole(QPalette::Base);
  pane->setAutoFillBackground(true);
  FillingLayout(panel)->addWidget(pane);

  auto* label = new QLabel(pane);  // its text comes when it is shown
  label_ = label;
  label->setObjectName("Lb_Msg");
  label->setGeometry(kLabelGeometry);
  // On the pane's Base background Qt would draw the text in the Text colour: pin the role.
  label->setForegroundRole(QPalette::WindowText);
  QPalette labelPalette = label->palette();
  labelPalette.setColor(QPalette::WindowText, kLabelColour);
  label->setPalette(labelPalette);

  picture_ = new QLabel(pane);
  picture_->setObjectName("Img_Gif");
  picture_->setGeometry(kPictureGeometry);
  // The picture is loaded at its first paint: none of that work delays the browser.
  picture_->installEventFilter(this);

  winId();  // the native window exists, hidden, from here on
}

void TFrm_CompanyMainQt::ShowAtStart() {
  if (const QScreen* primary = screen()) {
    const QRect available = primary->availableGeometry();
    QPoint topLeft = available.center() - QPoint(width() / 2, height() / 2);
    topLeft.setX(std::max(topLeft.x(), available.left()));
    topLeft.setY(std::max(topLeft.y(), available.top()));
    move(topLeft);
  }
  label_->setText(QStringFromUtf8(kLoadingText));
  showMaximized();
  onScreen_ = true;
}

void TFrm_CompanyMainQt::ActivationRequested() {
  // Before the window is shown the request is only noted: the show step will show it
  // maximized anyway, and must not be run early.
  if (!onScreen_) return;
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
  showMaximized();
  raise();
  activateWindow();
}

bool TFrm_CompanyMainQt::eventFilter(QObject* watched, QEvent* event) {
  if (watched == picture_ && event->type() == QEvent::Paint && movie_ == nullptr) StartPicture();
  return QWidget::eventFilter(watched, event);
}

void TFrm_CompanyMainQt::StartPicture() {
  movie_ = new QMovie(QStringLiteral(":/CompanyMain/loading.gif"), QByteArray(), this);
  movie_->setObjectName("Img_Gif_Movie");
  movie_->setCacheMode(QMovie::CacheAll);
  picture_->setMovie(movie_);
  movie_->start();
}
