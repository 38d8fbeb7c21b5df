// The driver step of start-up in a program that carries the driver builds as resources 132 and
// 133, as Harvesta does: extraction next to the program, the kernel service through Wine's
// service manager, the real driver answering, the file gone at exit.
// Usage: driver_step_test X64-DRIVER.sys [gtest options] (a Windows path: Z:/... under Wine)
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver_service.h"
#include "driver_service_win32.h"
#include "path_names.h"
#include "virtual_drive.h"
#include "wine_files.h"

namespace {

std::vector<uint8_t> x64Driver;

constexpr char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\Vaultdisk\\Parameters";
constexpr char kStalePath[] = "C:\\gone\\vaultdisk.sys";

struct Service {
  SC_HANDLE Manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE Handle = Manager ? OpenServiceA(Manager, kServiceName, SERVICE_ALL_ACCESS) : nullptr;
  ~Service() {
    if (Handle) CloseServiceHandle(Handle);
    if (Manager) CloseServiceHandle(Manager);
  }
  std::string BinaryPath() const {
    std::vector<uint8_t> buffer(8192);
    DWORD needed;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!Handle || !QueryServiceConfigA(Handle, config, DWORD(buffer.size()), &needed)) return "";
    return config->lpBinaryPathName ? config->lpBinaryPathName : "";
  }
  DWORD State() const {
    SERVICE_STATUS status{};
    return Handle && QueryServiceStatus(Handle, &status) ? status.dwCurrentState : 0;
  }
};

// Wine's kernel cannot impersonate: the driver is told so before it loads.
void SetDriverParameters() {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD no = 0;
  RegSetValueExA(key, "ImpersonateCaller", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&no), sizeof no);
  RegCloseKey(key);
}

// A service an earlier run registered from another folder, whose driver file is gone.
void RegisterStaleService() {
  Service existing;
  ASSERT_EQ(existing.Handle, nullptr) << "a service is left from before";
  const SC_HANDLE created = CreateServiceA(existing.Manager, kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                           SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                           kStalePath, nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(created, nullptr) << GetLastError();
  CloseServiceHandle(created);
}

// Wine cannot delete the file of a driver it has loaded (Windows copies a driver into memory):
// the service is stopped before the exit's delete is looked at.
void StopService() {
  Service service;
  SERVICE_STATUS status;
  ASSERT_TRUE(service.Handle && ControlService(service.Handle, SERVICE_CONTROL_STOP, &status));
  for (int attempt = 0; attempt < 100 && service.State() != SERVICE_STOPPED; ++attempt) Sleep(100);
  ASSERT_EQ(service.State(), DWORD(SERVICE_STOPPED));
}

class DriverStep : public ::testing::Test {
 protected:
  // Whatever an interrupted run left: the service, an installed copy, an extracted file.
  static void SetUpTestSuite() {
    if (Service().Handle) StopAndDeleteDriver();
    DeleteFileA(InstalledDriverPath().c_str());
    DeleteFileA(ExtractedDriverPath().c_str());
  }
  // Wine keeps a loaded driver's file: the installed copy goes once the service is gone.
  static void TearDownTestSuite() {
    StopAndDeleteDriver();
    DeleteFileA(InstalledDriverPath().c_str());
  }
};

TEST_F(DriverStep, WritesTheResourceAndStartsAServiceLeftByAnotherFolder) {
  RegisterStaleService();
  SetDriverParameters();
  ASSERT_FALSE(PathExists(InstalledDriverPath()));
  EXPECT_EQ(DriverResourceId(), kDriverResourceX64);

  const DriverFile driver = PrepareDriver();
  EXPECT_TRUE(driver.Written);
  EXPECT_EQ(driver.Path, PathFolder(ThisProgramPath()) + "vaultdisk.sys");
  EXPECT_EQ(ReadBytes(driver.Path), x64Driver);
  Service service;
  EXPECT_EQ(service.BinaryPath(), driver.Path) << "the service still names the earlier run's file";
  EXPECT_EQ(service.State(), DWORD(SERVICE_RUNNING));
  EXPECT_EQ(QueryDevice(0), DWORD(ERROR_NOT_READY)) << "the driver does not answer";

  StopService();
  RemoveWrittenDriver(driver);
  EXPECT_FALSE(PathExists(driver.Path));
}

// The service registered by the run before is started again; once it runs, a further start
// fails quietly and changes nothing.
TEST_F(DriverStep, LaterRunsFindTheServiceRegistered) {
  ASSERT_EQ(Service().State(), DWORD(SERVICE_STOPPED));
  const DriverFile driver = PrepareDriver();
  EXPECT_TRUE(driver.Written);
  EXPECT_EQ(Service().BinaryPath(), driver.Path);
  EXPECT_EQ(Service().State(), DWORD(SERVICE_RUNNING));
  InstallDriverService(kServiceName, kServiceDisplayName, driver.Path, kServiceDescription);
  EXPECT_EQ(Service().State(), DWORD(SERVICE_RUNNING));
  EXPECT_EQ(QueryDevice(0), DWORD(ERROR_NOT_READY));
  StopService();
  RemoveWrittenDriver(driver);
  EXPECT_FALSE(PathExists(driver.Path));
}

// A driver file someone else holds open cannot be replaced: the kernel is not given it.
TEST_F(DriverStep, AFileThatCannotBeReplacedIsNotStarted) {
  const std::string path = ExtractedDriverPath();
  WriteBytes(path, {'x'});
  const HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const DriverFile driver = PrepareDriver();
  EXPECT_FALSE(driver.Written);
  EXPECT_EQ(Service().State(), DWORD(SERVICE_STOPPED));
  EXPECT_EQ(ReadBytes(path), std::vector<uint8_t>{'x'});
  CloseHandle(held);
  DeleteFileA(path.c_str());
}

TEST_F(DriverStep, AnInstalledCopyIsUsedAndNothingIsWritten) {
  const std::string installed = InstalledDriverPath();
  WriteBytes(installed, x64Driver);
  const DriverFile driver = PrepareDriver();
  EXPECT_FALSE(driver.Written);
  EXPECT_EQ(driver.Path, installed);
  EXPECT_FALSE(PathExists(ExtractedDriverPath()));
  EXPECT_EQ(Service().BinaryPath(), installed);
  RemoveWrittenDriver(driver);
  EXPECT_TRUE(PathExists(installed)) << "an installed copy is not this run's to delete";
  DeleteFileA(installed.c_str());
}

TEST(ExtractedDriverFile, ReplacesAFileLeftThereAndCannotBeReplacedWhileHeld) {
  TestFolder folder("driver-file");
  const std::string path = folder.Path() + "vaultdisk.sys";
  // Left there by someone who may write the folder, open to everyone.
  WriteBytes(path, {'o', 'l', 'd'});
  const std::vector<uint8_t> bytes = {'M', 'Z', 1, 2, 3};
  ExtractedDriverFile file(path, bytes.data(), uint32_t(bytes.size()));
  ASSERT_TRUE(file.Valid());
  EXPECT_EQ(ReadBytes(path), bytes);

  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileA(path.c_str(), (path + ".moved").c_str()));
  EXPECT_EQ(ReadBytes(path), bytes);
  file.Release();
  EXPECT_TRUE(DeleteFileA(path.c_str()));

  ExtractedDriverFile missing(path, nullptr, 0);
  EXPECT_FALSE(missing.Valid());
  EXPECT_FALSE(PathExists(path)) << "no resource, no file";
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    fprintf(stderr, "usage: %s X64-DRIVER.sys [gtest options]\n", argv[0]);
    return 2;
  }
  x64Driver = ReadBytes(argv[1]);
  if (x64Driver.empty()) {
    fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  return RUN_ALL_TESTS();
}
