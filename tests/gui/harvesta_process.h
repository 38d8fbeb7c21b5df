// Harvesta.exe started as a user starts it, on the virtual desktop of the test (Wine draws the
// window captions there), from a folder of its own: it writes its settings file and its driver
// next to itself.
#pragma once
#include <windows.h>

#include <string>

class HarvestaProcess {
 public:
  // Starts the program and waits for its main dialog; Error() says what failed.
  HarvestaProcess();
  // Closes the program if the test has not, and ends it if it does not end.
  ~HarvestaProcess();
  HarvestaProcess(const HarvestaProcess&) = delete;
  HarvestaProcess& operator=(const HarvestaProcess&) = delete;

  const std::string& Error() const { return error_; }
  HWND Dialog() const { return dialog_; }
  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  DWORD Id() const { return info_.dwProcessId; }
  // The folder the program runs from, with a trailing backslash.
  static std::string Folder();

  // A dialog of the program with that caption once it shows, else nullptr.
  HWND WaitForDialog(const std::string& caption) const;
  // Waits until no dialog of the program has that caption.
  bool WaitUntilGone(const std::string& caption) const;
  // Types path into the open-file dialog behind "..." and confirms it, then waits for the list
  // to load; the message the load showed ("" for none), its box closed. The shots name
  // screenshots of the open-file dialog and of the message.
  std::string Browse(const std::string& path, const std::string& dialogShot = "",
                     const std::string& messageShot = "") const;
  // Waits until a message box shows; its text (screenshot and all), after clicking its button.
  std::string AnswerMessage(const std::string& shot = "", int button = IDOK) const;
  // Returns once the main thread takes messages again: idle, or in a modal window's loop.
  void WaitUntilIdle() const;
  // Clicks Close and waits for the program to end: its exit code, or -1.
  int Close();
  // Waits for the program to end: its exit code, or -1.
  int WaitForExit() const;

 private:
  PROCESS_INFORMATION info_{};
  HWND dialog_ = nullptr;
  std::string error_;
};

// The dialogs' captions.
inline constexpr char kMainCaption[] = "Harvesta v1.0.7 - Copy files from a disk image using robocopy";
inline constexpr char kMessageCaption[] = "Harvesta";

// Saves a PNG of the window as test output (the wrapper script takes it off the screen); does
// nothing when the test runs without the wrapper.
void Screenshot(HWND window, const std::string& name);
