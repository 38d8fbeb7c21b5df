#include "harvesta_process.h"

#include <cstdio>
#include <cstdlib>

#include <commctrl.h>
#include <dlgs.h>

#include "dialog_ids.h"
#include "remote_window.h"

namespace {

constexpr char kDesktopName[] = "HarvestaGuiTest";

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// A virtual desktop for the program and for this thread, which must share it to find the
// program's windows. Its explorer runs until this test program ends.
std::string EnterTestDesktop() {
  static std::string error = [] {
    std::string command = std::string("explorer.exe /desktop=") + kDesktopName + ",1024x768";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION explorer{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &explorer))
      return std::string("cannot start the desktop's explorer");
    CloseHandle(explorer.hThread);
    CloseHandle(explorer.hProcess);
    HDESK desktop = nullptr;
    WaitUntil([&] { return (desktop = OpenDesktopA(kDesktopName, 0, FALSE, GENERIC_ALL)) != nullptr; });
    if (!desktop) return std::string("the test desktop does not open");
    if (!SetThreadDesktop(desktop)) return "SetThreadDesktop failed, error " + std::to_string(GetLastError());
    return std::string();
  }();
  return error;
}

}  // namespace

std::string HarvestaProcess::Folder() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "harvesta-gui-program";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

HarvestaProcess::HarvestaProcess() {
  error_ = EnterTestDesktop();
  if (!error_.empty()) return;
  const std::string source = Environment("HARVESTA_EXE");
  const std::string program = Folder() + "Harvesta.exe";
  if (source.empty() || !CopyFileA(source.c_str(), program.c_str(), FALSE)) {
    error_ = "cannot copy Harvesta.exe from '" + source + "' (HARVESTA_EXE)";
    return;
  }
  // Every run starts from the default command template.
  DeleteFileA((Folder() + "Harvesta.ini").c_str());

  std::string command = "\"" + program + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string desktop = kDesktopName;
  startup.lpDesktop = desktop.data();
  if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, Folder().c_str(),
                      &startup, &info_)) {
    error_ = "CreateProcess failed, error " + std::to_string(GetLastError());
    return;
  }
  dialog_ = WaitForDialog(kMainCaption);
  if (!dialog_) error_ = "the main dialog does not show";
}

HarvestaProcess::~HarvestaProcess() {
  if (!info_.hProcess) return;
  if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
    if (dialog_ && IsWindow(dialog_)) PostMessageW(dialog_, WM_COMMAND, IDCANCEL, 0);
    if (WaitForSingleObject(info_.hProcess, 10000) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

HWND HarvestaProcess::WaitForDialog(const std::string& caption) const {
  HWND found = nullptr;
  WaitUntil([&] {
    found = FindProcessDialog(Id(), caption);
    return found || WaitForSingleObject(info_.hProcess, 0) != WAIT_TIMEOUT;
  });
  return found;
}

bool HarvestaProcess::WaitUntilGone(const std::string& caption) const {
  return WaitUntil([&] { return !FindProcessDialog(Id(), caption); });
}

std::string HarvestaProcess::Browse(const std::string& path, const std::string& dialogShot,
                                    const std::string& messageShot) const {
  constexpr char kOpenCaption[] = "Select an image file";
  Click(Item(kBrowse));
  const HWND open = WaitForDialog(kOpenCaption);
  if (!open) return "no open-file dialog";
  // The file name box: an edit, or the edit inside a combo box (itself inside an extended one).
  HWND name = GetDlgItem(open, edt1);
  for (HWND box = GetDlgItem(open, cmb13); !name && box; box = GetWindow(box, GW_CHILD))
    if (ClassName(box) == "Edit") name = box;
  if (!name) return "no file name box";
  SetText(name, path);
  Screenshot(open, dialogShot);
  Click(GetDlgItem(open, IDOK));
  if (!WaitUntilGone(kOpenCaption)) return "the open-file dialog stays";
  // The list loads on the main thread, which answers no message meanwhile: then either its rows
  // are there or a message box tells why not.
  const bool loaded = WaitUntil([&] {
    WaitUntilIdle();
    return FindProcessDialog(Id(), kMessageCaption) ||
           (Send(Item(kImageList), LVM_GETITEMCOUNT) > 0 && Text(Item(kImagePath)) == path);
  });
  if (!loaded) return "the list does not load";
  return FindProcessDialog(Id(), kMessageCaption) ? AnswerMessage(messageShot) : "";
}

std::string HarvestaProcess::AnswerMessage(const std::string& shot, int button) const {
  const HWND box = WaitForDialog(kMessageCaption);
  if (!box) return "";
  const std::string text = MessageBoxText(box);
  if (!shot.empty()) Screenshot(box, shot);
  Click(GetDlgItem(box, button));
  WaitUntil([&] { return !IsWindow(box); });
  WaitUntilIdle();
  return text;
}

void HarvestaProcess::WaitUntilIdle() const { Send(dialog_, WM_NULL); }

int HarvestaProcess::Close() {
  Click(Item(IDCANCEL));
  return WaitForExit();
}

int HarvestaProcess::WaitForExit() const {
  if (WaitForSingleObject(info_.hProcess, 20000) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  return int(code);
}

void Screenshot(HWND window, const std::string& name) {
  const std::string folder = Environment("HARVESTA_GUI_SHOTS");
  if (folder.empty() || name.empty() || !window) return;
  // Painting is done once the window's thread has nothing else queued.
  Send(window, WM_NULL);
  Sleep(300);
  RECT rect{};
  GetWindowRect(window, &rect);
  // The wrapper script crops the screen to the geometry in the request, then deletes it.
  const std::string request = folder + "\\" + name + ".request";
  FILE* file = std::fopen(request.c_str(), "w");
  if (!file) return;
  std::fprintf(file, "%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top);
  std::fclose(file);
  WaitUntil([&] { return GetFileAttributesA(request.c_str()) == INVALID_FILE_ATTRIBUTES; }, 10000);
}
