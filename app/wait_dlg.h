// The modeless wait window shown in front of the main dialog while a long step runs on the main
// thread: a progress bar, optionally Cancel, and the pump that keeps the interface alive.
#pragma once
#include "dialog_base.h"
#include "restore_ui.h"

class CWaitDlg : public CDialog, public WaitWindow {
 public:
  // withCancel picks the template with a Cancel button. Without a parent, the top-level window
  // of the active window is the parent.
  CWaitDlg(bool withCancel, HWND parent);
  ~CWaitDlg() override;

  void SetTitle(const std::string& title) override;
  void ShowSteps() override;
  void ShowMarquee() override;
  void Pump() override;
  bool Cancelled() const override { return cancelled_; }
  void EnableCancel() override;

 protected:
  BOOL OnInitDialog() override;
  void OnCommand(int id, int notification) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  bool withCancel_;
  bool cancelled_ = false;
};

// The identifier of "QueryCancelAutoPlay", registered at start-up.
void SetAutoPlayMessage(UINT message);
