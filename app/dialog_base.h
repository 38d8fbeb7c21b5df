// A small dialog object over the Win32 dialog manager: one C++ object per dialog made from a
// template, its messages handed to virtual members. Dialogs only move values between their
// controls and fields; the work is done by the code they call.
#pragma once
#include <windows.h>

#include <string>

class CDialog {
 public:
  CDialog(int templateId, HWND parent) : templateId_(templateId), parent_(parent) {}
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Modal: returns the value passed to EndDialog (IDOK, IDCANCEL), -1 when it could not open.
  INT_PTR DoModal();
  // Modeless: the window exists once this returns true; the destructor destroys it.
  bool Create();

  HWND Handle() const { return window_; }
  HWND Parent() const { return parent_; }
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  std::string ItemText(int id) const;
  void SetItemText(int id, const std::string& text) const;
  bool Checked(int id) const;
  void SetChecked(int id, bool checked) const;
  void EnableItem(int id, bool enabled) const;

 protected:
  void EndDialog(INT_PTR result);
  // WM_INITDIALOG; TRUE lets the system set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  // WM_COMMAND. The default ends a modal dialog on OK and Cancel (Enter and Escape).
  virtual void OnCommand(int id, int notification);
  // Every other message; true when handled, with the procedure's result in result.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
  HWND parent_;
  HWND window_ = nullptr;
  bool modal_ = false;
};

// Every message of the program: captioned "Harvesta"; an OK box without an icon gets the
// exclamation mark, a Yes/No box without one the question mark. Returns the button (IDYES...).
int HarvestaMessageBox(HWND owner, const std::string& text, UINT type = MB_OK);
