#pragma once

#include <QWidget>

class QLabel;
class QMovie;

// Frm_CompanyMain on Qt: the window with its loading message and picture. Its native window
// exists, hidden, from its construction on; the launch logic has run before it is shown.
class TFrm_CompanyMainQt final : public QWidget {
  Q_OBJECT

 public:
  TFrm_CompanyMainQt();

  // Centres the window at its design size, then shows it maximized.
  void ShowAtStart();
  // A refused copy asked this one to show itself.
  void ActivationRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void StartPicture();

  QLabel* label_ = nullptr;
  QLabel* picture_ = nullptr;
  QMovie* movie_ = nullptr;
  bool onScreen_ = false;
};
