// The GUI tests share one Wine prefix with the driver tests, since Harvesta installs the kernel
// service at start-up: a service left by an earlier run goes first, so that the program registers
// and starts its own, and the driver's Parameters key is there before that first start, because
// Wine's kernel cannot impersonate the caller.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "driver_service.h"

namespace {

constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\Vaultdisk\\Parameters";

// The system folder's copy would be used instead of the one the program carries.
void RemoveInstalledDriver() {
  char system[MAX_PATH];
  const UINT length = GetSystemDirectoryA(system, MAX_PATH);
  if (length > 0 && length < MAX_PATH) DeleteFileA((std::string(system) + "\\drivers\\vaultdisk.sys").c_str());
}

bool PrepareDriverParameters() {
  StopAndDeleteDriver();  // fails harmlessly when there is none
  RemoveInstalledDriver();
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const RegistryValue impersonate = DriverParameters{}.ImpersonateCaller;
  const bool set = RegSetValueExA(key, "ImpersonateCaller", 0, impersonate.Type, impersonate.Bytes.data(),
                                  DWORD(impersonate.Bytes.size())) == ERROR_SUCCESS;
  RegCloseKey(key);
  return set;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!PrepareDriverParameters()) {
    fprintf(stderr, "cannot write the driver's Parameters key\n");
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  StopAndDeleteDriver();
  return result;
}
