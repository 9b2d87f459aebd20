#include "launch/CompanyMain.h"

#include "address/PageAddress.h"
#include "common/Text.h"
#include "inputs/InstallationFiles.h"
#include "launch/Messages.h"

void TFrm_CompanyMain::FormCreate() {
  desktop_.InitializeOle();
  // Without an identity there is nothing to open: one message, and the address is not read.
  if (!ReadCompanyIdentity() || !ReadCompanyURL()) {
    creationFailed_ = true;
    desktop_.RequestEnd();
  }
}

void TFrm_CompanyMain::FormShow() {
  if (creationFailed_ || shown_) return;
  shown_ = true;
  OpenCompanyPage();
}

bool TFrm_CompanyMain::ReadCompanyIdentity() {
  std::optional<TCompanyIdentity> delivered;
  try {
    delivered = identitySource_.Deliver();
  } catch (...) {
    delivered.reset();
  }
  if (!delivered) {
    desktop_.ShowMessage(kMsgIdentityMissing);
    return false;
  }
  identity_ = NormaliseIdentity(*delivered);
  return true;
}

bool TFrm_CompanyMain::ReadCompanyURL() {
  auto address = ReadAddress(config_, desktop_.AnsiCodePage());
  if (!address) {
    desktop_.ShowMessage(kMsgConfigMissing);
    return false;
  }
  FCompanyURL = std::move(*address);
  if (TrimView(FCompanyURL).empty()) {
    desktop_.ShowMessage(kMsgAddressEmpty);
    return false;
  }
  return true;
}

void TFrm_CompanyMain::OpenCompanyPage() {
  try {
    sentQuery_ = PageQuery(identity_, desktop_.AnsiCodePage());
    const std::string address = BuildPageAddress(FCompanyURL, sentQuery_);
    if (!desktop_.OpenBrowser(address)) desktop_.ShowMessage(kMsgBrowserFailed);
  } catch (...) {
    // Only memory exhaustion gets here; the program still ends as it should.
  }
  desktop_.RequestEnd();
}
