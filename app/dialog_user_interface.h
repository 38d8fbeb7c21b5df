// The restore engine's user interface in the program: message boxes over the main dialog, the
// password dialog and the wait windows.
#pragma once
#include <windows.h>

#include "restore_ui.h"

class DialogUserInterface : public RestoreUserInterface {
 public:
  explicit DialogUserInterface(HWND owner) : owner_(owner) {}
  // The window that owns the messages and dialogs, once it exists.
  void SetOwner(HWND owner) { owner_ = owner; }
  void ShowMessage(const std::string& text) override;
  bool Ask(const std::string& question) override;
  bool AskPassword(const CImageFile& image, std::string& password) override;
  std::unique_ptr<WaitWindow> OpenWaitWindow(WaitKind kind) override;

 private:
  HWND owner_;
};
