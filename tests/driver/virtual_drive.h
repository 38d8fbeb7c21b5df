// One of the driver's devices behind a free drive letter, opened as Harvesta opens it, with the
// requests the tests send. Every call returns the Win32 error (ERROR_SUCCESS when it worked).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class VirtualDrive {
 public:
  explicit VirtualDrive(unsigned deviceNumber);
  ~VirtualDrive();
  VirtualDrive(const VirtualDrive&) = delete;
  VirtualDrive& operator=(const VirtualDrive&) = delete;

  // ERROR_SUCCESS when the letter was mapped and the drive opened.
  DWORD OpenError() const { return openError_; }
  char Letter() const { return letter_; }

  DWORD Mount(const std::vector<uint8_t>& record);
  DWORD Unmount();
  DWORD Control(DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                DWORD* returned = nullptr);
  // Positioned through OVERLAPPED: Wine cannot move the file pointer of a device handle.
  DWORD ReadAt(uint64_t offset, void* buffer, DWORD length, DWORD* read = nullptr);
  DWORD WriteAt(uint64_t offset, const void* buffer, DWORD length);
  HANDLE Handle() const { return handle_; }

 private:
  char letter_ = 0;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DWORD openError_ = ERROR_SUCCESS;
};

// The first of D to Z with no DOS device mapping, 0 when none is free.
char FreeDriveLetter();
