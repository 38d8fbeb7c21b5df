// The program's mounted drive: one of the driver's devices behind a drive letter, the mount
// record sent to it, and the undoing of both. Also which letters and devices are already in use.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "mounted_drive.h"

// Device numbers the program can tell apart: the digit that ends the device's name.
constexpr unsigned kMaxVirtualDrives = 10;

class Win32MountedDrive : public MountedDrive {
 public:
  // letter 'A' to 'Z' (others fail with ERROR_INVALID_DRIVE), device 0 to kMaxVirtualDrives - 1.
  Win32MountedDrive(unsigned deviceNumber, char letter) : deviceNumber_(deviceNumber), letter_(letter) {}

  // Maps the letter to the device and mounts the record there. On failure the last error is
  // also set and the letter is as it was. A letter that already opens fails with ERROR_BUSY
  // and is not shown; a device that will not open or a mount the driver refuses is shown to
  // the user (ShowMessage) in the system's words, and failure.UserTold says so.
  int Mount(std::vector<uint8_t> record, MountFailure& failure) override;
  // Unmounts the device behind the letter and removes the letter. -1 when the drive cannot be
  // opened (the letter is then left as it is) or the letter cannot be removed.
  int Unmount() override;
  std::string Root() const override { return {letter_, ':', '\\'}; }

  char Letter() const { return letter_; }

 private:
  int MountRecord(const std::vector<uint8_t>& record, MountFailure& failure);

  unsigned deviceNumber_;
  char letter_;
};

// True when the letter has a DOS device mapping of any kind.
bool DriveLetterMapped(char letter);

// Device numbers of the mounted virtual drives, in drive letter order.
std::vector<unsigned> ListUsedDeviceNumbers();
// 0 to kMaxVirtualDrives - 1 without a mounted virtual drive, ascending.
std::vector<unsigned> ListFreeDeviceNumbers();
