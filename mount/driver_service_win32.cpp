#include "driver_service_win32.h"

#include <sddl.h>

#include <algorithm>
#include <vector>

#include "program_paths_win32.h"
#include "wow64_win32.h"

namespace {

constexpr char kDriverFileName[] = "vaultdisk.sys";
// Full control for SYSTEM and Administrators, nothing inherited from the program's folder:
// whoever may write there may not write this.
constexpr char kDriverFileSecurity[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";

struct ServiceHandle {
  SC_HANDLE Value;
  ~ServiceHandle() {
    if (Value) CloseServiceHandle(Value);
  }
};

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The service manager may hand a kernel driver's path back in its native form.
std::string WithoutNativePrefix(std::string path) {
  if (path.rfind("\\??\\", 0) == 0) path.erase(0, 4);
  return path;
}

// A service left by a run from another folder names a file that run deleted at its exit.
void PointServiceAt(SC_HANDLE service, const std::string& driverPath) {
  DWORD needed = 0;
  QueryServiceConfigA(service, nullptr, 0, &needed);
  if (needed == 0) return;
  std::vector<uint8_t> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!QueryServiceConfigA(service, config, needed, &needed)) return;
  if (config->lpBinaryPathName &&
      lstrcmpiA(WithoutNativePrefix(config->lpBinaryPathName).c_str(), driverPath.c_str()) == 0)
    return;
  ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, driverPath.c_str(),
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

SC_HANDLE OpenOrCreateService(SC_HANDLE manager, const char* serviceName, const char* displayName,
                              const std::string& driverPath, const char* description) {
  if (const SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_ALL_ACCESS)) {
    PointServiceAt(service, driverPath);
    return service;
  }
  if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) return nullptr;
  const SC_HANDLE service =
      CreateServiceA(manager, serviceName, displayName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, driverPath.c_str(), nullptr, nullptr, nullptr,
                     nullptr, nullptr);
  if (!service) return nullptr;
  SERVICE_DESCRIPTIONA text{const_cast<char*>(description)};
  ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text);
  return service;
}

// While the service says it is starting: a tenth of its wait hint between looks (1 to 10 s),
// and no more than the hint without progress in its check point.
void WaitWhileStarting(SC_HANDLE service) {
  SERVICE_STATUS status;
  if (!QueryServiceStatus(service, &status)) return;
  DWORD progressTick = GetTickCount();
  DWORD checkPoint = status.dwCheckPoint;
  while (status.dwCurrentState == SERVICE_START_PENDING) {
    Sleep(std::clamp<DWORD>(status.dwWaitHint / 10, 1000, 10000));
    if (!QueryServiceStatus(service, &status)) return;
    if (status.dwCheckPoint > checkPoint) {
      checkPoint = status.dwCheckPoint;
      progressTick = GetTickCount();
    } else if (GetTickCount() - progressTick > status.dwWaitHint) {
      return;
    }
  }
}

struct DriverResource {
  const void* Bytes = nullptr;
  uint32_t Size = 0;
};
DriverResource LoadDriverResource(WORD id) {
  const HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), "DATA");
  if (!found) return {};
  const HGLOBAL loaded = LoadResource(nullptr, found);
  if (!loaded) return {};
  return {LockResource(loaded), uint32_t(SizeofResource(nullptr, found))};
}

}  // namespace

std::string InstalledDriverPath() {
  char system[MAX_PATH] = "";
  GetSystemDirectoryA(system, sizeof system);
  return std::string(system) + "\\drivers\\" + kDriverFileName;
}

std::string ExtractedDriverPath() { return ModuleFilePath(kDriverFileName); }

WORD DriverResourceId() {
  return sizeof(void*) == 8 || IsWow64() ? kDriverResourceX64 : kDriverResourceX86;
}

ExtractedDriverFile::ExtractedDriverFile(const std::string& path, const void* bytes, uint32_t size) {
  if (!bytes || size == 0) return;
  // A file someone else left there keeps its owner and rights when overwritten: only a new one
  // gets ours.
  DeleteFileA(path.c_str());
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kDriverFileSecurity, SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const HANDLE writing = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &attributes, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  LocalFree(descriptor);
  if (writing == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  const bool complete = WriteFile(writing, bytes, size, &written, nullptr) && written == size;
  // Held from here until the service has started: read access the kernel's loader can share,
  // and no delete sharing, so the file cannot be renamed or deleted and replaced meanwhile.
  // Opened before the writing handle goes, which until then shuts out the same.
  if (complete)
    handle_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  CloseHandle(writing);
  if (!complete) DeleteFileA(path.c_str());
}

void ExtractedDriverFile::Release() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

void InstallDriverService(const char* serviceName, const char* displayName, const std::string& driverPath,
                          const char* description) {
  ServiceHandle manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
  if (!manager.Value) return;
  ServiceHandle service{OpenOrCreateService(manager.Value, serviceName, displayName, driverPath, description)};
  if (!service.Value || !StartServiceA(service.Value, 0, nullptr)) return;
  WaitWhileStarting(service.Value);
}

DriverFile PrepareDriver() {
  DriverFile driver;
  for (const std::string& path : {InstalledDriverPath(), std::string(kRescueMediaDriverPath)}) {
    if (Exists(path)) {
      driver.Path = path;
      InstallDriverService(kServiceName, kServiceDisplayName, driver.Path, kServiceDescription);
      return driver;
    }
  }
  driver.Path = ExtractedDriverPath();
  const DriverResource resource = LoadDriverResource(DriverResourceId());
  ExtractedDriverFile file(driver.Path, resource.Bytes, resource.Size);
  driver.Written = file.Valid();
  // A file this run could not write is not the kernel's to load: whoever holds it may have
  // put anything there.
  if (driver.Written) InstallDriverService(kServiceName, kServiceDisplayName, driver.Path, kServiceDescription);
  return driver;
}

void RemoveWrittenDriver(const DriverFile& driver) {
  if (driver.Written) DeleteFileA(driver.Path.c_str());
}
