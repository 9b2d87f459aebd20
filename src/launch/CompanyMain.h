#pragma once

#include <string>
#include <vector>

#include "address/PageAddress.h"
#include "inputs/CompanyIdentity.h"
#include "inputs/ConfigFolder.h"
#include "launch/Desktop.h"

// The main window's launch logic, shared by every front end. The platform window creates
// one, calls FormCreate once it has its elements (and its handle), and calls FormShow right
// before the window first becomes visible; the page is opened the first time only.
class TFrm_CompanyMain {
 public:
  TFrm_CompanyMain(TDesktop& desktop, TConfigFolder& config, CompanyIdentitySource& identitySource)
      : desktop_(desktop), config_(config), identitySource_(identitySource) {}

  void FormCreate();
  void FormShow();

  [[nodiscard]] bool CreationFailed() const { return creationFailed_; }
  // The query values of the address handed to the browser; empty until then.
  [[nodiscard]] const std::vector<TQueryValue>& SentQuery() const { return sentQuery_; }

 private:
  bool ReadCompanyIdentity();
  bool ReadCompanyURL();
  void OpenCompanyPage();

  TDesktop& desktop_;
  TConfigFolder& config_;
  CompanyIdentitySource& identitySource_;
  TCompanyIdentity identity_;  // normalised; UploadUser stays empty
  std::string FCompanyURL;     // decoded, untrimmed
  std::vector<TQueryValue> sentQuery_;
  bool creationFailed_ = false;
  bool shown_ = false;
};
