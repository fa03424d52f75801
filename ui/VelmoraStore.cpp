// The certificate store: the remembered store directory, the listing of its files, the
// description of a listed file and the actions on it.
//
// NOT BUILT YET. These routines are filled in by the store work; until then the window runs
// without a store: nothing is loaded or saved, the list stays empty and the buttons bound
// here do nothing.
#include "ui/VelmoraMain.h"

#include "ui_VelmoraMain.h"

namespace velmora {

void TfrmVelmora::LoadSettings() {}

void TfrmVelmora::SaveSettings() {}

std::string TfrmVelmora::DefaultStoreDir() const { return {}; }

std::string TfrmVelmora::GetStoreDir() const { return {}; }

void TfrmVelmora::EnsureStoreDir() {}

std::string TfrmVelmora::StorePath(const std::string& Name) const { return Name; }

void TfrmVelmora::btnOpenStoreDirClick() {}

void TfrmVelmora::RefreshStoreList() {}

void TfrmVelmora::edtStoreDirChange() {}

void TfrmVelmora::btnBrowseStoreDirClick() {}

void TfrmVelmora::btnStoreRefreshClick() {}

void TfrmVelmora::ShowFileInfo(const std::string& /*Path*/) {}

void TfrmVelmora::lvCertsSelectItem(QTableWidgetItem* /*Item*/, bool /*Selected*/) {}

void TfrmVelmora::lvCertsDblClick() {}

void TfrmVelmora::btnStoreLoadCACertClick() {}

void TfrmVelmora::btnStoreLoadCAKeyClick() {}

void TfrmVelmora::btnStoreDeleteClick() {}

}  // namespace velmora
