// The restore's user interface on the terminal: messages on stderr, questions answered on the
// terminal or by --yes, the password already accepted from PasswordSource, and a status line on
// stderr in place of the wait window, whose Cancel is Ctrl-C.
#pragma once
#include <chrono>
#include <string>

#include "restore_ui.h"

// One line on stderr, rewritten in place, at most five times a second; only on a terminal.
class StatusLine {
 public:
  StatusLine();
  void Show(const std::string& text, bool force = false);
  void Clear();  // before any other output, and at the end

 private:
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_{};
};

class TerminalRestoreUi : public RestoreUserInterface {
 public:
  TerminalRestoreUi(bool assumeYes, StatusLine& line) : assumeYes_(assumeYes), line_(line) {}

  void ShowMessage(const std::string& text) override;
  bool Ask(const std::string& question) override;
  bool AskPassword(const CImageFile& image, std::string& password) override;
  std::unique_ptr<WaitWindow> OpenWaitWindow(WaitKind kind) override;

  // The last message shown: the command's error repeats why the run stopped.
  const std::string& LastMessage() const { return lastMessage_; }

 private:
  bool assumeYes_;
  StatusLine& line_;
  std::string lastMessage_;
};
