#include "format_volume_win32.h"

#include <windows.h>
#include <winioctl.h>

#include "system_error_text.h"

namespace {

// The library's callback commands this program acts on.
enum FormatCommand : DWORD {
  kProgress = 0,
  kDone = 11,
  kTextOutput = 14,
  kStructureProgress = 15,
};
struct TextOutput {
  DWORD Lines;
  const char* Text;
};

using FormatCallback = BOOLEAN(WINAPI*)(DWORD command, DWORD subAction, void* argument);
using FormatExFunction = void(WINAPI*)(const wchar_t* driveRoot, DWORD mediaType, const wchar_t* fileSystem,
                                       const wchar_t* label, BOOL quickFormat, DWORD clusterSize,
                                       FormatCallback callback);
constexpr DWORD kFixedMedia = 12;

FormatExFunction formatEx = nullptr;
// What the library reported for the format under way: FormatEx itself returns nothing.
bool reportedDone = false;
bool reportedFailure = false;  // any done report without success counts

void StepWaitWindow() {
  if (WaitWindow* wait = CurrentWaitWindow()) wait->Pump();
}

BOOLEAN WINAPI OnFormatProgress(DWORD command, DWORD, void* argument) {
  StepWaitWindow();
  switch (command) {
    case kProgress:
    case kStructureProgress:
      StepWaitWindow();
      break;
    case kDone:
      reportedDone = true;
      if (!argument || *static_cast<const BOOLEAN*>(argument) == 0) reportedFailure = true;
      break;
    case kTextOutput:
      if (const auto* output = static_cast<const TextOutput*>(argument); output && output->Text)
        if (WaitWindow* wait = CurrentWaitWindow()) wait->SetTitle(output->Text);
      break;
    default:
      break;
  }
  return TRUE;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(size_t(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), length);
  return wide;
}

}  // namespace

DismountResult LockAndDismountVolume(const std::string& devicePath, bool force) {
  if (devicePath.empty()) return DismountResult::EmptyPath;
  const HANDLE volume = CreateFileA(devicePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, 0, nullptr);
  if (volume == INVALID_HANDLE_VALUE) return DismountResult::CannotOpen;
  DWORD returned;
  if (!DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr) && !force) {
    CloseHandle(volume);
    return DismountResult::InUse;
  }
  const bool dismounted =
      DeviceIoControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  CloseHandle(volume);
  return dismounted ? DismountResult::Dismounted : DismountResult::DismountFailed;
}

// Loaded on every format and never freed. EnableVolumeCompression is never called, so a
// library without it formats all the same.
bool LoadFormatLibrary(RestoreUserInterface& ui) {
  if (!LoadLibraryA("fmifs.dll")) {
    ui.ShowMessage("Error loading fmifs.dll - " + SystemErrorText(GetLastError()));
    return false;
  }
  formatEx = reinterpret_cast<FormatExFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("fmifs.dll"), "FormatEx")));
  if (!formatEx) {
    ui.ShowMessage("Error loading FormatEx");
    return false;
  }
  return true;
}

int FormatVolume(RestoreUserInterface& ui, const std::string& driveName, const std::string& label,
                 const std::string& fileSystem, uint32_t clusterSize) {
  reportedDone = false;
  reportedFailure = false;
  if (!LoadFormatLibrary(ui)) return 0;
  const std::wstring drive = Wide(driveName), system = Wide(fileSystem), name = Wide(label);
  formatEx(drive.c_str(), kFixedMedia, system.c_str(), name.c_str(), TRUE, clusterSize, OnFormatProgress);
  // A format that never said it finished may have left the volume as it was: nothing is to be
  // copied onto it.
  return reportedDone && !reportedFailure ? 1 : 0;
}
