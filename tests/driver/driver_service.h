// The driver under test as Harvesta installs it: a kernel service "Vaultdisk" started from the
// freshly built .sys, with its Parameters key set for the test.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

constexpr DWORD kTestDeviceCount = 3;
// What the driver creates when its Parameters key does not say.
constexpr DWORD kDefaultDeviceCount = 10;

// A value of the Parameters key in the form the registry stores it.
struct RegistryValue {
  DWORD Type;
  std::vector<uint8_t> Bytes;
};

RegistryValue DwordValue(DWORD value);

// NumberOfDevices and ImpersonateCaller for the driver to read at load.
struct DriverParameters {
  RegistryValue NumberOfDevices = DwordValue(kTestDeviceCount);
  // Wine's kernel cannot impersonate: the image files open as the driver.
  RegistryValue ImpersonateCaller = DwordValue(0);
};

// Creates (replacing a leftover) and starts the service; "" on success, else what failed.
std::string InstallAndStartDriver(const std::string& driverPath, const DriverParameters& parameters = {});

// Stops the service and starts the last installed driver again with other parameters.
std::string RestartDriver(const DriverParameters& parameters);

// Stops the service (the driver unloads) and deletes it; "" on success, else what failed.
std::string StopAndDeleteDriver();
