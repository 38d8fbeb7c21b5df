#include "junction_fixup_win32.h"

#include <aclapi.h>
#include <windows.h>
#include <winioctl.h>

#include <optional>
#include <vector>

#include "program_paths_win32.h"
#include "reparse_data.h"
#include "restore_ui.h"

namespace {

constexpr DWORD kReparseBufferSize = 16384;
constexpr DWORD kOpenReparsePoint = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Pumping on every folder would dominate a walk over many thousands of them.
constexpr DWORD kPumpInterval = 200;

DWORD lastPump = 0;

void StepWaitWindowNowAndThen() {
  WaitWindow* wait = CurrentWaitWindow();
  if (!wait) return;
  const DWORD now = GetTickCount();
  if (now - lastPump > kPumpInterval) {
    wait->Pump();
    lastPump = now;
  }
}

std::string NativePath(const std::string& path) { return "\\??\\" + path; }

// The program's 8-bit code page; nullopt for a name it cannot spell, which is then not created
// under some other name.
std::optional<std::string> ToCodePage(const std::string& utf8) {
  const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), nullptr, 0);
  if (wideLength <= 0) return std::nullopt;
  std::wstring wide(size_t(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), wideLength);
  BOOL lossy = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, &lossy);
  if (length <= 0 || lossy) return std::nullopt;
  std::string text(size_t(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, text.data(), length, nullptr, nullptr);
  return text;
}

// The reparse point sourceName ("X:\dir") made again at destinationPath ("E:\dir\").
void CopyReparsePoint(HANDLE source, const std::string& sourceNative, const std::string& destinationPath,
                      char virtualLetter, char destinationLetter) {
  std::vector<uint8_t> buffer(kReparseBufferSize);
  DWORD length = 0;
  if (!DeviceIoControl(source, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(), DWORD(buffer.size()), &length,
                       nullptr))
    return;
  RewriteReparseTargetLetter(buffer.data(), length, virtualLetter, destinationLetter);
  // Only below the destination's root: an image must not make folders on the running system.
  if (const std::optional<std::string> folder = ReparseTargetFolder(buffer.data(), length, destinationLetter))
    if (const std::optional<std::string> local = ToCodePage(*folder)) CreateDirectoryPath(*local);

  const std::string destinationNative = NativePath(destinationPath.substr(0, destinationPath.size() - 1));
  CopySecurity(sourceNative, destinationNative);
  const HANDLE destination = CreateFileA(destinationNative.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                         nullptr, OPEN_EXISTING, kOpenReparsePoint, nullptr);
  if (destination == INVALID_HANDLE_VALUE) return;
  DWORD returned;
  DeviceIoControl(destination, FSCTL_SET_REPARSE_POINT, buffer.data(), length, nullptr, 0, &returned, nullptr);
  CloseHandle(destination);
}

}  // namespace

int FixJunctionPoints(std::string pattern, char destinationLetter) {
  StepWaitWindowNowAndThen();
  if (pattern.size() < 2) return 0;
  const std::string folderPath = pattern.substr(0, pattern.size() - 1);  // "X:\dir\"
  const std::string folderName = pattern.substr(0, pattern.size() - 2);  // "X:\dir"
  const DWORD attributes = GetFileAttributesA(folderName.c_str());
  if (pattern.size() > 2 && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    const std::string destinationPath = destinationLetter + folderPath.substr(1);
    CreateDirectoryPath(destinationPath);
    SetFileAttributesA(destinationPath.c_str(), attributes);
    const std::string sourceNative = NativePath(folderName);
    const HANDLE source =
        CreateFileA(sourceNative.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, kOpenReparsePoint, nullptr);
    if (source != INVALID_HANDLE_VALUE) {
      CopyReparsePoint(source, sourceNative, destinationPath, pattern[0], destinationLetter);
      CloseHandle(source);
      return 1;  // never walked into: its target is walked where it lies, if on this drive
    }
  }

  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    if (lstrcmpiA(entry.cFileName, ".") == 0 || lstrcmpiA(entry.cFileName, "..") == 0) continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      FixJunctionPoints(folderPath + entry.cFileName + "\\*", destinationLetter);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return 1;
}

uint32_t CopySecurity(const std::string& source, const std::string& destination) {
  if (GetFileAttributesA(source.c_str()) == INVALID_FILE_ATTRIBUTES ||
      GetFileAttributesA(destination.c_str()) == INVALID_FILE_ATTRIBUTES)
    return 0;
  constexpr SECURITY_INFORMATION kAllParts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;
  PSID owner = nullptr, group = nullptr;
  PACL dacl = nullptr, sacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (const DWORD error = GetNamedSecurityInfoA(source.c_str(), SE_FILE_OBJECT, kAllParts, &owner, &group, &dacl,
                                                &sacl, &descriptor);
      error != ERROR_SUCCESS)
    return error;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision;
  if (!GetSecurityDescriptorControl(descriptor, &control, &revision)) control = 0;
  SECURITY_INFORMATION information = kAllParts;
  information |= (control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                : UNPROTECTED_DACL_SECURITY_INFORMATION;
  information |= (control & SE_SACL_PROTECTED) ? PROTECTED_SACL_SECURITY_INFORMATION
                                                : UNPROTECTED_SACL_SECURITY_INFORMATION;
  const DWORD error = SetNamedSecurityInfoA(const_cast<char*>(destination.c_str()), SE_FILE_OBJECT, information,
                                            owner, group, dacl, sacl);
  LocalFree(descriptor);
  return error;
}
