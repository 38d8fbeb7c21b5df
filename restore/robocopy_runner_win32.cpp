#include "robocopy_runner_win32.h"

#include <windows.h>

#include <vector>

#include "command_template.h"

namespace {

// The template as typed, placeholders included, for the next start; skipped when the file
// cannot be written.
void SaveTemplate(const std::string& folder, const std::string& commandTemplate) {
  std::string path = folder;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  path += kSettingsFileName;
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, commandTemplate.data(), DWORD(commandTemplate.size()), &written, nullptr);
  CloseHandle(file);
}

// Asks the copy to stop the console way first, then ends it; repeated until it has ended.
void EndCopy(HANDLE process, DWORD processId) {
  GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0);
  GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, processId);
  GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, GetProcessId(GetCurrentProcess()));
  TerminateProcess(process, kCancelledExitCode);
}

}  // namespace

RobocopyRun RunRobocopy(RestoreUserInterface& ui, const RobocopyChoices& choices) {
  RobocopyRun run;
  std::unique_ptr<WaitWindow> wait = ui.OpenWaitWindow(WaitKind::WithCancel);
  wait->SetTitle("Copying...");
  wait->ShowMarquee();

  const std::string line =
      SubstituteCommandTemplate(choices.CommandTemplate, choices.VirtualLetter, choices.Destination);
  SaveTemplate(choices.SettingsFolder, choices.CommandTemplate);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = choices.HideOutput ? SW_HIDE : SW_SHOW;
  // CreateProcessA may write into the command line.
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back('\0');
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr,
                      nullptr, &startup, &process)) {
    run.Result = -1;
    run.ExitCode = 0xFFFFFFFF;
    return run;
  }
  run.Ran = true;
  // Waiting on the process rather than polling its exit code: a copy that ends with code 259
  // (STILL_ACTIVE) would otherwise be waited for forever, and a short one need not sit out the
  // whole pause.
  DWORD waited = WaitForSingleObject(process.hProcess, 1000);
  while (waited == WAIT_TIMEOUT) {
    if (wait->Cancelled()) {
      EndCopy(process.hProcess, process.dwProcessId);
      run.Cancelled = true;
      wait->EnableCancel();
    }
    wait->Pump();
    waited = WaitForSingleObject(process.hProcess, 200);
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  run.ExitCode = exitCode;
  run.Result = run.Cancelled ? 0 : int32_t(exitCode);
  return run;
}
