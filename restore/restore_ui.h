// What the restore engine asks of the user interface: messages and questions, the password of
// a protected image, and the wait window shown in front of the main window while a long step
// runs. The program implements it with its dialogs, `harvesta restore` on the terminal, tests
// with a recording fake.
#pragma once
#include <memory>
#include <string>

class CImageFile;

// The wait window of one step. The step keeps the interface alive by pumping it.
class WaitWindow {
 public:
  virtual ~WaitWindow() = default;
  virtual void SetTitle(const std::string& title) = 0;
  virtual void ShowSteps() = 0;    // a stepped bar: position 0, step 1, range 0 to 100
  virtual void ShowMarquee() = 0;  // a running bar, animated every 100 ms
  // Handles pending messages (at most 10), then advances the bar by one step.
  virtual void Pump() = 0;
  // Set once the user pressed Cancel (or Escape); the button is disabled then.
  virtual bool Cancelled() const = 0;
  virtual void EnableCancel() = 0;
};

enum class WaitKind {
  Plain,       // a bar only
  WithCancel,  // a bar and a Cancel button
};

class RestoreUserInterface {
 public:
  virtual ~RestoreUserInterface() = default;
  virtual void ShowMessage(const std::string& text) = 0;  // OK box
  virtual bool Ask(const std::string& question) = 0;      // Yes/No question; true for Yes
  // Asks until the password matches the image's digest; false when the user gave up.
  // password receives it as the image stores it (Windows-1252).
  virtual bool AskPassword(const CImageFile& image, std::string& password) = 0;
  // Shown until the returned window is destroyed; at most one exists at a time.
  virtual std::unique_ptr<WaitWindow> OpenWaitWindow(WaitKind kind) = 0;
};

// The wait window a long step is showing, for the steps below it that pump it (the format
// callback, the junction walk); null when none. Set by whoever opens one for a step, cleared
// when it is destroyed.
WaitWindow* CurrentWaitWindow();
void SetCurrentWaitWindow(WaitWindow* window);
