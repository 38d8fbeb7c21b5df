// The driver under test as Harvesta installs it: a kernel service "Vaultdisk" started from the
// freshly built .sys, with its Parameters key set for the test.
#pragma once
#include <windows.h>

#include <string>

constexpr DWORD kTestDeviceCount = 3;

// Creates (replacing a leftover) and starts the service; "" on success, else what failed.
std::string InstallAndStartDriver(const std::string& driverPath);

// Stops the service (the driver unloads) and deletes it; "" on success, else what failed.
std::string StopAndDeleteDriver();
