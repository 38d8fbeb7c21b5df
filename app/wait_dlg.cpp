#include "wait_dlg.h"

#include <commctrl.h>

#include "resource_ids.h"

namespace {
UINT autoPlayMessage = 0;

HWND DefaultParent(HWND parent) {
  if (parent) return parent;
  HWND active = GetActiveWindow();
  return active ? GetAncestor(active, GA_ROOT) : nullptr;
}

// Centre lines of window over those of the active window, else of the screen.
void CentreOverActiveWindow(HWND window) {
  RECT own{}, over{};
  GetWindowRect(window, &own);
  HWND active = GetActiveWindow();
  if (!active || active == window || !GetWindowRect(active, &over))
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &over, 0);
  int width = own.right - own.left, height = own.bottom - own.top;
  SetWindowPos(window, nullptr, (over.left + over.right - width) / 2,
               (over.top + over.bottom - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
}  // namespace

void SetAutoPlayMessage(UINT message) { autoPlayMessage = message; }

CWaitDlg::CWaitDlg(bool withCancel, HWND parent)
    : CDialog(withCancel ? IDD_WAIT_CANCEL : IDD_WAIT, DefaultParent(parent)), withCancel_(withCancel) {
  Create();
}

CWaitDlg::~CWaitDlg() {
  if (HWND parent = Parent(); parent && IsWindow(parent)) {
    EnableWindow(parent, TRUE);
    SetActiveWindow(parent);
  }
}

BOOL CWaitDlg::OnInitDialog() {
  HWND parent = Parent();
  if (!parent || !IsWindowVisible(parent)) {
    // Its own taskbar button, as nothing else of the program shows.
    SetWindowLongPtrA(Handle(), GWL_EXSTYLE, GetWindowLongPtrA(Handle(), GWL_EXSTYLE) | WS_EX_APPWINDOW);
  }
  CentreOverActiveWindow(Handle());
  if (parent) EnableWindow(parent, FALSE);
  HWND active = GetActiveWindow();
  if (active && IsWindowVisible(active)) ShowWindow(Handle(), SW_SHOW);
  EnableWindow(Handle(), TRUE);
  return TRUE;
}

void CWaitDlg::SetTitle(const std::string& title) { SetWindowTextA(Handle(), title.c_str()); }

void CWaitDlg::ShowSteps() {
  HWND bar = Item(IDC_PROGRESS);
  SendMessageA(bar, PBM_SETRANGE32, 0, 100);
  SendMessageA(bar, PBM_SETSTEP, 1, 0);
  SendMessageA(bar, PBM_SETPOS, 0, 0);
}

void CWaitDlg::ShowMarquee() {
  HWND bar = Item(IDC_PROGRESS);
  SetWindowLongPtrA(bar, GWL_STYLE, GetWindowLongPtrA(bar, GWL_STYLE) | PBS_MARQUEE);
  SendMessageA(bar, PBM_SETMARQUEE, TRUE, 100);
}

void CWaitDlg::Pump() {
  MSG message;
  for (int handled = 0; handled < 10 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++handled) {
    if (!IsDialogMessageA(Handle(), &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  SendMessageA(Item(IDC_PROGRESS), PBM_STEPIT, 0, 0);
}

void CWaitDlg::EnableCancel() {
  if (withCancel_ && !cancelled_) EnableItem(IDCANCEL, true);
}

void CWaitDlg::OnCommand(int id, int) {
  if (id != IDCANCEL) return;
  cancelled_ = true;
  if (withCancel_) EnableItem(IDCANCEL, false);
}

bool CWaitDlg::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
  if (autoPlayMessage == 0 || message != autoPlayMessage) return false;
  result = TRUE;  // no AutoPlay for drives that appear while we work
  return true;
}
