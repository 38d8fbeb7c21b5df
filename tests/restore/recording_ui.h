// A user interface that records what the restore steps show and asks, with a wait window that
// counts its pumps and reports Cancel once it has been pumped a given number of times.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "restore_ui.h"

struct WaitRecord {
  std::vector<std::string> Titles;
  bool Marquee = false;
  int Pumps = 0;
  int CancelEnabled = 0;
  bool Open = false;
  int CancelAfterPumps = -1;  // never when negative
};

class RecordingUi : public RestoreUserInterface {
 public:
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
  bool Ask(const std::string&) override { return false; }
  bool AskPassword(const CImageFile&, std::string&) override { return false; }
  std::unique_ptr<WaitWindow> OpenWaitWindow(WaitKind kind) override;

  std::vector<std::string> Messages;
  std::vector<WaitKind> WaitKinds;
  WaitRecord Wait;
};
