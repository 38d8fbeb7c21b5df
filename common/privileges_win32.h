// Privileges of the process token that backup-mode copying and the security and reparse-point
// work on the destination need.
#pragma once
#include <windows.h>

// Enables (or disables) one privilege by name. 1 when the token now has it as asked; 0 when the
// name is unknown or the token does not hold the privilege.
int SetPrivilege(HANDLE token, const char* privilegeName, bool enable);

// Security, take-ownership and restore privileges, each tried whatever the one before gave. 0
// when the process token cannot be opened, else 1.
int EnableBackupPrivileges();
