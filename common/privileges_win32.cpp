#include "privileges_win32.h"

#include <cstdio>
#include <initializer_list>

int SetPrivilege(HANDLE token, const char* privilegeName, bool enable) {
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  if (!LookupPrivilegeValueA(nullptr, privilegeName, &privileges.Privileges[0].Luid)) {
    printf("LookupPrivilegeValue error: %lu\n", GetLastError());
    return 0;
  }
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  // Succeeds with ERROR_NOT_ALL_ASSIGNED when the token lacks the privilege: only the last
  // error tells.
  SetLastError(ERROR_SUCCESS);
  AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
  if (const DWORD error = GetLastError(); error != ERROR_SUCCESS) {
    printf("AdjustTokenPrivileges failed: %lu\n", error);
    return 0;
  }
  return 1;
}

int EnableBackupPrivileges() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return 0;
  for (const char* name : {"SeSecurityPrivilege", "SeTakeOwnershipPrivilege", "SeRestorePrivilege"})
    SetPrivilege(token, name, true);
  CloseHandle(token);
  return 1;
}
