#include "dialog_base.h"

CDialog::~CDialog() {
  if (window_ && !modal_) DestroyWindow(window_);
}

INT_PTR CDialog::DoModal() {
  modal_ = true;
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), parent_,
                         Procedure, reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create() {
  modal_ = false;
  return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), parent_,
                            Procedure, reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialog::EndDialog(INT_PTR result) {
  if (modal_) ::EndDialog(window_, result);
}

std::string CDialog::ItemText(int id) const {
  HWND item = Item(id);
  int length = GetWindowTextLengthA(item);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(item, text.data(), length + 1)));
  return text;
}

void CDialog::SetItemText(int id, const std::string& text) const {
  SetDlgItemTextA(window_, id, text.c_str());
}

bool CDialog::Checked(int id) const { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }

void CDialog::SetChecked(int id, bool checked) const {
  CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void CDialog::EnableItem(int id, bool enabled) const { EnableWindow(Item(id), enabled); }

void CDialog::OnCommand(int id, int) {
  if (id == IDOK || id == IDCANCEL) EndDialog(id);
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

INT_PTR CALLBACK CDialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    dialog->window_ = window;
    return dialog->OnInitDialog();
  }
  auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (!dialog) return FALSE;
  if (message == WM_COMMAND) {
    dialog->OnCommand(LOWORD(wParam), HIWORD(wParam));
    return TRUE;
  }
  INT_PTR result = 0;
  if (!dialog->OnMessage(message, wParam, lParam, result)) return FALSE;
  // Results of notifications travel in the dialog's message result.
  SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
  return TRUE;
}

int HarvestaMessageBox(HWND owner, const std::string& text, UINT type) {
  if ((type & MB_ICONMASK) == 0) {
    UINT buttons = type & MB_TYPEMASK;
    if (buttons == MB_OK) type |= MB_ICONEXCLAMATION;
    if (buttons == MB_YESNO) type |= MB_ICONQUESTION;
  }
  return MessageBoxA(owner, text.c_str(), "Harvesta", type);
}
