#include "crash_report.h"

#include <windows.h>
// After windows.h.
#include <dbghelp.h>

#include <cstdio>

#include "dialog_base.h"

namespace {
using MiniDumpWriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                                PMINIDUMP_EXCEPTION_INFORMATION,
                                                PMINIDUMP_USER_STREAM_INFORMATION,
                                                PMINIDUMP_CALLBACK_INFORMATION);

void ClearSkinSetting() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\varnoth\\quillon\\Settings", 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  DWORD zero = 0;
  RegSetValueExA(key, "skin", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
  RegCloseKey(key);
}

// Only local buffers: the heap may be what failed.
LONG WINAPI CrashReportFilter(EXCEPTION_POINTERS* exception) {
  char text[512] = {};
  LONG result = EXCEPTION_CONTINUE_SEARCH;
  const std::string libraryPath = DumpLibraryPath();
  HMODULE library = libraryPath.empty() ? nullptr : LoadLibraryA(libraryPath.c_str());
  auto writeDump = library ? reinterpret_cast<MiniDumpWriteDumpFunction>(
                                 reinterpret_cast<void*>(GetProcAddress(library, "MiniDumpWriteDump")))
                           : nullptr;
  if (!library) {
    std::snprintf(text, sizeof text, "DBGHELP.DLL not found");
  } else if (!writeDump) {
    std::snprintf(text, sizeof text, "DBGHELP.DLL too old");
  } else {
    ClearSkinSetting();
    if (HarvestaMessageBox(nullptr,
                           "Varnoth Quillon has encountered a serious problem.\n\nClick 'Yes' to "
                           "generate a report that can be sent to Varnoth support for analysis.",
                           MB_YESNO | MB_ICONSTOP) != IDYES)
      return EXCEPTION_CONTINUE_SEARCH;
    HANDLE file = CreateFileA(kCrashDumpPath, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      std::snprintf(text, sizeof text, "Failed to create dump file '%s' (error %lu)", kCrashDumpPath,
                    GetLastError());
    } else {
      MINIDUMP_EXCEPTION_INFORMATION information{GetCurrentThreadId(), exception, FALSE};
      if (writeDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &information,
                    nullptr, nullptr)) {
        std::snprintf(text, sizeof text,
                      "Dump file '%s' created\n\nPlease email this file to %s\n\nThank you.",
                      kCrashDumpPath, kSupportAddress);
        result = EXCEPTION_EXECUTE_HANDLER;
      } else {
        std::snprintf(text, sizeof text, "Failed to save dump file to '%s' (error %lu)",
                      kCrashDumpPath, GetLastError());
      }
      CloseHandle(file);
    }
  }
  if (text[0]) HarvestaMessageBox(nullptr, text);
  return result;
}
}  // namespace

std::string DumpLibraryPath() {
  char folder[MAX_PATH] = {};
  UINT length = GetSystemDirectoryA(folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return {};  // never the search order
  return std::string(folder, length) + "\\DBGHELP.DLL";
}

void InstallCrashReportFilter() { SetUnhandledExceptionFilter(CrashReportFilter); }
