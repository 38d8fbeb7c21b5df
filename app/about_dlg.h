// The About box of the main dialog's system menu.
#pragma once
#include "dialog_base.h"
#include "resource_ids.h"

class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(HWND parent) : CDialog(IDD_ABOUT, parent) {}
};
