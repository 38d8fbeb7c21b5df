// One of the driver's devices behind a drive letter. Mount and Unmount go through the program's
// own Win32MountedDrive; the test then keeps a handle on the drive for the
// requests the file system would send. Every call returns the Win32 error (ERROR_SUCCESS when
// it worked).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class VirtualDrive {
 public:
  explicit VirtualDrive(unsigned deviceNumber) : deviceNumber_(deviceNumber) {}
  ~VirtualDrive();
  VirtualDrive(const VirtualDrive&) = delete;
  VirtualDrive& operator=(const VirtualDrive&) = delete;

  // Win32MountedDrive::Mount onto the letter ChooseDriveLetter picks, then opens the drive.
  DWORD Mount(const std::vector<uint8_t>& record);
  // Win32MountedDrive::Unmount. The test's handle stays open, to see the device after the unmount.
  DWORD Unmount();
  // Maps a letter to the device and opens it without mounting anything: only the tests talk
  // to an idle device.
  DWORD OpenIdle();

  // The letter of the last Mount or OpenIdle.
  char Letter() const { return letter_; }
  DWORD Control(DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                DWORD* returned = nullptr);
  // Positioned through OVERLAPPED: Wine cannot move the file pointer of a device handle.
  DWORD ReadAt(uint64_t offset, void* buffer, DWORD length, DWORD* read = nullptr);
  DWORD WriteAt(uint64_t offset, const void* buffer, DWORD length);

 private:
  DWORD OpenLetter();
  void Close();

  unsigned deviceNumber_;
  char letter_ = 0;
  bool mounted_ = false;    // by Mount: the letter is Win32MountedDrive::Unmount's to remove
  bool idleMapped_ = false;  // by OpenIdle: the letter is ours to remove
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// "\Device\Vaultdisk\Vaultdisk<n>".
std::string DeviceName(unsigned deviceNumber);
// The letter's current DOS device target; empty when it has none.
std::string DriveTarget(char letter);
// IOCTL_IMAGE_QUERY's error on the device: ERROR_NOT_READY when nothing is mounted.
DWORD QueryDevice(unsigned deviceNumber);
