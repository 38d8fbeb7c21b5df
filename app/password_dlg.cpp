#include "password_dlg.h"

#include "password.h"
#include "resource_ids.h"

void CPasswordDlg::OnCommand(int id, int notification) {
  if (id != IDOK) return CDialog::OnCommand(id, notification);
  password_ = ItemText(IDC_PASSWORD);
  if (!PasswordMatches(expected_, password_)) {
    HarvestaMessageBox(Handle(), "Incorrect Password entered");
    return;  // the text stays as typed for another try
  }
  EndDialog(IDOK);
}
