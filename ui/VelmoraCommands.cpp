// The certificate command, the file dialogs, the output names that follow the e-mail,
// Clear/Reset and About.
//
// NOT BUILT YET. These routines are filled in by the certificate-command work; until then
// every handler does nothing, so the buttons bound to them are harmless.
#include "ui/VelmoraMain.h"

#include "ui_VelmoraMain.h"

namespace velmora {

void TfrmVelmora::btnGenCertClick() {}

void TfrmVelmora::ApplyFormToBuilder() {}

std::vector<std::string> TfrmVelmora::SplitCommaList(const std::string& /*Text*/) { return {}; }

void TfrmVelmora::ShowPreview() {}

void TfrmVelmora::btnBrowseCACertClick() {}
void TfrmVelmora::btnBrowseCAKeyClick() {}
void TfrmVelmora::btnBrowseOutCertClick() {}
void TfrmVelmora::btnBrowseOutKeyClick() {}
void TfrmVelmora::btnBrowseOutPFXClick() {}

void TfrmVelmora::edtEmailChange() {}

void TfrmVelmora::btnClearClick() {}

void TfrmVelmora::btnAboutClick() {}

}  // namespace velmora
