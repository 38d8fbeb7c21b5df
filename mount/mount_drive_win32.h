// The program's side of a mount: one of the driver's devices behind a drive letter, the mount
// record sent to it, and the undoing of both. Also which devices are already in use.
#pragma once
#include <cstdint>
#include <vector>

// Device numbers the program can tell apart: the digit that ends the device's name.
constexpr unsigned kMaxVirtualDrives = 10;

// Maps letter ('A' to 'Z'; others fail with ERROR_INVALID_DRIVE) to device deviceNumber and
// mounts the record there. 0 on success; -1 with the last error set on failure, after which the
// letter is as it was. A letter that already opens fails with ERROR_BUSY; a device that will not open or a mount the driver refuses is also shown to the
// user (ShowMessage) in the system's words.
int MountImageDrive(unsigned deviceNumber, const uint8_t* record, uint32_t recordSize, char letter);

// Unmounts the device behind letter and removes the letter. -1 when the drive cannot be opened
// (the letter is then left as it is) or the letter cannot be removed.
int UnmountImageDrive(char letter);

// True when the letter has a DOS device mapping of any kind.
bool DriveLetterMapped(char letter);
// The first of D to Z with no mapping; X when all are mapped.
char ChooseDriveLetter();

// Device numbers of the mounted virtual drives, in drive letter order.
std::vector<unsigned> ListUsedDeviceNumbers();
// 0 to kMaxVirtualDrives - 1 without a mounted virtual drive, ascending.
std::vector<unsigned> ListFreeDeviceNumbers();
