// The main window: every choice of a restore, the image list, and Start, which hands the
// choices to the restore engine and reports how the run ended.
#pragma once
#include "dialog_base.h"
#include "dialog_user_interface.h"
#include "drive_image_list.h"
#include "restore_choices.h"
#include "restore_steps_win32.h"

class CFileRestoreDlg : public CDialog {
 public:
  // Enables the backup-mode privileges and reads the saved command template.
  CFileRestoreDlg();

 protected:
  BOOL OnInitDialog() override;
  void OnCommand(int id, int notification) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  void ApplyEnablingRules();
  void Browse();
  void Start();
  void EditBootSettings();
  RestoreChoices ReadChoices() const;
  void FillDestinations();
  static void FillList(HWND box, const char* const* entries, size_t count, int chosen);

  bool running_ = false;  // Start and Close stay disabled, whatever is clicked meanwhile
  RestoreStatus status_;
  std::string commandTemplate_;
  std::string imagePath_;
  BootChoices boot_;
  HICON icon_ = nullptr;
  DialogUserInterface ui_;
  CDriveImageList imageList_;
  Win32RestoreSteps steps_;
};
