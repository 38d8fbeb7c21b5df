// The program's start-up and shutdown: crash reporting, the AutoPlay message, the driver and its
// service, the common controls, then the main dialog until it closes.
#include <windows.h>
// After windows.h.
#include <commctrl.h>

#include "crash_report.h"
#include "dialog_base.h"
#include "driver_service_win32.h"
#include "file_restore_dlg.h"
#include "message_sink.h"
#include "wait_dlg.h"
#include "wow64_win32.h"

namespace {
void ShowInMessageBox(const std::string& text) { HarvestaMessageBox(GetActiveWindow(), text); }

DriverFile StartDriver() {
  const bool wow64 = IsWow64();
  if (wow64) DisableFsRedirection();
  DriverFile driver = PrepareDriver();
  if (wow64) RevertFsRedirection();
  return driver;
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  InstallCrashReportFilter();
  SetAutoPlayMessage(RegisterWindowMessageA("QueryCancelAutoPlay"));
  SetMessageSink(ShowInMessageBox);

  const DriverFile driver = StartDriver();
  INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);
  {
    CFileRestoreDlg dialog;
    dialog.DoModal();
  }
  RemoveWrittenDriver(driver);
  return 0;
}
