// Runs the real vaultdisk.sys as a kernel service (under Wine here) and drives it the way
// Harvesta does. Usage: driver_wine_test DRIVER.sys [gtest options]
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "driver_service.h"
#include "message_sink.h"
#include "shown_messages.h"
#include "virtual_drive.h"

namespace {

// A Unix path from the build is reached through Wine's Z: drive.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

class DriverEnvironment : public ::testing::Environment {
 public:
  explicit DriverEnvironment(std::string driverPath) : driverPath_(std::move(driverPath)) {}

  void SetUp() override {
    const std::string error = InstallAndStartDriver(driverPath_);
    ASSERT_EQ(error, "") << "driver " << driverPath_;
  }

  // Unload: the service stops, and with it every device and the device directory.
  void TearDown() override {
    EXPECT_EQ(StopAndDeleteDriver(), "");
    VirtualDrive drive(0);
    EXPECT_NE(drive.OpenIdle(), DWORD(ERROR_SUCCESS)) << "device 0 still opens after unload";
  }

 private:
  std::string driverPath_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    fprintf(stderr, "usage: %s DRIVER.sys [gtest options]\n", argv[0]);
    return 2;
  }
  SetMessageSink(RecordShownMessage);
  ::testing::AddGlobalTestEnvironment(new DriverEnvironment(WindowsPath(argv[1])));
  return RUN_ALL_TESTS();
}
