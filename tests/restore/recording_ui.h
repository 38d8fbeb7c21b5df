// A user interface that records what the restore steps show and asks, answers the password
// question as told, and has a wait window that counts its pumps and reports Cancel once it has
// been pumped a given number of times.
#pragma once
#include <memory>
#include <optional>
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
  bool AskPassword(const CImageFile&, std::string& password) override {
    ++PasswordsAsked;
    if (Password) password = *Password;
    return Password.has_value();
  }
  std::unique_ptr<WaitWindow> OpenWaitWindow(WaitKind kind) override;

  std::optional<std::string> Password;  // what the user types; none: the dialog is cancelled
  int PasswordsAsked = 0;
  std::vector<std::string> Messages;
  std::vector<WaitKind> WaitKinds;
  WaitRecord Wait;
};
