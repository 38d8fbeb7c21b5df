#include "wow64_win32.h"

#include <windows.h>

namespace {

// Looked up by name: older systems lack them, and a 64-bit process has nothing to redirect.
template <typename Function>
Function Kernel32Function(const char* name) {
  const HMODULE kernel32 = GetModuleHandleA("kernel32");
  return kernel32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)))
                  : nullptr;
}

// What Wow64DisableWow64FsRedirection handed back, for the revert.
void* redirectionState = nullptr;

}  // namespace

bool IsWow64() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto isWow64Process = Kernel32Function<IsWow64ProcessFunction>("IsWow64Process");
  BOOL wow64 = FALSE;
  return isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void DisableFsRedirection() {
  using DisableFunction = BOOL(WINAPI*)(void**);
  if (const auto disable = Kernel32Function<DisableFunction>("Wow64DisableWow64FsRedirection"))
    disable(&redirectionState);
}

void RevertFsRedirection() {
  using RevertFunction = BOOL(WINAPI*)(void*);
  if (const auto revert = Kernel32Function<RevertFunction>("Wow64RevertWow64FsRedirection"))
    revert(redirectionState);
}
