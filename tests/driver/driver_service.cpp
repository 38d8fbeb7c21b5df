#include "driver_service.h"

#include <string>

namespace {

constexpr char kService[] = "Vaultdisk";
constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\Vaultdisk\\Parameters";

std::string Failed(const char* what) { return std::string(what) + " failed, error " + std::to_string(GetLastError()); }

struct ServiceHandle {
  SC_HANDLE Handle;
  ~ServiceHandle() {
    if (Handle) CloseServiceHandle(Handle);
  }
};

bool WaitForState(SC_HANDLE service, DWORD state) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    SERVICE_STATUS status;
    if (!QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == state) return true;
    Sleep(100);
  }
  return false;
}

void StopAndDelete(SC_HANDLE service) {
  SERVICE_STATUS status;
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) WaitForState(service, SERVICE_STOPPED);
  DeleteService(service);
}

bool SetParameter(HKEY key, const char* name, const RegistryValue& value) {
  return RegSetValueExA(key, name, 0, value.Type, value.Bytes.data(), DWORD(value.Bytes.size())) == ERROR_SUCCESS;
}

std::string g_driverPath;

}  // namespace

RegistryValue DwordValue(DWORD value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  return {REG_DWORD, {bytes, bytes + sizeof value}};
}

std::string RestartDriver(const DriverParameters& parameters) {
  if (std::string error = StopAndDeleteDriver(); !error.empty()) return error;
  return InstallAndStartDriver(g_driverPath, parameters);
}

std::string InstallAndStartDriver(const std::string& driverPath, const DriverParameters& parameters) {
  g_driverPath = driverPath;
  ServiceHandle manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
  if (!manager.Handle) return Failed("OpenSCManagerA");
  if (ServiceHandle leftover{OpenServiceA(manager.Handle, kService, SERVICE_ALL_ACCESS)}; leftover.Handle)
    StopAndDelete(leftover.Handle);

  ServiceHandle service{CreateServiceA(manager.Handle, kService, "Vaultdisk", SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       driverPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr)};
  if (!service.Handle) return Failed("CreateServiceA");

  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return "cannot create the Parameters key";
  const bool set = SetParameter(key, "NumberOfDevices", parameters.NumberOfDevices) &&
                   SetParameter(key, "ImpersonateCaller", parameters.ImpersonateCaller);
  RegCloseKey(key);
  if (!set) return "cannot set the parameters";

  if (!StartServiceA(service.Handle, 0, nullptr)) return Failed("StartServiceA");
  if (!WaitForState(service.Handle, SERVICE_RUNNING)) return "the service does not reach RUNNING";
  return "";
}

std::string StopAndDeleteDriver() {
  ServiceHandle manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
  if (!manager.Handle) return Failed("OpenSCManagerA");
  ServiceHandle service{OpenServiceA(manager.Handle, kService, SERVICE_ALL_ACCESS)};
  if (!service.Handle) return Failed("OpenServiceA");
  SERVICE_STATUS status;
  std::string result;
  if (!ControlService(service.Handle, SERVICE_CONTROL_STOP, &status))
    result = Failed("ControlService(STOP)");
  else if (!WaitForState(service.Handle, SERVICE_STOPPED))
    result = "the service does not reach STOPPED";
  if (!DeleteService(service.Handle) && result.empty()) result = Failed("DeleteService");
  return result;
}
