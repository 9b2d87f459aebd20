#pragma once

#include <QWidget>

#include "app/CompanyMain.h"

class QLabel;
class QMovie;

// Frm_CompanyMain on Qt: the window with its loading message and picture, around the
// launch logic. Its elements and its native window exist before FormCreate runs; FormShow
// runs in ShowAtStart, before the window is mapped.
class TFrm_CompanyMainQt final : public QWidget {
  Q_OBJECT

 public:
  TFrm_CompanyMainQt(TDesktop& desktop, TConfigFolder& config,
                     CompanyIdentitySource& identitySource);

  // Centres the window at its design size, then shows it maximized (running the show step).
  void ShowAtStart();
  // A refused copy asked this one to show itself.
  void ActivationRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void StartPicture();

  TFrm_CompanyMain form_;
  QLabel* label_ = nullptr;
  QLabel* picture_ = nullptr;
  QMovie* movie_ = nullptr;
  bool onScreen_ = false;
};
