#include "dialog_user_interface.h"

#include "dialog_base.h"
#include "password_dlg.h"
#include "wait_dlg.h"

void DialogUserInterface::ShowMessage(const std::string& text) { HarvestaMessageBox(owner_, text); }

bool DialogUserInterface::Ask(const std::string& question) {
  return HarvestaMessageBox(owner_, question, MB_YESNO) == IDYES;
}

bool DialogUserInterface::AskPassword(const CImageFile& image, std::string& password) {
  CPasswordDlg dialog(owner_, image.PasswordDigest);
  if (dialog.DoModal() != IDOK) return false;
  password = dialog.Password();
  return true;
}

std::unique_ptr<WaitWindow> DialogUserInterface::OpenWaitWindow(WaitKind kind) {
  return std::make_unique<CWaitDlg>(kind == WaitKind::WithCancel, owner_);
}
