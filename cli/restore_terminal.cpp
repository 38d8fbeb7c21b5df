#include "restore_terminal.h"

#include <unistd.h>

#include <iostream>

#include "image_file.h"
#include "stop_signals.h"

namespace {

class TerminalWaitWindow : public WaitWindow {
 public:
  explicit TerminalWaitWindow(StatusLine& line) : line_(line) {}
  ~TerminalWaitWindow() override { line_.Clear(); }
  void SetTitle(const std::string& title) override {
    title_ = title;
    line_.Show(title_, true);
  }
  void ShowSteps() override {}
  void ShowMarquee() override {}
  void Pump() override {
    static constexpr char kTurns[] = {'|', '/', '-', '\\'};
    line_.Show(title_ + " " + kTurns[++turn_ % 4]);
  }
  bool Cancelled() const override { return StopSignals::Raised(); }
  void EnableCancel() override {}

 private:
  StatusLine& line_;
  std::string title_;
  unsigned turn_ = 0;
};

}  // namespace

StatusLine::StatusLine() : shown_(isatty(STDERR_FILENO) == 1) {}

void StatusLine::Show(const std::string& text, bool force) {
  if (!shown_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ && now - last_ < std::chrono::milliseconds(200)) return;
  last_ = now;
  drawn_ = true;
  std::cerr << "\r\033[K" << text << std::flush;
}

void StatusLine::Clear() {
  if (!drawn_) return;
  drawn_ = false;
  std::cerr << "\r\033[K" << std::flush;
}

void TerminalRestoreUi::ShowMessage(const std::string& text) {
  line_.Clear();
  lastMessage_ = text;
  std::cerr << lastMessage_ << '\n';
}

bool TerminalRestoreUi::Ask(const std::string& question) {
  line_.Clear();
  const std::string& text = question;
  if (assumeYes_) {
    std::cerr << text << " yes (--yes)\n";
    return true;
  }
  if (!isatty(STDIN_FILENO)) {
    ShowMessage(text + " Not answered: standard input is not a terminal; give --yes to proceed.");
    return false;
  }
  std::cerr << text << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer) || StopSignals::Raised()) {
    std::cerr << '\n';
    return false;
  }
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

// The command accepts the password before the run starts (UnlockImage); the run only takes it.
bool TerminalRestoreUi::AskPassword(const CImageFile& image, std::string& password) {
  password = image.Password;
  return !password.empty();
}

std::unique_ptr<WaitWindow> TerminalRestoreUi::OpenWaitWindow(WaitKind) {
  return std::make_unique<TerminalWaitWindow>(line_);
}
